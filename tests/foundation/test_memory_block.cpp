#include <zelm/Exception.h>
#include <zelm/MemoryBlock.h>

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

namespace zelm {
namespace {

P<CMemoryBlock> blockOf(std::vector<std::uint8_t> bytes) {
    return P<CMemoryBlock>(new CMemoryBlock(static_cast<int>(bytes.size()), bytes.data()));
}

std::vector<std::uint8_t> bytesOf(const IMemoryBlock& block) {
    return {block.getConstData(), block.getConstData() + block.getSize()};
}

// Keeps a borrowed buffer alive and says when it goes.
class CKeeper : public CObject {
public:
    explicit CKeeper(bool& released) : m_released(released) {}
    ~CKeeper() override { m_released = true; }

private:
    bool& m_released;
};

TEST(MemoryBlockSize, ConstructionCopiesSourceAndCapacityFollowsSize) {
    const P<CMemoryBlock> block = blockOf({1, 2, 3});
    EXPECT_EQ(block->getSize(), 3);
    EXPECT_EQ(block->getCapacity(), 3);
    EXPECT_EQ(bytesOf(*block), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(block->getData(), block->getConstData());
    const P<CMemoryBlock> empty(new CMemoryBlock());
    EXPECT_EQ(empty->getSize(), 0);
    EXPECT_EQ(empty->getConstData(), nullptr);
}

TEST(MemoryBlockSize, ShrinkingKeepsBufferAndGrowingKeepsBytes) {
    const P<CMemoryBlock> block = blockOf({5, 6, 7, 8});
    const std::uint8_t* buffer = block->getData();
    block->setSize(2);
    EXPECT_EQ(block->getData(), buffer);
    EXPECT_EQ(block->getCapacity(), 4);
    block->setSize(10);
    EXPECT_EQ(block->getCapacity(), 10);
    EXPECT_EQ(block->getData()[0], 5);
    EXPECT_EQ(block->getData()[1], 6);
}

TEST(MemoryBlockSize, ReallocateBelowSizeTruncates) {
    const P<CMemoryBlock> block = blockOf({1, 2, 3, 4, 5});
    block->reallocate(2);
    EXPECT_EQ(bytesOf(*block), (std::vector<std::uint8_t>{1, 2}));
    block->reallocate(0);
    EXPECT_EQ(block->getSize(), 0);
    EXPECT_EQ(block->getCapacity(), 0);
}

TEST(MemoryBlockSize, NegativeSizesAndCountsThrow) {
    const P<CMemoryBlock> block = blockOf({1, 2, 3});
    EXPECT_THROW(block->setSize(-1), CInvalidArgError);
    EXPECT_THROW(block->reallocate(-4), CInvalidArgError);
    EXPECT_THROW(block->append(block->getData(), -1), CInvalidArgError);
    EXPECT_THROW(block->assign(block->getData(), -2), CInvalidArgError);
    EXPECT_THROW(CMemoryBlock(-5), CInvalidArgError);
    EXPECT_EQ(bytesOf(*block), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(MemoryBlockContents, FillAssignAndAppendingEvenItself) {
    const P<CMemoryBlock> block = blockOf({0, 0, 0});
    block->fill(0xab);
    EXPECT_EQ(bytesOf(*block), (std::vector<std::uint8_t>{0xab, 0xab, 0xab}));
    const std::uint8_t bytes[] = {1, 2};
    block->assign(bytes, 2);
    EXPECT_EQ(bytesOf(*block), (std::vector<std::uint8_t>{1, 2}));
    block->append(*blockOf({3, 4}));
    EXPECT_EQ(bytesOf(*block), (std::vector<std::uint8_t>{1, 2, 3, 4}));
    block->append(*block);
    EXPECT_EQ(bytesOf(*block), (std::vector<std::uint8_t>{1, 2, 3, 4, 1, 2, 3, 4}));
}

TEST(MemoryBlockContents, RemoveMovesTheTailDownAndRefusesPlacesOutsideTheBlock) {
    const P<CMemoryBlock> block = blockOf({1, 2, 3, 4, 5});
    block->remove(1, 2);
    EXPECT_EQ(bytesOf(*block), (std::vector<std::uint8_t>{1, 4, 5}));
    EXPECT_THROW(block->remove(2, 2), CInvalidArgError);
    EXPECT_THROW(block->remove(-1, 1), CInvalidArgError);
    EXPECT_THROW(block->remove(0, -1), CInvalidArgError);
    EXPECT_EQ(bytesOf(*block), (std::vector<std::uint8_t>{1, 4, 5}));
    block->remove(0, block->getSize());
    EXPECT_EQ(block->getSize(), 0);
}

TEST(MemoryBlockComparison, SizeDifferenceFirstThenUnsignedBytesAndPrefixes) {
    EXPECT_EQ(blockOf({1, 2, 3})->compare(*blockOf({1, 2, 3, 4, 5})), -2);
    EXPECT_EQ(blockOf({1, 2, 3})->compare(*blockOf({1, 2, 3})), 0);
    EXPECT_EQ(blockOf({1, 0x80})->compare(*blockOf({1, 0x7f})), 1);
    EXPECT_EQ(blockOf({0, 9})->compare(*blockOf({1, 0})), -1);
    EXPECT_EQ(blockOf({})->compare(*blockOf({})), 0);
    const P<CMemoryBlock> block = blockOf({1, 2, 3});
    EXPECT_TRUE(block->startsWith(*blockOf({1, 2})));
    EXPECT_TRUE(block->startsWith(*blockOf({})));
    EXPECT_TRUE(block->startsWith(*block));
    EXPECT_FALSE(block->startsWith(*blockOf({1, 3})));
    EXPECT_FALSE(block->startsWith(*blockOf({1, 2, 3, 4})));
}

TEST(MemoryBlockBorrowing, BorrowedBufferIsCopiedWhenMadeWritable) {
    std::uint8_t borrowed[] = {4, 5, 6};
    bool keeperReleased = false;
    const P<CMemoryBlock> block(
        new CMemoryBlock(borrowed, 3, P<IBase>(new CKeeper(keeperReleased))));
    EXPECT_FALSE(block->ownsBuffer());
    EXPECT_EQ(block->getData(), borrowed);

    block->fill(1);
    EXPECT_TRUE(block->ownsBuffer());
    EXPECT_TRUE(keeperReleased);
    EXPECT_NE(block->getData(), borrowed);
    EXPECT_EQ(borrowed[0], 4);
    EXPECT_EQ(bytesOf(*block), (std::vector<std::uint8_t>{1, 1, 1}));
}

TEST(MemoryBlockSerialisation, RoundTripRestoresTheBytes) {
    const P<CMemoryBlock> original = blockOf({0, 1, 254, 255});
    CMemorySerialStream stream;
    original->serialize(stream);
    EXPECT_EQ(stream.getBytes().size(), 4u + 4u);

    const P<CMemoryBlock> copy = blockOf({9, 9, 9, 9, 9, 9, 9});
    ASSERT_TRUE(copy->deserialize(stream));
    EXPECT_EQ(copy->compare(*original), 0);
    EXPECT_EQ(stream.getRemaining(), 0u);
}

TEST(MemoryBlockSerialisation, HostileSizeThrowsBeforeAllocating) {
    for (const std::int32_t size : {-1, 1000000000}) {
        CMemorySerialStream stream;
        stream.writeInt32(size);
        stream.writeInt32(0);
        const P<CMemoryBlock> block = blockOf({1});
        EXPECT_THROW(block->deserialize(stream), CParseError) << size;
        EXPECT_EQ(bytesOf(*block), (std::vector<std::uint8_t>{1})) << size;
    }
}

} // namespace
} // namespace zelm
