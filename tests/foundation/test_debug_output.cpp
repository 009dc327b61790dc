#include "zelm/DebugOutput.h"

#include <gtest/gtest.h>

#include "tests/support/captured_debug_output.h"

#include <string>
#include <vector>

using zelm::String;

using tesk_quor_test::CapturedDebugOutput;

TEST(DebugOutput, EachCallWritesExactlyItsText) {
    const CapturedDebugOutput output;
    zelm::debugOutput(L"caf\u00e9 \u263a");
    zelm::debugOutput(String::fromUTF8("\xf0\x9f\x8e\xb5 line\n"));
    zelm::debugOutput("");
    EXPECT_EQ(output.texts(),
              (std::vector<std::wstring>{L"caf\u00e9 \u263a", L"\U0001F3B5 line\n", L""}));
}
