// quorvanel: a real-time just-intonation synthesizer.
// Start here. main reads the command line, opens the window, the
// controllers and the audio device, builds the one engine, and then loops
// for ever: one window event, due controller callbacks, then every audio
// unit the device has room for, each after the played script's events and
// the game controller's report for it, and a short sleep until one of them
// can have work (src/standalone/grax.cpp), until the window is closed or
// SIGINT or SIGTERM comes. Every input goes through the input gate
// (src/core/engine/InputGate.h), where the recorder listens. With --jack
// (or in a session manager's session, src/standalone/nsm.cpp) the units go
// to a JACK server instead of the ALSA device (src/standalone/jack.cpp).
#include "engine/AbstractChubEngine.h"
#include "engine/EventScript.h"
#include "engine/LaceyBanks.h"
#include "engine/InputGate.h"
#include "standalone/ProgramOptions.h"
#include "engine/PitchOfOne.h"
#include "engine/Recorder.h"
#include "standalone/PlayerControllers.h"
#include "hostkit/SameFile.h"
#include "standalone/chub.h"
#include "standalone/grax.h"
#include "standalone/jack.h"
#include "standalone/nsm.h"
#include "standalone/pad.h"
#include "standalone/pcm.h"
#include "standalone/seq.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A take created for a start that then failed (no display, no sound
// device) is removed again: it would hold nothing but its first line.
const char* unstarted_take = nullptr;

int refuse(const char* what, const char* name, const char* why) {
    fprintf(stderr, "quorvanel: %s%s: %s\n", what, name, why);
    return 2;
}

// The take being recorded, if any. A take carries the bank loaded at start
// alone, so a session's switch, which loads another, ends it.
Recorder* take = nullptr;

// What a JACK client is started with; kept for a session's switch.
struct JackStart {
    double pitch = PitchOfOne::kDefault;
    int bufferUnits = 4;  // 46 ms at the default pitch, as the ALSA device's buffer
    bool connect = true;
    const char* midi = nullptr;
} jack_start_with;

LaceyBanks* engine = nullptr;

// What a session keeps of the instrument, at its open: the whole
// instrument (which every save keeps from then on); `bankToo` is false when
// it holds the session's bank as well, and true when the bank file (if
// any) is still to be loaded: there is no instrument file, or an older
// one. While a take is recorded the bank file alone: a take carries the
// bank loaded at start. False, with the reason, for a file that cannot be
// read.
bool open_session(bool& bankToo, std::string& why) {
    bool recording = take && take->recording();
    NsmRestore r = recording ? NsmRestore::Nothing : nsm_restore(*engine, why);
    if (r == NsmRestore::Unreadable) return false;
    nsm_keep(recording ? nullptr : engine);
    bankToo = r != NsmRestore::Whole;
    return true;
}

// The session manager's switch: the same instrument as another JACK
// client, with what the new session keeps, when it keeps something.
bool switch_session(const char* id, const char* file, std::string& why) {
    jack_close();
    if (!open_jack(id, true, jack_start_with.pitch, jack_start_with.bufferUnits)) {
        why = "no JACK server";
        return false;
    }
    jack_start(jack_start_with.connect, jack_start_with.midi);
    bool bank = access(file, F_OK) == 0;
    if (!bank && !nsm_keeps_instrument()) return true;  // a new session: the instrument goes on as it is
    if (bank) {
        why = InputGate::patchProblem(file);
        if (!why.empty()) return false;
    }
    if (take && take->recording()) {
        fprintf(stderr, "quorvanel: the session's switch ends the recording\n");
        host_input.listen(nullptr);
        take->close();
    }
    bool bankToo = true;
    if (!open_session(bankToo, why)) return false;
    if (bankToo && bank) host_input.loadPatch(file);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    host_catch_signals();
    ProgramOptions options;
    int status = options.parse(argc, argv);
    if (status != ProgramOptions::kGoOn) return status;
    if (options.latency && !pcm_latency_units(options.latency, pcm_buffer_units)) {
        fprintf(stderr, "quorvanel: --latency %s: not a whole number of milliseconds 23..371\n", options.latency);
        ProgramOptions::usage(stderr);
        return 2;
    }
    // A session manager names the JACK client and keeps the patch: the
    // session's patch, once saved, replaces the one named.
    if (nsm_begin(argv[0], switch_session)) {
        options.jack = true;
        options.device = nullptr;
        if (access(nsm_file(), F_OK) == 0) options.patch = nsm_file();
    }
    // Everything that can be wrong with the files named is found before the
    // window opens, and nothing is created before all of it was checked.
    if (options.patch) {
        std::string problem = InputGate::patchProblem(options.patch);
        if (!problem.empty()) {
            fprintf(stderr, "quorvanel: %s\n", problem.c_str());
            nsm_opened(problem.c_str());
            return 2;
        }
    }
    EventScript script;
    if (options.play && !script.load(options.play))
        return refuse("", options.play, script.message().c_str());
    // Keys as notes: their scale and mapping are read, and the pitch a
    // mapping gives is known, before the sound device is asked for a rate.
    KeyScale keyScale;
    bool keys = options.keys.on(script);
    if (keys) {
        std::string problem;
        if (!options.keys.prepare(script, options.play, keyScale, options.pitch, options.pitchGiven, problem, "quorvanel",
                                  stderr)) {
            fprintf(stderr, "quorvanel: %s\n", problem.c_str());
            return 2;
        }
    }
    struct stat folder;
    if (options.saves && (stat(options.saves, &folder) != 0 || !S_ISDIR(folder.st_mode)))
        return refuse("--saves ", options.saves, "not a folder");
    Recorder recorder;
    if (options.record) {
        if (same_file(options.record, options.patch)) return refuse("--record ", options.record, "that is the patch");
        if (same_file(options.record, options.play)) return refuse("--record ", options.record, "that is the script");
        if (access(options.record, F_OK) == 0)
            return refuse("--record ", options.record, "exists already; a take is never written over");
        if (!recorder.open(options.record, true)) {
            fprintf(stderr, "quorvanel: cannot create %s: %s\n", options.record, strerror(errno));
            return 2;
        }
        unstarted_take = options.record;
        atexit([] {
            if (unstarted_take) unlink(unstarted_take);
        });
        host_input.listen(&recorder);
        take = &recorder;
    }
    host_input.savesTo(options.saves);
    char* patch = options.patch ? strdup(options.patch) : nullptr;

    open_grax();
    open_chub();
    open_pad();
    if (options.jack) {
        // The server converts nothing: the program plays at its rate, 1/1
        // at the pitch asked.
        jack_start_with = {options.pitch, options.latency ? pcm_buffer_units : 4, options.connect, options.midi};
        const char* name = nsm_active() ? nsm_client_id() : "quorvanel";
        if (!open_jack(name, nsm_active(), options.pitch, jack_start_with.bufferUnits)) {
            nsm_opened("no JACK server");
            return 1;
        }
    } else {
        open_seq(options.midi);  // MIDI: read in each pass, like the controllers
        rate = PitchOfOne::wholeRate(options.pitch);  // the rate asked: the engine's samples at the pitch of 1/1
        unsigned int asked = rate;
        if (options.device) pcm_device = options.device;
        open_pcm();
        if (rate != asked)
            fprintf(stderr, "quorvanel: the sound device plays %u frames a second, not %u: 1/1 sounds at %.4f Hz\n",
                    rate, asked, PitchOfOne::pitchAt(rate));
    }
    LaceyBanks* banks = new LaceyBanks();
    host_engine(banks);
    engine = banks;
    if (nsm_active()) {
        bool bankToo = true;
        std::string why;
        if (!open_session(bankToo, why)) {
            fprintf(stderr, "quorvanel: %s\n", why.c_str());
            nsm_opened(why.c_str());
            return 2;
        }
        if (!bankToo) {
            free(patch);  // the whole instrument holds the session's bank
            patch = nullptr;
        }
    }
    TunedOut& tuned = options.jack ? jack_tuned_out() : seq_tuned_out();
    tuned.watch(banks);
    tuned.notes.setWay(options.tuningOut, 0);
    tuned.notes.setPitch(options.jack ? options.pitch : PitchOfOne::pitchAt(rate));  // as the device plays it
    host_input.watchUnits(&tuned);
    host_input.attach(&host_controllers);
    // The bank is in place, and the hooks, before the first unit: the ALSA
    // device's start makes it (pcm_start).
    if (keys) host_input.playKeys(&keyScale);  // before the bank, as a recording lists them
    host_input.loadAtStart(patch, script, options.play, "quorvanel", stderr);
    host_input.play(&script.events);
    if (options.jack) pcm_before_unit = [] {
            jack_before_unit();  // the MIDI that came for the unit first, as the sequencer's comes in the pass
            host_input.beforeUnit();
        };
    else pcm_before_unit = [] { host_input.beforeUnit(); };
    pcm_after_unit = [] { host_input.afterUnit(); };
    if (options.jack) {
        jack_start(options.connect, options.midi);
        fprintf(stderr, "quorvanel: JACK client \"%s\" at %u frames a second, %u frames of latency\n", jack_name(),
                jack_rate(), jack_latency());
    } else {
        pcm_start();
    }
    unstarted_take = nullptr;
    if (patch) {
        printf("inputfile %s\n", patch);
        fflush(stdout);  // the program never exits, so its lines must not wait in a buffer
    }
    nsm_opened(nullptr);

    // Each pass ends in a wait that sleeps until something can have work,
    // instead of spinning a whole core. The wait returns at once when a source
    // still has work (another event queued, room for a unit), so a busy pass
    // is followed by another pass as before; only the pass that would find
    // nothing after a unit is written is saved.
    // Under JACK the loop also ends when the server goes away (one line on
    // standard error says so) or a session's switch found none: status 1.
    auto playing = [&options] { return !options.jack || (jack_active() && !jack_lost()); };
    while (host_running() && playing()) {
        host_pass();
        host_wait();
    }
    // Every unit made so far is in the recording (flushed after each);
    // the device plays out what it holds.
    recorder.close();
    bool lost = !playing();
    if (options.jack) jack_close();
    else pcm_closz();
    pad_close();
    seq_close();  // the tuned notes end on the synths connected
    return lost ? 1 : 0;
}
