#include "resampling/sample_rate_converter.h"

#include "tests/support/sample_values.h"
#include "tools/tone_fit/tone_fit.h"

#include <tesk/AudioChunk.h>
#include <zelm/Exception.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace tesk::samplerateconverter {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Chunk = zelm::P<tesk::audio::IAudioChunk>;

struct Format {
    std::int32_t sourceRate = 48000;
    std::int32_t sourceChannels = 2;
    std::int32_t sourceBytes = 2;
    std::int32_t targetRate = 48000;
    std::int32_t targetChannels = 2;
    std::int32_t targetBytes = 2;
    bool planar = false;
    ConversionOptions options;
};

zelm::P<CSampleRateConverter> makeConverter(const Format& f) {
    return zelm::P<CSampleRateConverter>(
        new CSampleRateConverter(f.sourceRate, f.sourceChannels, f.sourceBytes, f.targetRate,
                                 f.targetChannels, f.targetBytes, nullptr, f.planar, f.options));
}

Bytes toBytes(const std::vector<std::int16_t>& samples) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(samples.data());
    return Bytes(data, data + samples.size() * 2);
}

std::vector<std::int16_t> samplesOf(const Chunk& chunk) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(chunk->getSize()) / 2);
    std::copy_n(chunk->getData(), samples.size() * 2,
                reinterpret_cast<std::uint8_t*>(samples.data()));
    return samples;
}

Bytes bytesOf(const Chunk& chunk) {
    const auto* data = static_cast<const std::uint8_t*>(chunk->getData());
    return Bytes(data, data + chunk->getSize());
}

Chunk convert(CSampleRateConverter& converter, const Bytes& bytes, std::int32_t acmod = -1) {
    return converter.convert(bytes.data(), static_cast<std::int32_t>(bytes.size()), acmod);
}

// The description of the CError that making a converter of format f throws.
std::string constructionError(const Format& f) {
    try {
        makeConverter(f);
    } catch (const zelm::CError& error) {
        return error.getDescription().toStdString();
    }
    return "no error";
}

Format withSource(std::int32_t channels, std::int32_t bytes) {
    Format f;
    f.sourceChannels = channels;
    f.sourceBytes = bytes;
    return f;
}

Format withTarget(std::int32_t rate, std::int32_t channels, std::int32_t bytes) {
    Format f;
    f.targetRate = rate;
    f.targetChannels = channels;
    f.targetBytes = bytes;
    return f;
}

TEST(SampleRateConverterErrors, UnservedFormatsAreRefusedNamingTheValue) {
    struct Case {
        std::int32_t sourceChannels, sourceBytes, targetRate, targetChannels, targetBytes;
        const char* error;
    };
    const Case cases[] = {
        {9, 2, 48000, 2, 2, "no suitable ChannelConversion found for 9 -> 2"},
        {2, 2, 48000, 0, 2, "no suitable ChannelConversion found for 2 -> 0"},
        {2, 5, 48000, 2, 2, "could not convert samples to short SrcBytesPerSample 5"},
        {2, 0, 48000, 2, 2, "source sample size should not be zero"},
        {0, 2, 48000, 2, 2, "source channel count should not be zero"},
        {2, 2, -44100, 2, 2, "unsupported target rate '-44100'"},
        {2, 2, 48000, 2, 5, "unsupported target sample size '5'"},
    };
    for (const Case& c : cases) {
        Format f = withTarget(c.targetRate, c.targetChannels, c.targetBytes);
        f.sourceChannels = c.sourceChannels;
        f.sourceBytes = c.sourceBytes;
        EXPECT_EQ(constructionError(f), std::string("CSampleRateConverter: ") + c.error);
    }
}

TEST(SampleRateConverterSamples, EightBitSourceIsCentredOn128) {
    Format f = withSource(1, 1);
    f.targetChannels = 1;
    auto converter = makeConverter(f);
    const Bytes bytes = {0x80, 0xFF, 0x00, 0x81, 0x7F};
    EXPECT_EQ(samplesOf(convert(*converter, bytes)),
              (std::vector<std::int16_t>{0, 32512, -32768, 256, -256}));
}

// round(x / 256) + 128 within 0 to 255, halves away from zero.
TEST(SampleRateConverterSamples, EightBitOutputIsRoundedAroundSilenceAt128) {
    Format f = withTarget(48000, 1, 1);
    f.sourceChannels = 1;
    auto converter = makeConverter(f);
    // Enough for a vector's rounding and a scalar tail.
    const std::vector<std::int16_t> samples = {0,      32767, -32768, 16384, -16384, 127,
                                               128,    -128,  -129,   32384, 32383,  -32384,
                                               -32383, 383,   384,    -383,  -384,   1};
    EXPECT_EQ(
        bytesOf(convert(*converter, toBytes(samples))),
        (Bytes{128, 255, 0, 192, 64, 128, 129, 127, 127, 255, 254, 1, 2, 129, 130, 127, 126, 128}));
    f.options.gain = 0.5f;
    EXPECT_EQ(bytesOf(convert(*makeConverter(f), toBytes({16384, -16384, 0}))),
              (Bytes{160, 96, 128}));
}

std::vector<std::int16_t> stereoSine(int rate, double seconds) {
    const auto frames = static_cast<std::size_t>(rate * seconds);
    std::vector<std::int16_t> samples(frames * 2);
    for (std::size_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / rate;
        samples[2 * n] =
            static_cast<std::int16_t>(std::lrint(20000 * std::sin(2 * std::numbers::pi * 440 * t)));
        samples[2 * n + 1] = static_cast<std::int16_t>(
            std::lrint(15000 * std::sin(2 * std::numbers::pi * 1330 * t)));
    }
    return samples;
}

// Feeds the stream in blocks of the given frame counts and collects every
// chunk's samples and time.
struct Stream {
    std::vector<std::int16_t> samples;
    std::vector<double> times;
    std::vector<std::size_t> frames;
};

Stream feed(CSampleRateConverter& converter, const std::vector<std::int16_t>& input,
            const std::vector<std::size_t>& blockFrames) {
    Stream stream;
    std::size_t position = 0;
    for (std::size_t count : blockFrames) {
        const std::size_t end = std::min(input.size(), position + 2 * count);
        const std::vector<std::int16_t> block(input.begin() + static_cast<std::ptrdiff_t>(position),
                                              input.begin() + static_cast<std::ptrdiff_t>(end));
        position = end;
        const Chunk chunk = convert(converter, toBytes(block));
        const std::vector<std::int16_t> out = samplesOf(chunk);
        stream.samples.insert(stream.samples.end(), out.begin(), out.end());
        stream.times.push_back(chunk->getTime());
        stream.frames.push_back(out.size() / 2);
    }
    return stream;
}

Format resampling(std::int32_t from, std::int32_t to) {
    Format f;
    f.sourceRate = from;
    f.targetRate = to;
    return f;
}

// In both modes, and in the high-quality mode with exact and with
// interpolated filter phases.
TEST(SampleRateConverterStream, RandomBlockSizesGiveTheSameStreamAsOneBlock) {
    const std::vector<std::int16_t> input = stereoSine(44100, 1.5);
    const std::size_t frames = input.size() / 2;
    std::mt19937 random(99);
    std::uniform_int_distribution<std::size_t> size(1, 5000);
    for (const auto& [to, highQuality] : {std::pair{48000, false}, std::pair{48000, true},
                                          std::pair{44101, true}, std::pair{22050, true}}) {
        SCOPED_TRACE(std::to_string(to) + (highQuality ? " high" : " fast"));
        Format f = resampling(44100, to);
        f.options.highQuality = highQuality;
        const Stream whole = feed(*makeConverter(f), input, {frames});
        std::vector<std::size_t> blocks;
        for (std::size_t total = 0; total < frames; total += blocks.back()) {
            blocks.push_back(size(random));
        }
        const Stream pieces = feed(*makeConverter(f), input, blocks);
        EXPECT_EQ(pieces.samples, whole.samples);
        EXPECT_GT(whole.samples.size(), 2u * (frames * to / 44100 - 200));
    }
}

TEST(SampleRateConverterStream, ChunkTimesAdvanceByThePreviousChunkLength) {
    auto converter = makeConverter(resampling(44100, 48000));
    const std::vector<std::int16_t> input = stereoSine(44100, 1.0);
    const Stream stream = feed(*converter, input, std::vector<std::size_t>(11, 4096));
    EXPECT_EQ(stream.times[0], 0.0);
    std::size_t delivered = 0;
    for (std::size_t i = 0; i < stream.times.size(); ++i) {
        EXPECT_EQ(stream.times[i], static_cast<double>(delivered) / 48000) << i;
        delivered += stream.frames[i];
    }
}

// After the flush, N source frames have given round(N x target / source)
// frames, the last chunk stamped where the others end; at equal rates the
// samples come out unchanged and at once. A second flush has nothing left.
TEST(SampleRateConverterStream, FlushCompletesTheStream) {
    const std::tuple<std::int32_t, std::int32_t, bool> rates[] = {
        {44100, 48000, false}, {48000, 44100, false}, {8000, 44100, false}, {44100, 8000, false},
        {22050, 22050, false}, {44100, 48000, true},  {48000, 8000, true},  {8000, 96000, true}};
    for (const auto& [from, to, highQuality] : rates) {
        const std::vector<std::int16_t> input = stereoSine(from, 0.377);
        Format f = resampling(from, to);
        f.options.highQuality = highQuality;
        auto converter = makeConverter(f);
        Stream stream = feed(*converter, input, {1000, 1000000});
        const Chunk last = converter->flush();
        ASSERT_EQ(static_cast<bool>(last), from != to) << "equal rates give every frame at once";
        if (last) {
            EXPECT_EQ(last->getTime(), static_cast<double>(stream.samples.size() / 2) / to);
            const std::vector<std::int16_t> tail = samplesOf(last);
            stream.samples.insert(stream.samples.end(), tail.begin(), tail.end());
        }
        EXPECT_EQ(stream.samples.size() / 2, std::llround(input.size() / 2.0 * to / from)) << from;
        EXPECT_FALSE(converter->flush());
        EXPECT_TRUE(from != to || stream.samples == input);
    }
}

// A float source of a 1 kHz tone in every channel, 16-bit full scale at 1.
Bytes floatTone(int rate, int channels, double seconds) {
    const auto frames = static_cast<std::size_t>(rate * seconds);
    Bytes bytes(frames * static_cast<std::size_t>(channels) * 4);
    for (std::size_t n = 0; n < frames * static_cast<std::size_t>(channels); ++n) {
        const double t = static_cast<double>(n / static_cast<std::size_t>(channels)) / rate;
        const auto value = static_cast<float>(0.6 * std::sin(2 * std::numbers::pi * 1000 * t));
        std::memcpy(bytes.data() + 4 * n, &value, 4);
    }
    return bytes;
}

// The samples of a whole converted stream on the 16-bit scale.
std::vector<double> convertAll(const Format& f, const Bytes& source) {
    auto converter = makeConverter(f);
    Bytes bytes = bytesOf(convert(*converter, source));
    if (const Chunk last = converter->flush()) {
        const Bytes tail = bytesOf(last);
        bytes.insert(bytes.end(), tail.begin(), tail.end());
    }
    return tesk_quor_test::sampleValues(bytes.data(), bytes.size(), f.targetBytes,
                                        f.options.floatTarget);
}

// THD+N of the 1 kHz tone in the first channel, in dB.
double toneNoise(const std::vector<double>& values, int channels, int rate) {
    std::vector<double> first;
    for (std::size_t n = 0; n < values.size(); n += static_cast<std::size_t>(channels)) {
        first.push_back(values[n]);
    }
    return tonefit::thdPlusNoise(first, rate, 1000.0, first.size() / 4);
}

// Wide targets carry what the 16-bit target rounds away: the same length,
// each sample within 1 of the 16-bit one, and a cleaner tone, through the
// bypass at equal rates, both resamplers and a channel mix.
TEST(SampleRateConverterWide, TargetsKeepThePrecisionTheSixteenBitTargetRounds) {
    struct Case {
        std::int32_t rate, channels, bytes;
        bool isFloat, high;
    };
    const Case cases[] = {{44100, 2, 3, false, true}, {48000, 2, 3, false, true},
                          {48000, 1, 4, true, false}, {22050, 1, 4, false, true},
                          {44100, 1, 4, true, true},  {32000, 6, 4, true, false}};
    const Bytes source = floatTone(44100, 2, 0.5);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " x " +
                     std::to_string(c.bytes));
        Format f = withTarget(c.rate, c.channels, 2);
        f.sourceRate = 44100;
        f.sourceBytes = 4;
        f.options = {c.high, false, true, false};
        const std::vector<double> sixteen = convertAll(f, source);
        f.targetBytes = c.bytes;
        f.options.floatTarget = c.isFloat;
        const std::vector<double> wide = convertAll(f, source);
        ASSERT_EQ(wide.size(), sixteen.size());
        for (std::size_t i = 0; i < wide.size(); ++i) {
            ASSERT_LE(std::abs(std::nearbyint(wide[i]) - sixteen[i]), 1.0) << i;
        }
        // The fast resampler's nearest filter phase leaves more noise than
        // the rounding; without it the rounding's noise is the most.
        EXPECT_LT(toneNoise(wide, c.channels, c.rate),
                  toneNoise(sixteen, c.channels, c.rate) - (c.high ? 20.0 : 0.0));
    }
}

// Integer targets saturate at their full scale; float keeps the overs.
TEST(SampleRateConverterWide, IntegerTargetsSaturateAndFloatKeepsOvers) {
    Format f = withTarget(48000, 1, 3);
    f.sourceChannels = 1;
    f.sourceBytes = 4;
    f.options.floatSource = true;
    Bytes source(8);
    const float overs[] = {1.5f, -1.5f};
    std::memcpy(source.data(), overs, sizeof overs);
    EXPECT_EQ(bytesOf(convert(*makeConverter(f), source)),
              (Bytes{0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80}));
    f.targetBytes = 4;
    f.options.floatTarget = true;
    EXPECT_EQ(bytesOf(convert(*makeConverter(f), source)), source);
}

} // namespace
} // namespace tesk::samplerateconverter
