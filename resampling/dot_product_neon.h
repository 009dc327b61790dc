#pragma once

// The dot products on 64-bit ARM, whose NEON unit every processor has: four
// lanes per dot product with fused multiply-adds, as the AVX2 kernel fuses
// them, added up pairwise at the end.

#include <arm_neon.h>

namespace tesk::samplerateconverter::neon {

// out[lane] = sum of x[lane][k] * h[row][k] for k below count (a multiple
// of 4), row being lane or, for a shared row, 0.
template <int kLanes, bool kSharedRow>
void dot(const float* const* x, const float* const* h, int count, float* out) {
    float32x4_t sums[kLanes];
#pragma GCC unroll 8
    for (int lane = 0; lane < kLanes; ++lane) {
        sums[lane] = vdupq_n_f32(0.0f);
    }
    for (int k = 0; k < count; k += 4) {
#pragma GCC unroll 8
        for (int lane = 0; lane < kLanes; ++lane) {
            const float* row = h[kSharedRow ? 0 : lane];
            sums[lane] = vfmaq_f32(sums[lane], vld1q_f32(x[lane] + k), vld1q_f32(row + k));
        }
    }
#pragma GCC unroll 2
    for (int lane = 0; lane < kLanes; lane += 4) {
        const float32x4_t pairs01 = vpaddq_f32(sums[lane], sums[lane + 1]);
        const float32x4_t pairs23 = vpaddq_f32(sums[lane + 2], sums[lane + 3]);
        vst1q_f32(out + lane, vpaddq_f32(pairs01, pairs23));
    }
}

} // namespace tesk::samplerateconverter::neon
