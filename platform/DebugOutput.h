// The debugger output (the stand-in for OutputDebugStringW): one
// process-wide sink. Each text goes to the installed sink, if any, and to
// the standard error stream (as UTF-8, one line per text) when the
// environment variable ZELM_DEBUG_OUTPUT is set to 1.
#pragma once

#include "platform/Platform.h"

#include <functional>
#include <string_view>

namespace zelm::ZELM_PLATFORM {

inline constexpr const char* kDebugOutputVariable = "ZELM_DEBUG_OUTPUT";

using DebugOutputSink = std::function<void(std::wstring_view text)>;

void outputDebugString(std::wstring_view text);
// Installs a sink (an empty one removes it); returns the previous one.
DebugOutputSink setDebugOutputSink(DebugOutputSink sink);

} // namespace zelm::ZELM_PLATFORM
