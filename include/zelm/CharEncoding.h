// Character encodings: each reads and writes the characters of an encoded
// byte buffer. The five encodings are process-wide objects.
#pragma once

#include <zelm/Export.h>

#include <zelm/Object.h>

#include <cstdint>

namespace zelm {

// A Unicode code point, or a value outside Unicode that some encodings hold.
using CharCode = std::int32_t;

// The identifiers, whose bytes in memory spell "UTF8", "UF16", "UF32",
// "CDPG" and "LAT1".
inline constexpr std::uint32_t kUTF8EncodingId = 0x38465455;
inline constexpr std::uint32_t kUTF16EncodingId = 0x36314655;
inline constexpr std::uint32_t kUTF32EncodingId = 0x32334655;
inline constexpr std::uint32_t kCodePageEncodingId = 0x47504443;
inline constexpr std::uint32_t kLatin1EncodingId = 0x3154414c;

// Offsets are byte offsets into a buffer of `size` bytes.
class ZELM_API ICharEncoding : public virtual IBase {
public:
    virtual std::uint32_t getId() const = 0;
    virtual String getName() const = 0;
    // Bytes of one code unit.
    virtual int getUnitSize() const = 0;
    // Writes ch at offset; the offset after it, or offset unchanged when it
    // does not fit or cannot be represented.
    virtual int encode(std::uint8_t* buffer, int size, int offset, CharCode ch) const = 0;
    // Bytes ch needs; 0 when it cannot be represented; for 0 the terminator size.
    virtual int getEncodedSize(CharCode ch) const = 0;
    // Bytes of the character starting at offset, -1 when it does not fit.
    virtual int getCharSizeAt(const std::uint8_t* data, int size, int offset) const = 0;
    // Characters between two addresses of one buffer.
    virtual int count(const std::uint8_t* begin, const std::uint8_t* end) const = 0;
    // Bytes of a terminated buffer, not counting the terminator.
    virtual int getTerminatedLength(const std::uint8_t* data) const = 0;
    // Byte offset of the index-th character, -1 beyond the size.
    virtual int getOffsetOfIndex(const std::uint8_t* data, int size, int index) const = 0;
    // offset when a character starts there within the size, else -1.
    virtual int checkOffset(const std::uint8_t* data, int size, int offset) const = 0;
    // Offset after the character at offset, -1 at the end.
    virtual int nextOffset(const std::uint8_t* data, int size, int offset) const = 0;
    // Reads the character at offset into ch; the offset after it, -1 at the end.
    virtual int decodeNext(const std::uint8_t* data, int size, int offset, CharCode& ch) const = 0;
    // Offset after n characters from offset, -1 when the buffer ends first.
    virtual int skip(const std::uint8_t* data, int size, int offset, int n) const = 0;
    // Offset of the character before offset, -1 at the start.
    virtual int previousOffset(const std::uint8_t* data, int size, int offset) const = 0;
    // Offset n characters before offset, -1 when the buffer starts first.
    virtual int skipBack(const std::uint8_t* data, int size, int offset, int n) const = 0;
    // Reads the character before offset into ch; its offset, -1 at the start.
    virtual int decodePrevious(const std::uint8_t* data, int size, int offset,
                               CharCode& ch) const = 0;
    // Decodes up to n characters from offset into chars, storing the offset
    // after each in offsets; returns how many were decoded.
    virtual int decodeForward(const std::uint8_t* data, int size, int offset, int n,
                              CharCode* chars, int* offsets) const = 0;
    // The same backwards from offset; offsets receive each character's start.
    virtual int decodeBackward(const std::uint8_t* data, int size, int offset, int n,
                               CharCode* chars, int* offsets) const = 0;
};

ZELM_API const P<ICharEncoding>& getUTF8CharEncoding();
ZELM_API const P<ICharEncoding>& getUTF16CharEncoding();
ZELM_API const P<ICharEncoding>& getUTF32CharEncoding();
ZELM_API const P<ICharEncoding>& getCPCharEncoding();
ZELM_API const P<ICharEncoding>& getLatin1CharEncoding();
// The encoding of wchar_t text on this platform: UTF-16 where wchar_t has
// 16 bits, UTF-32 where it has 32.
ZELM_API const P<ICharEncoding>& getWCharEncoding();

} // namespace zelm
