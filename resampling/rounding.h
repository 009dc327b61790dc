#pragma once

// Rounding of mixed and filtered values to 16-bit samples.

#include <algorithm>
#include <cstdint>

namespace tesk::samplerateconverter {

// The nearest 16-bit sample, halves away from zero; values beyond full scale
// become full scale. The sum in double is exact.
inline std::int16_t roundToSample(float value) {
    const double clamped = std::clamp(static_cast<double>(value), -32768.0, 32767.0);
    return static_cast<std::int16_t>(clamped + (clamped < 0.0 ? -0.5 : 0.5));
}

} // namespace tesk::samplerateconverter
