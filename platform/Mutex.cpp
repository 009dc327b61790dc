// Named mutex: a robust, process-shared, recursive pthread mutex kept in a
// POSIX shared-memory object.
//
// Two open-file-description locks on the object coordinate its users: a
// shared lock on byte 0 that every handle holds while it is open, and an
// exclusive lock on byte 1 held while a handle sets the object up or takes
// it down. A handle that closes while no other holds byte 0 removes the
// name; a handle that opened an object just being removed sees it unlinked
// and opens the name afresh. The operating system drops both locks of a
// process that ends.
#include "platform/Mutex.h"

#include <atomic>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#if defined(__SANITIZE_THREAD__)
#define ZELM_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZELM_THREAD_SANITIZER 1
#endif
#endif
#ifdef ZELM_THREAD_SANITIZER
#include <sanitizer/tsan_interface.h>
#endif

namespace zelm::posix {

namespace {

constexpr std::uint32_t kReadyMark = 0x6d7a6c52; // the shared mutex is initialised

[[noreturn]] void throwErrno(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

constexpr off_t kUsersByte = 0;
constexpr off_t kSetupByte = 1;

// Sets (F_RDLCK, F_WRLCK) or clears (F_UNLCK) the lock of one byte; waits
// when asked to. Answers false only when a lock not waited for is taken.
bool lockByte(int fd, short type, off_t byte, bool wait, const std::string& objectName) {
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = byte;
    range.l_len = 1;
    while (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &range) != 0) {
        if (!wait && (errno == EAGAIN || errno == EACCES)) {
            return false;
        }
        if (errno != EINTR) {
            throwErrno(errno, "fcntl lock of " + objectName);
        }
    }
    return true;
}

// A lock that waits until deadline on the monotonic clock. ThreadSanitizer
// has no interceptor for pthread_mutex_clocklock; under it the call reports
// its outcome itself, or the sanitizer would take the unlock that follows for
// the unlock of a mutex nobody holds.
int clockLock(pthread_mutex_t* mutex, const timespec& deadline) {
#ifdef ZELM_THREAD_SANITIZER
    __tsan_mutex_pre_lock(mutex, __tsan_mutex_try_lock);
    const int result = ::pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &deadline);
    const bool held = result == 0 || result == EOWNERDEAD;
    __tsan_mutex_post_lock(
        mutex, held ? __tsan_mutex_try_lock : __tsan_mutex_try_lock | __tsan_mutex_try_lock_failed,
        0);
    return result;
#else
    return ::pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &deadline);
#endif
}

bool isUnlinked(int fd, const std::string& objectName) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        throwErrno(errno, "fstat of " + objectName);
    }
    return info.st_nlink == 0;
}

timespec monotonicDeadline(std::uint32_t timeoutMs) {
    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(timeoutMs / 1000);
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return deadline;
}

} // namespace

struct NamedMutex::Shared {
    std::atomic<std::uint32_t> mark;
    pthread_mutex_t mutex;
};

std::string NamedMutex::objectName(std::string_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string result = "/zelm-mutex-";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '%' || byte < 0x20) {
            result += '%';
            result += kHex[byte >> 4];
            result += kHex[byte & 15];
        } else {
            result += c;
        }
    }
    return result;
}

NamedMutex::NamedMutex(std::string_view name)
    : objectName_(objectName(name)), openerPid_(::getpid()) {
    open();
}

NamedMutex::~NamedMutex() {
    ::munmap(shared_, sizeof(Shared));
    if (::getpid() != openerPid_) {
        ::close(fd_);
        return;
    }
    try {
        lockByte(fd_, F_WRLCK, kSetupByte, true, objectName_);
        if (lockByte(fd_, F_WRLCK, kUsersByte, false, objectName_) &&
            !isUnlinked(fd_, objectName_)) {
            ::shm_unlink(objectName_.c_str());
        }
    } catch (const std::system_error&) {
        // The name stays; the next user to close it last removes it.
    }
    ::close(fd_);
}

void NamedMutex::open() {
    while (!attach()) {
    }
}

// One attempt to open, set up and share the object; false when the object
// opened was removed meanwhile and the name has to be opened again.
bool NamedMutex::attach() {
    fd_ = ::shm_open(objectName_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        throwErrno(errno, "shm_open of " + objectName_);
    }
    try {
        lockByte(fd_, F_WRLCK, kSetupByte, true, objectName_);
        lockByte(fd_, F_RDLCK, kUsersByte, true, objectName_);
        if (isUnlinked(fd_, objectName_)) {
            ::close(fd_);
            return false;
        }
        if (::ftruncate(fd_, sizeof(Shared)) != 0) {
            throwErrno(errno, "ftruncate of " + objectName_);
        }
        void* memory = ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
        if (memory == MAP_FAILED) {
            throwErrno(errno, "mmap of " + objectName_);
        }
        shared_ = static_cast<Shared*>(memory);
        if (shared_->mark.load() != kReadyMark) {
            initialiseShared();
        }
        lockByte(fd_, F_UNLCK, kSetupByte, true, objectName_);
        return true;
    } catch (...) {
        if (shared_ != nullptr) {
            ::munmap(shared_, sizeof(Shared));
        }
        ::close(fd_);
        throw;
    }
}

// Runs under the setup lock, for an object nobody uses yet (or whose
// creator ended before finishing this).
void NamedMutex::initialiseShared() {
    pthread_mutexattr_t attributes;
    ::pthread_mutexattr_init(&attributes);
    ::pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    ::pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    ::pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    const int result = ::pthread_mutex_init(&shared_->mutex, &attributes);
    ::pthread_mutexattr_destroy(&attributes);
    if (result != 0) {
        throwErrno(result, "pthread_mutex_init of " + objectName_);
    }
    shared_->mark.store(kReadyMark);
}

bool NamedMutex::acquired(int result, const char* operation) {
    switch (result) {
    case 0:
        return true;
    case EOWNERDEAD:
        // The previous holder ended while holding the mutex: it is ours now.
        ::pthread_mutex_consistent(&shared_->mutex);
        return true;
    case EBUSY:
    case ETIMEDOUT:
        return false;
    default:
        throwErrno(result, std::string(operation) + " of " + objectName_);
    }
}

void NamedMutex::lock() {
    if (!acquired(::pthread_mutex_lock(&shared_->mutex), "pthread_mutex_lock")) {
        throwErrno(EAGAIN, "pthread_mutex_lock of " + objectName_);
    }
}

void NamedMutex::unlock() {
    const int result = ::pthread_mutex_unlock(&shared_->mutex);
    if (result != 0) {
        throwErrno(result, "pthread_mutex_unlock of " + objectName_);
    }
}

bool NamedMutex::tryLock(std::uint32_t timeoutMs) {
    if (timeoutMs == 0) {
        return acquired(::pthread_mutex_trylock(&shared_->mutex), "pthread_mutex_trylock");
    }
    const timespec deadline = monotonicDeadline(timeoutMs);
    return acquired(clockLock(&shared_->mutex, deadline), "pthread_mutex_clocklock");
}

} // namespace zelm::posix
