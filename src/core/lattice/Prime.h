// Prime: one node of the lattice's prime list (2, 3, 5, ..., 251, ascending),
// with a ready-made star polygon that draws it.
// value: the prime, 2..251. weight: multiples of value in 2..255 (255 / value).
// ycos/xsin: the polygon's points, pixel offsets on a circle of radius value
// around the centre; point 0 straight below it, the rest counter-clockwise on
// screen (y grows downward). Only entries 0..value-1 are meaningful.
#pragma once

#include "engine/Canvas.h"

#include <cmath>

// The star pen carries over from one segment to the next through these two;
// several drawers share them, as they share the one graphics context.
inline int stardus_x = 0;
inline int stardus_y = 0;

class Prime {
public:
    int value;
    int weight;
    int step;           // 256 / value; kept, not read
    int ycos[256];
    int xsin[256];
    // The next larger prime; none after 251. (Named apart from next(), which
    // reads it, because a member function and a field cannot share a name.)
    Prime* nextPrime;
    int nextValue;      // nextPrime's value, or 1 when there is none; kept, not read

    Prime(int value, int weight, Prime* next)
        : value(value), weight(weight), step(256 / value), ycos(), xsin(),
          nextPrime(next), nextValue(next ? next->value : 1) {
        // The polygon uses 3.14159, not full-precision pi: with it the far
        // point of the prime 2 truncates to -1, and the picture depends on that.
        for (int i = 0; i < value && i < 256; i++) {
            double angle = 2 * 3.14159 * i / value;
            ycos[i] = static_cast<int>(std::cos(angle) * value);
            xsin[i] = static_cast<int>(std::sin(angle) * value);
        }
    }
    Prime(const Prime&) = delete;
    Prime& operator=(const Prime&) = delete;

    int getValue() const { return value; }
    int getWeight() const { return weight; }
    Prime* next() const { return nextPrime; }

    // Draws the star with `value` edges centred at (x, y), joining every
    // stride-th point; a stride that is a multiple of the prime draws a point
    // (nothing visible). Returns value.
    int draw(_CHDC dc, int x, int y, Colour colour, int stride) {
        grax_colour(dc, colour);
        stardus_x = x + xsin[0];
        stardus_y = y + ycos[0];
        // The remainder is taken of a non-negative stride so k stays a valid
        // point index whatever stride the caller passes.
        int s = stride % value;
        if (s < 0) s += value;
        int k = 0;
        for (int n = 0; n < value; n++) {
            k = (k + s) % value;
            int tx = x + xsin[k];
            int ty = y + ycos[k];
            grax_line(dc, stardus_x, stardus_y, tx, ty);
            stardus_x = tx;
            stardus_y = ty;
        }
        return value;
    }
};
