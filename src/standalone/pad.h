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

#include "engine/InputGate.h"
#include "engine/PadControls.h"

#ifndef QUORVANEL_PADS
#define QUORVANEL_PADS 1
#endif

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

// The pads as the input gate's controllers: real pads and a script's
// virtual one (the program), or the script's virtual one alone (the
// renderer). Opens SDL's game-controller subsystem for its lifetime.
class PadControllers final : public InputGate::Controllers {
public:
    explicit PadControllers(bool real) { open_pad(real); }
    ~PadControllers() { pad_close(); }
    PadControllers(const PadControllers&) = delete;
    PadControllers& operator=(const PadControllers&) = delete;

    bool unitReport(signed char out[8]) override { return pad_report(out); }
    void padLine(int control, int value) override { pad_set_virtual(control, value); }
};
