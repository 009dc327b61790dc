#include "platform/DebugOutput.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/environment.h"

namespace zelm::ZELM_PLATFORM {
namespace {

// Captures the debugger output for one test and restores the environment.
class DebugOutput : public ::testing::Test {
protected:
    void SetUp() override {
        tesk_quor_test::unsetEnvironment(kDebugOutputVariable);
        m_previous =
            setDebugOutputSink([this](std::wstring_view text) { m_captured.emplace_back(text); });
    }
    void TearDown() override {
        setDebugOutputSink(std::move(m_previous));
        tesk_quor_test::unsetEnvironment(kDebugOutputVariable);
    }

    std::vector<std::wstring> m_captured;

private:
    DebugOutputSink m_previous;
};

TEST_F(DebugOutput, StandardErrorOnlyWhenTheVariableIsSet) {
    ::testing::internal::CaptureStderr();
    outputDebugString(L"quiet");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    tesk_quor_test::setEnvironment(kDebugOutputVariable, "1");
    ::testing::internal::CaptureStderr();
    outputDebugString(L"caf\u00E9");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "caf\xC3\xA9\n");

    tesk_quor_test::setEnvironment(kDebugOutputVariable, "0");
    ::testing::internal::CaptureStderr();
    outputDebugString(L"quiet again");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(m_captured.size(), 3u);
}

} // namespace
} // namespace zelm::ZELM_PLATFORM
