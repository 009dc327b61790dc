#pragma once

// Dot products of float vectors for the resampler's filters, several at a
// time so that the processor overlaps them, using the widest vector unit it
// offers (chosen once, at first use).

#include <cstdint>

namespace tesk::samplerateconverter {

// out[i] = sum of x[i][k] * h[i][k] for k below count, for each lane i;
// count is a multiple of 8.
using DotKernel = void (*)(const float* const* x, const float* const* h, int count, float* out);

// out[p][j] = sum of planes[p][offsets[j] + k] * rows[j][k] for k below
// count, for every position j below positionCount and plane p below
// planeCount (1 to 8): several channels filtered at the same positions.
// Each sum is added up as the rows kernel adds up a lane.
using PositionKernel = void (*)(const float* const* planes, int planeCount,
                                const std::int64_t* offsets, const float* const* rows,
                                int positionCount, int count, float* const* out);

struct DotKernels {
    // kRowLanes lanes, each with a row of its own.
    DotKernel rows;
    // kSharedRowLanes lanes that all use h[0]: the row is read once for all.
    DotKernel sharedRow;
    PositionKernel positions;
};

constexpr int kRowLanes = 8;
constexpr int kSharedRowLanes = 8;

// The fastest kernels for this processor.
const DotKernels& dotKernels();

// Dot products for a kernel of up to kLanes lanes; lanes left unused repeat
// the first one.
// Only the lanes in use are set: clearing the arrays for every batch would
// cost more than a short dot product.
template <int kLanes> struct DotBatch {
    const float* windows[kLanes];
    const float* rows[kLanes];
    float sums[kLanes];
    int lanes = 0;

    void add(const float* window, const float* row) {
        windows[lanes] = window;
        rows[lanes++] = row;
    }
    void run(DotKernel dot, int stride) {
        for (int lane = lanes; lane < kLanes; ++lane) {
            windows[lane] = windows[0];
            rows[lane] = rows[0];
        }
        dot(windows, rows, stride, sums);
    }
};

} // namespace tesk::samplerateconverter
