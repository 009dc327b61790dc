#include "plugin/TESKError.h"

#include <gtest/gtest.h>

#include "tests/support/captured_debug_output.h"

#include <string>
#include <utility>
#include <vector>

#include <quor/quor.h>
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

// Each code of the public header paired with its own spelling there, so the
// names follow the header's values rather than a position in a list.
#define QUOR_CODE_AND_NAME(code) std::pair<int, const char*>(code, #code)

TEST(QuorCodeNames, NameEveryCodeAndOnlyThose) {
    for (const auto& [code, name] :
         {QUOR_CODE_AND_NAME(QUOR_END), QUOR_CODE_AND_NAME(QUOR_ERROR_PARAM),
          QUOR_CODE_AND_NAME(QUOR_ERROR_UNSUPPORTED), QUOR_CODE_AND_NAME(QUOR_ERROR_MEMORY),
          QUOR_CODE_AND_NAME(QUOR_ERROR_INTERNAL), QUOR_CODE_AND_NAME(QUOR_ERROR_DECODE),
          QUOR_CODE_AND_NAME(QUOR_ERROR_READ), QUOR_CODE_AND_NAME(QUOR_ERROR_SEEK),
          QUOR_CODE_AND_NAME(QUOR_ERROR_OPENFILE), QUOR_CODE_AND_NAME(QUOR_ERROR_WRONGSTATE),
          QUOR_CODE_AND_NAME(QUOR_ERROR_NOTAVAILABLE),
          QUOR_CODE_AND_NAME(QUOR_ERROR_INCOMPATIBLEVERSION),
          QUOR_CODE_AND_NAME(QUOR_ERROR_NOAUDIO)}) {
        EXPECT_STREQ(getQuorCodeName(code), name) << code;
    }
    for (int code : {0, 2, -13, 1000, -1000, INT32_MIN, INT32_MAX}) {
        EXPECT_STREQ(getQuorCodeName(code), "unknown errorcode") << code;
    }
}
