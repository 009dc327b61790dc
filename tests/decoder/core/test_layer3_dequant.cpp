#include <gtest/gtest.h>

#include <cmath>

#include "decoder/core/layer3_dequant.h"
#include "layer3_test_support.h"

namespace tesk::quor {
namespace {

using testing::bits_read;
using testing::BitWriter;
using testing::huffman_code;
using testing::reader_over;

constexpr int kRow44k = 0;
constexpr int kUnitGain = -210; // gain-table position of the factor 1

// A long-block granule whose big values all lie in region 0.
GranuleInfo long_granule(unsigned big_values, unsigned table) {
    GranuleInfo granule;
    granule.big_values = big_values;
    granule.region1_begin = 288;
    granule.region2_begin = 288;
    granule.table_select[0] = table;
    granule.granule_gain = kUnitGain;
    return granule;
}

class SpectrumDecode : public ::testing::Test {
protected:
    // `padding` zero bytes follow the writer's, giving refills room.
    int decode(const BitWriter& writer, GranuleInfo& granule, int row = kRow44k,
               int part2_length = 0, int scale_factor_end = 22, std::size_t padding = 0) {
        bytes_ = writer.bytes();
        bytes_.resize(bytes_.size() + padding);
        reader_ = reader_over(bytes_);
        for (double& line : lines_) {
            line = 123.0; // must be cleared by the decode
        }
        return decode_spectrum(reader_, lines_, {scale_factors_, scale_factor_end}, granule, row,
                               part2_length);
    }
    int count_nonzero() const {
        int count = 0;
        for (double line : lines_) {
            count += line != 0.0 ? 1 : 0;
        }
        return count;
    }
    std::vector<std::uint8_t> bytes_;
    BitReader reader_{};
    double lines_[kLinesPerGranule] = {};
    unsigned scale_factors_[kScaleFactorStoreSize] = {};
};

TEST_F(SpectrumDecode, EscapeWithThirteenLinbitsReachesTheLargestMagnitude) {
    GranuleInfo granule = long_granule(1, 23);
    BitWriter writer;
    writer.put_code(huffman_code(23, 0xF0));
    writer.put(8191, 13);
    writer.put(1, 1); // negative
    granule.part2_3_length = static_cast<unsigned>(writer.bit_count());
    ASSERT_EQ(decode(writer, granule), 0);
    EXPECT_DOUBLE_EQ(lines_[0], -std::pow(8206.0, 4.0 / 3.0));
    EXPECT_EQ(count_nonzero(), 1);
    EXPECT_EQ(granule.long_band_limit, 1u);
    EXPECT_EQ(bits_read(reader_), writer.bit_count());
}

TEST_F(SpectrumDecode, LongBandGainUsesScaleFactorPretabAndScale) {
    GranuleInfo granule = long_granule(288, 1);
    granule.region1_begin = 32; // region 1 uses table 0: zeros without bits, no quadruples
    granule.preflag = 1;
    granule.scalefac_scale = 1;
    scale_factors_[11] = 2; // band 11 starts at line 62 at 44.1 kHz; pretab 1
    BitWriter writer;
    for (int pair = 0; pair < 31; ++pair) {
        writer.put_code(huffman_code(1, 0x00));
    }
    writer.put_code(huffman_code(1, 0x10));
    writer.put(0, 1);
    granule.part2_3_length = static_cast<unsigned>(writer.bit_count()) + 7;
    writer.put(0x55, 7); // leftover bits to be passed over
    // Room for the refills of the first few pairs only: the rest read near
    // the buffer's end.
    ASSERT_EQ(decode(writer, granule, kRow44k, 0, 22, 40), 0);
    EXPECT_DOUBLE_EQ(lines_[62], std::pow(2.0, -((2 + 1) << 2) / 4.0));
    EXPECT_EQ(count_nonzero(), 1);
    EXPECT_EQ(granule.long_band_limit, 12u);
    EXPECT_EQ(granule.active_subbands, 5u); // (74 + 7) / 18 + 1
    EXPECT_EQ(bits_read(reader_), writer.bit_count());
}

TEST_F(SpectrumDecode, ShortBlocksStoreWindowInterleavedWithWindowGains) {
    GranuleInfo granule = long_granule(3, 1);
    granule.block_type = 2;
    granule.region1_begin = 18;
    granule.window_gain[0] = kUnitGain;
    granule.window_gain[1] = kUnitGain + 8;
    granule.window_gain[2] = kUnitGain + 16;
    scale_factors_[1] = 1; // band 0, window 1
    BitWriter writer;
    writer.put_code(huffman_code(1, 0x00)); // lines 0, 3
    writer.put_code(huffman_code(1, 0x10)); // lines 6, 9
    writer.put(0, 1);
    writer.put_code(huffman_code(1, 0x01)); // band 0 window 1: lines 1, 4
    writer.put(1, 1);
    granule.part2_3_length = static_cast<unsigned>(writer.bit_count());
    ASSERT_EQ(decode(writer, granule, kRow44k, 0, 39), 0);
    EXPECT_DOUBLE_EQ(lines_[6], 1.0);
    EXPECT_DOUBLE_EQ(lines_[4], -std::pow(2.0, -(8 + 2) / 4.0));
    EXPECT_EQ(count_nonzero(), 2);
    EXPECT_EQ(granule.short_band_limit[0], 1u);
    EXPECT_EQ(granule.short_band_limit[1], 1u);
    EXPECT_EQ(granule.short_band_limit[2], 0u);
    EXPECT_EQ(granule.long_band_limit, 0u);
    EXPECT_EQ(granule.active_subbands, 1u);
}

// Quadruples of table B (4-bit codes) at unit gain: lines 0-3, lines 4 and
// 6, then lines 8-11, whose code and sign bits the granule's length cuts
// off after `kept` bits. A value whose sign bit is cut off stays zero but
// counts for the band limit; bits past the length are left alone.
TEST_F(SpectrumDecode, QuadruplesStopWhereTheGranuleEnds) {
    struct Cut {
        int kept;
        int nonzero;
        unsigned band_limit;
        double line8;
    };
    for (const Cut cut :
         {Cut{3, 6, 2u, 0.0}, Cut{4, 6, 3u, 0.0}, Cut{6, 8, 3u, -1.0}, Cut{8, 10, 3u, -1.0}}) {
        GranuleInfo granule = long_granule(0, 0);
        granule.count1table_select = 1;
        BitWriter writer;
        writer.put_code(huffman_code(quad_table_a + 1, 0xF));
        writer.put(0x5, 4); // + - + -
        writer.put_code(huffman_code(quad_table_a + 1, 0xA));
        writer.put(0x1, 2); // + -
        const std::string last = huffman_code(quad_table_a + 1, 0xF) + "1001";
        writer.put_code(last.substr(0, static_cast<std::size_t>(cut.kept)));
        granule.part2_3_length = static_cast<unsigned>(writer.bit_count());
        writer.put(0x7F, 7);
        ASSERT_EQ(decode(writer, granule), 0) << cut.kept;
        EXPECT_EQ(lines_[1], -1.0) << cut.kept;
        EXPECT_EQ(lines_[6], -1.0) << cut.kept;
        EXPECT_EQ(lines_[8], cut.line8) << cut.kept;
        EXPECT_EQ(count_nonzero(), cut.nonzero) << cut.kept;
        EXPECT_EQ(granule.long_band_limit, cut.band_limit) << cut.kept;
        EXPECT_EQ(bits_read(reader_), static_cast<int>(granule.part2_3_length)) << cut.kept;
    }
}

} // namespace
} // namespace tesk::quor
