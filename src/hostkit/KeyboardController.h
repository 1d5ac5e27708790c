// The computer keyboard as a controller, so a laptop alone can play: keys
// the instrument has no command for push the sticks and triggers and hold
// the voice buttons, as a game controller does.
//   Right / Left   axis 0 + / -        End / Home            axis 2 + / -
//   Up / Down      axis 1 + / -        Page Up / Page Down   axis 3 + / -
//   F1 .. F4       the voice buttons of voices 0 .. 3
//   F5 / F6        axis 4 - / + (the left and the right trigger)
// A held stick key ramps its axis from 0 by kStickStep a unit to full
// deflection, 127, in 16 units (186 ms): a quick push that still moves the
// ratios step by step. A held trigger key ramps by kTriggerStep, reaching
// 127 in 64 units (0.74 s), slowly enough to stop on a prime limit. A
// released key lets its axis spring back to 0 at once, as a stick does.
// With both keys of an axis held, the one pressed last pushes. Axis values
// -127..127, the report's bytes 0..4.
//
// Plain state, no X calls: the window side hands in key symbols and takes
// out a report state once a unit. A press of a key already held (auto-repeat)
// changes nothing.
#pragma once

#include "engine/ReportMerge.h"

#include <X11/keysym.h>

class KeyboardController {
public:
    static constexpr int kStickStep = 8;    // per unit, axes 0..3
    static constexpr int kTriggerStep = 2;  // per unit, axis 4
    static constexpr int kFull = 127;

    // The controller's key for `sym`, or -1: which axis and direction, or
    // which voice button.
    static int keyOf(unsigned long sym) {
        for (int k = 0; k < kKeys; k++)
            if (kSyms[k] == sym) return k;
        return -1;
    }

    // True when `sym` is one of the controller's keys (then it is no
    // command, whether or not it changed anything).
    bool press(unsigned long sym) {
        int k = keyOf(sym);
        if (k < 0) return false;
        uint32_t bit = 1u << k;
        if (down & bit) return true;  // auto-repeat
        down |= bit;
        playing = true;
        if (k >= kButtonKeys) {
            pressedSince |= bit;
        } else {
            last[k / 2] = k;  // this key now pushes its axis, from 0 or the other way
        }
        return true;
    }

    bool release(unsigned long sym) {
        int k = keyOf(sym);
        if (k < 0) return false;
        down &= ~(1u << k);
        return true;
    }

    // From the first press on the controller plays: one report each unit.
    bool plays() const { return playing; }

    // Once a unit: the ramps take their step and the state goes into
    // `merge` as `source`; an axis counts as moved only when its value
    // changed, so a pad moved meanwhile keeps it.
    void unit(ReportMerge& merge, int source) {
        for (int a = 0; a < ReportMerge::kAxes; a++) {
            // The key that pushed last, or its partner when only that one is
            // still held; none before the axis's first press.
            int k = last[a];
            if (k >= 0 && !(down & (1u << k))) k = (down & (1u << (k ^ 1))) ? (k ^ 1) : -1;
            int target = 0;
            if (k >= 0) {
                int step = a < 4 ? kStickStep : kTriggerStep;
                int sign = (k & 1) ? -1 : 1;
                int magnitude = value[a] * sign + step;
                if (magnitude < step) magnitude = step;  // the other key took over: from 0 its way
                last[a] = k;
                target = sign * (magnitude > kFull ? kFull : magnitude);
            }
            if (target != value[a]) merge.axis(source, a, static_cast<signed char>(target));
            value[a] = target;
        }
        for (int v = 0; v < ReportMerge::kButtons; v++) {
            uint32_t bit = 1u << (kButtonKeys + v);
            if (pressedSince & bit) merge.press(source, v);
            if (!(down & bit)) merge.release(source, v);
        }
        pressedSince = 0;
    }

private:
    // Keys 0..9 in pairs, positive then negative, one pair per axis (F6
    // before F5: the right trigger is the positive one); 10..13 F1..F4.
    static constexpr int kButtonKeys = 10;
    static constexpr int kKeys = 14;
    static constexpr unsigned long kSyms[kKeys] = {
        XK_Right, XK_Left, XK_Up, XK_Down, XK_End, XK_Home, XK_Prior, XK_Next, XK_F6, XK_F5,
        XK_F1, XK_F2, XK_F3, XK_F4};

    uint32_t down = 0;          // keys held, bit k for key k
    uint32_t pressedSince = 0;  // button keys pressed since the last unit
    int last[ReportMerge::kAxes] = {-1, -1, -1, -1, -1};  // the key that pushes each axis
    int value[ReportMerge::kAxes] = {};                    // each axis's value, -127..127
    bool playing = false;
};
