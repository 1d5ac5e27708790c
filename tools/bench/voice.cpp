// Cost of the ratio set's per-frame and per-report work: one frame of the
// four oscillators (triangle, phase output, FM offsets arriving every frame),
// and the motion steps a report can trigger at their longest (a numerator
// search that tries 126 numbers and finds none; a 64-link chain walk).
#include "lattice/PerspexStabile.h"
#include "voice/Barre.h"
#include "voice/Chinkwonkanater.h"
#include "voice/SponGinger.h"

#include <benchmark/benchmark.h>

namespace {

PerspexStabile& lattice() {
    static PerspexStabile stabile;
    return stabile;
}

void BM_gingFourVoices(benchmark::State& state) {
    Barre barre;
    Chinkwonkanater chink(&lattice(), &barre);
    SponGinger ginger(&chink, &barre, &lattice());
    ginger.ginggong();
    const int ratios[4][2] = {{3, 2}, {5, 4}, {7, 6}, {9, 8}};
    for (int v = 0; v < 4; v++) ginger.oscirate(v, ratios[v][0], ratios[v][1]);
    int sum = 0;
    for (auto _ : state) {
        for (int v = 0; v < 4; v++) {
            int out = ginger.ging(v);
            sum += out;
            ginger.moutardateNume((v + 1) & 3, out >> 6);
            ginger.moutardateDeno((v + 2) & 3, out >> 8);
        }
    }
    benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_gingFourVoices);

void BM_refusedNumberSearch(benchmark::State& state) {
    Barre barre;
    Chinkwonkanater chink(&lattice(), &barre);  // limit 2: only powers of two pass
    SponGinger ginger(&chink, &barre, &lattice());
    ginger.oscirate(0, 129, 1);
    int r = 0;
    for (auto _ : state) r += ginger.kingalNume(0, 126);  // 255 down to 130: all refused
    if (r != 0) state.SkipWithError("a refused search moved the ratio");
    benchmark::DoNotOptimize(r);
}
BENCHMARK(BM_refusedNumberSearch);

void BM_chainWalk64(benchmark::State& state) {
    Barre barre;
    Chinkwonkanater chink(&lattice(), &barre);
    chink.chink(127);  // limit 251: every ratio passes
    SponGinger ginger(&chink, &barre, &lattice());
    int n = 64;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ginger.queenalis(0, n));
        n = n > 0 ? -65 : 64;  // up 64 links, down 64 links
    }
}
BENCHMARK(BM_chainWalk64);

}  // namespace

BENCHMARK_MAIN();
