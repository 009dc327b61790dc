#include "zelm/DebugOutput.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using zelm::String;

namespace {

// Collects the debugger texts while it exists.
class CapturedDebugOutput {
public:
    CapturedDebugOutput()
        : m_previous(zelm::setDebugOutputSink(
              [this](std::wstring_view text) { m_texts.emplace_back(text); })) {}
    ~CapturedDebugOutput() { zelm::setDebugOutputSink(m_previous); }
    const std::vector<std::wstring>& texts() const { return m_texts; }

private:
    std::vector<std::wstring> m_texts;
    zelm::DebugOutputSink m_previous;
};

} // namespace

TEST(DebugOutput, EachCallWritesExactlyItsText) {
    const CapturedDebugOutput output;
    zelm::debugOutput(L"caf\u00e9 \u263a");
    zelm::debugOutput(String::fromUTF8("\xf0\x9f\x8e\xb5 line\n"));
    zelm::debugOutput("");
    EXPECT_EQ(output.texts(),
              (std::vector<std::wstring>{L"caf\u00e9 \u263a", L"\U0001F3B5 line\n", L""}));
}
