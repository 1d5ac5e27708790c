#include "standalone/pad.h"

#if QUORVANEL_PADS
#include <SDL.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if QUORVANEL_PADS

namespace {

constexpr SDL_GameControllerButton kPadButtonsInSdl[kPadButtons] = {
    SDL_CONTROLLER_BUTTON_A, SDL_CONTROLLER_BUTTON_B, SDL_CONTROLLER_BUTTON_X,
    SDL_CONTROLLER_BUTTON_Y};

bool sdl_up = false;                    // the game-controller subsystem started
SDL_GameController* playing = nullptr;  // the machine's pad that plays
char playing_name[128] = "";            // its name, kept for the line when it goes
int units_since_scan = 0;

void say(const char* name, const char* what) {
    fprintf(stderr, "quorvanel: game controller \"%s\" %s\n", name, what);
}

// Opens the first game controller on the machine, if there is one.
void look_for_pad() {
    SDL_JoystickUpdate();  // the drivers take in pads plugged since the last look
    int count = SDL_NumJoysticks();
    for (int i = 0; i < count && !playing; i++) {
        if (!SDL_IsGameController(i)) continue;
        playing = SDL_GameControllerOpen(i);
        if (!playing) continue;
        const char* name = SDL_GameControllerName(playing);
        snprintf(playing_name, sizeof playing_name, "%s", name ? name : "");
        say(playing_name, "connected");
    }
}

void read_pad(SDL_GameController* pad, signed char out[8]) {
    int axes[kPadAxes];
    bool buttons[kPadButtons];
    for (int a = 0; a < kPadAxes; a++)
        axes[a] = SDL_GameControllerGetAxis(pad, static_cast<SDL_GameControllerAxis>(a));
    for (int b = 0; b < kPadButtons; b++)
        buttons[b] = SDL_GameControllerGetButton(pad, kPadButtonsInSdl[b]) != 0;
    pad_report_bytes(axes, buttons, out);
}

}  // namespace

void open_pad() {
    if (sdl_up) return;
    // SDL would turn Ctrl+C into an event nobody reads; the program must
    // still end on it.
    SDL_SetHintWithPriority(SDL_HINT_NO_SIGNAL_HANDLERS, "1", SDL_HINT_OVERRIDE);
    if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) < 0) return;
    sdl_up = true;
    // Nothing reads SDL's event queue: joystick and controller events
    // (types 0x600..0x6ff) would only pile up in it.
    for (Uint32 type = SDL_JOYAXISMOTION; type < SDL_FINGERDOWN; type++)
        SDL_EventState(type, SDL_IGNORE);
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    units_since_scan = 0;
    look_for_pad();  // a pad plugged in before start plays from the first unit
}

bool pad_report(signed char out[8]) {
    if (!sdl_up) return false;
    if (playing) {
        SDL_GameControllerUpdate();
        if (!SDL_GameControllerGetAttached(playing)) {
            say(playing_name, "disconnected");
            SDL_GameControllerClose(playing);
            playing = nullptr;
            look_for_pad();  // the next pad, if any, takes over at once
            units_since_scan = 0;
        }
    } else if (++units_since_scan >= kPadScanUnits) {
        units_since_scan = 0;
        look_for_pad();
    }
    if (!playing) return false;
    read_pad(playing, out);
    return true;
}

void pad_close() {
    if (!sdl_up) return;
    if (playing) SDL_GameControllerClose(playing);
    playing = nullptr;
    SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
    sdl_up = false;
}

#else  // no pad support: the program runs as without a pad

void open_pad() {}
bool pad_report(signed char*) { return false; }
void pad_close() {}

#endif
