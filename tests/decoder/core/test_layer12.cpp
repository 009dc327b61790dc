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

// ---- synthetic frames ----------------------------------------------------------

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
