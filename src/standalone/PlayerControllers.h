// The program's controllers as the input gate sees them: game controllers
// (or, from a played script's first `pad` line on, the script's pad, ahead
// of any real one) and the computer keyboard's controller keys. From the
// moment either plays, one report before every unit; with both playing, the
// two merge: each axis from the one that moved it last, each voice button
// from either. A pad alone gives its own report unchanged. The pads' SDL
// side is opened and closed by the caller (open_pad, pad_close), so one of
// these can be a plain global.
#pragma once

#include "engine/InputGate.h"
#include "engine/ReportMerge.h"
#include "engine/ScriptPad.h"
#include "hostkit/KeyboardController.h"
#include "standalone/pad.h"

class PlayerControllers final : public InputGate::Controllers {
public:
    KeyboardController keys;  // fed by the window's key presses and releases

    bool unitReport(signed char out[8]) override {
        signed char pad[8] = {};
        bool padPlays = script.plays() ? script.unitReport(pad) : pad_report(pad);
        // A pad that stopped playing leaves its axes at rest, not where it
        // last held them.
        if (padPlays || padPlayed) merge.report(kPadSource, pad);
        padPlayed = padPlays;
        if (!keys.plays()) {
            for (int k = 0; k < 8; k++) out[k] = pad[k];
            return padPlays;
        }
        keys.unit(merge, kKeySource);
        merge.take(out);
        return true;
    }
    void padLine(int control, int value) override { script.padLine(control, value); }

private:
    static constexpr int kPadSource = 0, kKeySource = 1;
    ReportMerge merge;
    ScriptPad script;
    bool padPlayed = false;
};
