// Text: the immutable string objects (IString) and the value handle String.
#pragma once

#include <zelm/Export.h>

#include <zelm/CharEncoding.h>
#include <zelm/Object.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace zelm {

class String;

// A place in a string: the character index and the byte offset of that
// character. An index of -1 stands for no place (what searches return when
// they find nothing).
struct StringPos {
    int index = 0;
    int offset = 0;

    bool isValid() const noexcept { return index >= 0; }
    friend bool operator==(const StringPos&, const StringPos&) = default;
};

inline constexpr StringPos kNoPos{-1, -1};

// Ordering between objects of one kind.
class ZELM_API IComparable : public virtual IBase {
public:
    // Negative, zero or positive as this object sorts before, with or after other.
    virtual int compare(const IBase& other) const = 0;
};

// An immutable text in one encoding. Every operation that yields other text
// returns a new string object.
class ZELM_API IString : public virtual IBase, public virtual IComparable {
public:
    // True only for the null strings.
    virtual bool isNull() const = 0;
    virtual bool isEmpty() const = 0;
    // The character count.
    virtual int getLength() const = 0;
    virtual const std::uint8_t* getData() const = 0;
    virtual int getByteLength() const = 0;
    virtual bool isNullTerminated() const = 0;
    virtual const P<ICharEncoding>& getEncoding() const = 0;
    virtual std::uint32_t getEncodingId() const = 0;
    virtual bool hasEncoding(std::uint32_t id) const = 0;

    // Places: the start, the end (after the last character), an index.
    virtual StringPos getStart() const = 0;
    virtual StringPos getEnd() const = 0;
    // The place of a character index from 0 to the length; kNoPos beyond.
    virtual StringPos getPos(int index) const = 0;
    // The place n characters after (or, for negative n, before) pos;
    // kNoPos when that leaves the string.
    virtual StringPos advance(const StringPos& pos, int n) const = 0;

    // The character at a place; throws when there is none.
    virtual CharCode charAt(int index) const = 0;
    virtual CharCode charAt(const StringPos& pos) const = 0;
    // The character at pos, moving pos past it; -1 at the end.
    virtual CharCode nextChar(StringPos& pos) const = 0;

    // Place of the first occurrence of text at or after a place; kNoPos when absent.
    virtual StringPos find(const String& text, int fromIndex) const = 0;
    virtual StringPos find(const String& text, const StringPos& from) const = 0;
    // Place of the first occurrence of a character at or after a place.
    virtual StringPos findChar(CharCode ch, const StringPos& from) const = 0;
    virtual bool startsWithAt(const String& text, int index) const = 0;
    virtual bool startsWithAt(const String& text, const StringPos& pos) const = 0;
    virtual bool endsWith(const String& text) const = 0;
    // Whether count characters from a place equal the first count characters
    // of text; a count of -1 compares the whole of text with the whole rest.
    virtual bool equalsAt(int index, const String& text, int count) const = 0;
    virtual bool equalsAt(const StringPos& pos, const String& text, int count) const = 0;
    // Character-by-character equality, whatever the encodings.
    virtual bool equals(const String& text) const = 0;
    // Character-by-character ordering by code point.
    virtual int compareTo(const String& text) const = 0;

    // The characters from one place up to another, viewing this string's bytes.
    virtual String substring(int fromIndex, int toIndex) const = 0;
    virtual String substring(const StringPos& from, const StringPos& to) const = 0;

    virtual String toLowerCase() const = 0;
    virtual String toUpperCase() const = 0;
    virtual String toTitleCase() const = 0;

    virtual String append(const String& text) const = 0;
    virtual String prepend(const String& text) const = 0;
    // Every occurrence of what replaced by with, matching case-sensitively.
    virtual String replace(const String& what, const String& with) const = 0;
    // The characters between two places replaced by text.
    virtual String replaceRange(const StringPos& from, const StringPos& to,
                                const String& text) const = 0;

    // This text as a terminated string of the named class: the same object
    // when it already is one, that class's null string for a null string.
    virtual String toCPString() const = 0;
    virtual String toUTF8String() const = 0;
    virtual String toLatin1String() const = 0;
    virtual String toWCharString() const = 0;
    virtual String toUTF16String() const = 0;
    virtual String toUTF32String() const = 0;
};

// Selects the null string of a String constructor.
struct NullStringTag {};
inline constexpr NullStringTag kNullString{};

// The value handle of a string object. Copies share the object.
class ZELM_API String {
public:
    // The process-wide empty string (UTF-8, not null).
    String();
    // Borrows terminated text in the system code page; a null pointer gives
    // the null UTF-8 string.
    String(const char* text);
    // Borrows terminated wide text; a null pointer gives the null wide string.
    String(const wchar_t* text);
    String(NullStringTag);
    String(P<IString> object);

    // A UTF-8 copy of text.
    static String fromUTF8(std::string_view text);
    // A UTF-16 (CUTF16String) copy of text.
    static String fromUTF16(std::u16string_view text);
    // A UTF-32 copy of text.
    static String fromUTF32(std::u32string_view text);
    // A one-character UTF-32 string.
    static String fromChar(CharCode ch);
    // Terminated narrow text read as Latin-1, borrowed.
    static String latin1(const char* text);

    IString* operator->() const noexcept { return m_object.get(); }
    IString& operator*() const noexcept { return *m_object; }
    const P<IString>& getObject() const noexcept { return m_object; }

    bool isNull() const { return m_object->isNull(); }
    bool isEmpty() const { return m_object->isEmpty(); }
    int getLength() const { return m_object->getLength(); }
    CharCode charAt(int index) const { return m_object->charAt(index); }

    StringPos find(const String& text, int fromIndex = 0) const {
        return m_object->find(text, fromIndex);
    }
    StringPos find(const char* text, int fromIndex = 0) const {
        return find(latin1(text), fromIndex);
    }
    bool startsWith(const String& text) const { return m_object->startsWithAt(text, 0); }
    bool equals(const String& text) const { return m_object->equals(text); }
    String substring(int fromIndex, int toIndex) const {
        return m_object->substring(fromIndex, toIndex);
    }
    String toLowerCase() const { return m_object->toLowerCase(); }
    String toUpperCase() const { return m_object->toUpperCase(); }
    String toTitleCase() const { return m_object->toTitleCase(); }
    String append(const String& text) const { return m_object->append(text); }
    String prepend(const String& text) const { return m_object->prepend(text); }
    String replace(const String& what, const String& with) const {
        return m_object->replace(what, with);
    }
    String replace(const char* what, const String& with) const {
        return replace(latin1(what), with);
    }

    // The text as UTF-8, UTF-16 or UTF-32 standard strings.
    std::string toStdString() const;
    std::u16string toU16String() const;
    std::u32string toU32String() const;
    std::wstring toWString() const;
    // The bytes a UTF-8 string holds, ill-formed ones included, as a file
    // name on a system whose names are bytes may be; any other string as
    // UTF-8.
    std::string toUTF8Bytes() const;

    String& operator+=(const String& text);
    String& operator+=(const char* text);
    String& operator+=(const wchar_t* text);

private:
    P<IString> m_object;
};

ZELM_API String operator+(const String& a, const String& b);
ZELM_API String operator+(const String& a, const char* b);
ZELM_API String operator+(const char* a, const String& b);
ZELM_API String operator+(const String& a, const wchar_t* b);
ZELM_API String operator+(const wchar_t* a, const String& b);

// Character equality of the texts (encodings may differ).
ZELM_API bool operator==(const String& a, const String& b);
ZELM_API bool operator==(const String& a, const char* b);
ZELM_API bool operator==(const String& a, const wchar_t* b);

} // namespace zelm
