#include "resampling/sample_rate_converter.h"

#include "resampling/sample_conversion.h"

#include <zelm/Exception.h>
#include <zelm/StringFormat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace tesk::samplerateconverter {

namespace {

constexpr int kFilterLength = 16;
constexpr int kLog2PhaseCount = 10;
// Output samples per plane and call; what does not fit waits in the planes.
constexpr std::int32_t kOutputSamples = 96000;
constexpr std::int32_t kOwnManagerBuckets = 30;

[[noreturn]] void fail(const char* description) {
    throw zelm::CError(zelm::String(description));
}

[[noreturn]] void fail(const char* format, std::int64_t value) {
    zelm::CStringFormat text{zelm::String(format)};
    text.doInt(value, true);
    throw zelm::CError(text.toString());
}

[[noreturn]] void fail(const char* format, std::int64_t first, std::int64_t second) {
    zelm::CStringFormat text{zelm::String(format)};
    text.doInt(first, true);
    text.doInt(second, true);
    throw zelm::CError(text.toString());
}

std::int16_t readShort(const std::uint8_t* bytes) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8)));
}

// A signed little-endian integer of 3 or 4 bytes.
std::int32_t readWide(const std::uint8_t* bytes, std::int32_t count) {
    std::uint32_t bits = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        bits |= static_cast<std::uint32_t>(bytes[i]) << (8 * (4 - count + i));
    }
    return static_cast<std::int32_t>(bits) >> (8 * (4 - count));
}

void putLittleEndian(std::uint8_t* out, std::int64_t value, std::int32_t count) {
    const auto bits = static_cast<std::uint64_t>(value);
    for (std::int32_t i = 0; i < count; ++i) {
        out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

// The nearest integer of value x scale within -limit to limit - 1.
std::int64_t saturated(float value, double scale, double limit) {
    const double scaled = static_cast<double>(value) * scale;
    return std::isnan(scaled) ? 0 : std::llrint(std::clamp(scaled, -limit, limit - 1.0));
}

// 16-bit samples of count values at out, step bytes apart, eight rounded at
// a time.
void packShorts(const float* values, std::int32_t count, std::ptrdiff_t step, std::uint8_t* out) {
    std::array<std::int16_t, 8> batch{};
    std::int32_t j = 0;
    for (; step == 2 && j + 8 <= count; j += 8, out += 16) {
        roundToSamples(values + j, reinterpret_cast<std::int16_t*>(out));
    }
    for (; j + 8 <= count; j += 8) {
        roundToSamples(values + j, batch.data());
        for (const std::int16_t sample : batch) {
            std::memcpy(out, &sample, sizeof sample);
            out += step;
        }
    }
    for (; j < count; ++j, out += step) {
        const std::int16_t sample = roundToSample(values[j]);
        std::memcpy(out, &sample, sizeof sample);
    }
}

// A uniform random number in [0, 1) from a xorshift generator.
float uniform(std::uint32_t& state) {
    state ^= state << 13U;
    state ^= state >> 17U;
    state ^= state << 5U;
    return static_cast<float>(state >> 8U) * 0x1.0p-24f;
}

// A source sample on the 16-bit scale. With whole, the 16-bit value that 8
// and 16-bit targets take: unsigned 8-bit widened, the top 16 bits of wider
// integers, a float rounded; else the sample's exact value.
float sourceValue(const std::uint8_t* in, std::int32_t bytesPerSample, bool isFloat, bool whole) {
    if (isFloat) {
        float value = 0.0f;
        std::memcpy(&value, in, sizeof value);
        value *= 32768.0f;
        return whole ? roundToSample(value) : value;
    }
    if (bytesPerSample == 1) {
        return static_cast<float>((in[0] - 128) * 256);
    }
    if (whole || bytesPerSample == 2) {
        return readShort(in + bytesPerSample - 2);
    }
    return static_cast<float>(readWide(in, bytesPerSample) /
                              (bytesPerSample == 3 ? 256.0 : 65536.0));
}

} // namespace

CSampleRateConverter::CSampleRateConverter(std::int32_t sourceRate, std::int32_t sourceChannelCount,
                                           std::int32_t sourceBytesPerSample,
                                           std::int32_t targetRate, std::int32_t targetChannelCount,
                                           std::int32_t targetBytesPerSample,
                                           zelm::P<zelm::IMemoryManager> memoryManager,
                                           bool planarOutput, ConversionOptions options)
    : m_memoryManager(std::move(memoryManager)), m_sourceRate(sourceRate),
      m_sourceChannelCount(sourceChannelCount), m_sourceBytesPerSample(sourceBytesPerSample),
      m_targetRate(targetRate), m_targetChannelCount(targetChannelCount),
      m_targetBytesPerSample(targetBytesPerSample), m_planarOutput(planarOutput),
      m_options(options), m_wholeSamples(targetBytesPerSample <= 2),
      m_sameRate(sourceRate == targetRate),
      m_mixesFrames(m_sameRate && m_wholeSamples && sourceBytesPerSample == 2 && !planarOutput) {
    checkFormat();
    m_channelConverter = zelm::P<CChannelConverter>(new CChannelConverter(
        m_sourceChannelCount, m_targetChannelCount, CChannelConverter::kAnyLayout, m_options.gain));
    if (!m_memoryManager) {
        m_memoryManager =
            zelm::P<zelm::IMemoryManager>(new zelm::CMemoryManager(kOwnManagerBuckets));
    }
    makeResamplers();
}

// One resampler per target channel; the high-quality ones share a bank.
void CSampleRateConverter::makeResamplers() {
    if (m_sameRate) {
        return;
    }
    if (m_options.highQuality) {
        const auto filter = CStudioFilter::forRates(m_sourceRate, m_targetRate);
        m_studioResamplers.assign(static_cast<std::size_t>(m_targetChannelCount),
                                  CStudioResampler(filter));
        return;
    }
    for (std::int32_t k = 0; k < m_targetChannelCount; ++k) {
        m_contexts.emplace_back(
            av_resample_init(m_targetRate, m_sourceRate, kFilterLength, kLog2PhaseCount, 0, 1.0));
        if (!m_contexts.back()) {
            fail("CSampleRateConverter: could not create a resampler from %d Hz to %d Hz",
                 m_sourceRate, m_targetRate);
        }
    }
}

// Resamples every plane; returns the samples written to each and the input
// each consumed. The fast resamplers share one position, so they run together.
int CSampleRateConverter::resamplePlanes(const std::vector<zelm::P<zelm::IMemoryBlock>>& planes,
                                         const std::vector<zelm::P<zelm::IMemoryBlock>>& outputs,
                                         int* consumed) {
    const int srcSize = planes.front()->getSize() / 4;
    std::array<const float*, kMaxChannels> src{};
    std::array<float*, kMaxChannels> dst{};
    for (std::size_t k = 0; k < planes.size(); ++k) {
        src[k] = reinterpret_cast<const float*>(planes[k]->getData());
        dst[k] = reinterpret_cast<float*>(outputs[k]->getData());
    }
    if (!m_options.highQuality) {
        std::array<ResampleContext*, kMaxChannels> contexts{};
        std::transform(m_contexts.begin(), m_contexts.end(), contexts.begin(),
                       [](const Context& context) { return context.get(); });
        return av_resample_planes(contexts.data(), static_cast<int>(planes.size()), dst.data(),
                                  src.data(), consumed, srcSize, kOutputSamples);
    }
    int written = 0;
    for (std::size_t k = 0; k < planes.size(); ++k) {
        written = m_studioResamplers[k].resample(dst[k], src[k], consumed, srcSize, kOutputSamples);
    }
    return written;
}

CSampleRateConverter::~CSampleRateConverter() = default;

zelm::P<CSampleRateConverter> CSampleRateConverter::create(
    std::int32_t sourceRate, std::int32_t sourceChannelCount, std::int32_t sourceBytesPerSample,
    std::int32_t targetRate, std::int32_t targetChannelCount, std::int32_t targetBytesPerSample,
    zelm::P<zelm::IMemoryManager> memoryManager, ConversionOptions options) {
    return zelm::P<CSampleRateConverter>(new CSampleRateConverter(
        sourceRate, sourceChannelCount, sourceBytesPerSample, targetRate, targetChannelCount,
        targetBytesPerSample, std::move(memoryManager), false, options));
}

// Every format the converter cannot serve is refused here, before any block
// is converted.
void CSampleRateConverter::checkFormat() const {
    if (m_sourceChannelCount == 0) {
        fail("CSampleRateConverter: source channel count should not be zero");
    }
    if (m_sourceBytesPerSample == 0) {
        fail("CSampleRateConverter: source sample size should not be zero");
    }
    if (m_sourceBytesPerSample < 0 || m_sourceBytesPerSample > 4) {
        fail("CSampleRateConverter: could not convert samples to short SrcBytesPerSample %d",
             m_sourceBytesPerSample);
    }
    if (m_sourceRate <= 0) {
        fail("CSampleRateConverter: unsupported source rate '%d'", m_sourceRate);
    }
    if (m_targetRate <= 0) {
        fail("CSampleRateConverter: unsupported target rate '%d'", m_targetRate);
    }
    if (m_targetBytesPerSample < 1 || m_targetBytesPerSample > 4) {
        fail("CSampleRateConverter: unsupported target sample size '%d'", m_targetBytesPerSample);
    }
    if (m_options.floatSource && m_sourceBytesPerSample != 4) {
        fail("CSampleRateConverter: float source samples take 4 bytes, not '%d'",
             m_sourceBytesPerSample);
    }
    if (m_options.floatTarget && m_targetBytesPerSample != 4) {
        fail("CSampleRateConverter: float target samples take 4 bytes, not '%d'",
             m_targetBytesPerSample);
    }
}

void CSampleRateConverter::setStartTime(double seconds) {
    m_startTime = seconds;
    m_startTimeSet = true;
    m_framesProduced = 0;
}

// The converter made for any layout, or one for the layout code asked for.
zelm::P<CSampleRateConverter::CChannelConverter>
CSampleRateConverter::channelConverterFor(std::int32_t acmod) const {
    if (acmod == m_channelConverter->getAcmod()) {
        return m_channelConverter;
    }
    return zelm::P<CChannelConverter>(
        new CChannelConverter(m_sourceChannelCount, m_targetChannelCount, acmod, m_options.gain));
}

zelm::P<zelm::IMemoryBlock> CSampleRateConverter::allocate(std::int64_t bytes) const {
    if (bytes > std::numeric_limits<std::int32_t>::max()) {
        fail("CSampleRateConverter: the block is too large for one memory block");
    }
    return m_memoryManager->allocate(static_cast<std::int32_t>(bytes));
}

zelm::P<zelm::IMemoryBlock> CSampleRateConverter::convertToFloats(const std::uint8_t* data,
                                                                  std::int32_t byteCount) const {
    const std::int32_t samples = byteCount / m_sourceBytesPerSample;
    zelm::P<zelm::IMemoryBlock> block = allocate(static_cast<std::int64_t>(samples) * 4);
    auto* out = reinterpret_cast<float*>(block->getData());
    if (m_sourceBytesPerSample == 2) {
        widenToFloats(reinterpret_cast<const std::int16_t*>(data), samples, out);
        return block;
    }
    for (std::int32_t n = 0; n < samples; ++n) {
        out[n] = sourceValue(data + static_cast<std::ptrdiff_t>(n) * m_sourceBytesPerSample,
                             m_sourceBytesPerSample, m_options.floatSource, m_wholeSamples);
    }
    return block;
}

std::vector<zelm::P<zelm::IMemoryBlock>>
CSampleRateConverter::convertChannels(const std::uint8_t* data, std::int32_t byteCount,
                                      std::int32_t frames, std::int32_t acmod) const {
    const std::int32_t carry = m_planes.empty() ? 0 : m_planes.front()->getSize() - m_planeOffset;
    const zelm::P<CChannelConverter> converter = channelConverterFor(acmod);
    std::vector<zelm::P<zelm::IMemoryBlock>> planes;
    FloatTargetPointers targets{};
    for (std::int32_t k = 0; k < m_targetChannelCount; ++k) {
        planes.push_back(allocate(carry + static_cast<std::int64_t>(frames) * 4));
        std::uint8_t* plane = planes.back()->getData();
        if (carry > 0) {
            std::memcpy(plane, m_planes[k]->getData() + m_planeOffset,
                        static_cast<std::size_t>(carry));
        }
        targets[k] = reinterpret_cast<float*>(plane + carry);
    }
    if (m_sourceBytesPerSample == 2 && converter->passesThrough() && m_sourceChannelCount <= 2) {
        const auto* shorts = reinterpret_cast<const std::int16_t*>(data);
        if (m_sourceChannelCount == 2) {
            splitToFloats(shorts, frames, targets[0], targets[1]);
        } else {
            widenToFloats(shorts, frames, targets[0]);
        }
        return planes;
    }
    const zelm::P<zelm::IMemoryBlock> values = convertToFloats(data, byteCount);
    FloatSourcePointers sources{};
    const auto* first = reinterpret_cast<const float*>(values->getData());
    for (std::int32_t c = 0; c < m_sourceChannelCount; ++c) {
        sources[c] = first + c;
    }
    converter->convert(frames, sources, m_sourceChannelCount * 4, targets, m_wholeSamples);
    return planes;
}

// The most output samples a plane can give: its samples at the target rate
// and one more for the position the resampler starts from.
std::int64_t CSampleRateConverter::outputBound(const zelm::P<zelm::IMemoryBlock>& plane) const {
    const std::int64_t samples = plane->getSize() / 4;
    const std::int64_t scaled = (samples * m_targetRate + m_sourceRate - 1) / m_sourceRate;
    return std::min<std::int64_t>(kOutputSamples, scaled + 1);
}

// An unsigned 8-bit sample: round(x / 256) + 128 within 0 to 255, after
// the dither when it is on.
std::uint8_t CSampleRateConverter::toUnsignedByte(std::int16_t sample) {
    double value = sample;
    if (m_options.dither) {
        value += (uniform(m_ditherState) + uniform(m_ditherState) - 1.0) * 256.0;
    }
    return samplerateconverter::toUnsignedByte(value);
}

void CSampleRateConverter::pack(const std::vector<zelm::P<zelm::IMemoryBlock>>& outputs,
                                std::int32_t produced, std::uint8_t* chunk) {
    if (!m_planarOutput && m_targetBytesPerSample == 2 && outputs.size() == 2) {
        roundInterleaved(reinterpret_cast<const float*>(outputs[0]->getData()),
                         reinterpret_cast<const float*>(outputs[1]->getData()), produced,
                         reinterpret_cast<std::int16_t*>(chunk));
        return;
    }
    const std::ptrdiff_t sampleStep =
        m_planarOutput ? m_targetBytesPerSample
                       : static_cast<std::ptrdiff_t>(m_targetBytesPerSample) * m_targetChannelCount;
    for (std::size_t k = 0; k < outputs.size(); ++k) {
        const std::ptrdiff_t planeStart =
            m_planarOutput ? static_cast<std::ptrdiff_t>(k) * produced * m_targetBytesPerSample
                           : static_cast<std::ptrdiff_t>(k) * m_targetBytesPerSample;
        packPlane(reinterpret_cast<const float*>(outputs[k]->getData()), produced, sampleStep,
                  chunk + planeStart);
    }
}

// Integer targets round to nearest and saturate; 8-bit ones go through the
// 16-bit value.
void CSampleRateConverter::packPlane(const float* samples, std::int32_t produced,
                                     std::ptrdiff_t step, std::uint8_t* out) {
    switch (m_targetBytesPerSample) {
    case 1:
        for (std::int32_t j = 0; j < produced; ++j, out += step) {
            *out = toUnsignedByte(roundToSample(samples[j]));
        }
        break;
    case 2:
        packShorts(samples, produced, step, out);
        break;
    case 3:
        for (std::int32_t j = 0; j < produced; ++j, out += step) {
            putLittleEndian(out, saturated(samples[j], 256.0, 8388608.0), 3);
        }
        break;
    default:
        for (std::int32_t j = 0; j < produced; ++j, out += step) {
            if (m_options.floatTarget) {
                const float value = samples[j] / 32768.0f;
                std::memcpy(out, &value, sizeof value);
            } else {
                putLittleEndian(out, saturated(samples[j], 65536.0, 2147483648.0), 4);
            }
        }
        break;
    }
}

zelm::P<zelm::IMemoryBlock> CSampleRateConverter::silence(std::int64_t frames) const {
    zelm::P<zelm::IMemoryBlock> block =
        allocate(static_cast<std::int64_t>(m_sourceBytesPerSample) * m_sourceChannelCount * frames);
    block->fill(0);
    return block;
}

int CSampleRateConverter::resamplerTaps() const {
    if (m_sameRate) {
        return 0;
    }
    return m_options.highQuality ? m_studioResamplers.front().taps()
                                 : av_resample_taps(m_contexts.front().get());
}

CSampleRateConverter::Converted CSampleRateConverter::resample(const std::uint8_t* bytes,
                                                               std::int32_t byteCount,
                                                               std::int32_t acmod,
                                                               std::int64_t limit) {
    const std::int32_t frames = byteCount / m_sourceChannelCount / m_sourceBytesPerSample;
    if (m_mixesFrames) {
        return mixed(bytes, frames, acmod, limit);
    }

    // Every allocation happens before the state changes, so a call that
    // throws leaves the stream as it was.
    std::vector<zelm::P<zelm::IMemoryBlock>> planes =
        convertChannels(bytes, byteCount, frames, acmod);
    if (m_sameRate) {
        const auto kept = static_cast<std::int32_t>(std::min<std::int64_t>(frames, limit));
        return packed(planes, kept, allocate(chunkBytes(kept)));
    }
    std::vector<zelm::P<zelm::IMemoryBlock>> outputs;
    for (std::int32_t k = 0; k < m_targetChannelCount; ++k) {
        outputs.push_back(allocate(static_cast<std::int64_t>(kOutputSamples) * 4));
    }
    zelm::P<zelm::IMemoryBlock> chunk = allocate(chunkBytes(outputBound(planes.front())));

    int consumed = 0;
    const int written = resamplePlanes(planes, outputs, &consumed);
    const auto produced = static_cast<std::int32_t>(std::min<std::int64_t>(written, limit));
    m_planes = std::move(planes);
    m_planeOffset = consumed * 4;
    return packed(outputs, produced, chunk);
}

CSampleRateConverter::Converted CSampleRateConverter::mixed(const std::uint8_t* bytes,
                                                            std::int32_t frames, std::int32_t acmod,
                                                            std::int64_t limit) {
    const auto kept = static_cast<std::int32_t>(std::min<std::int64_t>(frames, limit));
    const zelm::P<zelm::IMemoryBlock> chunk = allocate(chunkBytes(kept));
    const auto* source = reinterpret_cast<const std::int16_t*>(bytes);
    const zelm::P<CChannelConverter> converter = channelConverterFor(acmod);
    if (m_targetBytesPerSample == 2) {
        converter->mixFrames(kept, source, reinterpret_cast<std::int16_t*>(chunk->getData()));
        return {chunk, kept};
    }
    const std::int32_t count = kept * m_targetChannelCount;
    zelm::P<zelm::IMemoryBlock> samples;
    const std::int16_t* mixedSamples = source;
    if (!converter->passesThrough()) {
        samples = allocate(static_cast<std::int64_t>(count) * 2);
        converter->mixFrames(kept, source, reinterpret_cast<std::int16_t*>(samples->getData()));
        mixedSamples = reinterpret_cast<const std::int16_t*>(samples->getData());
    }
    std::uint8_t* out = chunk->getData();
    if (!m_options.dither) {
        toUnsignedBytes(mixedSamples, count, out);
        return {chunk, kept};
    }
    for (std::int32_t j = 0; j < count; ++j) {
        out[j] = toUnsignedByte(mixedSamples[j]);
    }
    return {chunk, kept};
}

std::int64_t CSampleRateConverter::chunkBytes(std::int64_t frames) const {
    return frames * m_targetChannelCount * m_targetBytesPerSample;
}

CSampleRateConverter::Converted
CSampleRateConverter::packed(const std::vector<zelm::P<zelm::IMemoryBlock>>& outputs,
                             std::int32_t frames, const zelm::P<zelm::IMemoryBlock>& chunk) {
    chunk->setSize(static_cast<std::int32_t>(chunkBytes(frames)));
    pack(outputs, frames, chunk->getData());
    return {chunk, frames};
}

zelm::P<tesk::audio::IAudioChunk> CSampleRateConverter::stamp(const Converted& converted) {
    double time = static_cast<double>(m_framesProduced) / m_targetRate;
    if (m_startTimeSet) {
        time += m_startTime;
    }
    m_framesProduced += static_cast<std::uint64_t>(converted.frames);
    m_framesOut += static_cast<std::uint64_t>(converted.frames);
    return zelm::P<tesk::audio::IAudioChunk>(
        new tesk::audio::CAudioChunk(time, converted.block.get()));
}

zelm::P<tesk::audio::IAudioChunk>
CSampleRateConverter::convert(const void* data, std::int32_t byteCount, std::int32_t acmod) {
    if (byteCount < 0) {
        fail("CSampleRateConverter::convert: invalid byte count '%d'", byteCount);
    }
    zelm::P<zelm::IMemoryBlock> second;
    if (data == nullptr || byteCount == 0) {
        second = silence(m_sourceRate);
        data = second->getData();
        byteCount = second->getSize();
    }
    const Converted converted = resample(static_cast<const std::uint8_t*>(data), byteCount, acmod,
                                         std::numeric_limits<std::int64_t>::max());
    m_framesIn +=
        static_cast<std::uint64_t>(byteCount / m_sourceChannelCount / m_sourceBytesPerSample);
    return stamp(converted);
}

// The last output sample lies before the stream's end, so its taps reach at
// most half a filter past it: a filter's length of silence completes the
// stream in one block.
zelm::P<tesk::audio::IAudioChunk> CSampleRateConverter::flush() {
    const auto sourceRate = static_cast<std::uint64_t>(m_sourceRate);
    const std::uint64_t total =
        (m_framesIn * static_cast<std::uint64_t>(m_targetRate) * 2 + sourceRate) / (2 * sourceRate);
    if (m_framesOut >= total) {
        return {};
    }
    const zelm::P<zelm::IMemoryBlock> tail = silence(resamplerTaps());
    const Converted converted =
        resample(tail->getData(), tail->getSize(), CChannelConverter::kAnyLayout,
                 static_cast<std::int64_t>(total - m_framesOut));
    return converted.frames > 0 ? stamp(converted) : zelm::P<tesk::audio::IAudioChunk>();
}

} // namespace tesk::samplerateconverter
