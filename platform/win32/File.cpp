#include "platform/File.h"

#include "platform/TextConversion.h"
#include "platform/win32/Windows.h"

#include <cerrno>
#include <string>

namespace zelm::win32 {
namespace {

// Windows opens files by their UTF-16 names; the mode is ASCII.
std::FILE* openWide(const wchar_t* path, const char* mode) {
    if (path == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    return ::_wfopen(path, utf8ToWide(mode).c_str());
}

} // namespace

std::FILE* openFile(const char16_t* path, const char* mode) {
    return openWide(reinterpret_cast<const wchar_t*>(path), mode);
}

std::FILE* openFile(const wchar_t* path, const char* mode) {
    return openWide(path, mode);
}

std::wstring utf8ToWide(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int units = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), units);
    return wide;
}

} // namespace zelm::win32
