#include "decoder/output_frames.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "quor/quor.h"

namespace tesk::quor {

AudioFrame::AudioFrame() {
    type = kFrameTypeAudio;
}

void AudioFrame::SetFormat(std::int32_t channelsFlag, std::int32_t rate) {
    twoChannels = channelsFlag;
    sampleRate = rate;
}

void AudioFrame::CopyFormatTo(AudioFrame& other) const {
    other.twoChannels = twoChannels;
    other.sampleRate = sampleRate;
    other.bitsPerSample = bitsPerSample;
    other.formatWord1 = formatWord1;
    other.formatWord2 = formatWord2;
}

bool AudioFrame::SameFormat(const AudioFrame& other) const {
    return twoChannels == other.twoChannels && sampleRate == other.sampleRate &&
           bitsPerSample == other.bitsPerSample && formatWord1 == other.formatWord1 &&
           formatWord2 == other.formatWord2;
}

void AudioFrame::SetSampleFormat(std::int32_t bits, FrameType frameType) {
    bitsPerSample = bits;
    formatWord1 = 1;
    formatWord2 = 1;
    type = frameType;
}

std::int32_t BlockAlign(const AudioFrame& format) {
    return format.bitsPerSample / 8 * (format.twoChannels == 1 ? 2 : 1);
}

std::int32_t BytesPerSample(std::int32_t sampleFormat) {
    switch (sampleFormat) {
    case QUOR_SAMPLES_INT16:
        return 2;
    case QUOR_SAMPLES_INT24:
        return 3;
    case QUOR_SAMPLES_INT32:
    case QUOR_SAMPLES_FLOAT:
        return 4;
    default:
        return 0;
    }
}

namespace {

// The scale of an integer format over the 16-bit one and its range.
struct IntegerScale {
    double factor;
    double lowest;
    double highest;
};

constexpr IntegerScale kInt24Scale{256.0, -8388608.0, 8388607.0};
constexpr IntegerScale kInt32Scale{65536.0, -2147483648.0, 2147483647.0};
constexpr float kFloatScale = 1.0f / 32768.0f;

void PutLittleEndian(std::int64_t value, std::int32_t bytes, std::uint8_t* out) {
    const auto bits = static_cast<std::uint64_t>(value);
    for (std::int32_t i = 0; i < bytes; ++i) {
        out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

// The nearest integer of the scaled value within the format's range; NaN
// becomes 0.
std::int64_t ScaleAndSaturate(float value, const IntegerScale& scale) {
    const double scaled = static_cast<double>(value) * scale.factor;
    if (std::isnan(scaled)) {
        return 0;
    }
    return static_cast<std::int64_t>(
        std::nearbyint(std::clamp(scaled, scale.lowest, scale.highest)));
}

// The 16-bit sample of a value: half away from zero, saturated.
std::int16_t RoundToInt16(float value) {
    if (std::isnan(value)) {
        return 0;
    }
    return static_cast<std::int16_t>(std::round(std::clamp(value, -32768.0f, 32767.0f)));
}

template <typename T>
void PackIntegers(const T* values, std::int32_t count, const IntegerScale& scale,
                  std::int32_t bytes, std::uint8_t* out) {
    for (std::int32_t i = 0; i < count; ++i) {
        PutLittleEndian(ScaleAndSaturate(static_cast<float>(values[i]), scale), bytes,
                        out + static_cast<std::ptrdiff_t>(i) * bytes);
    }
}

template <typename T> void PackFloats(const T* values, std::int32_t count, std::uint8_t* out) {
    for (std::int32_t i = 0; i < count; ++i) {
        const float value = static_cast<float>(values[i]) * kFloatScale;
        std::memcpy(out + static_cast<std::ptrdiff_t>(i) * 4, &value, sizeof value);
    }
}

template <typename T>
void PackAny(const T* values, std::int32_t count, std::int32_t sampleFormat, std::uint8_t* out) {
    switch (sampleFormat) {
    case QUOR_SAMPLES_INT24:
        PackIntegers(values, count, kInt24Scale, 3, out);
        break;
    case QUOR_SAMPLES_INT32:
        PackIntegers(values, count, kInt32Scale, 4, out);
        break;
    case QUOR_SAMPLES_FLOAT:
        PackFloats(values, count, out);
        break;
    default:
        for (std::int32_t i = 0; i < count; ++i) {
            const std::int16_t sample = RoundToInt16(static_cast<float>(values[i]));
            std::memcpy(out + static_cast<std::ptrdiff_t>(i) * 2, &sample, sizeof sample);
        }
        break;
    }
}

#if defined(__SSE2__)

// Four values scaled, NaN made 0: the scaling by a power of two is exact, as
// in double.
__m128 ScaledFour(const float* values, float factor) {
    const __m128 scaled = _mm_mul_ps(_mm_loadu_ps(values), _mm_set1_ps(factor));
    return _mm_and_ps(scaled, _mm_cmpord_ps(scaled, scaled));
}

// Four 24-bit samples as two 48-bit words, stored 6 bytes apart; each store
// writes 8 bytes, so the caller leaves 2 bytes of room past the 12.
void StoreInt24Four(__m128i samples, std::uint8_t* out) {
    const __m128i low = _mm_set_epi32(0, 0xFFFFFF, 0, 0xFFFFFF);
    const __m128i even = _mm_and_si128(samples, low);
    const __m128i odd = _mm_and_si128(_mm_srli_epi64(samples, 32), low);
    const __m128i words = _mm_or_si128(even, _mm_slli_epi64(odd, 24));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), words);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 6), _mm_srli_si128(words, 8));
}

// The leading values packed four at a time, as PackAny packs them; returns
// how many.
std::int32_t PackFours(const float* values, std::int32_t count, std::int32_t sampleFormat,
                       std::uint8_t* out) {
    std::int32_t i = 0;
    switch (sampleFormat) {
    case QUOR_SAMPLES_INT24:
        for (; i + 5 <= count; i += 4) {
            const __m128 clamped =
                _mm_min_ps(_mm_max_ps(ScaledFour(values + i, 256.0f), _mm_set1_ps(-8388608.0f)),
                           _mm_set1_ps(8388607.0f));
            StoreInt24Four(_mm_cvtps_epi32(clamped), out + static_cast<std::ptrdiff_t>(i) * 3);
        }
        break;
    case QUOR_SAMPLES_INT32:
        // Conversion turns what lies beyond the range into INT32_MIN; the
        // values at or above 2^31 flip it to INT32_MAX.
        for (; i + 4 <= count; i += 4) {
            const __m128 scaled = ScaledFour(values + i, 65536.0f);
            const __m128i over = _mm_castps_si128(_mm_cmpge_ps(scaled, _mm_set1_ps(2147483648.0f)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + static_cast<std::ptrdiff_t>(i) * 4),
                             _mm_xor_si128(_mm_cvtps_epi32(scaled), over));
        }
        break;
    case QUOR_SAMPLES_FLOAT:
        for (; i + 4 <= count; i += 4) {
            _mm_storeu_ps(reinterpret_cast<float*>(out + static_cast<std::ptrdiff_t>(i) * 4),
                          _mm_mul_ps(_mm_loadu_ps(values + i), _mm_set1_ps(kFloatScale)));
        }
        break;
    default:
        break;
    }
    return i;
}

#else

std::int32_t PackFours(const float*, std::int32_t, std::int32_t, std::uint8_t*) {
    return 0;
}

#endif

} // namespace

void PackSamples(const float* values, std::int32_t count, std::int32_t sampleFormat,
                 std::uint8_t* out) {
    const std::int32_t packed = PackFours(values, count, sampleFormat, out);
    PackAny(values + packed, count - packed, sampleFormat,
            out + static_cast<std::ptrdiff_t>(packed) * BytesPerSample(sampleFormat));
}

void PackSamples(const std::int16_t* values, std::int32_t count, std::int32_t sampleFormat,
                 std::uint8_t* out) {
    if (sampleFormat == QUOR_SAMPLES_INT16) {
        std::memcpy(out, values, static_cast<std::size_t>(count) * sizeof *values);
        return;
    }
    PackAny(values, count, sampleFormat, out);
}

template <typename T> std::int32_t SampleFrame<T>::Room(std::int32_t wanted) const {
    return std::clamp(wanted, 0, capacity_ - count_);
}

template class SampleFrame<std::int16_t>;
template class SampleFrame<float>;

PCMFrame::PCMFrame(std::int32_t capacity) : SampleFrame(capacity) {
    SetSampleFormat(16, kFrameTypePCM);
}

void PCMFrame::AppendConverted(float& value) {
    value *= 32767.0f;
    const float rounded = std::isnan(value) ? 0.0f : std::nearbyint(value);
    samples_[static_cast<std::size_t>(count_++)] =
        static_cast<std::int16_t>(std::clamp(rounded, -32768.0f, 32767.0f));
}

void PCMFrame::AddStereoFloat(float* left, float* right, std::int32_t count) {
    if (left == nullptr) {
        return;
    }
    const bool interleave = twoChannels == 1 && right != nullptr;
    const std::int32_t n = interleave ? Room(count * 2) / 2 : Room(count);
    for (std::int32_t i = 0; i < n; ++i) {
        AppendConverted(left[i]);
        if (interleave) {
            AppendConverted(right[i]);
        }
    }
}

void PCMFrame::AddFloat(float* samples, std::int32_t count) {
    const std::int32_t n = Room(count);
    for (std::int32_t i = 0; i < n; ++i) {
        AppendConverted(samples[i]);
    }
}

void PCMFrame::SetFrom16Bit(const std::int16_t* samples, std::int32_t count) {
    count_ = 0;
    const std::int32_t n = Room(count);
    std::copy_n(samples, n, samples_.get());
    count_ = n;
}

void PCMFrame::SetSilence(std::int32_t count) {
    count_ = 0;
    const std::int32_t n = Room(count);
    std::fill_n(samples_.get(), n, std::int16_t{0});
    count_ = n;
}

FloatFrame::FloatFrame(std::int32_t capacity) : SampleFrame(capacity) {
    SetSampleFormat(32, kFrameTypeFloat);
}

void FloatFrame::AddFloat(float* samples, std::int32_t count) {
    const std::int32_t n = Room(count);
    std::copy_n(samples, n, samples_.get() + count_);
    count_ += n;
}

void FloatFrame::SetFrom16Bit(const std::int16_t* samples, std::int32_t count) {
    count_ = 0;
    const std::int32_t n = Room(count);
    for (std::int32_t i = 0; i < n; ++i) {
        samples_[static_cast<std::size_t>(i)] = static_cast<float>(samples[i]) * 3.0517578125e-5f;
    }
    count_ = n;
}

void FloatFrame::SetSilence(std::int32_t count) {
    count_ = 0;
    const std::int32_t n = Room(count);
    std::fill_n(samples_.get(), n, 0.0f);
    count_ = n;
}

} // namespace tesk::quor
