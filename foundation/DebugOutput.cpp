#include "zelm/DebugOutput.h"

#include <utility>

#include "platform/DebugOutput.h"

namespace zelm {

void debugOutput(const String& text) {
    platform::outputDebugString(text.toWString());
}

DebugOutputSink setDebugOutputSink(DebugOutputSink sink) {
    return platform::setDebugOutputSink(std::move(sink));
}

} // namespace zelm
