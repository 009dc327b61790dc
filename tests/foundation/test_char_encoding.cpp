#include <zelm/CharEncoding.h>
#include <zelm/String.h>

#include "CharEncodings.h"
#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace zelm {
namespace {

std::vector<std::uint8_t> bytes(const char* text) {
    return std::vector<std::uint8_t>(text, text + std::strlen(text));
}

std::vector<CharCode> decodeForward(const ICharEncoding& encoding,
                                    const std::vector<std::uint8_t>& data) {
    std::vector<CharCode> chars(data.size() + 1);
    std::vector<int> offsets(data.size() + 1);
    const int n =
        encoding.decodeForward(data.data(), static_cast<int>(data.size()), 0,
                               static_cast<int>(chars.size()), chars.data(), offsets.data());
    chars.resize(static_cast<std::size_t>(n));
    return chars;
}

std::vector<CharCode> decodeBackward(const ICharEncoding& encoding,
                                     const std::vector<std::uint8_t>& data) {
    std::vector<CharCode> chars(data.size() + 1);
    std::vector<int> offsets(data.size() + 1);
    const int size = static_cast<int>(data.size());
    const int n = encoding.decodeBackward(data.data(), size, size, static_cast<int>(chars.size()),
                                          chars.data(), offsets.data());
    chars.resize(static_cast<std::size_t>(n));
    return chars;
}

TEST(CharEncodings, EncodedSizesIncludingTerminatorsAndCharactersThatDoNotFit) {
    struct Case {
        const P<ICharEncoding>& encoding;
        CharCode ch;
        int size;
    };
    const Case cases[] = {
        {getUTF16CharEncoding(), 0xD800, 0},   {getUTF16CharEncoding(), 0xDFFF, 0},
        {getUTF16CharEncoding(), 0xD7FF, 2},   {getUTF16CharEncoding(), 0xE000, 2},
        {getUTF16CharEncoding(), 0x10000, 4},  {getUTF16CharEncoding(), 0x10FFFF, 4},
        {getUTF16CharEncoding(), 0x110000, 0}, {getUTF16CharEncoding(), -1, 0},
        {getUTF16CharEncoding(), 0, 2},        {getUTF8CharEncoding(), 0, 1},
        {getUTF8CharEncoding(), 0x7FF, 2},     {getUTF8CharEncoding(), 0x800, 3},
        {getUTF8CharEncoding(), 0x10000, 4},   {getUTF8CharEncoding(), 0x110000, 0},
        {getUTF32CharEncoding(), 0, 4},        {getUTF32CharEncoding(), 0x7FFFFFFF, 4},
        {getLatin1CharEncoding(), 0x20AC, 1},  {getCPCharEncoding(), 0x20AC, 1},
        {getCPCharEncoding(), 0x0100, 0},      {getCPCharEncoding(), 0x10000, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.encoding->getEncodedSize(c.ch), c.size)
            << c.encoding->getName().toStdString() << " " << std::hex << c.ch;
    }
}

TEST(CharEncodings, UTF8DecodesValidAndReplacesInvalidSequences) {
    const ICharEncoding& utf8 = *getUTF8CharEncoding();
    const auto valid = bytes("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(decodeForward(utf8, valid), (std::vector<CharCode>{'a', 0xE9, 0x20AC, 0x1F600}));
    EXPECT_EQ(decodeBackward(utf8, valid), (std::vector<CharCode>{0x1F600, 0x20AC, 0xE9, 'a'}));
    // A stray continuation byte, overlong forms, an encoded surrogate and a
    // cut-off sequence each decode to U+FFFD byte by byte.
    const auto invalid = bytes("\x80"
                               "\xC0\xAF"
                               "\xE0\x9F\xBF"
                               "\xED\xA0\x80"
                               "\xE2\x82");
    const std::vector<CharCode> replaced(11, 0xFFFD);
    EXPECT_EQ(decodeForward(utf8, invalid), replaced);
    EXPECT_EQ(utf8.count(invalid.data(), invalid.data() + invalid.size()), 11);
}

TEST(CharEncodings, UTF16PairsAndLoneSurrogates) {
    const ICharEncoding& utf16 = *getUTF16CharEncoding();
    const std::vector<std::uint8_t> data = {0x41, 0x00, 0x3D, 0xD8, 0x00,
                                            0xDE, 0x00, 0xDC, 0x3D, 0xD8};
    EXPECT_EQ(decodeForward(utf16, data), (std::vector<CharCode>{'A', 0x1F600, 0xFFFD, 0xFFFD}));
    EXPECT_EQ(decodeBackward(utf16, data), (std::vector<CharCode>{0xFFFD, 0xFFFD, 0x1F600, 'A'}));
    EXPECT_EQ(utf16.checkOffset(data.data(), 10, 4), -1);
    EXPECT_EQ(utf16.checkOffset(data.data(), 10, 2), 2);
    EXPECT_EQ(utf16.checkOffset(data.data(), 10, 3), -1);
    EXPECT_EQ(utf16.getCharSizeAt(data.data(), 10, 2), 4);
    EXPECT_EQ(utf16.getCharSizeAt(data.data(), 9, 8), -1);
}

TEST(CharEncodings, CodePageFollowsTheSystemCodePage) {
    const ICharEncoding& cp = *getCPCharEncoding();
    const std::uint8_t euro = 0x80;
    CharCode ch = 0;
    cp.decodeNext(&euro, 1, 0, ch);
    EXPECT_EQ(ch, 0x20AC);
    platform::setAnsiCodePage(platform::AnsiCodePage::Latin1);
    cp.decodeNext(&euro, 1, 0, ch);
    EXPECT_EQ(ch, 0x80);
    EXPECT_EQ(cp.getEncodedSize(0x20AC), 0);
    platform::setAnsiCodePage(platform::AnsiCodePage::Windows1252);
}

} // namespace
} // namespace zelm
