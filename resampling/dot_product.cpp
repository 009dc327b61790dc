#include "resampling/dot_product.h"

#if defined(__x86_64__) || defined(_M_X64)
// The compiler's AVX-512 intrinsics start from undefined registers, which its
// own flow analysis reports as uninitialised.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#pragma GCC diagnostic pop
#define TESK_QUOR_X86_64 1
#elif defined(__aarch64__)
#include "resampling/dot_product_neon.h"
#endif

namespace tesk::samplerateconverter {

namespace {

// The positions kernel on top of a rows kernel: a batch's lanes take the
// planes of as many positions as fit.
template <DotKernel kRows>
void positionsByRows(const float* const* planes, int planeCount, const std::int64_t* offsets,
                     const float* const* rows, int positionCount, int count, float* const* out) {
    const int perBatch = kRowLanes / planeCount;
    DotBatch<kRowLanes> batch;
    for (int first = 0; first < positionCount; first += perBatch) {
        const int positions = positionCount - first < perBatch ? positionCount - first : perBatch;
        batch.lanes = 0;
        for (int j = first; j < first + positions; ++j) {
            for (int plane = 0; plane < planeCount; ++plane) {
                batch.add(planes[plane] + offsets[j], rows[j]);
            }
        }
        batch.run(kRows, count);
        for (int j = 0; j < positions; ++j) {
            for (int plane = 0; plane < planeCount; ++plane) {
                out[plane][first + j] = batch.sums[j * planeCount + plane];
            }
        }
    }
}

// The row of a lane: its own, or the first one when all lanes share it.
template <bool kSharedRow> const float* rowOf(const float* const* h, int lane) {
    return h[kSharedRow ? 0 : lane];
}

#ifdef TESK_QUOR_X86_64

// SSE2, the baseline of every x86-64 processor: one four-lane sum per dot
// product, transposed at the end so that one addition tree serves four.
template <int kLanes, bool kSharedRow>
void dotSse2(const float* const* x, const float* const* h, int count, float* out) {
    __m128 sums[kLanes];
#pragma GCC unroll 8
    for (int lane = 0; lane < kLanes; ++lane) {
        sums[lane] = _mm_setzero_ps();
    }
    for (int k = 0; k < count; k += 4) {
#pragma GCC unroll 8
        for (int lane = 0; lane < kLanes; ++lane) {
            sums[lane] =
                _mm_add_ps(sums[lane], _mm_mul_ps(_mm_loadu_ps(x[lane] + k),
                                                  _mm_loadu_ps(rowOf<kSharedRow>(h, lane) + k)));
        }
    }
#pragma GCC unroll 2
    for (int lane = 0; lane < kLanes; lane += 4) {
        _MM_TRANSPOSE4_PS(sums[lane], sums[lane + 1], sums[lane + 2], sums[lane + 3]);
        _mm_storeu_ps(out + lane, _mm_add_ps(_mm_add_ps(sums[lane], sums[lane + 1]),
                                             _mm_add_ps(sums[lane + 2], sums[lane + 3])));
    }
}

// Four eight-lane sums added up, one result each.
__attribute__((target("avx2,fma"))) void storeSums(const __m256* sums, float* out) {
    const __m256 pairs =
        _mm256_hadd_ps(_mm256_hadd_ps(sums[0], sums[1]), _mm256_hadd_ps(sums[2], sums[3]));
    _mm_storeu_ps(out, _mm_add_ps(_mm256_castps256_ps128(pairs), _mm256_extractf128_ps(pairs, 1)));
}

// AVX2 positions of one or two planes: the lanes' pointers stay in
// registers, and the planes of a position read its row once. Each lane is
// summed as dotAvx2 sums it.
template <int kPlanes>
__attribute__((target("avx2,fma"))) void
positionsAvx2(const float* const* planes, const std::int64_t* offsets, const float* const* rows,
              int positionCount, int count, float* const* out) {
    constexpr int kPerBatch = kRowLanes / kPlanes;
    for (int first = 0; first < positionCount; first += kPerBatch) {
        const float* x[kRowLanes];
        const float* h[kPerBatch];
#pragma GCC unroll 8
        for (int j = 0; j < kPerBatch; ++j) {
            // Lanes past the last position repeat it.
            const int position = first + j < positionCount ? first + j : positionCount - 1;
            h[j] = rows[position];
#pragma GCC unroll 2
            for (int plane = 0; plane < kPlanes; ++plane) {
                x[j * kPlanes + plane] = planes[plane] + offsets[position];
            }
        }
        __m256 sums[kRowLanes] = {};
        for (int k = 0; k < count; k += 8) {
#pragma GCC unroll 8
            for (int j = 0; j < kPerBatch; ++j) {
                const __m256 row = _mm256_loadu_ps(h[j] + k);
#pragma GCC unroll 2
                for (int plane = 0; plane < kPlanes; ++plane) {
                    const int lane = j * kPlanes + plane;
                    sums[lane] = _mm256_fmadd_ps(_mm256_loadu_ps(x[lane] + k), row, sums[lane]);
                }
            }
        }
        float results[kRowLanes];
        storeSums(sums, results);
        storeSums(sums + 4, results + 4);
        const int positions = positionCount - first < kPerBatch ? positionCount - first : kPerBatch;
        for (int j = 0; j < positions; ++j) {
#pragma GCC unroll 2
            for (int plane = 0; plane < kPlanes; ++plane) {
                out[plane][first + j] = results[j * kPlanes + plane];
            }
        }
    }
}

// AVX2 with fused multiply-add: eight lanes per dot product.
template <int kLanes, bool kSharedRow>
__attribute__((target("avx2,fma"))) void dotAvx2(const float* const* x, const float* const* h,
                                                 int count, float* out) {
    __m256 sums[kLanes];
#pragma GCC unroll 8
    for (int lane = 0; lane < kLanes; ++lane) {
        sums[lane] = _mm256_setzero_ps();
    }
    for (int k = 0; k < count; k += 8) {
#pragma GCC unroll 8
        for (int lane = 0; lane < kLanes; ++lane) {
            sums[lane] =
                _mm256_fmadd_ps(_mm256_loadu_ps(x[lane] + k),
                                _mm256_loadu_ps(rowOf<kSharedRow>(h, lane) + k), sums[lane]);
        }
    }
#pragma GCC unroll 2
    for (int lane = 0; lane < kLanes; lane += 4) {
        storeSums(sums + lane, out + lane);
    }
}

// AVX-512: sixteen lanes per dot product; a count that is not a multiple
// of 16 ends with a masked half.
template <int kLanes, bool kSharedRow>
__attribute__((target("avx512f,avx2,fma"))) void
dotAvx512(const float* const* x, const float* const* h, int count, float* out) {
    __m512 sums[kLanes];
#pragma GCC unroll 8
    for (int lane = 0; lane < kLanes; ++lane) {
        sums[lane] = _mm512_setzero_ps();
    }
    const int whole = count & ~15;
    for (int k = 0; k < whole; k += 16) {
#pragma GCC unroll 8
        for (int lane = 0; lane < kLanes; ++lane) {
            sums[lane] =
                _mm512_fmadd_ps(_mm512_loadu_ps(x[lane] + k),
                                _mm512_loadu_ps(rowOf<kSharedRow>(h, lane) + k), sums[lane]);
        }
    }
    if (whole < count) {
        const __mmask16 half = 0x00FF;
#pragma GCC unroll 8
        for (int lane = 0; lane < kLanes; ++lane) {
            sums[lane] = _mm512_fmadd_ps(
                _mm512_maskz_loadu_ps(half, x[lane] + whole),
                _mm512_maskz_loadu_ps(half, rowOf<kSharedRow>(h, lane) + whole), sums[lane]);
        }
    }
    __m256 halves[kLanes];
#pragma GCC unroll 8
    for (int lane = 0; lane < kLanes; ++lane) {
        const __m256d upper = _mm512_extractf64x4_pd(_mm512_castps_pd(sums[lane]), 1);
        halves[lane] = _mm256_add_ps(_mm512_castps512_ps256(sums[lane]), _mm256_castpd_ps(upper));
    }
#pragma GCC unroll 2
    for (int lane = 0; lane < kLanes; lane += 4) {
        storeSums(halves + lane, out + lane);
    }
}

void positionsOnAvx2(const float* const* planes, int planeCount, const std::int64_t* offsets,
                     const float* const* rows, int positionCount, int count, float* const* out) {
    if (planeCount == 1) {
        positionsAvx2<1>(planes, offsets, rows, positionCount, count, out);
    } else if (planeCount == 2) {
        positionsAvx2<2>(planes, offsets, rows, positionCount, count, out);
    } else {
        positionsByRows<dotAvx2<kRowLanes, false>>(planes, planeCount, offsets, rows, positionCount,
                                                   count, out);
    }
}

DotKernels chooseKernels() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) {
        // Short rows fill the eight-lane vectors of AVX2 better, and the
        // fast resampler then gives the same samples on both.
        return {dotAvx512<kRowLanes, false>, dotAvx512<kSharedRowLanes, true>, positionsOnAvx2};
    }
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
        return {dotAvx2<kRowLanes, false>, dotAvx2<kSharedRowLanes, true>, positionsOnAvx2};
    }
    return {dotSse2<kRowLanes, false>, dotSse2<kSharedRowLanes, true>,
            positionsByRows<dotSse2<kRowLanes, false>>};
}

#else

template <int kLanes, bool kSharedRow>
void dotPortable(const float* const* x, const float* const* h, int count, float* out) {
    for (int lane = 0; lane < kLanes; ++lane) {
        const float* row = rowOf<kSharedRow>(h, lane);
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
#if defined(__aarch64__)
    return {neon::dot<kRowLanes, false>, neon::dot<kSharedRowLanes, true>,
            positionsByRows<neon::dot<kRowLanes, false>>};
#else
    return {dotPortable<kRowLanes, false>, dotPortable<kSharedRowLanes, true>,
            positionsByRows<dotPortable<kRowLanes, false>>};
#endif
}

#endif

} // namespace

const DotKernels& dotKernels() {
    static const DotKernels kernels = chooseKernels();
    return kernels;
}

} // namespace tesk::samplerateconverter
