#include "MutexImpl.h"

#include <zelm/Exception.h>

#include <system_error>

namespace zelm {

namespace {

// The failure of a global mutex operation: the fixed text and the mutex name.
[[noreturn]] void throwGlobalMutexError(const char* text, const String& name) {
    throw CException(String(text) + name);
}

} // namespace

const P<IMutexFactory>& getMutexFactory() {
    static const P<IMutexFactory> factory(new platform::CMutexFactory());
    return factory;
}

namespace ZELM_PLATFORM {

void CMutexImpl::lock() {
    m_mutex.lock();
}

void CMutexImpl::unlock() {
    m_mutex.unlock();
}

bool CMutexImpl::tryLock(std::uint32_t /*timeoutMs*/) {
    return m_mutex.tryLock();
}

CGlobalMutexImpl::CGlobalMutexImpl(const String& name) : m_name(name) {
    try {
        m_mutex = std::make_unique<NamedMutex>(name.toStdString());
    } catch (const std::system_error&) {
        throwGlobalMutexError("Error createing global mutex ", m_name);
    }
}

CGlobalMutexImpl::~CGlobalMutexImpl() = default;

void CGlobalMutexImpl::lock() {
    try {
        m_mutex->lock();
    } catch (const std::system_error&) {
        throwGlobalMutexError("Error locking global mutex ", m_name);
    }
}

void CGlobalMutexImpl::unlock() {
    try {
        m_mutex->unlock();
    } catch (const std::system_error&) {
        throwGlobalMutexError("Error unlocking global mutex ", m_name);
    }
}

bool CGlobalMutexImpl::tryLock(std::uint32_t timeoutMs) {
    try {
        return m_mutex->tryLock(timeoutMs);
    } catch (const std::system_error&) {
        throwGlobalMutexError("Error locking global mutex ", m_name);
    }
}

P<IMutex> CMutexFactory::createMutex() {
    return P<IMutex>(new CMutexImpl());
}

P<IMutex> CMutexFactory::createGlobalMutex(const String& name) {
    return P<IMutex>(new CGlobalMutexImpl(name));
}

} // namespace ZELM_PLATFORM
} // namespace zelm
