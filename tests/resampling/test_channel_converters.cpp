#include "resampling/sample_rate_converter.h"

#include <zelm/Exception.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace tesk::samplerateconverter {
namespace {

using Converter = CSampleRateConverter;
using ChannelConverter = Converter::CChannelConverter;
constexpr std::int32_t kAny = ChannelConverter::kAnyLayout;
constexpr double a = 0.7071067811865476;

// Every pair of layouts converts: the same count passes through, no row can
// clip, and only LFE where the target has none (and the extra 7.1 pair, where
// there are no surrounds to take it) goes unheard.
TEST(ChannelConverterMix, EveryLayoutPairMixesWithinFullScale) {
    for (std::int32_t from = 1; from <= Converter::kMaxChannels; ++from) {
        for (std::int32_t to = 1; to <= Converter::kMaxChannels; ++to) {
            SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
            const ChannelConverter converter(from, to, kAny);
            const auto& weights = converter.weights();
            for (std::int32_t k = 0; k < to; ++k) {
                double total = 0.0;
                for (std::int32_t c = 0; c < from; ++c) {
                    total += std::abs(weights[k][c]);
                    if (from == to) {
                        EXPECT_EQ(weights[k][c], c == k ? 1.0f : 0.0f);
                    }
                }
                EXPECT_LE(total, 1.0 + 1e-6);
            }
            for (std::int32_t c = 0; c < from; ++c) {
                double heard = 0.0;
                for (std::int32_t k = 0; k < to; ++k) {
                    heard += weights[k][c];
                }
                const bool lfe = from >= 6 && c == 3 && to < 6;
                const bool extraPair = from == 8 && c >= 6 && to < 4;
                EXPECT_EQ(heard > 0.0, !lfe && !extraPair) << "S" << c;
            }
        }
    }
    EXPECT_THROW(ChannelConverter(9, 2, kAny), zelm::CError);
    EXPECT_THROW(ChannelConverter(2, 0, kAny), zelm::CError);
}

// Planes are rounded weighted sums of each frame; the converter follows the
// stride, not its channel count, and writes nothing for zero frames.
TEST(ChannelConverterMix, ConvertWritesRoundedSumsFrameByFrame) {
    const ChannelConverter stereoToMono(2, 1, kAny);
    const ChannelConverter fiveOneToStereo(6, 2, kAny);
    // Three frames of eight interleaved slots; the slots beyond a source's
    // channels must not be read.
    const std::vector<std::int16_t> frames = {
        1001,  -3,    300,  400,  500,    600,    9999,   9999, 32767,  32767,  32767, 32767,
        32767, 32767, 9999, 9999, -32768, -32768, -32768, 0,    -32768, -32768, 9999,  9999};
    Converter::SourcePointers sources{};
    for (int c = 0; c < Converter::kMaxChannels; ++c) {
        sources[c] = frames.data() + c;
    }
    std::vector<std::int16_t> mono(4, -7);
    stereoToMono.convert(3, sources, 16, {mono.data()});
    EXPECT_EQ(mono, (std::vector<std::int16_t>{499, 32767, -32768, -7}));

    std::vector<std::int16_t> left(3, -7);
    std::vector<std::int16_t> right(3, -7);
    fiveOneToStereo.convert(3, sources, 16, {left.data(), right.data()});
    const double scale = 1.0 / (1.0 + 2.0 * a);
    EXPECT_EQ(left[0], std::lround((1001 + a * 300 + a * 500) * scale));
    EXPECT_EQ(right[0], std::lround((-3 + a * 300 + a * 600) * scale));
    EXPECT_EQ(left[1], 32767);
    EXPECT_EQ(right[2], -32768);
    fiveOneToStereo.convert(0, sources, 16, {left.data(), right.data()});
    EXPECT_EQ(left[0], std::lround((1001 + a * 300 + a * 500) * scale));
}

// Mixing interleaved frames gives the samples of the planes convert writes,
// for every pair of counts (vectors for one or two channels, and a tail).
TEST(ChannelConverterMix, MixedFramesEqualTheConvertedPlanes) {
    constexpr std::int32_t kFrames = 11;
    std::vector<std::int16_t> source(kFrames * Converter::kMaxChannels);
    for (std::size_t n = 0; n < source.size(); ++n) {
        source[n] = static_cast<std::int16_t>(n % 3 == 0 ? 32767 - n : n * 7919 - 30000);
    }
    for (std::int32_t from = 1; from <= Converter::kMaxChannels; ++from) {
        for (std::int32_t to = 1; to <= Converter::kMaxChannels; ++to) {
            SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
            const ChannelConverter converter(from, to, kAny, 1.5f);
            Converter::SourcePointers sources{};
            Converter::TargetPointers targets{};
            std::vector<std::int16_t> planes(kFrames * to);
            for (std::int32_t c = 0; c < from; ++c) {
                sources[c] = source.data() + c;
            }
            for (std::int32_t k = 0; k < to; ++k) {
                targets[k] = planes.data() + k * kFrames;
            }
            converter.convert(kFrames, sources, from * 2, targets);
            std::vector<std::int16_t> frames(kFrames * to);
            converter.mixFrames(kFrames, source.data(), frames.data());
            for (std::int32_t n = 0; n < kFrames * to; ++n) {
                EXPECT_EQ(frames[n], planes[(n % to) * kFrames + n / to]) << n;
            }
        }
    }
}

} // namespace
} // namespace tesk::samplerateconverter
