#pragma once

// The pieces of a Kaiser-windowed sinc filter shared by both resamplers.

namespace tesk::samplerateconverter {

// sin(pi x) / (pi x), 1 at 0.
double sinc(double x);

// The Kaiser window of shape beta, 0 at and beyond halfWidth from its
// centre. The Bessel value of its centre, by which every point is divided,
// is computed once.
class KaiserWindow {
public:
    KaiserWindow(double halfWidth, double beta);

    // The window at offset from its centre.
    double operator()(double offset) const;

private:
    double m_halfWidth;
    double m_beta;
    double m_centre;
};

} // namespace tesk::samplerateconverter
