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
    // An encoder tag with delay 576 and padding 1105 behind the last field.
    std::memcpy(bytes.data() + 156, "LAME3.100", 9);
    bytes[156 + 21] = 576 >> 4;
    bytes[156 + 22] = static_cast<std::uint8_t>(((576 & 15) << 4) | (1105 >> 8));
    bytes[156 + 23] = 1105 & 0xFF;
    return bytes;
}

// ---- header decoding -----------------------------------------------------------

// ---- VBR tag -------------------------------------------------------------------

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

} // namespace
} // namespace tesk::quor::test
