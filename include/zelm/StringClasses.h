// The string classes: CString, one subclass per encoding, slices and the
// null strings.
#pragma once

#include <zelm/Export.h>

#include <zelm/String.h>

#include <cstdint>

namespace zelm {

// How a string gets its bytes.
enum class StringMode {
    Copy = 0,   // allocate, copy and terminate
    Adopt = 1,  // take a buffer from std::malloc and free it at destruction
    Borrow = 2, // use the caller's buffer, which must outlive the string
};

// The one implementation of IString over encoded bytes.
class ZELM_API CString : public CObject, public virtual IString {
public:
    // byteLength -1: the data is terminated and the encoding measures it.
    // charCount -1: the encoding counts the characters.
    CString(const void* data, int byteLength, int charCount, bool nullTerminated,
            P<ICharEncoding> encoding, StringMode mode);
    CString(const CString&) = delete;
    CString& operator=(const CString&) = delete;
    ~CString() override;

    int compare(const IBase& other) const override;

    bool isNull() const override;
    bool isEmpty() const override;
    int getLength() const override;
    const std::uint8_t* getData() const override;
    int getByteLength() const override;
    bool isNullTerminated() const override;
    const P<ICharEncoding>& getEncoding() const override;
    std::uint32_t getEncodingId() const override;
    bool hasEncoding(std::uint32_t id) const override;

    StringPos getStart() const override;
    StringPos getEnd() const override;
    StringPos getPos(int index) const override;
    StringPos advance(const StringPos& pos, int n) const override;

    CharCode charAt(int index) const override;
    CharCode charAt(const StringPos& pos) const override;
    CharCode nextChar(StringPos& pos) const override;

    StringPos find(const String& text, int fromIndex) const override;
    StringPos find(const String& text, const StringPos& from) const override;
    StringPos findChar(CharCode ch, const StringPos& from) const override;
    bool startsWithAt(const String& text, int index) const override;
    bool startsWithAt(const String& text, const StringPos& pos) const override;
    bool endsWith(const String& text) const override;
    bool equalsAt(int index, const String& text, int count) const override;
    bool equalsAt(const StringPos& pos, const String& text, int count) const override;
    bool equals(const String& text) const override;
    int compareTo(const String& text) const override;

    String substring(int fromIndex, int toIndex) const override;
    String substring(const StringPos& from, const StringPos& to) const override;

    String toLowerCase() const override;
    String toUpperCase() const override;
    String toTitleCase() const override;

    String append(const String& text) const override;
    String prepend(const String& text) const override;
    String replace(const String& what, const String& with) const override;
    String replaceRange(const StringPos& from, const StringPos& to,
                        const String& text) const override;

    String toCPString() const override;
    String toUTF8String() const override;
    String toLatin1String() const override;
    String toWCharString() const override;
    String toUTF16String() const override;
    String toUTF32String() const override;

protected:
    // A new string of this string's class over an owned, terminated buffer
    // in this string's encoding.
    virtual P<IString> createLike(std::uint8_t* buffer, int byteLength, int charCount) const;

private:
    friend class CStringSlice;

    P<IString> self() const;
    String mapCase(CharCode (*map)(CharCode) noexcept) const;

    const std::uint8_t* m_data;
    int m_byteLength;
    bool m_nullTerminated;
    bool m_ownsBuffer;
    P<ICharEncoding> m_encoding;
    int m_charCount;
};

// A string of one code-unit type in one encoding; Self is the concrete class.
// byteLength -1 measures terminated data; terminated tells that data of a
// given length is followed by a terminator.
template <class Self, class Unit, const P<ICharEncoding>& (*Encoding)()>
class ZELM_API TEncodedString : public CString {
public:
    explicit TEncodedString(const Unit* data, int byteLength = -1,
                            StringMode mode = StringMode::Copy, int charCount = -1,
                            bool terminated = false)
        : CString(data, byteLength, charCount, byteLength < 0 || terminated, Encoding(), mode) {}

    // A new string that adopts a terminated buffer from std::malloc.
    static P<IString> adopt(std::uint8_t* buffer, int byteLength, int charCount) {
        return makeP<Self>(reinterpret_cast<const Unit*>(buffer), byteLength, StringMode::Adopt,
                           charCount, true);
    }

protected:
    P<IString> createLike(std::uint8_t* buffer, int byteLength, int charCount) const override {
        return adopt(buffer, byteLength, charCount);
    }
};

// Text in the system ANSI code page.
class ZELM_API CCPString : public TEncodedString<CCPString, unsigned char, getCPCharEncoding> {
public:
    using TEncodedString::TEncodedString;
    ~CCPString() override;
};

class ZELM_API CLatin1String : public TEncodedString<CLatin1String, char, getLatin1CharEncoding> {
public:
    using TEncodedString::TEncodedString;
    ~CLatin1String() override;
};

class ZELM_API CUTF8String
    : public TEncodedString<CUTF8String, unsigned char, getUTF8CharEncoding> {
public:
    using TEncodedString::TEncodedString;
    ~CUTF8String() override;
};

// UTF-16, little-endian, addressed in bytes.
class ZELM_API CUTF16String
    : public TEncodedString<CUTF16String, unsigned char, getUTF16CharEncoding> {
public:
    using TEncodedString::TEncodedString;
    ~CUTF16String() override;
};

// wchar_t text in the platform's wide encoding (see getWCharEncoding).
class ZELM_API CWCharString : public TEncodedString<CWCharString, wchar_t, getWCharEncoding> {
public:
    using TEncodedString::TEncodedString;
    ~CWCharString() override;
};

class ZELM_API CUTF32String
    : public TEncodedString<CUTF32String, unsigned int, getUTF32CharEncoding> {
public:
    using TEncodedString::TEncodedString;
    ~CUTF32String() override;
};

// A view of a byte range of another string, which it keeps alive.
class ZELM_API CStringSlice : public CString {
public:
    CStringSlice(const P<IString>& base, int byteOffset, int byteLength, int charCount);

protected:
    P<IString> createLike(std::uint8_t* buffer, int byteLength, int charCount) const override;

private:
    P<IString> m_base;
};

// The empty string of a class that answers true to isNull. One process-wide
// object per class, made on first use.
template <class Unit, class Class> class ZELM_API TNullString final : public Class {
public:
    TNullString();
    bool isNull() const override { return true; }
    static const P<IString>& get();
};

} // namespace zelm
