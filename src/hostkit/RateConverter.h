// The converter from the engine's frames (22050 a second, or 32 × the pitch
// of 1/1) to a host's rate, for every host that plays at a rate of its own:
// the plugins and the program under JACK. Stereo, interleaved floats in
// -1..1. The ratio is host frames per engine frame; it stays fixed while a
// host runs and changes only with the pitch of 1/1 (restart).
//
// The latency a host reports follows from the converter's lookahead: an
// input is heard one unit less a frame after it is known, plus the frames
// the converter must see ahead of an output frame, at the host's rate
// (latencyFor).
//
// Threads: made and destroyed off the audio thread; restart and process
// allocate nothing, lock nothing and print nothing.
#pragma once

#include <samplerate.h>

#include <cmath>
#include <cstdint>

class RateConverter {
public:
    static constexpr int kUnit = 256;  // engine frames an input waits at most for its unit
    // The fastest band-limited converter of libsamplerate reaches this many
    // input frames to each side of an output frame (its 2462 + 2
    // coefficients at 128 per frame), more when it lowers the rate.
    static constexpr double kReach = (2462 + 2) / 128.0;
    // Chosen by measurement (tools/plugin/cpu.cpp): the fastest
    // band-limited converter keeps about 97 dB from the aliases, costs half
    // of the next one and adds 21 engine frames of lookahead instead of 48.
    static constexpr int kKind = SRC_SINC_FASTEST;

    RateConverter() {
        int error = 0;
        state = src_new(kKind, 2, &error);
    }
    ~RateConverter() {
        if (state) src_delete(state);
    }
    RateConverter(const RateConverter&) = delete;
    RateConverter& operator=(const RateConverter&) = delete;

    // False when the converter could not be made (out of memory): a host
    // then passes frames unconverted rather than none.
    bool ok() const { return state != nullptr; }

    // Starts afresh at `ratio` host frames per engine frame: what it held
    // of the earlier stretch is dropped.
    void restart(double hostPerEngine) {
        ratio = hostPerEngine;
        if (!state) return;
        src_reset(state);
        src_set_ratio(state, ratio);
    }

    // Converts from `in` (`inFrames` engine frames) into `out` (room for
    // `outRoom` host frames). `used` and `made` say how many of each it
    // took and gave; false when it can do neither (never expected).
    bool process(const float* in, uint32_t inFrames, float* out, uint32_t outRoom, uint32_t& used, uint32_t& made) {
        used = made = 0;
        if (!state) return false;
        SRC_DATA d{};
        d.data_in = in;
        d.input_frames = inFrames;
        d.data_out = out;
        d.output_frames = outRoom;
        d.src_ratio = ratio;
        if (src_process(state, &d) != 0) return false;
        used = static_cast<uint32_t>(d.input_frames_used);
        made = static_cast<uint32_t>(d.output_frames_gen);
        return used > 0 || made > 0;
    }

    // The host frames an input takes to be heard at a converter ratio
    // (host frames per engine frame), converting or not: the smallest L
    // with L ≥ (256 + h) × ratio − 1, where the lookahead h is the frames
    // the converter keeps to each side: its reach rounded, plus one,
    // widened by the ratio when it lowers the rate. Unconverted, h = 0.
    static uint32_t latencyFor(double hostPerEngine, bool converting) {
        long reach = converting ? std::lrint(kReach / (hostPerEngine < 1 ? hostPerEngine : 1.0)) + 1 : 0;
        return static_cast<uint32_t>(std::ceil((kUnit + reach) * hostPerEngine) - 1);
    }

private:
    SRC_STATE* state = nullptr;
    double ratio = 1;
};
