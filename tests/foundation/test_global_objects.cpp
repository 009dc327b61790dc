#include <zelm/CharEncoding.h>
#include <zelm/GlobalObjFactory.h>
#include <zelm/String.h>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <barrier>
#include <cstdlib>
#include <thread>
#include <vector>

namespace zelm {
namespace {

class CService : public CObject {
public:
    CService(std::vector<int>& destroyed, int id) : m_destroyed(destroyed), m_id(id) {}
    ~CService() override { m_destroyed.push_back(m_id); }
    int id() const { return m_id; }

private:
    std::vector<int>& m_destroyed;
    int m_id;
};

const char kFirstMarker = 0;
const char kSecondMarker = 0;
const char kThirdMarker = 0;

TEST(GlobalObjects, SameKeyGivesTheSameObjectWithoutCountChange) {
    std::vector<int> destroyed;
    P<CGlobalObjFactory> factory = makeP<CGlobalObjFactory>();
    int created = 0;
    auto creator = [&] {
        ++created;
        return makeP<CService>(destroyed, 1);
    };
    P<CService>& first = factory->getGlobalObject<CService>(&kFirstMarker, creator);
    P<CService>& again = factory->getGlobalObject<CService>(&kFirstMarker, creator);
    EXPECT_EQ(&first, &again);
    EXPECT_EQ(created, 1);
    EXPECT_EQ(first->getRefCount(), 1);
    EXPECT_EQ(factory->getObjectCount(), 1);
}

TEST(GlobalObjects, FailingCreatorLeavesNoEntry) {
    std::vector<int> destroyed;
    P<CGlobalObjFactory> factory = makeP<CGlobalObjFactory>();
    EXPECT_THROW(factory->getGlobalObject<CService>(
                     &kFirstMarker, []() -> P<CService> { throw std::runtime_error("no"); }),
                 std::runtime_error);
    EXPECT_EQ(factory->getObjectCount(), 0);
    EXPECT_EQ(factory
                  ->getGlobalObject<CService>(&kFirstMarker,
                                              [&] { return makeP<CService>(destroyed, 1); })
                  ->id(),
              1);
}

// Writes its id to a pipe when it is destroyed.
class CPipeService : public CObject {
public:
    CPipeService(int fd, char id) : m_fd(fd), m_id(id) {}
    ~CPipeService() override { static_cast<void>(::write(m_fd, &m_id, 1)); }

private:
    int m_fd;
    char m_id;
};

TEST(GlobalObjects, ProcessExitDestroysThemInReverseOrderOfCreation) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(fds[0]);
        const int fd = fds[1];
        getGlobalObject<CPipeService>(&kSecondMarker,
                                      [fd] { return makeP<CPipeService>(fd, '2'); });
        getGlobalObject<CPipeService>(&kThirdMarker, [fd] { return makeP<CPipeService>(fd, '3'); });
        getGlobalObject<CPipeService>(&kFirstMarker, [fd] { return makeP<CPipeService>(fd, '1'); });
        std::exit(0);
    }
    ::close(fds[1]);
    std::string order;
    char buffer[8];
    for (ssize_t n = 0; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
        order.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(order, "132");
}

TEST(GlobalObjectsThreads, ConcurrentRequestsCreateOnce) {
    std::vector<int> destroyed;
    P<CGlobalObjFactory> factory = makeP<CGlobalObjFactory>();
    std::atomic<int> created{0};
    constexpr int kThreads = 8;
    std::barrier start(kThreads);
    std::vector<CService*> seen(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            seen[static_cast<std::size_t>(t)] =
                factory
                    ->getGlobalObject<CService>(&kThirdMarker,
                                                [&] {
                                                    ++created;
                                                    std::this_thread::yield();
                                                    return makeP<CService>(destroyed, 3);
                                                })
                    .get();
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(created.load(), 1);
    for (CService* service : seen) {
        EXPECT_EQ(service, seen.front());
    }
}

} // namespace
} // namespace zelm
