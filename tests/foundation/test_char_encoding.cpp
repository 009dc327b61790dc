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

TEST(CharEncodings, IdentifiersSpellTheirTagsInMemory) {
    struct Expected {
        const P<ICharEncoding>& encoding;
        const char* tag;
        const char* name;
        int unitSize;
    };
    const Expected all[] = {
        {getUTF8CharEncoding(), "UTF8", "UTF-8", 1},
        {getUTF16CharEncoding(), "UF16", "UTF-16", 2},
        {getUTF32CharEncoding(), "UF32", "UTF-32", 4},
        {getCPCharEncoding(), "CDPG", "CodePage", 1},
        {getLatin1CharEncoding(), "LAT1", "Latin-1", 1},
    };
    for (const Expected& e : all) {
        const std::uint32_t id = e.encoding->getId();
        EXPECT_EQ(std::memcmp(&id, e.tag, 4), 0) << e.tag;
        EXPECT_EQ(e.encoding->getName().toStdString(), e.name);
        EXPECT_EQ(e.encoding->getUnitSize(), e.unitSize);
    }
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

TEST(CharEncodings, EncodeRefusesWhatDoesNotFit) {
    std::uint8_t buffer[4] = {};
    const ICharEncoding& utf8 = *getUTF8CharEncoding();
    EXPECT_EQ(utf8.encode(buffer, 4, 0, 0x20AC), 3);
    EXPECT_EQ(std::memcmp(buffer, "\xE2\x82\xAC", 3), 0);
    EXPECT_EQ(utf8.encode(buffer, 4, 2, 0x20AC), 2);
    EXPECT_EQ(utf8.encode(buffer, 4, 0, 0xD800), 0);
    const ICharEncoding& utf16 = *getUTF16CharEncoding();
    EXPECT_EQ(utf16.encode(buffer, 4, 0, 0x1F600), 4);
    EXPECT_EQ(std::memcmp(buffer, "\x3D\xD8\x00\xDE", 4), 0);
    EXPECT_EQ(utf16.encode(buffer, 4, 2, 0x1F600), 2);
    const ICharEncoding& latin1 = *getLatin1CharEncoding();
    EXPECT_EQ(latin1.encode(buffer, 4, 1, 0x100), 2);
    EXPECT_EQ(buffer[1], '?');
}

TEST(CharEncodings, UTF8DecodesValidAndReplacesInvalidSequences) {
    const ICharEncoding& utf8 = *getUTF8CharEncoding();
    const auto valid = bytes("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(decodeForward(utf8, valid), (std::vector<CharCode>{'a', 0xE9, 0x20AC, 0x1F600}));
    EXPECT_EQ(decodeBackward(utf8, valid), (std::vector<CharCode>{0x1F600, 0x20AC, 0xE9, 'a'}));
    // A stray continuation byte, an overlong form, an encoded surrogate and a
    // cut-off sequence each decode to U+FFFD byte by byte.
    const auto invalid = bytes("\x80"
                               "\xC0\xAF"
                               "\xED\xA0\x80"
                               "\xE2\x82");
    const std::vector<CharCode> replaced(8, 0xFFFD);
    EXPECT_EQ(decodeForward(utf8, invalid), replaced);
    EXPECT_EQ(utf8.count(invalid.data(), invalid.data() + invalid.size()), 8);
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

TEST(CharEncodings, SteppingOperations) {
    const ICharEncoding& utf8 = *getUTF8CharEncoding();
    const auto data = bytes("x\xC3\xA9y");
    const int size = static_cast<int>(data.size());
    EXPECT_EQ(utf8.getOffsetOfIndex(data.data(), size, 2), 3);
    EXPECT_EQ(utf8.getOffsetOfIndex(data.data(), size, 3), 4);
    EXPECT_EQ(utf8.getOffsetOfIndex(data.data(), size, 4), -1);
    EXPECT_EQ(utf8.checkOffset(data.data(), size, 2), -1);
    EXPECT_EQ(utf8.checkOffset(data.data(), size, 1), 1);
    EXPECT_EQ(utf8.checkOffset(data.data(), size, 4), -1);
    EXPECT_EQ(utf8.previousOffset(data.data(), size, 3), 1);
    EXPECT_EQ(utf8.previousOffset(data.data(), size, 0), -1);
    EXPECT_EQ(utf8.skipBack(data.data(), size, 4, 2), 1);
    CharCode ch = 0;
    EXPECT_EQ(utf8.decodeNext(data.data(), size, 4, ch), -1);
    EXPECT_EQ(utf8.decodePrevious(data.data(), size, 3, ch), 1);
    EXPECT_EQ(ch, 0xE9);
    EXPECT_EQ(utf8.getCharSizeAt(data.data(), size, 1), 2);
    EXPECT_EQ(utf8.getCharSizeAt(data.data(), size, 4), -1);
}

TEST(CharEncodings, TerminatedLengthsInBytes) {
    const char16_t utf16[] = u"abc";
    const char32_t utf32[] = U"abcd";
    EXPECT_EQ(
        getUTF16CharEncoding()->getTerminatedLength(reinterpret_cast<const std::uint8_t*>(utf16)),
        6);
    EXPECT_EQ(
        getUTF32CharEncoding()->getTerminatedLength(reinterpret_cast<const std::uint8_t*>(utf32)),
        16);
    EXPECT_EQ(getUTF8CharEncoding()->getTerminatedLength(
                  reinterpret_cast<const std::uint8_t*>("h\xC3\xA9")),
              3);
}

TEST(CharEncodings, FixedWidthCounting) {
    const std::uint32_t values[] = {1, 2, 3};
    const auto* data = reinterpret_cast<const std::uint8_t*>(values);
    EXPECT_EQ(getUTF32CharEncoding()->count(data, data + 12), 3);
    EXPECT_EQ(getUTF32CharEncoding()->count(data, data + 11), 2);
    EXPECT_EQ(getUTF32CharEncoding()->skip(data, 12, 4, 2), 12);
    EXPECT_EQ(getUTF32CharEncoding()->skip(data, 12, 4, 3), -1);
    EXPECT_EQ(getLatin1CharEncoding()->count(data, data + 12), 12);
}

TEST(CharEncodings, CodePageFollowsTheSystemCodePage) {
    const ICharEncoding& cp = *getCPCharEncoding();
    const std::uint8_t euro = 0x80;
    CharCode ch = 0;
    cp.decodeNext(&euro, 1, 0, ch);
    EXPECT_EQ(ch, 0x20AC);
    posix::setAnsiCodePage(posix::AnsiCodePage::Latin1);
    cp.decodeNext(&euro, 1, 0, ch);
    EXPECT_EQ(ch, 0x80);
    EXPECT_EQ(cp.getEncodedSize(0x20AC), 0);
    posix::setAnsiCodePage(posix::AnsiCodePage::Windows1252);
}

} // namespace
} // namespace zelm
