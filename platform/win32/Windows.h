// The Windows headers and what the seam's Windows sources share. The
// toolchain leaves out the min and max macros and the rarely used parts.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <system_error>

namespace zelm::win32 {

// Text in UTF-8 as the UTF-16 that the wide Windows functions take.
std::wstring utf8ToWide(std::string_view text);

// Throws the calling thread's last Windows error as std::system_error.
[[noreturn]] inline void throwLastError(const std::string& what) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), what);
}

} // namespace zelm::win32
