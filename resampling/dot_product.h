#pragma once

// Dot products of float vectors for the resampler's filters, several at a
// time so that the processor overlaps them, using the widest vector unit it
// offers (chosen once, at first use).

namespace tesk::samplerateconverter {

// out[i] = sum of x[i][k] * h[i][k] for k below count, for each lane i;
// count is a multiple of 8.
using DotKernel = void (*)(const float* const* x, const float* const* h, int count, float* out);

struct DotKernels {
    // kRowLanes lanes, each with a row of its own.
    DotKernel rows;
    // kSharedRowLanes lanes that all use h[0]: the row is read once for all.
    DotKernel sharedRow;
};

constexpr int kRowLanes = 8;
constexpr int kSharedRowLanes = 8;

// The fastest kernels for this processor.
const DotKernels& dotKernels();

} // namespace tesk::samplerateconverter
