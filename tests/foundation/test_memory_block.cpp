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
