#include "MutexImpl.h"

#include <zelm/Exception.h>

#include <csignal>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/lock_on_other_thread.h"

namespace zelm {
namespace {

String uniqueName(const std::string& purpose) {
    return String::fromUTF8("tesk_quor.zelm." + purpose + "." + std::to_string(::getpid()));
}

using tesk_quor_test::tryLockOnOtherThread;

TEST(MutexFactory, IsOneProcessWideObject) {
    ASSERT_TRUE(getMutexFactory());
    EXPECT_EQ(getMutexFactory().get(), getMutexFactory().get());
    EXPECT_NE(dynamic_cast<posix::CMutexFactory*>(getMutexFactory().get()), nullptr);
}

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

TEST(LocalMutexThreads, ScopedLockReleasesOnException) {
    const P<IMutex> mutex = getMutexFactory()->createMutex();
    try {
        CMutexLock lock(*mutex);
        throw CError("thrown while holding the lock");
    } catch (const CError&) {
    }
    EXPECT_TRUE(tryLockOnOtherThread(*mutex, 0));
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
    EXPECT_TRUE(dynamic_cast<posix::CGlobalMutexImpl&>(*first).getName().equals(name));
}

TEST(GlobalMutexObject, NameTheSystemRefusesGivesCreationError) {
    const String name = String::fromUTF8(std::string(300, 'n'));
    try {
        getMutexFactory()->createGlobalMutex(name);
        FAIL() << "a 300-character name was accepted";
    } catch (const CException& error) {
        EXPECT_EQ(error.getDescription().toStdString(),
                  "Error createing global mutex " + name.toStdString());
    }
}

TEST(GlobalMutexObject, UnlockWithoutHoldingThrows) {
    const P<IMutex> mutex = getMutexFactory()->createGlobalMutex(uniqueName("unheld"));
    EXPECT_THROW(mutex->unlock(), CException);
}

TEST(GlobalMutexObject, KilledHolderProcessLeavesItToTheNextLock) {
    const String name = uniqueName("killed");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const P<IMutex> held = getMutexFactory()->createGlobalMutex(name);
        held->lock();
        [[maybe_unused]] const auto written = ::write(ready[1], "L", 1);
        for (;;) {
            ::pause();
        }
    }
    ::close(ready[1]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);

    const P<IMutex> mutex = getMutexFactory()->createGlobalMutex(name);
    EXPECT_FALSE(mutex->tryLock(0));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_NO_THROW(mutex->lock());
    mutex->unlock();
}

} // namespace
} // namespace zelm
