#include "decoder/output_frames.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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
