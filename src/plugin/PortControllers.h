// The plugin's control ports as the input gate's controllers: the four
// axes and byte 4, each an integer -128..127 with 0 at rest. From the first
// change away from rest on they give one report before every unit, built
// from their latest values, as a game controller does; the gate merges it
// with MIDI like any other controller.
#pragma once

#include "engine/InputGate.h"

class PortControllers final : public InputGate::Controllers {
public:
    static constexpr int kControls = 5;  // report bytes 0..4

    void set(int control, signed char value) {
        if (control < 0 || control >= kControls) return;
        values[control] = value;
        if (value != 0) playing = true;
    }

    signed char value(int control) const { return values[control]; }

    bool unitReport(signed char out[8]) override {
        if (!playing) return false;
        for (int c = 0; c < kControls; c++) out[c] = values[c];
        out[5] = out[6] = out[7] = 0;
        return true;
    }

private:
    signed char values[kControls] = {};
    bool playing = false;
};
