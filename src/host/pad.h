// Game controllers as a second source of controller reports: any pad that
// SDL2's game-controller layer maps (its community mappings give every
// supported pad the same sticks, triggers and face buttons) makes the same
// 8-byte report as the USB hand controller. The host asks for one report
// before every audio unit, built from the pad's latest state, so how fast
// the ratios move does not depend on how often the pad itself sends.
// The offline renderer drives an SDL virtual pad instead, through the very
// same SDL calls and report code.
//
// Built with QUORVANEL_PADS=0 the module is a stub without SDL: no pad
// ever plays (the control names and the report arithmetic stay).
#pragma once

#ifndef QUORVANEL_PADS
#define QUORVANEL_PADS 1
#endif

// The controls a pad report is made from, in SDL's own order (axes as
// SDL_GameControllerAxis, then the face buttons A, B, X, Y).
enum PadControl {
    kPadLeftX, kPadLeftY, kPadRightX, kPadRightY, kPadLeftTrigger, kPadRightTrigger,
    kPadA, kPadB, kPadX, kPadY, kPadControls
};
constexpr int kPadAxes = kPadA;                  // controls 0..5 are axes
constexpr int kPadButtons = kPadControls - kPadA;  // controls 6..9 are buttons

// SDL's names of the controls, as a script writes them: "leftx" ... "y".
extern const char* const pad_control_names[kPadControls];

// The control called `name`, or -1 for a name that is not one of them.
int pad_control_of(const char* name);
// Whether `value` is a raw SDL value of the control: sticks -32768..32767,
// triggers 0..32767, buttons 0 (up) or 1 (down).
bool pad_value_ok(int control, long value);

// Pad units: stick values at or below this magnitude are the dead zone
// (resting sticks drift); past it the remaining 28671 steps map to 1..127.
constexpr int kPadDeadZone = 4096;
constexpr int kPadAxisMax = 32767;

// The report a pad makes from SDL's raw values: axes[kPadLeftX..
// kPadRightTrigger], buttons[0..3] for A, B, X, Y. Bytes 0..3 are the sticks
// (-127..127, up positive), byte 4 right trigger minus left (-127..127),
// bytes 5, 6 zero, byte 7 the voice buttons at bits 0, 2, 4, 6.
void pad_report_bytes(const int axes[kPadAxes], const bool buttons[kPadButtons],
                      signed char out[8]);

// Units between two looks for a newly plugged pad while none plays (about
// half a second at 86 units a second): looking costs a driver poll, which
// every unit would make a visible share of an idle program's CPU time.
constexpr int kPadScanUnits = 43;

// Starts SDL's game-controller subsystem alone (no SDL video, audio or
// signal handlers). real=false: only the script's virtual pad plays and
// real pads are never opened (the offline renderer). When SDL cannot start,
// every call below does nothing and pad_report returns false.
void open_pad(bool real);
// Called before every audio unit the host makes. True when a pad plays;
// `out` then holds its report. Opens a newly plugged pad (looked for every
// kPadScanUnits units while none plays); when the playing pad goes the next
// one takes over at once. Each start and end of a pad's playing is one
// line on standard error. Allocates nothing while a pad stays open.
bool pad_report(signed char out[8]);
// A script's `pad NAME VALUE`: attaches the script's virtual pad at rest on
// first use (it then plays from the next pad_report, ahead of any real pad)
// and sets the control's raw value on it. Values pad_value_ok rejects are
// ignored: the script loader reports them with their line.
void pad_set_virtual(int control, int value);
// Closes the pads and SDL's game-controller subsystem; open_pad may follow.
void pad_close();
