#pragma once

// Dot products of float vectors for the resampler's filters, four at a time
// so that the processor overlaps them, using the widest vector unit it offers
// (chosen once, at first use).

namespace tesk::samplerateconverter {

// For each of the four lanes i, out[i] = sum of x[i][k] * h[i][k] for k
// below count; count is a multiple of 8.
using DotKernel = void (*)(const float* const* x, const float* const* h, int count, float* out);

struct DotKernels {
    // Each lane with a row of its own.
    DotKernel rows;
    // Every lane with h[0]: the row is read once for all four.
    DotKernel sharedRow;
};

// The fastest kernels for this processor.
const DotKernels& dotKernels();

} // namespace tesk::samplerateconverter
