// printf-style formatting fed one typed parameter at a time:
//
//     CStringFormat f("%s has %d channels");
//     f.doString(name);
//     f.doInt(channels, true);
//     String text = f.toString();
//
// or in one call, each argument pushed by its type:
//
//     String text = CStringFormat::format("%s has %d channels", name, channels);
//
// Each push fills the pending field and moves on to the next one; literal text
// and "%%" are copied as the scan passes them. Errors throw CInvalidArgError
// (bad format, a parameter that does not match its field) or
// CInvalidObjectStateError (reading before every field has its parameter).
#pragma once

#include <zelm/Export.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "zelm/Object.h"
#include "zelm/String.h"

namespace zelm {

class ZELM_API CStringFormat : public CObject {
public:
    explicit CStringFormat(const String& format);
    ~CStringFormat() override;

    // Smaller integers are widened to 64 bits; isSigned tells how to read them.
    void doInt(std::int64_t value, bool isSigned);
    void doDouble(double value);
    void doChar(std::int32_t character);
    void doString(const String& text);

    // The finished text; throws while a field still waits for its parameter.
    String toString() const override;

    // The text of format filled with args in order: integers (as signed or
    // unsigned by their type), floating-point values and texts.
    template <class... Args> static String format(const String& format, const Args&... args) {
        CStringFormat formatter(format);
        (formatter.push(args), ...);
        return formatter.toString();
    }

private:
    template <class T>
    requires std::is_integral_v<T>
    void push(T value) { doInt(static_cast<std::int64_t>(value), std::is_signed_v<T>); }
    void push(double value) { doDouble(value); }
    void push(const String& text) { doString(text); }

    enum class Kind { None, Integer, Floating, Character, Text };

    void goToNextFormatField();
    void resetField();
    void copyLiteralText();
    void appendLiteral(std::size_t from, std::size_t to);
    void readFlags();
    void readWidthAndPrecision();
    void readLengthModifier();
    void readConversion();
    int readNumber();

    [[noreturn]] void throwNotMatching(const char* method) const;
    void throwIfWaitingForInteger(const char* method) const;
    [[noreturn]] void throwInvalidFormat() const;
    [[noreturn]] void throwArgError(const char* prefix, const char* method) const;

    void writeInteger(std::uint64_t magnitude, bool negative, bool isSigned);
    void completeSpecification(char conversion);
    void ensureScratch(std::size_t bytes);
    void appendScratch(int length);
    void appendASCII(std::string_view text);

    std::int32_t peek(int ahead = 0) const;
    void skip(int count = 1);

    String m_format;
    std::u32string m_chars;  // the format's characters, for scanning
    int m_position = 0;      // -1 once the format is used up
    std::u32string m_output; // the text built so far
    Kind m_kind = Kind::None;
    char m_conversion = 0;
    bool m_widthFromParameter = false;
    bool m_precisionFromParameter = false;
    int m_width = -1;
    int m_precision = -1;
    bool m_flagZero = false;
    bool m_flagMinus = false;
    bool m_flagHash = false;
    bool m_flagPlus = false;
    bool m_flagBlank = false;
    char m_specification[40] = {};
    int m_specificationLength = 0;
    std::vector<char> m_scratch;
};

} // namespace zelm
