#include "platform/DebugOutput.h"

#include "platform/TextConversion.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#if defined(_WIN32)
#include "platform/win32/Windows.h"
#endif

namespace zelm::ZELM_PLATFORM {
namespace {

// Re-entrant, so that a sink may itself write debugger output.
std::recursive_mutex& sinkLock() {
    static std::recursive_mutex lock;
    return lock;
}

DebugOutputSink& sink() {
    static DebugOutputSink current;
    return current;
}

bool writesToStandardError() {
    const char* value = std::getenv(kDebugOutputVariable);
    return value != nullptr && std::strcmp(value, "1") == 0;
}

} // namespace

void outputDebugString(std::wstring_view text) {
    std::lock_guard guard(sinkLock());
    if (sink()) {
        sink()(text);
    }
#if defined(_WIN32)
    ::OutputDebugStringW(std::wstring(text).c_str());
#endif
    if (writesToStandardError()) {
        const std::string line = wideToUtf8(text);
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

DebugOutputSink setDebugOutputSink(DebugOutputSink newSink) {
    std::lock_guard guard(sinkLock());
    DebugOutputSink previous = std::move(sink());
    sink() = std::move(newSink);
    return previous;
}

} // namespace zelm::ZELM_PLATFORM
