#include "CharEncodings.h"

#include <zelm/GlobalObjFactory.h>
#include <zelm/String.h>

#include "platform/CodePage.h"
#include "platform/TextConversion.h"

#include <cstring>

namespace zelm {
namespace {

constexpr CharCode kReplacement = platform::kReplacementCharacter;

bool isSurrogate(CharCode ch) {
    return ch >= 0 && platform::isSurrogate(static_cast<char32_t>(ch));
}
bool isHighSurrogate(CharCode ch) {
    return ch >= 0 && platform::isHighSurrogate(static_cast<char32_t>(ch));
}
bool isLowSurrogate(CharCode ch) {
    return ch >= 0 && platform::isLowSurrogate(static_cast<char32_t>(ch));
}
bool isContinuation(std::uint8_t byte) {
    return (byte & 0xC0) == 0x80;
}

// Length and value of the UTF-8 sequence at offset; a byte that does not
// start a well-formed sequence is one character U+FFFD.
int decodeUtf8(const std::uint8_t* data, int size, int offset, CharCode& ch) {
    const std::uint8_t lead = data[offset];
    int length = 1;
    CharCode value = lead;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead < 0x80) {
        ch = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        ch = kReplacement;
        return 1;
    }
    if (offset + length > size || data[offset + 1] < low || data[offset + 1] > high) {
        ch = kReplacement;
        return 1;
    }
    for (int i = 1; i < length; ++i) {
        if (!isContinuation(data[offset + i])) {
            ch = kReplacement;
            return 1;
        }
        value = (value << 6) | (data[offset + i] & 0x3F);
    }
    ch = value;
    return length;
}

int readUnit16(const std::uint8_t* at) {
    return at[0] | (at[1] << 8);
}

void writeUnit16(std::uint8_t* at, int unit) {
    at[0] = static_cast<std::uint8_t>(unit & 0xFF);
    at[1] = static_cast<std::uint8_t>(unit >> 8);
}

template <class Encoding> const P<ICharEncoding>& globalEncoding() {
    static const char marker = 0;
    return getGlobalObject<ICharEncoding>(&marker, [] { return makeP<Encoding>(); });
}

} // namespace

int CCharEncodingBase::count(const std::uint8_t* begin, const std::uint8_t* end) const {
    const int size = static_cast<int>(end - begin);
    int characters = 0;
    for (int offset = 0; (offset = nextOffset(begin, size, offset)) >= 0;) {
        ++characters;
    }
    return characters;
}

int CCharEncodingBase::getTerminatedLength(const std::uint8_t* data) const {
    const int unit = getUnitSize();
    static const std::uint8_t zero[4] = {0, 0, 0, 0};
    int length = 0;
    while (std::memcmp(data + length, zero, static_cast<std::size_t>(unit)) != 0) {
        length += unit;
    }
    return length;
}

int CCharEncodingBase::getOffsetOfIndex(const std::uint8_t* data, int size, int index) const {
    return index < 0 ? -1 : skip(data, size, 0, index);
}

int CCharEncodingBase::checkOffset(const std::uint8_t* data, int size, int offset) const {
    return offset >= 0 && offset < size && getCharSizeAt(data, size, offset) > 0 ? offset : -1;
}

int CCharEncodingBase::nextOffset(const std::uint8_t* data, int size, int offset) const {
    const int charSize = offset < 0 ? -1 : getCharSizeAt(data, size, offset);
    return charSize < 0 ? -1 : offset + charSize;
}

int CCharEncodingBase::skip(const std::uint8_t* data, int size, int offset, int n) const {
    for (; n > 0 && offset >= 0; --n) {
        offset = nextOffset(data, size, offset);
    }
    return offset <= size ? offset : -1;
}

int CCharEncodingBase::skipBack(const std::uint8_t* data, int size, int offset, int n) const {
    for (; n > 0 && offset >= 0; --n) {
        offset = previousOffset(data, size, offset);
    }
    return offset;
}

int CCharEncodingBase::decodeForward(const std::uint8_t* data, int size, int offset, int n,
                                     CharCode* chars, int* offsets) const {
    int decoded = 0;
    while (decoded < n && (offset = decodeNext(data, size, offset, chars[decoded])) >= 0) {
        offsets[decoded++] = offset;
    }
    return decoded;
}

int CCharEncodingBase::decodeBackward(const std::uint8_t* data, int size, int offset, int n,
                                      CharCode* chars, int* offsets) const {
    int decoded = 0;
    while (decoded < n && (offset = decodePrevious(data, size, offset, chars[decoded])) >= 0) {
        offsets[decoded++] = offset;
    }
    return decoded;
}

int CFixedWidthEncoding::encode(std::uint8_t* buffer, int size, int offset, CharCode ch) const {
    if (offset < 0 || offset + m_width > size || getEncodedSize(ch) == 0) {
        return offset;
    }
    write(buffer + offset, ch);
    return offset + m_width;
}

int CFixedWidthEncoding::getCharSizeAt(const std::uint8_t*, int size, int offset) const {
    return offset >= 0 && offset + m_width <= size ? m_width : -1;
}

int CFixedWidthEncoding::count(const std::uint8_t* begin, const std::uint8_t* end) const {
    return static_cast<int>(end - begin) / m_width;
}

int CFixedWidthEncoding::skip(const std::uint8_t*, int size, int offset, int n) const {
    const long long target = static_cast<long long>(offset) + static_cast<long long>(n) * m_width;
    return offset >= 0 && n >= 0 && target <= size ? static_cast<int>(target) : -1;
}

int CFixedWidthEncoding::decodeNext(const std::uint8_t* data, int size, int offset,
                                    CharCode& ch) const {
    if (getCharSizeAt(data, size, offset) < 0) {
        return -1;
    }
    ch = read(data + offset);
    return offset + m_width;
}

int CFixedWidthEncoding::previousOffset(const std::uint8_t*, int size, int offset) const {
    return offset >= m_width && offset <= size ? offset - m_width : -1;
}

int CFixedWidthEncoding::decodePrevious(const std::uint8_t* data, int size, int offset,
                                        CharCode& ch) const {
    const int start = previousOffset(data, size, offset);
    if (start >= 0) {
        ch = read(data + start);
    }
    return start;
}

String CUTF8CharEncoding::getName() const {
    return "UTF-8";
}

int CUTF8CharEncoding::getEncodedSize(CharCode ch) const {
    if (ch < 0 || ch > 0x10FFFF || isSurrogate(ch)) {
        return 0;
    }
    return ch < 0x80 ? 1 : ch < 0x800 ? 2 : ch < 0x10000 ? 3 : 4;
}

int CUTF8CharEncoding::encode(std::uint8_t* buffer, int size, int offset, CharCode ch) const {
    const int length = getEncodedSize(ch);
    if (length == 0 || offset < 0 || offset + length > size) {
        return offset;
    }
    static constexpr std::uint8_t kLeads[] = {0x00, 0x00, 0xC0, 0xE0, 0xF0};
    for (int i = length - 1; i > 0; --i) {
        buffer[offset + i] = static_cast<std::uint8_t>(0x80 | (ch & 0x3F));
        ch >>= 6;
    }
    buffer[offset] = static_cast<std::uint8_t>(kLeads[length] | ch);
    return offset + length;
}

int CUTF8CharEncoding::getCharSizeAt(const std::uint8_t* data, int size, int offset) const {
    CharCode ch = 0;
    return offset >= 0 && offset < size ? decodeUtf8(data, size, offset, ch) : -1;
}

int CUTF8CharEncoding::checkOffset(const std::uint8_t* data, int size, int offset) const {
    return offset >= 0 && offset < size && !isContinuation(data[offset]) ? offset : -1;
}

int CUTF8CharEncoding::decodeNext(const std::uint8_t* data, int size, int offset,
                                  CharCode& ch) const {
    return offset >= 0 && offset < size ? offset + decodeUtf8(data, size, offset, ch) : -1;
}

int CUTF8CharEncoding::previousOffset(const std::uint8_t* data, int size, int offset) const {
    if (offset <= 0 || offset > size) {
        return -1;
    }
    for (int length = 4; length > 1; --length) {
        CharCode ch = 0;
        const int start = offset - length;
        if (start >= 0 && decodeUtf8(data, size, start, ch) == length) {
            return start;
        }
    }
    return offset - 1;
}

int CUTF8CharEncoding::decodePrevious(const std::uint8_t* data, int size, int offset,
                                      CharCode& ch) const {
    const int start = previousOffset(data, size, offset);
    if (start >= 0) {
        decodeUtf8(data, size, start, ch);
    }
    return start;
}

String CUTF16CharEncoding::getName() const {
    return "UTF-16";
}

int CUTF16CharEncoding::getEncodedSize(CharCode ch) const {
    if (ch < 0 || ch > 0x10FFFF || isSurrogate(ch)) {
        return 0;
    }
    return ch < 0x10000 ? 2 : 4;
}

int CUTF16CharEncoding::encode(std::uint8_t* buffer, int size, int offset, CharCode ch) const {
    const int length = getEncodedSize(ch);
    if (length == 0 || offset < 0 || offset + length > size) {
        return offset;
    }
    if (length == 2) {
        writeUnit16(buffer + offset, ch);
    } else {
        const CharCode value = ch - 0x10000;
        writeUnit16(buffer + offset, 0xD800 + (value >> 10));
        writeUnit16(buffer + offset + 2, 0xDC00 + (value & 0x3FF));
    }
    return offset + length;
}

int CUTF16CharEncoding::getCharSizeAt(const std::uint8_t* data, int size, int offset) const {
    if (offset < 0 || offset + 2 > size) {
        return -1;
    }
    const bool pair = isHighSurrogate(readUnit16(data + offset)) && offset + 4 <= size &&
                      isLowSurrogate(readUnit16(data + offset + 2));
    return pair ? 4 : 2;
}

int CUTF16CharEncoding::checkOffset(const std::uint8_t* data, int size, int offset) const {
    if (offset < 0 || offset % 2 != 0 || offset + 2 > size) {
        return -1;
    }
    const bool insidePair = offset >= 2 && isLowSurrogate(readUnit16(data + offset)) &&
                            isHighSurrogate(readUnit16(data + offset - 2));
    return insidePair ? -1 : offset;
}

int CUTF16CharEncoding::decodeNext(const std::uint8_t* data, int size, int offset,
                                   CharCode& ch) const {
    const int length = getCharSizeAt(data, size, offset);
    if (length < 0) {
        return -1;
    }
    const CharCode first = readUnit16(data + offset);
    if (length == 4) {
        ch = 0x10000 + ((first - 0xD800) << 10) + (readUnit16(data + offset + 2) - 0xDC00);
    } else {
        ch = isSurrogate(first) ? kReplacement : first;
    }
    return offset + length;
}

int CUTF16CharEncoding::previousOffset(const std::uint8_t* data, int size, int offset) const {
    if (offset < 2 || offset > size) {
        return -1;
    }
    const bool pair = offset >= 4 && isLowSurrogate(readUnit16(data + offset - 2)) &&
                      isHighSurrogate(readUnit16(data + offset - 4));
    return pair ? offset - 4 : offset - 2;
}

int CUTF16CharEncoding::decodePrevious(const std::uint8_t* data, int size, int offset,
                                       CharCode& ch) const {
    const int start = previousOffset(data, size, offset);
    if (start >= 0) {
        decodeNext(data, size, start, ch);
    }
    return start;
}

String CUTF32CharEncoding::getName() const {
    return "UTF-32";
}

int CUTF32CharEncoding::getEncodedSize(CharCode) const {
    return 4;
}

CharCode CUTF32CharEncoding::read(const std::uint8_t* at) const {
    CharCode value = 0;
    std::memcpy(&value, at, sizeof value);
    return value;
}

void CUTF32CharEncoding::write(std::uint8_t* at, CharCode ch) const {
    std::memcpy(at, &ch, sizeof ch);
}

String CCPCharEncoding::getName() const {
    return "CodePage";
}

int CCPCharEncoding::getEncodedSize(CharCode ch) const {
    if (ch == 0) {
        return 1;
    }
    if (ch < 0 || ch > 0xFFFF) {
        return 0;
    }
    return platform::unicodeToAnsi(static_cast<std::uint32_t>(ch)) < 0 ? 0 : 1;
}

CharCode CCPCharEncoding::read(const std::uint8_t* at) const {
    char16_t unit = 0;
    platform::multiByteToWideChar(0, 1, reinterpret_cast<const char*>(at), 1, &unit, 1);
    return unit;
}

void CCPCharEncoding::write(std::uint8_t* at, CharCode ch) const {
    *at = static_cast<std::uint8_t>(platform::unicodeToAnsi(static_cast<std::uint32_t>(ch)));
}

String CLatin1CharEncoding::getName() const {
    return "Latin-1";
}

int CLatin1CharEncoding::getEncodedSize(CharCode) const {
    return 1;
}

CharCode CLatin1CharEncoding::read(const std::uint8_t* at) const {
    return *at;
}

void CLatin1CharEncoding::write(std::uint8_t* at, CharCode ch) const {
    *at = ch >= 0 && ch < 256 ? static_cast<std::uint8_t>(ch) : static_cast<std::uint8_t>('?');
}

const P<ICharEncoding>& getUTF8CharEncoding() {
    return globalEncoding<CUTF8CharEncoding>();
}
const P<ICharEncoding>& getUTF16CharEncoding() {
    return globalEncoding<CUTF16CharEncoding>();
}
const P<ICharEncoding>& getUTF32CharEncoding() {
    return globalEncoding<CUTF32CharEncoding>();
}
const P<ICharEncoding>& getCPCharEncoding() {
    return globalEncoding<CCPCharEncoding>();
}
const P<ICharEncoding>& getLatin1CharEncoding() {
    return globalEncoding<CLatin1CharEncoding>();
}

const P<ICharEncoding>& getWCharEncoding() {
    if constexpr (sizeof(wchar_t) == 2) {
        return getUTF16CharEncoding();
    } else {
        return getUTF32CharEncoding();
    }
}

} // namespace zelm
