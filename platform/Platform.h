// The namespace of this build's operating-system seam: zelm::win32 on
// Windows, zelm::posix elsewhere. Code above the seam names it
// zelm::platform.
#pragma once

#if defined(_WIN32)
#define ZELM_PLATFORM win32
#else
#define ZELM_PLATFORM posix
#endif

namespace zelm::ZELM_PLATFORM {}

namespace zelm {
namespace platform = ZELM_PLATFORM;
}
