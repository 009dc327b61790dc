#include "platform/CodePage.h"

#include <gtest/gtest.h>

namespace zelm::ZELM_PLATFORM {
namespace {

// Restores the default code page when a test ends.
class CodePage : public ::testing::Test {
protected:
    void TearDown() override { setAnsiCodePage(AnsiCodePage::Windows1252); }
};

TEST_F(CodePage, DefaultIsWindows1252WithTheEuroSign) {
    EXPECT_EQ(getAnsiCodePage(), AnsiCodePage::Windows1252);
    EXPECT_EQ(ansiToUnicode(0x80), u'\u20AC');
    EXPECT_EQ(ansiToUnicode(0x9F), u'\u0178');
    EXPECT_EQ(ansiToUnicode(0x81), u'\u0081');
    EXPECT_EQ(ansiToUnicode(0xE9), u'\u00E9');
    EXPECT_EQ(unicodeToAnsi(0x20AC), 0x80);
    EXPECT_EQ(unicodeToAnsi(0x2122), 0x99);
    EXPECT_EQ(unicodeToAnsi(0x0080), -1);
    EXPECT_EQ(unicodeToAnsi(0x0100), -1);
}

TEST_F(CodePage, Latin1LacksTheEuroSign) {
    setAnsiCodePage(AnsiCodePage::Latin1);
    EXPECT_EQ(ansiToUnicode(0x80), u'\u0080');
    EXPECT_EQ(unicodeToAnsi(0x20AC), -1);
    EXPECT_EQ(unicodeToAnsi(0x0080), 0x80);
    EXPECT_EQ(unicodeToAnsi(0x00FF), 0xFF);
}

TEST_F(CodePage, MultiByteToWideCharConvertsWholeTexts) {
    const char text[] = "\x80 caf\xE9";
    char16_t out[16] = {};
    EXPECT_EQ(multiByteToWideChar(0, 1, text, -1, nullptr, 0), 7);
    ASSERT_EQ(multiByteToWideChar(0, 1, text, -1, out, 16), 7);
    EXPECT_EQ(std::u16string(out), u"\u20AC caf\u00E9");
    ASSERT_EQ(multiByteToWideChar(28591, 1, text, 1, out, 1), 1);
    EXPECT_EQ(out[0], u'\u0080');
}

} // namespace
} // namespace zelm::ZELM_PLATFORM
