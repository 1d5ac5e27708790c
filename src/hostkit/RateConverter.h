// The converter from the engine's frames (22050 a second, or 32 × the pitch
// of 1/1) to a host's rate, for every host that plays at a rate of its own:
// the plugins and the program under JACK. Stereo, interleaved floats in
// -1..1. The ratio is host frames per engine frame; it stays fixed while a
// host runs and changes only with the pitch of 1/1 (restart).
//
// A polyphase filter: output frame j of a stretch lies at engine time
// τ = j × M / L (the ratio L / M in lowest terms, kept exactly, so the
// output never drifts and does not depend on how the input is cut), and
// is the sum of the 2 × kHalf input frames around τ weighted by a
// Kaiser-windowed sinc cut off at half the lower of the two rates. That
// keeps the band up to 0.408 of the lower rate (9 kHz of 22050) flat
// within 0.001 dB and every image and alias of it about 100 dB down
// (tools/plugin/cpu.cpp measures it). For the ratios the plugins meet at
// the default pitch (44.1, 48, 88.2 and 96 kHz: L ≤ kMostRows) each of
// the L positions between two input frames has its row of weights made at
// restart; any other ratio takes its weights tap by tap from the shared
// finely sampled kernel, and a rate lowered by a factor widens the kernel
// by it (up to kMostReach frames a side).
//
// The latency a host reports follows from the converter's lookahead: an
// input is heard one unit less a frame after it is known, plus the frames
// the converter must see ahead of an output frame, at the host's rate
// (latencyFor).
//
// Silence: once the input frames any further output reads are all zero
// (settled), a run of zero input frames is passed over in closed form
// (skipZeros), giving exactly the zero frames processing them would.
//
// Threads: made and destroyed off the audio thread; restart, process and
// skipZeros allocate nothing, lock nothing and print nothing.
#pragma once

#include "voice/Lanes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>

class RateConverter {
public:
    static constexpr int kUnit = 256;        // engine frames an input waits at most for its unit
    static constexpr int kHalf = 18;         // input frames to each side of an output frame, at the lower rate
    static constexpr double kBeta = 10.0;    // the Kaiser window's shape: about 100 dB of stopband
    static constexpr int kGrid = 2048;       // points of the shared kernel per frame of the lower rate
    static constexpr uint64_t kMostRows = 1024;  // positions between input frames given rows of their own
    static constexpr int kMostReach = 2048;  // input frames to a side at most, however far the rate falls
    static constexpr int kRoom = 1024;       // input frames held beyond the widest kernel
    static constexpr int kRowTaps = (2 * kHalf + 7) / 8 * 8;  // a row's weights, whole vectors of 8
    static constexpr long long kWindow = 2 * kMostReach + kRoom;  // input frames held at most

    RateConverter()
        : kernel(shared()),
          rows(kMostRows * kRowTaps),
          left(kWindow + kRowTaps),
          right(kWindow + kRowTaps) {
        restart(1.0);
    }
    RateConverter(const RateConverter&) = delete;
    RateConverter& operator=(const RateConverter&) = delete;

    // Always true: everything is made at construction. Kept for hosts that
    // ask before converting.
    bool ok() const { return true; }

    // Starts afresh at `ratio` host frames per engine frame: what it held
    // of the earlier stretch is dropped. The ratio is taken as the nearest
    // fraction with terms below 2^32 (48000 / 22050 exactly as 320 / 147).
    void restart(double hostPerEngine) {
        uint64_t p = 1, q = 1;
        nearestFraction(hostPerEngine, p, q);
        restart(p, q);
    }

    // Starts afresh at exactly `hostFrames` host frames to `engineFrames`
    // engine frames (both above 0; any common unit).
    void restart(uint64_t hostFrames, uint64_t engineFrames) {
        if (hostFrames == 0 || engineFrames == 0) hostFrames = engineFrames = 1;
        uint64_t g = std::gcd(hostFrames, engineFrames);
        outPerCycle = hostFrames / g;
        inPerCycle = engineFrames / g;
        stepWhole = static_cast<long long>(inPerCycle / outPerCycle);
        stepPart = inPerCycle % outPerCycle;
        ratio = static_cast<double>(hostFrames) / static_cast<double>(engineFrames);
        reach = reachAt(ratio);
        taps = 2 * reach;
        scale = ratio < 1 ? ratio : 1.0;
        rowed = ratio >= 1 && outPerCycle <= kMostRows;
        if (rowed)
            for (uint64_t k = 0; k < outPerCycle; k++)
                weigh(static_cast<double>(k) / static_cast<double>(outPerCycle), &rows[k * kRowTaps]);
        whole = 0;
        part = 0;
        // The frames before the first are silence: the window of output 0
        // starts filled with them.
        first = -(reach - 1);
        held = reach - 1;
        std::memset(left.data(), 0, held * sizeof(float));
        std::memset(right.data(), 0, held * sizeof(float));
        lastSound = first - 1;
    }

    // Converts from `in` (`inFrames` engine frames) into `out` (room for
    // `outRoom` host frames). `used` and `made` say how many of each it
    // took and gave; false when it did neither.
    bool process(const float* in, uint32_t inFrames, float* out, uint32_t outRoom, uint32_t& used, uint32_t& made) {
        used = made = 0;
        for (;;) {
            uint64_t ready = outputsBefore(first + held), room = outRoom - made;
            uint32_t k = static_cast<uint32_t>(ready < room ? ready : room);
            convert(out + 2 * made, k);
            made += k;
            if (made == outRoom || used == inFrames) break;
            if (held == kWindow) keepWindow();
            long long space = kWindow - held, want = inFrames - used;
            uint32_t n = static_cast<uint32_t>(want < space ? want : space);
            take(in + 2 * used, n);
            used += n;
        }
        return used > 0 || made > 0;
    }

    // Whether every input frame a further output reads, of those given so
    // far, is zero: zero frames given next then make zero frames.
    bool settled() const { return lastSound < whole - reach + 1; }

    // What process would do with `inFrames` zero frames once settled: the
    // zero output frames they complete, up to `outRoom`, go into `out`;
    // the same frames, in the same order, whatever the cutting. All the
    // zero frames given (up to kRoom) are taken: outputs they complete
    // beyond the room come from the next call, zero as well.
    void skipZeros(uint32_t inFrames, float* out, uint32_t outRoom, uint32_t& used, uint32_t& made) {
        if (inFrames > static_cast<uint32_t>(kRoom)) inFrames = kRoom;
        long long given = first + held;  // the next input frame to come
        uint64_t count = std::min<uint64_t>(outputsBefore(given + inFrames), outRoom);
        advance(count);
        // The window holds zeros alone: from the first frame the next
        // output reads to the last one taken.
        first = whole - reach + 1;
        held = given + inFrames - first;
        std::memset(left.data(), 0, held * sizeof(float));
        std::memset(right.data(), 0, held * sizeof(float));
        std::memset(out, 0, count * 2 * sizeof(float));
        used = inFrames;
        made = static_cast<uint32_t>(count);
    }

    // The host frames an input takes to be heard at a converter ratio
    // (host frames per engine frame), converting or not: the smallest L
    // with L ≥ (256 + h) × ratio − 1, where the lookahead h is the input
    // frames the converter reads past an output frame's time (kHalf,
    // widened by the factor by which the rate falls). Unconverted, h = 0.
    static uint32_t latencyFor(double hostPerEngine, bool converting) {
        long h = converting ? reachAt(hostPerEngine) : 0;
        return static_cast<uint32_t>(std::ceil((kUnit + h) * hostPerEngine) - 1);
    }

private:
    // The kernel's half, sampled kGrid times a frame of the lower rate from
    // 0 to kHalf (and one point beyond, 0), shared by every converter.
    static const std::vector<float>& shared() {
        static const std::vector<float> made = [] {
            std::vector<float> k(kHalf * kGrid + 2, 0.0f);
            double edge = besselI0(kBeta);
            for (int i = 0; i <= kHalf * kGrid; i++) {
                double x = static_cast<double>(i) / kGrid, t = x / kHalf;
                double sinc = i == 0 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
                k[i] = static_cast<float>(sinc * besselI0(kBeta * std::sqrt(1 - t * t)) / edge);
            }
            return k;
        }();
        return made;
    }

    static double besselI0(double x) {
        double sum = 1, term = 1;
        for (int k = 1; k < 100 && term > 1e-17 * sum; k++) {
            term *= (x / (2 * k)) * (x / (2 * k));
            sum += term;
        }
        return sum;
    }

    // Input frames to each side of an output frame at a ratio.
    static int reachAt(double hostPerEngine) {
        if (hostPerEngine >= 1) return kHalf;
        double r = std::ceil(kHalf / hostPerEngine);
        return r > kMostReach ? kMostReach : static_cast<int>(r);
    }

    // The fraction p / q nearest x with terms below 2^32, by continued
    // fractions.
    static void nearestFraction(double x, uint64_t& p, uint64_t& q) {
        if (!(x > 0) || x > 4e9) {
            p = q = 1;
            return;
        }
        uint64_t p0 = 0, q0 = 1, p1 = 1, q1 = 0;
        double v = x;
        for (int k = 0; k < 64; k++) {
            double a = std::floor(v);
            uint64_t ai = static_cast<uint64_t>(a);
            unsigned __int128 p2 = static_cast<unsigned __int128>(ai) * p1 + p0, q2 = static_cast<unsigned __int128>(ai) * q1 + q0;
            if (p2 >> 32 || q2 >> 32) break;
            p0 = p1, q0 = q1, p1 = static_cast<uint64_t>(p2), q1 = static_cast<uint64_t>(q2);
            if (std::fabs(static_cast<double>(p1) / static_cast<double>(q1) - x) <= 1e-15 * x || v - a < 1e-12) break;
            v = 1 / (v - a);
        }
        p = p1;
        q = q1 ? q1 : 1;
    }

    // The weights of the taps for an output at `phase` (0 ≤ phase < 1) past
    // an input frame: tap i reads the input frame reach − 1 − i before the
    // next one.
    void weigh(double phase, float* w) const {
        // Distance from the output to tap i, in frames of the lower rate:
        // (phase + reach − 1 − i) × scale.
        double step = scale * kGrid, at = (phase + reach - 1) * step;
        for (int i = 0; i < taps; i++, at -= step) {
            double a = std::fabs(at);
            long k = static_cast<long>(a);
            if (k >= kHalf * kGrid) {
                w[i] = 0;
                continue;
            }
            float f = static_cast<float>(a - static_cast<double>(k));
            w[i] = static_cast<float>(scale) * (kernel[k] + f * (kernel[k + 1] - kernel[k]));
        }
    }

    // `n` output frames from `whole` + part / L on into `out`. Compiled
    // for every x86-64 and for those with AVX2, as the engine's frame is.
    LANES_FRAME void convert(float* out, uint32_t n) {
        for (uint32_t k = 0; k < n; k++, out += 2) {
            const float* l = left.data() + (whole - reach + 1 - first);
            const float* r = right.data() + (whole - reach + 1 - first);
            if (rowed) {
                // A row's taps past 2 × kHalf weigh 0: the frames they meet
                // (inside the window's slack) add nothing.
                Wide sl{}, sr{};
                const float* w = &rows[part * kRowTaps];
#pragma GCC unroll 8
                for (int i = 0; i < kRowTaps; i += 8) {
                    Wide c = load<Wide>(w + i);
                    sl += c * load<Wide>(l + i);
                    sr += c * load<Wide>(r + i);
                }
                sums(sl, sr, out);
            } else {
                weigh(static_cast<double>(part) / static_cast<double>(outPerCycle), scratch);
                float tl = 0, tr = 0;
                for (int i = 0; i < taps; i++) {
                    tl += scratch[i] * l[i];
                    tr += scratch[i] * r[i];
                }
                out[0] = tl;
                out[1] = tr;
            }
            step();
        }
    }

    using Wide = float __attribute__((vector_size(32)));

    // Inline always, as the callers' own code: a vector of 8 passed
    // between code built for AVX2 and code built without it would be
    // passed two different ways.
    template <class V>
    [[gnu::always_inline]] static V load(const float* p) {
        V v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }

    using Quad = float __attribute__((vector_size(16)));

    // The eight lanes of l and of r summed, into out[0] and out[1]: halves
    // first, then the pairs, both channels in the same vectors.
    [[gnu::always_inline]] static void sums(Wide l, Wide r, float* out) {
        Quad a = __builtin_shufflevector(l, l, 0, 1, 2, 3) + __builtin_shufflevector(l, l, 4, 5, 6, 7);
        Quad b = __builtin_shufflevector(r, r, 0, 1, 2, 3) + __builtin_shufflevector(r, r, 4, 5, 6, 7);
        Quad c = __builtin_shufflevector(a, b, 0, 4, 1, 5) + __builtin_shufflevector(a, b, 2, 6, 3, 7);
        Quad d = c + __builtin_shufflevector(c, c, 2, 3, 0, 1);
        out[0] = d[0];
        out[1] = d[1];
    }

    // How many outputs from the next one on read only input frames before
    // `end`: those j with whole + floor((part + j M) / L) + reach < end.
    uint64_t outputsBefore(long long end) const {
        long long d = end - reach - 1 - whole;
        if (d < 0) return 0;
        unsigned __int128 span = static_cast<unsigned __int128>(d + 1) * outPerCycle - part;
        return static_cast<uint64_t>((span + inPerCycle - 1) / inPerCycle);
    }

    void advance(uint64_t outputs) {
        unsigned __int128 p = static_cast<unsigned __int128>(part) + static_cast<unsigned __int128>(outputs) * inPerCycle;
        whole += static_cast<long long>(p / outPerCycle);
        part = static_cast<uint64_t>(p % outPerCycle);
    }

    // One output on, without a division: M / L and M % L are kept.
    void step() {
        whole += stepWhole;
        part += stepPart;
        if (part >= outPerCycle) {
            part -= outPerCycle;
            whole++;
        }
    }

    // Appends `n` interleaved frames to the window, noting the last that
    // is not silent.
    void take(const float* in, uint32_t n) {
        float* l = left.data() + held;
        float* r = right.data() + held;
        for (uint32_t k = 0; k < n; k++) {
            l[k] = in[2 * k];
            r[k] = in[2 * k + 1];
        }
        for (uint32_t k = n; k-- > 0;)
            if (in[2 * k] != 0 || in[2 * k + 1] != 0) {
                lastSound = first + held + k;
                break;
            }
        held += n;
    }

    // Moves the frames the next output reads to the front of the window.
    void keepWindow() {
        long long from = whole - reach + 1 - first;
        if (from <= 0) return;
        std::memmove(left.data(), left.data() + from, (held - from) * sizeof(float));
        std::memmove(right.data(), right.data() + from, (held - from) * sizeof(float));
        held -= from;
        first += from;
    }

    const std::vector<float>& kernel;
    std::vector<float> rows;         // kMostRows rows of kRowTaps weights, when rowed
    std::vector<float> left, right;  // the input frames from `first` on
    float scratch[2 * kMostReach] = {};
    uint64_t outPerCycle = 1, inPerCycle = 1;  // L and M: L output frames take M input frames
    long long stepWhole = 1;                   // M / L
    uint64_t stepPart = 0;                     // M % L
    double ratio = 1, scale = 1;               // L / M; the kernel's width against the lower rate
    int reach = kHalf, taps = 2 * kHalf;
    bool rowed = true;
    long long whole = 0;     // the input frame the next output lies at or after
    uint64_t part = 0;       // and how far past it, in 1/L of a frame
    long long first = 0;     // the input frame left[0] holds (negative: silence before the start)
    long long held = 0;      // frames the window holds
    long long lastSound = 0; // the last input frame that was not silent
};
