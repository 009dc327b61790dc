#pragma once

// Adapts decoded 16-bit PCM to the format a host asks for: another sample
// rate, another channel count, 16-bit or 8-bit samples. Each block passes
// four stages: conversion of the source samples to 16-bit, remixing into one
// plane per target channel, resampling of every plane, and packing into the
// target format. Input the resampler has not consumed yet is carried into
// the next block, so a stream may arrive in blocks of any size.

#include "resampling/resampler.h"

#include <tesk/AudioChunk.h>
#include <zelm/MemoryManager.h>
#include <zelm/Object.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace tesk::samplerateconverter {

class CSampleRateConverter : public zelm::CObject {
public:
    class CChannelConverter;

    // Converts blocks of interleaved frames of sourceChannelCount channels
    // of sourceBytesPerSample bytes (1: unsigned 8-bit; 2: 16-bit; 3 and 4:
    // 24 and 32-bit, of which the top 16 bits are kept) at sourceRate into
    // chunks of targetChannelCount channels at targetRate, with
    // targetBytesPerSample 2 (16-bit) or 1 (unsigned 8-bit). Blocks come
    // from memoryManager, or from a manager of the converter's own when it
    // is null. planarOutput puts the channels one after another instead of
    // interleaving them. Throws zelm::CError for a rate, channel count or
    // sample size that is not positive or not supported.
    CSampleRateConverter(std::int32_t sourceRate, std::int32_t sourceChannelCount,
                         std::int32_t sourceBytesPerSample, std::int32_t targetRate,
                         std::int32_t targetChannelCount, std::int32_t targetBytesPerSample,
                         zelm::P<zelm::IMemoryManager> memoryManager, bool planarOutput);
    ~CSampleRateConverter() override;

    // The converter of interleaved output the plug-in uses.
    static zelm::P<CSampleRateConverter>
    create(std::int32_t sourceRate, std::int32_t sourceChannelCount,
           std::int32_t sourceBytesPerSample, std::int32_t targetRate,
           std::int32_t targetChannelCount, std::int32_t targetBytesPerSample,
           zelm::P<zelm::IMemoryManager> memoryManager);

    // Converts byteCount bytes of interleaved source frames; a trailing
    // partial frame is dropped. acmod names the source's channel layout, -1
    // for none. Null data or a byte count of 0 stands for one second of
    // silence. The chunk holds what the resampler could produce so far and
    // is stamped with the time of its first frame.
    zelm::P<tesk::audio::IAudioChunk> convert(const void* data, std::int32_t byteCount,
                                              std::int32_t acmod);

    // Ends the stream: the input the resampler still holds back for its
    // filter's later taps is converted, followed by silence, so that the
    // stream's chunks hold round(N x target rate / source rate) frames in
    // all for the N source frames converted since construction (all N when
    // the rates agree). An empty holder when no frame is left; convert is
    // not called after it.
    zelm::P<tesk::audio::IAudioChunk> flush();

    // Stamps the next chunk with seconds and counts later chunks from there.
    void setStartTime(double seconds);

    // The most channels a source frame or a target may have.
    static constexpr int kMaxChannels = 8;
    using SourcePointers = std::array<const std::int16_t*, kMaxChannels>;
    using TargetPointers = std::array<std::int16_t*, kMaxChannels>;

    // Remixes interleaved 16-bit frames of one channel count into separate
    // 16-bit planes of another. One instance of each subclass serves a pair
    // of channel counts, optionally for one channel-layout code (acmod).
    class CChannelConverter : public zelm::CObject {
    public:
        // The acmod of a converter that serves any layout.
        static constexpr std::int32_t kAnyLayout = -1;

        CChannelConverter(std::int32_t sourceChannelCount, std::int32_t targetChannelCount,
                          std::int32_t acmod);

        std::int32_t getSourceChannelCount() const { return m_sourceChannelCount; }
        std::int32_t getTargetChannelCount() const { return m_targetChannelCount; }
        std::int32_t getAcmod() const { return m_acmod; }

        // Converts frameCount frames. sources[c] addresses channel c of the
        // first frame, frames lie sourceStride bytes apart; targets[k] is
        // where plane k receives its first sample and must have room for
        // frameCount samples. Both arrays are copies: the caller's pointers
        // do not move.
        virtual void convert(std::int32_t frameCount, SourcePointers sources,
                             std::int32_t sourceStride, TargetPointers targets) const = 0;

    private:
        std::int32_t m_sourceChannelCount;
        std::int32_t m_targetChannelCount;
        std::int32_t m_acmod;
    };

#define TESK_QUOR_CHANNEL_CONVERTER(Name)                                                          \
    class Name final : public CChannelConverter {                                                  \
    public:                                                                                        \
        Name();                                                                                    \
        void convert(std::int32_t frameCount, SourcePointers sources, std::int32_t sourceStride,   \
                     TargetPointers targets) const override;                                       \
    }

    TESK_QUOR_CHANNEL_CONVERTER(CMonoToMonoConverter);
    TESK_QUOR_CHANNEL_CONVERTER(CMonoToStereoConverter);
    TESK_QUOR_CHANNEL_CONVERTER(CMonoTo3ChannelConverter);
    TESK_QUOR_CHANNEL_CONVERTER(CMonoTo6ChannelConverter);
    TESK_QUOR_CHANNEL_CONVERTER(CStereoToMonoConverter);
    TESK_QUOR_CHANNEL_CONVERTER(CStereoToStereoConverter);
    TESK_QUOR_CHANNEL_CONVERTER(CStereoTo3ChannelConverter);
    TESK_QUOR_CHANNEL_CONVERTER(CStereoTo6ChannelConverter);
    TESK_QUOR_CHANNEL_CONVERTER(C3ChannelToMonoConverter);
    TESK_QUOR_CHANNEL_CONVERTER(C3ChannelToStereoConverter);
    TESK_QUOR_CHANNEL_CONVERTER(C3ChannelTo3ChannelConverter);
    TESK_QUOR_CHANNEL_CONVERTER(C3ChannelTo6ChannelConverter);
    TESK_QUOR_CHANNEL_CONVERTER(C3ChannelTo6ChannelConverterAcmod4);
    TESK_QUOR_CHANNEL_CONVERTER(C4ChannelToStereoConverter);
    TESK_QUOR_CHANNEL_CONVERTER(C4ChannelToStereoConverterAcmod5);
    TESK_QUOR_CHANNEL_CONVERTER(C4ChannelTo4ChannelConverter);
    TESK_QUOR_CHANNEL_CONVERTER(C4ChannelTo6ChannelConverter);
    TESK_QUOR_CHANNEL_CONVERTER(C4ChannelTo6ChannelConverterAcmod6);
    TESK_QUOR_CHANNEL_CONVERTER(C5ChannelToStereoConverter);
    TESK_QUOR_CHANNEL_CONVERTER(C5ChannelTo6Converter);
    TESK_QUOR_CHANNEL_CONVERTER(C6ChannelToMonoConverter);
    TESK_QUOR_CHANNEL_CONVERTER(C6ChannelToStereoConverter);
    TESK_QUOR_CHANNEL_CONVERTER(C6ChannelTo3ChannelConverter);
    TESK_QUOR_CHANNEL_CONVERTER(C6ChannelTo6ChannelConverter);
    TESK_QUOR_CHANNEL_CONVERTER(C8ChannelToStereoConverter);
    TESK_QUOR_CHANNEL_CONVERTER(C8ChannelTo6ChannelConverter);

#undef TESK_QUOR_CHANNEL_CONVERTER

    // Mixes source sample s into target sample t: a sum that saturates
    // smoothly towards full scale when both have the same sign.
    static std::int16_t mix(std::int16_t t, std::int32_t s);
    // The same with s attenuated by 3 dB (times sqrt(2) / 2, truncated).
    static std::int16_t mixAttenuated(std::int16_t t, std::int32_t s);
    // s times sqrt(2) / 2, truncated toward zero.
    static std::int32_t attenuate(std::int32_t s);

    // One instance of each converter class, in declaration order.
    static std::vector<zelm::P<CChannelConverter>> makeChannelConverters();

private:
    struct ContextCloser {
        void operator()(ResampleContext* context) const { av_resample_close(context); }
    };
    using Context = std::unique_ptr<ResampleContext, ContextCloser>;

    void checkFormat() const;
    const CChannelConverter& findChannelConverter(std::int32_t acmod) const;
    zelm::P<zelm::IMemoryBlock> allocate(std::int64_t bytes) const;
    zelm::P<zelm::IMemoryBlock> convertToShort(const std::uint8_t* data,
                                               std::int32_t byteCount) const;
    std::vector<zelm::P<zelm::IMemoryBlock>> convertChannels(const std::uint8_t* data,
                                                             std::int32_t byteCount,
                                                             std::int32_t frames,
                                                             std::int32_t acmod) const;
    std::int64_t outputBound(const zelm::P<zelm::IMemoryBlock>& plane) const;
    zelm::P<zelm::IMemoryBlock> silentSecond() const;
    // Converted frames packed in the target format.
    struct Converted {
        zelm::P<zelm::IMemoryBlock> block;
        std::int32_t frames = 0;
    };
    // Converts a block and carries what the resampler did not consume; the
    // packed output holds at most limit frames.
    Converted resample(const std::uint8_t* bytes, std::int32_t byteCount, std::int32_t acmod,
                       std::int64_t limit);
    zelm::P<tesk::audio::IAudioChunk> stamp(const Converted& converted);
    void pack(const std::vector<zelm::P<zelm::IMemoryBlock>>& outputs, std::int32_t produced,
              std::uint8_t* chunk) const;

    zelm::P<zelm::IMemoryManager> m_memoryManager;
    double m_startTime = -1.0;
    bool m_startTimeSet = false;
    std::int32_t m_sourceRate;
    std::int32_t m_sourceChannelCount;
    std::int32_t m_sourceBytesPerSample;
    std::int32_t m_targetRate;
    std::int32_t m_targetChannelCount;
    std::int32_t m_targetBytesPerSample;
    bool m_planarOutput;
    std::uint64_t m_framesProduced = 0;
    // Source frames taken and target frames handed out since construction.
    std::uint64_t m_framesIn = 0;
    std::uint64_t m_framesOut = 0;
    std::vector<zelm::P<zelm::IMemoryBlock>> m_planes;
    std::vector<std::int32_t> m_planeOffsets;
    std::vector<Context> m_contexts;
    std::vector<zelm::P<CChannelConverter>> m_channelConverters;
};

} // namespace tesk::samplerateconverter
