// Test rig: one situation's five components wired the way a situation wires
// them, on the voice tests' shared lattice store.
#pragma once

// gtest first: Xlib defines macros (None, Bool) that clash with its names.
#include <gtest/gtest.h>

#include "sound/RoyalFMoutarde.h"
#include "sound/RoyalMinister.h"
#include "voice/VoiceRig.h"

namespace soundtest {

inline PerspexStabile* store() { return voicetest::lattice(); }

struct Rig : voicetest::Rig {
    RoyalMinister rm{&chink, &ginger, &barre};
    RoyalFMoutarde fm{&ginger, &barre, &rm};

    // One controller report with axes 0..3 set, as the situation routes it.
    void report(int a0, int a1, int a2, int a3) {
        signed char r[8] = {static_cast<signed char>(a0), static_cast<signed char>(a1),
                            static_cast<signed char>(a2), static_cast<signed char>(a3), 0, 0, 0, 0};
        fm.bbarr(r);
        rm.modulate(r);
    }

    // Axes set and settled: a report followed by the end of a period.
    void settle(int a0, int a1, int a2, int a3) {
        report(a0, a1, a2, a3);
        fm.beging();
    }

    // Opens the prime limit to 251, so every number and ratio is admitted.
    void openPrimeLimit() { chink.chink(127); }
};

}  // namespace soundtest
