#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "decoder/output_frames.h"

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
