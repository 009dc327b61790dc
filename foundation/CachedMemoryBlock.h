// The block class of CMemoryManager: its buffer is 2^(k+1) bytes for its
// size class k, and when its last reference goes it returns to its
// manager's cache instead of being destroyed.
#pragma once

#include <zelm/MemoryManager.h>

namespace zelm {

class CCachedMemoryBlock : public CMemoryBlockBase {
public:
    // A block of size bytes in class k, with a new buffer of 2 << k bytes.
    CCachedMemoryBlock(P<CMemoryManager> manager, int size, int k);
    ~CCachedMemoryBlock() override;

    // The last release hands a block that has a manager back to its cache;
    // the manager revives it with a count of 1 when it hands it out again.
    void release() const override;

    // Grows only: moves the contents into the buffer of a block of a higher
    // class taken from the manager, which takes this block's old buffer
    // back to its cache.
    void reallocate(int capacity) override;
    void assign(const std::uint8_t* bytes, int count) override;
    void makeWritable() override {}

    // Stores a buffer, its capacity and its class without freeing anything.
    virtual void adoptBuffer(std::uint8_t* buffer, int capacity, int k);

    int getSizeClass() const { return m_sizeClass; }
    bool isCached() const { return !m_manager; }

private:
    friend class CMemoryManager;

    // Hands a block taken from the cache out again with one reference.
    void revive(P<CMemoryManager> manager, int size);

    std::int32_t m_sizeClass;
    P<CMemoryManager> m_manager;
    CCachedMemoryBlock* m_next = nullptr;
};

} // namespace zelm
