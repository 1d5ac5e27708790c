// The prime-limit selector of one situation: controller byte 4 is its axis.
// officio: the latest byte 4, -128..127; getOfficio() gives it as 0..255.
// primeLimit: the largest prime a sounding ratio may contain, 2..251.
// stritton: 0..8, how far officio is shifted right before it joins the step
// size (8: the axis has no share). strittle: the base step size, so that
// getStrittle() = (officio >> stritton) + strittle, never negative.
#pragma once

#include "engine/PatchWords.h"
#include "engine/Canvas.h"
#include "lattice/Numba.h"
#include "lattice/PerspexStabile.h"
#include "lattice/Prime.h"
#include "lattice/RatChord.h"
#include "voice/Barre.h"

#include <cstdio>
#include <string>

class Chinkwonkanater {
public:
    static constexpr int kNoAxisShare = 8;  // stritton at which the axis adds nothing

    Chinkwonkanater(PerspexStabile* stabile, Barre* barre) : stabile(stabile), barre(barre) { init(); }

    Chinkwonkanater(Chinkwonkanater* source, PerspexStabile* stabile, Barre* barre)
        : stabile(stabile), barre(barre) {
        init();
        inhibit = source->inhibit;
        stritton = source->stritton;
        strittle = source->strittle;
        primeLimit = source->primeLimit;
    }

    Chinkwonkanater(const Chinkwonkanater&) = delete;
    Chinkwonkanater& operator=(const Chinkwonkanater&) = delete;

    void init() {
        officio = 0;
        pen = GRAXPENWAND(0, 0, 0, 1);
        for (int i = 0; i < 256; i++) {
            Numba* n = stabile->getNumba(i);
            shards[i][0] = n->getDongShard();
            shards[i][1] = n->getShongShrd();
        }
        int a = stabile->drawColour() % 20;
        pens[0] = GRAXPENWAND(245, a, 0, 1);
        pens[1] = GRAXPENWAND(245, 245 - a, 245, 1);
        pens[2] = GRAXPENWAND(245, 255, a, 1);
        pens[3] = GRAXPENWAND(a, a, 0, 1);
        stritton = 0;
        strittle = 128;
        inhibit = 0;
        primeLimit = stabile->getTruth();
        changeStrittle(0);
    }

    // One report's byte 4.
    void chink(signed char b) {
        officio = b;
        if (!inhibit) primeLimit = getPrimeLimit();
    }

    int getOfficio() { return officio + 128; }
    // Sets the axis as a report last left it, choosing no prime limit: a
    // view rebuilt from a patch text takes the limit from the text.
    void seeAxis(signed char b) { officio = b; }

    // The prime the axis points at: each prime holds the axis for as long as
    // its weight, so the common small primes take the widest stretches.
    Prime* getPrimeLimit() {
        int target = 4 * officio + 256;
        Prime* p = stabile->getTruth();
        int acc = p->getWeight();
        while (acc < target) {
            acc += p->getWeight();
            if (p->next()) p = p->next();
        }
        return p;
    }

    // The smallest lattice prime not below v, or the largest one.
    Prime* getPrimeLimit(int v) {
        Prime* p = stabile->getTruth();
        while (p->getValue() < v && p->next()) p = p->next();
        return p;
    }

    // The oscillator step size, never negative: a base that would go below
    // zero is raised so the sum is 0.
    int getStrittle() {
        int base = stritton == kNoAxisShare ? 0 : officio >> stritton;
        if (base + strittle < 0) strittle = -base;
        return base + strittle;
    }

    // Raising the shift first freezes the step size of the moment into the
    // base, so the sound does not jump; lowering it keeps the base.
    void changeStrittle(int s) {
        s = clampStritton(s);
        if (s > stritton) strittle = getStrittle();
        stritton = s;
    }

    void inh() { inhibit = !inhibit; }

    int checkk(Numba* n) {
        if (!n) return 1;
        Prime* head = n->getPrimeHed();
        return !head || primeLimit->getValue() >= head->getValue();
    }

    int checkk(RatChord* r) { return checkk(r->getNumeP()) && checkk(r->getDenoP()); }

    // The prime limit's star on the situation's row line; its shape turns
    // with the axis.
    void drawtittle(_CHDC chdc, int x, int h, int row) {
        if (primeLimit) primeLimit->draw(chdc, x, h * row, pen, getOfficio());
    }

    void text(FILE* f) {
        fprintf(f, "  inhibit %d\n", inhibit);
        fprintf(f, "  primelm %d\n", primeLimit->getValue());
        fprintf(f, "  stritton %d\n", stritton);
        fprintf(f, "  strittle %d\n", strittle);
    }

    // A stritton outside 0..8 can only come from an edited file; it is
    // clamped so the step size never shifts by a negative or too large count.
    const char* textum(PatchWords& words) {
        const char* w = words.next();
        int v = 0;
        if (PatchWords::is(w, "inhib", 5)) {
            if (!words.number(inhibit)) words.missingValue();
            w = words.next();
        }
        if (PatchWords::is(w, "prime", 5)) {
            if (!words.number(v)) words.missingValue();
            else primeLimit = loadedPrime(words, v);
            w = words.next();
        }
        if (PatchWords::is(w, "stritton", 8)) {
            if (!words.number(v)) {
                words.missingValue();
            } else {
                stritton = clampStritton(v);
                if (stritton != v)
                    words.warn(std::to_string(v) + " is outside 0..8; clamped to " + std::to_string(stritton));
            }
            w = words.next();
        }
        if (PatchWords::is(w, "strittle", 8)) {
            if (!words.number(strittle)) words.missingValue();
            w = words.next();
        }
        return w;
    }

    int getStritton() { return stritton; }
    // The step size without the axis's share: what the situation keeps
    // when the axis rests (128 at start; the keys x .. . freeze into it).
    int baseStep() const { return strittle; }
    int getInhibit() { return inhibit; }
    // The prime limit in force (getPrimeLimit() computes the axis's choice).
    Prime* currentPrimeLimit() { return primeLimit; }

private:
    // The prime limit a file's value loads as: the smallest lattice prime
    // not below it, or the largest prime.
    Prime* loadedPrime(PatchWords& words, int v) {
        Prime* p = getPrimeLimit(v);
        int got = p->getValue();
        if (got == v) return p;
        std::string V = std::to_string(v), G = std::to_string(got);
        if (got < v) words.warn(V + " is above " + G + ", the largest prime; loaded as " + G);
        else if (p == stabile->getTruth()) words.warn(V + " is below " + G + ", the smallest prime; loaded as " + G);
        else words.warn(V + " is not a prime; loaded as " + G + ", the next prime above it");
        return p;
    }

    static int clampStritton(int s) { return s < 0 ? 0 : s > kNoAxisShare ? kNoAxisShare : s; }

    int officio;
    PerspexStabile* stabile;
    Barre* barre;  // kept for the situation's wiring; not read here
    Colour pen;
    Colour shards[256][2];  // each number's (dongShard, shongShrd); not drawn with
    Colour pens[4];
    int stritton;
    int strittle;
    int inhibit;
    Prime* primeLimit;
};
