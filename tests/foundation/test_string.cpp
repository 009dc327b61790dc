#include <zelm/Exception.h>
#include <zelm/StringClasses.h>

#include "platform/CodePage.h"

#include <gtest/gtest.h>

namespace zelm {
namespace {

// Restores the default system code page when a test ends.
class StringInCodePage : public ::testing::Test {
protected:
    void TearDown() override { platform::setAnsiCodePage(platform::AnsiCodePage::Windows1252); }
};

TEST(StringConstruction, DefaultIsEmptyButNotNull) {
    const String empty;
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_FALSE(empty.isNull());
    EXPECT_EQ(empty->getEncodingId(), kUTF8EncodingId);
    EXPECT_EQ(empty.getObject(), String().getObject());
}

TEST(StringConstruction, NullTextGivesTheNullStrings) {
    const String narrow(static_cast<const char*>(nullptr));
    EXPECT_TRUE(narrow.isNull());
    EXPECT_TRUE(narrow.isEmpty());
    EXPECT_EQ(narrow->getEncodingId(), kUTF8EncodingId);
    EXPECT_EQ(narrow.getObject(), String(kNullString).getObject());
    const String wide(static_cast<const wchar_t*>(nullptr));
    EXPECT_TRUE(wide.isNull());
    EXPECT_EQ(wide->getEncoding(), getWCharEncoding());
    EXPECT_FALSE(String("").isNull());
}

TEST(StringConstruction, NarrowLiteralIsABorrowedCodePageString) {
    const char* text = "caf\xE9";
    const String s(text);
    EXPECT_EQ(s->getEncodingId(), kCodePageEncodingId);
    EXPECT_EQ(s->getData(), reinterpret_cast<const std::uint8_t*>(text));
    EXPECT_EQ(s.getLength(), 4);
    EXPECT_EQ(s->getByteLength(), 4);
    EXPECT_TRUE(s->isNullTerminated());
    EXPECT_EQ(s.charAt(3), 0xE9);
    EXPECT_EQ(s.toStdString(), "caf\xC3\xA9");
}

TEST(StringSearch, FindReportsPlacesOrNoPlace) {
    const String s("The file '%FILE%' was not found.");
    const StringPos at = s.find("%");
    EXPECT_EQ(at.index, 10);
    EXPECT_EQ(at.offset, 10);
    EXPECT_EQ(s.find("%", 11).index, 15);
    EXPECT_EQ(String("no placeholder").find("%").index, -1);
    EXPECT_EQ(String(L"\u00E9\u00E9x").find(String("x")).index, 2);
    EXPECT_EQ(String::fromUTF8("\xC3\xA9\xC3\xA9x").find(String("x")).offset, 4);
}

TEST(StringSlices, SubstringViewsTheBytesAndKeepsThemAlive) {
    String part;
    {
        const String whole = String::fromUTF8("h\xC3\xA9llo world");
        part = whole.substring(1, 5);
        EXPECT_EQ(part->getData(), whole->getData() + 1);
    }
    EXPECT_NE(dynamic_cast<const CStringSlice*>(&*part), nullptr);
    EXPECT_EQ(part.toStdString(), "\xC3\xA9llo");
    EXPECT_EQ(part.getLength(), 4);
    EXPECT_FALSE(part->isNullTerminated());
    const String terminated = part->toUTF8String();
    EXPECT_TRUE(terminated->isNullTerminated());
    EXPECT_NE(terminated.getObject(), part.getObject());
    EXPECT_EQ(part.append(String("!")).toStdString(), "\xC3\xA9llo!");
    EXPECT_THROW(part.substring(2, 9), CInvalidArgError);
}

TEST(StringPositions, StepForwardAndBackward) {
    const String s = String::fromUTF8("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
    StringPos pos = s->getStart();
    std::vector<CharCode> chars;
    for (CharCode ch = 0; (ch = s->nextChar(pos)) >= 0;) {
        chars.push_back(ch);
    }
    EXPECT_EQ(chars, (std::vector<CharCode>{'a', 0xE9, 0x20AC, 0x1F600, 'z'}));
    EXPECT_EQ(pos, s->getEnd());
    EXPECT_EQ(s->advance(s->getEnd(), -2), (StringPos{3, 6}));
    EXPECT_EQ(s->advance(s->getStart(), 6), kNoPos);
    EXPECT_EQ(s->getPos(4), (StringPos{4, 10}));
    EXPECT_THROW(s.charAt(5), CInvalidArgError);
}

TEST(StringCase, MapsThroughTheCharacterDatabase) {
    EXPECT_EQ(String("MP3").toLowerCase().toStdString(), "mp3");
    EXPECT_EQ(String(L"\u0130STANBUL \u03A3").toLowerCase().toU32String(), U"\u0069stanbul \u03C3");
    EXPECT_EQ(String::fromUTF8("stra\xC3\x9F"
                               "e")
                  .toUpperCase()
                  .toStdString(),
              "STRA\xC3\x9F"
              "E");
    EXPECT_EQ(String(L"\u01C6").toTitleCase().toU32String(), U"\u01C5");
    const String lower("already lower");
    EXPECT_EQ(lower.toLowerCase().getObject(), lower.getObject());
}

TEST_F(StringInCodePage, EuroSignTurnsALatin1CodePageStringIntoUTF8) {
    platform::setAnsiCodePage(platform::AnsiCodePage::Latin1);
    const String s = String("price \xE9 ") + String::fromChar(0x20AC);
    EXPECT_EQ(s->getEncodingId(), kUTF8EncodingId);
    EXPECT_EQ(s.toU32String(), U"price \u00E9 \u20AC");
}

TEST(StringBuilding, ReplaceEveryOccurrence) {
    const String message("The file '%FILE%' was not found.");
    EXPECT_EQ(message.replace("%FILE%", String("a.mp3")).toStdString(),
              "The file 'a.mp3' was not found.");
    EXPECT_EQ(message.replace("%URI%", String("x")).getObject(), message.getObject());
    EXPECT_EQ(String("%A% and %A%").replace("%A%", String(L"\u00E9")).toStdString(),
              "\xC3\xA9 and \xC3\xA9");
    EXPECT_EQ(String("aaa").replace("a", String("aa")).toStdString(), "aaaaaa");
    EXPECT_EQ(String("abc").replace("", String("x")).toStdString(), "abc");
}

TEST(StringConversion, RoundTripsThroughEveryEncoding) {
    const String source(L"\u00C0 la \U0001F600");
    EXPECT_EQ(source->toUTF8String().toStdString(), "\xC3\x80 la \xF0\x9F\x98\x80");
    const String utf16 = source->toUTF16String();
    ASSERT_EQ(utf16->getByteLength(), 14);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(utf16->getData()), 7),
              u"\u00C0 la \U0001F600");
    EXPECT_EQ(source->toUTF32String().toU32String(), U"\u00C0 la \U0001F600");
    EXPECT_EQ(source->toLatin1String().toStdString(), "\xC3\x80 la ?");
    EXPECT_EQ(source->toCPString()->getData()[0], 0xC0);
    EXPECT_EQ(source->toCPString().toStdString(), "\xC3\x80 la ?");
}

} // namespace
} // namespace zelm
