#include "resampling/lowpass_design.h"

#include "resampling/kaiser.h"

#include <cmath>
#include <cstdlib>
#include <numbers>

namespace tesk::samplerateconverter {

namespace {

// Stop-band weight against the pass band's 1; trades the pass-band ripple
// against the stop-band depth.
constexpr double kStopWeight = 3e6;
// Samples per cycle of the stop-band edge frequency.
constexpr double kSamplesPerEdgeCycle = 8.0;
// Taps times the transition width (cycles per input sample) for the
// weight above.
constexpr double kTapsTimesTransition = 5.18;
// The band-limited interpolator: a Kaiser-windowed sinc of this half width
// in filter samples and this shape, which passes the filter's band and
// rejects its images by far more than 108 dB.
constexpr int kInterpolatorHalfWidth = 13;
constexpr double kInterpolatorBeta = 14.0;

using Matrix = std::vector<std::vector<double>>;

// The interpolator's kernel, tabulated finely enough that reading it
// linearly between entries is exact to far below the stop band.
class Interpolator {
public:
    static constexpr int kSteps = 4096;

    Interpolator() : m_table(kInterpolatorHalfWidth * kSteps + 2) {
        for (std::size_t i = 0; i < m_table.size(); ++i) {
            const double offset = static_cast<double>(i) / kSteps;
            m_table[i] = sinc(offset) * kaiser(offset, kInterpolatorHalfWidth, kInterpolatorBeta);
        }
    }

    double operator()(double offset) const {
        const double position = std::abs(offset) * kSteps;
        const auto index = static_cast<std::size_t>(position);
        if (index + 1 >= m_table.size()) {
            return 0.0;
        }
        const double weight = position - static_cast<double>(index);
        return m_table[index] + weight * (m_table[index + 1] - m_table[index]);
    }

private:
    std::vector<double> m_table;
};

// The integral of cos(rate f) over f from low to high.
double integralOfCos(double rate, double low, double high) {
    if (rate == 0.0) {
        return high - low;
    }
    return (std::sin(rate * high) - std::sin(rate * low)) / rate;
}

// Solves the symmetric positive definite system a x = b in place by the
// Cholesky factorisation a = l l^T.
std::vector<double> solveSymmetric(Matrix a, std::vector<double> b) {
    const std::size_t size = b.size();
    for (std::size_t i = 0; i < size; ++i) {
        for (std::size_t k = 0; k < i; ++k) {
            a[i][i] -= a[i][k] * a[i][k];
        }
        a[i][i] = std::sqrt(a[i][i]);
        for (std::size_t j = i + 1; j < size; ++j) {
            for (std::size_t k = 0; k < i; ++k) {
                a[j][i] -= a[j][k] * a[i][k];
            }
            a[j][i] /= a[i][i];
        }
    }
    for (std::size_t i = 0; i < size; ++i) {
        for (std::size_t k = 0; k < i; ++k) {
            b[i] -= a[i][k] * b[k];
        }
        b[i] /= a[i][i];
    }
    for (std::size_t i = size; i-- > 0;) {
        for (std::size_t k = i + 1; k < size; ++k) {
            b[i] -= a[k][i] * b[k];
        }
        b[i] /= a[i][i];
    }
    return b;
}

} // namespace

int CLowpassPrototype::tapsFor(double passEdge, double stopEdge) {
    return 2 * static_cast<int>(std::ceil(kTapsTimesTransition / (stopEdge - passEdge) / 2.0));
}

// The response is s0 + sum over n >= 1 of 2 s_n cos(2 pi f n spacing); the
// normal equations of the weighted error integrate products of these
// cosines over each band, in closed form.
CLowpassPrototype::CLowpassPrototype(double passEdge, double stopEdge, int taps)
    : m_spacing(1.0 / (kSamplesPerEdgeCycle * stopEdge)) {
    const auto count = static_cast<std::size_t>(std::lround(taps / 2.0 / m_spacing)) + 1;
    const double nyquist = 0.5 / m_spacing;
    const double step = 2.0 * std::numbers::pi * m_spacing;
    // The weighted integral of cos(step k f) over both bands, for every k
    // that a difference or a sum of two indices makes.
    std::vector<double> weighted(2 * count - 1);
    for (std::size_t k = 0; k < weighted.size(); ++k) {
        const double rate = step * static_cast<double>(k);
        weighted[k] = integralOfCos(rate, 0.0, passEdge) +
                      kStopWeight * integralOfCos(rate, stopEdge, nyquist);
    }
    const auto scale = [](std::size_t n) { return n == 0 ? 1.0 : 2.0; };
    Matrix normal(count, std::vector<double>(count, 0.0));
    std::vector<double> target(count, 0.0);
    for (std::size_t m = 0; m < count; ++m) {
        for (std::size_t n = 0; n < count; ++n) {
            const std::size_t difference = m > n ? m - n : n - m;
            normal[m][n] = 0.5 * scale(m) * scale(n) * (weighted[difference] + weighted[m + n]);
        }
        target[m] = scale(m) * integralOfCos(step * static_cast<double>(m), 0.0, passEdge);
    }
    m_samples = solveSymmetric(std::move(normal), std::move(target));
}

double CLowpassPrototype::sample(long n) const {
    const auto index = static_cast<std::size_t>(std::labs(n));
    return index < m_samples.size() ? m_samples[index] : 0.0;
}

double CLowpassPrototype::at(double t) const {
    static const Interpolator interpolator;
    const double position = t / m_spacing;
    const auto nearest = static_cast<long>(std::floor(position));
    double value = 0.0;
    for (long n = nearest - kInterpolatorHalfWidth + 1; n <= nearest + kInterpolatorHalfWidth;
         ++n) {
        value += sample(n) * interpolator(position - static_cast<double>(n));
    }
    return value;
}

} // namespace tesk::samplerateconverter
