#include "CachedMemoryBlock.h"

#include <zelm/Exception.h>

#include <bit>
#include <cstring>
#include <string>
#include <typeinfo>

namespace zelm {

namespace {

std::uint32_t cachedBytesOf(int k) {
    return std::uint32_t{1} << k;
}

} // namespace

CCachedMemoryBlock::CCachedMemoryBlock(P<CMemoryManager> manager, int size, int k)
    : m_sizeClass(k), m_manager(std::move(manager)) {
    m_capacity = 2 << k;
    m_buffer = new std::uint8_t[static_cast<std::size_t>(m_capacity)];
    m_size = size;
}

CCachedMemoryBlock::~CCachedMemoryBlock() {
    delete[] m_buffer;
}

void CCachedMemoryBlock::release() const {
    if (dropReference() != 0) {
        return;
    }
    auto* self = const_cast<CCachedMemoryBlock*>(this);
    if (!self->m_manager) {
        resetRefCount(kDestroyingCount);
        destroy();
        return;
    }
    // The manager stays alive until the block lies in its cache, even when
    // this block held its last reference.
    const P<CMemoryManager> manager = std::move(self->m_manager);
    manager->cache(self);
}

void CCachedMemoryBlock::revive(P<CMemoryManager> manager, int size) {
    resetRefCount(1);
    m_manager = std::move(manager);
    m_size = size;
}

void CCachedMemoryBlock::adoptBuffer(std::uint8_t* buffer, int capacity, int k) {
    m_buffer = buffer;
    m_capacity = capacity;
    m_sizeClass = k;
}

void CCachedMemoryBlock::reallocate(int capacity) {
    requireNonNegative(capacity, "capacity", "CCachedMemoryBlock::reallocate");
    if (capacity <= m_capacity) {
        return;
    }
    if (!m_manager) {
        throw CInvalidObjectStateError("a cached block has no manager to grow from", P<IBase>(),
                                       &typeid(CCachedMemoryBlock));
    }
    const P<IMemoryBlock> larger = m_manager->allocate(capacity);
    auto* other = dynamic_cast<CCachedMemoryBlock*>(larger.get());
    if (other == nullptr) {
        const IMemoryBlock& given = *larger;
        throw CCastError(typeid(given), typeid(CCachedMemoryBlock));
    }
    std::uint8_t* newBuffer = other->m_buffer;
    const int newCapacity = other->m_capacity;
    const int newClass = other->m_sizeClass;
    if (m_size > 0) {
        std::memcpy(newBuffer, m_buffer, static_cast<std::size_t>(m_size));
    }
    other->adoptBuffer(m_buffer, m_capacity, m_sizeClass);
    other->m_size = m_size;
    adoptBuffer(newBuffer, newCapacity, newClass);
}

void CCachedMemoryBlock::assign(const std::uint8_t* bytes, int count) {
    requireNonNegative(count, "count", "CCachedMemoryBlock::assign");
    ensureCapacity(count);
    if (count > 0) {
        std::memmove(m_buffer, bytes, static_cast<std::size_t>(count));
    }
    m_size = count;
}

CMemoryManager::CMemoryManager(int bucketCount) {
    if (bucketCount < 0 || bucketCount > kDefaultBucketCount) {
        throw CInvalidArgError(String("bucket count '") +
                                   String::fromUTF8(std::to_string(bucketCount)) +
                                   "' outside 0 to 30",
                               "CMemoryManager::CMemoryManager");
    }
    m_buckets.resize(static_cast<std::size_t>(bucketCount));
    for (Bucket& bucket : m_buckets) {
        bucket.mutex = getMutexFactory()->createMutex();
    }
}

CMemoryManager::~CMemoryManager() {
    flush();
}

int CMemoryManager::sizeClassOf(int size) {
    return size <= 1 ? 0 : std::bit_width(static_cast<unsigned>(size)) - 1;
}

P<IMemoryBlock> CMemoryManager::allocate(int size) {
    if (size < 0) {
        throw CInvalidArgError(String("negative size '") + String::fromUTF8(std::to_string(size)) +
                                   "'",
                               "CMemoryManager::allocate");
    }
    const int k = sizeClassOf(size);
    if (k >= getBucketCount()) {
        return P<IMemoryBlock>(new CMemoryBlock(size));
    }
    if (CCachedMemoryBlock* cached = takeCached(k)) {
        cached->revive(P<CMemoryManager>::share(this), size);
        return P<IMemoryBlock>(cached);
    }
    return P<IMemoryBlock>(new CCachedMemoryBlock(P<CMemoryManager>::share(this), size, k));
}

CCachedMemoryBlock* CMemoryManager::takeCached(int k) {
    Bucket& bucket = m_buckets[static_cast<std::size_t>(k)];
    CMutexLock lock(*bucket.mutex);
    CCachedMemoryBlock* block = bucket.head;
    if (block != nullptr) {
        bucket.head = block->m_next;
        block->m_next = nullptr;
        m_cachedBytes -= cachedBytesOf(k);
    }
    return block;
}

void CMemoryManager::cache(CCachedMemoryBlock* block) {
    const int k = block->m_sizeClass;
    Bucket& bucket = m_buckets[static_cast<std::size_t>(k)];
    CMutexLock lock(*bucket.mutex);
    block->m_next = bucket.head;
    bucket.head = block;
    m_cachedBytes += cachedBytesOf(k);
}

void CMemoryManager::flush() {
    for (std::size_t k = 0; k < m_buckets.size(); ++k) {
        Bucket& bucket = m_buckets[k];
        CMutexLock lock(*bucket.mutex);
        while (CCachedMemoryBlock* block = bucket.head) {
            bucket.head = block->m_next;
            m_cachedBytes -= cachedBytesOf(static_cast<int>(k));
            delete block;
        }
    }
}

} // namespace zelm
