// Multaple: one factor of a factored number, a prime and its exponent,
// chained to the next (smaller) prime factor.
// count: the exponent, 1 at creation, at most 7 (2^7 = 128 is the largest
// power below 256).
#pragma once

#include "lattice/Prime.h"

class Multaple {
public:
    Prime* valence;
    int count;
    // The next factor; named apart from next(), which reads it.
    Multaple* nextFactor;

    Multaple(Prime* valence, Multaple* next) : valence(valence), count(1), nextFactor(next) {}
    Multaple(const Multaple&) = delete;
    Multaple& operator=(const Multaple&) = delete;

    Prime* getValence() const { return valence; }
    int getCount() const { return count; }
    void increment() { count++; }
    Multaple* next() const { return nextFactor; }

    // Draws the prime's star once per power, stepped along the diagonal by the
    // prime's value: down-right for dir +1, up-left for dir -1. Returns the
    // diagonal distance used, value × count × dir, in pixels.
    int draw(_CHDC dc, int x, int y, int dir, Colour colour, int stride) {
        int unit = valence->getValue() * dir;
        for (int i = 1; i <= count; i++) valence->draw(dc, x + unit * i, y + unit * i, colour, stride);
        return valence->getValue() * count * dir;
    }
};
