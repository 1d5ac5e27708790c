// quorvanel: a real-time just-intonation synthesizer.
// Start here. main opens the window, the controller and the audio device,
// builds the one engine, and then loops for ever: one window event, due
// controller callbacks, then every audio unit the device has room for, and
// a short sleep when a pass found nothing (src/host/grax.cpp).
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
    // A pass that found nothing to do sleeps until something can have work,
    // instead of spinning a whole core.
    for (;;) {
        if (!host_pass()) host_wait();
    }
}
