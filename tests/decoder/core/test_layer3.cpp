#include <gtest/gtest.h>

#include "core_test_support.h"
#include "decoder/core/layer3.h"
#include "layer3_test_support.h"

namespace tesk::quor::test {
namespace {

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

} // namespace
} // namespace tesk::quor::test
