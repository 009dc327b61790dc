#pragma once

// A linear-phase low-pass filter designed by weighted least squares, as a
// function of continuous time, for the high-quality resampler's filter rows.
//
// The filter is even, spans taps input samples and is found as its samples
// at a fine spacing: they minimise the squared error of the response,
// weighted 1 in the pass band (gain 1) and heavily in the stop band (gain
// 0). Unlike a windowed sinc, whose pass-band and stop-band ripples are
// equal, this spends the loose pass-band tolerance on a shorter filter.
// Between its samples the filter is read through a band-limited
// interpolator.

#include <vector>

namespace tesk::samplerateconverter {

class CLowpassPrototype {
public:
    // Edges in cycles per input sample, 0 < passEdge < stopEdge <= 0.5;
    // taps even.
    CLowpassPrototype(double passEdge, double stopEdge, int taps);

    // The filter at time t in input samples from its centre.
    double at(double t) const;

    // Taps that keep the pass band within 0.06 dB and the stop band 108 dB
    // down for a transition from passEdge to stopEdge.
    static int tapsFor(double passEdge, double stopEdge);

private:
    double sample(long n) const;

    // Input samples between two of the filter's samples.
    double m_spacing;
    // The filter's samples from its centre on; it is even.
    std::vector<double> m_samples;
};

} // namespace tesk::samplerateconverter
