// Mutex primitives of the operating-system seam: a re-entrant mutex for the
// threads of one process and a named mutex shared by every process that
// opens the same name.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <string>
#include <string_view>

#if defined(_WIN32)
#include "platform/win32/Mutex.h"
#else
#include <mutex>
#include <sys/types.h>

namespace zelm::posix {

// Re-entrant mutex for the threads of one process: the thread that holds it
// may lock it again and must unlock it as often.
class LocalMutex {
public:
    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }
    // Never waits: answers whether the calling thread now holds the mutex.
    bool tryLock() { return mutex_.try_lock(); }

private:
    std::recursive_mutex mutex_;
};

// Process-wide re-entrant mutex known by name. It lives in a shared-memory
// object; a holder that ends (thread or process) without unlocking leaves it
// to the next locker, who acquires it normally. The shared object is removed
// when the last process that opened the name closes it (a handle inherited
// through fork never removes it).
//
// Failures of the operating system are thrown as std::system_error.
class NamedMutex {
public:
    explicit NamedMutex(std::string_view name);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    void lock();
    void unlock();
    // Waits at most timeoutMs milliseconds; answers whether the calling
    // thread now holds the mutex.
    bool tryLock(std::uint32_t timeoutMs);

    // The shared-memory object name used for a mutex name.
    static std::string objectName(std::string_view name);

private:
    struct Shared;

    void open();
    bool attach();
    void initialiseShared();
    // Turns a pthread result into held (true), not acquired (false) or throws.
    bool acquired(int result, const char* operation);

    std::string objectName_;
    // The process that opened the object; a child that inherited the handle
    // through fork shares its locks and must not remove the name.
    pid_t openerPid_;
    int fd_ = -1;
    Shared* shared_ = nullptr;
};

} // namespace zelm::posix
#endif
