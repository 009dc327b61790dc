#include "platform/System.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace zelm::posix {

bool isDebuggerAttached() noexcept {
    std::ifstream status("/proc/self/status");
    const std::string key = "TracerPid:";
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::strtol(line.c_str() + key.size(), nullptr, 10) != 0;
        }
    }
    return false;
}

void debugBreak() noexcept {
    if (isDebuggerAttached()) {
        std::raise(SIGTRAP);
    }
}

void sleep(unsigned milliseconds) noexcept {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace zelm::posix
