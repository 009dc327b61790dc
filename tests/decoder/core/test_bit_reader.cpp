#include <gtest/gtest.h>

#include <vector>

#include "core_test_support.h"
#include "decoder/core/bit_reader.h"
#include "layer3_test_support.h"

namespace tesk::quor::test {
namespace {

using testing::BitWriter;
using testing::reader_over;

TEST(BitReader, ReadsFieldsMostSignificantBitFirstAcrossBytes) {
    BitWriter writer;
    const unsigned values[] = {1, 5, 0x1FF, 0, 0xABCD, 3, 0x7F, 0xFFFF};
    const int widths[] = {1, 3, 9, 2, 16, 2, 7, 16};
    for (int i = 0; i < 8; ++i) {
        writer.put(values[i], widths[i]);
    }
    const std::vector<std::uint8_t> bytes = writer.bytes();
    BitReader reader = reader_over(bytes);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(read_bits(reader, widths[i]), values[i]) << "field " << i;
    }
    EXPECT_EQ(reader.position, 7u);
    EXPECT_EQ(reader.bit_index, 0u);
}

TEST(BitReader, ShortReadsAndSingleBitsShareThePosition) {
    const std::vector<std::uint8_t> bytes = {0xB5, 0x3C, 0x81};
    BitReader reader = reader_over(bytes);
    EXPECT_EQ(read_bit(reader), 1u);
    EXPECT_EQ(read_bits_short(reader, 3), 0x3u);  // 011
    EXPECT_EQ(read_bits_short(reader, 9), 0xA7u); // 0101 0011 1
    EXPECT_EQ(read_bit(reader), 1u);
    EXPECT_EQ(read_bits(reader, 10), 0x81u); // 00 1000 0001
    EXPECT_EQ(reader.position, 3u);
}

TEST(BitReader, ZeroWidthAndUnsetReaderTakeNothing) {
    const std::vector<std::uint8_t> bytes = {0xFF, 0xFF};
    BitReader reader = reader_over(bytes);
    read_bits(reader, 3);
    EXPECT_EQ(read_bits(reader, 0), 0u);
    EXPECT_EQ(read_bits_short(reader, 0), 0u);
    EXPECT_EQ(reader.position, 0u);
    EXPECT_EQ(reader.bit_index, 3u);

    BitReader unset;
    EXPECT_EQ(read_bits(unset, 8), 0u);
    EXPECT_EQ(unset.position, 0u);
}

TEST(BitReader, BytesBeyondTheBufferReadAsZero) {
    const std::vector<std::uint8_t> bytes = {0xFF, 0xF0};
    BitReader reader = reader_over(bytes);
    EXPECT_EQ(read_bits(reader, 12), 0xFFFu);
    EXPECT_EQ(read_bits(reader, 16), 0u);
    EXPECT_EQ(read_bits_short(reader, 9), 0u);
    EXPECT_EQ(read_bit(reader), 0u);
    EXPECT_GT(reader.position, bytes.size());
}

} // namespace
} // namespace tesk::quor::test
