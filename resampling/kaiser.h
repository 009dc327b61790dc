#pragma once

// The pieces of a Kaiser-windowed sinc filter shared by both resamplers.

namespace tesk::samplerateconverter {

// sin(pi x) / (pi x), 1 at 0.
double sinc(double x);

// The Kaiser window of shape beta at offset from its centre; 0 at and beyond
// halfWidth.
double kaiser(double offset, double halfWidth, double beta);

} // namespace tesk::samplerateconverter
