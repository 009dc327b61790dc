#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core_test_support.h"
#include "decoder/core/frame_decoder.h"

namespace tesk::quor::test {
namespace {

void put_be32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
}

// An MPEG-1 Layer III stereo 128 kbit/s 44.1 kHz tag frame with every field.
std::vector<std::uint8_t> xing_frame(const char* name) {
    std::vector<std::uint8_t> bytes = silent_frame(0xFFFB9000u);
    std::memcpy(bytes.data() + 36, name, 4);
    put_be32(bytes, 40, 0xF);    // frames, bytes, TOC, scale
    put_be32(bytes, 44, 1234);   // frame count
    put_be32(bytes, 48, 999999); // byte count
    for (int i = 0; i < 100; ++i) {
        bytes[52 + i] = static_cast<std::uint8_t>(i * 2);
    }
    put_be32(bytes, 152, 57); // scale
    // Encoder delay 576 and padding 1105 behind the last field.
    bytes[156 + 21] = 576 >> 4;
    bytes[156 + 22] = static_cast<std::uint8_t>(((576 & 15) << 4) | (1105 >> 8));
    bytes[156 + 23] = 1105 & 0xFF;
    return bytes;
}

// ---- header decoding -----------------------------------------------------------

TEST(FrameHeader, ValidityChecksSyncLayerBitRateRateAndEmphasis) {
    EXPECT_TRUE(header_is_valid(0xFFFB9000u, 0));
    EXPECT_TRUE(header_is_valid(0xFFFB9000u, 3));
    EXPECT_FALSE(header_is_valid(0xFFFB9000u, 2)); // another layer
    EXPECT_FALSE(header_is_valid(0xFFDB9000u, 0)); // sync incomplete
    EXPECT_FALSE(header_is_valid(0xFFF99000u, 0)); // layer code 00
    EXPECT_FALSE(header_is_valid(0xFFFBF000u, 0)); // bit-rate index 15
    EXPECT_FALSE(header_is_valid(0xFFFB9C00u, 0)); // sample-rate code 3
    EXPECT_TRUE(header_is_valid(0xFFFB9002u, 0));  // emphasis 2 decodes like any other
    EXPECT_TRUE(header_is_valid(0xFFE39000u, 3));  // MPEG-2.5
    EXPECT_EQ(bitrate_kbps(false, 2, 15), 0);
    EXPECT_EQ(sample_rate_hz(9), 0);
}

TEST(FrameHeader, DecodesFieldsAndFrameSizes) {
    struct Case {
        std::uint32_t word;
        int layer, lsf, mpeg25, rate_index, channels, frame_size;
    };
    const Case cases[] = {
        {0xFFFB9000u, 3, 0, 0, 0, 2, 413},  // 128 kbit/s 44.1 kHz: 417 bytes
        {0xFFFB9200u, 3, 0, 0, 0, 2, 414},  // with padding
        {0xFFF380C0u, 3, 1, 0, 3, 1, 204},  // MPEG-2 22.05 kHz mono 64 kbit/s
        {0xFFE388C0u, 3, 1, 1, 8, 1, 572},  // MPEG-2.5 8 kHz 64 kbit/s
        {0xFFFDA400u, 2, 0, 0, 1, 2, 572},  // Layer II 192 kbit/s 48 kHz
        {0xFFFFE800u, 1, 0, 0, 2, 2, 668},  // Layer I 448 kbit/s 32 kHz
        {0xFFFB0000u, 3, 0, 0, 0, 2, 0},    // free format
        {0xFFFBE800u, 3, 0, 0, 2, 2, 1436}, // the largest: 320 kbit/s at 32 kHz
    };
    for (const Case& c : cases) {
        FrameHeader header;
        EXPECT_EQ(decode_header(header, c.word), 1) << std::hex << c.word;
        EXPECT_EQ(header.layer, c.layer);
        EXPECT_EQ(header.lsf, c.lsf);
        EXPECT_EQ(header.mpeg25, c.mpeg25);
        EXPECT_EQ(header.sample_rate_index, c.rate_index);
        EXPECT_EQ(header.channels, c.channels);
        EXPECT_EQ(header.frame_size, c.frame_size) << std::hex << c.word;
    }
    FrameHeader header;
    decode_header(header, 0xFFFE49B9u);
    EXPECT_EQ(header.protection, 1);
    EXPECT_EQ(header.bitrate_index, 4);
    EXPECT_EQ(header.padding, 0);
    EXPECT_EQ(header.private_bit, 1);
    EXPECT_EQ(header.mode, 2);
    EXPECT_EQ(header.mode_extension, 3);
    EXPECT_EQ(header.copyright, 1);
    EXPECT_EQ(header.original, 0);
    EXPECT_EQ(header.emphasis, 1);
}

// ---- VBR tag -------------------------------------------------------------------

TEST(VbrTag, ParsesEveryFieldOfAXingFrame) {
    VbrTagInfo info;
    ASSERT_TRUE(parse_vbr_tag(info, xing_frame("Xing").data()));
    EXPECT_EQ(info.version_bit, 1);
    EXPECT_EQ(info.sample_rate, 44100);
    EXPECT_EQ(info.flags, 0xFu);
    EXPECT_EQ(info.frame_count, 1234u);
    EXPECT_EQ(info.byte_count, 999999u);
    EXPECT_EQ(info.toc[99], 198);
    EXPECT_EQ(info.vbr_scale, 57);
    EXPECT_EQ(info.tag_frame_length, 417);
    EXPECT_EQ(info.encoder_delay, 576);
    EXPECT_EQ(info.encoder_padding, 1105);
    EXPECT_TRUE(parse_vbr_tag(info, xing_frame("Info").data()));
    EXPECT_FALSE(parse_vbr_tag(info, xing_frame("Xinf").data()));
    EXPECT_FALSE(parse_vbr_tag(info, xing_frame("Abcd").data()));
}

TEST(VbrTag, TagPlaceFollowsVersionAndChannels) {
    // MPEG-2 mono: the tag starts 13 bytes in; only frame count present;
    // delay and padding above 3000 are unknown.
    std::vector<std::uint8_t> bytes = silent_frame(0xFFF380C0u);
    bytes.resize(194, 0);
    std::memcpy(bytes.data() + 13, "Info", 4);
    put_be32(bytes, 17, 1);
    put_be32(bytes, 21, 77);
    bytes[25 + 21] = 0xFF;
    bytes[25 + 22] = 0xFF;
    bytes[25 + 23] = 0xFF;
    VbrTagInfo info;
    ASSERT_TRUE(parse_vbr_tag(info, bytes.data()));
    EXPECT_EQ(info.frame_count, 77u);
    EXPECT_EQ(info.vbr_scale, -1);
    EXPECT_EQ(info.sample_rate, 22050);
    EXPECT_EQ(info.tag_frame_length, 72000 * 64 / 22050);
    EXPECT_EQ(info.encoder_delay, -1);
    EXPECT_EQ(info.encoder_padding, -1);
}

// ---- frame assembly ------------------------------------------------------------

TEST(FrameAssembly, TagFrameIsDroppedWithoutOutput) {
    const auto path = conformance_dir() / "l1-fl2.bit";
    if (!std::filesystem::exists(path)) {
        GTEST_SKIP() << "conformance stream " << path << " not found";
    }
    const std::vector<std::uint8_t> stream = read_file(path);
    std::vector<std::uint8_t> tagged = xing_frame("Xing");
    tagged.insert(tagged.end(), stream.begin(), stream.end());

    auto plain = make_decoder();
    const DecodeResult expected = decode_stream(*plain, stream, {4096});
    auto decoder = make_decoder();
    int done = -1;
    EXPECT_EQ(decode_bytes(*decoder, tagged, done), NEED_MORE);
    EXPECT_EQ(done, 0);
    EXPECT_EQ(decoder->vbr_tag_found, 1);
    EXPECT_EQ(decoder->vbr_frame_count, 1234);
    EXPECT_EQ(decoder->encoder_delay, 576);
    EXPECT_EQ(decoder->encoder_padding, 1105);
    EXPECT_EQ(decoder->buffered, static_cast<int>(stream.size()));
    const DecodeResult decoded = decode_stream(*decoder, {}, {1});
    EXPECT_EQ(decoded.samples, expected.samples);
}

TEST(FrameAssembly, TagCheckNeedsTheProbeLength) {
    // A 96-byte frame with "Info" where a tag would be: alone it is too short
    // for the check and decodes; with more frames behind it, it is taken
    // for a tag frame and dropped.
    std::vector<std::uint8_t> frame = silent_frame(0xFFFD14C0u);
    std::memcpy(frame.data() + 21, "Info", 4); // MPEG-1 mono: tag 21 bytes in
    auto decoder = make_decoder();
    int done = 0;
    EXPECT_EQ(decode_bytes(*decoder, frame, done), 0);
    EXPECT_EQ(decoder->vbr_tag_found, 0);
    EXPECT_EQ(done, 1152 * 2);

    std::vector<std::uint8_t> three = frame;
    three.insert(three.end(), frame.begin(), frame.end());
    three.insert(three.end(), frame.begin(), frame.end());
    auto tagged = make_decoder();
    EXPECT_EQ(decode_bytes(*tagged, three, done), NEED_MORE);
    EXPECT_EQ(tagged->buffered, 2 * static_cast<int>(frame.size()));
    EXPECT_EQ(tagged->vbr_tag_found, 1);
}

TEST(FrameAssembly, BytesInFrontOfAHeaderStayAsDataOfThePreviousFrame) {
    const std::vector<std::uint8_t> frame = silent_frame(0xFFFD14C0u);
    const int frame_data = static_cast<int>(frame.size()) - 4;
    for (const int junk : {100, 4000}) {
        auto decoder = make_decoder();
        int done = 0;
        ASSERT_EQ(decode_bytes(*decoder, frame, done), 0);
        std::vector<std::uint8_t> next(static_cast<std::size_t>(junk), 0xA5);
        next.insert(next.end(), frame.begin(), frame.end());
        ASSERT_EQ(decode_bytes(*decoder, next, done), 0);
        EXPECT_EQ(done, 1152 * 2);
        // The first frame's data sit in half 1; the bytes in front of the
        // second header follow them, up to 2880 bytes in all.
        const int kept = std::min(junk, kMaxLeadingBytes - frame_data);
        const std::uint8_t* half = decoder->reservoir + kReservoirHalfSize + kReservoirLead;
        for (int i = 0; i < kept; ++i) {
            ASSERT_EQ(half[frame_data + i], 0xA5) << "byte " << i << " of " << junk;
        }
        EXPECT_NE(half[frame_data + kept], 0xA5);
        EXPECT_EQ(decoder->buffered, 0);
    }
}

TEST(FrameAssembly, PiecesOfAnyLengthAwaitTheRestOfTheFrame) {
    const std::vector<std::uint8_t> frame = silent_frame(0xFFFD14C0u);
    auto decoder = make_decoder();
    int done = 0;
    for (std::size_t i = 0; i + 1 < frame.size(); ++i) {
        ASSERT_EQ(decode_bytes(*decoder, {frame[i]}, done), NEED_MORE) << "byte " << i;
    }
    EXPECT_EQ(decode_bytes(*decoder, {frame.back()}, done), 0);
    EXPECT_EQ(done, 1152 * 2);
    EXPECT_EQ(decode_bytes(*decoder, {}, done), NEED_MORE);
}

TEST(FrameAssembly, TooSmallOutputIsRefusedWithAMessage) {
    auto decoder = make_decoder();
    const std::vector<std::uint8_t> frame = silent_frame(0xFFFD14C0u);
    std::vector<unsigned char> out(4607);
    int done = 0;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(decode_frame(*decoder, frame.data(), static_cast<int>(frame.size()), out.data(), 4607,
                           done),
              -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "vad: Insufficient memory for decoding buffer 4607\n");
    EXPECT_EQ(decoder->buffered, 0);
}

TEST(FrameAssembly, DecodeFrameReportsCountAndFormat) {
    auto decoder = make_decoder();
    std::vector<std::int16_t> samples(4608);
    DecodedFrame result;
    const std::vector<std::uint8_t> frame = silent_frame(0xFFFD18C0u); // 32 kHz mono
    ASSERT_TRUE(DecodeFrame(*decoder, samples.data(), 4608, frame.data(),
                            static_cast<int>(frame.size()) - 1, result));
    EXPECT_EQ(result.sample_count, 0);
    EXPECT_EQ(result.two_channel, 1);
    EXPECT_EQ(result.sample_rate, 44100);
    ASSERT_TRUE(DecodeFrame(*decoder, samples.data(), 4608, &frame.back(), 1, result));
    EXPECT_EQ(result.sample_count, 1152);
    EXPECT_EQ(result.two_channel, 0);
    EXPECT_EQ(result.sample_rate, 32000);
}

TEST(FrameAssembly, ResetForgetsBufferedInputAndFilterState) {
    const std::vector<std::uint8_t> frame = silent_frame(0xFFFD14C0u);
    auto decoder = make_decoder();
    int done = 0;
    decode_bytes(*decoder, std::vector<std::uint8_t>(frame.begin(), frame.begin() + 50), done);
    EXPECT_EQ(decoder->buffered, 46); // the header is taken
    frame_decoder_reset(*decoder);
    EXPECT_EQ(decoder->buffered, 0);
    EXPECT_EQ(decoder->head, nullptr);
    EXPECT_EQ(decoder->previous_frame_size, -1);
    EXPECT_EQ(decoder->synthesis.ring_index, 1);
    EXPECT_TRUE(decoder->resync);
    EXPECT_EQ(decode_bytes(*decoder, frame, done), 0);
}

TEST(FrameAssembly, FreeFormatLayer2FrameRunsToTheNextHeader) {
    // Two free-format frames of 300 bytes each, then a third header.
    std::vector<std::uint8_t> frame = header_bytes(0xFFFD00C0u); // 44.1 kHz mono, free format
    frame.resize(300, 0);
    std::vector<std::uint8_t> stream = frame;
    stream.insert(stream.end(), frame.begin(), frame.end());
    stream.insert(stream.end(), frame.begin(), frame.begin() + 4);
    auto decoder = make_decoder();
    int done = 0;
    EXPECT_EQ(decode_bytes(*decoder, stream, done), 0);
    EXPECT_EQ(done, 1152 * 2);
    EXPECT_EQ(decoder->previous_frame_size, 296);
    EXPECT_EQ(decode_bytes(*decoder, {}, done), 0);
    EXPECT_EQ(decoder->buffered, 4);
}

TEST(FrameAssembly, FreeFormatFrameLongerThanTheReservoirIsRefused) {
    std::vector<std::uint8_t> stream = header_bytes(0xFFFD00C0u);
    stream.resize(4000, 0);
    const std::vector<std::uint8_t> next = silent_frame(0xFFFD80C0u); // 128 kbit/s
    stream.insert(stream.end(), next.begin(), next.end());
    auto decoder = make_decoder();
    int done = 0;
    EXPECT_EQ(decode_bytes(*decoder, stream, done), -1);
    EXPECT_EQ(done, 0);
    EXPECT_EQ(decoder->buffered, static_cast<int>(next.size()));
    EXPECT_EQ(decode_bytes(*decoder, {}, done), 0);
    EXPECT_EQ(done, 1152 * 2);
}

} // namespace
} // namespace tesk::quor::test
