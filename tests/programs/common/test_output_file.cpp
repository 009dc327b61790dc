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

// Samples above 16 bits and float samples take the extensible form, whose
// every field follows from the format: the plain fields, then the valid bits,
// the speaker mask and the integer or float sub-format.
TEST(WavHeader, WideAndFloatSamplesTakeTheExtensibleForm) {
    struct Case {
        tesk::cli::PcmFormat format;
        std::uint32_t mask;
        std::uint32_t subFormat;
    };
    const Case cases[] = {{{44100, 2, 3, false}, 0x3u, 1u},
                          {{48000, 1, 4, true}, 0x4u, 3u},
                          {{96000, 6, 4, false}, 0x3Fu, 1u}};
    const std::string guidTail("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    for (const Case& c : cases) {
        const std::string header = makeWavHeader(c.format, 6000);
        const auto blockAlign =
            static_cast<std::uint32_t>(c.format.channels * c.format.bytesPerSample);
        ASSERT_EQ(header.size(), 68u);
        EXPECT_EQ(wordAt(header, 4), 6060u);
        EXPECT_EQ(header.substr(8, 8), "WAVEfmt ");
        EXPECT_EQ(wordAt(header, 16), 40u);
        EXPECT_EQ(wordAt(header, 20, 2), 0xFFFEu);
        EXPECT_EQ(wordAt(header, 22, 2), static_cast<std::uint32_t>(c.format.channels));
        EXPECT_EQ(wordAt(header, 24), static_cast<std::uint32_t>(c.format.sampleRate));
        EXPECT_EQ(wordAt(header, 28), c.format.sampleRate * blockAlign);
        EXPECT_EQ(wordAt(header, 32, 2), blockAlign);
        EXPECT_EQ(wordAt(header, 34, 2), c.format.bytesPerSample * 8u);
        EXPECT_EQ(wordAt(header, 36, 2), 22u);
        EXPECT_EQ(wordAt(header, 38, 2), c.format.bytesPerSample * 8u) << "valid bits";
        EXPECT_EQ(wordAt(header, 40), c.mask);
        EXPECT_EQ(wordAt(header, 44, 2), c.subFormat);
        EXPECT_EQ(header.substr(46, 14), guidTail);
        EXPECT_EQ(header.substr(60, 4), "data");
        EXPECT_EQ(wordAt(header, 64), 6000u);
    }
}
