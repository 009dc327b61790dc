// Process facilities: signalling a debugger and sleeping.
#pragma once

#include "platform/Platform.h"

namespace zelm::ZELM_PLATFORM {

// Whether a debugger (a tracer) is attached to the process.
bool isDebuggerAttached() noexcept;
// Stops in the attached debugger (SIGTRAP); does nothing without one.
void debugBreak() noexcept;
void sleep(unsigned milliseconds) noexcept;

} // namespace zelm::ZELM_PLATFORM
