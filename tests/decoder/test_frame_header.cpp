#include <gtest/gtest.h>

#include <cstdint>

#include "decoder/frame_header.h"

namespace tesk::quor {
namespace {

CFrameHeader Parsed(std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) {
    const std::uint8_t bytes[4] = {0xFF, b1, b2, b3};
    CFrameHeader header;
    EXPECT_TRUE(header.Parse(bytes));
    return header;
}

TEST(FrameHeader, FieldsAndLengthsOfEachVersionAndLayer) {
    const CFrameHeader l3 = Parsed(0xFB, 0x92, 0x44); // MPEG-1 L3 128k 44100, padded, joint
    EXPECT_EQ(l3.layer, 3);
    EXPECT_EQ(l3.lsf, 0);
    EXPECT_EQ(l3.mpeg25, 0);
    EXPECT_EQ(l3.protectionBit, 1);
    EXPECT_EQ(l3.bitRate, 128);
    EXPECT_EQ(l3.sampleRate, 44100);
    EXPECT_EQ(l3.padding, 1);
    EXPECT_EQ(l3.mode, 1);
    EXPECT_EQ(l3.modeExtension, 0);
    EXPECT_EQ(l3.twoChannels, 1);
    EXPECT_EQ(l3.frameLength, 418);
    EXPECT_NEAR(l3.exactFrameLength, 417.959, 0.001);
    EXPECT_EQ(l3.GetSamplesPerFrame(), 1152);

    const CFrameHeader l1 = Parsed(0xFE, 0xC2, 0xC0); // MPEG-1 L1 384k 44100, padded, mono, CRC
    EXPECT_EQ(l1.layer, 1);
    EXPECT_EQ(l1.protectionBit, 0);
    EXPECT_EQ(l1.twoChannels, 0);
    EXPECT_EQ(l1.frameLength, (12000 * 384 / 44100 + 1) * 4);
    EXPECT_EQ(l1.GetSamplesPerFrame(), 384);

    const CFrameHeader l2 = Parsed(0xF5, 0xA0, 0x00); // MPEG-2 L2 96k 22050
    EXPECT_EQ(l2.layer, 2);
    EXPECT_EQ(l2.lsf, 1);
    EXPECT_EQ(l2.bitRate, 96);
    EXPECT_EQ(l2.frameLength, 144000 * 96 / 22050);
    EXPECT_EQ(l2.GetSamplesPerFrame(), 1152);

    const CFrameHeader lsf3 = Parsed(0xF3, 0x84, 0x00); // MPEG-2 L3 64k 24000
    EXPECT_EQ(lsf3.frameLength, 144000 * 64 / 48000);
    EXPECT_EQ(lsf3.GetSamplesPerFrame(), 576);

    const CFrameHeader l25 = Parsed(0xE3, 0x58, 0x00); // MPEG-2.5 L3 40k 8000
    EXPECT_EQ(l25.mpeg25, 1);
    EXPECT_EQ(l25.lsf, 1);
    EXPECT_EQ(l25.sampleRate, 8000);
    EXPECT_EQ(l25.bitRate, 40);
    EXPECT_EQ(l25.frameLength, 144000 * 40 / 16000);
}

TEST(FrameHeader, FreeFormatIsScannableOnceItsLengthIsSet) {
    const std::uint8_t layer3[4] = {0xFF, 0xFB, 0x02, 0x00}; // 44.1 kHz, padded
    CFrameHeader header;
    ASSERT_TRUE(header.Parse(layer3));
    EXPECT_EQ(header.bitRate, 0);
    EXPECT_FALSE(header.IsScannable());
    header.SetFreeFormatLength(417);
    EXPECT_EQ(header.frameLength, 418);
    EXPECT_EQ(header.bitRate, 128); // 417 bytes at 44.1 kHz: 127.7 kbit/s
    EXPECT_TRUE(header.IsScannable());
    const std::uint8_t layer1[4] = {0xFF, 0xFF, 0x02, 0x00}; // padding is a 4-byte slot
    ASSERT_TRUE(header.Parse(layer1));
    header.SetFreeFormatLength(384);
    EXPECT_EQ(header.frameLength, 388);
    EXPECT_EQ(header.bitRate, 353);
}

} // namespace
} // namespace tesk::quor
