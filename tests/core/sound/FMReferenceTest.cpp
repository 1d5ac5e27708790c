// The generator's frame is computed from routing data prepared when the
// matrices change. This pins it, bit for bit, to a cell-by-cell reading of
// the frame rules: two identical situations get the same random reports,
// keys, button presses and matrix changes, one through RoyalFMoutarde, the
// other through the plain loop below, and every output and every oscillator
// state must agree after every frame.
#include "SoundRig.h"

#include <climits>
#include <random>

namespace {

// The frame rules, cell by cell, with no precomputation.
struct PlainGenerator {
    int axis[4] = {}, axisLast[4] = {}, axisSum = 0, axisSumLast = 0;
    int numals[4][4] = {}, denals[4][4] = {};
    int bitshift = 0, inhibit = 1;
    int out[2] = {};

    static int ramp(int now, int last, int f, int frames) { return last + ((now - last) * f) / frames; }
    static int deadZone(int x) { return x > 3 ? x - 3 : x < -3 ? x + 3 : 0; }

    void bbarr(const signed char* r, SponGinger& g, Barre& b) {
        axisSum = 0;
        for (int k = 0; k < 4; k++) axisSum += axis[k] = r[k];
        if (b.isQueenPresent()) g.queenSpon(axis);
        else if (b.isKingPresent()) g.kingSpon(axis);
    }
    void beging() {
        axisSumLast = axisSum;
        for (int k = 0; k < 4; k++) axisLast[k] = axis[k];
    }
    void mixIn(int g, int o) {
        if (g >= 0) out[0] += g * o;
        else out[1] += g * o;
    }
    int* frame(int f, int frames, SponGinger& g, Barre& b) {
        int vo[4], pos[4], neg[4], lv[4];
        out[0] = out[1] = 0;
        for (int v = 0; v < 4; v++) {
            vo[v] = g.ging(v);
            pos[v] = neg[v] = 0;
            lv[v] = ramp(axis[v], axisLast[v], f, frames);
            if (lv[v] >= 0) pos[v] = vo[v] * lv[v];
            else neg[v] = vo[v] * lv[v];
        }
        if (!inhibit) {
            int k = std::clamp(bitshift, -10, 21) + 10;
            for (int i = 0; i < 4; i++)
                for (int c = 3; c >= 0; c--) {
                    int s = (i + c) % 4;
                    if (numals[i][c] > 0) g.moutardateNume(i, pos[s] >> k);
                    else if (numals[i][c] < 0) g.moutardateNume(i, neg[s] >> k);
                    if (denals[i][c] > 0) g.moutardateDeno(i, pos[s] >> k);
                    else if (denals[i][c] < 0) g.moutardateDeno(i, neg[s] >> k);
                }
        }
        if (b.isQueenPresent()) {
            int G = deadZone(ramp(axisSum, axisSumLast, f, frames));
            mixIn(G, vo[b.getFocius1()]);
            mixIn(G, vo[b.getFocius2()]);
        } else if (b.isKingPresent()) {
            mixIn(deadZone(ramp(axisSum, axisSumLast, f, frames)), vo[b.getFocius1()]);
        } else {
            for (int v = 0; v < 4; v++) mixIn(deadZone(lv[v]), vo[v]);
        }
        return out;
    }
};

int cellValue(std::mt19937& rng) {
    static const int values[] = {0, 0, 0, 1, -1, 1, -1, 5, -7, INT_MAX, INT_MIN};
    return values[rng() % (sizeof values / sizeof values[0])];
}

}  // namespace

TEST(FMReference, EveryFrameMatchesTheCellByCellRules) {
    std::mt19937 rng(20261208);
    soundtest::Rig fast;
    voicetest::Rig slow;
    PlainGenerator plain;
    for (voicetest::Rig* r : {static_cast<voicetest::Rig*>(&fast), &slow}) r->chink.chink(60);
    for (int period = 0; period < 3000; period++) {
        // Between periods: a report, sometimes a key-like change.
        signed char report[8] = {};
        for (int k = 0; k < 4; k++) report[k] = static_cast<signed char>(rng());
        unsigned char buttons = rng() % 8 == 0 ? static_cast<unsigned char>(rng()) : 0;
        for (voicetest::Rig* r : {static_cast<voicetest::Rig*>(&fast), &slow}) r->barre.but(buttons);
        switch (rng() % 12) {
        case 0: {
            int i = rng() % 4, c = rng() % 4, v = cellValue(rng);
            fast.fm.setNumal(i, c, v);
            plain.numals[i][c] = v;
            break;
        }
        case 1: {
            int i = rng() % 4, c = rng() % 4, v = cellValue(rng);
            fast.fm.setDenal(i, c, v);
            plain.denals[i][c] = v;
            break;
        }
        case 2: {
            int b = static_cast<int>(rng() % 40) - 15;
            fast.fm.setBitshift(b);
            plain.bitshift = b;
            break;
        }
        case 3:
            fast.fm.charactros();
            plain.inhibit = !plain.inhibit;
            break;
        case 4:
            fast.ginger.ginggong();
            slow.ginger.ginggong();
            break;
        case 5:
            fast.ginger.quixnoquantl();
            slow.ginger.quixnoquantl();
            break;
        default:
            break;
        }
        fast.fm.bbarr(report);
        plain.bbarr(report, slow.ginger, slow.barre);
        for (int f = 0; f < 256; f++) {
            int* a = fast.fm.gingModulate(f, 256);
            int* b = plain.frame(f, 256, slow.ginger, slow.barre);
            ASSERT_EQ(a[0], b[0]) << "period " << period << " frame " << f;
            ASSERT_EQ(a[1], b[1]) << "period " << period << " frame " << f;
            for (int v = 0; v < 4; v++) {
                ASSERT_EQ(fast.ginger.numeOffset[v], slow.ginger.numeOffset[v]) << period << " " << f;
                ASSERT_EQ(fast.ginger.denoOffset[v], slow.ginger.denoOffset[v]) << period << " " << f;
                ASSERT_EQ(fast.ginger.phase[v], slow.ginger.phase[v]) << period << " " << f;
                ASSERT_EQ(fast.ginger.getRat(v), slow.ginger.getRat(v)) << period << " " << f;
            }
        }
        fast.fm.beging();
        plain.beging();
    }
}
