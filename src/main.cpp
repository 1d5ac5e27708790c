// quorvanel: a real-time just-intonation synthesizer.
// Start here. main opens the window, the controller and the audio device,
// builds the one engine, and then loops for ever: one window event, due
// controller callbacks, then every audio unit the device has room for, and
// a short sleep until one of them can have work (src/host/grax.cpp).
#include "engine/AbstractChubEngine.h"
#include "engine/LaceyBanks.h"
#include "host/chub.h"
#include "host/grax.h"
#include "host/pcm.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    char* patch = argc > 1 ? strdup(argv[1]) : nullptr;
    open_grax();
    open_chub();
    open_pcm();
    abstr = new LaceyBanks();
    if (patch) {
        printf("inputfile %s\n", patch);
        fflush(stdout);  // the program never exits, so its lines must not wait in a buffer
        abstr->textorium_script(patch);
    }
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
