#include <zelm/Exception.h>
#include <zelm/MemoryBlock.h>

#include <cstring>
#include <limits>
#include <string>

namespace zelm {

namespace {

[[noreturn]] void throwInvalidArg(const std::string& argument, const char* method) {
    throw CInvalidArgError(String::fromUTF8(argument), String::fromUTF8(method));
}

} // namespace

void CMemoryBlockBase::requireNonNegative(int value, const char* what, const char* method) {
    if (value < 0) {
        throwInvalidArg(std::string("negative ") + what + " '" + std::to_string(value) + "'",
                        method);
    }
}

void CMemoryBlockBase::ensureCapacity(int bytes) {
    if (m_capacity < bytes) {
        reallocate(bytes);
    }
}

void CMemoryBlockBase::setSize(int bytes) {
    requireNonNegative(bytes, "size", "CMemoryBlockBase::setSize");
    ensureCapacity(bytes);
    m_size = bytes;
}

void CMemoryBlockBase::fill(std::uint8_t value) {
    makeWritable();
    if (m_size > 0) {
        std::memset(m_buffer, value, static_cast<std::size_t>(m_size));
    }
}

int CMemoryBlockBase::compare(const IMemoryBlock& other) const {
    if (m_size != other.getSize()) {
        return m_size - other.getSize();
    }
    if (m_size == 0) {
        return 0;
    }
    const int result =
        std::memcmp(m_buffer, other.getConstData(), static_cast<std::size_t>(m_size));
    return (result > 0) - (result < 0);
}

bool CMemoryBlockBase::startsWith(const IMemoryBlock& other) const {
    const int length = other.getSize();
    if (m_size < length) {
        return false;
    }
    return length == 0 ||
           std::memcmp(m_buffer, other.getConstData(), static_cast<std::size_t>(length)) == 0;
}

void CMemoryBlockBase::remove(int offset, int count) {
    requireNonNegative(offset, "offset", "CMemoryBlockBase::remove");
    requireNonNegative(count, "count", "CMemoryBlockBase::remove");
    if (count > m_size - offset) {
        throwInvalidArg("range of " + std::to_string(count) + " bytes at '" +
                            std::to_string(offset) + "' beyond the size " + std::to_string(m_size),
                        "CMemoryBlockBase::remove");
    }
    makeWritable();
    const int tail = m_size - offset - count;
    if (tail > 0) {
        std::memmove(m_buffer + offset, m_buffer + offset + count, static_cast<std::size_t>(tail));
    }
    setSize(m_size - count);
}

void CMemoryBlockBase::append(const IMemoryBlock& other) {
    append(other.getConstData(), other.getSize());
}

void CMemoryBlockBase::append(const std::uint8_t* bytes, int count) {
    requireNonNegative(count, "count", "CMemoryBlockBase::append");
    if (count > std::numeric_limits<int>::max() - m_size) {
        throwInvalidArg("count '" + std::to_string(count) + "' overflows the size",
                        "CMemoryBlockBase::append");
    }
    if (count == 0) {
        return;
    }
    // Bytes of this very block move with it when setSize reallocates.
    const bool ownBytes = bytes >= m_buffer && bytes < m_buffer + m_capacity;
    const std::ptrdiff_t ownOffset = ownBytes ? bytes - m_buffer : 0;
    const int oldSize = m_size;
    setSize(oldSize + count);
    const std::uint8_t* source = ownBytes ? m_buffer + ownOffset : bytes;
    std::memmove(m_buffer + oldSize, source, static_cast<std::size_t>(count));
}

void CMemoryBlockBase::serialize(ISerialStream& stream) const {
    stream.writeInt32(m_size);
    stream.writeBytes(m_buffer, m_size);
}

bool CMemoryBlockBase::deserialize(ISerialStream& stream) {
    const std::int32_t size = stream.readCount(1);
    setSize(size);
    stream.readBytes(m_buffer, size);
    return true;
}

CMemoryBlock::CMemoryBlock(int size, const std::uint8_t* source) {
    setSize(size);
    if (source != nullptr && size > 0) {
        std::memcpy(m_buffer, source, static_cast<std::size_t>(size));
    }
}

CMemoryBlock::CMemoryBlock(std::uint8_t* buffer, int size, P<IBase> keeper)
    : m_keeper(std::move(keeper)), m_owns(false) {
    requireNonNegative(size, "size", "CMemoryBlock::CMemoryBlock");
    m_buffer = buffer;
    m_capacity = size;
    m_size = size;
}

CMemoryBlock::~CMemoryBlock() {
    if (m_owns) {
        delete[] m_buffer;
    }
}

void CMemoryBlock::reallocate(int capacity) {
    requireNonNegative(capacity, "capacity", "CMemoryBlock::reallocate");
    std::uint8_t* buffer =
        capacity > 0 ? new std::uint8_t[static_cast<std::size_t>(capacity)] : nullptr;
    if (capacity < m_size) {
        m_size = capacity;
    }
    if (m_size > 0) {
        std::memcpy(buffer, m_buffer, static_cast<std::size_t>(m_size));
    }
    if (m_owns) {
        delete[] m_buffer;
    }
    m_buffer = buffer;
    m_capacity = capacity;
    m_owns = true;
    m_keeper.reset();
}

void CMemoryBlock::assign(const std::uint8_t* bytes, int count) {
    setSize(count);
    if (count > 0) {
        std::memmove(m_buffer, bytes, static_cast<std::size_t>(count));
    }
}

void CMemoryBlock::makeWritable() {
    if (!m_owns) {
        reallocate(m_capacity);
    }
}

} // namespace zelm
