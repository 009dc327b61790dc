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

namespace tesk::quor {

// Four doubles side by side: two SSE2 registers on the baseline build, one
// AVX2 register on the AVX2 build. Functions taking or returning them by
// value must be inlined, as their calling convention differs between the
// builds.
using Lanes4 = double __attribute__((vector_size(4 * sizeof(double))));

// Eight floats side by side, the lanes of single precision on the AVX2
// build. Four floats fill one SSE2 register: the baseline build runs single
// precision four lanes wide, since a vector wider than the target's
// registers is kept in memory and its comparisons, selections and shuffles
// are done lane by lane through it, and two doubles are its lanes for the
// alias reduction likewise.
using Floats8 = float __attribute__((vector_size(8 * sizeof(float))));
using Floats4 = float __attribute__((vector_size(4 * sizeof(float))));
using Doubles2 = double __attribute__((vector_size(2 * sizeof(double))));

// The number of lanes of a vector of floats or doubles.
template <typename Lanes> constexpr int lane_count() {
    return static_cast<int>(sizeof(Lanes) / sizeof(Lanes{}[0]));
}

// Column j of the 4 x 4 matrix whose rows are rows[0..3], for j = 0..3.
inline void transpose4(const Lanes4* rows, Lanes4* columns) {
    const Lanes4 even01 = __builtin_shufflevector(rows[0], rows[1], 0, 4, 2, 6);
    const Lanes4 odd01 = __builtin_shufflevector(rows[0], rows[1], 1, 5, 3, 7);
    const Lanes4 even23 = __builtin_shufflevector(rows[2], rows[3], 0, 4, 2, 6);
    const Lanes4 odd23 = __builtin_shufflevector(rows[2], rows[3], 1, 5, 3, 7);
    columns[0] = __builtin_shufflevector(even01, even23, 0, 1, 4, 5);
    columns[1] = __builtin_shufflevector(odd01, odd23, 0, 1, 4, 5);
    columns[2] = __builtin_shufflevector(even01, even23, 2, 3, 6, 7);
    columns[3] = __builtin_shufflevector(odd01, odd23, 2, 3, 6, 7);
}

// The same for four floats, through the interleavings of low and high
// halves that SSE2 does in one instruction each.
inline void transpose4(const Floats4* rows, Floats4* columns) {
    const Floats4 low01 = __builtin_shufflevector(rows[0], rows[1], 0, 4, 1, 5);
    const Floats4 high01 = __builtin_shufflevector(rows[0], rows[1], 2, 6, 3, 7);
    const Floats4 low23 = __builtin_shufflevector(rows[2], rows[3], 0, 4, 1, 5);
    const Floats4 high23 = __builtin_shufflevector(rows[2], rows[3], 2, 6, 3, 7);
    columns[0] = __builtin_shufflevector(low01, low23, 0, 1, 4, 5);
    columns[1] = __builtin_shufflevector(low01, low23, 2, 3, 6, 7);
    columns[2] = __builtin_shufflevector(high01, high23, 0, 1, 4, 5);
    columns[3] = __builtin_shufflevector(high01, high23, 2, 3, 6, 7);
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
