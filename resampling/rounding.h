#pragma once

// Rounding of mixed and filtered values to 16-bit samples.

#include <algorithm>
#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tesk::samplerateconverter {

// The nearest 16-bit sample, halves to even; values beyond full scale become
// full scale.
inline std::int16_t roundToSample(float value) {
#if defined(__SSE2__)
    const __m128 clamped =
        _mm_min_ss(_mm_max_ss(_mm_set_ss(value), _mm_set_ss(-32768.0f)), _mm_set_ss(32767.0f));
    return static_cast<std::int16_t>(_mm_cvtss_si32(clamped));
#else
    return static_cast<std::int16_t>(std::lrint(std::min(std::max(value, -32768.0f), 32767.0f)));
#endif
}

} // namespace tesk::samplerateconverter
