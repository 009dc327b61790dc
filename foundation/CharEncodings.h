// The five character encodings.
#pragma once

#include <zelm/CharEncoding.h>

namespace zelm {

// Operations common to all encodings, built on the few that each defines.
class CCharEncodingBase : public CObject, public virtual ICharEncoding {
public:
    int count(const std::uint8_t* begin, const std::uint8_t* end) const override;
    int getTerminatedLength(const std::uint8_t* data) const override;
    int getOffsetOfIndex(const std::uint8_t* data, int size, int index) const override;
    int checkOffset(const std::uint8_t* data, int size, int offset) const override;
    int nextOffset(const std::uint8_t* data, int size, int offset) const override;
    int skip(const std::uint8_t* data, int size, int offset, int n) const override;
    int skipBack(const std::uint8_t* data, int size, int offset, int n) const override;
    int decodeForward(const std::uint8_t* data, int size, int offset, int n, CharCode* chars,
                      int* offsets) const override;
    int decodeBackward(const std::uint8_t* data, int size, int offset, int n, CharCode* chars,
                       int* offsets) const override;
};

// Encodings whose characters all have one size.
class CFixedWidthEncoding : public CCharEncodingBase {
public:
    explicit CFixedWidthEncoding(int width) : m_width(width) {}

    int getUnitSize() const override { return m_width; }
    int encode(std::uint8_t* buffer, int size, int offset, CharCode ch) const override;
    int getCharSizeAt(const std::uint8_t* data, int size, int offset) const override;
    int count(const std::uint8_t* begin, const std::uint8_t* end) const override;
    int skip(const std::uint8_t* data, int size, int offset, int n) const override;
    int decodeNext(const std::uint8_t* data, int size, int offset, CharCode& ch) const override;
    int previousOffset(const std::uint8_t* data, int size, int offset) const override;
    int decodePrevious(const std::uint8_t* data, int size, int offset, CharCode& ch) const override;

protected:
    virtual CharCode read(const std::uint8_t* at) const = 0;
    virtual void write(std::uint8_t* at, CharCode ch) const = 0;

private:
    int m_width;
};

class CUTF8CharEncoding final : public CCharEncodingBase {
public:
    std::uint32_t getId() const override { return kUTF8EncodingId; }
    String getName() const override;
    int getUnitSize() const override { return 1; }
    int encode(std::uint8_t* buffer, int size, int offset, CharCode ch) const override;
    int getEncodedSize(CharCode ch) const override;
    int getCharSizeAt(const std::uint8_t* data, int size, int offset) const override;
    int checkOffset(const std::uint8_t* data, int size, int offset) const override;
    int decodeNext(const std::uint8_t* data, int size, int offset, CharCode& ch) const override;
    int previousOffset(const std::uint8_t* data, int size, int offset) const override;
    int decodePrevious(const std::uint8_t* data, int size, int offset, CharCode& ch) const override;
};

// Little-endian 16-bit units.
class CUTF16CharEncoding final : public CCharEncodingBase {
public:
    std::uint32_t getId() const override { return kUTF16EncodingId; }
    String getName() const override;
    int getUnitSize() const override { return 2; }
    int encode(std::uint8_t* buffer, int size, int offset, CharCode ch) const override;
    int getEncodedSize(CharCode ch) const override;
    int getCharSizeAt(const std::uint8_t* data, int size, int offset) const override;
    int checkOffset(const std::uint8_t* data, int size, int offset) const override;
    int decodeNext(const std::uint8_t* data, int size, int offset, CharCode& ch) const override;
    int previousOffset(const std::uint8_t* data, int size, int offset) const override;
    int decodePrevious(const std::uint8_t* data, int size, int offset, CharCode& ch) const override;
};

// Native-order 32-bit values.
class CUTF32CharEncoding final : public CFixedWidthEncoding {
public:
    CUTF32CharEncoding() : CFixedWidthEncoding(4) {}
    std::uint32_t getId() const override { return kUTF32EncodingId; }
    String getName() const override;
    int getEncodedSize(CharCode ch) const override;

protected:
    CharCode read(const std::uint8_t* at) const override;
    void write(std::uint8_t* at, CharCode ch) const override;
};

// One byte per character of the system ANSI code page.
class CCPCharEncoding final : public CFixedWidthEncoding {
public:
    CCPCharEncoding() : CFixedWidthEncoding(1) {}
    std::uint32_t getId() const override { return kCodePageEncodingId; }
    String getName() const override;
    int getEncodedSize(CharCode ch) const override;

protected:
    CharCode read(const std::uint8_t* at) const override;
    void write(std::uint8_t* at, CharCode ch) const override;
};

// One byte per character; characters from 256 on are written as "?".
class CLatin1CharEncoding final : public CFixedWidthEncoding {
public:
    CLatin1CharEncoding() : CFixedWidthEncoding(1) {}
    std::uint32_t getId() const override { return kLatin1EncodingId; }
    String getName() const override;
    int getEncodedSize(CharCode ch) const override;

protected:
    CharCode read(const std::uint8_t* at) const override;
    void write(std::uint8_t* at, CharCode ch) const override;
};

} // namespace zelm
