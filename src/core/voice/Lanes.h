// Lanes: four signed 32-bit ints, one per voice of a ratio set, so that a
// frame's arithmetic is written once for the four voices. These are GCC's
// generic vectors: the compiler maps them onto what every machine of the
// target has (SSE2 on any x86-64), so the build does not depend on the
// build machine's CPU. Lane arithmetic wraps like the scalar code's
// (-fwrapv); comparisons give all ones (true) or 0 per lane; shifts are
// arithmetic and take counts 0..31 only.
// DoubleLanes: the same four voices as doubles, for the phase division.
// WideLanes: eight ints, two sets of four voices side by side (one
// 256-bit register where the machine has them).
#pragma once

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

using Lanes = int __attribute__((vector_size(16)));
using DoubleLanes = double __attribute__((vector_size(32)));
using WideLanes = int __attribute__((vector_size(32)));

// For the function that runs a bank's frame: compiled twice, for every
// x86-64 and for those with AVX2 (x86-64-v3), where the lanes need fewer
// instructions (one multiply instead of seven, no copies of operands); the
// loader picks the one the CPU can run, so the build stays the same on any
// build machine. Everything the function calls is compiled into it, so
// both copies hold the whole frame. Elsewhere it is one function.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define LANES_FRAME [[gnu::target_clones("default", "arch=x86-64-v3"), gnu::flatten]]
#else
#define LANES_FRAME [[gnu::flatten]]
#endif

// Loads and stores go through memcpy: the int arrays they read need no
// particular alignment.
inline Lanes loadLanes(const int* p) {
    Lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void storeLanes(int* p, Lanes v) { std::memcpy(p, &v, sizeof v); }

inline Lanes everyLane(int x) { return Lanes{x, x, x, x}; }

// a where the mask is all ones, b where it is 0 (masks come from
// comparisons).
inline Lanes pick(Lanes mask, Lanes a, Lanes b) { return mask ? a : b; }

inline Lanes largerOf(Lanes a, Lanes b) { return a > b ? a : b; }
inline Lanes smallerOf(Lanes a, Lanes b) { return a < b ? a : b; }

// Lane i of v in all eight lanes.
template <int i>
inline WideLanes wideLane(Lanes v) {
    return __builtin_shufflevector(v, v, i, i, i, i, i, i, i, i);
}
inline Lanes lowLanes(WideLanes v) { return __builtin_shufflevector(v, v, 0, 1, 2, 3); }
inline Lanes highLanes(WideLanes v) { return __builtin_shufflevector(v, v, 4, 5, 6, 7); }

// The four lanes as doubles (exact). Written lane by lane because GCC
// makes that one instruction with AVX, where a vector conversion comes out
// as two halves and a merge.
inline DoubleLanes toDoubles(Lanes v) {
    return DoubleLanes{static_cast<double>(v[0]), static_cast<double>(v[1]), static_cast<double>(v[2]),
                       static_cast<double>(v[3])};
}

// Bit i set when lane i is below 0.
inline int signBits(Lanes v) {
#ifdef __SSE2__
    return _mm_movemask_ps(_mm_castsi128_ps(reinterpret_cast<__m128i>(v)));
#else
    return (v[0] < 0) | (v[1] < 0) << 1 | (v[2] < 0) << 2 | (v[3] < 0) << 3;
#endif
}

// Whether any lane of a mask (all ones or 0 per lane) is set.
inline bool anyLane(Lanes mask) { return signBits(mask) != 0; }

// Whether every lane of a mask is set.
inline bool allLanes(Lanes mask) { return signBits(mask) == 15; }

// The sum of the four lanes of a in lane 0 and of b in lane 1; the sums
// wrap like scalar additions in any order.
inline Lanes sumPairs(Lanes a, Lanes b) {
    Lanes low = {a[0], b[0], a[1], b[1]}, high = {a[2], b[2], a[3], b[3]};
    Lanes t = low + high;
    return t + Lanes{t[2], t[3], t[0], t[1]};
}
