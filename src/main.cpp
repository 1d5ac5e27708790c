// quorvanel: a real-time just-intonation synthesizer.
// Start here. main opens the window, the controller and the audio device,
// builds the one engine, and then loops for ever: one window event, due
// controller callbacks, then every audio unit the device has room for.
#include "engine/AbstractChubEngine.h"
#include "host/chub.h"
#include "host/grax.h"
#include "host/pcm.h"

#include <cstdio>
#include <cstring>

namespace {
// Stand-in until the bank pair exists: silent frames, paints nothing.
class SilentEngine : public AbstractChubEngine {
public:
    void graxness(_CHDC) override {}
    int* gingness(int, int) override { pair[0] = pair[1] = 0; return pair; }
    void beging() override {}
    void chubness(libusb_device_handle*, _CHUBREPORT) override {}
    void charactros(unsigned char) override {}
    void mouseButt(_pointille) override {}
    void textorium_trigger(char*) override {}
    void textorium_script(char*) override {}
    void dupe_chubbery() override {}
    void dupe_multiplex() override {}
private:
    int pair[2] = {0, 0};
};
}  // namespace

int main(int argc, char** argv) {
    char* patch = argc > 1 ? strdup(argv[1]) : nullptr;
    open_grax();
    open_chub();
    open_pcm();
    abstr = new SilentEngine();
    if (patch) {
        printf("inputfile %s\n", patch);
        abstr->textorium_script(patch);
    }
    for (;;) {
        grax_switchloop();
        chub_run();
        pcm_runnus();
    }
}
