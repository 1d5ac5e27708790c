// Where the engine's frames meet a JACK server's. The program's sound
// leaves as one stream of host frames at the server's rate R (frames a
// second), counted from the client's first cycle; into it go the engine's
// frames at E = 32 × the pitch of 1/1 a second, converted, from engine
// frame F0 on (the gate's frame when the client started: a multiple of the
// unit). The stream starts with L frames of silence, the latency, and every
// frame of silence the server played for lack of sound (D, counted by the
// process callback) moves what follows it later:
//
//   engine frame F leaves at host frame   L + D + ceil((F − F0) × R / E)
//   an input at host frame T acts on      F0 + floor((T − D) × E / R)
//
// the engine frame that leaves at T + L, so every input is heard L frames
// after it came, whatever the period and wherever it fell in one. A unit
// may be made once every input that can act on it is known: when the
// server's cycles have been read up to host frame T, the units before
// unitsKnown(T) (every later input acts on a later unit).
//
// The converter needs its lookahead beyond a unit (RateConverter::latencyFor
// at R / E) before it gives the unit's last frames; the units of a cycle's
// inputs are made only after that cycle, in the main loop, which takes one
// period more; and the main loop may be late by `buffer` units (the
// --latency), at most, before the server runs dry. L is their sum.
//
// E is kept in 1/65536 frames a second, so both directions are exact.
#pragma once

#include "hostkit/RateConverter.h"

#include <cmath>
#include <cstdint>

class FrameMap {
public:
    static constexpr int kUnit = 256;       // engine frames
    static constexpr int kRateShift = 16;   // E is kept << kRateShift

    FrameMap() = default;
    // hostRate: R; pitch: Hz of 1/1; first: F0; period: the server's
    // cycle in host frames; bufferUnits: units of 256 engine frames the
    // main loop may be late by.
    FrameMap(uint32_t hostRate, double pitch, long long first, uint32_t period, int bufferUnits)
        : hostRate(hostRate),
          engineRate(static_cast<uint64_t>(std::llround(32 * pitch * (1 << kRateShift)))),
          first(first) {
        uint64_t shifted = static_cast<uint64_t>(hostRate) << kRateShift;
        converts = engineRate != shifted;
        perEngine = static_cast<double>(shifted) / static_cast<double>(engineRate);
        uint32_t buffer = static_cast<uint32_t>(std::ceil(bufferUnits * kUnit * perEngine));
        latencyFrames = RateConverter::latencyFor(perEngine, converts) + period + buffer;
    }

    // R / E: host frames per engine frame, the converter's ratio.
    double ratio() const { return perEngine; }
    // False when R = E exactly: the frames go out as they are.
    bool converting() const { return converts; }
    // L, in host frames.
    uint32_t latency() const { return latencyFrames; }

    // The host frame engine frame `f` (≥ F0) leaves at, after `silence` (D).
    uint64_t hostFrameOf(long long f, uint64_t silence) const {
        uint64_t since = f > first ? static_cast<uint64_t>(f - first) : 0;
        unsigned __int128 scaled = static_cast<unsigned __int128>(since) * (static_cast<uint64_t>(hostRate) << kRateShift);
        uint64_t whole = static_cast<uint64_t>(scaled / engineRate) + (scaled % engineRate != 0);
        return latencyFrames + silence + whole;
    }

    // The engine frame an input at host frame `t` acts on, after `silence`.
    long long engineFrameAt(uint64_t t, uint64_t silence) const {
        if (t <= silence) return first;
        unsigned __int128 scaled = static_cast<unsigned __int128>(t - silence) * engineRate;
        return first + static_cast<long long>(scaled / (static_cast<unsigned __int128>(hostRate) << kRateShift));
    }

    // Units (engine frame / 256) before which every input is known once the
    // cycles up to host frame `t` were read.
    long long unitsKnown(uint64_t t, uint64_t silence) const { return engineFrameAt(t, silence) / kUnit; }

    // The first host frame by which unit `u` may be made: the inverse of
    // unitsKnown.
    uint64_t knownAt(long long u, uint64_t silence) const { return hostFrameOf(u * kUnit, silence) - latencyFrames; }

private:
    uint32_t hostRate = 48000;
    uint64_t engineRate = 22050ull << kRateShift;  // E << kRateShift
    long long first = 0;
    bool converts = true;
    double perEngine = 1;
    uint32_t latencyFrames = 0;
};
