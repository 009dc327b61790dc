// printf-style formatting of single floating-point and character fields,
// always with the C locale's conventions (a "." as decimal separator),
// whatever locale the process has chosen.
#pragma once

#include "platform/Platform.h"

#include <cstddef>

namespace zelm::ZELM_PLATFORM {

// Formats value with specification (one printf field such as "%08.3f") into
// buffer of size bytes. Returns the length of the whole result, which may be
// size or more when the buffer was too small (the text is then cut).
int formatDouble(char* buffer, std::size_t size, const char* specification, double value);

// The same for one "%c" field.
int formatCharacter(char* buffer, std::size_t size, const char* specification, char character);

} // namespace zelm::ZELM_PLATFORM
