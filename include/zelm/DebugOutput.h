// The debugger output: texts meant for a developer watching the process.
// Each text goes to the installed sink, if any, and to the standard error
// stream when the environment variable ZELM_DEBUG_OUTPUT is 1.
#pragma once

#include <zelm/Export.h>

#include <functional>
#include <string_view>

#include "zelm/String.h"

namespace zelm {

// Writes one text to the debugger output, nothing else (no line end).
ZELM_API void debugOutput(const String& text);

using DebugOutputSink = std::function<void(std::wstring_view text)>;

// Installs the sink that receives every debugger text (an empty one removes
// it) and returns the previous one. Meant for tests and embedding hosts.
ZELM_API DebugOutputSink setDebugOutputSink(DebugOutputSink sink);

} // namespace zelm
