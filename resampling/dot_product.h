#pragma once

// Dot products of float vectors for the resampler's filters, four at a time
// so that the processor overlaps them, using the widest vector unit it offers
// (chosen once, at first use).

namespace tesk::samplerateconverter {

// For each of the four lanes i, out[i] = sum of x[i][k] * h[i][k] for k
// below count; count is a multiple of 8.
using DotKernel = void (*)(const float* const* x, const float* const* h, int count, float* out);

// The fastest kernel for this processor.
DotKernel dotKernel();

} // namespace tesk::samplerateconverter
