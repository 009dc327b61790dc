// The Windows side of temporary files: the file is made with CreateFileW
// under a fresh name, given its final name with MoveFileExW (replacing the
// file there, written through), and a console control handler (Ctrl+C,
// Ctrl+Break, closing the console, logging off, shutting down) removes what
// is left and ends the program with 128 + 2, as an interruption does
// elsewhere.
#include "programs/common/temporary_files.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <io.h>

#include <windows.h>

namespace tesk::cli {

namespace {

constexpr int kSlots = 4;
constexpr int kInterruptedStatus = 128 + 2;
constexpr std::size_t kNameCharacters = 6;

// The names, set before a handler can see them; the handler runs on a
// thread of its own while the program goes on.
std::array<std::wstring, kSlots> g_names;
std::array<std::atomic<bool>, kSlots> g_used;

BOOL WINAPI removeTemporariesAndExit(DWORD /*event*/) {
    for (int slot = 0; slot < kSlots; ++slot) {
        if (g_used[slot].load()) {
            ::DeleteFileW(g_names[slot].c_str());
        }
    }
    ::ExitProcess(kInterruptedStatus);
}

int claimSlot(const std::wstring& path) {
    for (int slot = 0; slot < kSlots; ++slot) {
        if (!g_used[slot].load()) {
            g_names[slot] = path;
            g_used[slot].store(true);
            return slot;
        }
    }
    return -1;
}

std::wstring wideOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end())).wstring();
}

// The template with its last six characters replaced by a fresh choice.
std::string candidateName(const std::string& nameTemplate, unsigned attempt) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned long long seed =
        ::GetTickCount64() * 2654435761ULL + ::GetCurrentProcessId() + attempt * 40503ULL;
    std::string name = nameTemplate.substr(0, nameTemplate.size() - kNameCharacters);
    for (std::size_t i = 0; i < kNameCharacters; ++i) {
        name += kLetters[seed % (sizeof kLetters - 1)];
        seed /= sizeof kLetters - 1;
    }
    return name;
}

// errno for the calling thread's last Windows error.
int lastErrorAsErrno() {
    switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}

} // namespace

void handleInterruptions() {
    static const bool installed = ::SetConsoleCtrlHandler(removeTemporariesAndExit, TRUE) != 0;
    static_cast<void>(installed);
}

TemporaryFile::TemporaryFile(std::string nameTemplate) {
    handleInterruptions();
    constexpr unsigned kAttempts = 100;
    for (unsigned attempt = 0; attempt < kAttempts && m_descriptor < 0; ++attempt) {
        m_path = candidateName(nameTemplate, attempt);
        const std::wstring wide = wideOf(m_path);
        const HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            if (::GetLastError() != ERROR_FILE_EXISTS) {
                throw std::system_error(lastErrorAsErrno(), std::generic_category());
            }
            continue;
        }
        m_slot = claimSlot(wide);
        m_descriptor = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
        if (m_slot < 0 || m_descriptor < 0) {
            ::CloseHandle(handle);
            ::DeleteFileW(wide.c_str());
            throw std::system_error(EMFILE, std::generic_category());
        }
    }
    if (m_descriptor < 0) {
        throw std::system_error(EEXIST, std::generic_category());
    }
}

TemporaryFile::~TemporaryFile() {
    if (m_descriptor >= 0) {
        ::_close(m_descriptor);
    }
    if (m_slot >= 0) {
        ::DeleteFileW(g_names[m_slot].c_str());
        g_used[m_slot].store(false);
    }
}

std::FILE* TemporaryFile::openStream() {
    std::FILE* stream = ::_fdopen(m_descriptor, "wb");
    if (stream != nullptr) {
        m_descriptor = -1;
    }
    return stream;
}

bool TemporaryFile::renameTo(const std::string& path) {
    if (::MoveFileExW(g_names[m_slot].c_str(), wideOf(path).c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        errno = lastErrorAsErrno();
        return false;
    }
    g_used[m_slot].store(false);
    m_slot = -1;
    return true;
}

} // namespace tesk::cli
