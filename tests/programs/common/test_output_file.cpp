#include "programs/common/output_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/support/file_bytes.h"

using tesk::cli::makeWavHeader;
using tesk_quor_test::wordAt;

TEST(WavHeader, DescribesIntegerPcmOfTheFormat) {
    const std::string header = makeWavHeader({48000, 2, 2}, 1000);
    ASSERT_EQ(header.size(), 44u);
    EXPECT_EQ(header.substr(0, 4), "RIFF");
    EXPECT_EQ(wordAt(header, 4), 1036u);
    EXPECT_EQ(header.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(wordAt(header, 16), 16u);
    EXPECT_EQ(wordAt(header, 20, 2), 1u);
    EXPECT_EQ(wordAt(header, 22, 2), 2u);
    EXPECT_EQ(wordAt(header, 24), 48000u);
    EXPECT_EQ(wordAt(header, 28), 192000u);
    EXPECT_EQ(wordAt(header, 32, 2), 4u);
    EXPECT_EQ(wordAt(header, 34, 2), 16u);
    EXPECT_EQ(header.substr(36, 4), "data");
    EXPECT_EQ(wordAt(header, 40), 1000u);
    const std::string mono8 = makeWavHeader({8000, 1, 1}, 0xFFFFFFFFu);
    EXPECT_EQ(wordAt(mono8, 4), 0xFFFFFFFFu) << "the RIFF size saturates";
    EXPECT_EQ(wordAt(mono8, 32, 2), 1u);
    EXPECT_EQ(wordAt(mono8, 34, 2), 8u);
}
