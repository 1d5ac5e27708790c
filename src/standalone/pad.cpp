#include "standalone/pad.h"

#if QUORVANEL_PADS
#include <SDL.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if QUORVANEL_PADS

namespace {

constexpr const char* kScriptPadName = "quorvanel script pad";
constexpr SDL_GameControllerButton kPadButtonsInSdl[kPadButtons] = {
    SDL_CONTROLLER_BUTTON_A, SDL_CONTROLLER_BUTTON_B, SDL_CONTROLLER_BUTTON_X,
    SDL_CONTROLLER_BUTTON_Y};

bool sdl_up = false;         // the game-controller subsystem started
bool real_pads = false;      // pads on the machine may play (not in a render)
SDL_GameController* playing = nullptr;     // the machine's pad that plays
char playing_name[128] = "";               // its name, kept for the line when it goes
SDL_GameController* script_pad = nullptr;  // the script's virtual pad, once used
SDL_JoystickID script_pad_id = -1;
int units_since_scan = 0;

void say(const char* name, const char* what) {
    fprintf(stderr, "quorvanel: game controller \"%s\" %s\n", name, what);
}

// Opens the first game controller on the machine, other than the script's
// pad, if there is one.
void look_for_pad() {
    SDL_JoystickUpdate();  // the drivers take in pads plugged since the last look
    int count = SDL_NumJoysticks();
    for (int i = 0; i < count && !playing; i++) {
        if (SDL_JoystickGetDeviceInstanceID(i) == script_pad_id || !SDL_IsGameController(i))
            continue;
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

// The script's pad: a virtual game controller with the six axes and four
// face buttons, at rest. SDL's own mapping of a virtual pad reads a trigger
// as a whole axis (raw 0 would read back as half pressed), so the pad gets
// a mapping of its own with half-axis triggers: the raw value a script sets
// is then the value read back. Mappings match a pad's GUID without the name
// checksum (bytes 2 and 3).
bool attach_script_pad() {
    SDL_VirtualJoystickDesc desc;
    SDL_zero(desc);
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    desc.naxes = kPadAxes;
    desc.nbuttons = kPadButtons;
    desc.axis_mask = (1u << kPadAxes) - 1;
    for (SDL_GameControllerButton b : kPadButtonsInSdl) desc.button_mask |= 1u << b;
    desc.name = kScriptPadName;
    int index = SDL_JoystickAttachVirtualEx(&desc);
    if (index < 0) return false;
    SDL_JoystickGUID guid = SDL_JoystickGetDeviceGUID(index);
    guid.data[2] = guid.data[3] = 0;
    char guid_text[33], mapping[256];
    SDL_JoystickGetGUIDString(guid, guid_text, sizeof guid_text);
    snprintf(mapping, sizeof mapping,
             "%s,%s,a:b0,b:b1,x:b2,y:b3,leftx:a0,lefty:a1,rightx:a2,righty:a3,"
             "lefttrigger:+a4,righttrigger:+a5,",
             guid_text, kScriptPadName);
    SDL_GameControllerAddMapping(mapping);
    script_pad_id = SDL_JoystickGetDeviceInstanceID(index);
    script_pad = SDL_GameControllerOpen(index);
    return script_pad != nullptr;
}

}  // namespace

void open_pad(bool real) {
    if (sdl_up) return;
    // SDL would turn Ctrl+C into an event nobody reads; the program must
    // still end on it.
    SDL_SetHintWithPriority(SDL_HINT_NO_SIGNAL_HANDLERS, "1", SDL_HINT_OVERRIDE);
    if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) < 0) return;
    sdl_up = true;
    real_pads = real;
    // Nothing reads SDL's event queue: joystick and controller events
    // (types 0x600..0x6ff) would only pile up in it.
    for (Uint32 type = SDL_JOYAXISMOTION; type < SDL_FINGERDOWN; type++)
        SDL_EventState(type, SDL_IGNORE);
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    units_since_scan = 0;
    if (real_pads) look_for_pad();  // a pad plugged in before start plays from the first unit
}

bool pad_report(signed char out[8]) {
    if (!sdl_up) return false;
    if (script_pad) {
        SDL_GameControllerUpdate();
        read_pad(script_pad, out);
        return true;
    }
    if (!real_pads) return false;
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

void pad_set_virtual(int control, int value) {
    if (!sdl_up || !pad_value_ok(control, value)) return;
    if (!script_pad && !attach_script_pad()) return;
    SDL_Joystick* joystick = SDL_GameControllerGetJoystick(script_pad);
    if (control < kPadAxes)
        SDL_JoystickSetVirtualAxis(joystick, control, static_cast<Sint16>(value));
    else
        SDL_JoystickSetVirtualButton(joystick, control - kPadA, value ? SDL_PRESSED : SDL_RELEASED);
}

// Quitting the subsystem also detaches the script's virtual pad.
void pad_close() {
    if (!sdl_up) return;
    if (playing) SDL_GameControllerClose(playing);
    if (script_pad) SDL_GameControllerClose(script_pad);
    playing = script_pad = nullptr;
    script_pad_id = -1;
    SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
    sdl_up = false;
}

#else  // no pad support: the program and the renderer run as without a pad

void open_pad(bool) {}
bool pad_report(signed char*) { return false; }
void pad_set_virtual(int, int) {}
void pad_close() {}

#endif
