#include <zelm/Unicode.h>

#include "UnicodeTables.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace zelm::unicode {
namespace {

// A few samples for when the character data file below is absent; with it,
// every code point is checked.
TEST(CharacterDatabase, IsBuiltAtLoadWithCaseAndCategories) {
    EXPECT_TRUE(isDatabaseBuilt());
    EXPECT_EQ(toLower(0x41), 0x61);
    EXPECT_EQ(toTitle(0x01C4), 0x01C5);
    EXPECT_EQ(toUpper(0x10428), 0x10400);
    EXPECT_EQ(getCategory(0x20AC), kCurrencySymbol);
    EXPECT_EQ(getCategory(0x2FA1D), kOtherLetter);
}

const std::map<std::string, std::uint8_t>& categoryBytes() {
    static const std::map<std::string, std::uint8_t> bytes = {{"Lo", kOtherLetter},
                                                              {"Lu", kUppercaseLetter},
                                                              {"Ll", kLowercaseLetter},
                                                              {"Lt", kTitlecaseLetter},
                                                              {"Lm", kModifierLetter},
                                                              {"Mn", kNonspacingMark},
                                                              {"Mc", kSpacingMark},
                                                              {"Me", kEnclosingMark},
                                                              {"Nl", kOtherNumber},
                                                              {"No", kOtherNumber},
                                                              {"Nd", kDecimalDigit},
                                                              {"Po", kOtherPunctuation},
                                                              {"Pc", kConnectorPunctuation},
                                                              {"Pd", kHyphenPunctuation},
                                                              {"Ps", kOpeningPunctuation},
                                                              {"Pe", kClosingPunctuation},
                                                              {"Pi", kInitialQuote},
                                                              {"Pf", kFinalQuote},
                                                              {"So", kOtherSymbol},
                                                              {"Sm", kMathSymbol},
                                                              {"Sc", kCurrencySymbol},
                                                              {"Sk", kModifierSymbol},
                                                              {"Zs", kSpaceSeparator},
                                                              {"Zl", kLineSeparator},
                                                              {"Zp", kParagraphSeparator},
                                                              {"Cc", kControl},
                                                              {"Cf", kFormat},
                                                              {"Cs", kSurrogate},
                                                              {"Co", kPrivateUse}};
    return bytes;
}

// Every code point of the character data file against the built tables.
TEST(CharacterDatabase, AgreesWithTheCharacterDataFile) {
    const std::filesystem::path file =
        std::filesystem::path(TESK_QUOR_SHARED_DIR) / "unicode" / "ucd-4.0.0.txt";
    std::ifstream data(file);
    if (!data) {
        GTEST_SKIP() << "character data file " << file << " is absent";
    }
    std::vector<std::uint8_t> expected(0x2FA1E, kUnassigned);
    std::vector<std::array<CharCode, 3>> mappings;
    std::vector<CharCode> mapped;
    for (std::string line; std::getline(data, line);) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        if (kind == "C") {
            std::string category;
            unsigned start = 0;
            unsigned end = 0;
            fields >> std::hex >> start >> end >> category;
            for (unsigned cp = start; cp <= end && cp < expected.size(); ++cp) {
                expected[cp] = categoryBytes().at(category);
            }
        } else if (kind == "M") {
            unsigned cp = 0;
            unsigned lower = 0;
            unsigned upper = 0;
            unsigned title = 0;
            fields >> std::hex >> cp >> lower >> upper >> title;
            EXPECT_EQ(toLower(static_cast<CharCode>(cp)), static_cast<CharCode>(lower)) << cp;
            EXPECT_EQ(toUpper(static_cast<CharCode>(cp)), static_cast<CharCode>(upper)) << cp;
            EXPECT_EQ(toTitle(static_cast<CharCode>(cp)), static_cast<CharCode>(title)) << cp;
            mapped.push_back(static_cast<CharCode>(cp));
        }
    }
    ASSERT_GT(mapped.size(), 1000u);
    int wrongCategories = 0;
    for (CharCode cp = 0; cp < static_cast<CharCode>(expected.size()); ++cp) {
        wrongCategories += getCategory(cp) != expected[static_cast<std::size_t>(cp)] ? 1 : 0;
    }
    EXPECT_EQ(wrongCategories, 0);
    std::size_t next = 0;
    int unmappedChanged = 0;
    for (CharCode cp = 0; cp < 0x2FA1E; ++cp) {
        if (next < mapped.size() && mapped[next] == cp) {
            ++next;
            continue;
        }
        unmappedChanged += toLower(cp) != cp || toUpper(cp) != cp || toTitle(cp) != cp ? 1 : 0;
    }
    EXPECT_EQ(unmappedChanged, 0);
}

} // namespace
} // namespace zelm::unicode

namespace zelm::unicode_data {
namespace {

std::vector<std::int32_t> expand(std::vector<std::uint8_t> stream, int width, std::size_t count,
                                 bool& ok) {
    std::vector<std::int32_t> values;
    ok = expandStream(stream, width, count, values);
    return values;
}

TEST(RunLengthStreams, SingleValuesAndShortAndLongRuns) {
    bool ok = false;
    EXPECT_EQ(expand({0x05, 0xC2, 0x07}, 1, 4, ok), (std::vector<std::int32_t>{5, 7, 7, 7}));
    EXPECT_TRUE(ok);
    const auto longRun = expand({0x80, 0x01, 0x90}, 1, 66, ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(longRun, std::vector<std::int32_t>(66, 0x90));
    const auto deltas = expand({0xC1, 0xFF, 0xE0, 0xC0, 0x00, 0x20}, 2, 3, ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(deltas, (std::vector<std::int32_t>{-32, -32, 32}));
}

} // namespace
} // namespace zelm::unicode_data
