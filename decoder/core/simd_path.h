#pragma once

// The vector width the core's inner loops run at, chosen once per process.
//
// The loops are written once and compiled twice: for the baseline of the
// target (SSE2 on x86-64) and, on x86-64, for AVX2 with fused multiply-adds,
// taken when the processor has both. Both builds do the same operations in
// the same order, but the AVX2 build fuses a product and the sum it feeds
// into one rounding, so the two outputs may differ by a rounding step of a
// sample (both stay within the conformance bound). Setting the environment
// variable TESK_QUOR_SIMD to "baseline" forces the baseline build, so that
// both can be tested on one machine.

#include <type_traits>

namespace tesk::quor {

// Four doubles side by side: two SSE2 registers on the baseline build, one
// AVX2 register on the AVX2 build. Functions taking or returning them by
// value must be inlined, as their calling convention differs between the
// builds.
using Lanes4 = double __attribute__((vector_size(4 * sizeof(double))));

// Eight floats side by side, the lanes of single precision on the AVX2
// build; four floats, one SSE2 register, on the baseline build, and two
// doubles for its alias reduction and mid/side stereo. A vector wider than
// the target's registers is kept in memory, its comparisons, selections and
// shuffles done lane by lane through it.
using Floats8 = float __attribute__((vector_size(8 * sizeof(float))));
using Floats4 = float __attribute__((vector_size(4 * sizeof(float))));
using Doubles2 = double __attribute__((vector_size(2 * sizeof(double))));

// The number of lanes of a vector of floats or doubles.
template <typename Lanes> constexpr int lane_count() {
    return static_cast<int>(sizeof(Lanes) / sizeof(Lanes{}[0]));
}

// Rows a and b interleaved lane by lane into two vectors, the way the
// target shuffles in one instruction each: four doubles take their even and
// their odd lanes (AVX2 shuffles within 128-bit halves), four floats their
// low and their high halves (SSE2).
inline void interleave(const Lanes4& a, const Lanes4& b, Lanes4& even, Lanes4& odd) {
    even = __builtin_shufflevector(a, b, 0, 4, 2, 6);
    odd = __builtin_shufflevector(a, b, 1, 5, 3, 7);
}

inline void interleave(const Floats4& a, const Floats4& b, Floats4& low, Floats4& high) {
    low = __builtin_shufflevector(a, b, 0, 4, 1, 5);
    high = __builtin_shufflevector(a, b, 2, 6, 3, 7);
}

// The first halves of a and b side by side, and their second halves.
template <typename Four>
inline void join_halves(const Four& a, const Four& b, Four& low, Four& high) {
    low = __builtin_shufflevector(a, b, 0, 1, 4, 5);
    high = __builtin_shufflevector(a, b, 2, 3, 6, 7);
}

// Column j of the 4 x 4 matrix whose rows are rows[0..3], for j = 0..3
// (Four: Lanes4 or Floats4): rows 0 and 1 and rows 2 and 3 interleaved,
// and the halves of the interleavings joined. Even and odd lanes give
// columns 0 and 2 and columns 1 and 3; low and high halves give columns 0
// and 1 and columns 2 and 3.
template <typename Four> inline void transpose4(const Four* rows, Four* columns) {
    constexpr int kNext = std::is_same_v<Four, Lanes4> ? 2 : 1;
    Four first01;
    Four second01;
    Four first23;
    Four second23;
    interleave(rows[0], rows[1], first01, second01);
    interleave(rows[2], rows[3], first23, second23);
    join_halves(first01, first23, columns[0], columns[kNext]);
    join_halves(second01, second23, columns[3 - kNext], columns[3]);
}

// The lanes in reverse order.
#define TESK_QUOR_REVERSED(lanes) __builtin_shufflevector((lanes), (lanes), 3, 2, 1, 0)

enum class SimdPath { kBaseline, kAvx2 };

// The path of this process: decided on first call from the processor and
// TESK_QUOR_SIMD ("baseline" or "auto"; any other value is reported on the
// standard error stream and treated as "auto").
SimdPath simd_path();

// "baseline" or "avx2".
const char* simd_path_name(SimdPath path);

// Picks the build of a loop for this process's path.
template <typename Function> Function pick_simd(Function baseline, Function avx2) {
    return simd_path() == SimdPath::kAvx2 ? avx2 : baseline;
}

// The arithmetic of the transforms after dequantisation (IMDCT and the
// synthesis filter bank): single precision by default, twice as many lanes
// per vector; double precision when the environment variable
// TESK_QUOR_PRECISION is "double". Both keep every conformance stream
// within its bound; the switch exists so that both can be tested and
// compared on one machine.
enum class Precision { kDouble, kSingle };

// The precision of this process: decided on first call from
// TESK_QUOR_PRECISION ("single" or "double"; any other value is reported on
// the standard error stream and treated as "single").
Precision precision();

// "single" or "double".
const char* precision_name(Precision precision);

// Picks the build of a loop for this process's precision and path.
template <typename Function>
Function pick_build(Function double_baseline, Function double_avx2, Function single_baseline,
                    Function single_avx2) {
    return precision() == Precision::kDouble ? pick_simd(double_baseline, double_avx2)
                                             : pick_simd(single_baseline, single_avx2);
}

} // namespace tesk::quor

// Marks the AVX2 build of a loop, with fused multiply-adds (the compiler
// contracts a product and the sum it feeds); on other targets the AVX2 build
// is the baseline one again and never picked.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TESK_QUOR_AVX2 [[gnu::target("avx2,fma")]]
#else
#define TESK_QUOR_AVX2
#endif
