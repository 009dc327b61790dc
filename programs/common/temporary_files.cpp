#include "programs/common/temporary_files.h"

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <utility>

#include <unistd.h>

namespace tesk::cli {

namespace {

constexpr std::array<int, 3> kInterruptions = {SIGINT, SIGTERM, SIGHUP};
// A program keeps at most its output and a copy of standard input.
constexpr int kSlots = 4;

char g_names[kSlots][PATH_MAX];
volatile std::sig_atomic_t g_used[kSlots];

extern "C" void removeTemporariesAndExit(int signal) {
    for (int slot = 0; slot < kSlots; ++slot) {
        if (g_used[slot] != 0) {
            unlink(g_names[slot]);
        }
    }
    _exit(128 + signal);
}

// Holds the interruptions back while the names are changed.
class InterruptionsHeld {
public:
    InterruptionsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (const int signal : kInterruptions) {
            sigaddset(&held, signal);
        }
        sigprocmask(SIG_BLOCK, &held, &m_before);
    }
    ~InterruptionsHeld() { sigprocmask(SIG_SETMASK, &m_before, nullptr); }
    InterruptionsHeld(const InterruptionsHeld&) = delete;
    InterruptionsHeld& operator=(const InterruptionsHeld&) = delete;

private:
    sigset_t m_before{};
};

int claimSlot(const std::string& path) {
    if (path.size() >= PATH_MAX) {
        return -1;
    }
    for (int slot = 0; slot < kSlots; ++slot) {
        if (g_used[slot] == 0) {
            std::memcpy(g_names[slot], path.c_str(), path.size() + 1);
            g_used[slot] = 1;
            return slot;
        }
    }
    return -1;
}

} // namespace

void handleInterruptions() {
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = removeTemporariesAndExit;
        sigemptyset(&action.sa_mask);
        for (const int signal : kInterruptions) {
            struct sigaction before {};
            // A signal the program was started to ignore (nohup) stays ignored.
            if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
                sigaction(signal, &action, nullptr);
            }
        }
        std::signal(SIGXFSZ, SIG_IGN);
        return true;
    }();
    static_cast<void>(installed);
}

TemporaryFile::TemporaryFile(std::string nameTemplate) : m_path(std::move(nameTemplate)) {
    handleInterruptions();
    const InterruptionsHeld held;
    m_descriptor = mkstemp(m_path.data());
    if (m_descriptor < 0) {
        throw std::system_error(errno, std::generic_category());
    }
    m_slot = claimSlot(m_path);
    if (m_slot < 0) {
        ::close(m_descriptor);
        unlink(m_path.c_str());
        throw std::system_error(ENAMETOOLONG, std::generic_category());
    }
}

TemporaryFile::~TemporaryFile() {
    if (m_descriptor >= 0) {
        ::close(m_descriptor);
    }
    if (m_slot >= 0) {
        unlink(m_path.c_str());
        g_used[m_slot] = 0;
    }
}

std::FILE* TemporaryFile::openStream() {
    std::FILE* stream = fdopen(m_descriptor, "wb");
    if (stream != nullptr) {
        m_descriptor = -1;
    }
    return stream;
}

bool TemporaryFile::renameTo(const std::string& path) {
    if (std::rename(m_path.c_str(), path.c_str()) != 0) {
        return false;
    }
    g_used[m_slot] = 0;
    m_slot = -1;
    return true;
}

} // namespace tesk::cli
