#include "resampling/dot_product.h"

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#define TESK_QUOR_X86_64 1
#endif

namespace tesk::samplerateconverter {

namespace {

#ifdef TESK_QUOR_X86_64

// SSE2, the baseline of every x86-64 processor: one four-lane sum per dot
// product, transposed at the end so that one addition tree serves all four.
void dotSse2(const float* const* x, const float* const* h, int count, float* out) {
    const float* x0 = x[0];
    const float* x1 = x[1];
    const float* x2 = x[2];
    const float* x3 = x[3];
    const float* h0 = h[0];
    const float* h1 = h[1];
    const float* h2 = h[2];
    const float* h3 = h[3];
    __m128 s0 = _mm_setzero_ps();
    __m128 s1 = _mm_setzero_ps();
    __m128 s2 = _mm_setzero_ps();
    __m128 s3 = _mm_setzero_ps();
    for (int k = 0; k < count; k += 4) {
        s0 = _mm_add_ps(s0, _mm_mul_ps(_mm_loadu_ps(x0 + k), _mm_loadu_ps(h0 + k)));
        s1 = _mm_add_ps(s1, _mm_mul_ps(_mm_loadu_ps(x1 + k), _mm_loadu_ps(h1 + k)));
        s2 = _mm_add_ps(s2, _mm_mul_ps(_mm_loadu_ps(x2 + k), _mm_loadu_ps(h2 + k)));
        s3 = _mm_add_ps(s3, _mm_mul_ps(_mm_loadu_ps(x3 + k), _mm_loadu_ps(h3 + k)));
    }
    _MM_TRANSPOSE4_PS(s0, s1, s2, s3);
    _mm_storeu_ps(out, _mm_add_ps(_mm_add_ps(s0, s1), _mm_add_ps(s2, s3)));
}

// AVX2 with fused multiply-add: eight lanes per dot product.
__attribute__((target("avx2,fma"))) void dotAvx2(const float* const* x, const float* const* h,
                                                 int count, float* out) {
    const float* x0 = x[0];
    const float* x1 = x[1];
    const float* x2 = x[2];
    const float* x3 = x[3];
    const float* h0 = h[0];
    const float* h1 = h[1];
    const float* h2 = h[2];
    const float* h3 = h[3];
    __m256 s0 = _mm256_setzero_ps();
    __m256 s1 = _mm256_setzero_ps();
    __m256 s2 = _mm256_setzero_ps();
    __m256 s3 = _mm256_setzero_ps();
    for (int k = 0; k < count; k += 8) {
        s0 = _mm256_fmadd_ps(_mm256_loadu_ps(x0 + k), _mm256_loadu_ps(h0 + k), s0);
        s1 = _mm256_fmadd_ps(_mm256_loadu_ps(x1 + k), _mm256_loadu_ps(h1 + k), s1);
        s2 = _mm256_fmadd_ps(_mm256_loadu_ps(x2 + k), _mm256_loadu_ps(h2 + k), s2);
        s3 = _mm256_fmadd_ps(_mm256_loadu_ps(x3 + k), _mm256_loadu_ps(h3 + k), s3);
    }
    const __m256 pairs = _mm256_hadd_ps(_mm256_hadd_ps(s0, s1), _mm256_hadd_ps(s2, s3));
    _mm_storeu_ps(out, _mm_add_ps(_mm256_castps256_ps128(pairs), _mm256_extractf128_ps(pairs, 1)));
}

DotKernel chooseKernel() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
        return dotAvx2;
    }
    return dotSse2;
}

#else

void dotPortable(const float* const* x, const float* const* h, int count, float* out) {
    for (int lane = 0; lane < 4; ++lane) {
        float sums[8] = {};
        for (int k = 0; k < count; k += 8) {
            for (int part = 0; part < 8; ++part) {
                sums[part] += x[lane][k + part] * h[lane][k + part];
            }
        }
        out[lane] = ((sums[0] + sums[1]) + (sums[2] + sums[3])) +
                    ((sums[4] + sums[5]) + (sums[6] + sums[7]));
    }
}

DotKernel chooseKernel() {
    return dotPortable;
}

#endif

} // namespace

DotKernel dotKernel() {
    static const DotKernel kernel = chooseKernel();
    return kernel;
}

} // namespace tesk::samplerateconverter
