#include "platform/Mutex.h"

#include <memory>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/lock_on_other_thread.h"

namespace zelm::ZELM_PLATFORM {
namespace {

std::string uniqueName(const std::string& purpose) {
    return "tesk_quor.test." + purpose + "." + std::to_string(::getpid());
}

bool sharedObjectExists(const std::string& name) {
    return ::access(("/dev/shm" + NamedMutex::objectName(name)).c_str(), F_OK) == 0;
}

using tesk_quor_test::tryLockOnOtherThread;

TEST(NamedMutexName, EscapesSlashPercentAndControlBytes) {
    EXPECT_EQ(NamedMutex::objectName("Global\\app"), "/zelm-mutex-Global\\app");
    EXPECT_EQ(NamedMutex::objectName("a/b%c\n"), "/zelm-mutex-a%2Fb%25c%0A");
}

TEST(NamedMutexThreads, TwoObjectsOfOneNameExcludeEachOther) {
    const std::string name = uniqueName("shared");
    NamedMutex first(name);
    NamedMutex second(name);
    first.lock();
    EXPECT_FALSE(tryLockOnOtherThread(second, 0));
    EXPECT_FALSE(tryLockOnOtherThread(second, 20));
    first.unlock();
    EXPECT_TRUE(tryLockOnOtherThread(second, 20));
}

TEST(NamedMutex, SharedObjectGoesWithTheLastUser) {
    const std::string name = uniqueName("lifetime");
    {
        NamedMutex first(name);
        {
            NamedMutex second(name);
            EXPECT_TRUE(sharedObjectExists(name));
        }
        EXPECT_TRUE(sharedObjectExists(name));
    }
    EXPECT_FALSE(sharedObjectExists(name));
    NamedMutex again(name);
    EXPECT_TRUE(again.tryLock(0));
    again.unlock();
}

TEST(NamedMutexThreads, ThreadThatEndedHoldingItLeavesItToTheNextLocker) {
    NamedMutex mutex(uniqueName("thread-ended"));
    std::thread([&] { mutex.lock(); }).join();
    EXPECT_TRUE(mutex.tryLock(0));
    mutex.unlock();
}

TEST(NamedMutex, HandleInheritedThroughForkLeavesTheNameToItsOpener) {
    const std::string name = uniqueName("forked");
    auto mutex = std::make_unique<NamedMutex>(name);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        mutex.reset();
        ::_exit(sharedObjectExists(name) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(sharedObjectExists(name));
    mutex.reset();
    EXPECT_FALSE(sharedObjectExists(name));
}

} // namespace
} // namespace zelm::ZELM_PLATFORM
