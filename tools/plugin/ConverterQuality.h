// How faithfully a rate converter carries a tone, for the measurement tool
// and the tests: a sine of amplitude 0.5 goes through the converter in
// pieces of 256 frames, both channels alike, and the output's middle half
// is fitted with a sine of the same frequency by least squares. The gain
// is the fitted amplitude against the input's (dB); the rest is what the
// fit leaves (images, aliases, noise) against the fitted sine's power, or,
// for a tone the output rate cannot hold, the whole output against the
// input's power (dB).
#pragma once

#include "hostkit/RateConverter.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace converterquality {

// A converter at work: takes interleaved stereo input frames at the input
// rate and appends its output frames to `out`.
using Convert = std::function<void(const float* in, uint32_t frames, std::vector<float>& out)>;

// The converter the plugins use, made afresh at `hostFrames` to
// `engineFrames`.
inline Convert ours(uint64_t hostFrames, uint64_t engineFrames) {
    auto c = std::make_shared<RateConverter>();
    c->restart(hostFrames, engineFrames);
    return [c](const float* in, uint32_t frames, std::vector<float>& out) {
        float room[2 * 4096];
        for (uint32_t done = 0, used = 0, made = 0; done < frames || made > 0; done += used) {
            c->process(in + 2 * done, frames - done, room, 4096, used, made);
            out.insert(out.end(), room, room + 2 * made);
        }
    };
}

struct Tone {
    double gainDb = 0;
    double restDb = 0;
};

inline Tone tone(const Convert& convert, double inRate, double outRate, double hz, double seconds = 0.5) {
    size_t frames = static_cast<size_t>(inRate * seconds);
    std::vector<float> in(2 * frames), out;
    for (size_t k = 0; k < frames; k++) in[2 * k] = in[2 * k + 1] = static_cast<float>(0.5 * std::sin(2 * M_PI * hz * k / inRate));
    for (size_t at = 0; at < frames; at += 256)
        convert(in.data() + 2 * at, static_cast<uint32_t>(frames - at < 256 ? frames - at : 256), out);
    size_t made = out.size() / 2, from = made / 4, to = 3 * made / 4;
    Tone t;
    double input = 0.125 * static_cast<double>(to - from);  // 0.5² / 2 a frame
    if (hz >= outRate / 2) {
        double power = 0;
        for (size_t j = from; j < to; j++) power += static_cast<double>(out[2 * j]) * out[2 * j];
        t.gainDb = -INFINITY;
        t.restDb = 10 * std::log10(power / input + 1e-30);
        return t;
    }
    double w = 2 * M_PI * hz / outRate, cc = 0, ss = 0, cs = 0, yc = 0, ys = 0;
    for (size_t j = from; j < to; j++) {
        double c = std::cos(w * j), s = std::sin(w * j), y = out[2 * j];
        cc += c * c, ss += s * s, cs += c * s, yc += y * c, ys += y * s;
    }
    double det = cc * ss - cs * cs, a = (yc * ss - ys * cs) / det, b = (ys * cc - yc * cs) / det;
    double fitted = 0, rest = 0;
    for (size_t j = from; j < to; j++) {
        double f = a * std::cos(w * j) + b * std::sin(w * j), y = out[2 * j];
        fitted += f * f;
        rest += (y - f) * (y - f);
    }
    t.gainDb = 20 * std::log10(std::sqrt(a * a + b * b) / 0.5);
    t.restDb = 10 * std::log10(rest / fitted + 1e-30);
    return t;
}

// The worst over `count` tones spread over 50 Hz .. `top` Hz: the largest
// departure of the gain from 0 dB and the loudest rest.
struct Figures {
    double flatnessDb = 0;
    double restDb = -INFINITY;
};

inline Figures passband(const Convert& convert, double inRate, double outRate, double top, int count = 12) {
    Figures f;
    for (int k = 0; k < count; k++) {
        Tone t = tone(convert, inRate, outRate, 50 + (top - 50) * k / (count - 1));
        f.flatnessDb = std::fmax(f.flatnessDb, std::fabs(t.gainDb));
        f.restDb = std::fmax(f.restDb, t.restDb);
    }
    return f;
}

}  // namespace converterquality
