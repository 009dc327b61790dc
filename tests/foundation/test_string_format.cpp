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

struct FormatCase {
    String format;
    std::vector<Push> pushes;
    std::string expected;
};

} // namespace

TEST(StringFormat, FieldsFollowTheirSpecification) {
    constexpr auto kMaxU64 = std::numeric_limits<std::uint64_t>::max();
    const FormatCase cases[] = {
        {"a%%b%%%%c %d%%", {signedInt(42)}, "a%b%%c 42%"},
        {L"Gr\u00f6\u00dfe %d \u20ac, %s!",
         {signedInt(3), text(L"\u263a")},
         "Gr\u00f6\u00dfe 3 \u20ac, \u263a!"},
        {"%5d|%-5d|%05d|%-05d|%2d",
         {signedInt(42), signedInt(42), signedInt(42), signedInt(42), signedInt(12345)},
         "   42|42   |00042|42   |12345"},
        {"%5d|%05d|%+d %+d|% d|%+d",
         {signedInt(-42), signedInt(-42), signedInt(5), signedInt(-5), signedInt(5),
          unsignedInt(5)},
         "   -42|-00042|+5 -5| 5|5"},
        {"%x %X %#x %#X %#o %o %#8x| %#08x",
         {signedInt(255), signedInt(255), signedInt(255), signedInt(255), signedInt(8),
          signedInt(8), signedInt(255), signedInt(255)},
         "ff FF 0xff 0XFF 010 10     0xff| 0x0000ff"},
        {"%x %u %d %d",
         {signedInt(-1), signedInt(-1), unsignedInt(kMaxU64),
          signedInt(std::numeric_limits<std::int64_t>::min())},
         "ffffffffffffffff -1 18446744073709551615 -9223372036854775808"},
        {"%.3d [%.0d] %d %6.3d|%.d",
         {signedInt(7), signedInt(0), signedInt(0), signedInt(-7), signedInt(0)},
         "007 [] 0    -007|"},
        {"%ld %lld %hd %hhd %zu %jd %td %I64d %Lf",
         {signedInt(1), signedInt(2), signedInt(3), signedInt(4), unsignedInt(5), signedInt(6),
          signedInt(7), signedInt(8), real(9)},
         "1 2 3 4 5 6 7 8 9.000000"},
        {"%*d|%*d|%.*f|%*.*s|%*.*s|",
         {signedInt(5), signedInt(42), signedInt(-5), signedInt(42), signedInt(2), real(3.14159),
          signedInt(4), signedInt(2), text("abc"), unsignedInt(4), unsignedInt(5), text("abc")},
         "   42|42|3.14|ab| abc|"},
        {"%.1f %.0f %c %d %*c",
         {signedInt(3), unsignedInt(kMaxU64), signedInt('A'), character('A'), character(3),
          character('z')},
         "3.0 18446744073709551616 A 65   z"},
        {"%.2f %f %08.3f %-8.1f| %+.1e %E %g %G %#.0f",
         {real(3.14159), real(-0.5), real(-3.5), real(2.25), real(12345.0), real(0.0), real(0.0001),
          real(1e-10), real(3.0)},
         "3.14 -0.500000 -003.500 2.2     | +1.2e+04 0.000000E+00 0.0001 1E-10 3."},
        {"%c%-3c|%c%c%c%3c|",
         {character('A'), character('x'), character(0x263A), character(0xE9), character(0x1F600),
          character(0x20AC)},
         "Ax  |\u263a\u00e9\U0001F600  \u20ac|"},
        {"%c%c%c", {character(0x110000), character(0xD800), character(-2)}, "\ufffd\ufffd\ufffd"},
        {"%.3s|%6.3s|%6s|%-6s|%-05s|%05s|%.5s|%s|",
         {text("abcdef"), text("abcdef"), text("abc"), text("abc"), text("abc"), text("abc"),
          text("abc"), text(String())},
         "abc|abc|   abc|abc   |abc00|00abc|abc||"},
        {"%4s|%.1s|", {text(L"\u00e9\u20ac"), text(L"\u20ac\u00e9")}, "  \u00e9\u20ac|\u20ac|"},
        {"%-+0 #d|", {signedInt(1)}, "+1|"},
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(formatted(c.format, c.pushes), c.expected) << c.format.toStdString();
    }
    EXPECT_EQ(formatted("%f", {real(1e308)}).size(), 309u + 7u);
    EXPECT_EQ(formatted("%.400f", {real(1.0)}).size(), 402u);
    EXPECT_EQ(formatted("%400.1e", {real(1.0)}).size(), 400u);
}

TEST(StringFormat, OneCallPushesArgumentsByTheirType) {
    const String name = L"Fl\u00fcgel";
    EXPECT_EQ(
        CStringFormat::format("%s: %d ch, %u Hz, %.1f s, %c%c", name, -2, 44100u, 2.5f, 'o', 'k')
            .toStdString(),
        "Fl\u00fcgel: -2 ch, 44100 Hz, 2.5 s, ok");
    EXPECT_THROW(CStringFormat::format("%d %d", 1), CInvalidObjectStateError);
    EXPECT_THROW(CStringFormat::format("%d", "one"), CInvalidArgError);
}

TEST(StringFormat, BadFormatsAndPushesNameTheMethodAndTheField) {
    const std::string prefix = "An invalid argument was passed to method 'CStringFormat::";
    const std::string field = "argument does not match the field's format specification for ";
    const FormatCase cases[] = {
        {"%-+0 #-d",
         {},
         "goToNextFormatField' of '': too many field flags specified in '%-+0 #-d'"},
        {"%q", {}, "goToNextFormatField' of '': invalid format string in '%q'"},
        {"50%", {}, "goToNextFormatField' of '': invalid format string in '50%'"},
        {"%99999999999d",
         {},
         "goToNextFormatField' of '': invalid format string in '%99999999999d'"},
        {"%s", {signedInt(1)}, "doInt' of '': " + field + "'%s'"},
        {"%d", {real(1)}, "doDouble' of '': " + field + "'%d'"},
        {"%d", {signedInt(1), signedInt(2)}, "doInt' of '': " + field + "'%d'"},
        {"%*f", {real(1)}, "doDouble' of '': expected integer value (field width) in '%*f'"},
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(argErrorOf(c.format, c.pushes), prefix + c.expected);
    }
    CStringFormat later("%d then %q");
    EXPECT_THROW(later.doInt(1, true), CInvalidArgError);
}

TEST(StringFormat, UnfilledFieldsKeepTheFormatIncomplete) {
    CStringFormat f("<%*d>");
    EXPECT_THROW(f.doString("x"), CInvalidArgError);
    f.doInt(3, true);
    EXPECT_THROW(f.toString(), CInvalidObjectStateError);
    f.doInt(1, true);
    EXPECT_EQ(f.toString().toStdString(), "<  1>");
    try {
        CStringFormat("%d").toString();
        FAIL() << "toString of an unfilled format returned";
    } catch (const CInvalidObjectStateError& e) {
        EXPECT_EQ(e.getStateText().toStdString(),
                  "CStringFormat: not all parameters have been pushed in yet.");
    }
}
