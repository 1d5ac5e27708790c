// Cost of the whole audio path at full load: one engine whose bank in play
// holds 15 situations, each with all 32 FM cells and all 32 kingals/queenals
// cells set, the generator and the modulation matrix on, triangle and
// sawtooth voices, and the axes moving every period. The bank is built the
// way a player would get it, by loading a patch file through
// textorium_script. One iteration is one period as the host runs it: a
// report, 256 gingness calls (each converted to 16-bit bytes), beging.
//
// Counters: ns_per_frame, ns_per_situation_frame, realtime_x (seconds of
// sound made per second of CPU). Run:
//   build/quorvanel-bench-bank --benchmark_counters_tabular=true
// Instructions per situation-frame (I refs / the situation-frames printed):
//   valgrind --tool=callgrind --collect-atstart=no
//       --toggle-collect='*onePeriod*' build/quorvanel-bench-bank --periods 200
#include "engine/LaceyBanks.h"
#include "standalone/pcm.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

constexpr int kSituations = 15;
constexpr int kPeriod = 256;
constexpr double kRate = 22050.0;

std::string row(const char* name, int r, const int* cells) {
    std::string s = "  " + std::string(name) + " " + std::to_string(r) + " = ";
    for (int c = 0; c < 4; c++) s += std::to_string(cells[c]) + " ";
    return s + "\n";
}

// Writes the patch of a full bank; `fmOn` = 0 keeps every generator
// inhibited (the same bank without the modulation pass, for comparison).
std::string fullBankPatch(int fmOn) {
    std::string p;
    for (int s = 0; s < kSituations; s++) {
        p += "chubby " + std::to_string(s) + "\n barre\n  atrest\n";
        p += " chinkwonkanater\n  inhibit 0\n  primelm 11\n  stritton 2\n  strittle " +
             std::to_string(40 + 7 * s) + "\n";
        p += " sponginger\n";
        for (int v = 0; v < 4; v++)
            p += "  rat " + std::to_string(v) + " = " + std::to_string(1 + (s + 3 * v) % 9) + " / " +
                 std::to_string(1 + (2 * s + v) % 7) + "\n";
        // Voices from the phase; even situations triangle, odd sawtooth.
        p += "  bitshift 1\n  gingzgongz 1\n  quiznoquantan " + std::to_string(s & 1) + "\n";
        p += " royalminister\n  inhibit 0\n";
        for (int r = 0; r < 4; r++) {
            int king[4], queen[4];
            for (int c = 0; c < 4; c++) {
                king[c] = (r + c + s) & 1 ? 1 : -1;
                queen[c] = (r + 2 * c + s) % 3 ? 1 : -1;
            }
            p += row("kingals", r, king) + row("queenals", r, queen);
        }
        p += " royalfmoutarde\n  inhibit " + std::to_string(fmOn ? 0 : 1) + "\n";
        for (int r = 0; r < 4; r++) {
            int num[4], den[4];
            for (int c = 0; c < 4; c++) {
                num[c] = (r + c) & 1 ? 1 : -1;
                den[c] = (r + c + s) & 1 ? -1 : 1;
            }
            p += row("numals", r, num) + row("denals", r, den);
        }
        p += "  bitshift " + std::to_string(3 + s % 4) + "\n";
    }
    return p;
}

// A new engine with the full bank loaded into its current bank (bank 1,
// the only one in play, so every frame comes from it).
LaceyBanks* fullBank(int fmOn) {
    char path[] = "/tmp/quorvanel-bench-bank-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return nullptr;
    std::string text = fullBankPatch(fmOn);
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    LaceyBanks* engine = new LaceyBanks();
    if (ok) engine->textorium_script(path);
    std::remove(path);
    return engine;
}

// The axes wander through their range, each at its own pace, and byte 4
// (step size and prime limit) slowly; no buttons.
void nextReport(long period, signed char* report) {
    for (int k = 0; k < 4; k++) {
        int t = static_cast<int>((period * (3 + 2 * k) + 50 * k) % 400);
        report[k] = static_cast<signed char>((t < 200 ? t : 400 - t) - 100);
    }
    report[4] = static_cast<signed char>((period / 8) % 120 - 60);
    report[5] = report[6] = report[7] = 0;
}

double threadCpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// One period as the host runs it: the period's report, 256 frames converted
// to bytes, beging. Kept out of line so that callgrind can count it alone
// (--toggle-collect=*onePeriod*).
[[gnu::noinline]] void onePeriod(LaceyBanks* engine, long period, unsigned char* unit) {
    static int deviceStandIn;
    signed char report[8];
    nextReport(period, report);
    engine->chubness(reinterpret_cast<ChubDevice*>(&deviceStandIn), _CHUBREPORT{report, 8});
    for (int f = 0; f < kPeriod; f++) pcm_convert_frame(engine->gingness(f, kPeriod), unit + 4 * f);
    engine->beging();
}

void runPeriods(benchmark::State& state, int fmOn) {
    LaceyBanks* engine = fullBank(fmOn);
    if (!engine) {
        state.SkipWithError("cannot write the patch file");
        return;
    }
    unsigned char unit[kPeriod * 4];
    long period = 0;
    double cpu0 = threadCpuSeconds();
    for (auto _ : state) {
        onePeriod(engine, period++, unit);
        benchmark::DoNotOptimize(unit);
    }
    // CPU time of this thread over the loop, so the figures hold on a
    // machine busy with other work; plain counters print as plain numbers.
    double cpu = threadCpuSeconds() - cpu0;
    double frames = static_cast<double>(state.iterations()) * kPeriod;
    state.counters["ns_per_frame"] = cpu * 1e9 / frames;
    state.counters["ns_per_situation_frame"] = cpu * 1e9 / (frames * kSituations);
    state.counters["realtime_x"] = frames / kRate / cpu;
    delete engine;
}

void BM_FullBankPeriod(benchmark::State& state) { runPeriods(state, 1); }
BENCHMARK(BM_FullBankPeriod)->Unit(benchmark::kMicrosecond);

// The same bank with every generator inhibited: what the FM pass costs is
// the difference.
void BM_FullBankPeriodNoFM(benchmark::State& state) { runPeriods(state, 0); }
BENCHMARK(BM_FullBankPeriodNoFM)->Unit(benchmark::kMicrosecond);

// Start-up: building the engine (the lattice store and ten fresh banks).
void BM_EngineBuild(benchmark::State& state) {
    for (auto _ : state) {
        LaceyBanks* engine = new LaceyBanks();
        benchmark::DoNotOptimize(engine);
        delete engine;
    }
}
BENCHMARK(BM_EngineBuild)->Unit(benchmark::kMillisecond);

// Without timing: exactly `periods` periods of the full bank, for counting
// instructions. Prints how many situation-frames that was.
int fixedRun(long periods) {
    LaceyBanks* engine = fullBank(1);
    if (!engine) return 1;
    unsigned char unit[kPeriod * 4];
    long checksum = 0;
    for (long p = 0; p < periods; p++) {
        onePeriod(engine, p, unit);
        for (unsigned char b : unit) checksum += b;
    }
    std::printf("%ld periods, %ld situation-frames, checksum %ld\n", periods, periods * kPeriod * kSituations,
                checksum);
    delete engine;
    return 0;
}

// The same load for quorvanel-render: the bank's patch, and a script with
// the benchmark's report at the start of each of `periods` periods.
int writeFiles(const char* patchPath, const char* scriptPath, long periods) {
    FILE* p = std::fopen(patchPath, "wb");
    FILE* s = std::fopen(scriptPath, "wb");
    if (!p || !s) return 1;
    std::string text = fullBankPatch(1);
    std::fwrite(text.data(), 1, text.size(), p);
    std::fprintf(s, "# The full-bank benchmark's moving axes, one report a period.\n");
    for (long period = 0; period < periods; period++) {
        signed char r[8];
        nextReport(period, r);
        std::fprintf(s, "%ld report", period * kPeriod);
        for (int k = 0; k < 8; k++) std::fprintf(s, " %d", r[k]);
        std::fprintf(s, "\n");
    }
    bool ok = std::fclose(p) == 0;
    return std::fclose(s) == 0 && ok ? 0 : 1;
}

}  // namespace

// `--periods N` runs the fixed count (see fixedRun); `--write PATCH SCRIPT N`
// writes the load for the renderer; anything else goes to Google Benchmark.
int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--periods") return fixedRun(std::atol(argv[2]));
    if (argc == 5 && std::string(argv[1]) == "--write") return writeFiles(argv[2], argv[3], std::atol(argv[4]));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
