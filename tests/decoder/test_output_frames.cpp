#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <tuple>
#include <vector>

#include "decoder/output_frames.h"
#include "quor/quor.h"

namespace tesk::quor {
namespace {

TEST(OutputFrames, FloatToSixteenBitRoundsToEvenAndLimits) {
    PCMFrame pcm(8);
    std::vector<float> in = {1.0f, 2.0f, -2.0f, 0.5f};
    pcm.AddFloat(in.data(), 4);
    ASSERT_EQ(pcm.GetSampleCount(), 4);
    EXPECT_EQ(pcm.Samples()[0], 32767);
    EXPECT_EQ(pcm.Samples()[1], 32767);
    EXPECT_EQ(pcm.Samples()[2], -32768);
    EXPECT_EQ(pcm.Samples()[3], 16384);
    // The scaled values are written back into the input.
    EXPECT_EQ(in[0], 32767.0f);
    EXPECT_EQ(in[1], 65534.0f);
    EXPECT_EQ(in[2], -65534.0f);
    EXPECT_EQ(in[3], 16383.5f);
}

// Whole vectors and the tail pack alike: integers are the nearest of the
// scaled value (halves to even) within their range, NaN 0; floats /32768.
TEST(OutputFrames, PackedSamplesRoundSaturateAndScaleInEveryFormat) {
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> values = {1.5f / 256,  2.5f / 256, -1.5f / 256, 32767.9f, -32769.0f,
                                       inf,         -inf,       NAN,         1e30f,    -1e30f,
                                       0.75f / 256, 32768.0f,   -0.5f / 256};
    const auto count = static_cast<std::int32_t>(values.size());
    for (const auto& [format, bytes, scale] :
         {std::tuple{QUOR_SAMPLES_INT24, 3, 256.0}, std::tuple{QUOR_SAMPLES_INT32, 4, 65536.0},
          std::tuple{QUOR_SAMPLES_FLOAT, 4, 0.0}}) {
        std::vector<std::uint8_t> out(values.size() * 4 + 2, 0xAA);
        PackSamples(values.data(), count, format, out.data());
        const double highest = std::ldexp(1.0, 8 * bytes - 1);
        for (std::size_t i = 0; i < values.size(); ++i) {
            std::int64_t expected = 0;
            if (scale == 0.0) {
                const float value = values[i] / 32768.0f;
                std::memcpy(&expected, &value, 4);
            } else if (!std::isnan(values[i])) {
                expected = std::llrint(std::clamp(values[i] * scale, -highest, highest - 1.0));
            }
            std::int64_t got = 0;
            std::memcpy(&got, out.data() + i * bytes, static_cast<std::size_t>(bytes));
            const int unused = 64 - 8 * bytes;
            if (scale != 0.0) {
                got =
                    static_cast<std::int64_t>(static_cast<std::uint64_t>(got) << unused) >> unused;
            }
            EXPECT_EQ(got, expected) << "format " << format << ", value " << i;
        }
        EXPECT_EQ(out[values.size() * bytes], 0xAA) << "format " << format;
    }
}

TEST(OutputFrames, StereoFloatsInterleaveAndStayWithinCapacity) {
    PCMFrame pcm(6);
    pcm.SetFormat(1, 48000);
    std::vector<float> left = {0.0f, 0.25f, -0.25f, 1.0f};
    std::vector<float> right = {0.5f, -0.5f, 0.0f, 1.0f};
    pcm.AddStereoFloat(left.data(), right.data(), 4);
    ASSERT_EQ(pcm.GetSampleCount(), 6); // the fourth pair does not fit
    const std::vector<std::int16_t> got(pcm.Samples(), pcm.Samples() + 6);
    EXPECT_EQ(got, (std::vector<std::int16_t>{0, 16384, 8192, -16384, -8192, 0}));

    PCMFrame mono(4);
    mono.SetFormat(0, 48000);
    std::vector<float> one = {0.5f, 0.5f};
    mono.AddStereoFloat(one.data(), nullptr, 2);
    EXPECT_EQ(mono.GetSampleCount(), 2);
}

} // namespace
} // namespace tesk::quor
