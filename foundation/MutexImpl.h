// The mutex classes of the POSIX platform, made by the mutex factory.
#pragma once

#include <zelm/Mutex.h>

#include "platform/Mutex.h"

#include <memory>

namespace zelm::ZELM_PLATFORM {

// Re-entrant mutex for the threads of one process; tryLock never waits.
class CMutexImpl : public CObject, public virtual IMutex {
public:
    void lock() override;
    void unlock() override;
    bool tryLock(std::uint32_t timeoutMs) override;

private:
    LocalMutex m_mutex;
};

// Handle on a mutex shared by every process that opens the same name. A
// holder that ended without unlocking leaves it to the next locker.
class CGlobalMutexImpl : public CObject, public virtual IMutex {
public:
    explicit CGlobalMutexImpl(const String& name);
    ~CGlobalMutexImpl() override;

    void lock() override;
    void unlock() override;
    bool tryLock(std::uint32_t timeoutMs) override;

    const String& getName() const { return m_name; }

private:
    std::unique_ptr<NamedMutex> m_mutex;
    String m_name;
};

class CMutexFactory : public CObject, public virtual IMutexFactory {
public:
    P<IMutex> createMutex() override;
    P<IMutex> createGlobalMutex(const String& name) override;
};

} // namespace zelm::ZELM_PLATFORM
