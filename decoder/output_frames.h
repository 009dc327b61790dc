// Output frames: one decoded MPEG frame's samples with their format, carried
// from frame assembly to the decoder object.
#pragma once

#include <cstdint>
#include <memory>

namespace tesk::quor {

// Frame type codes, told apart by frame assembly.
enum FrameType : std::int32_t {
    kFrameTypeNone = 0,
    kFrameTypeAudio = 257,
    kFrameTypePCM = 258,
    kFrameTypeFloat = 259,
};

// Non-polymorphic base holding the frame type.
struct Frame {
    std::int32_t type = kFrameTypeNone;
};

// A frame that holds only a format; its sample operations do nothing.
class AudioFrame : public Frame {
public:
    AudioFrame();
    virtual ~AudioFrame() = default;
    AudioFrame(const AudioFrame&) = default;
    AudioFrame& operator=(const AudioFrame&) = default;

    virtual std::int32_t GetSampleCount() const { return 0; }
    virtual void SetSampleCount(std::int32_t /*count*/) {}
    virtual std::int32_t GetCapacity() const { return 0; }
    virtual void Clear() {}
    virtual void AddStereoFloat(float* /*left*/, float* /*right*/, std::int32_t /*count*/) {}
    virtual void AddFloat(float* /*samples*/, std::int32_t /*count*/) {}
    virtual void SetFrom16Bit(const std::int16_t* /*samples*/, std::int32_t /*count*/) {}
    virtual void SetSilence(std::int32_t /*count*/) {}

    void SetFormat(std::int32_t twoChannels, std::int32_t sampleRate);
    void CopyFormatTo(AudioFrame& other) const;
    bool SameFormat(const AudioFrame& other) const;

    std::int32_t twoChannels = -1;
    std::int32_t sampleRate = -1;
    std::int32_t bitsPerSample = -1;
    std::int32_t formatWord1 = -1;
    std::int32_t formatWord2 = -1;

protected:
    void SetSampleFormat(std::int32_t bits, FrameType frameType);
};

// Bytes per sample frame of a format: bits per sample / 8 per channel.
std::int32_t BlockAlign(const AudioFrame& format);

// Bytes of one sample in a QUOR_SAMPLES_ format; 0 for a value that names
// none.
std::int32_t BytesPerSample(std::int32_t sampleFormat);

// Writes count samples on the 16-bit scale (full scale 32768) at out in a
// QUOR_SAMPLES_ format, little-endian: integers rounded to nearest and
// saturated (16-bit halves away from zero, as the synthesis rounds), floats
// divided by 32768 and never clipped.
void PackSamples(const float* values, std::int32_t count, std::int32_t sampleFormat,
                 std::uint8_t* out);
// The same for 16-bit samples, which every format holds exactly.
void PackSamples(const std::int16_t* values, std::int32_t count, std::int32_t sampleFormat,
                 std::uint8_t* out);

// A frame of samples of type T: the sample count and capacity operations
// shared by the 16-bit and float frames.
template <typename T> class SampleFrame : public AudioFrame {
public:
    explicit SampleFrame(std::int32_t capacity)
        : samples_(std::make_unique<T[]>(static_cast<std::size_t>(capacity))), capacity_(capacity) {
    }

    std::int32_t GetSampleCount() const override { return count_; }
    void SetSampleCount(std::int32_t count) override { count_ = count; }
    std::int32_t GetCapacity() const override { return capacity_; }
    void Clear() override { count_ = 0; }

    T* Samples() { return samples_.get(); }
    const T* Samples() const { return samples_.get(); }

protected:
    // The number of values that still fit, at most wanted.
    std::int32_t Room(std::int32_t wanted) const;

    std::unique_ptr<T[]> samples_;
    std::int32_t count_ = 0;
    std::int32_t capacity_ = 0;
};

// Signed 16-bit samples, channels interleaved.
class PCMFrame : public SampleFrame<std::int16_t> {
public:
    explicit PCMFrame(std::int32_t capacity);

    void AddStereoFloat(float* left, float* right, std::int32_t count) override;
    void AddFloat(float* samples, std::int32_t count) override;
    void SetFrom16Bit(const std::int16_t* samples, std::int32_t count) override;
    void SetSilence(std::int32_t count) override;

private:
    void AppendConverted(float& value);
};

// 32-bit float samples, channels interleaved.
class FloatFrame : public SampleFrame<float> {
public:
    explicit FloatFrame(std::int32_t capacity);

    void AddFloat(float* samples, std::int32_t count) override;
    void SetFrom16Bit(const std::int16_t* samples, std::int32_t count) override;
    void SetSilence(std::int32_t count) override;
};

} // namespace tesk::quor
