// Serialisation: the stream that objects write themselves to and read
// themselves back from, and the interface of objects that can do so.
#pragma once

#include <zelm/Export.h>

#include <zelm/Object.h>
#include <zelm/String.h>

#include <cstdint>
#include <vector>

namespace zelm {

// A sequence of typed values: 32-bit integers, doubles, strings and byte
// runs. Values are read back in the order they were written; reading past
// the end throws CEndOfStreamError.
class ZELM_API ISerialStream : public virtual IBase {
public:
    virtual void writeInt32(std::int32_t value) = 0;
    virtual void writeDouble(double value) = 0;
    // A null string reads back as a null string.
    virtual void writeString(const String& value) = 0;
    virtual void writeBytes(const std::uint8_t* bytes, int count) = 0;

    virtual std::int32_t readInt32() = 0;
    virtual double readDouble() = 0;
    virtual String readString() = 0;
    virtual void readBytes(std::uint8_t* bytes, int count) = 0;
    // A 32-bit count of items that follow, each taking at least itemBytes
    // bytes of the stream. Throws CParseError when the count is negative or
    // more such items than the stream still holds.
    virtual std::int32_t readCount(int itemBytes) = 0;
};

class ZELM_API ISerializable : public virtual IBase {
public:
    virtual void serialize(ISerialStream& stream) const = 0;
    virtual bool deserialize(ISerialStream& stream) = 0;
};

// A serialisation stream in memory. Integers and doubles are stored as
// their 4 and 8 bytes in little-endian order, strings as a 32-bit byte
// count (-1 for a null string) and their UTF-8 bytes, byte runs as they are.
class ZELM_API CMemorySerialStream : public CObject, public virtual ISerialStream {
public:
    CMemorySerialStream() = default;
    // A stream to read the given bytes from.
    explicit CMemorySerialStream(std::vector<std::uint8_t> bytes);

    void writeInt32(std::int32_t value) override;
    void writeDouble(double value) override;
    void writeString(const String& value) override;
    void writeBytes(const std::uint8_t* bytes, int count) override;

    std::int32_t readInt32() override;
    double readDouble() override;
    String readString() override;
    void readBytes(std::uint8_t* bytes, int count) override;
    std::int32_t readCount(int itemBytes) override;

    const std::vector<std::uint8_t>& getBytes() const { return m_bytes; }
    // Bytes not yet read.
    std::size_t getRemaining() const { return m_bytes.size() - m_readOffset; }

private:
    void writeUnsigned(std::uint64_t value, int byteCount);
    std::uint64_t readUnsigned(int byteCount);
    // The offset of count bytes to read, advancing past them; throws when
    // fewer remain.
    std::size_t take(std::size_t count);

    std::vector<std::uint8_t> m_bytes;
    std::size_t m_readOffset = 0;
};

} // namespace zelm
