// Opening files named by wide paths: the path is converted to the native
// UTF-8 form and opened with the C library.
#pragma once

#include "platform/Platform.h"

#include <cstdio>

namespace zelm::ZELM_PLATFORM {

// mode as for std::fopen ("rb" for binary reading). Returns nullptr and
// leaves errno set when the file cannot be opened or the path is null.
std::FILE* openFile(const char16_t* path, const char* mode);
std::FILE* openFile(const wchar_t* path, const char* mode);

} // namespace zelm::ZELM_PLATFORM
