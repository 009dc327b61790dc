#include "resampling/kaiser.h"

#include <cmath>
#include <numbers>

namespace tesk::samplerateconverter {

namespace {

// Zeroth-order modified Bessel function of the first kind, by its series.
double besselI0(double x) {
    double sum = 1.0;
    double term = 1.0;
    const double quarterSquare = x * x / 4.0;
    for (int k = 1; term > sum * 1e-17; ++k) {
        term *= quarterSquare / (static_cast<double>(k) * k);
        sum += term;
    }
    return sum;
}

} // namespace

double sinc(double x) {
    if (x == 0.0) {
        return 1.0;
    }
    const double arg = std::numbers::pi * x;
    return std::sin(arg) / arg;
}

KaiserWindow::KaiserWindow(double halfWidth, double beta)
    : m_halfWidth(halfWidth), m_beta(beta), m_centre(besselI0(beta)) {}

double KaiserWindow::operator()(double offset) const {
    const double ratio = offset / m_halfWidth;
    if (ratio <= -1.0 || ratio >= 1.0) {
        return 0.0;
    }
    return besselI0(m_beta * std::sqrt(1.0 - ratio * ratio)) / m_centre;
}

} // namespace tesk::samplerateconverter
