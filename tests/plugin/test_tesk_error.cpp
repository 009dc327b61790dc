#include "plugin/TESKError.h"

#include <gtest/gtest.h>

#include "tests/support/captured_debug_output.h"

#include <string>
#include <vector>

#include <zelm/DebugOutput.h>

using tesk::quor::CTESKError;
using tesk::quor::getQuorCodeName;
using zelm::String;

using tesk_quor_test::CapturedDebugOutput;

TEST(TESKError, CarriesItsNameAndMessageAndEchoesTheMessageThenALineFeed) {
    const CapturedDebugOutput output;
    const CTESKError error(String::fromUTF8("Message: x\nErrorcode: \xC3\xA9"));
    EXPECT_EQ(error.getName().toStdString(), "CTESKError");
    EXPECT_EQ(error.getDescription().toStdString(), "Message: x\nErrorcode: \xC3\xA9");
    EXPECT_EQ(output.texts(), (std::vector<std::wstring>{L"Message: x\nErrorcode: \u00e9", L"\n"}));
}

TEST(TESKError, CopiesAndClonesWriteNothingAndKeepTheType) {
    const CTESKError original(String("boom"));
    const CapturedDebugOutput output;
    const CTESKError copy(original); // NOLINT(performance-unnecessary-copy-initialization)
    const zelm::P<zelm::CException> clone = original.clone();
    EXPECT_TRUE(output.texts().empty());
    EXPECT_EQ(copy.getDescription().toStdString(), "boom");
    ASSERT_NE(dynamic_cast<CTESKError*>(clone.get()), nullptr);
    EXPECT_EQ(clone->getName().toStdString(), "CTESKError");
    EXPECT_EQ(clone->getDescription().toStdString(), "boom");
}

TEST(TESKError, IsCaughtAsAZelmErrorAndAStandardException) {
    const CapturedDebugOutput output;
    try {
        throw CTESKError(String("thrown"));
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "thrown");
        EXPECT_NE(dynamic_cast<const zelm::CError*>(&e), nullptr);
    }
}

TEST(QuorCodeNames, NameEveryCodeAndOnlyThose) {
    EXPECT_STREQ(getQuorCodeName(1), "QUOR_END");
    EXPECT_STREQ(getQuorCodeName(-1), "QUOR_ERROR_PARAM");
    EXPECT_STREQ(getQuorCodeName(-2), "QUOR_ERROR_UNSUPPORTED");
    EXPECT_STREQ(getQuorCodeName(-3), "QUOR_ERROR_MEMORY");
    EXPECT_STREQ(getQuorCodeName(-4), "QUOR_ERROR_INTERNAL");
    EXPECT_STREQ(getQuorCodeName(-5), "QUOR_ERROR_DECODE");
    EXPECT_STREQ(getQuorCodeName(-6), "QUOR_ERROR_READ");
    EXPECT_STREQ(getQuorCodeName(-7), "QUOR_ERROR_SEEK");
    EXPECT_STREQ(getQuorCodeName(-8), "QUOR_ERROR_OPENFILE");
    EXPECT_STREQ(getQuorCodeName(-9), "QUOR_ERROR_WRONGSTATE");
    EXPECT_STREQ(getQuorCodeName(-10), "QUOR_ERROR_NOTAVAILABLE");
    EXPECT_STREQ(getQuorCodeName(-11), "QUOR_ERROR_INCOMPATIBLEVERSION");
    for (int code : {0, 2, -12, 1000, -1000, INT32_MIN, INT32_MAX}) {
        EXPECT_STREQ(getQuorCodeName(code), "unknown errorcode") << code;
    }
}
