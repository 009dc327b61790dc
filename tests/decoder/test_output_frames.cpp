#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "decoder/output_frames.h"

namespace tesk::quor {
namespace {

TEST(OutputFrames, NewFramesHaveAnUnsetFormatAndABareFrameHoldsNothing) {
    const PCMFrame pcm(4608);
    EXPECT_EQ(pcm.GetSampleCount(), 0);
    EXPECT_EQ(pcm.twoChannels, -1);
    EXPECT_EQ(pcm.sampleRate, -1);
    AudioFrame bare;
    bare.SetSampleCount(10);
    EXPECT_EQ(bare.GetSampleCount(), 0);
}

TEST(OutputFrames, FormatsCompareAllFiveWords) {
    PCMFrame a(8);
    PCMFrame b(8);
    a.SetFormat(1, 44100);
    b.SetFormat(1, 44100);
    EXPECT_TRUE(a.SameFormat(b));
    b.formatWord2 = 2;
    EXPECT_FALSE(a.SameFormat(b));
    b.formatWord2 = 1;
    b.formatWord1 = 0;
    EXPECT_FALSE(a.SameFormat(b));

    AudioFrame copy;
    a.CopyFormatTo(copy);
    EXPECT_TRUE(copy.SameFormat(a));
    EXPECT_EQ(BlockAlign(copy), 4);
    copy.SetFormat(0, 22050);
    EXPECT_EQ(BlockAlign(copy), 2);
}

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

TEST(OutputFrames, SixteenBitAndSilenceReplaceTheContents) {
    FloatFrame floats(4);
    const std::int16_t in[] = {-32768, 32767, 0, 16384};
    floats.SetFrom16Bit(in, 4);
    EXPECT_EQ(floats.Samples()[0], -1.0f);
    EXPECT_LT(floats.Samples()[1], 1.0f);
    EXPECT_GT(floats.Samples()[1], 0.9999f);
    EXPECT_EQ(floats.Samples()[3], 0.5f);
    floats.SetSilence(2);
    EXPECT_EQ(floats.GetSampleCount(), 2);
    EXPECT_EQ(floats.Samples()[0], 0.0f);

    PCMFrame pcm(4);
    pcm.SetFrom16Bit(in, 3);
    EXPECT_EQ(pcm.GetSampleCount(), 3);
    EXPECT_EQ(pcm.Samples()[1], 32767);
    pcm.SetSilence(4);
    EXPECT_EQ(pcm.GetSampleCount(), 4);
    EXPECT_EQ(pcm.Samples()[1], 0);
    pcm.Clear();
    EXPECT_EQ(pcm.GetSampleCount(), 0);
    pcm.SetFrom16Bit(in, 100); // more than fits: cut to the capacity
    EXPECT_EQ(pcm.GetSampleCount(), 4);
}

} // namespace
} // namespace tesk::quor
