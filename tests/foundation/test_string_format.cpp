#include "zelm/StringFormat.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "zelm/Exception.h"

using zelm::CInvalidArgError;
using zelm::CInvalidObjectStateError;
using zelm::CStringFormat;
using zelm::String;

namespace {

using Push = std::function<void(CStringFormat&)>;

Push signedInt(std::int64_t value) {
    return [value](CStringFormat& f) { f.doInt(value, true); };
}
Push unsignedInt(std::uint64_t value) {
    return [value](CStringFormat& f) { f.doInt(static_cast<std::int64_t>(value), false); };
}
Push real(double value) {
    return [value](CStringFormat& f) { f.doDouble(value); };
}
Push character(std::int32_t code) {
    return [code](CStringFormat& f) { f.doChar(code); };
}
Push text(const String& value) {
    return [value](CStringFormat& f) { f.doString(value); };
}

// The UTF-8 text of format filled with the pushes in order.
std::string formatted(const String& format, const std::vector<Push>& pushes = {}) {
    CStringFormat f(format);
    for (const Push& push : pushes) {
        push(f);
    }
    return f.toString().toStdString();
}

// The description of the CInvalidArgError that formatting throws.
std::string argErrorOf(const String& format, const std::vector<Push>& pushes = {}) {
    try {
        formatted(format, pushes);
    } catch (const CInvalidArgError& e) {
        return e.getDescription().toStdString();
    }
    return "no error";
}

std::string argError(const char* method, const std::string& argument) {
    return std::string("An invalid argument was passed to method '") + method +
           "' of '': " + argument;
}

} // namespace

TEST(StringFormatLiteralText, PercentPairsBecomeOnePercent) {
    EXPECT_EQ(formatted("%d%%", {signedInt(42)}), "42%");
    EXPECT_EQ(formatted("a%%b%%%%c"), "a%b%%c");
    EXPECT_EQ(formatted("no fields at all"), "no fields at all");
    EXPECT_EQ(formatted(""), "");
}

TEST(StringFormatLiteralText, TextAroundFieldsKeepsItsCharacters) {
    EXPECT_EQ(formatted(L"Gr\u00f6\u00dfe %d \u20ac, %s!", {signedInt(3), text(L"\u263a")}),
              "Gr\u00f6\u00dfe 3 \u20ac, \u263a!");
}

TEST(StringFormatIntegers, WidthPadsWithBlanksOrZeros) {
    EXPECT_EQ(formatted("%5d", {signedInt(42)}), "   42");
    EXPECT_EQ(formatted("%-5d|", {signedInt(42)}), "42   |");
    EXPECT_EQ(formatted("%05d", {signedInt(42)}), "00042");
    EXPECT_EQ(formatted("%-05d|", {signedInt(42)}), "42   |");
    EXPECT_EQ(formatted("%2d", {signedInt(12345)}), "12345");
}

TEST(StringFormatIntegers, SignIsWrittenOutsideTheWidth) {
    EXPECT_EQ(formatted("%5d", {signedInt(-42)}), "   -42");
    EXPECT_EQ(formatted("%05d", {signedInt(-42)}), "-00042");
    EXPECT_EQ(formatted("%+d %+d", {signedInt(5), signedInt(-5)}), "+5 -5");
    EXPECT_EQ(formatted("% d", {signedInt(5)}), " 5");
    EXPECT_EQ(formatted("%+d", {unsignedInt(5)}), "5");
}

TEST(StringFormatIntegers, HexadecimalAndOctal) {
    EXPECT_EQ(formatted("%x", {signedInt(255)}), "ff");
    EXPECT_EQ(formatted("%X", {signedInt(255)}), "FF");
    EXPECT_EQ(formatted("%#x", {signedInt(255)}), "0xff");
    EXPECT_EQ(formatted("%#X", {signedInt(255)}), "0XFF");
    EXPECT_EQ(formatted("%#o", {signedInt(8)}), "010");
    EXPECT_EQ(formatted("%o", {signedInt(8)}), "10");
    EXPECT_EQ(formatted("%#8x|", {signedInt(255)}), "    0xff|");
    EXPECT_EQ(formatted("%#08x", {signedInt(255)}), "0x0000ff");
    EXPECT_EQ(formatted("%x", {signedInt(-1)}), "ffffffffffffffff");
}

TEST(StringFormatIntegers, SignednessComesFromTheArgument) {
    EXPECT_EQ(formatted("%u", {signedInt(-1)}), "-1");
    EXPECT_EQ(formatted("%d", {unsignedInt(0xFFFFFFFFu)}), "4294967295");
    EXPECT_EQ(formatted("%d", {unsignedInt(std::numeric_limits<std::uint64_t>::max())}),
              "18446744073709551615");
    EXPECT_EQ(formatted("%d", {signedInt(std::numeric_limits<std::int64_t>::min())}),
              "-9223372036854775808");
}

TEST(StringFormatIntegers, PrecisionGivesMinimumDigits) {
    EXPECT_EQ(formatted("%.3d", {signedInt(7)}), "007");
    EXPECT_EQ(formatted("[%.0d]", {signedInt(0)}), "[]");
    EXPECT_EQ(formatted("%d", {signedInt(0)}), "0");
    EXPECT_EQ(formatted("%6.3d|", {signedInt(-7)}), "   -007|");
    EXPECT_EQ(formatted("%.d", {signedInt(0)}), "");
}

TEST(StringFormatIntegers, LengthModifiersAreSkipped) {
    EXPECT_EQ(formatted("%ld %lld %hd %hhd %zu %jd %td %I64d %Lf",
                        {signedInt(1), signedInt(2), signedInt(3), signedInt(4), unsignedInt(5),
                         signedInt(6), signedInt(7), signedInt(8), real(9)}),
              "1 2 3 4 5 6 7 8 9.000000");
}

TEST(StringFormatParameters, StarWidthAndPrecisionTakeTheirOwnPushes) {
    EXPECT_EQ(formatted("%*d|", {signedInt(5), signedInt(42)}), "   42|");
    EXPECT_EQ(formatted("%*d|", {signedInt(-5), signedInt(42)}), "42|");
    EXPECT_EQ(formatted("%.*f", {signedInt(2), real(3.14159)}), "3.14");
    EXPECT_EQ(formatted("%*.*s|", {signedInt(4), signedInt(2), text("abc")}), "ab|");
    EXPECT_EQ(formatted("%*.*s|", {unsignedInt(4), unsignedInt(5), text("abc")}), " abc|");
}

TEST(StringFormatParameters, FieldWaitingForItsWidthIsNotComplete) {
    CStringFormat f("%*d");
    f.doInt(3, true);
    EXPECT_THROW(f.toString(), CInvalidObjectStateError);
    f.doInt(1, true);
    EXPECT_EQ(f.toString().toStdString(), "  1");
}

TEST(StringFormatParameters, PushesConvertToTheFieldsKind) {
    EXPECT_EQ(formatted("%.1f", {signedInt(3)}), "3.0");
    EXPECT_EQ(formatted("%.0f", {unsignedInt(std::numeric_limits<std::uint64_t>::max())}),
              "18446744073709551616");
    EXPECT_EQ(formatted("%c", {signedInt('A')}), "A");
    EXPECT_EQ(formatted("%d", {character('A')}), "65");
    EXPECT_EQ(formatted("%*c", {character(3), character('z')}), "  z");
}

TEST(StringFormatFloatingPoint, SpecificationIsHonoured) {
    EXPECT_EQ(formatted("%.2f", {real(3.14159)}), "3.14");
    EXPECT_EQ(formatted("%f", {real(-0.5)}), "-0.500000");
    EXPECT_EQ(formatted("%08.3f", {real(-3.5)}), "-003.500");
    EXPECT_EQ(formatted("%-8.1f|", {real(2.25)}), "2.2     |");
    EXPECT_EQ(formatted("%+.1e", {real(12345.0)}), "+1.2e+04");
    EXPECT_EQ(formatted("%E", {real(0.0)}), "0.000000E+00");
    EXPECT_EQ(formatted("%g %G", {real(0.0001), real(1e-10)}), "0.0001 1E-10");
    EXPECT_EQ(formatted("%#.0f", {real(3.0)}), "3.");
}

TEST(StringFormatFloatingPoint, WideResultsAreNotCut) {
    const std::string wide = formatted("%f", {real(1e308)});
    EXPECT_EQ(wide.size(), 309u + 7u);
    EXPECT_EQ(wide.substr(0, 5), "10000");
    EXPECT_EQ(formatted("%.400f", {real(1.0)}).size(), 402u);
    EXPECT_EQ(formatted("%400.1e", {real(1.0)}).size(), 400u);
}

TEST(StringFormatCharacters, AnyCharacterKeepsItsIdentityAndUsesTheFieldWidth) {
    EXPECT_EQ(formatted("%c", {character('A')}), "A");
    EXPECT_EQ(formatted("%-3c|", {character('x')}), "x  |");
    EXPECT_EQ(formatted("%c", {character(0x263A)}), "\u263a");
    EXPECT_EQ(formatted("%c", {character(0xE9)}), "\u00e9");
    EXPECT_EQ(formatted("%c", {character(0x1F600)}), "\U0001F600");
    EXPECT_EQ(formatted("%3c|", {character(0x20AC)}), "  \u20ac|");
}

TEST(StringFormatCharacters, CodesThatAreNoCharactersBecomeReplacementCharacter) {
    EXPECT_EQ(formatted("%c", {character(0x110000)}), "\ufffd");
    EXPECT_EQ(formatted("%c", {character(0xD800)}), "\ufffd");
    EXPECT_EQ(formatted("%c", {character(-2)}), "\ufffd");
}

TEST(StringFormatStrings, PrecisionCutsAndWidthFills) {
    EXPECT_EQ(formatted("%.3s", {text("abcdef")}), "abc");
    EXPECT_EQ(formatted("%6.3s|", {text("abcdef")}), "abc|");
    EXPECT_EQ(formatted("%6s|", {text("abc")}), "   abc|");
    EXPECT_EQ(formatted("%-6s|", {text("abc")}), "abc   |");
    EXPECT_EQ(formatted("%-05s|", {text("abc")}), "abc00|");
    EXPECT_EQ(formatted("%05s|", {text("abc")}), "00abc|");
    EXPECT_EQ(formatted("%.5s|", {text("abc")}), "abc|");
    EXPECT_EQ(formatted("%s|", {text(String())}), "|");
}

TEST(StringFormatStrings, LengthCountsCharactersNotBytes) {
    EXPECT_EQ(formatted("%4s|", {text(L"\u00e9\u20ac")}), "  \u00e9\u20ac|");
    EXPECT_EQ(formatted("%.1s|", {text(L"\u20ac\u00e9")}), "\u20ac|");
}

TEST(StringFormatInOneCall, ArgumentsArePushedByTheirType) {
    const String name = L"Fl\u00fcgel";
    EXPECT_EQ(
        CStringFormat::format("%s: %d ch, %u Hz, %.1f s, %c%c", name, -2, 44100u, 2.5f, 'o', 'k')
            .toStdString(),
        "Fl\u00fcgel: -2 ch, 44100 Hz, 2.5 s, ok");
    EXPECT_EQ(CStringFormat::format("%d", std::numeric_limits<std::uint64_t>::max()).toStdString(),
              "18446744073709551615");
    EXPECT_THROW(CStringFormat::format("%d %d", 1), CInvalidObjectStateError);
    EXPECT_THROW(CStringFormat::format("%d", "one"), CInvalidArgError);
}

TEST(StringFormatErrors, FiveFlagsAreAcceptedASixthIsNot) {
    EXPECT_EQ(formatted("%-+0 #d|", {signedInt(1)}), "+1|");
    EXPECT_EQ(argErrorOf("%-+0 #-d"), argError("CStringFormat::goToNextFormatField",
                                               "too many field flags specified in '%-+0 #-d'"));
}

TEST(StringFormatErrors, UnknownConversionsAreInvalid) {
    EXPECT_EQ(argErrorOf("%q"),
              argError("CStringFormat::goToNextFormatField", "invalid format string in '%q'"));
    EXPECT_EQ(argErrorOf("%I32d"),
              argError("CStringFormat::goToNextFormatField", "invalid format string in '%I32d'"));
    EXPECT_EQ(argErrorOf("%lhd"),
              argError("CStringFormat::goToNextFormatField", "invalid format string in '%lhd'"));
    EXPECT_EQ(argErrorOf("%n"),
              argError("CStringFormat::goToNextFormatField", "invalid format string in '%n'"));
    EXPECT_EQ(argErrorOf("50%"),
              argError("CStringFormat::goToNextFormatField", "invalid format string in '50%'"));
}

TEST(StringFormatErrors, LaterFieldsAreCheckedWhenReached) {
    CStringFormat f("%d then %q");
    EXPECT_THROW(f.doInt(1, true), CInvalidArgError);
}

TEST(StringFormatErrors, WidthBeyondIntegerRangeIsInvalid) {
    EXPECT_EQ(argErrorOf("%99999999999d"), argError("CStringFormat::goToNextFormatField",
                                                    "invalid format string in '%99999999999d'"));
    EXPECT_EQ(argErrorOf("%.2147483648f"), argError("CStringFormat::goToNextFormatField",
                                                    "invalid format string in '%.2147483648f'"));
}

TEST(StringFormatErrors, PushThatDoesNotMatchItsField) {
    const std::string field = "argument does not match the field's format specification for ";
    EXPECT_EQ(argErrorOf("%s", {signedInt(1)}), argError("CStringFormat::doInt", field + "'%s'"));
    EXPECT_EQ(argErrorOf("%d", {real(1)}), argError("CStringFormat::doDouble", field + "'%d'"));
    EXPECT_EQ(argErrorOf("%s", {character('a')}),
              argError("CStringFormat::doChar", field + "'%s'"));
    EXPECT_EQ(argErrorOf("%f", {text("a")}), argError("CStringFormat::doString", field + "'%f'"));
    EXPECT_EQ(argErrorOf("done", {signedInt(1)}),
              argError("CStringFormat::doInt", field + "'done'"));
    EXPECT_EQ(argErrorOf("%d", {signedInt(1), signedInt(2)}),
              argError("CStringFormat::doInt", field + "'%d'"));
}

TEST(StringFormatErrors, StarFieldsExpectAnIntegerFirst) {
    EXPECT_EQ(argErrorOf("%*f", {real(1)}),
              argError("CStringFormat::doDouble", "expected integer value (field width) in '%*f'"));
    EXPECT_EQ(
        argErrorOf("%.*s", {text("a")}),
        argError("CStringFormat::doString", "expected integer value (field precision) in '%.*s'"));
}

TEST(StringFormatErrors, ReadingBeforeEveryFieldIsFilled) {
    const CStringFormat f("%d");
    try {
        f.toString();
        FAIL() << "toString of an unfilled format returned";
    } catch (const CInvalidObjectStateError& e) {
        EXPECT_EQ(e.getStateText().toStdString(),
                  "CStringFormat: not all parameters have been pushed in yet.");
        EXPECT_EQ(e.getDescription().toStdString(),
                  "The object is in an invalid state (): CStringFormat: not all parameters have "
                  "been pushed in yet..");
    }
}

TEST(StringFormatErrors, FailedPushKeepsTheFieldPending) {
    CStringFormat f("<%d>");
    EXPECT_THROW(f.doString("x"), CInvalidArgError);
    f.doInt(5, true);
    EXPECT_EQ(f.toString().toStdString(), "<5>");
}
