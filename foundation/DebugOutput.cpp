#include "zelm/DebugOutput.h"

#include <utility>

#include "platform/DebugOutput.h"

namespace zelm {

void debugOutput(const String& text) {
    posix::outputDebugString(text.toWString());
}

DebugOutputSink setDebugOutputSink(DebugOutputSink sink) {
    return posix::setDebugOutputSink(std::move(sink));
}

} // namespace zelm
