// Game controllers as a second source of controller reports: any pad that
// SDL2's game-controller layer maps (its community mappings give every
// supported pad the same sticks, triggers and face buttons) makes the same
// 8-byte report as the USB hand controller. The host asks for one report
// before every audio unit, built from the pad's latest state, so how fast
// the ratios move does not depend on how often the pad itself sends.
// A played script's pad is no SDL pad: it is plain state in the core
// (engine/ScriptPad.h), turned into its report by the same arithmetic.
//
// Built with QUORVANEL_PADS=0 the module is a stub without SDL: no pad
// ever plays.
#pragma once

#include "engine/PadControls.h"

#ifndef QUORVANEL_PADS
#define QUORVANEL_PADS 1
#endif

// Units between two looks for a newly plugged pad while none plays (about
// half a second at 86 units a second): looking costs a driver poll, which
// every unit would make a visible share of an idle program's CPU time.
constexpr int kPadScanUnits = 43;

// Starts SDL's game-controller subsystem alone (no SDL video, audio or
// signal handlers). When SDL cannot start, every call below does nothing
// and pad_report returns false.
void open_pad();
// Called before every audio unit the host makes. True when a pad plays;
// `out` then holds its report. Opens a newly plugged pad (looked for every
// kPadScanUnits units while none plays); when the playing pad goes the next
// one takes over at once. Each start and end of a pad's playing is one
// line on standard error. Allocates nothing while a pad stays open.
bool pad_report(signed char out[8]);
// Closes the pads and SDL's game-controller subsystem; open_pad may follow.
void pad_close();
