// Audio chunks: a start time and a shared memory block of interleaved PCM in
// the format of the source that made the chunk. C++20. A chunk stays valid
// as long as the host holds it, also after its source is closed; its block
// comes from the host's memory manager.
#pragma once

#include <zelm/MemoryBlock.h>
#include <zelm/Object.h>
#include <zelm/Serializable.h>

#include <cstdint>

namespace tesk::audio {

class IAudioChunk : public virtual zelm::IBase, public virtual zelm::ISerializable {
public:
    // Time of the first sample in seconds from the start of the stream.
    virtual double getTime() const = 0;
    virtual std::uint8_t* getData() const = 0;
    // Bytes of PCM.
    virtual int getSize() const = 0;
    virtual zelm::P<zelm::IMemoryBlock> getMemoryBlock() const = 0;
};

// A chunk over a block shared with its creator. A chunk serialises as its
// time (a double) followed by its block.
class CAudioChunk : public zelm::CObject, public virtual IAudioChunk {
public:
    // Takes one reference to block; a chunk without a block is empty.
    CAudioChunk(double time, zelm::IMemoryBlock* block)
        : m_time(time), m_block(zelm::P<zelm::IMemoryBlock>::share(block)) {}

    double getTime() const override { return m_time; }
    std::uint8_t* getData() const override { return m_block ? m_block->getData() : nullptr; }
    int getSize() const override { return m_block ? m_block->getSize() : 0; }
    zelm::P<zelm::IMemoryBlock> getMemoryBlock() const override { return m_block; }

    void serialize(zelm::ISerialStream& stream) const override {
        stream.writeDouble(m_time);
        if (m_block) {
            m_block->serialize(stream);
        } else {
            stream.writeInt32(0);
        }
    }

    // Reads the time and the block's bytes; a chunk without a block gets a
    // new one.
    bool deserialize(zelm::ISerialStream& stream) override {
        m_time = stream.readDouble();
        if (!m_block) {
            m_block = zelm::P<zelm::IMemoryBlock>(new zelm::CMemoryBlock());
        }
        return m_block->deserialize(stream);
    }

private:
    double m_time;
    zelm::P<zelm::IMemoryBlock> m_block;
};

} // namespace tesk::audio
