#include "MutexImpl.h"

#include <zelm/Exception.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/lock_on_other_thread.h"

namespace zelm {
namespace {

String uniqueName(const std::string& purpose) {
    return String::fromUTF8("tesk_quor.zelm." + purpose + "." + std::to_string(::getpid()));
}

using tesk_quor_test::tryLockOnOtherThread;

TEST(LocalMutexThreads, SecondLockByHolderNeedsSecondUnlock) {
    const P<IMutex> mutex = getMutexFactory()->createMutex();
    mutex->lock();
    mutex->lock();
    mutex->unlock();
    EXPECT_FALSE(tryLockOnOtherThread(*mutex, 0));
    mutex->unlock();
    EXPECT_TRUE(tryLockOnOtherThread(*mutex, 0));
}

TEST(LocalMutexThreads, TryLockAgainstOtherHolderAnswersFalseWhateverTheTimeout) {
    const P<IMutex> mutex = getMutexFactory()->createMutex();
    mutex->lock();
    EXPECT_FALSE(tryLockOnOtherThread(*mutex, 3600 * 1000));
    mutex->unlock();
}

// A lock() that returned without the mutex would be seen as entered while
// the holder still has it; a slow thread can only hide such a fault, never
// fail a sound mutex.
TEST(LocalMutexThreads, LockWaitsForTheHolder) {
    const P<IMutex> mutex = getMutexFactory()->createMutex();
    std::atomic<bool> entered = false;
    mutex->lock();
    std::thread waiter([&] {
        mutex->lock();
        entered = true;
        mutex->unlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(entered);
    mutex->unlock();
    waiter.join();
    EXPECT_TRUE(entered);
}

TEST(GlobalMutexThreads, HandlesOfOneNameShareTheMutex) {
    const String name = uniqueName("handles");
    const P<IMutex> first = getMutexFactory()->createGlobalMutex(name);
    const P<IMutex> second = getMutexFactory()->createGlobalMutex(name);
    first->lock();
    first->lock();
    first->unlock();
    EXPECT_FALSE(tryLockOnOtherThread(*second, 10));
    first->unlock();
    EXPECT_TRUE(tryLockOnOtherThread(*second, 10));
    EXPECT_TRUE(dynamic_cast<platform::CGlobalMutexImpl&>(*first).getName().equals(name));
}

TEST(GlobalMutexObject, UnlockWithoutHoldingThrows) {
    const P<IMutex> mutex = getMutexFactory()->createGlobalMutex(uniqueName("unheld"));
    EXPECT_THROW(mutex->unlock(), CException);
}

} // namespace
} // namespace zelm
