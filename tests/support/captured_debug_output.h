#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <zelm/DebugOutput.h>

namespace tesk_quor_test {

// Collects the debugger texts while it exists.
class CapturedDebugOutput {
public:
    CapturedDebugOutput()
        : m_previous(zelm::setDebugOutputSink(
              [this](std::wstring_view text) { m_texts.emplace_back(text); })) {}
    ~CapturedDebugOutput() { zelm::setDebugOutputSink(m_previous); }
    CapturedDebugOutput(const CapturedDebugOutput&) = delete;
    CapturedDebugOutput& operator=(const CapturedDebugOutput&) = delete;
    const std::vector<std::wstring>& texts() const { return m_texts; }

private:
    std::vector<std::wstring> m_texts;
    zelm::DebugOutputSink m_previous;
};

} // namespace tesk_quor_test
