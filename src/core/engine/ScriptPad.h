// A played or rendered script's game controller: plain state, no pad
// library. Each `pad NAME VALUE` line sets one control's raw value (sticks
// -32768..32767, triggers 0..32767, buttons 0 or 1, as PadControls.h
// has them); from the first such line on the pad plays, at rest until its
// lines move it, and gives one report before every unit, made from the
// latest values by the same arithmetic as a real pad's (pad_report_bytes).
// The renderer hands it to the input gate as its controllers; the program
// plays it ahead of any real pad.
#pragma once

#include "engine/InputGate.h"
#include "engine/PadControls.h"

class ScriptPad final : public InputGate::Controllers {
public:
    // A value pad_value_ok rejects is ignored: the script reader reports
    // it with its line.
    void padLine(int control, int value) override {
        if (!pad_value_ok(control, value)) return;
        playing = true;
        if (control < kPadAxes) axes[control] = value;
        else buttons[control - kPadA] = value != 0;
    }

    bool plays() const { return playing; }

    bool unitReport(signed char out[8]) override {
        if (!playing) return false;
        pad_report_bytes(axes, buttons, out);
        return true;
    }

private:
    int axes[kPadAxes] = {};
    bool buttons[kPadButtons] = {};
    bool playing = false;
};
