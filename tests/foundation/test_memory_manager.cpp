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

TEST(MemoryManagerSizeClasses, CapacityIsTheNextPowerOfTwoAboveTheClass) {
    EXPECT_EQ(CMemoryManager::sizeClassOf(0), 0);
    EXPECT_EQ(CMemoryManager::sizeClassOf(1), 0);
    EXPECT_EQ(CMemoryManager::sizeClassOf(3), 1);
    EXPECT_EQ(CMemoryManager::sizeClassOf(16384), 14);
    EXPECT_EQ(CMemoryManager::sizeClassOf(32767), 14);

    const P<CMemoryManager> manager = makeManager();
    EXPECT_EQ(manager->allocate(0)->getCapacity(), 2);
    EXPECT_EQ(manager->allocate(1)->getCapacity(), 2);
    EXPECT_EQ(manager->allocate(3)->getCapacity(), 4);
    const P<IMemoryBlock> block = manager->allocate(16384);
    EXPECT_EQ(block->getSize(), 16384);
    EXPECT_EQ(block->getCapacity(), 32768);
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

TEST(MemoryManagerSizeClasses, BucketCountOutsideItsRangeThrows) {
    EXPECT_THROW(CMemoryManager(31), CInvalidArgError);
    EXPECT_THROW(CMemoryManager(-1), CInvalidArgError);
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

TEST(MemoryManagerCache, FlushEmptiesEveryClass) {
    const P<CMemoryManager> manager = makeManager();
    manager->allocate(5);
    manager->allocate(5000);
    manager->allocate(70000);
    EXPECT_EQ(manager->getCachedBytes(), 4u + 4096u + 65536u);
    manager->flush();
    EXPECT_EQ(manager->getCachedBytes(), 0u);
    EXPECT_EQ(manager->allocate(5)->getCapacity(), 8);
}

TEST(MemoryManagerCache, BlockOutlivingItsLastManagerHolderEndsInTheCacheSafely) {
    P<CMemoryManager> manager = makeManager();
    P<IMemoryBlock> block = manager->allocate(300);
    block->fill(7);
    manager.reset();
    EXPECT_EQ(block->getConstData()[299], 7);
    block.reset(); // returns to the cache, then the manager goes with it
}

TEST(MemoryManagerCache, NegativeSizeThrowsInvalidArgument) {
    const P<CMemoryManager> manager = makeManager();
    EXPECT_THROW(manager->allocate(-1), CInvalidArgError);
    EXPECT_EQ(manager->getCachedBytes(), 0u);
}

TEST(CachedBlockGrowth, SmallerSizeKeepsBufferAndBytes) {
    const P<CMemoryManager> manager = makeManager();
    const P<IMemoryBlock> block = manager->allocate(20);
    const std::uint8_t pattern[] = {1, 2, 3, 4, 5};
    block->assign(pattern, 5);
    const std::uint8_t* buffer = block->getData();
    block->setSize(3);
    EXPECT_EQ(block->getData(), buffer);
    EXPECT_EQ(std::memcmp(block->getData(), pattern, 3), 0);
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

TEST(CachedBlockGrowth, AppendBeyondCapacityKeepsEarlierBytes) {
    const P<CMemoryManager> manager = makeManager();
    const P<IMemoryBlock> block = manager->allocate(0);
    std::vector<std::uint8_t> expected;
    for (int i = 0; i < 300; ++i) {
        const auto byte = static_cast<std::uint8_t>(i * 7);
        block->append(&byte, 1);
        expected.push_back(byte);
    }
    ASSERT_EQ(block->getSize(), 300);
    EXPECT_EQ(std::memcmp(block->getData(), expected.data(), expected.size()), 0);
    EXPECT_EQ(block->getCapacity(), 512);
}

TEST(CachedBlockGrowth, BlocksSerialiseLikePlainBlocks) {
    const P<CMemoryManager> manager = makeManager();
    const P<IMemoryBlock> block = manager->allocate(4);
    const std::uint8_t bytes[] = {0xde, 0xad, 0xbe, 0xef};
    block->assign(bytes, 4);
    CMemorySerialStream stream;
    block->serialize(stream);
    const P<IMemoryBlock> copy = manager->allocate(0);
    ASSERT_TRUE(copy->deserialize(stream));
    EXPECT_EQ(copy->compare(*block), 0);
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
