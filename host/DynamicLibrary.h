// Opening a shared library and finding a function in it: dlopen on POSIX
// systems, LoadLibraryW on Windows.
#pragma once

#include <string>

namespace tesk::host {

// The library at the UTF-8 path, or nullptr with the system's reason in
// error.
void* openLibrary(const std::string& path, std::string& error);
// The address of the exported function name, or nullptr.
void* findFunction(void* library, const char* name);
void closeLibrary(void* library);

} // namespace tesk::host
