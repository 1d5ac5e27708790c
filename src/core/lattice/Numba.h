// Numba: one of the lattice's 256 numbers, a whole number 1..255 with its
// prime factorisation and four random colours.
// value: 1..255 (entry 0 of the store also holds 1). factors: one Multaple
// per distinct prime, largest prime at the head; none for 1.
// Colours are 8-bit components taken from rand()'s low bits.
#pragma once

#include "standalone/grax.h"
#include "lattice/Multaple.h"

#include <cstdlib>

class Numba {
public:
    int value;
    XColor* numeBrush;   // fill as a numerator
    XColor* denoBrush;   // fill as a denominator
    XColor* dongShard;   // factor-mark pen as a denominator
    XColor* shongShrd;   // factor-mark pen as a numerator
    Multaple* factors;

    Numba() : value(1), factors(nullptr) {
        // Six draws in this exact order: the unseeded generator then gives
        // every run the same colours.
        int r1 = rand(), r2 = rand(), r3 = rand(), r4 = rand(), r5 = rand(), r6 = rand();
        numeBrush = GRAXBRUSHWAND(byte(r1), byte(r3), byte(r5));
        denoBrush = GRAXBRUSHWAND(byte(r2), byte(r4), byte(r6));
        dongShard = GRAXPENWAND(byte(r1), byte(r3), byte(r5), 1);
        shongShrd = GRAXPENWAND(byte(r2), byte(r4), byte(r6), 1);
    }
    // Gives back the colours and the factor chain (the number owns it).
    ~Numba() {
        GRAXBRUSHNIL(numeBrush);
        GRAXBRUSHNIL(denoBrush);
        GRAXPENNIL(dongShard);
        GRAXPENNIL(shongShrd);
        freeFactors();
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
    XColor* getDongShard() const { return dongShard; }
    XColor* getShongShrd() const { return shongShrd; }
    Multaple* getFactors() const { return factors; }
    // The largest prime factor; none for 1.
    Prime* getPrimeHed() const { return factors ? factors->getValence() : nullptr; }

    // The value × value square whose bottom-right corner is (x, y).
    void drawNume(_CHDC, int x, int y) { fill(numeBrush, x - value, y - value); }
    // The value × value square whose top-left corner is (x, y).
    void drawDeno(_CHDC, int x, int y) { fill(denoBrush, x, y); }
    // Factor stars running up-left from (x, y), largest prime first.
    void drawNumeRunes(_CHDC dc, int x, int y, int stride) { runes(dc, x, y, -1, shongShrd, stride); }
    // Factor stars running down-right from (x, y), largest prime first.
    void drawDenoRunes(_CHDC dc, int x, int y, int stride) { runes(dc, x, y, 1, dongShard, stride); }

private:
    static unsigned char byte(int r) { return static_cast<unsigned char>(r & 255); }

    void fill(XColor* c, int x, int y) {
        grax_colour(c->pixel);
        grax_fill(x, y, value, value);
    }
    void runes(_CHDC dc, int x, int y, int dir, XColor* pen, int stride) {
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
