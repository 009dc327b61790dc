#include "platform/Mutex.h"

#include "platform/win32/Windows.h"

namespace zelm::win32 {

struct LocalMutex::Section {
    CRITICAL_SECTION section;
};

LocalMutex::LocalMutex() : section_(std::make_unique<Section>()) {
    ::InitializeCriticalSection(&section_->section);
}

LocalMutex::~LocalMutex() {
    ::DeleteCriticalSection(&section_->section);
}

void LocalMutex::lock() {
    ::EnterCriticalSection(&section_->section);
}

void LocalMutex::unlock() {
    ::LeaveCriticalSection(&section_->section);
}

bool LocalMutex::tryLock() {
    return ::TryEnterCriticalSection(&section_->section) != 0;
}

NamedMutex::NamedMutex(std::string_view name) : objectName_(objectName(name)) {
    handle_ = ::CreateMutexW(nullptr, FALSE, utf8ToWide(objectName_).c_str());
    if (handle_ == nullptr) {
        throwLastError("CreateMutexW of " + objectName_);
    }
}

NamedMutex::~NamedMutex() {
    ::CloseHandle(handle_);
}

void NamedMutex::lock() {
    tryLock(INFINITE);
}

void NamedMutex::unlock() {
    if (::ReleaseMutex(handle_) == 0) {
        throwLastError("ReleaseMutex of " + objectName_);
    }
}

bool NamedMutex::tryLock(std::uint32_t timeoutMs) {
    // An abandoned mutex (its holder ended) now belongs to this thread.
    switch (::WaitForSingleObject(handle_, timeoutMs)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
        return true;
    case WAIT_TIMEOUT:
        return false;
    default:
        throwLastError("WaitForSingleObject of " + objectName_);
    }
}

std::string NamedMutex::objectName(std::string_view name) {
    return std::string(name);
}

} // namespace zelm::win32
