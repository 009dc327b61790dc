// The memory manager: hands out memory blocks by size and keeps released
// ones in size classes to hand them out again.
#pragma once

#include <zelm/Export.h>

#include <zelm/MemoryBlock.h>
#include <zelm/Mutex.h>

#include <atomic>
#include <cstdint>
#include <vector>

namespace zelm {

class ZELM_API IMemoryManager : public virtual IBase {
public:
    // A writable block of exactly size bytes, contents not initialised.
    // A negative size throws CInvalidArgError.
    virtual P<IMemoryBlock> allocate(int size) = 0;
    // Frees every cached block.
    virtual void flush() = 0;
    // Sum of 2^k over the cached blocks, k being each block's size class.
    virtual std::uint32_t getCachedBytes() const = 0;
};

class CCachedMemoryBlock;

// Size class k holds blocks with buffers of 2^(k+1) bytes, for sizes from
// 2^k to 2^(k+1) - 1 (sizes 0 and 1 are class 0). A block whose last
// reference goes returns to the cache of its class; sizes of the classes
// from the bucket count on get plain, uncached CMemoryBlocks. Each class
// has its own mutex, so the manager may be used from several threads.
class ZELM_API CMemoryManager : public CObject, public virtual IMemoryManager {
public:
    static constexpr int kDefaultBucketCount = 30;

    // bucketCount from 0 to 30.
    explicit CMemoryManager(int bucketCount = kDefaultBucketCount);
    ~CMemoryManager() override;
    CMemoryManager(const CMemoryManager&) = delete;
    CMemoryManager& operator=(const CMemoryManager&) = delete;

    P<IMemoryBlock> allocate(int size) override;
    void flush() override;
    std::uint32_t getCachedBytes() const override { return m_cachedBytes.load(); }

    int getBucketCount() const { return static_cast<int>(m_buckets.size()); }
    // The size class of a size: 0 for 0, else the index of its highest set bit.
    static int sizeClassOf(int size);

private:
    friend class CCachedMemoryBlock;

    struct Bucket {
        P<IMutex> mutex;
        CCachedMemoryBlock* head = nullptr;
    };

    // Takes a cached block of class k, or null when the class has none.
    CCachedMemoryBlock* takeCached(int k);
    // Puts a block whose last reference went into the cache of its class.
    void cache(CCachedMemoryBlock* block);

    std::atomic<std::uint32_t> m_cachedBytes{0};
    std::vector<Bucket> m_buckets;
};

} // namespace zelm
