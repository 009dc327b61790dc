#include "CachedMemoryBlock.h"

#include <zelm/Exception.h>

#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace zelm {
namespace {

P<CMemoryManager> makeManager() {
    return P<CMemoryManager>(new CMemoryManager());
}

bool isCachedBlock(const P<IMemoryBlock>& block) {
    return dynamic_cast<CCachedMemoryBlock*>(block.get()) != nullptr;
}

TEST(MemoryManagerSizeClasses, SizesFromTheBucketCountOnAreNotCached) {
    const P<CMemoryManager> manager(new CMemoryManager(4));
    P<IMemoryBlock> block = manager->allocate(16);
    EXPECT_FALSE(isCachedBlock(block));
    EXPECT_EQ(block->getCapacity(), 16);
    block.reset();
    EXPECT_EQ(manager->getCachedBytes(), 0u);
    EXPECT_TRUE(isCachedBlock(manager->allocate(15)));
}

TEST(MemoryManagerCache, ReleasedBlockIsHandedOutAgainForItsClassOnly) {
    const P<CMemoryManager> manager = makeManager();
    P<IMemoryBlock> block = manager->allocate(16384);
    const std::uint8_t* buffer = block->getData();
    block.reset();
    EXPECT_EQ(manager->getCachedBytes(), 16384u);

    const P<IMemoryBlock> smaller = manager->allocate(10000);
    EXPECT_NE(smaller->getData(), buffer);
    EXPECT_EQ(manager->getCachedBytes(), 16384u);

    // 16000, like 10000, lies below 2^14 and so in class 13; 20000 is class 14.
    EXPECT_EQ(CMemoryManager::sizeClassOf(16000), 13);
    const P<IMemoryBlock> again = manager->allocate(20000);
    EXPECT_EQ(again->getData(), buffer);
    EXPECT_EQ(again->getSize(), 20000);
    EXPECT_EQ(manager->getCachedBytes(), 0u);
}

TEST(MemoryManagerCache, SharedBlockReturnsOnlyWithItsLastReference) {
    const P<CMemoryManager> manager = makeManager();
    P<IMemoryBlock> block = manager->allocate(100);
    const auto* cached = dynamic_cast<const CCachedMemoryBlock*>(block.get());
    ASSERT_NE(cached, nullptr);
    P<IMemoryBlock> copy = block;
    EXPECT_EQ(cached->getRefCount(), 2);
    block.reset();
    EXPECT_EQ(manager->getCachedBytes(), 0u);
    copy.reset();
    EXPECT_EQ(manager->getCachedBytes(), 64u);

    const P<IMemoryBlock> revived = manager->allocate(70);
    EXPECT_EQ(revived.get(), static_cast<const IMemoryBlock*>(cached));
    EXPECT_EQ(cached->getRefCount(), 1);
}

TEST(CachedBlockGrowth, GrowingMovesContentsAndCachesTheOldBuffer) {
    const P<CMemoryManager> manager = makeManager();
    const P<IMemoryBlock> block = manager->allocate(6);
    const std::uint8_t pattern[] = {9, 8, 7, 6, 5, 4};
    block->assign(pattern, 6);
    const std::uint8_t* oldBuffer = block->getData();

    block->setSize(100);
    EXPECT_EQ(block->getCapacity(), 128);
    EXPECT_EQ(block->getSize(), 100);
    EXPECT_EQ(std::memcmp(block->getData(), pattern, 6), 0);
    EXPECT_EQ(manager->getCachedBytes(), 4u);

    const P<IMemoryBlock> reused = manager->allocate(7);
    EXPECT_EQ(reused->getData(), oldBuffer);
    EXPECT_EQ(reused->getCapacity(), 8);
}

// Each thread takes blocks of several classes, stamps them with its own
// pattern, checks the stamp survived and hands them back, many times over:
// a block handed to two users at once, or a cache list broken by a race,
// shows as a changed stamp or a sanitizer report.
TEST(MemoryManagerThreads, ConcurrentUsersNeverShareABlock) {
    const P<CMemoryManager> manager = makeManager();
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::vector<int> corruptions(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&manager, &corruptions, t] {
            for (int round = 0; round < kRounds; ++round) {
                std::vector<P<IMemoryBlock>> held;
                for (const int size : {16, 100, 4000, 16384}) {
                    P<IMemoryBlock> block = manager->allocate(size + round % 7);
                    block->fill(static_cast<std::uint8_t>(t + 1));
                    held.push_back(std::move(block));
                }
                std::this_thread::yield();
                for (const P<IMemoryBlock>& block : held) {
                    const std::uint8_t* data = block->getConstData();
                    for (int i = 0; i < block->getSize(); i += 61) {
                        if (data[i] != t + 1) {
                            ++corruptions[static_cast<std::size_t>(t)];
                            break;
                        }
                    }
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(corruptions, std::vector<int>(kThreads, 0));

    // Every block is back: the cache holds at most one block per class per
    // thread, and taking them all out empties the count exactly.
    const std::uint32_t cached = manager->getCachedBytes();
    EXPECT_GT(cached, 0u);
    EXPECT_LE(cached, kThreads * (16u + 64u + 2048u + 16384u));
    std::set<const std::uint8_t*> distinct;
    std::vector<P<IMemoryBlock>> drained;
    for (const int size : {16, 100, 4000, 16384}) {
        for (int i = 0; i < kThreads; ++i) {
            drained.push_back(manager->allocate(size));
            distinct.insert(drained.back()->getConstData());
        }
    }
    EXPECT_EQ(distinct.size(), drained.size());
    EXPECT_EQ(manager->getCachedBytes(), 0u);
}

} // namespace
} // namespace zelm
