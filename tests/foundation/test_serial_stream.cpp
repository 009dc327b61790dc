#include <zelm/Exception.h>
#include <zelm/Serializable.h>

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace zelm {
namespace {

TEST(MemorySerialStream, ValuesReadBackInOrder) {
    CMemorySerialStream stream;
    stream.writeInt32(-7);
    stream.writeInt32(std::numeric_limits<std::int32_t>::max());
    stream.writeDouble(12.5);
    stream.writeDouble(-0.0);
    stream.writeString(String(L"gr\u00fc\u00df \u20ac"));
    stream.writeString(String("plain"));
    const std::uint8_t bytes[] = {0, 0x80, 0xff};
    stream.writeBytes(bytes, 3);

    EXPECT_EQ(stream.readInt32(), -7);
    EXPECT_EQ(stream.readInt32(), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(stream.readDouble(), 12.5);
    const double negativeZero = stream.readDouble();
    EXPECT_TRUE(negativeZero == 0.0 && std::signbit(negativeZero));
    EXPECT_EQ(stream.readString().toU16String(), u"gr\u00fc\u00df \u20ac");
    EXPECT_EQ(stream.readString().toStdString(), "plain");
    std::uint8_t back[3] = {};
    stream.readBytes(back, 3);
    EXPECT_EQ(back[1], 0x80);
    EXPECT_EQ(back[2], 0xff);
    EXPECT_EQ(stream.getRemaining(), 0u);
}

TEST(MemorySerialStream, EncodingIsLittleEndianAndStringsAreUTF8) {
    CMemorySerialStream stream;
    stream.writeInt32(0x01020304);
    stream.writeString(String(L"\u00e9"));
    EXPECT_EQ(stream.getBytes(), (std::vector<std::uint8_t>{4, 3, 2, 1, 2, 0, 0, 0, 0xc3, 0xa9}));
}

TEST(MemorySerialStream, ReadingPastTheEndThrows) {
    CMemorySerialStream stream(std::vector<std::uint8_t>{1, 2, 3});
    EXPECT_THROW(stream.readInt32(), CEndOfStreamError);
    EXPECT_THROW(stream.readDouble(), CEndOfStreamError);
    std::uint8_t bytes[4];
    EXPECT_THROW(stream.readBytes(bytes, 4), CEndOfStreamError);
    stream.readBytes(bytes, 3);
    EXPECT_THROW(stream.readBytes(bytes, 1), CEndOfStreamError);
}

TEST(MemorySerialStream, CountsAreCheckedAgainstWhatRemains) {
    CMemorySerialStream stream;
    stream.writeInt32(2);
    stream.writeInt32(0);
    stream.writeInt32(0);
    EXPECT_EQ(stream.readCount(4), 2);

    CMemorySerialStream tooMany;
    tooMany.writeInt32(3);
    tooMany.writeInt32(0);
    tooMany.writeInt32(0);
    EXPECT_THROW(tooMany.readCount(4), CParseError);

    CMemorySerialStream negative;
    negative.writeInt32(-1);
    EXPECT_THROW(negative.readCount(1), CParseError);
}

} // namespace
} // namespace zelm
