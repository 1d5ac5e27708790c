// quorvanel: a real-time just-intonation synthesizer.
// Start here. main reads the command line, opens the window, the
// controllers and the audio device, builds the one engine, and then loops
// for ever: one window event, due controller callbacks, then every audio
// unit the device has room for, each after the played script's events and
// the game controller's report for it, and a short sleep until one of them
// can have work (src/standalone/grax.cpp). Every input goes through the input
// gate (src/core/engine/InputGate.h), where the recorder listens.
#include "engine/AbstractChubEngine.h"
#include "engine/EventScript.h"
#include "engine/LaceyBanks.h"
#include "engine/InputGate.h"
#include "standalone/ProgramOptions.h"
#include "engine/Recorder.h"
#include "standalone/chub.h"
#include "standalone/grax.h"
#include "standalone/pad.h"
#include "standalone/pcm.h"
#include "standalone/seq.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    ProgramOptions options;
    int status = options.parse(argc, argv);
    if (status != ProgramOptions::kGoOn) return status;
    if (options.latency && !pcm_latency_units(options.latency, pcm_buffer_units)) {
        fprintf(stderr, "quorvanel: --latency %s: not a whole number of milliseconds 23..371\n", options.latency);
        ProgramOptions::usage(stderr);
        return 2;
    }
    // Everything that can be wrong with the files named is found before the
    // window opens.
    EventScript script;
    if (options.play && !script.load(options.play)) {
        fprintf(stderr, "quorvanel: %s: %s\n", options.play, script.message().c_str());
        return 2;
    }
    Recorder recorder;
    if (options.record) {
        if (!recorder.open(options.record)) {
            fprintf(stderr, "quorvanel: cannot create %s: %s\n", options.record, strerror(errno));
            return 2;
        }
        host_input.listen(&recorder);
    }
    char* patch = options.patch ? strdup(options.patch) : nullptr;

    open_grax();
    open_chub();
    PadControllers pads(true);
    open_seq(options.midi);  // MIDI: read in each pass, like the controllers
    open_pcm();
    host_engine(new LaceyBanks());
    host_input.attach(&pads);
    pcm_start();
    if (patch) {
        printf("inputfile %s\n", patch);
        fflush(stdout);  // the program never exits, so its lines must not wait in a buffer
    }
    host_input.loadAtStart(patch, script, options.play, "quorvanel", stderr);
    host_input.play(&script.events);
    pcm_before_unit = [] { host_input.beforeUnit(); };
    pcm_after_unit = [] { host_input.afterUnit(); };

    // Each pass ends in a wait that sleeps until something can have work,
    // instead of spinning a whole core. The wait returns at once when a source
    // still has work (another event queued, room for a unit), so a busy pass
    // is followed by another pass as before; only the pass that would find
    // nothing after a unit is written is saved.
    for (;;) {
        host_pass();
        host_wait();
    }
}
