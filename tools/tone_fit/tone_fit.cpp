#include "tools/tone_fit/tone_fit.h"

#include <cmath>
#include <numbers>

namespace tesk::tonefit {

namespace {

using Matrix = std::vector<std::vector<double>>;

// Solves the normal equations, held with their right-hand side in the last
// column, by Gauss-Jordan elimination; they are symmetric and positive
// definite, so no pivoting is needed.
std::vector<double> solve(Matrix normal) {
    const std::size_t terms = normal.size();
    for (std::size_t pivot = 0; pivot < terms; ++pivot) {
        for (std::size_t row = 0; row < terms; ++row) {
            if (row == pivot) {
                continue;
            }
            const double factor = normal[row][pivot] / normal[pivot][pivot];
            for (std::size_t column = pivot; column <= terms; ++column) {
                normal[row][column] -= factor * normal[pivot][column];
            }
        }
    }
    std::vector<double> weights(terms);
    for (std::size_t i = 0; i < terms; ++i) {
        weights[i] = normal[i][terms] / normal[i][i];
    }
    return weights;
}

} // namespace

ToneFit fitTones(const std::vector<double>& signal, int rate,
                 const std::vector<double>& frequencies, std::size_t edge) {
    const std::size_t terms = 2 * frequencies.size();
    std::vector<double> basis(terms);
    const auto fillBasis = [&](std::size_t n) {
        for (std::size_t i = 0; i < terms; i += 2) {
            const double angle =
                2.0 * std::numbers::pi * frequencies[i / 2] * static_cast<double>(n) / rate;
            basis[i] = std::sin(angle);
            basis[i + 1] = std::cos(angle);
        }
    };
    Matrix normal(terms, std::vector<double>(terms + 1, 0.0));
    for (std::size_t n = edge; n + edge < signal.size(); ++n) {
        fillBasis(n);
        for (std::size_t i = 0; i < terms; ++i) {
            for (std::size_t j = 0; j < terms; ++j) {
                normal[i][j] += basis[i] * basis[j];
            }
            normal[i][terms] += basis[i] * signal[n];
        }
    }
    const std::vector<double> weights = solve(normal);
    ToneFit fit;
    for (std::size_t i = 0; i < terms; i += 2) {
        fit.amplitudes.push_back(std::hypot(weights[i], weights[i + 1]));
    }
    fit.fitted.assign(signal.size(), 0.0);
    for (std::size_t n = edge; n + edge < signal.size(); ++n) {
        fillBasis(n);
        for (std::size_t i = 0; i < terms; ++i) {
            fit.fitted[n] += weights[i] * basis[i];
        }
    }
    return fit;
}

double thdPlusNoise(const std::vector<double>& signal, int rate, double frequency,
                    std::size_t edge) {
    const ToneFit fit = fitTones(signal, rate, {frequency}, edge);
    double tone = 0.0;
    double rest = 0.0;
    for (std::size_t n = edge; n + edge < signal.size(); ++n) {
        tone += fit.fitted[n] * fit.fitted[n];
        rest += (signal[n] - fit.fitted[n]) * (signal[n] - fit.fitted[n]);
    }
    return 10.0 * std::log10(rest / tone);
}

double decibels(double ratio) {
    return 20.0 * std::log10(ratio);
}

} // namespace tesk::tonefit
