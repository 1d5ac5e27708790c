// What a game controller's report is made of, without the library that
// reads pads: the controls' names as scripts write them, their raw ranges,
// and the report arithmetic. The standalone program reads real pads and the
// renderer a virtual one; both turn raw values into the same 8 bytes here.
// Raw values are SDL's: sticks -32768..32767 (y grows downwards), triggers
// 0..32767, buttons 0 (up) or 1 (down). Report bytes: sticks -127..127, up
// positive; byte 4 right trigger minus left, -127..127; byte 7 the voice
// buttons at bits 0, 2, 4, 6.
#pragma once

#include <cstdlib>
#include <cstring>

// The controls a pad report is made from, in SDL's own order (axes as
// SDL_GameControllerAxis, then the face buttons A, B, X, Y).
enum PadControl {
    kPadLeftX, kPadLeftY, kPadRightX, kPadRightY, kPadLeftTrigger, kPadRightTrigger,
    kPadA, kPadB, kPadX, kPadY, kPadControls
};
constexpr int kPadAxes = kPadA;                  // controls 0..5 are axes
constexpr int kPadButtons = kPadControls - kPadA;  // controls 6..9 are buttons

// Stick values at or below this magnitude are the dead zone (resting sticks
// drift); past it the remaining 28671 steps map to 1..127.
constexpr int kPadDeadZone = 4096;
constexpr int kPadAxisMax = 32767;

// The names of the controls, as a script writes them: "leftx" ... "y".
inline constexpr const char* pad_control_names[kPadControls] = {
    "leftx", "lefty", "rightx", "righty", "lefttrigger", "righttrigger", "a", "b", "x", "y"};

// The control called `name`, or -1 for a name that is not one of them.
inline int pad_control_of(const char* name) {
    for (int c = 0; c < kPadControls; c++)
        if (std::strcmp(name, pad_control_names[c]) == 0) return c;
    return -1;
}

// Whether `value` is a raw value of the control.
inline bool pad_value_ok(int control, long value) {
    if (control < 0 || control >= kPadControls) return false;
    if (control >= kPadA) return value == 0 || value == 1;
    long low = control >= kPadLeftTrigger ? 0 : -kPadAxisMax - 1;
    return value >= low && value <= kPadAxisMax;
}

// One stick axis as a report byte: 0 inside the dead zone, then 1..127 with
// the sign of the deflection. -32768 counts as -32767 so both ends reach 127.
inline signed char pad_stick(int v) {
    int m = std::abs(v) < kPadAxisMax ? std::abs(v) : kPadAxisMax;
    if (m <= kPadDeadZone) return 0;
    int level = (m - kPadDeadZone) * 127 / (kPadAxisMax - kPadDeadZone);
    return static_cast<signed char>(v < 0 ? -level : level);
}

// The report a pad makes from its raw values: axes[kPadLeftX..
// kPadRightTrigger], buttons[0..3] for A, B, X, Y. The y axes are turned
// over, since the instrument's grow upwards.
inline void pad_report_bytes(const int axes[kPadAxes], const bool buttons[kPadButtons], signed char out[8]) {
    out[0] = pad_stick(axes[kPadLeftX]);
    out[1] = pad_stick(-axes[kPadLeftY]);
    out[2] = pad_stick(axes[kPadRightX]);
    out[3] = pad_stick(-axes[kPadRightY]);
    out[4] = static_cast<signed char>((axes[kPadRightTrigger] - axes[kPadLeftTrigger]) * 127 / kPadAxisMax);
    out[5] = 0;
    out[6] = 0;
    int bits = 0;
    for (int v = 0; v < kPadButtons; v++)
        if (buttons[v]) bits |= 1 << (2 * v);  // voice v's button is bit 2v of byte 7
    out[7] = static_cast<signed char>(bits);
}
