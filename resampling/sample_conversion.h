#pragma once

// Conversions between 16-bit samples and the floats that are mixed and
// filtered.

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

// roundToSample of eight values at once.
inline void roundToSamples(const float* values, std::int16_t* samples) {
#if defined(__SSE2__)
    // Saturation in the packing clamps to full scale.
    const __m128i low = _mm_cvtps_epi32(_mm_loadu_ps(values));
    const __m128i high = _mm_cvtps_epi32(_mm_loadu_ps(values + 4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(samples), _mm_packs_epi32(low, high));
#else
    for (int k = 0; k < 8; ++k) {
        samples[k] = roundToSample(values[k]);
    }
#endif
}

// roundToSample of count values, each kept as a float in place.
inline void roundInPlace(float* values, int count) {
    int k = 0;
#if defined(__SSE2__)
    for (; k + 4 <= count; k += 4) {
        const __m128 clamped = _mm_min_ps(
            _mm_max_ps(_mm_loadu_ps(values + k), _mm_set1_ps(-32768.0f)), _mm_set1_ps(32767.0f));
        _mm_storeu_ps(values + k, _mm_cvtepi32_ps(_mm_cvtps_epi32(clamped)));
    }
#endif
    for (; k < count; ++k) {
        values[k] = roundToSample(values[k]);
    }
}

// An unsigned 8-bit sample of a 16-bit one: round(x / 256) + 128, halves
// away from zero, within 0 to 255.
inline std::uint8_t toUnsignedByte(double value) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(value / 256.0) + 128, 0L, 255L));
}

// toUnsignedByte of count 16-bit samples.
inline void toUnsignedBytes(const std::int16_t* samples, int count, std::uint8_t* bytes) {
    int k = 0;
#if defined(__SSE2__)
    // round(x / 256) + 128 is (x + 32768 + 128 - (x < 0)) >> 8 on unsigned
    // 16-bit lanes, the addition saturating where the rounding reaches 256.
    const __m128i bias = _mm_set1_epi16(-32768);
    const __m128i half = _mm_set1_epi16(128);
    for (; k + 16 <= count; k += 16) {
        __m128i parts[2] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + k)),
                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + k + 8))};
        for (__m128i& part : parts) {
            const __m128i nudge = _mm_sub_epi16(half, _mm_srli_epi16(part, 15));
            part = _mm_srli_epi16(_mm_adds_epu16(_mm_xor_si128(part, bias), nudge), 8);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + k),
                         _mm_packus_epi16(parts[0], parts[1]));
    }
#endif
    for (; k < count; ++k) {
        bytes[k] = toUnsignedByte(samples[k]);
    }
}

// count 16-bit samples as floats.
inline void widenToFloats(const std::int16_t* samples, int count, float* values) {
    int k = 0;
#if defined(__SSE2__)
    for (; k + 8 <= count; k += 8) {
        const __m128i packed = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + k));
        // Each sample into the top half of a 32-bit lane, shifted down with
        // its sign.
        const __m128i low = _mm_srai_epi32(_mm_unpacklo_epi16(packed, packed), 16);
        const __m128i high = _mm_srai_epi32(_mm_unpackhi_epi16(packed, packed), 16);
        _mm_storeu_ps(values + k, _mm_cvtepi32_ps(low));
        _mm_storeu_ps(values + k + 4, _mm_cvtepi32_ps(high));
    }
#endif
    for (; k < count; ++k) {
        values[k] = samples[k];
    }
}

#if defined(__SSE2__)
// Four stereo 16-bit frames as vectors of their left and right samples:
// each frame in a 32-bit lane, the left sample moved into the top half and
// both shifted down with their signs.
inline void splitFrames(__m128i frames, __m128& left, __m128& right) {
    left = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_slli_epi32(frames, 16), 16));
    right = _mm_cvtepi32_ps(_mm_srai_epi32(frames, 16));
}

// Four left and four right 32-bit samples as four stereo 16-bit frames,
// saturated.
inline __m128i interleaveFrames(__m128i left, __m128i right) {
    const __m128i both = _mm_packs_epi32(left, right);
    return _mm_unpacklo_epi16(both, _mm_srli_si128(both, 8));
}
#endif

// count interleaved stereo 16-bit frames as float planes.
inline void splitToFloats(const std::int16_t* frames, int count, float* left, float* right) {
    int k = 0;
#if defined(__SSE2__)
    for (; k + 4 <= count; k += 4) {
        __m128 lefts;
        __m128 rights;
        splitFrames(_mm_loadu_si128(reinterpret_cast<const __m128i*>(frames + 2 * k)), lefts,
                    rights);
        _mm_storeu_ps(left + k, lefts);
        _mm_storeu_ps(right + k, rights);
    }
#endif
    for (; k < count; ++k) {
        left[k] = frames[2 * k];
        right[k] = frames[2 * k + 1];
    }
}

// roundToSample of count values of two planes, interleaved into stereo
// frames.
inline void roundInterleaved(const float* left, const float* right, int count,
                             std::int16_t* frames) {
    int k = 0;
#if defined(__SSE2__)
    for (; k + 4 <= count; k += 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(frames + 2 * k),
                         interleaveFrames(_mm_cvtps_epi32(_mm_loadu_ps(left + k)),
                                          _mm_cvtps_epi32(_mm_loadu_ps(right + k))));
    }
#endif
    for (; k < count; ++k) {
        frames[2 * k] = roundToSample(left[k]);
        frames[2 * k + 1] = roundToSample(right[k]);
    }
}

} // namespace tesk::samplerateconverter
