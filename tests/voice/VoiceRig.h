// Shared rig for the voice tests: one lattice for the whole program (it is
// large and never changes), and a fresh button state, selector and ratio set
// per test.
#pragma once

#include <gtest/gtest.h>

#include "lattice/PerspexStabile.h"
#include "voice/Barre.h"
#include "voice/Chinkwonkanater.h"
#include "voice/SponGinger.h"

namespace voicetest {

inline PerspexStabile* lattice() {
    static PerspexStabile* stabile = new PerspexStabile();
    return stabile;
}

struct Rig {
    Barre barre;
    Chinkwonkanater chink{lattice(), &barre};
    SponGinger ginger{&chink, &barre, lattice()};

    void setRat(int voice, int nume, int deno) { ginger.rat[voice] = lattice()->getQuid(nume, deno); }
    int nume(int voice) { return ginger.getRat(voice)->getNume(); }
    int deno(int voice) { return ginger.getRat(voice)->getDeno(); }
};

}  // namespace voicetest
