// The Windows mutexes: a critical section for the threads of one process and
// a kernel mutex object known by name. Included by platform/Mutex.h only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace zelm::win32 {

// Re-entrant mutex for the threads of one process: the thread that holds it
// may lock it again and must unlock it as often.
class LocalMutex {
public:
    LocalMutex();
    ~LocalMutex();
    LocalMutex(const LocalMutex&) = delete;
    LocalMutex& operator=(const LocalMutex&) = delete;

    void lock();
    void unlock();
    // Never waits: answers whether the calling thread now holds the mutex.
    bool tryLock();

private:
    struct Section;
    std::unique_ptr<Section> section_;
};

// Process-wide re-entrant mutex known by name: a mutex object of the kernel,
// which gives a mutex whose holder ended without unlocking to the next
// locker. Failures of the operating system are thrown as std::system_error.
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

    // The kernel object name used for a mutex name: the name itself, so that
    // the "Global\" and "Local\" prefixes keep their meaning.
    static std::string objectName(std::string_view name);

private:
    std::string objectName_;
    void* handle_ = nullptr;
};

} // namespace zelm::win32
