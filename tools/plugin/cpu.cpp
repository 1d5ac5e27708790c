// What one plugin instance costs and how long it makes the host wait, and
// how the rate converters a plugin could use compare:
//   quorvanel-lv2-cpu [SECONDS [FULLBANK.texte]]
//   quorvanel-lv2-cpu --converter NAME [SECONDS [FULLBANK.texte]]
// The first prints the latency at 44.1, 48 and 96 kHz; the CPU time of one
// instance at 48 kHz in blocks of 256, silent and with the axes moving
// every block, with a fresh bank (one situation) and with a full bank (15
// situations, FM on), as a share of one core; then, for each converter
// built in (the plugin's own, libsamplerate's, zita-resampler's and
// libsoxr's, when their development files were found), its share of a core
// converting the full bank's 22050 Hz output to 48 kHz, its lookahead, and
// its figures on tones: the largest departure from flat up to 9 kHz and
// the loudest images or aliases against the tone. The second runs only
// the named converter's conversion, for an instruction count:
//   valgrind --tool=callgrind --collect-atstart=no --toggle-collect='*convertAll*'
//       build/quorvanel-lv2-cpu --converter NAME 2
#include "plugin/ConverterQuality.h"
#include "plugin/Instrument.h"

#ifdef QUORVANEL_HAVE_SAMPLERATE
#include <samplerate.h>
#endif
#ifdef QUORVANEL_HAVE_ZITA
#include <zita-resampler/resampler.h>
#endif
#ifdef QUORVANEL_HAVE_SOXR
#include <soxr.h>
#endif

#include <time.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using converterquality::Convert;

double threadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Share of a core (percent) for `seconds` of sound at 48 kHz, the axes
// moving every block or (`still`) never.
double instanceLoad(const char* bank, double seconds, bool still) {
    Instrument in(48000);
    std::string why;
    if (bank) in.offerBank(in.readBank(bank, why));
    std::vector<float> l(256), r(256);
    long blocks = static_cast<long>(seconds * 48000 / 256);
    double start = threadSeconds();
    for (long b = 0; b < blocks; b++) {
        if (!still) {
            in.portValue(0, static_cast<float>((b * 7) % 200 - 100));
            in.portValue(1, static_cast<float>((b * 3) % 150 - 75));
        }
        in.render(l.data(), r.data(), 256);
    }
    return 100.0 * (threadSeconds() - start) / seconds;
}

// Each converter made afresh, 22050 to 48000 Hz.
struct Choice {
    std::string name;
    std::function<Convert()> make;
};

// The input frames a converter must have been given past an impulse
// before the output frame that carries the impulse's peak comes out, fed
// one frame at a time: what it adds to a host's latency, in engine frames.
long lookahead(const Convert& convert) {
    const long at = 1000;
    std::vector<float> out, frame(2);
    long peakFrame = -1, given = 0;
    float peak = 0;
    for (; given < at + 2000; given++) {
        frame[0] = frame[1] = given == at ? 1.0f : 0.0f;
        size_t before = out.size();
        convert(frame.data(), 1, out);
        for (size_t k = before; k < out.size(); k += 2)
            if (std::fabs(out[k]) > peak) peak = std::fabs(out[k]), peakFrame = given;
    }
    return peakFrame - at;
}

std::vector<Choice> choices() {
    std::vector<Choice> all;
    all.push_back({"own polyphase, 36 taps", [] { return converterquality::ours(48000, 22050); }});
#ifdef QUORVANEL_HAVE_SAMPLERATE
    const struct {
        int type;
        const char* name;
    } kinds[] = {{SRC_SINC_FASTEST, "libsamplerate SINC_FASTEST"},
                 {SRC_SINC_MEDIUM_QUALITY, "libsamplerate SINC_MEDIUM"},
                 {SRC_SINC_BEST_QUALITY, "libsamplerate SINC_BEST"}};
    for (const auto& k : kinds)
        all.push_back({k.name,
                       [type = k.type] {
                           std::shared_ptr<SRC_STATE> s(src_new(type, 2, nullptr), src_delete);
                           return Convert([s](const float* in, uint32_t frames, std::vector<float>& out) {
                               float room[2 * 4096];
                               SRC_DATA d{};
                               d.data_in = in;
                               d.input_frames = frames;
                               d.src_ratio = 48000.0 / 22050;
                               do {
                                   d.data_out = room;
                                   d.output_frames = 4096;
                                   src_process(s.get(), &d);
                                   out.insert(out.end(), room, room + 2 * d.output_frames_gen);
                                   d.data_in += 2 * d.input_frames_used;
                                   d.input_frames -= d.input_frames_used;
                               } while (d.input_frames > 0 || d.output_frames_gen > 0);
                           });
                       }});
#endif
#ifdef QUORVANEL_HAVE_ZITA
    for (unsigned hlen : {16u, 24u, 32u})
        all.push_back({"zita-resampler, hlen " + std::to_string(hlen),
                       [hlen] {
                           auto z = std::make_shared<Resampler>();
                           z->setup(22050, 48000, 2, hlen);
                           return Convert([z](const float* in, uint32_t frames, std::vector<float>& out) {
                               float room[2 * 4096];
                               z->inp_count = frames;
                               z->inp_data = const_cast<float*>(in);
                               while (z->inp_count > 0) {
                                   z->out_count = 4096;
                                   z->out_data = room;
                                   z->process();
                                   out.insert(out.end(), room, room + 2 * (4096 - z->out_count));
                               }
                           });
                       }});
#endif
#ifdef QUORVANEL_HAVE_SOXR
    const struct {
        unsigned long recipe;
        const char* name;
    } recipes[] = {{SOXR_LQ, "libsoxr LQ"}, {SOXR_MQ, "libsoxr MQ"}, {SOXR_HQ, "libsoxr HQ"}};
    for (const auto& q : recipes)
        all.push_back({q.name,
                       [recipe = q.recipe] {
                           soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
                           soxr_quality_spec_t quality = soxr_quality_spec(recipe, 0);
                           std::shared_ptr<soxr> s(soxr_create(22050, 48000, 2, nullptr, &io, &quality, nullptr), soxr_delete);
                           return Convert([s](const float* in, uint32_t frames, std::vector<float>& out) {
                               float room[2 * 4096];
                               size_t taken = 0, made = 0;
                               do {
                                   soxr_process(s.get(), in, frames, &taken, room, 4096, &made);
                                   out.insert(out.end(), room, room + 2 * made);
                                   in += 2 * taken;
                                   frames -= static_cast<uint32_t>(taken);
                               } while (frames > 0 || made == 4096);
                           });
                       }});
#endif
    return all;
}

// The full bank's samples at 22050, as a converter takes them.
std::vector<float> fullBankAt22050(const char* full, double seconds) {
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
    return source;
}

// Share of a core (percent) converting `source` to 48 kHz in pieces of 256.
[[gnu::noinline]] double convertAll(const Convert& convert, const std::vector<float>& source, double seconds) {
    std::vector<float> out;
    out.reserve(static_cast<size_t>(source.size() * 48000.0 / 22050) + 8192);
    double start = threadSeconds();
    for (size_t at = 0; at < source.size() / 2; at += 256)
        convert(source.data() + 2 * at, static_cast<uint32_t>(std::min<size_t>(256, source.size() / 2 - at)), out);
    return 100.0 * (threadSeconds() - start) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    std::string only;
    if (argc > 2 && !std::strcmp(argv[1], "--converter")) {
        only = argv[2];
        argc -= 2;
        argv += 2;
    }
    double seconds = argc > 1 ? std::atof(argv[1]) : 20;
    const char* full = argc > 2 ? argv[2] : "patches/fullbank.texte";
    std::vector<Choice> all = choices();
    if (!only.empty()) {
        std::vector<float> source = fullBankAt22050(full, seconds);
        for (const Choice& c : all)
            if (c.name.rfind(only, 0) == 0) {
                std::printf("%s: %.3f%% of a core at 48000 Hz\n", c.name.c_str(), convertAll(c.make(), source, seconds));
                return 0;
            }
        std::fprintf(stderr, "quorvanel-lv2-cpu: no converter named %s\n", only.c_str());
        return 2;
    }
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        Instrument in(rate);
        std::printf("latency at %.0f Hz: %u frames (%.2f ms)\n", rate, in.latency(), 1000.0 * in.latency() / rate);
    }
    std::printf("one instance at 48000 Hz, one situation, silent: %.3f%% of a core\n", instanceLoad(nullptr, seconds, true));
    std::printf("one instance at 48000 Hz, one situation: %.2f%% of a core\n", instanceLoad(nullptr, seconds, false));
    std::printf("one instance at 48000 Hz, 15 situations with FM, silent: %.3f%% of a core\n", instanceLoad(full, seconds, true));
    std::printf("one instance at 48000 Hz, 15 situations with FM: %.2f%% of a core\n", instanceLoad(full, seconds, false));

    std::vector<float> source = fullBankAt22050(full, seconds);
    std::printf("%-28s %10s %10s %12s %10s\n", "converter, 22050 to 48000", "% of core", "lookahead", "flat to 9k", "images");
    for (const Choice& c : all) {
        double load = convertAll(c.make(), source, seconds);
        converterquality::Figures f = converterquality::passband(c.make(), 22050, 48000, 9000);
        std::printf("%-28s %9.3f%% %10ld %9.4f dB %7.1f dB\n", c.name.c_str(), load, lookahead(c.make()), f.flatnessDb,
                    f.restDb);
    }
    return 0;
}
