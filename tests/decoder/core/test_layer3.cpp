#include <gtest/gtest.h>

#include "core_test_support.h"
#include "decoder/core/layer3.h"
#include "layer3_test_support.h"

namespace tesk::quor::test {
namespace {

// ---- conformance streams ---------------------------------------------------

std::uint32_t word_at(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
           (std::uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
}

// The stream up to its last whole frame, as the stream scanner hands frames
// to the frame decoder: a final frame cut short by the end of the file is
// left out. Frames are walked from the first header by their sizes.
std::vector<std::uint8_t> whole_frames(std::vector<std::uint8_t> stream) {
    std::size_t at = 0;
    while (at + 4 <= stream.size() && !header_is_valid(word_at(stream, at), 0)) {
        ++at;
    }
    while (at + 4 <= stream.size() && header_is_valid(word_at(stream, at), 0)) {
        FrameHeader header;
        decode_header(header, word_at(stream, at));
        const std::size_t length = 4 + static_cast<std::size_t>(header.frame_size);
        if (header.frame_size == 0) {
            break;
        }
        if (at + length > stream.size()) {
            stream.resize(at);
            break;
        }
        at += length;
    }
    return stream;
}

class Layer3Conformance : public ::testing::TestWithParam<std::string> {};

TEST_P(Layer3Conformance, MatchesReferenceDecoding) {
    expect_matches_reference(GetParam(), {4096, 13, 1500}, whole_frames);
}

INSTANTIATE_TEST_SUITE_P(Streams, Layer3Conformance,
                         ::testing::Values("l3-compl", "l3-he_32khz", "l3-he_44khz", "l3-si",
                                           "l3-si_block", "l3-sin1k0db", "M2L3_bitrate_22_all",
                                           "M2L3_compl24", "M2L3_noise"));

// ---- synthetic frames ----------------------------------------------------------

// A frame: the header word, the side information written by `side_info`,
// then zero bytes up to `size`.
template <typename SideInfo>
std::vector<std::uint8_t> layer3_frame(std::uint32_t header, int size, SideInfo side_info) {
    testing::BitWriter writer;
    writer.put(header, 32);
    side_info(writer);
    std::vector<std::uint8_t> bytes = writer.bytes();
    bytes.resize(static_cast<std::size_t>(size), 0);
    return bytes;
}

// MPEG-2.5, 8 kHz, 8 kbit/s, one channel: 72-byte frames with one granule
// of short blocks, mixed or not, of 288 line pairs from table 0 (no bits).
std::vector<std::uint8_t> short_block_frame(bool mixed) {
    return layer3_frame(0xFFE318C0u, 72, [mixed](testing::BitWriter& w) {
        w.put(0, 8);   // main_data_begin
        w.put(0, 1);   // private bits
        w.put(0, 12);  // part2_3_length
        w.put(288, 9); // big_values
        w.put(210, 8); // global_gain
        w.put(0, 9);   // scalefac_compress: no scale-factor bits
        w.put(1, 1);   // window switching
        w.put(2, 2);   // block_type short
        w.put(mixed ? 1 : 0, 1);
        w.put(0, 10); // table_select 0, 0
        w.put(0, 9);  // subblock gains
        w.put(0, 2);  // scalefac_scale, count1table_select
    });
}

std::vector<std::uint8_t> concatenate(std::initializer_list<std::vector<std::uint8_t>> frames) {
    std::vector<std::uint8_t> stream;
    for (const auto& frame : frames) {
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

TEST(Layer3Frames, MixedBlockAtEightKilohertzStaysInTheGranule) {
    // Six long bands end at line 72, where short band 3 begins: 288 pairs
    // fill the granule.
    const auto stream =
        concatenate({short_block_frame(true), short_block_frame(false), short_block_frame(false)});
    auto decoder = make_decoder();
    const DecodeResult result = decode_stream(*decoder, stream, {static_cast<int>(stream.size())});
    EXPECT_EQ(result.errors, 0);
    EXPECT_EQ(result.frames, 3);
    ASSERT_EQ(result.samples.size(), 3u * 576u);
    for (std::int16_t sample : result.samples) {
        ASSERT_EQ(sample, 0);
    }
}

// MPEG-1, 48 kHz, 32 kbit/s, one channel: 96-byte frames. Granule 0 is
// silent; granule 1 claims no bits but one pair of table 1, whose code the
// zero bytes of the main data continue.
std::vector<std::uint8_t> overrunning_frame() {
    return layer3_frame(0xFFFB14C0u, 96, [](testing::BitWriter& w) {
        w.put(0, 9 + 5 + 4); // main_data_begin, private bits, scfsi
        for (unsigned big_values : {0u, 1u}) {
            w.put(0, 12);         // part2_3_length
            w.put(big_values, 9); // big_values
            w.put(210, 8);        // global_gain
            w.put(0, 4 + 1);      // scalefac_compress, no window switching
            w.put(1, 5);          // table_select[0]
            w.put(0, 10 + 4 + 3); // table_select[1, 2], region counts
            w.put(0, 3);          // preflag, scalefac_scale, count1table_select
        }
    });
}

TEST(Layer3Frames, HuffmanDataBeyondTheGranuleEndsTheFrameWithoutError) {
    const auto stream = concatenate({overrunning_frame(), overrunning_frame()});
    auto decoder = make_decoder();
    const DecodeResult result = decode_stream(*decoder, stream, {static_cast<int>(stream.size())});
    EXPECT_EQ(result.errors, 0);
    EXPECT_EQ(result.frames, 2);
    EXPECT_EQ(result.samples.size(), 2u * 576u) << "granule 1 of each frame yields nothing";
}

TEST(Layer3Threads, IndependentDecodersGiveSingleThreadedResults) {
    expect_threads_agree({"l3-si_block", "l3-sin1k0db", "M2L3_noise", "M2L3_compl24"});
}

} // namespace
} // namespace tesk::quor::test
