// Cost of one FM generator frame at full modulation: all 32 FM cells set,
// triangle voices, the axes moving every period, the generator on. One
// iteration is one gingModulate call; a report and the end of the period
// come every 256 calls, as the host delivers them.
#include "lattice/PerspexStabile.h"
#include "sound/RoyalFMoutarde.h"
#include "sound/RoyalMinister.h"
#include "voice/Barre.h"
#include "voice/Chinkwonkanater.h"
#include "voice/SponGinger.h"

#include <benchmark/benchmark.h>

namespace {

void BM_gingModulate(benchmark::State& state) {
    static PerspexStabile stabile;
    Barre barre;
    Chinkwonkanater chink(&stabile, &barre);
    SponGinger ginger(&chink, &barre, &stabile);
    RoyalMinister rm(&chink, &ginger, &barre);
    RoyalFMoutarde fm(&ginger, &barre, &rm);
    ginger.ginggong();  // waveform from the phase: triangle
    const int ratios[4][2] = {{3, 2}, {5, 4}, {7, 6}, {9, 8}};
    for (int v = 0; v < 4; v++) ginger.oscirate(v, ratios[v][0], ratios[v][1]);
    fm.charactros();
    for (int i = 0; i < 4; i++)
        for (int c = 0; c < 4; c++) {
            fm.setNumal(i, c, (i + c) & 1 ? 1 : -1);
            fm.setDenal(i, c, (i + c) & 1 ? -1 : 1);
        }
    fm.setBitshift(4);
    unsigned seed = 12345;
    signed char report[8] = {};
    int frame = 0;
    long long sum = 0;
    for (auto _ : state) {
        if (frame == 0) {
            for (int k = 0; k < 4; k++) {
                seed = seed * 1103515245u + 12345u;
                report[k] = static_cast<signed char>(seed >> 16);
            }
            fm.bbarr(report);
        }
        int* out = fm.gingModulate(frame, RoyalFMoutarde::kPeriod);
        sum += out[0] - out[1];
        if (++frame == RoyalFMoutarde::kPeriod) {
            frame = 0;
            fm.beging();
        }
    }
    benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_gingModulate);

}  // namespace

BENCHMARK_MAIN();
