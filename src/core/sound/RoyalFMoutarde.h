// RoyalFMoutarde: the FM generator of one situation. Each audio frame it
// steps the ratio set's four oscillators, mixes them into one (left, right)
// pair by the controller's axes (or, with voice buttons held, by the sum of
// the axes), and feeds each voice's output, weighted by its axis level, into
// the numerators (`numals`) and denominators (`denals`) of the voices.
// Matrices are indexed [target voice i][column c], column c standing for
// source voice (i + c) mod 4; only the sign of an entry counts.
//
// Numbers (all signed 32-bit, wrapping):
//   axis: report bytes 0..3, -128..127; axisSum: -512..508;
//   level L: the axis ramped linearly over the period after a report,
//     last + (now - last) × frame / frames, truncated toward zero;
//   key level K: the velocity 1..127 of the note a voice plays while keys
//     play notes (0 when none), ramped the same way after it changes; it
//     sounds on both channels, apart from the axis's level and added to it
//     for the FM (L + K then stands for L below);
//   mix level: L outside a dead zone of ±3, moved 3 toward 0: -125..124
//     for one axis, -509..505 for the axis sum in focus mode;
//   voiceOut: oscillator output, ±1024 for square waves, phase / denominator
//     (about ±1024) for triangle and sawtooth;
//   modPositive/modNegative: voiceOut × L, split by the sign of L;
//   modulation amount: that product >> (bitshift + 10); bitshift 0..8 from
//     the keys (0 deepest), any int from a patch file (see getModShift);
//   outLeft/outRight: engine units (the host divides by 16), never clipped
//     here: 512000 at most per channel in free mode with square waves and
//     no key; a key adds at most 127 × 1024 of its voice to each channel.
#pragma once

#include "sound/RoyalMinister.h"
#include "voice/Lanes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

class RoyalFMoutarde {
public:
    // One voice's frame product voiceOut × L: in modPositive when L >= 0,
    // in modNegative when L < 0; the other of the pair is 0.
    struct ModPair {
        int modPositive;
        int modNegative;
    };

    int axis[4];
    int axisSum;
    int axisSumLast;
    int axisLast[4];
    ModPair mods[4];
    int out[2];  // outLeft, outRight: what gingModulate returns
    int voiceOut[4];
    int keyLevel[4];      // K per voice, 0..127: the note it plays, or 0
    int keyLevelLast[4];  // where K's ramp starts this period
    bool keyed;           // some K or its ramp's start is not 0: the keys take part in the frame
    SponGinger* ginger;
    Barre* barre;
    RoyalMinister* minister;
    Colour brush;
    BoxRect* numeBoxes;
    BoxRect* denoBoxes;
    BoxRect numePlusMarks[4][4];
    BoxRect numeMinusMarks[4][4];
    BoxRect denoMinusMarks[4][4];
    BoxRect denoPlusMarks[4][4];
    BoxRect innerRect;
    int inhibit;

    static constexpr int kPeriod = 256;  // frames per audio period, as the host plays them
    // The depths a bitshift acts as: the shift count bitshift + 10 stays in 0..31.
    static constexpr int kLeastShift = -10, kMostShift = 21;

    RoyalFMoutarde(SponGinger* ginger, Barre* barre, RoyalMinister* minister)
        : ginger(ginger), barre(barre), minister(minister), inhibit(1) {
        init();
    }

    // Copy for a duplicated situation: the settings travel, the axes start at 0.
    RoyalFMoutarde(RoyalFMoutarde* source, SponGinger* ginger, Barre* barre, RoyalMinister* minister)
        : ginger(ginger), barre(barre), minister(minister), inhibit(1) {
        init();
        inhibit = source->inhibit;
        bitshift = source->bitshift;
        for (int i = 0; i < 4; i++)
            for (int c = 0; c < 4; c++) {
                numals[i][c] = source->numals[i][c];
                denals[i][c] = source->denals[i][c];
            }
        reroute();
    }


    RoyalFMoutarde(const RoyalFMoutarde&) = delete;
    RoyalFMoutarde& operator=(const RoyalFMoutarde&) = delete;

    void init() {
        axisSum = 0;
        for (int i = 0; i < 4; i++) {
            axis[i] = 0;
            mods[i] = ModPair{0, 0};
            voiceOut[i] = 0;
            keyLevel[i] = keyLevelLast[i] = 0;
            for (int c = 0; c < 4; c++) {
                numals[i][c] = denals[i][c] = 0;
                numePlusMarks[i][c] = numeMinusMarks[i][c] = BoxRect{0, 0, 0, 0};
                denoMinusMarks[i][c] = denoPlusMarks[i][c] = BoxRect{0, 0, 0, 0};
            }
        }
        out[0] = out[1] = 0;
        keyed = false;
        innerRect = BoxRect{0, 0, 0, 0};
        numeBoxes = denoBoxes = nullptr;
        brush = GRAXBRUSHWAND(120, 120, 125);
        bitshift = 0;
        reroute();
        beging();
    }

    // One controller report (bytes 0..3). With voice buttons held the axes
    // also push the focus voices' ratios directly.
    void bbarr(signed char* report) {
        axisSum = 0;
        for (int k = 0; k < 4; k++) {
            axis[k] = report[k];
            axisSum += axis[k];
        }
        if (barre->isQueenPresent()) ginger->queenSpon(axis);
        else if (barre->isKingPresent()) ginger->kingSpon(axis);
    }

    // End of an audio period: the current axes become the start of the next
    // ramp, so a report's change is spread over exactly one period.
    void beging() {
        axisSumLast = axisSum;
        for (int k = 0; k < 4; k++) axisLast[k] = axis[k];
        if (!keyed) return;
        keyed = false;
        for (int k = 0; k < 4; k++) {
            keyLevelLast[k] = keyLevel[k];
            keyed = keyed || keyLevel[k] != 0;
        }
    }

    // A key's note on `voice` (0..3) at `level`, its velocity 1..127, or
    // its end (0): the level ramps there over the period, as an axis's does.
    void setKeyLevel(int voice, int level) {
        keyLevel[voice & 3] = level;
        keyed = true;
    }

    // One audio frame, `frame` of `frames` (0..255 of 256 from the host).
    // Returns {outLeft, outRight}, valid until the next call.
    int* gingModulate(int frame, int frames) {
        ginger->stepFrame();
        return modulateAndMix(ginger->frameSamples(), frame, frames);
    }

    // The frame after the oscillators' step, from their samples: voiceOut,
    // the levels, the modulation and the mix. A bank runs the step and this
    // in two passes over all its situations (see the bank's frame).
    int* modulateAndMix(Lanes samples, int frame, int frames) {
        // A period must have frames; a non-positive count would divide by
        // zero (or INT_MIN by -1), so it is taken as settled at the axes.
        if (frames <= 0) frame = frames = 1;
        return modulateAndMixAt(samples, ramp(loadLanes(axis), loadLanes(axisLast), frame, frames), frame, frames);
    }

    // The same for a frame of a period of kPeriod frames with no report
    // in it, the ramp's start and rise taken once for the period
    // (takeRamp) and the frame given in every lane.
    void takeRamp(Lanes& from, Lanes& rise) const {
        from = loadLanes(axisLast);
        rise = loadLanes(axis) - from;
    }
    int* modulateAndMixIn(Lanes samples, Lanes from, Lanes rise, Lanes frameLanes, int frame) {
        return modulateAndMixAt(samples, from + rise * frameLanes / kPeriod, frame, kPeriod);
    }

    // The level `voice` (0..3) is mixed at once the period's ramp has
    // reached the latest report: -509..505, 0 while it is silent (in the
    // dead zone, or not a focus voice while one is held). Negative: the
    // right channel. A key's note makes it positive, the note's level and
    // the axis's size together (both channels): 1..636.
    int settledLevel(int voice) {
        int key = keyLevel[voice & 3];
        int axisLevel = settledAxisLevel(voice);
        return key ? key + std::abs(axisLevel) : axisLevel;
    }

    // Whether every frame of the period now starting mixes to (0, 0) and
    // leaves no FM offsets for the next: the levels the mix uses stay in
    // the dead zone all through the ramp (the summed axes for the focus
    // voices while a king is held, else each voice's axis), and no voice
    // modulates another (the generator is off, or each source's level is 0
    // at both ends of the ramp, or no cell routes from it). A level inside
    // the dead zone still modulates: it is silent, but not still.
    bool quietPeriod() const {
        if (keyed) return false;  // a note, or the ramp down of one just ended
        auto silent = [](int now, int last) { return deadZone(now) == 0 && deadZone(last) == 0; };
        if (barre->isKingPresent()) {
            if (!silent(axisSum, axisSumLast)) return false;
        } else {
            for (int v = 0; v < 4; v++)
                if (!silent(axis[v], axisLast[v])) return false;
        }
        if (inhibit) return true;
        for (int s = 0; s < 4; s++)
            if ((axis[s] != 0 || axisLast[s] != 0) && routesFrom(s)) return false;
        return true;
    }

    // Key 'q': switches the modulation (and the display and mouse) on or off.
    void charactros() { inhibit = inhibit ? 0 : 1; }

    // Keys 'w'..'p' give 0..8. Stored as given; the shift count derived
    // from it is kept in range (modShift).
    void setBitshift(int b) {
        bitshift = b;
        reroute();
    }
    int getBitshift() const { return bitshift; }

    int getNumal(int i, int c) const { return numals[i][c]; }
    int getDenal(int i, int c) const { return denals[i][c]; }
    void setNumal(int i, int c, int v) {
        numals[i][c] = v;
        reroute();
    }
    void setDenal(int i, int c, int v) {
        denals[i][c] = v;
        reroute();
    }

    void text(FILE* f) {
        fprintf(f, "  inhibit %d\n", inhibit);
        routing::writeRows(f, "numals", numals, "denals", denals);
        fprintf(f, "  bitshift %d\n", bitshift);
    }

    const char* textum(PatchWords& words) {
        const char* word = routing::readInhibit(words, words.next(), inhibit);
        word = routing::readRows(words, word, "numals", numals, "denals", denals);
        if (PatchWords::is(word, "bitsh", 5)) {
            if (!words.number(bitshift)) words.missingValue();
            else if (bitshift != std::clamp(bitshift, kLeastShift, kMostShift))
                words.warn(std::to_string(bitshift) + " acts as " + std::to_string(std::clamp(bitshift, kLeastShift, kMostShift)) +
                           " (the depth is held to " + std::to_string(kLeastShift) + ".." + std::to_string(kMostShift) + ")");
            word = words.next();
        }
        reroute();
        return word;
    }

    // Paints the numals/denals marks: in each box's bottom-left corner (the
    // positive cells) and top-right corner (the negative cells) four squares
    // of sides 36, 27, 18, 9 sharing the corner, largest first. Each square
    // is filled in its source voice's colour when its cell is set, then
    // covered in grey except for an L-band of thickness 9 - bitshift along
    // its two inner sides. Records each square for the mouse.
    void draw(_CHDC chdc, int w, int h, int row) {
        if (inhibit) return;
        numeBoxes = ginger->getNumeRect();
        denoBoxes = ginger->getDenoRect();
        int t = bandThickness();
        for (int i = 0; i < 4; i++)
            for (int j = 0; j < 4; j++) {
                int c = 3 - j;
                int e = 9 * (c + 1);
                Colour source = barre->getMarylandFlag((i + c) & 3);
                const BoxRect& n = numeBoxes[i];
                const BoxRect& d = denoBoxes[i];
                paintMark(chdc, numePlusMarks[i][c], bottomLeft(n, e, 0), bottomLeft(n, e, t), numals[i][c] > 0, source);
                paintMark(chdc, numeMinusMarks[i][c], topRight(n, e, 0), topRight(n, e, t), numals[i][c] < 0, source);
                paintMark(chdc, denoPlusMarks[i][c], bottomLeft(d, e, 0), bottomLeft(d, e, t), denals[i][c] > 0, source);
                paintMark(chdc, denoMinusMarks[i][c], topRight(d, e, 0), topRight(d, e, t), denals[i][c] < 0, source);
            }
    }

    // A mouse press: switches the cell of the smallest square that holds
    // the point and returns 1; 0 when none does or the component is off.
    int lippingMoutarde(_pointille p) {
        if (inhibit) return 0;
        for (int i = 0; i < 4; i++)
            for (int c = 0; c < 4; c++) {
                int* cell = nullptr;
                bool plus = false;
                if (routing::strictlyInside(numePlusMarks[i][c], p)) cell = &numals[i][c], plus = true;
                else if (routing::strictlyInside(numeMinusMarks[i][c], p)) cell = &numals[i][c];
                else if (routing::strictlyInside(denoMinusMarks[i][c], p)) cell = &denals[i][c];
                else if (routing::strictlyInside(denoPlusMarks[i][c], p)) cell = &denals[i][c], plus = true;
                if (!cell) continue;
                if (plus) routing::clickPlus(*cell);
                else routing::clickMinus(*cell);
                reroute();
                return 1;
            }
        return 0;
    }

    // Band thickness of the marks, 9 - bitshift. A patch file can bring a
    // bitshift outside 0..9; the thickness is then held to 0..9 so no fill
    // ever gets a negative width or height.
    int bandThickness() const { return 9 - std::clamp(bitshift, 0, 9); }

    // The shift applied to the modulation products, bitshift + 10. The keys
    // give 10..18; a patch-file bitshift is held to -10..21 first so the
    // count stays a legal 0..31 (and bitshift + 10 cannot wrap).
    int getModShift() const { return modShift; }

private:
    int bitshift;
    int numals[4][4];

    int denals[4][4];
    int modShift;
    // The matrices as masks, for each pattern of the levels' signs (bit s
    // set when source s's level is below 0), [pattern][source s]: lane i
    // (numerator) and lane 4 + i (denominator) are all ones where row i's
    // cell for source s reads the part of the source's pair that its
    // level's sign fills (a positive cell reads modPositive, a negative one
    // modNegative). Rebuilt whenever a matrix changes, so a frame needs no
    // branches and one masked sum per source for both matrices instead of
    // a call per cell (the offsets only add, so the sum is the same number
    // the cell-by-cell calls would leave).
    WideLanes routeMasks[16][4];

    // The frame from the voices' samples and the levels: voiceOut, the
    // products, the modulation for the next frame and the mix.
    [[gnu::always_inline]] int* modulateAndMixAt(Lanes samples, Lanes level, int frame, int frames) {
        storeLanes(voiceOut, samples);
        // Without keys the frame is the axes' alone: a path of its own, as
        // short as it was before keys.
        if (!keyed) {
            modulate(samples, level);
            mix(samples, level, frame, frames);
            return out;
        }
        Lanes keys = ramp(loadLanes(keyLevel), loadLanes(keyLevelLast), frame, frames);
        modulate(samples, level + keys);
        mix(samples, level, frame, frames);
        Lanes heard = keys * samples;
        int both = heard[0] + heard[1] + heard[2] + heard[3];
        out[0] += both;
        out[1] += both;
        return out;
    }

    // Whether any cell of either matrix takes voice `s` as its source.
    bool routesFrom(int s) const {
        for (int i = 0; i < 4; i++)
            if (numals[i][(s - i) & 3] != 0 || denals[i][(s - i) & 3] != 0) return true;
        return false;
    }

    // Brings the state derived from the matrices and bitshift up to date;
    // called wherever they change (setters, mouse, loading, copying).
    void reroute() {
        modShift = std::clamp(bitshift, kLeastShift, kMostShift) + 10;
        for (int signs = 0; signs < 16; signs++)
            for (int i = 0; i < 4; i++)
                for (int c = 0; c < 4; c++) {
                    int s = (i + c) & 3;
                    bool below = (signs >> s) & 1;
                    routeMasks[signs][s][i] = (below ? numals[i][c] < 0 : numals[i][c] > 0) ? -1 : 0;
                    routeMasks[signs][s][4 + i] = (below ? denals[i][c] < 0 : denals[i][c] > 0) ? -1 : 0;
                }
    }

    // The frame's products and the modulation they make, at the levels
    // `driven` (the axes', with the keys' added while they play).
    [[gnu::always_inline]] void modulate(Lanes samples, Lanes driven) {
        Lanes product = samples * driven;
        Lanes negative = driven >> 31;  // all ones where the level is below 0
        Lanes positivePart = product & ~negative, negativePart = product & negative;
        for (int v = 0; v < 4; v++) mods[v] = ModPair{positivePart[v], negativePart[v]};
        // The step has taken up the offsets; the next frame's are this
        // frame's modulation, or none while it is off.
        Lanes nume{}, deno{};
        if (!inhibit) modulation(driven, product, nume, deno);
        ginger->setOffsets(nume, deno);
    }

    // Each voice's share of the sources' products, shifted by the depth
    // (arithmetically, so a negative signal stays at least -1), summed per
    // target voice into its numerator and denominator offsets. Of a
    // source's pair only the part its level's sign fills can be non-zero,
    // and that part is the product, so the product is what the masks pass
    // on.
    void modulation(Lanes level, Lanes product, Lanes& nume, Lanes& deno) {
        Lanes amount = product >> modShift;
        const WideLanes* masks = routeMasks[signBits(level)];
        WideLanes sums = (wideLane<0>(amount) & masks[0]) + (wideLane<1>(amount) & masks[1]) +
                         (wideLane<2>(amount) & masks[2]) + (wideLane<3>(amount) & masks[3]);
        nume = lowLanes(sums);
        deno = highLanes(sums);
    }

    // Linear ramp from `last` at frame 0 towards `now`, for one level (int)
    // or the four voices' (Lanes); the product is taken first and the
    // division truncates toward zero. frames > 0. The host's period length
    // is told apart so that its division is by a constant.
    template <class T>
    static T ramp(T now, T last, int frame, int frames) {
        T x = (now - last) * frame;
        return last + (frames == kPeriod ? x / kPeriod : x / frames);
    }

    // The axes' share of settledLevel.
    int settledAxisLevel(int voice) {
        if (!barre->isKingPresent()) return deadZone(axis[voice & 3]);
        bool focus = voice == (barre->getFocius1() & 3) ||
                     (barre->isQueenPresent() && voice == (barre->getFocius2() & 3));
        return focus ? deadZone(axisSum) : 0;
    }

    // Silences levels within ±3 and moves the others 3 toward zero.
    static constexpr int kDeadZone = 3;
    static int deadZone(int x) { return x - std::clamp(x, -kDeadZone, kDeadZone); }
    static Lanes deadZone(Lanes x) {
        return x - smallerOf(largerOf(x, everyLane(-kDeadZone)), everyLane(kDeadZone));
    }

    // Adds one voice at mix level g: left when g >= 0, right (its polarity
    // inverted by the negative level) when below.
    void sound(int g, int voice) {
        int product = g * voiceOut[voice];
        int negative = g >> 31;
        out[0] += product & ~negative;
        out[1] += product & negative;
    }

    // With a king (and a queen) held only the focus voices sound, at the
    // level of the summed axes; otherwise each voice at its own axis level.
    // Focus indices are masked to a voice so that a stray value from a patch
    // file can never index outside the four voices.
    void mix(Lanes samples, Lanes level, int frame, int frames) {
        if (barre->isKingPresent()) {
            out[0] = out[1] = 0;
            int g = deadZone(ramp(axisSum, axisSumLast, frame, frames));
            sound(g, barre->getFocius1() & 3);
            if (barre->isQueenPresent()) sound(g, barre->getFocius2() & 3);
            return;
        }
        Lanes g = deadZone(level);
        Lanes product = g * samples;
        Lanes right = g >> 31;
        Lanes sums = sumPairs(product & ~right, product & right);
        out[0] = sums[0];
        out[1] = sums[1];
    }

    // The corner squares of side e (minus a band of t) of a box.
    static BoxRect bottomLeft(const BoxRect& b, int e, int t) {
        return BoxRect{b.x1, b.y2 - e + t, b.x1 + e - t, b.y2};
    }
    static BoxRect topRight(const BoxRect& b, int e, int t) {
        return BoxRect{b.x2 - e + t, b.y1, b.x2, b.y1 + e - t};
    }

    void paintMark(_CHDC chdc, BoxRect& mark, BoxRect square, BoxRect inner, bool set, Colour colour) {
        mark = square;
        if (set) routing::fill(chdc, mark, colour);
        innerRect = inner;
        routing::fill(chdc, innerRect, brush);
    }
};
