#pragma once

// Levels of pure tones in a signal by a least-squares fit of sines and
// cosines. The tones are fitted together, so a strong one does not leak into
// the level of a weak one; edge samples at both ends (a filter's run-in and
// run-out) are left out.

#include <cstddef>
#include <vector>

namespace tesk::tonefit {

struct ToneFit {
    // Peak amplitude of each tone, in the order asked for.
    std::vector<double> amplitudes;
    // The fitted tones, sample by sample; 0 in the edges.
    std::vector<double> fitted;
};

ToneFit fitTones(const std::vector<double>& signal, int rate,
                 const std::vector<double>& frequencies, std::size_t edge);

// Everything but the fitted tone at frequency, against that tone, in dB.
double thdPlusNoise(const std::vector<double>& signal, int rate, double frequency,
                    std::size_t edge);

double decibels(double ratio);

} // namespace tesk::tonefit
