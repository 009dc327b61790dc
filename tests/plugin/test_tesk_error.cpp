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

TEST(QuorCodeNames, NameEveryCodeAndOnlyThose) {
    const char* const names[] = {"QUOR_END",
                                 nullptr,
                                 "QUOR_ERROR_PARAM",
                                 "QUOR_ERROR_UNSUPPORTED",
                                 "QUOR_ERROR_MEMORY",
                                 "QUOR_ERROR_INTERNAL",
                                 "QUOR_ERROR_DECODE",
                                 "QUOR_ERROR_READ",
                                 "QUOR_ERROR_SEEK",
                                 "QUOR_ERROR_OPENFILE",
                                 "QUOR_ERROR_WRONGSTATE",
                                 "QUOR_ERROR_NOTAVAILABLE",
                                 "QUOR_ERROR_INCOMPATIBLEVERSION"};
    for (int code = 1; code >= -11; --code) {
        const char* name = names[1 - code];
        EXPECT_STREQ(getQuorCodeName(code), name != nullptr ? name : "unknown errorcode") << code;
    }
    for (int code : {0, 2, -12, 1000, -1000, INT32_MIN, INT32_MAX}) {
        EXPECT_STREQ(getQuorCodeName(code), "unknown errorcode") << code;
    }
}
