#include "platform/System.h"

#include "platform/win32/Windows.h"

namespace zelm::win32 {

bool isDebuggerAttached() noexcept {
    return ::IsDebuggerPresent() != 0;
}

void debugBreak() noexcept {
    if (isDebuggerAttached()) {
        ::DebugBreak();
    }
}

void sleep(unsigned milliseconds) noexcept {
    ::Sleep(milliseconds);
}

} // namespace zelm::win32
