#include "resampling/dot_product.h"

#if defined(__x86_64__) || defined(_M_X64)
// The compiler's AVX-512 intrinsics start from undefined registers, which its
// own flow analysis reports as uninitialised.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#define TESK_QUOR_X86_64 1
#endif

namespace tesk::samplerateconverter {

namespace {

// The windows and rows of the four lanes; with a shared row every lane reads
// the first, so the compiler loads it once.
template <bool kSharedRow> struct Lanes {
    Lanes(const float* const* x, const float* const* h)
        : x0(x[0]), x1(x[1]), x2(x[2]), x3(x[3]), h0(h[0]), h1(kSharedRow ? h[0] : h[1]),
          h2(kSharedRow ? h[0] : h[2]), h3(kSharedRow ? h[0] : h[3]) {}
    const float* x0;
    const float* x1;
    const float* x2;
    const float* x3;
    const float* h0;
    const float* h1;
    const float* h2;
    const float* h3;
};

#ifdef TESK_QUOR_X86_64

// SSE2, the baseline of every x86-64 processor: one four-lane sum per dot
// product, transposed at the end so that one addition tree serves all four.
template <bool kSharedRow>
void dotSse2(const float* const* x, const float* const* h, int count, float* out) {
    const Lanes<kSharedRow> l(x, h);
    __m128 s0 = _mm_setzero_ps();
    __m128 s1 = _mm_setzero_ps();
    __m128 s2 = _mm_setzero_ps();
    __m128 s3 = _mm_setzero_ps();
    for (int k = 0; k < count; k += 4) {
        s0 = _mm_add_ps(s0, _mm_mul_ps(_mm_loadu_ps(l.x0 + k), _mm_loadu_ps(l.h0 + k)));
        s1 = _mm_add_ps(s1, _mm_mul_ps(_mm_loadu_ps(l.x1 + k), _mm_loadu_ps(l.h1 + k)));
        s2 = _mm_add_ps(s2, _mm_mul_ps(_mm_loadu_ps(l.x2 + k), _mm_loadu_ps(l.h2 + k)));
        s3 = _mm_add_ps(s3, _mm_mul_ps(_mm_loadu_ps(l.x3 + k), _mm_loadu_ps(l.h3 + k)));
    }
    _MM_TRANSPOSE4_PS(s0, s1, s2, s3);
    _mm_storeu_ps(out, _mm_add_ps(_mm_add_ps(s0, s1), _mm_add_ps(s2, s3)));
}

// The four eight-lane sums added up, one result per sum.
__attribute__((target("avx2,fma"))) void storeSums(__m256 s0, __m256 s1, __m256 s2, __m256 s3,
                                                   float* out) {
    const __m256 pairs = _mm256_hadd_ps(_mm256_hadd_ps(s0, s1), _mm256_hadd_ps(s2, s3));
    _mm_storeu_ps(out, _mm_add_ps(_mm256_castps256_ps128(pairs), _mm256_extractf128_ps(pairs, 1)));
}

// AVX2 with fused multiply-add: eight lanes per dot product.
template <bool kSharedRow>
__attribute__((target("avx2,fma"))) void dotAvx2(const float* const* x, const float* const* h,
                                                 int count, float* out) {
    const Lanes<kSharedRow> l(x, h);
    __m256 s0 = _mm256_setzero_ps();
    __m256 s1 = _mm256_setzero_ps();
    __m256 s2 = _mm256_setzero_ps();
    __m256 s3 = _mm256_setzero_ps();
    for (int k = 0; k < count; k += 8) {
        s0 = _mm256_fmadd_ps(_mm256_loadu_ps(l.x0 + k), _mm256_loadu_ps(l.h0 + k), s0);
        s1 = _mm256_fmadd_ps(_mm256_loadu_ps(l.x1 + k), _mm256_loadu_ps(l.h1 + k), s1);
        s2 = _mm256_fmadd_ps(_mm256_loadu_ps(l.x2 + k), _mm256_loadu_ps(l.h2 + k), s2);
        s3 = _mm256_fmadd_ps(_mm256_loadu_ps(l.x3 + k), _mm256_loadu_ps(l.h3 + k), s3);
    }
    storeSums(s0, s1, s2, s3, out);
}

// The upper eight lanes added to the lower eight.
__attribute__((target("avx512f,avx2,fma"))) __m256 halves(__m512 sum) {
    const __m256d upper = _mm512_extractf64x4_pd(_mm512_castps_pd(sum), 1);
    return _mm256_add_ps(_mm512_castps512_ps256(sum), _mm256_castpd_ps(upper));
}

// AVX-512: sixteen lanes per dot product; a count that is not a multiple
// of 16 ends with a masked half.
template <bool kSharedRow>
__attribute__((target("avx512f,avx2,fma"))) void
dotAvx512(const float* const* x, const float* const* h, int count, float* out) {
    const Lanes<kSharedRow> l(x, h);
    __m512 s0 = _mm512_setzero_ps();
    __m512 s1 = _mm512_setzero_ps();
    __m512 s2 = _mm512_setzero_ps();
    __m512 s3 = _mm512_setzero_ps();
    const int whole = count & ~15;
    for (int k = 0; k < whole; k += 16) {
        s0 = _mm512_fmadd_ps(_mm512_loadu_ps(l.x0 + k), _mm512_loadu_ps(l.h0 + k), s0);
        s1 = _mm512_fmadd_ps(_mm512_loadu_ps(l.x1 + k), _mm512_loadu_ps(l.h1 + k), s1);
        s2 = _mm512_fmadd_ps(_mm512_loadu_ps(l.x2 + k), _mm512_loadu_ps(l.h2 + k), s2);
        s3 = _mm512_fmadd_ps(_mm512_loadu_ps(l.x3 + k), _mm512_loadu_ps(l.h3 + k), s3);
    }
    if (whole < count) {
        const __mmask16 half = 0x00FF;
        const int k = whole;
        s0 = _mm512_fmadd_ps(_mm512_maskz_loadu_ps(half, l.x0 + k),
                             _mm512_maskz_loadu_ps(half, l.h0 + k), s0);
        s1 = _mm512_fmadd_ps(_mm512_maskz_loadu_ps(half, l.x1 + k),
                             _mm512_maskz_loadu_ps(half, l.h1 + k), s1);
        s2 = _mm512_fmadd_ps(_mm512_maskz_loadu_ps(half, l.x2 + k),
                             _mm512_maskz_loadu_ps(half, l.h2 + k), s2);
        s3 = _mm512_fmadd_ps(_mm512_maskz_loadu_ps(half, l.x3 + k),
                             _mm512_maskz_loadu_ps(half, l.h3 + k), s3);
    }
    storeSums(halves(s0), halves(s1), halves(s2), halves(s3), out);
}

DotKernels chooseKernels() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) {
        return {dotAvx512<false>, dotAvx512<true>};
    }
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
        return {dotAvx2<false>, dotAvx2<true>};
    }
    return {dotSse2<false>, dotSse2<true>};
}

#else

template <bool kSharedRow>
void dotPortable(const float* const* x, const float* const* h, int count, float* out) {
    for (int lane = 0; lane < 4; ++lane) {
        const float* row = h[kSharedRow ? 0 : lane];
        float sums[8] = {};
        for (int k = 0; k < count; k += 8) {
            for (int part = 0; part < 8; ++part) {
                sums[part] += x[lane][k + part] * row[k + part];
            }
        }
        out[lane] = ((sums[0] + sums[1]) + (sums[2] + sums[3])) +
                    ((sums[4] + sums[5]) + (sums[6] + sums[7]));
    }
}

DotKernels chooseKernels() {
    return {dotPortable<false>, dotPortable<true>};
}

#endif

} // namespace

const DotKernels& dotKernels() {
    static const DotKernels kernels = chooseKernels();
    return kernels;
}

} // namespace tesk::samplerateconverter
