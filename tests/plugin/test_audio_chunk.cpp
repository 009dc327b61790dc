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

} // namespace
} // namespace tesk::audio
