#include "platform/File.h"

#include "platform/TextConversion.h"

#include <cerrno>
#include <string>

namespace zelm::posix {
namespace {

std::FILE* openNative(const std::string& path, const char* mode) {
    if (mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    return std::fopen(path.c_str(), mode);
}

} // namespace

std::FILE* openFile(const char16_t* path, const char* mode) {
    if (path == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    return openNative(utf16ToUtf8(path), mode);
}

std::FILE* openFile(const wchar_t* path, const char* mode) {
    if (path == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    return openNative(wideToUtf8(path), mode);
}

} // namespace zelm::posix
