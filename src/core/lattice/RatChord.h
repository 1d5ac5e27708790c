// RatChord: one ratio nume/deno of the lattice (both terms 1..255) and one
// node of the doubly linked chain of all ratios, sorted by value.
// next: the neighbour of next larger (or equal) value; prev: next smaller
// (or equal). technicalValue: nume / deno as a float; distinct ratios of terms
// up to 255 differ by far more than a float's precision, so float order is
// exact rational order and equal floats mean equal ratios.
// osc: a cursor value the voices hand along the chain as they walk it.
#pragma once

#include "engine/Canvas.h"
#include "lattice/Numba.h"

class RatChord {
public:
    Numba* nume;
    Numba* deno;
    int denoShifted;   // the constructing denominator × 256; not read
    int numeShifted;   // the constructing numerator × 256; not read
    int osc;
    int unit;          // 1; not read
    RatChord* next;
    RatChord* prev;
    float technicalValue;
    Numba* numbers;    // base of the store's 256 numbers

    RatChord(int n, int d, Numba* numbers)
        : nume(nullptr), deno(nullptr), denoShifted(d * 256), numeShifted(n * 256), osc(0), unit(1),
          next(nullptr), prev(nullptr), technicalValue(0), numbers(numbers) {
        setNume(n);
        setDeno(d);
        technicalValue = valueOf(nume->getValue(), deno->getValue());
    }

    // The technical value of n/d, as every node holds it.
    static float valueOf(int n, int d) { return static_cast<float>(static_cast<long double>(n) / d); }
    RatChord(const RatChord&) = delete;
    RatChord& operator=(const RatChord&) = delete;

    // Any int selects one of the 256 numbers: the index is taken modulo 256
    // into 0..255, so a negative term can never reach outside the table.
    void setNume(int a) { nume = numbers + (a & 255); }
    void setDeno(int a) { deno = numbers + (a & 255); }
    int getNume() const { return nume->getValue(); }
    int getDeno() const { return deno->getValue(); }
    Numba* getNumeP() const { return nume; }
    Numba* getDenoP() const { return deno; }
    float getTechnicalValue() const { return technicalValue; }

    void setNext(RatChord* c) { next = c; }
    void setPrev(RatChord* c) { prev = c; }
    void setOsc(int o) { osc = o; }
    int getOsc() const { return osc; }

    // The next larger ratio, which takes over this node's osc; none at the top.
    RatChord* getNext() {
        if (next) next->osc = osc;
        return next;
    }
    // The next smaller ratio, which takes over this node's osc; none at the bottom.
    RatChord* getPrev() {
        if (prev) prev->osc = osc;
        return prev;
    }

    // Links c in somewhere below this node: below every node of equal value
    // it passes. A c larger than this node is left unlinked.
    void insert(RatChord* c) {
        if (!c || c->technicalValue > technicalValue) return;
        RatChord* at = this;
        while (at->prev && at->prev->technicalValue >= c->technicalValue) at = at->prev;
        if (at->prev) {
            c->prev = at->prev;
            at->prev->next = c;
        }
        at->prev = c;
        c->next = at;
    }
    // Links c in somewhere above this node: above every node of equal value
    // it passes. A c smaller than this node is left unlinked.
    void ouster(RatChord* c) {
        if (!c || c->technicalValue < technicalValue) return;
        RatChord* at = this;
        while (at->next && at->next->technicalValue <= c->technicalValue) at = at->next;
        if (at->next) {
            c->next = at->next;
            at->next->prev = c;
        }
        at->next = c;
        c->prev = at;
    }

    // The numerator's square up-left of (x, y), the denominator's down-right.
    void drawChube(_CHDC dc, int x, int y, int) {
        nume->drawNume(dc, x, y);
        deno->drawDeno(dc, x, y);
    }
    // Both numbers' factor stars from (x, y), numerator up-left, denominator down-right.
    void drawRunix(_CHDC dc, int x, int y, int stride) {
        nume->drawNumeRunes(dc, x, y, stride);
        deno->drawDenoRunes(dc, x, y, stride);
    }
};
