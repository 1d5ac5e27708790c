// What one plugin instance costs and how long it makes the host wait:
//   quorvanel-lv2-cpu [SECONDS] [FULLBANK.texte]
// prints the latency at 44.1, 48 and 96 kHz; the CPU time of one instance
// at 48 kHz, in blocks of 256 with the axes moving every block, with a
// fresh bank (one situation) and with a full bank (15 situations, FM on),
// as a share of one core; and, for the converter choice, each
// libsamplerate converter's share of a core on the full bank's 22050 Hz
// output and how far its output lies from the best converter's.
#include "plugin/Instrument.h"

#include <time.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double threadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

// Share of a core (percent) for `seconds` of sound at 48 kHz.
double instanceLoad(const char* bank, double seconds) {
    Instrument in(48000);
    std::string why;
    if (bank) in.offerBank(in.readBank(bank, why));
    std::vector<float> l(256), r(256);
    long blocks = static_cast<long>(seconds * 48000 / 256);
    double start = threadSeconds();
    for (long b = 0; b < blocks; b++) {
        in.portValue(0, static_cast<float>((b * 7) % 200 - 100));
        in.portValue(1, static_cast<float>((b * 3) % 150 - 75));
        in.render(l.data(), r.data(), 256);
    }
    return 100.0 * (threadSeconds() - start) / seconds;
}

std::vector<float> convert(int type, const std::vector<float>& in, double ratio, double& load, double seconds) {
    SRC_STATE* s = src_new(type, 2, nullptr);
    std::vector<float> out(static_cast<size_t>(in.size() * ratio) + 4096);
    long used = 0, made = 0, frames = static_cast<long>(in.size() / 2);
    double start = threadSeconds();
    while (used < frames) {
        SRC_DATA d{};
        d.data_in = in.data() + 2 * used;
        d.input_frames = frames - used < 256 ? frames - used : 256;
        d.data_out = out.data() + 2 * made;
        d.output_frames = static_cast<long>(out.size() / 2) - made;
        d.src_ratio = ratio;
        src_process(s, &d);
        used += d.input_frames_used;
        made += d.output_frames_gen;
    }
    load = 100.0 * (threadSeconds() - start) / seconds;
    src_delete(s);
    out.resize(2 * made);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = argc > 1 ? std::atof(argv[1]) : 20;
    const char* full = argc > 2 ? argv[2] : "patches/fullbank.texte";
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        Instrument in(rate);
        std::printf("latency at %.0f Hz: %u frames (%.2f ms)\n", rate, in.latency(), 1000.0 * in.latency() / rate);
    }
    std::printf("one instance at 48000 Hz, one situation: %.2f%% of a core\n", instanceLoad(nullptr, seconds));
    std::printf("one instance at 48000 Hz, 15 situations with FM: %.2f%% of a core\n", instanceLoad(full, seconds));

    // The full bank's samples at 22050, as the converter takes them.
    Instrument engine(22050);
    std::string why;
    engine.offerBank(engine.readBank(full, why));
    std::vector<float> source;
    std::vector<float> l(256), r(256);
    for (long b = 0; b < static_cast<long>(seconds * 22050 / 256); b++) {
        engine.portValue(0, static_cast<float>((b * 7) % 200 - 100));
        engine.render(l.data(), r.data(), 256);
        for (int f = 0; f < 256; f++) {
            source.push_back(l[f]);
            source.push_back(r[f]);
        }
    }
    struct Kind {
        int type;
        const char* name;
    } kinds[] = {{SRC_SINC_BEST_QUALITY, "SINC_BEST_QUALITY"},
                 {SRC_SINC_MEDIUM_QUALITY, "SINC_MEDIUM_QUALITY"},
                 {SRC_SINC_FASTEST, "SINC_FASTEST"},
                 {SRC_LINEAR, "LINEAR"},
                 {SRC_ZERO_ORDER_HOLD, "ZERO_ORDER_HOLD"}};
    std::vector<float> best;
    for (const Kind& k : kinds) {
        double load = 0;
        std::vector<float> out = convert(k.type, source, 48000.0 / 22050, load, seconds);
        if (best.empty()) best = out;
        double signal = 0, error = 0;
        for (size_t i = 0; i < out.size() && i < best.size(); i++) {
            signal += static_cast<double>(best[i]) * best[i];
            error += (static_cast<double>(out[i]) - best[i]) * (out[i] - best[i]);
        }
        std::printf("converter %-20s %.2f%% of a core at 48000 Hz; differs from the best by %.1f dB\n", k.name, load,
                    error > 0 ? 10 * std::log10(error / signal) : -INFINITY);
    }
    return 0;
}
