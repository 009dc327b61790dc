#include <zelm/StringClasses.h>

#include <zelm/Exception.h>
#include <zelm/GlobalObjFactory.h>
#include <zelm/Unicode.h>

#include "platform/TextConversion.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace zelm {
namespace {

using Chars = std::vector<CharCode>;

constexpr CharCode kReplacement = platform::kReplacementCharacter;

// Zero bytes that serve as the empty text of the empty and null strings.
alignas(4) const unsigned char kZeros[4] = {0, 0, 0, 0};

std::uint8_t* allocateBuffer(std::size_t size) {
    void* buffer = std::malloc(size == 0 ? 1 : size);
    if (buffer == nullptr) {
        throw std::bad_alloc();
    }
    return static_cast<std::uint8_t*>(buffer);
}

[[noreturn]] void throwInvalidArg(const std::string& argument, const char* method) {
    throw CInvalidArgError(String::fromUTF8(argument), String(method));
}

std::string quoted(int value) {
    return "'" + std::to_string(value) + "'";
}

Chars decodeRange(const IString& text, int fromOffset, int toOffset) {
    Chars chars;
    const ICharEncoding& encoding = *text.getEncoding();
    const std::uint8_t* data = text.getData();
    CharCode ch = 0;
    for (int offset = fromOffset;
         offset < toOffset && (offset = encoding.decodeNext(data, toOffset, offset, ch)) >= 0;) {
        chars.push_back(ch);
    }
    return chars;
}

Chars decodeAll(const IString& text) {
    return decodeRange(text, 0, text.getByteLength());
}

// The character written in place of one the encoding cannot represent.
CharCode substituteFor(const ICharEncoding& encoding) {
    return encoding.getEncodedSize(kReplacement) > 0 ? kReplacement : CharCode{'?'};
}

bool allRepresentable(const ICharEncoding& encoding, const Chars& chars) {
    for (CharCode ch : chars) {
        if (encoding.getEncodedSize(ch) == 0) {
            return false;
        }
    }
    return true;
}

// Writes encoded text, piece by piece, into a buffer of known size.
class CBufferWriter {
public:
    CBufferWriter(const ICharEncoding& encoding, std::size_t textBytes)
        : m_encoding(encoding), m_size(static_cast<int>(textBytes) + encoding.getEncodedSize(0)),
          m_buffer(allocateBuffer(static_cast<std::size_t>(m_size))) {}
    CBufferWriter(const CBufferWriter&) = delete;
    CBufferWriter& operator=(const CBufferWriter&) = delete;
    ~CBufferWriter() { std::free(m_buffer); }

    void bytes(const std::uint8_t* data, int length) {
        if (length > 0) {
            std::memcpy(m_buffer + m_offset, data, static_cast<std::size_t>(length));
            m_offset += length;
        }
    }
    void chars(const Chars& text) {
        const CharCode substitute = substituteFor(m_encoding);
        for (CharCode ch : text) {
            const CharCode written = m_encoding.getEncodedSize(ch) > 0 ? ch : substitute;
            m_offset = m_encoding.encode(m_buffer, m_size, m_offset, written);
        }
    }
    int length() const noexcept { return m_offset; }
    // Terminates the text and hands the buffer over.
    std::uint8_t* finish() {
        m_encoding.encode(m_buffer, m_size, m_offset, 0);
        return std::exchange(m_buffer, nullptr);
    }

private:
    const ICharEncoding& m_encoding;
    int m_size;
    int m_offset = 0;
    std::uint8_t* m_buffer;
};

std::size_t encodedLength(const ICharEncoding& encoding, const Chars& chars) {
    const int substituteSize = encoding.getEncodedSize(substituteFor(encoding));
    std::size_t length = 0;
    for (CharCode ch : chars) {
        const int size = encoding.getEncodedSize(ch);
        length += static_cast<std::size_t>(size > 0 ? size : substituteSize);
    }
    return length;
}

// A new terminated string of the class made by create, holding chars.
template <class Create>
P<IString> buildString(const ICharEncoding& encoding, const Chars& chars, Create&& create) {
    CBufferWriter writer(encoding, encodedLength(encoding, chars));
    writer.chars(chars);
    const int length = writer.length();
    std::uint8_t* buffer = writer.finish();
    try {
        return create(buffer, length, static_cast<int>(chars.size()));
    } catch (...) {
        std::free(buffer);
        throw;
    }
}

const P<IString>& emptyString() {
    static const char marker = 0;
    return getGlobalObject<IString>(
        &marker, [] { return makeP<CUTF8String>(kZeros, -1, StringMode::Borrow); });
}

} // namespace

// --- CString ---------------------------------------------------------------

CString::CString(const void* data, int byteLength, int charCount, bool nullTerminated,
                 P<ICharEncoding> encoding, StringMode mode)
    : m_data(static_cast<const std::uint8_t*>(data)), m_byteLength(byteLength),
      m_nullTerminated(nullTerminated), m_ownsBuffer(mode == StringMode::Adopt),
      m_encoding(std::move(encoding)), m_charCount(charCount) {
    if (m_byteLength < 0) {
        m_byteLength = m_encoding->getTerminatedLength(m_data);
        m_nullTerminated = true;
    }
    if (mode == StringMode::Copy) {
        CBufferWriter writer(*m_encoding, static_cast<std::size_t>(m_byteLength));
        writer.bytes(m_data, m_byteLength);
        m_data = writer.finish();
        m_nullTerminated = true;
        m_ownsBuffer = true;
    }
    if (m_charCount < 0) {
        m_charCount = m_encoding->count(m_data, m_data + m_byteLength);
    }
}

CString::~CString() {
    if (m_ownsBuffer) {
        std::free(const_cast<std::uint8_t*>(m_data));
    }
}

P<IString> CString::self() const {
    return P<IString>::share(const_cast<CString*>(this));
}

P<IString> CString::createLike(std::uint8_t* buffer, int byteLength, int charCount) const {
    return makeP<CString>(buffer, byteLength, charCount, true, m_encoding, StringMode::Adopt);
}

int CString::compare(const IBase& other) const {
    const auto* text = dynamic_cast<const IString*>(&other);
    if (text == nullptr) {
        throwInvalidArg("the other object is not a string", "CString::compare");
    }
    return compareTo(String(P<IString>::share(const_cast<IString*>(text))));
}

bool CString::isNull() const {
    return false;
}
bool CString::isEmpty() const {
    return m_charCount == 0;
}
int CString::getLength() const {
    return m_charCount;
}
const std::uint8_t* CString::getData() const {
    return m_data;
}
int CString::getByteLength() const {
    return m_byteLength;
}
bool CString::isNullTerminated() const {
    return m_nullTerminated;
}
const P<ICharEncoding>& CString::getEncoding() const {
    return m_encoding;
}
std::uint32_t CString::getEncodingId() const {
    return m_encoding->getId();
}
bool CString::hasEncoding(std::uint32_t id) const {
    return m_encoding->getId() == id;
}

StringPos CString::getStart() const {
    return {0, 0};
}
StringPos CString::getEnd() const {
    return {m_charCount, m_byteLength};
}

StringPos CString::getPos(int index) const {
    if (index < 0 || index > m_charCount) {
        return kNoPos;
    }
    if (index == m_charCount) {
        return getEnd();
    }
    return {index, m_encoding->getOffsetOfIndex(m_data, m_byteLength, index)};
}

StringPos CString::advance(const StringPos& pos, int n) const {
    const long long index = static_cast<long long>(pos.index) + n;
    if (!pos.isValid() || index < 0 || index > m_charCount) {
        return kNoPos;
    }
    const int offset = n >= 0 ? m_encoding->skip(m_data, m_byteLength, pos.offset, n)
                              : m_encoding->skipBack(m_data, m_byteLength, pos.offset, -n);
    return offset < 0 ? kNoPos : StringPos{static_cast<int>(index), offset};
}

CharCode CString::charAt(int index) const {
    if (index < 0 || index >= m_charCount) {
        throwInvalidArg("index " + quoted(index) + " out of range", "CString::charAt");
    }
    return charAt(getPos(index));
}

CharCode CString::charAt(const StringPos& pos) const {
    CharCode ch = 0;
    if (!pos.isValid() || m_encoding->decodeNext(m_data, m_byteLength, pos.offset, ch) < 0) {
        throwInvalidArg("no character at index " + quoted(pos.index), "CString::charAt");
    }
    return ch;
}

CharCode CString::nextChar(StringPos& pos) const {
    CharCode ch = 0;
    const int next =
        pos.isValid() ? m_encoding->decodeNext(m_data, m_byteLength, pos.offset, ch) : -1;
    if (next < 0) {
        return -1;
    }
    pos = {pos.index + 1, next};
    return ch;
}

namespace {

// Whether the characters of this string from offset begin with text.
bool matchesAt(const IString& string, int offset, const Chars& text) {
    const ICharEncoding& encoding = *string.getEncoding();
    CharCode ch = 0;
    for (CharCode expected : text) {
        offset = encoding.decodeNext(string.getData(), string.getByteLength(), offset, ch);
        if (offset < 0 || ch != expected) {
            return false;
        }
    }
    return true;
}

} // namespace

StringPos CString::find(const String& text, int fromIndex) const {
    return find(text, getPos(fromIndex));
}

StringPos CString::find(const String& text, const StringPos& from) const {
    const Chars wanted = decodeAll(*text);
    for (StringPos pos = from; pos.isValid() && pos.offset <= m_byteLength;) {
        if (matchesAt(*this, pos.offset, wanted)) {
            return pos;
        }
        if (nextChar(pos) < 0) {
            break;
        }
    }
    return kNoPos;
}

StringPos CString::findChar(CharCode ch, const StringPos& from) const {
    for (StringPos pos = from; pos.isValid();) {
        const StringPos here = pos;
        const CharCode found = nextChar(pos);
        if (found < 0 && pos == here) {
            break;
        }
        if (found == ch) {
            return here;
        }
    }
    return kNoPos;
}

bool CString::startsWithAt(const String& text, int index) const {
    return startsWithAt(text, getPos(index));
}

bool CString::startsWithAt(const String& text, const StringPos& pos) const {
    return pos.isValid() && matchesAt(*this, pos.offset, decodeAll(*text));
}

bool CString::endsWith(const String& text) const {
    const int length = text.getLength();
    return length <= m_charCount && startsWithAt(text, m_charCount - length);
}

bool CString::equalsAt(int index, const String& text, int count) const {
    return equalsAt(getPos(index), text, count);
}

bool CString::equalsAt(const StringPos& pos, const String& text, int count) const {
    if (!pos.isValid()) {
        return false;
    }
    const IString& other = *text;
    StringPos mine = pos;
    StringPos theirs = other.getStart();
    for (int compared = 0; count < 0 || compared < count; ++compared) {
        const CharCode a = nextChar(mine);
        const CharCode b = other.nextChar(theirs);
        if (a != b) {
            return false;
        }
        if (a < 0) {
            return true;
        }
    }
    return true;
}

bool CString::equals(const String& text) const {
    const IString& other = *text;
    if (other.getLength() != m_charCount) {
        return false;
    }
    if (other.getEncodingId() == getEncodingId()) {
        return other.getByteLength() == m_byteLength &&
               (m_byteLength == 0 ||
                std::memcmp(other.getData(), m_data, static_cast<std::size_t>(m_byteLength)) == 0);
    }
    return equalsAt(getStart(), text, -1);
}

int CString::compareTo(const String& text) const {
    const IString& other = *text;
    StringPos mine = getStart();
    StringPos theirs = other.getStart();
    for (;;) {
        const CharCode a = nextChar(mine);
        const CharCode b = other.nextChar(theirs);
        if (a != b) {
            return a < b ? -1 : 1;
        }
        if (a < 0) {
            return 0;
        }
    }
}

String CString::substring(int fromIndex, int toIndex) const {
    return substring(getPos(fromIndex), getPos(toIndex));
}

String CString::substring(const StringPos& from, const StringPos& to) const {
    if (!from.isValid() || !to.isValid() || to.index < from.index || to.offset < from.offset ||
        to.offset > m_byteLength) {
        throwInvalidArg("range " + quoted(from.index) + " to " + quoted(to.index) + " out of range",
                        "CString::substring");
    }
    return String(
        makeP<CStringSlice>(self(), from.offset, to.offset - from.offset, to.index - from.index));
}

namespace {

template <class Map> Chars mapChars(const Chars& chars, Map&& map, bool& changed) {
    Chars mapped;
    mapped.reserve(chars.size());
    changed = false;
    for (CharCode ch : chars) {
        mapped.push_back(map(ch));
        changed = changed || mapped.back() != ch;
    }
    return mapped;
}

} // namespace

String CString::mapCase(CharCode (*map)(CharCode) noexcept) const {
    bool changed = false;
    const Chars mapped = mapChars(decodeAll(*this), map, changed);
    if (!changed) {
        return String(self());
    }
    return replaceRange(getStart(), getEnd(),
                        String::fromUTF32(std::u32string(mapped.begin(), mapped.end())));
}

String CString::toLowerCase() const {
    return mapCase(unicode::toLower);
}
String CString::toUpperCase() const {
    return mapCase(unicode::toUpper);
}
String CString::toTitleCase() const {
    return mapCase(unicode::toTitle);
}

String CString::append(const String& text) const {
    return replaceRange(getEnd(), getEnd(), text);
}

String CString::prepend(const String& text) const {
    return replaceRange(getStart(), getStart(), text);
}

String CString::replaceRange(const StringPos& from, const StringPos& to, const String& text) const {
    if (!from.isValid() || !to.isValid() || to.offset < from.offset || to.offset > m_byteLength) {
        throwInvalidArg("range " + quoted(from.index) + " to " + quoted(to.index) + " out of range",
                        "CString::replaceRange");
    }
    const Chars inserted = decodeAll(*text);
    if (!allRepresentable(*m_encoding, inserted)) {
        const String utf8 = toUTF8String();
        return utf8->replaceRange(utf8->getPos(from.index), utf8->getPos(to.index), text);
    }
    CBufferWriter writer(*m_encoding,
                         static_cast<std::size_t>(m_byteLength - (to.offset - from.offset)) +
                             encodedLength(*m_encoding, inserted));
    writer.bytes(m_data, from.offset);
    writer.chars(inserted);
    writer.bytes(m_data + to.offset, m_byteLength - to.offset);
    const int length = writer.length();
    const int count = m_charCount - (to.index - from.index) + static_cast<int>(inserted.size());
    std::uint8_t* buffer = writer.finish();
    try {
        return String(createLike(buffer, length, count));
    } catch (...) {
        std::free(buffer);
        throw;
    }
}

String CString::replace(const String& what, const String& with) const {
    const Chars replacement = decodeAll(*with);
    if (what.isEmpty()) {
        return String(self());
    }
    if (!allRepresentable(*m_encoding, replacement)) {
        return toUTF8String()->replace(what, with);
    }
    std::vector<StringPos> hits;
    const int whatLength = what.getLength();
    for (StringPos pos = find(what, getStart()); pos.isValid();
         pos = find(what, advance(pos, whatLength))) {
        hits.push_back(pos);
    }
    if (hits.empty()) {
        return String(self());
    }
    const std::size_t replacementBytes = encodedLength(*m_encoding, replacement);
    CBufferWriter writer(*m_encoding,
                         static_cast<std::size_t>(m_byteLength) + hits.size() * replacementBytes);
    int copied = 0;
    for (const StringPos& hit : hits) {
        writer.bytes(m_data + copied, hit.offset - copied);
        writer.chars(replacement);
        copied = advance(hit, whatLength).offset;
    }
    writer.bytes(m_data + copied, m_byteLength - copied);
    const int length = writer.length();
    const int count = m_charCount + static_cast<int>(hits.size()) *
                                        (static_cast<int>(replacement.size()) - whatLength);
    std::uint8_t* buffer = writer.finish();
    try {
        return String(createLike(buffer, length, count));
    } catch (...) {
        std::free(buffer);
        throw;
    }
}

namespace {

template <class Create>
String convertString(const CString& string, P<IString> self, const ICharEncoding& target,
                     const P<IString>& nullString, Create&& create) {
    if (string.isNull()) {
        return String(nullString);
    }
    if (string.getEncodingId() == target.getId() && string.isNullTerminated()) {
        return String(std::move(self));
    }
    return String(buildString(target, decodeAll(string), create));
}

} // namespace

String CString::toCPString() const {
    return convertString(*this, self(), *getCPCharEncoding(),
                         TNullString<unsigned char, CCPString>::get(), CCPString::adopt);
}

String CString::toUTF8String() const {
    return convertString(*this, self(), *getUTF8CharEncoding(),
                         TNullString<unsigned char, CUTF8String>::get(), CUTF8String::adopt);
}

String CString::toLatin1String() const {
    return convertString(*this, self(), *getLatin1CharEncoding(),
                         TNullString<char, CLatin1String>::get(), CLatin1String::adopt);
}

String CString::toWCharString() const {
    return convertString(*this, self(), *getWCharEncoding(),
                         TNullString<wchar_t, CWCharString>::get(), CWCharString::adopt);
}

String CString::toUTF16String() const {
    return convertString(*this, self(), *getUTF16CharEncoding(),
                         TNullString<unsigned char, CUTF16String>::get(), CUTF16String::adopt);
}

String CString::toUTF32String() const {
    return convertString(*this, self(), *getUTF32CharEncoding(),
                         TNullString<unsigned int, CUTF32String>::get(), CUTF32String::adopt);
}

// --- string classes --------------------------------------------------------

CCPString::~CCPString() = default;
CLatin1String::~CLatin1String() = default;
CUTF8String::~CUTF8String() = default;
CUTF16String::~CUTF16String() = default;
CWCharString::~CWCharString() = default;
CUTF32String::~CUTF32String() = default;

CStringSlice::CStringSlice(const P<IString>& base, int byteOffset, int byteLength, int charCount)
    : CString(base->getData() + byteOffset, byteLength, charCount, false, base->getEncoding(),
              StringMode::Borrow),
      m_base(base) {}

P<IString> CStringSlice::createLike(std::uint8_t* buffer, int byteLength, int charCount) const {
    if (const auto* base = dynamic_cast<const CString*>(m_base.get())) {
        return base->createLike(buffer, byteLength, charCount);
    }
    return CString::createLike(buffer, byteLength, charCount);
}

template <class Unit, class Class>
TNullString<Unit, Class>::TNullString()
    : Class(reinterpret_cast<const Unit*>(kZeros), -1, StringMode::Borrow) {}

template <class Unit, class Class> const P<IString>& TNullString<Unit, Class>::get() {
    static const char marker = 0;
    return getGlobalObject<IString>(&marker, [] { return makeP<TNullString>(); });
}

template class TNullString<wchar_t, CWCharString>;
template class TNullString<unsigned char, CUTF8String>;
template class TNullString<unsigned int, CUTF32String>;
template class TNullString<unsigned char, CCPString>;
template class TNullString<unsigned char, CUTF16String>;
template class TNullString<char, CLatin1String>;

// --- String ----------------------------------------------------------------

String::String() : m_object(emptyString()) {}

String::String(const char* text)
    : m_object(text == nullptr
                   ? TNullString<unsigned char, CUTF8String>::get()
                   : P<IString>(makeP<CCPString>(reinterpret_cast<const unsigned char*>(text), -1,
                                                 StringMode::Borrow))) {}

String::String(const wchar_t* text)
    : m_object(text == nullptr ? TNullString<wchar_t, CWCharString>::get()
                               : P<IString>(makeP<CWCharString>(text, -1, StringMode::Borrow))) {}

String::String(NullStringTag) : m_object(TNullString<unsigned char, CUTF8String>::get()) {}

String::String(P<IString> object)
    : m_object(object ? std::move(object) : TNullString<unsigned char, CUTF8String>::get()) {}

String String::fromUTF8(std::string_view text) {
    return String(makeP<CUTF8String>(reinterpret_cast<const unsigned char*>(text.data()),
                                     static_cast<int>(text.size())));
}

String String::fromUTF16(std::u16string_view text) {
    static_assert(std::endian::native == std::endian::little,
                  "UTF-16 strings hold little-endian units");
    return String(makeP<CUTF16String>(reinterpret_cast<const unsigned char*>(text.data()),
                                      static_cast<int>(text.size() * 2)));
}

String String::fromUTF32(std::u32string_view text) {
    return String(makeP<CUTF32String>(reinterpret_cast<const unsigned int*>(text.data()),
                                      static_cast<int>(text.size() * 4)));
}

String String::fromChar(CharCode ch) {
    const char32_t text[1] = {static_cast<char32_t>(ch)};
    return fromUTF32(std::u32string_view(text, 1));
}

String String::latin1(const char* text) {
    if (text == nullptr) {
        return String(TNullString<char, CLatin1String>::get());
    }
    return String(makeP<CLatin1String>(text, -1, StringMode::Borrow));
}

std::string String::toStdString() const {
    std::string out;
    StringPos pos = m_object->getStart();
    for (CharCode ch = 0; (ch = m_object->nextChar(pos)) >= 0;) {
        platform::appendUtf8(out, static_cast<char32_t>(ch));
    }
    return out;
}

std::string String::toUTF8Bytes() const {
    if (m_object->getEncodingId() != kUTF8EncodingId || m_object->getByteLength() == 0) {
        return toStdString();
    }
    return {reinterpret_cast<const char*>(m_object->getData()),
            static_cast<std::size_t>(m_object->getByteLength())};
}

std::u32string String::toU32String() const {
    const Chars chars = decodeAll(*m_object);
    return std::u32string(chars.begin(), chars.end());
}

std::u16string String::toU16String() const {
    const String utf16 = m_object->toUTF16String();
    std::u16string out(static_cast<std::size_t>(utf16->getByteLength() / 2), u'\0');
    std::memcpy(out.data(), utf16->getData(), out.size() * 2);
    return out;
}

std::wstring String::toWString() const {
    const String wide = m_object->toWCharString();
    std::wstring out(static_cast<std::size_t>(wide->getByteLength()) / sizeof(wchar_t), L'\0');
    std::memcpy(out.data(), wide->getData(), out.size() * sizeof(wchar_t));
    return out;
}

String& String::operator+=(const String& text) {
    return *this = append(text);
}
String& String::operator+=(const char* text) {
    return *this = append(latin1(text));
}
String& String::operator+=(const wchar_t* text) {
    return *this = append(String(text));
}

String operator+(const String& a, const String& b) {
    return a.append(b);
}
String operator+(const String& a, const char* b) {
    return a.append(String::latin1(b));
}
String operator+(const char* a, const String& b) {
    return b.prepend(String::latin1(a));
}
String operator+(const String& a, const wchar_t* b) {
    return a.append(String(b));
}
String operator+(const wchar_t* a, const String& b) {
    return b.prepend(String(a));
}

bool operator==(const String& a, const String& b) {
    return a.equals(b);
}
bool operator==(const String& a, const char* b) {
    return a.equals(String::latin1(b));
}
bool operator==(const String& a, const wchar_t* b) {
    return a.equals(String(b));
}

} // namespace zelm
