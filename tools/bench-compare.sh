#!/bin/sh
# Compares builds of the full-bank benchmark on a machine whose speed moves
# from run to run: many short runs of each, taken in turn, so that every
# build meets the same moments; prints the fastest and the median
# ns_per_situation_frame of each.
#   tools/bench-compare.sh ROUNDS BENCH...   (e.g. 8 old/quorvanel-bench-bank build/quorvanel-bench-bank)
set -e
rounds=$1
shift
for i in $(seq "$rounds"); do
    for bench in "$@"; do
        "$bench" --benchmark_filter='FullBankPeriod$' --benchmark_counters_tabular=true \
            --benchmark_min_time=0.02 --benchmark_repetitions=15 2>/dev/null |
            awk -v b="$bench" '/^BM_FullBankPeriod /{print b, $8}'
    done
done | sort -k1,1 -k2,2n | awk '
    { v[$1] = v[$1] " " $2; n[$1]++ }
    END { for (b in v) { split(substr(v[b], 2), a, " "); printf "%s: fastest %s, median %s ns per situation-frame\n", b, a[1], a[int((n[b] + 1) / 2)] } }'
