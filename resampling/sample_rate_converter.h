#pragma once

// Adapts decoded PCM to the format a host asks for: another sample rate,
// another channel count, 8, 16, 24 or 32-bit or float samples. Each block
// passes four stages: conversion of the source samples to floats on the
// 16-bit scale, remixing into one float plane per target channel, resampling
// of every plane (skipped when the rates agree), and packing into the target
// format. For 8 and 16-bit targets the planes hold whole 16-bit values, as
// the samples were rounded at each stage before; for wider targets nothing
// is rounded before the packing. Input the resampler has not consumed yet is
// carried into the next block, so a stream may arrive in blocks of any size.

#include "resampling/resampler.h"
#include "resampling/studio_resampler.h"

#include <tesk/AudioChunk.h>
#include <zelm/MemoryManager.h>
#include <zelm/Object.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace tesk::samplerateconverter {

// How a converter resamples and packs its output.
struct ConversionOptions {
    // false: the fast resampler of resampler.h (16 taps, the nearest of
    // 1024 phases); true: the high-quality one of studio_resampler.h.
    bool highQuality = false;
    // 8-bit output only: triangular dither of one 8-bit step added
    // before rounding, which turns the rounding error into steady noise.
    bool dither = false;
    // 4-byte source samples are 32-bit floats with 16-bit full scale at
    // +-1.0 rather than 32-bit integers.
    bool floatSource = false;
    // 4-byte target samples are such floats, never clipped.
    bool floatTarget = false;
    // A factor every sample is multiplied by in the remix (ReplayGain); the
    // result saturates at full scale.
    float gain = 1.0f;
};

class CSampleRateConverter : public zelm::CObject {
public:
    class CChannelConverter;

    // Converts blocks of interleaved frames of sourceChannelCount channels
    // of sourceBytesPerSample bytes (1: unsigned 8-bit; 2: 16-bit; 3 and 4:
    // 24 and 32-bit, of which only the top 16 bits are kept for targets of
    // 8 or 16 bits; 4 with options.floatSource: float) at sourceRate into
    // chunks of targetChannelCount channels at targetRate, with
    // targetBytesPerSample 1 (unsigned 8-bit), 2, 3 or 4 (signed 16, 24 or
    // 32-bit, rounded to nearest and saturated; 4 with options.floatTarget:
    // float, 16-bit full scale at +-1.0, never clipped). Blocks come
    // from memoryManager, or from a manager of the converter's own when it
    // is null. planarOutput puts the channels one after another instead of
    // interleaving them. Throws zelm::CError for a rate, channel count or
    // sample size that is not positive or not supported.
    CSampleRateConverter(std::int32_t sourceRate, std::int32_t sourceChannelCount,
                         std::int32_t sourceBytesPerSample, std::int32_t targetRate,
                         std::int32_t targetChannelCount, std::int32_t targetBytesPerSample,
                         zelm::P<zelm::IMemoryManager> memoryManager, bool planarOutput,
                         ConversionOptions options = {});
    ~CSampleRateConverter() override;

    // The converter of interleaved output the plug-in uses.
    static zelm::P<CSampleRateConverter>
    create(std::int32_t sourceRate, std::int32_t sourceChannelCount,
           std::int32_t sourceBytesPerSample, std::int32_t targetRate,
           std::int32_t targetChannelCount, std::int32_t targetBytesPerSample,
           zelm::P<zelm::IMemoryManager> memoryManager, ConversionOptions options = {});

    // Converts byteCount bytes of interleaved source frames; a trailing
    // partial frame is dropped. acmod names the source's channel layout, -1
    // for none. Null data or a byte count of 0 stands for one second of
    // silence. The chunk holds what the resampler could produce so far and
    // is stamped with the time of its first frame. 8-bit samples are
    // round(x / 256) + 128 of the 16-bit sample x, so silence is 128.
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
    using FloatSourcePointers = std::array<const float*, kMaxChannels>;
    using FloatTargetPointers = std::array<float*, kMaxChannels>;

    using MixWeights = std::array<std::array<float, kMaxChannels>, kMaxChannels>;

    // Remixes interleaved 16-bit frames of one channel count into separate
    // 16-bit planes of another: each target plane is a weighted sum of the
    // source channels. The layouts by channel count are mono (C); stereo
    // (L R); 3.0 (L R C); quad (L R Ls Rs); 5.0 (L R C Ls Rs); 5.1 (L R C
    // LFE Ls Rs); 6.1 (L R C LFE Cs Ls Rs); 7.1 (L R C LFE Ls Rs Lx Rx).
    // Layout code 4 makes a three-channel source 2/1 (L R S) and 5 makes a
    // four-channel source 3/1 (L R C S). A channel the target has goes there
    // with weight 1; one it lacks folds into the nearest speakers with
    // weight 1 or 1/sqrt(2) (centre into left and right, surrounds into
    // their side, a single rear channel into both surrounds, the extra 7.1
    // pair into the surrounds; LFE is left out), and rows whose weights add
    // up to more than 1 are scaled down to 1, so nothing can clip: stereo to
    // mono is the average of the two channels.
    class CChannelConverter : public zelm::CObject {
    public:
        // The acmod of a converter that serves any layout.
        static constexpr std::int32_t kAnyLayout = -1;

        // Throws zelm::CError for a channel count outside 1 to 8. Every
        // weight is multiplied by gain.
        CChannelConverter(std::int32_t sourceChannelCount, std::int32_t targetChannelCount,
                          std::int32_t acmod, float gain = 1.0f);

        std::int32_t getSourceChannelCount() const { return m_sourceChannelCount; }
        std::int32_t getTargetChannelCount() const { return m_targetChannelCount; }
        std::int32_t getAcmod() const { return m_acmod; }
        // weights()[k][c]: the share of source channel c in target plane k.
        const MixWeights& weights() const { return m_weights; }
        // Every channel goes to the plane of its own number unchanged.
        bool passesThrough() const { return m_passesThrough; }

        // Converts frameCount frames. sources[c] addresses channel c of the
        // first frame, frames lie sourceStride bytes apart; targets[k] is
        // where plane k receives its first sample and must have room for
        // frameCount samples. Both arrays are copies: the caller's pointers
        // do not move.
        void convert(std::int32_t frameCount, SourcePointers sources, std::int32_t sourceStride,
                     TargetPointers targets) const;
        // The same on floats (sourceStride in bytes too). With rounded, every
        // mixed sample is rounded to the 16-bit value the form above stores;
        // else it is kept as mixed.
        void convert(std::int32_t frameCount, FloatSourcePointers sources,
                     std::int32_t sourceStride, FloatTargetPointers targets, bool rounded) const;
        // Interleaved 16-bit frames of the source's channels into interleaved
        // frames of the target's, every sample summed and rounded as convert
        // sums and rounds it.
        void mixFrames(std::int32_t frameCount, const std::int16_t* source,
                       std::int16_t* target) const;

    private:
        static constexpr int kSilentPlane = -1;

        void findCopies();
        template <class Sample>
        void copyPlanes(std::int32_t frameCount,
                        const std::array<const Sample*, kMaxChannels>& sources, std::ptrdiff_t step,
                        const std::array<Sample*, kMaxChannels>& targets) const;
        // Plane k's mix of frameCount frames into sums.
        template <class Sample>
        void sumPlane(std::int32_t k, std::int32_t frameCount,
                      const std::array<const Sample*, kMaxChannels>& sources, std::ptrdiff_t step,
                      float* sums) const;

        // The frames from first on, four at a time, of a source and a target
        // of kSource and kTarget channels; returns the frames left.
        template <int kSource, int kTarget>
        std::int32_t mixFours(std::int32_t frameCount, const std::int16_t* source,
                              std::int16_t* target) const;

        std::int32_t m_sourceChannelCount;
        std::int32_t m_targetChannelCount;
        std::int32_t m_acmod;
        MixWeights m_weights{};
        // Per plane, the source channel it copies, or kSilentPlane.
        std::array<int, kMaxChannels> m_copyOf{};
        // Every plane is a copy or silence: no arithmetic is needed.
        bool m_onlyCopies = false;
        bool m_passesThrough = false;
    };

private:
    struct ContextCloser {
        void operator()(ResampleContext* context) const { av_resample_close(context); }
    };
    using Context = std::unique_ptr<ResampleContext, ContextCloser>;

    void checkFormat() const;
    zelm::P<CChannelConverter> channelConverterFor(std::int32_t acmod) const;
    void makeResamplers();
    int resamplePlanes(const std::vector<zelm::P<zelm::IMemoryBlock>>& planes,
                       const std::vector<zelm::P<zelm::IMemoryBlock>>& outputs, int* consumed);
    std::uint8_t toUnsignedByte(std::int16_t sample);
    zelm::P<zelm::IMemoryBlock> allocate(std::int64_t bytes) const;
    zelm::P<zelm::IMemoryBlock> convertToFloats(const std::uint8_t* data,
                                                std::int32_t byteCount) const;
    void packPlane(const float* samples, std::int32_t produced, std::ptrdiff_t step,
                   std::uint8_t* out);
    std::vector<zelm::P<zelm::IMemoryBlock>> convertChannels(const std::uint8_t* data,
                                                             std::int32_t byteCount,
                                                             std::int32_t frames,
                                                             std::int32_t acmod) const;
    std::int64_t outputBound(const zelm::P<zelm::IMemoryBlock>& plane) const;
    zelm::P<zelm::IMemoryBlock> silence(std::int64_t frames) const;
    int resamplerTaps() const;
    // Converted frames packed in the target format.
    struct Converted {
        zelm::P<zelm::IMemoryBlock> block;
        std::int32_t frames = 0;
    };
    // Converts a block and carries what the resampler did not consume; the
    // packed output holds at most limit frames.
    Converted resample(const std::uint8_t* bytes, std::int32_t byteCount, std::int32_t acmod,
                       std::int64_t limit);
    // The same rates, 16-bit source frames and interleaved 8 or 16-bit ones
    // out: the frames are mixed straight into the chunk.
    Converted mixed(const std::uint8_t* bytes, std::int32_t frames, std::int32_t acmod,
                    std::int64_t limit);
    zelm::P<tesk::audio::IAudioChunk> stamp(const Converted& converted);
    // The first frames of each plane packed into chunk, which has room.
    Converted packed(const std::vector<zelm::P<zelm::IMemoryBlock>>& outputs, std::int32_t frames,
                     const zelm::P<zelm::IMemoryBlock>& chunk);
    std::int64_t chunkBytes(std::int64_t frames) const;
    void pack(const std::vector<zelm::P<zelm::IMemoryBlock>>& outputs, std::int32_t produced,
              std::uint8_t* chunk);

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
    ConversionOptions m_options;
    // Targets of 8 and 16 bits: every stage rounds to 16-bit values, as the
    // converter always did for them.
    bool m_wholeSamples;
    // The rates agree: the planes go to the packing as they are.
    bool m_sameRate;
    // The frames take the path of mixed.
    bool m_mixesFrames;
    std::uint64_t m_framesProduced = 0;
    // Source frames taken and target frames handed out since construction.
    std::uint64_t m_framesIn = 0;
    std::uint64_t m_framesOut = 0;
    std::vector<zelm::P<zelm::IMemoryBlock>> m_planes;
    // Bytes of every plane the resamplers consumed.
    std::int32_t m_planeOffset = 0;
    std::vector<Context> m_contexts;
    std::vector<CStudioResampler> m_studioResamplers;
    zelm::P<CChannelConverter> m_channelConverter;
    // State of the dither's random numbers.
    std::uint32_t m_ditherState = 0x9E3779B9U;
};

} // namespace tesk::samplerateconverter
