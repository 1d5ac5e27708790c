// Shared rig for the voice tests: one lattice for the whole program (it is
// large and never changes), and a fresh button state, selector and ratio set
// per test.
#pragma once

#include <gtest/gtest.h>

#include "engine/PatchWords.h"
#include "lattice/PerspexStabile.h"
#include "voice/Barre.h"
#include "voice/Chinkwonkanater.h"
#include "voice/SponGinger.h"

#include <cstdio>
#include <cstdlib>
#include <string>

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

// Puts `text` into a word stream, lets the component read its section
// and returns the word it handed back ("<end>" at the end of the stream).
template <class Component>
std::string load(Component& c, const std::string& text) {
    PatchWords words;
    words.open(text.data(), text.size());
    const char* rest = c.textum(words);
    return rest ? rest : "<end>";
}

// The section the component writes.
template <class Component>
std::string written(Component& c) {
    char* buf = nullptr;
    size_t len = 0;
    FILE* f = open_memstream(&buf, &len);
    c.text(f);
    fclose(f);
    std::string s(buf, len);
    free(buf);
    return s;
}

}  // namespace voicetest
