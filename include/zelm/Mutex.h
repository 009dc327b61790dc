// Mutual exclusion: the mutex interface, the factory that makes local
// (re-entrant, one process) and global (named, every process) mutexes, and
// a scoped lock.
#pragma once

#include <zelm/Export.h>

#include <zelm/Object.h>
#include <zelm/String.h>

#include <cstdint>

namespace zelm {

class ZELM_API IMutex : public virtual IBase {
public:
    // Waits until the calling thread holds the mutex.
    virtual void lock() = 0;
    // Gives it up once.
    virtual void unlock() = 0;
    // Takes it if possible within the time allowed; true when it is now held.
    virtual bool tryLock(std::uint32_t timeoutMs) = 0;
};

class ZELM_API IMutexFactory : public virtual IBase {
public:
    // A new re-entrant mutex for the threads of this process.
    virtual P<IMutex> createMutex() = 0;
    // A new handle on the process-wide mutex of that name.
    virtual P<IMutex> createGlobalMutex(const String& name) = 0;
};

// The process-wide mutex factory, made on first use.
ZELM_API const P<IMutexFactory>& getMutexFactory();

// Holds a mutex for the life of the scope.
class ZELM_API CMutexLock {
public:
    explicit CMutexLock(IMutex& mutex) : m_mutex(mutex) { m_mutex.lock(); }
    ~CMutexLock() { m_mutex.unlock(); }
    CMutexLock(const CMutexLock&) = delete;
    CMutexLock& operator=(const CMutexLock&) = delete;

private:
    IMutex& m_mutex;
};

} // namespace zelm
