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

// Past 4 GiB a header with room kept becomes RF64 of the same length: the
// 32-bit sizes all ones, the 64-bit ones in ds64, the format after it.
TEST(WavHeader, TakesRf64PastFourGiBInTheRoomKept) {
    using tesk::cli::WavForm;
    constexpr std::uint64_t kFiveGiB = 5ull << 30;
    const auto word64 = [](const std::string& h, std::size_t at) {
        return wordAt(h, at) | std::uint64_t{wordAt(h, at + 4)} << 32;
    };
    for (const int channels : {2, 6}) {
        SCOPED_TRACE(channels);
        const tesk::cli::PcmFormat format{44100, channels, 2};
        const std::string kept = makeWavHeader(WavForm::kReserved, format, 1000);
        const std::string rf64 = makeWavHeader(WavForm::kReserved, format, kFiveGiB);
        ASSERT_EQ(kept.size(), rf64.size());
        EXPECT_EQ(kept.substr(0, 4) + kept.substr(12, 4), "RIFFJUNK");
        EXPECT_EQ(wordAt(kept, 4), kept.size() - 8 + 1000);
        EXPECT_EQ(wordAt(kept, kept.size() - 4), 1000u);
        EXPECT_EQ(rf64.substr(0, 4) + rf64.substr(8, 8), "RF64WAVEds64");
        EXPECT_EQ(wordAt(rf64, 4), 0xFFFFFFFFu);
        EXPECT_EQ(wordAt(rf64, 16), 28u);
        EXPECT_EQ(word64(rf64, 20), rf64.size() - 8 + kFiveGiB) << "RIFF size";
        EXPECT_EQ(word64(rf64, 28), kFiveGiB) << "data size";
        EXPECT_EQ(word64(rf64, 36), kFiveGiB / (2u * channels)) << "sample frames";
        EXPECT_EQ(wordAt(rf64, 44), 0u) << "no table";
        EXPECT_EQ(rf64.substr(48), kept.substr(48, kept.size() - 52) + std::string(4, '\xFF'));
        EXPECT_EQ(makeWavHeader(WavForm::kRf64, format, kFiveGiB), rf64);
        EXPECT_EQ(makeWavHeader(WavForm::kPlain, format, std::nullopt),
                  makeWavHeader(format, 0xFFFFFFFFu));
    }
}
