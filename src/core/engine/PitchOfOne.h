// The pitch of the ratio 1/1, and the rate that plays the engine's samples
// at it. The engine makes the same samples whatever the pitch: 1/1 is a
// wave of 32 samples, so played at 22050 frames a second it sounds at
// 22050 / 32 = 689.0625 Hz, and played at 32 × HZ frames a second at HZ.
// Everything else speeds up or slows down with it, as a tape does: a unit
// of 256 frames lasts 256 / (32 × HZ) seconds.
// Pitches in Hz, rates in frames per second.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>

class PitchOfOne {
public:
    static constexpr double kEngineRate = 22050;
    static constexpr double kDefault = kEngineRate / 32;  // 689.0625
    // The rates sound devices and WAV readers take, 1000..384000 frames a
    // second, as pitches.
    static constexpr double kLowest = 1000.0 / 32;  // 31.25
    static constexpr double kHighest = 384000.0 / 32;  // 12000

    // The frames per second that sound 1/1 at `hz`, and the other way.
    static double rate(double hz) { return kEngineRate * hz / kDefault; }
    static double pitchAt(double rate) { return rate * kDefault / kEngineRate; }

    // The same as a whole number, as ALSA and WAV files take rates: the
    // nearest one. 1/1 then sounds at wholeRate / 32 Hz, the rate being
    // within half a frame a second of the one asked: at most 27 / HZ cents
    // off (under 0.1 cent from 271 Hz up), and exact for every HZ that is a
    // multiple of 1/32 (440 gives 14080).
    static uint32_t wholeRate(double hz) { return static_cast<uint32_t>(std::lround(rate(hz))); }

    // Reads a pitch written as a plain decimal ("440", "261.63", ".5"): no
    // sign, no exponent, within kLowest..kHighest. False, `hz` untouched,
    // for anything else.
    static bool parse(const char* text, double& hz) {
        if (!text) return false;
        int digits = 0, points = 0;
        for (const char* c = text; *c; c++) {
            if (*c >= '0' && *c <= '9') digits++;
            else if (*c == '.') points++;
            else return false;
        }
        if (digits == 0 || points > 1) return false;
        double v = std::strtod(text, nullptr);
        if (!(v >= kLowest && v <= kHighest)) return false;
        hz = v;
        return true;
    }
};
