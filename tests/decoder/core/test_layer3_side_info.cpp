#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core_test_support.h"
#include "decoder/core/layer3_side_info.h"
#include "layer3_test_support.h"

namespace tesk::quor::test {
namespace {

using testing::BitWriter;
using testing::reader_over;

// ---- side information ----------------------------------------------------------

// One MPEG-1 granule and channel: unswitched with the given region counts.
void put_long_granule(BitWriter& w, unsigned part23, unsigned big_values, unsigned gain,
                      unsigned compress, unsigned r0, unsigned r1) {
    w.put(part23, 12);
    w.put(big_values, 9);
    w.put(gain, 8);
    w.put(compress, 4);
    w.put(0, 1); // no window switching
    w.put(5, 5);
    w.put(6, 5);
    w.put(7, 5);
    w.put(r0, 4);
    w.put(r1, 3);
}

void put_short_granule(BitWriter& w, unsigned part23, unsigned gain, unsigned compress,
                       unsigned mixed) {
    w.put(part23, 12);
    w.put(20, 9);
    w.put(gain, 8);
    w.put(compress, 4);
    w.put(1, 1); // window switching
    w.put(2, 2); // short blocks
    w.put(mixed, 1);
    w.put(9, 5);
    w.put(10, 5);
    w.put(1, 3);
    w.put(2, 3);
    w.put(7, 3);
}

TEST(Layer3SideInfo, Mpeg1StereoFieldsAndDerivedValues) {
    BitWriter w;
    w.put(300, 9);                                 // main_data_begin
    w.put(5, 3);                                   // private bits
    w.put(0, 4);                                   // scfsi channel 0
    w.put(0xF, 4);                                 // scfsi channel 1
    put_long_granule(w, 1000, 300, 150, 7, 15, 7); // big_values above 288
    w.put(1, 1);
    w.put(0, 1);
    w.put(1, 1);
    put_short_granule(w, 900, 140, 3, 1);
    w.put(0, 1);
    w.put(1, 1);
    w.put(0, 1);
    put_long_granule(w, 800, 100, 120, 2, 3, 2);
    w.put(0, 3);
    put_long_granule(w, 700, 10, 100, 1, 0, 0);
    w.put(0, 3);
    ASSERT_EQ(w.bit_count(), 256);
    const std::vector<std::uint8_t> bytes = w.bytes();
    BitReader reader = reader_over(bytes);
    Layer3SideInfo info;
    read_side_info_mpeg1(reader, info, 2, true, 0);
    EXPECT_EQ(reader.position, 32u);
    EXPECT_EQ(info.main_data_begin, 300u);
    EXPECT_EQ(info.private_bits, 5u);
    EXPECT_EQ(info.granules[0][0].scfsi, -1);
    EXPECT_EQ(info.granules[1][1].scfsi, 0xF);

    const GranuleInfo& g0 = info.granules[0][0];
    EXPECT_EQ(g0.part2_3_length, 1000u);
    EXPECT_EQ(g0.big_values, 288u);
    EXPECT_EQ(g0.granule_gain, -150 + 2); // mid/side folds its gain in
    EXPECT_EQ(g0.preflag, 1u);
    EXPECT_EQ(g0.count1table_select, 1u);
    EXPECT_EQ(g0.table_select[2], 7u);
    // 44.1 kHz, region counts 15 and 7: boundary 16 is 162 lines, index 24
    // reads the second long-band width (4 lines).
    EXPECT_EQ(g0.region1_begin, 81u);
    EXPECT_EQ(g0.region2_begin, 2u);

    const GranuleInfo& g1 = info.granules[1][0];
    EXPECT_EQ(g1.block_type, 2u);
    EXPECT_EQ(g1.mixed_block_flag, 1u);
    EXPECT_EQ(g1.table_select[2], 0u);
    EXPECT_EQ(g1.granule_gain, -138);
    EXPECT_EQ(g1.window_gain[0], -138 + 8);
    EXPECT_EQ(g1.window_gain[2], -138 + 56);
    EXPECT_EQ(g1.region1_begin, 18u);
    EXPECT_EQ(g1.region2_begin, 288u);
    EXPECT_EQ(g1.scalefac_scale, 1u);

    const GranuleInfo& g2 = info.granules[0][1];
    EXPECT_EQ(g2.region1_begin, 16u / 2); // boundary 4
    EXPECT_EQ(g2.region2_begin, 30u / 2); // boundary 7
}

TEST(Layer3SideInfo, LsfRegionsDependOnBlockTypeAndRate) {
    for (const int rate_index : {3, 8}) {
        BitWriter w;
        w.put(17, 8); // main_data_begin
        w.put(0, 1);  // private bit (one channel)
        w.put(500, 12);
        w.put(40, 9);
        w.put(60, 8);
        w.put(500, 9); // scalefac_compress
        w.put(1, 1);
        w.put(1, 2); // start block
        w.put(0, 1);
        w.put(3, 5);
        w.put(4, 5);
        w.put(0, 9);
        w.put(0, 2);
        const std::vector<std::uint8_t> bytes = w.bytes();
        BitReader reader = reader_over(bytes);
        Layer3SideInfo info;
        read_side_info_lsf(reader, info, 1, false, rate_index);
        EXPECT_EQ(reader.position, 9u);
        const GranuleInfo& g = info.granules[0][0];
        EXPECT_EQ(info.main_data_begin, 17u);
        EXPECT_EQ(g.scalefac_compress, 500u);
        EXPECT_EQ(g.block_type, 1u);
        EXPECT_EQ(g.region1_begin, rate_index == 8 ? 54u : 27u);
        EXPECT_EQ(g.granule_gain, -60);
    }
}

TEST(Layer3SideInfo, RegionSplitReportsAndClearsANegativeLength) {
    GranuleInfo g;
    g.big_values = 100;
    g.region1_begin = 81;
    g.region2_begin = 2;
    ::testing::internal::CaptureStderr();
    const HuffmanRegions regions = huffman_regions(g);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "vad: Bogus region length (-79)\n");
    EXPECT_EQ(regions.length[0], 81);
    EXPECT_EQ(regions.length[1], 0);
    EXPECT_EQ(regions.length[2], 98);
    EXPECT_EQ(regions.quadruples, 94);

    g.big_values = 288;
    g.region1_begin = 18;
    g.region2_begin = 288;
    const HuffmanRegions full = huffman_regions(g);
    EXPECT_EQ(full.length[0], 18);
    EXPECT_EQ(full.length[1], 270);
    EXPECT_EQ(full.length[2], 0);
    EXPECT_EQ(full.quadruples, 0);

    g.big_values = 10;
    const HuffmanRegions small = huffman_regions(g);
    EXPECT_EQ(small.length[0], 10);
    EXPECT_EQ(small.length[1] + small.length[2], 0);
}

// ---- scale factors -------------------------------------------------------------

TEST(Layer3ScaleFactors, Mpeg1LongBlocksAndReuseAcrossGranules) {
    // scalefac_compress 12: lengths 3 and 2.
    BitWriter w;
    for (unsigned i = 0; i < 11; ++i) {
        w.put(i % 8, 3);
    }
    for (unsigned i = 0; i < 10; ++i) {
        w.put(3 - i % 4, 2);
    }
    w.put(0x2A, 8); // granule 1: bands 6-10 (3 bits each) only... see below
    const std::vector<std::uint8_t> bytes = w.bytes();
    BitReader reader = reader_over(bytes);
    unsigned store[kScaleFactorStoreSize] = {};
    GranuleInfo g0;
    g0.scalefac_compress = 12;
    g0.scfsi = -1;
    const ScaleFactorRead first = read_scale_factors_mpeg1(reader, store, g0);
    EXPECT_EQ(first.bits, 11 * 3 + 10 * 2);
    EXPECT_EQ(first.end, 22);
    EXPECT_EQ(store[10], 2u);
    EXPECT_EQ(store[11], 3u);
    EXPECT_EQ(store[21], 0u);

    GranuleInfo g1 = g0;
    g1.scfsi = 0xF; // every group reused
    const std::size_t position = reader.position;
    const ScaleFactorRead reuse = read_scale_factors_mpeg1(reader, store, g1);
    EXPECT_EQ(reuse.bits, 0);
    EXPECT_EQ(reader.position, position);
    EXPECT_EQ(store[10], 2u);

    g1.scfsi = 0xB; // bands 6-10 read again, the others kept
    const ScaleFactorRead partial = read_scale_factors_mpeg1(reader, store, g1);
    EXPECT_EQ(partial.bits, 5 * 3);
    EXPECT_EQ(store[5], 5u);
    EXPECT_EQ(store[11], 3u);
}

TEST(Layer3ScaleFactors, Mpeg1ShortAndMixedBlocks) {
    const std::vector<std::uint8_t> ones(40, 0xFF);
    for (const unsigned mixed : {0u, 1u}) {
        BitReader reader = reader_over(ones);
        unsigned store[kScaleFactorStoreSize] = {};
        GranuleInfo g;
        g.block_type = 2;
        g.mixed_block_flag = mixed;
        g.scalefac_compress = 15; // lengths 4 and 3
        const ScaleFactorRead read = read_scale_factors_mpeg1(reader, store, g);
        EXPECT_EQ(read.bits, mixed != 0 ? 17 * 4 + 18 * 3 : 18 * 4 + 18 * 3);
        EXPECT_EQ(read.end, mixed != 0 ? 38 : 39);
        EXPECT_EQ(store[0], 15u);
        EXPECT_EQ(store[read.end - 4], 7u);
        EXPECT_EQ(store[read.end - 1], 0u);
        EXPECT_EQ(reader.position * 8 + reader.bit_index, static_cast<std::size_t>(read.bits));
    }
    GranuleInfo bad;
    bad.scalefac_compress = 16;
    BitReader reader = reader_over(ones);
    unsigned store[kScaleFactorStoreSize] = {};
    EXPECT_EQ(read_scale_factors_mpeg1(reader, store, bad).bits, FRAME_CORRUPT);
}

TEST(Layer3ScaleFactors, LsfLengthWordsChoosePartitionsAndPreflag) {
    const std::vector<std::uint8_t> ones(40, 0xFF);
    {
        // 500: lengths 0, row 2, preflag: a long block reads nothing.
        BitReader reader = reader_over(ones);
        unsigned store[kScaleFactorStoreSize];
        std::fill(std::begin(store), std::end(store), 9u);
        GranuleInfo g;
        g.scalefac_compress = 500;
        const ScaleFactorRead read = read_scale_factors_lsf(reader, store, g, false);
        EXPECT_EQ(read.bits, 0);
        EXPECT_EQ(read.end, 22);
        EXPECT_EQ(g.preflag, 1u);
        EXPECT_EQ(store[21], 0u);
        EXPECT_EQ(reader.position, 0u);
    }
    {
        // 80*2 + 16*3 + 4*1 + 2 = 214: lengths (2, 3, 1, 2), row 0, short block.
        BitReader reader = reader_over(ones);
        unsigned store[kScaleFactorStoreSize] = {};
        GranuleInfo g;
        g.scalefac_compress = 214;
        g.block_type = 2;
        const ScaleFactorRead read = read_scale_factors_lsf(reader, store, g, false);
        EXPECT_EQ(read.bits, 9 * (2 + 3 + 1 + 2));
        EXPECT_EQ(read.end, 39);
        EXPECT_EQ(g.preflag, 0u);
        EXPECT_EQ(store[0], 3u);
        EXPECT_EQ(store[9], 7u);
        EXPECT_EQ(store[18], 1u);
        EXPECT_EQ(store[27], 3u);
    }
    {
        // Intensity table, 2 * (36*1 + 6*5 + 4) = 140: lengths (1, 5, 4, 0), row 3, mixed.
        BitReader reader = reader_over(ones);
        unsigned store[kScaleFactorStoreSize] = {};
        GranuleInfo g;
        g.scalefac_compress = 141;
        g.block_type = 2;
        g.mixed_block_flag = 1;
        const ScaleFactorRead read = read_scale_factors_lsf(reader, store, g, true);
        EXPECT_EQ(read.bits, 6 * 1 + 15 * 5 + 12 * 4);
        EXPECT_EQ(read.end, 6 + 15 + 12 + 0 + 5);
        EXPECT_EQ(store[6], 31u);
    }
}

// ---- tables --------------------------------------------------------------------

TEST(Layer3Tables, BandRowsCoverTheGranule) {
    for (int r = 0; r < 9; ++r) {
        const std::int16_t* row = band_table_row(r);
        int long_total = 0;
        for (int b = 0; b < 22; ++b) {
            EXPECT_EQ(row[kLongBoundaries + b + 1] - row[kLongBoundaries + b],
                      row[kLongWidths + b]);
            long_total += row[kLongWidths + b];
        }
        EXPECT_EQ(long_total, 576);
        int short_total = 0;
        for (int b = 0; b < 13; ++b) {
            short_total += row[kShortWidths + b];
        }
        EXPECT_EQ(short_total, 192);
        EXPECT_EQ(row[kShortBoundaries + 13], 576);
    }
    EXPECT_EQ(band_table_row(0)[kLongBoundaries + 21], 418);
    EXPECT_EQ(band_table_row(8)[kShortBoundaries + 9], 3 * 160);
}

// ---- the reservoir step --------------------------------------------------------

TEST(Layer3Reservoir, BackPointerNeedsMainDataOfEarlierFrames) {
    auto decoder = make_decoder();
    decoder->current_half = 1;
    decoder->bits.position = kReservoirHalfSize + kReservoirLead + 32;
    EXPECT_EQ(set_main_data_start(*decoder, 10), -1);
    EXPECT_EQ(set_main_data_start(*decoder, 0), 0);
    EXPECT_EQ(decoder->bits.position, kReservoirHalfSize + kReservoirLead + 32);

    // A previous frame of 100 bytes in half 0, all of it main data after its
    // 32 bytes of side information.
    decoder->previous_frame_size = 100;
    decoder->main_data_available = 68;
    for (int i = 0; i < 100; ++i) {
        decoder->reservoir[kReservoirLead + i] = static_cast<std::uint8_t>(i);
    }
    EXPECT_EQ(set_main_data_start(*decoder, 69), -1);
    decoder->bits.position = kReservoirHalfSize + kReservoirLead + 32;
    decoder->bits.bit_index = 5;
    EXPECT_EQ(set_main_data_start(*decoder, 20), 0);
    EXPECT_EQ(decoder->bits.position, kReservoirHalfSize + kReservoirLead + 12);
    EXPECT_EQ(decoder->bits.bit_index, 0u);
    EXPECT_EQ(read_bits(decoder->bits, 8), 80u);
    EXPECT_EQ(decoder->main_data_lead, 20);
}

TEST(Layer3Reservoir, SideInfoBitsCountWhatTheReservoirDoesNotHold) {
    auto decoder = make_decoder();
    FrameHeader& header = decoder->header;
    decode_header(header, 0xFFFB90C0u); // MPEG-1 mono
    BitWriter w;
    w.put(10, 9);
    w.put(0, 5);
    w.put(0, 4);
    put_long_granule(w, 400, 0, 0, 0, 0, 0);
    w.put(0, 3);
    put_long_granule(w, 300, 0, 0, 0, 0, 0);
    w.put(0, 3);
    const std::vector<std::uint8_t> bytes = w.bytes();
    std::copy(bytes.begin(), bytes.end(), decoder->reservoir + kReservoirLead);
    EXPECT_EQ(layer3_side_info_bits(*decoder), 700 - 80);
    EXPECT_EQ(decoder->bits.position, kReservoirLead + 17);
}

} // namespace
} // namespace tesk::quor::test
