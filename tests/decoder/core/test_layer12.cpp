#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core_test_support.h"
#include "decoder/core/generated/core_tables.h"
#include "layer3_test_support.h"

namespace tesk::quor::test {
namespace {

// ---- conformance streams ---------------------------------------------------

class Layer12Conformance : public ::testing::TestWithParam<std::string> {};

TEST_P(Layer12Conformance, MatchesReferenceDecoding) {
    // Odd piece sizes cut frames and headers anywhere.
    expect_matches_reference(GetParam(), {1000, 7, 333, 4096, 1},
                             [](std::vector<std::uint8_t> stream) { return stream; });
}

INSTANTIATE_TEST_SUITE_P(Streams, Layer12Conformance,
                         ::testing::Values("l1-fl1", "l1-fl2", "l1-fl3", "l1-fl5", "l1-fl6",
                                           "l2-fl10", "l2-fl11", "l2-fl12", "l2-fl13"));

TEST(Layer12Threads, IndependentDecodersGiveSingleThreadedResults) {
    expect_threads_agree({"l1-fl1", "l1-fl6", "l2-fl10", "l2-fl13"});
}

// ---- synthetic frames ----------------------------------------------------------

TEST(Layer2Tables, ChoiceFollowsRateChannelsAndBitRate) {
    struct Case {
        std::uint32_t header;
        int table;
        int limit;
    };
    const Case cases[] = {
        // 48 kHz mono, 32 kbit/s: table 2, 8 coded sub-bands.
        {0xFFFD14C0u, 2, 8},
        // 32 kHz mono, 32 kbit/s: table 3.
        {0xFFFD18C0u, 3, 12},
        // 44.1 kHz stereo, 192 kbit/s: table 1.
        {0xFFFDA000u, 1, 30},
        // 44.1 kHz stereo, 128 kbit/s: table 0.
        {0xFFFD8000u, 0, 27},
        // MPEG-2 22.05 kHz stereo, 160 kbit/s: the lower-rate table.
        {0xFFF5E000u, 4, 30},
    };
    for (const Case& c : cases) {
        auto decoder = make_decoder();
        int done = 0;
        EXPECT_EQ(decode_bytes(*decoder, silent_frame(c.header, 0), done), 0);
        EXPECT_EQ(decoder->header.allocation, &kAllocationTables[c.table]) << std::hex << c.header;
        EXPECT_EQ(decoder->header.subband_limit, c.limit);
        EXPECT_EQ(done, 1152 * 2 * decoder->header.channels);
    }
}

TEST(Layer2Tables, GeneratedRowsHaveAllocationWidthsOfTheStandard) {
    // nbal totals per table and the classes at the edges of table 0.
    const int totals[kAllocationTableCount] = {88, 94, 26, 38, 75};
    for (int t = 0; t < kAllocationTableCount; ++t) {
        const AllocationTable& table = kAllocationTables[t];
        int total = 0;
        for (int sb = 0; sb < table.subband_limit; ++sb) {
            total += table.pairs[2 * table.row_start[sb]];
        }
        EXPECT_EQ(total, totals[t]) << "table " << t;
    }
    const AllocationTable& table0 = kAllocationTables[0];
    EXPECT_EQ(table0.pairs[2 * 1], 5); // allocation 1: three levels grouped in 5 bits
    EXPECT_EQ(table0.pairs[2 * 1 + 1], 3);
    EXPECT_EQ(table0.pairs[2 * 15], 16); // allocation 15: 16-bit samples
    EXPECT_EQ(table0.pairs[2 * 15 + 1], -32767);
}

TEST(Layer12JointStereo, BoundFollowsModeExtensionWithinTheCodedSubBands) {
    struct Case {
        std::uint32_t header;
        int bound;
        int samples;
        std::uint8_t fill;
    };
    const Case cases[] = {
        // Layer I, 44.1 kHz, 32 kbit/s: joint stereo with extensions 0 and 2, then stereo.
        {0xFFFF1040u, 4, 384, 0},
        {0xFFFF1060u, 12, 384, 0},
        {0xFFFF1000u, 32, 384, 0},
        // Layer II, 48 kHz, 32 kbit/s, extension 3 (bound 16) with only 8 coded
        // sub-bands: the bound becomes 8 and the frame decodes.
        {0xFFFD1470u, 8, 1152, 0xFF},
    };
    for (const Case& c : cases) {
        auto decoder = make_decoder();
        int done = 0;
        EXPECT_EQ(decode_bytes(*decoder, silent_frame(c.header, c.fill), done), 0)
            << std::hex << c.header;
        EXPECT_EQ(decoder->header.joint_bound, c.bound);
        EXPECT_EQ(done, c.samples * 4);
    }
}

// A 48 kHz mono 32 kbit/s Layer II frame (table 2) whose sub-band 0 has the
// three-level grouped class, one scale factor of 2.0, and the given code in
// every group.
std::vector<std::uint8_t> grouped_frame(unsigned code) {
    testing::BitWriter w;
    w.put(1, 4); // sub-band 0: allocation 1
    w.put(0, 4);
    for (int sb = 2; sb < 8; ++sb) {
        w.put(0, 3);
    }
    w.put(2, 2); // one scale factor for the three parts
    w.put(0, 6);
    for (int group = 0; group < 12; ++group) {
        w.put(code, 5);
    }
    std::vector<std::uint8_t> frame = header_bytes(0xFFFD14C0u);
    const std::vector<std::uint8_t> payload = w.bytes();
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.resize(96, 0);
    return frame;
}

std::vector<std::int16_t> decode_frame_samples(const std::vector<std::uint8_t>& frame) {
    auto decoder = make_decoder();
    std::vector<std::int16_t> out(kMinOutputBytes / 2);
    int done = 0;
    EXPECT_EQ(decode_frame(*decoder, frame.data(), static_cast<int>(frame.size()),
                           reinterpret_cast<unsigned char*>(out.data()), kMinOutputBytes, done),
              0);
    out.resize(static_cast<std::size_t>(done / 2));
    return out;
}

TEST(Layer2GroupedCodes, ValidCodesSoundAndCodesBeyondTheLevelsAreSilent) {
    // Code 5 holds the levels +2/3, 0, -2/3 in time order; code 13 is three
    // zero levels; 27 and above name no levels at all.
    const auto peak = [](const std::vector<std::int16_t>& samples) {
        int largest = 0;
        for (const std::int16_t s : samples) {
            largest = std::max(largest, std::abs(static_cast<int>(s)));
        }
        return largest;
    };
    const std::vector<std::int16_t> sounding = decode_frame_samples(grouped_frame(5));
    ASSERT_EQ(sounding.size(), 1152u);
    EXPECT_GT(peak(sounding), 1000);
    EXPECT_EQ(peak(decode_frame_samples(grouped_frame(13))), 0);
    EXPECT_EQ(peak(decode_frame_samples(grouped_frame(27))), 0);
    EXPECT_EQ(peak(decode_frame_samples(grouped_frame(31))), 0);
}

} // namespace
} // namespace tesk::quor::test
