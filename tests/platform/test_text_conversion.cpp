#include "platform/TextConversion.h"

#include <gtest/gtest.h>

namespace zelm::ZELM_PLATFORM {
namespace {

TEST(TextConversion, UTF16ToUTF8) {
    EXPECT_EQ(utf16ToUtf8(u"a\u00E9\u20AC\U0001F600"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    const char16_t loneHigh[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(utf16ToUtf8(loneHigh), "a\xEF\xBF\xBD"
                                     "b");
    const char16_t loneLow[] = {0xDC00, 0};
    EXPECT_EQ(utf16ToUtf8(loneLow), "\xEF\xBF\xBD");
}

TEST(TextConversion, WideToUTF8) {
    EXPECT_EQ(wideToUtf8(L"\u00E9\U0001F600"), "\xC3\xA9\xF0\x9F\x98\x80");
    std::string out;
    appendUtf8(out, 0x110000);
    appendUtf8(out, 0x7FF);
    appendUtf8(out, 0x800);
    EXPECT_EQ(out, "\xEF\xBF\xBD\xDF\xBF\xE0\xA0\x80");
}

} // namespace
} // namespace zelm::ZELM_PLATFORM
