// Start-up cost of the lattice store: the primes, the 256 numbers, the
// 1 + 255 × 255 ratio nodes of the sorted chain, the look-up table and the
// colour ramp, built window-less (colours skip the X server).
// Run: build-<dir>/quorvanel-bench-lattice --benchmark_counters_tabular=true
#include "lattice/PerspexStabile.h"

#include <benchmark/benchmark.h>

namespace {

// Heap bytes the store owns besides its own object.
long storeBytes(PerspexStabile& s) {
    long bytes = sizeof(PerspexStabile);
    bytes += long(sizeof(RatChord)) * PerspexStabile::kNodes;
    bytes += long(sizeof(RatChord*)) * PerspexStabile::kTerms * PerspexStabile::kTerms;
    for (Prime* p = s.getTruth(); p; p = p->next()) bytes += sizeof(Prime);
    for (int i = 0; i < PerspexStabile::kTerms; i++)
        for (Multaple* m = s.getNumba(i)->getFactors(); m; m = m->next()) bytes += sizeof(Multaple);
    return bytes;
}

void BM_BuildStore(benchmark::State& state) {
    long bytes = 0;
    for (auto _ : state) {
        PerspexStabile s;
        benchmark::DoNotOptimize(s.getQuadrangularis());
        bytes = storeBytes(s);
    }
    state.counters["nodes"] = PerspexStabile::kNodes;
    state.counters["bytes_per_node"] = sizeof(RatChord);
    state.counters["store_bytes"] = double(bytes);
}
BENCHMARK(BM_BuildStore)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
