// The ratio set of one situation: the four sounding ratios (voices 0..3),
// each a node of the shared lattice chain, the motion that moves them under
// the prime limit, and one integer oscillator per voice.
// Oscillator units: A = (denominator + denoOffset) × 1024 (at least 1024);
// phase stays in -A..+A (a sawtooth folds only at +A, so when the span
// shrinks under it, it climbs back from below -A); one step adds S = (numerator + numeOffset) × step
// size (at least 1). ging returns -1024..+1024 nominally (square wave:
// direction × 1024; otherwise phase / denominator).
// Motion amounts are shifted right by bitshift (0..8 from the keys; a file
// value is used by its low five bits) before they are tried.
// All sound and motion arithmetic is signed 32-bit and wraps.
#pragma once

#include "engine/PatchWords.h"
#include "engine/Canvas.h"
#include "lattice/PerspexStabile.h"
#include "lattice/RatChord.h"
#include "voice/Barre.h"
#include "voice/BoxRect.h"
#include "voice/Chinkwonkanater.h"
#include "voice/Lanes.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <string>

class SponGinger {
public:
    static constexpr int kVoices = 4;
    static constexpr int kUnit = 1024;      // oscillator span per denominator unit
    static constexpr int kBox = 81;         // side of a voice box, pixels
    static constexpr int kAccentSquare = 36;
    static constexpr int kMaxAccentShift = 8;
    static constexpr int kPushFloor = 4;    // axis values up to this do not push
    static constexpr int kDriftShift = 6;   // summed pushes are divided by 64

    SponGinger(Chinkwonkanater* chink, Barre* barre, PerspexStabile* stabile)
        : barre(barre), chink(chink), stabile(stabile) {
        init();
    }

    // A copy for a duplicated situation: the ratios and switches travel,
    // everything that moves starts fresh.
    SponGinger(SponGinger* source, Chinkwonkanater* chink, Barre* barre, PerspexStabile* stabile)
        : barre(barre), chink(chink), stabile(stabile) {
        init();
        for (int v = 0; v < kVoices; v++) rat[v] = source->getRat(v);
        gingzgongz = source->gingzgongz;
        quiznoquantan = source->quiznoquantan;
        bitshift = source->bitshift;
    }

    SponGinger(const SponGinger&) = delete;
    SponGinger& operator=(const SponGinger&) = delete;

    // Voices start at unison with different numbers: 1/1 and the three
    // nodes below it in the chain (2/2, 3/3, 4/4).
    void init() {
        queenDrift[0] = queenDrift[1] = 0;
        kingNumeDrift = kingDenoDrift = 0;
        rat[0] = stabile->getQuadrangularis();
        for (int v = 1; v < kVoices; v++) rat[v] = rat[v - 1]->getPrev();
        for (int v = 0; v < kVoices; v++) {
            phase[v] = 0;
            direction[v] = 1;
            walkCursor[v] = rat[v];
            numeOffset[v] = denoOffset[v] = 0;
            numeBoxes[v] = denoBoxes[v] = BoxRect{0, 0, 0, 0};
            axisLevel[v] = 0;
            laneRat[v] = nullptr;
        }
        gingzgongz = 0;
        quiznoquantan = 0;
        changeAsdfghon(0);
    }

    RatChord* getRat(int voice) { return rat[voice]; }

    // Re-anchors the voice's chain walk at its sounding ratio.
    void durszen(int voice) { walkCursor[voice] = rat[voice]; }

    void changeAsdfghon(int n) { bitshift = n; }
    void ginggong() { gingzgongz = gingzgongz ? 0 : 1; }
    void quixnoquantl() { quiznoquantan = quiznoquantan ? 0 : 1; }

    // The voices' pitch against the square wave's: 1 for the square and
    // the triangle, 2 for the sawtooth (a cycle takes half the triangle's),
    // 0 for the constant level the square switch gives with the sawtooth's.
    int pitchMultiple() const { return !quiznoquantan ? 1 : gingzgongz ? 2 : 0; }

    // Keeps report bytes 0..3 for the box colours.
    void gwonszulate(signed char* report) {
        for (int v = 0; v < kVoices; v++) axisLevel[v] = static_cast<unsigned char>(report[v]);
    }

    // Numerator step: lands on the acceptable number nearest to the pushed-to
    // value on the near side. 1 when the ratio changed.
    int kingalNume(int voice, int n) { return numberStep(voice, n, false); }

    // Denominator step: as kingalNume, but a push below 1 folds as -t.
    int kingalDeno(int voice, int n) { return numberStep(voice, n, true); }

    // Chain step: walks along the chain of all ratios (up for n > 0) and
    // sounds the last acceptable ratio passed. When none was acceptable the
    // walk position still moves on, so a later step continues from there.
    // 0 only when the amount is too small.
    int queenalis(int voice, int n) {
        n = shifted(n);
        if (n == 0 || n == -1) return 0;
        RatChord* start = walkCursor[voice];
        RatChord* w = start;
        if (n > 0) {
            for (int i = 0; i < n; i++) {
                RatChord* s = w->getNext();
                if (!s) break;  // at the chain's end the rest does nothing
                w = s;
                if (chink->checkk(w)) walkCursor[voice] = w;
            }
        } else {
            // -1 already means no motion, so -n walks one link fewer.
            int steps = -(n + 1);
            for (int i = 0; i < steps; i++) {
                RatChord* s = w->getPrev();
                if (!s) break;
                w = s;
                if (chink->checkk(w)) walkCursor[voice] = w;
            }
        }
        if (walkCursor[voice] != start)
            oscirate(voice, walkCursor[voice]);
        else
            walkCursor[voice] = w;
        return 1;
    }

    // The king held alone: axes 0/1 push its numerator up/down, axes 2/3 its
    // denominator. Only values above 4 push.
    void kingSpon(int* axes) {
        if (axes[0] > kPushFloor) kingNumeDrift += axes[0];
        if (axes[1] > kPushFloor) kingNumeDrift -= axes[1];
        if (axes[2] > kPushFloor) kingDenoDrift += axes[2];
        if (axes[3] > kPushFloor) kingDenoDrift -= axes[3];
        int king = barre->getFocius1();
        if (!isVoice(king)) return;
        if (kingalNume(king, kingNumeDrift >> kDriftShift)) kingNumeDrift = 0;
        if (kingalDeno(king, kingDenoDrift >> kDriftShift)) kingDenoDrift = 0;
    }

    // King and queen held: axes 0/1 walk the king along the chain, axes 2/3
    // the queen.
    void queenSpon(int* axes) {
        if (axes[0] > kPushFloor) queenDrift[0] += axes[0];
        if (axes[1] > kPushFloor) queenDrift[0] -= axes[1];
        if (axes[2] > kPushFloor) queenDrift[1] += axes[2];
        if (axes[3] > kPushFloor) queenDrift[1] -= axes[3];
        int king = barre->getFocius1();
        int queen = barre->getFocius2();
        if (!isVoice(king) || !isVoice(queen)) return;
        if (queenalis(king, queenDrift[0] >> kDriftShift)) queenDrift[0] = 0;
        if (queenalis(queen, queenDrift[1] >> kDriftShift)) queenDrift[1] = 0;
    }

    // Makes a ratio sound on a voice. The span grows with the denominator, so
    // the phase is rescaled by new over old denominator to keep the waveform
    // value (phase / denominator) where it was. Denominators are lattice
    // numbers 1..255, so the division is always safe.
    void oscirate(int voice, RatChord* chord) {
        phase[voice] = phase[voice] * chord->getDeno() / rat[voice]->getDeno();
        rat[voice] = chord;
    }

    void oscirate(int voice, int nume, int deno) { oscirate(voice, stabile->getQuid(nume, deno)); }

    // FM offsets for the voice's next ging only.
    void moutardateNume(int voice, int d) { numeOffset[voice] += d; }
    void moutardateDeno(int voice, int d) { denoOffset[voice] += d; }
    // The four voices' offsets at once, lane v for voice v, replacing what
    // they hold: for the FM generator, after stepFrame has taken them up.
    void setOffsets(Lanes nume, Lanes deno) {
        storeLanes(numeOffset, nume);
        storeLanes(denoOffset, deno);
    }

    // One sample of one voice.
    int ging(int voice) {
        int out = step(voice, chink->getStrittle());
        clearOffsets(voice);
        return out;
    }

    // One sample of each voice, 0 to 3 in turn, into out[0..3]: the same as
    // four ging calls. The step size is asked for once: a second asking in
    // the same frame gives the same number, because the floor it may apply
    // to strittle already holds after the first.
    void gingFrame(int* out) {
        stepFrame();
        storeLanes(out, frameSamples());
        setOffsets(Lanes{}, Lanes{});
    }

    // One step of each voice. The offsets are taken up but left as they
    // were: the caller replaces them (setOffsets) before the next frame.
    [[gnu::always_inline]] void stepFrame() {
        int stepSize = chink->getStrittle();
        refreshLanes();
        stepTaken(stepSize, everyLane(quiznoquantan) == 0);
    }

    // A run of frames in which nothing reaches the voices from outside
    // (the frames of one period): what stays fixed through it is taken
    // once, the step size (returned), the ratios and whether the voices
    // are triangles (all ones in `triangle`), and each frame's step is then
    // stepTaken(stepSize, triangle), the same as stepFrame.
    int takeSteps(Lanes& triangle) {
        refreshLanes();
        triangle = everyLane(quiznoquantan) == 0;
        return chink->getStrittle();
    }
    [[gnu::always_inline]] void stepTaken(int stepSize, Lanes triangle) {
        if (!stepLanes(stepSize, triangle))
            for (int v = 0; v < kVoices; v++) step(v, stepSize);
    }

    // Whether the next step takes up no FM offsets: what a pass of steps
    // in closed form (passSteps) starts from.
    bool offsetsClear() const {
        for (int v = 0; v < kVoices; v++)
            if (numeOffset[v] != 0 || denoOffset[v] != 0) return false;
        return true;
    }

    // `steps` steps of every voice with no FM offsets, as that many
    // stepFrame calls would leave the phases and directions, worked out at
    // once. Folding over spans is a walk round a circle: a triangle's phase
    // and direction are one position u on a loop of 2E (rising from -A at
    // 0, falling from +A at E) that each step moves S along; a sawtooth's
    // phase is a position on a loop of E. A sawtooth that still falls (it
    // was a triangle) takes its first step as ever; a voice outside what
    // the loops cover (its phase beyond its span, or a step so large that
    // phase + S would wrap) takes all its steps one by one.
    void passSteps(long long steps) {
        if (steps <= 0) return;
        int stepSize = chink->getStrittle();
        for (int v = 0; v < kVoices; v++) {
            long long n = steps;
            if (quiznoquantan && direction[v] != 1) {
                step(v, stepSize);
                if (--n == 0) continue;
            }
            int A = rat[v]->getDeno() * kUnit;
            if (A < kUnit) A = kUnit;
            int S = rat[v]->getNume() * stepSize;
            if (S <= 0) S = 1;
            int p = phase[v];
            if (p < -A || p > A || S > INT_MAX - A) {
                for (long long k = 0; k < n; k++) step(v, stepSize);
                continue;
            }
            long long a = A, loop = quiznoquantan ? 2 * a : 4 * a;
            long long moved = (n % loop) * S % loop;
            if (quiznoquantan) {
                phase[v] = static_cast<int>((p + a + moved) % loop - a);
                direction[v] = 1;
                continue;
            }
            long long u = (direction[v] == 1 ? p + a : 3 * a - p) + moved;
            u %= loop;
            bool rising = u < 2 * a;
            phase[v] = static_cast<int>(rising ? u - a : 3 * a - u);
            direction[v] = rising ? 1 : -1;
        }
    }

    // The samples the last stepFrame left, lane v for voice v: what ging
    // returns, worked out from the phase and direction a step leaves.
    [[gnu::always_inline]] Lanes frameSamples() {
        if (!gingzgongz) return loadLanes(direction) * kUnit;
        DoubleLanes quotient = toDoubles(loadLanes(phase)) * laneReciprocal;
        return __builtin_convertvector(quotient, Lanes);
    }

    BoxRect* getNumeRect() { return numeBoxes; }
    BoxRect* getDenoRect() { return denoBoxes; }

    // The voice boxes, coloured by the axis byte (numerator) and its mirror
    // (denominator); records where they are for the matrix displays.
    void drawMarylandAnnex(_CHDC chdc, int w, int h, int row) {
        int y = h * row;
        for (int v = 0; v < kVoices; v++) {
            int cx = anchor(w, v);
            numeBoxes[v] = BoxRect{cx, y - kBox, cx + kBox, y};
            fill(chdc, stabile->getMarylandAnnex(axisLevel[v]), numeBoxes[v]);
            denoBoxes[v] = BoxRect{cx - kBox, y, cx, y + kBox};
            fill(chdc, stabile->getMarylandAnnex(255 - axisLevel[v]), denoBoxes[v]);
        }
    }

    // Ratio squares, then the button markers (again after every voice, so
    // they end on top), then the factor stars turned by the selector's axis.
    void draw(_CHDC chdc, int w, int h, int row) {
        int y = h * row;
        int king = barre->getFocius1();
        int queen = barre->getFocius2();
        for (int v = 0; v < kVoices; v++) {
            rat[v]->drawChube(chdc, anchor(w, v), y, 1);
            if (barre->isQueenPresent()) {
                barre->drawKing(chdc, anchor(w, king), y);
                barre->drawQueen(chdc, anchor(w, queen), y);
            } else if (barre->isKingPresent()) {
                barre->drawKing(chdc, anchor(w, king), y);
            }
        }
        for (int v = 0; v < kVoices; v++) rat[v]->drawRunix(chdc, anchor(w, v), y, chink->getOfficio());
    }

    // Sensitivity accents: bars and corner squares 2 × bitshift pixels thick
    // on every box, absent at 0. A file's bitshift outside 0..8 is shown as
    // its low five bits held to at most 8, the largest the keys give.
    void drawCardinalAccent(_CHDC chdc, int w, int h, int row) {
        int s = 2 * accentShift();
        if (s == 0) return;  // every accent would be empty
        grax_colour(chdc, stabile->getCardinalAccent());
        const int a = kAccentSquare;
        for (int v = 0; v < kVoices; v++) {
            BoxRect b = numeBoxes[0];
            b.x1 += w * v;
            b.x2 += w * v;
            // The numerator box, then the same places on the denominator box.
            for (int d = 0; d <= kBox; d += kBox) {
                int x1 = b.x1 - d, y1 = b.y1 + d, x2 = b.x2 - d, y2 = b.y2 + d;
                rect(chdc, x1, y1, a, s);
                rect(chdc, x1, y1 + a - s, a, s);
                rect(chdc, x2 - a, y2 - a, s, s);
                rect(chdc, x2 - a, y2 - s, s, s);
                rect(chdc, x2 - s, y2 - s, s, s);
                rect(chdc, x2 - s, y2 - a, s, s);
            }
        }
    }

    void text(FILE* f) {
        for (int v = 0; v < kVoices; v++)
            fprintf(f, "  rat %d = %d / %d\n", v, rat[v]->getNume(), rat[v]->getDeno());
        fprintf(f, "  bitshift %d\n", bitshift);
        fprintf(f, "  gingzgongz %d\n", gingzgongz);
        fprintf(f, "  quiznoquantan %d\n", quiznoquantan);
    }

    // The k-th consecutive ratio line sets voice k - 1 (the written voice is
    // not read); ratios go through the lattice look-up, so any numbers give a
    // lattice node. Phases and walk positions are left as they are.
    const char* textum(PatchWords& words) {
        const char* w = words.next();
        for (int v = 0; v < kVoices && PatchWords::is(w, "rat", 3); v++) {
            readRatio(words, v);
            w = words.next();
        }
        if (PatchWords::is(w, "bitsh", 5)) {
            if (!words.number(bitshift)) words.missingValue();
            else if (bitshift != (bitshift & 31))
                words.warn(std::to_string(bitshift) + " acts as " + std::to_string(bitshift & 31) +
                           ", its low five bits (0..31)");
            w = words.next();
        }
        if (PatchWords::is(w, "gingz", 5)) {
            if (!words.number(gingzgongz)) words.missingValue();
            w = words.next();
        }
        if (PatchWords::is(w, "quizno", 6)) {
            if (!words.number(quiznoquantan)) words.missingValue();
            w = words.next();
        }
        return w;
    }

    // Fields are open to the situation and the modulation components, which
    // read and set them as the design names them.
    RatChord* rat[kVoices];         // sounding ratio per voice, always a lattice node
    Barre* barre;                   // not owned
    Chinkwonkanater* chink;         // not owned
    PerspexStabile* stabile;        // not owned
    int queenDrift[2];              // summed chain pushes: [0] king voice, [1] queen voice
    int kingNumeDrift;              // summed numerator pushes of the king voice
    int kingDenoDrift;              // summed denominator pushes of the king voice
    int numeOffset[kVoices];        // FM amount added to the numerator for the next ging only
    int denoOffset[kVoices];        // FM amount added to the denominator for the next ging only
    int phase[kVoices];             // oscillator position, -A..+A
    int direction[kVoices];         // +1 rising, -1 falling
    RatChord* walkCursor[kVoices];  // where the next chain step starts
    BoxRect numeBoxes[kVoices];     // numerator boxes as last drawn
    BoxRect denoBoxes[kVoices];     // denominator boxes as last drawn
    unsigned char axisLevel[kVoices];  // report bytes 0..3 as 0..255, for the box colours
    int gingzgongz;                 // 0: square wave from direction; else phase / denominator
    int quiznoquantan;              // 0: triangle; else sawtooth
    int bitshift;                   // motion sensitivity, 0..8 from the keys

private:
    RatChord* laneRat[kVoices];  // the ratios the three lanes below were taken from
    Lanes laneNume;              // numerators of laneRat
    Lanes laneDeno;              // denominators of laneRat, 1..255
    DoubleLanes laneReciprocal;  // reciprocal(denominator) of laneRat

    // The offsets act on one step only.
    void clearOffsets(int voice) { numeOffset[voice] = denoOffset[voice] = 0; }

    // One sample of one voice at the given step size, taking up (but not
    // clearing) the voice's offsets. Whatever offsets
    // arrive, A >= 1024 and E is a non-zero multiple of 2048, so the folds
    // never divide by 0 or -1.
    int step(int voice, int stepSize) {
        RatChord* r = rat[voice];
        int A = (denoOffset[voice] + r->getDeno()) * kUnit;
        if (A < kUnit) A = kUnit;
        int E = 2 * A;
        int S = (numeOffset[voice] + r->getNume()) * stepSize;
        if (S <= 0) S = 1;
        int p = direction[voice] == 1 ? phase[voice] + S : phase[voice] - S;
        int up = p - A;
        int down = -A - p;
        if (quiznoquantan) {
            direction[voice] = 1;
            if (up >= 0) p = up % E - A;
        } else {
            // An overshoot of q whole spans leaves the phase travelling the
            // way the parity of q says, on either side.
            if (up >= 0) {
                if ((up / E) & 1) {
                    direction[voice] = 1;
                    p = up % E - A;
                } else {
                    direction[voice] = -1;
                    p = A - up % E;
                }
            }
            if (down >= 0) {
                if ((down / E) & 1) {
                    direction[voice] = -1;
                    p = A - down % E;
                } else {
                    direction[voice] = 1;
                    p = down % E - A;
                }
            }
        }
        phase[voice] = p;
        return gingzgongz ? p / r->getDeno() : direction[voice] * kUnit;
    }

    // The four steps at once: the same phases and directions as four calls
    // of step (their outputs follow from those, see frameSamples). The
    // overshoot past an edge is split into whole spans and a rest by a
    // division (see spansOf), done in every frame: whether a voice folds in
    // a given frame is a branch a CPU cannot foresee. Returns false, having changed nothing, for the two cases
    // left to step: a span too large for an int (E wraps), and a triangle
    // past both edges at once (only possible when wrapped arithmetic meets
    // a span of over 2^30).
    [[gnu::always_inline]] bool stepLanes(int stepSize, Lanes triangle) {
        Lanes A = (loadLanes(denoOffset) + laneDeno) * kUnit;
        A = largerOf(A, everyLane(kUnit));
        Lanes E = A + A;
        Lanes S = (loadLanes(numeOffset) + laneNume) * stepSize;
        S = largerOf(S, everyLane(1));  // a step of 0 or less becomes 1
        Lanes dir = loadLanes(direction);
        Lanes p = loadLanes(phase);
        p = pick(dir == 1, p + S, p - S);
        Lanes up = p - A;
        Lanes down = -A - p;
        Lanes top = up >= 0;
        // A sawtooth only ever folds at the top.
        Lanes bottom = (down >= 0) & triangle;
        if (anyLane((E <= 0) | (top & bottom))) return false;
        Lanes crossed = top | bottom;
        Lanes over = pick(top, up, down);
        Lanes spans = spansOf(over, E);
        Lanes rest = over - spans * E;
        if (quiznoquantan) {
            p = pick(top, rest - A, p);
            dir = everyLane(1);
        } else {
            // Leaving upward: an odd number of spans past the top, or an
            // even number past the bottom.
            Lanes rising = -(spans & 1) ^ bottom;
            p = pick(crossed, pick(rising, rest - A, A - rest), p);
            dir = pick(crossed, pick(rising, everyLane(1), everyLane(-1)), dir);
        }
        storeLanes(phase, p);
        storeLanes(direction, dir);
        return true;
    }

    // over / E truncated, as the int division gives it, where over >= 0
    // and E > 0 (other lanes get some number, unused). E is 2048 × m with
    // m < 2^20, and whole divisions nest: over / E = (over / 2048) / m.
    // That second division is exact in floats: both terms are below 2^20,
    // so they convert exactly, and the quotient rounds by less than
    // 2^-4 / m, while a quotient that is not whole lies at least 1/m away
    // from every whole number.
    static Lanes spansOf(Lanes over, Lanes E) {
        using FloatLanes = float __attribute__((vector_size(16)));
        FloatLanes q = __builtin_convertvector(over >> 11, FloatLanes) / __builtin_convertvector(E >> 11, FloatLanes);
        return __builtin_convertvector(q, Lanes);
    }

    // Retakes the ratio lanes when a ratio has changed since; rat is open
    // to the situation and to tests, so a change is found by comparing.
    // The pointers are compared as int lanes (equal pointers have equal
    // halves): two vector comparisons instead of a byte comparison.
    void refreshLanes() {
        static_assert(sizeof rat == 2 * sizeof(Lanes), "four pointers fill two int lanes");
        auto half = [](RatChord* const* p, int h) { return loadLanes(reinterpret_cast<const int*>(p) + 4 * h); };
        if (allLanes((half(rat, 0) == half(laneRat, 0)) & (half(rat, 1) == half(laneRat, 1)))) return;
        for (int v = 0; v < kVoices; v++) {
            laneRat[v] = rat[v];
            laneNume[v] = rat[v]->getNume();
            laneDeno[v] = rat[v]->getDeno();
            laneReciprocal[v] = reciprocal(laneDeno[v]);
        }
    }

public:
    // 1/d rounded up (exact when d is a power of two). For any int p and a
    // denominator d of 1..255, p × reciprocal(d) truncates to exactly
    // p / d: the product never falls below the true quotient's size, and
    // stays at least 1/255 − 2^-21 short of the next whole number, far more
    // than the half unit (2^-22 at most) by which rounding could lift it.
    static double reciprocal(int d) {
        double r = 1.0 / d;
        return (d & (d - 1)) == 0 ? r : std::nextafter(r, 2.0);
    }

private:
    static bool isVoice(int v) { return v >= 0 && v < kVoices; }
    static int anchor(int w, int v) { return (w >> 1) + w * v; }

    // The low five bits keep the shift count in range for any stored value.
    int shifted(int n) { return n >> (bitshift & 31); }

    int accentShift() {
        int b = bitshift & 31;
        return b > kMaxAccentShift ? kMaxAccentShift : b;
    }

    // One ratio line, "rat V = N / D", into voice v. The five words are
    // taken by position, as a save writes them; a line with fewer words
    // (such as "rat 2 = 3/2") takes its ratio from the first two numbers
    // written after V, so a short line never reaches into the next one.
    void readRatio(PatchWords& words, int v) {
        const char* voiceWord = words.value();
        int terms[2] = {0, 0};
        int found = 0;
        if (words.left() >= 4) {
            words.skip(1);
            words.number(terms[0]);
            words.skip(1);
            words.number(terms[1]);
            found = 2;
        } else {
            found = words.numbersInLine(terms, 2);
        }
        if (found == 2) rat[v] = stabile->getQuid(terms[0], terms[1]);
        if (!words.warns()) return;
        std::string V = std::to_string(v);
        if (voiceWord && !(PatchWords::plain(voiceWord) && PatchWords::toInt(voiceWord) == v))
            words.warn("ratio lines set voices 0 to 3 in order: this one sets voice " + V + ", not " +
                       (PatchWords::plain(voiceWord) ? voiceWord : PatchWords::quoted(voiceWord)));
        if (found < 2) {
            words.warn(std::string("the line ends before the ") + (found ? "denominator" : "numerator") + "; voice " + V +
                       " keeps " + std::to_string(rat[v]->getNume()) + "/" + std::to_string(rat[v]->getDeno()));
            return;
        }
        int loaded[2] = {rat[v]->getNume(), rat[v]->getDeno()};
        for (int t = 0; t < 2; t++) {
            if (loaded[t] == terms[t]) continue;
            std::string how = terms[t] > 255 && loaded[t] > 1 ? " (less a multiple of 256)" : "";
            words.warn(std::string(t ? "denominator " : "numerator ") + std::to_string(terms[t]) +
                       " is outside 1..255; loaded as " + std::to_string(loaded[t]) + how);
        }
    }

    int numberStep(int voice, int n, bool onDeno) {
        n = shifted(n);
        if (n == 0 || n == -1) return 0;
        RatChord* r = rat[voice];
        int found = onDeno ? nearestAccepted(r->getDeno(), n, 0) : nearestAccepted(r->getNume(), n, 1);
        if (found < 0) return 0;
        if (onDeno)
            oscirate(voice, r->getNume(), found);
        else
            oscirate(voice, found, r->getDeno());
        return 1;
    }

    // The first number from the pushed-to value back toward a (exclusive)
    // that the prime limit admits, or -1. The target is folded into 0..255
    // first: values at or below 0 turn round (fold - t), then wrap mod 256.
    // Worked in 64 bits so even an extreme amount stays in that range, and
    // the search never tries more than 255 numbers.
    int nearestAccepted(int a, int n, int fold) {
        long long t = static_cast<long long>(a) + n;
        if (t <= 0) t = fold - t;
        int target = static_cast<int>(t % 256);
        int dir = target > a ? -1 : 1;
        for (int x = target; x != a; x += dir)
            if (chink->checkk(stabile->getNumba(x))) return x;
        return -1;
    }

    static void fill(_CHDC chdc, Colour c, const BoxRect& b) {
        grax_colour(chdc, c);
        rect(chdc, b.x1, b.y1, b.x2 - b.x1, b.y2 - b.y1);
    }

    static void rect(_CHDC chdc, int x, int y, int w, int h) {
        grax_fill(chdc, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h));
    }
};
