#include "programs/common/system_seam.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <io.h>

#include <windows.h>

#include <shellapi.h>

namespace tesk::cli::os {

namespace {

std::filesystem::path nativePath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8Of(const wchar_t* wide) {
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) {
        return {};
    }
    std::string text(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), bytes, nullptr, nullptr);
    text.pop_back();
    return text;
}

HANDLE handleOf(std::FILE* file) {
    return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
}

// The volume and index that name a file, from an open handle.
bool identityOf(HANDLE handle, BY_HANDLE_FILE_INFORMATION& information) {
    return handle != INVALID_HANDLE_VALUE &&
           ::GetFileInformationByHandle(handle, &information) != 0;
}

bool identityOf(const std::string& path, BY_HANDLE_FILE_INFORMATION& information) {
    const HANDLE handle = ::CreateFileW(
        nativePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const bool known = identityOf(handle, information);
    if (handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle);
    }
    return known;
}

} // namespace

std::vector<std::string> startProgram(int /*argc*/, char** /*argv*/) {
    ::_setmode(::_fileno(stdin), _O_BINARY);
    ::_setmode(::_fileno(stdout), _O_BINARY);
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; wide != nullptr && i < count; ++i) {
        arguments.push_back(utf8Of(wide[i]));
    }
    ::LocalFree(wide);
    return arguments;
}

bool pathStatus(const std::string& path, PathStatus& status) {
    std::error_code error;
    const std::filesystem::file_status found =
        std::filesystem::symlink_status(nativePath(path), error);
    status = {};
    if (error) {
        return error == std::errc::no_such_file_or_directory;
    }
    if (std::filesystem::is_regular_file(found)) {
        status = {PathKind::kRegular, static_cast<unsigned>(found.permissions())};
    } else if (std::filesystem::is_symlink(found)) {
        status.kind = PathKind::kLink;
    } else if (std::filesystem::exists(found)) {
        status.kind = PathKind::kOther;
    }
    return true;
}

void givePermissions(std::FILE* /*file*/, bool /*replacing*/, unsigned /*permissions*/) {}

bool isRewritable(std::FILE* file) {
    return ::GetFileType(handleOf(file)) == FILE_TYPE_DISK;
}

std::FILE* openInPlace(const std::string& path) {
    return ::_wfopen(nativePath(path).c_str(), L"wb");
}

bool flushToDisk(std::FILE* file) {
    if (::FlushFileBuffers(handleOf(file)) == 0) {
        errno = EIO;
        return false;
    }
    return true;
}

bool isTerminal(std::FILE* file) {
    return ::_isatty(::_fileno(file)) != 0;
}

bool sameFile(const std::string& input, const std::string& output) {
    BY_HANDLE_FILE_INFORMATION in{};
    BY_HANDLE_FILE_INFORMATION out{};
    const bool found = input == "-" ? identityOf(handleOf(stdin), in) : identityOf(input, in);
    return found && identityOf(output, out) &&
           in.dwVolumeSerialNumber == out.dwVolumeSerialNumber &&
           in.nFileIndexHigh == out.nFileIndexHigh && in.nFileIndexLow == out.nFileIndexLow;
}

std::string standardInputPath() {
    return "";
}

int readingError(const std::string& path) {
    std::FILE* file = ::_wfopen(nativePath(path).c_str(), L"rb");
    if (file == nullptr) {
        return errno;
    }
    std::fclose(file);
    return 0;
}

std::filesystem::path runningProgram() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) {
            return {};
        }
        if (length < name.size()) {
            name.resize(length);
            return name;
        }
        name.resize(name.size() * 2);
    }
}

} // namespace tesk::cli::os
