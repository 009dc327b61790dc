#include <zelm/Exception.h>
#include <zelm/Serializable.h>

#include <bit>
#include <cstring>
#include <string>

namespace zelm {

namespace {

[[noreturn]] void throwBadCount(const char* method, std::int32_t count, const char* reason) {
    throw CParseError(String("CMemorySerialStream::") + method + ": count '" +
                      String::fromUTF8(std::to_string(count)) + "' " + reason);
}

} // namespace

CMemorySerialStream::CMemorySerialStream(std::vector<std::uint8_t> bytes)
    : m_bytes(std::move(bytes)) {}

void CMemorySerialStream::writeUnsigned(std::uint64_t value, int byteCount) {
    for (int i = 0; i < byteCount; ++i) {
        m_bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void CMemorySerialStream::writeInt32(std::int32_t value) {
    writeUnsigned(static_cast<std::uint32_t>(value), 4);
}

void CMemorySerialStream::writeDouble(double value) {
    writeUnsigned(std::bit_cast<std::uint64_t>(value), 8);
}

void CMemorySerialStream::writeString(const String& value) {
    if (value.isNull()) {
        writeInt32(-1);
        return;
    }
    const std::string utf8 = value.toStdString();
    writeInt32(static_cast<std::int32_t>(utf8.size()));
    writeBytes(reinterpret_cast<const std::uint8_t*>(utf8.data()), static_cast<int>(utf8.size()));
}

void CMemorySerialStream::writeBytes(const std::uint8_t* bytes, int count) {
    if (count < 0) {
        throw CInvalidArgError(String("negative byte count '") +
                                   String::fromUTF8(std::to_string(count)) + "'",
                               "CMemorySerialStream::writeBytes");
    }
    m_bytes.insert(m_bytes.end(), bytes, bytes + count);
}

std::size_t CMemorySerialStream::take(std::size_t count) {
    if (count > getRemaining()) {
        throw CEndOfStreamError(P<IURI>(), String("EndOfStreamError"));
    }
    const std::size_t offset = m_readOffset;
    m_readOffset += count;
    return offset;
}

std::uint64_t CMemorySerialStream::readUnsigned(int byteCount) {
    const std::size_t offset = take(static_cast<std::size_t>(byteCount));
    std::uint64_t value = 0;
    for (int i = 0; i < byteCount; ++i) {
        value |= static_cast<std::uint64_t>(m_bytes[offset + static_cast<std::size_t>(i)])
                 << (8 * i);
    }
    return value;
}

std::int32_t CMemorySerialStream::readInt32() {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(readUnsigned(4)));
}

double CMemorySerialStream::readDouble() {
    return std::bit_cast<double>(readUnsigned(8));
}

String CMemorySerialStream::readString() {
    const std::int32_t length = readInt32();
    if (length == -1) {
        return String(kNullString);
    }
    if (length < 0) {
        throwBadCount("readString", length, "is negative");
    }
    const std::size_t offset = take(static_cast<std::size_t>(length));
    return String::fromUTF8(std::string_view(reinterpret_cast<const char*>(m_bytes.data() + offset),
                                             static_cast<std::size_t>(length)));
}

void CMemorySerialStream::readBytes(std::uint8_t* bytes, int count) {
    if (count < 0) {
        throw CInvalidArgError(String("negative byte count '") +
                                   String::fromUTF8(std::to_string(count)) + "'",
                               "CMemorySerialStream::readBytes");
    }
    const std::size_t offset = take(static_cast<std::size_t>(count));
    if (count > 0) {
        std::memcpy(bytes, m_bytes.data() + offset, static_cast<std::size_t>(count));
    }
}

std::int32_t CMemorySerialStream::readCount(int itemBytes) {
    const std::int32_t count = readInt32();
    if (count < 0) {
        throwBadCount("readCount", count, "is negative");
    }
    if (itemBytes > 0 &&
        static_cast<std::size_t>(count) > getRemaining() / static_cast<std::size_t>(itemBytes)) {
        throwBadCount("readCount", count, "exceeds the data left in the stream");
    }
    return count;
}

} // namespace zelm
