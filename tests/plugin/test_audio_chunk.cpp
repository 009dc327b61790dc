#include <tesk/AudioChunk.h>
#include <zelm/Exception.h>
#include <zelm/MemoryManager.h>

#include <cstring>

#include <gtest/gtest.h>

namespace tesk::audio {
namespace {

using zelm::P;

P<zelm::IMemoryBlock> blockOfBytes(int size, std::uint8_t first) {
    P<zelm::IMemoryBlock> block(new zelm::CMemoryBlock(size));
    for (int i = 0; i < size; ++i) {
        block->getData()[i] = static_cast<std::uint8_t>(first + i);
    }
    return block;
}

TEST(AudioChunkObject, SharesTheBlockWithItsCreator) {
    const P<zelm::CMemoryManager> manager(new zelm::CMemoryManager());
    P<zelm::IMemoryBlock> block = manager->allocate(100);
    block->fill(3);
    P<IAudioChunk> chunk(new CAudioChunk(0.0, block.get()));

    chunk.reset();
    EXPECT_EQ(manager->getCachedBytes(), 0u);
    EXPECT_EQ(block->getConstData()[99], 3);

    chunk = P<IAudioChunk>(new CAudioChunk(0.0, block.get()));
    block.reset();
    EXPECT_EQ(manager->getCachedBytes(), 0u);
    chunk.reset();
    EXPECT_EQ(manager->getCachedBytes(), 64u);
}

TEST(AudioChunkSerialisation, RestoresTimeAndBytes) {
    const P<IAudioChunk> original(new CAudioChunk(12.25, blockOfBytes(6, 10).get()));
    zelm::CMemorySerialStream stream;
    original->serialize(stream);
    EXPECT_EQ(stream.getBytes().size(), 8u + 4u + 6u);

    const P<IAudioChunk> copy(new CAudioChunk(0.0, blockOfBytes(2, 0).get()));
    ASSERT_TRUE(copy->deserialize(stream));
    EXPECT_EQ(copy->getTime(), 12.25);
    ASSERT_EQ(copy->getSize(), 6);
    EXPECT_EQ(std::memcmp(copy->getData(), original->getData(), 6), 0);
}

TEST(AudioChunkSerialisation, ChunkWithoutBlockRoundTripsToAnEmptyOne) {
    const P<IAudioChunk> empty(new CAudioChunk(4.0, nullptr));
    EXPECT_EQ(empty->getData(), nullptr);
    EXPECT_FALSE(empty->getMemoryBlock());
    zelm::CMemorySerialStream stream;
    empty->serialize(stream);
    const P<IAudioChunk> copy(new CAudioChunk(0.0, nullptr));
    ASSERT_TRUE(copy->deserialize(stream));
    EXPECT_EQ(copy->getTime(), 4.0);
    EXPECT_EQ(copy->getSize(), 0);
}

TEST(AudioChunkSerialisation, TruncatedStreamThrows) {
    const P<IAudioChunk> original(new CAudioChunk(1.0, blockOfBytes(8, 0).get()));
    zelm::CMemorySerialStream full;
    original->serialize(full);
    std::vector<std::uint8_t> bytes = full.getBytes();
    bytes.resize(bytes.size() - 1);
    zelm::CMemorySerialStream truncated(bytes);
    const P<IAudioChunk> copy(new CAudioChunk(0.0, nullptr));
    EXPECT_THROW(copy->deserialize(truncated), zelm::CException);
}

} // namespace
} // namespace tesk::audio
