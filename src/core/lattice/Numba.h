// Numba: one of the lattice's 256 numbers, a whole number 1..255 with its
// prime factorisation and four random colours.
// value: 1..255 (entry 0 of the store also holds 1). factors: one Multaple
// per distinct prime, largest prime at the head; none for 1.
// Colours are 8-bit components taken from the low bits of the lattice
// store's colour sequence, six draws per number.
#pragma once

#include "engine/Canvas.h"
#include "lattice/Multaple.h"

#include <cstdlib>

class Numba {
public:
    int value;
    Colour numeBrush = 0;   // fill as a numerator
    Colour denoBrush = 0;   // fill as a denominator
    Colour dongShard = 0;   // factor-mark pen as a denominator
    Colour shongShrd = 0;   // factor-mark pen as a numerator
    Multaple* factors;

    Numba() : value(1), factors(nullptr) {}
    // Gives back the factor chain (the number owns it).
    ~Numba() { freeFactors(); }

    // The colours, from six draws in this exact order (draw: the store's
    // colour sequence, 0..2^31-1).
    template <class Draw>
    void colour(Draw&& draw) {
        int r1 = draw(), r2 = draw(), r3 = draw(), r4 = draw(), r5 = draw(), r6 = draw();
        numeBrush = GRAXBRUSHWAND(byte(r1), byte(r3), byte(r5));
        denoBrush = GRAXBRUSHWAND(byte(r2), byte(r4), byte(r6));
        dongShard = GRAXPENWAND(byte(r1), byte(r3), byte(r5), 1);
        shongShrd = GRAXPENWAND(byte(r2), byte(r4), byte(r6), 1);
    }
    Numba(const Numba&) = delete;
    Numba& operator=(const Numba&) = delete;

    // Takes ownership of the factor chain, dropping any earlier one.
    void setValue(int v, Multaple* f) {
        if (f != factors) freeFactors();
        value = v;
        factors = f;
    }
    int getValue() const { return value; }
    Colour getDongShard() const { return dongShard; }
    Colour getShongShrd() const { return shongShrd; }
    Multaple* getFactors() const { return factors; }
    // The largest prime factor; none for 1.
    Prime* getPrimeHed() const { return factors ? factors->getValence() : nullptr; }

    // The value × value square whose bottom-right corner is (x, y).
    void drawNume(_CHDC dc, int x, int y) { fill(dc, numeBrush, x - value, y - value); }
    // The value × value square whose top-left corner is (x, y).
    void drawDeno(_CHDC dc, int x, int y) { fill(dc, denoBrush, x, y); }
    // Factor stars running up-left from (x, y), largest prime first.
    void drawNumeRunes(_CHDC dc, int x, int y, int stride) { runes(dc, x, y, -1, shongShrd, stride); }
    // Factor stars running down-right from (x, y), largest prime first.
    void drawDenoRunes(_CHDC dc, int x, int y, int stride) { runes(dc, x, y, 1, dongShard, stride); }

private:
    static unsigned char byte(int r) { return static_cast<unsigned char>(r & 255); }

    void fill(_CHDC dc, Colour c, int x, int y) {
        grax_colour(dc, c);
        grax_fill(dc, x, y, static_cast<unsigned>(value), static_cast<unsigned>(value));
    }
    void runes(_CHDC dc, int x, int y, int dir, Colour pen, int stride) {
        int sum = 0;
        for (Multaple* m = factors; m; m = m->next()) sum += m->draw(dc, x + sum, y + sum, dir, pen, stride);
    }
    void freeFactors() {
        while (factors) {
            Multaple* n = factors->next();
            delete factors;
            factors = n;
        }
    }
};
