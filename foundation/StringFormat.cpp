#include "zelm/StringFormat.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "platform/CLocaleFormat.h"
#include "zelm/Exception.h"

namespace zelm {

namespace {

constexpr int kSpecificationFlagsFull = 6; // "%" and five flags
constexpr std::int32_t kReplacementCharacter = 0xFFFD;

bool isFlag(std::int32_t c) {
    return c == '-' || c == '+' || c == '0' || c == ' ' || c == '#';
}

bool isDigit(std::int32_t c) {
    return c >= '0' && c <= '9';
}

bool isUnicodeScalar(std::int32_t c) {
    return c >= 0 && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

int baseOf(char conversion) {
    switch (conversion) {
    case 'x':
    case 'X':
        return 16;
    case 'o':
        return 8;
    default:
        return 10;
    }
}

int digitCount(std::uint64_t magnitude, int base) {
    int count = 0;
    for (; magnitude != 0; magnitude /= static_cast<unsigned>(base)) {
        ++count;
    }
    return count;
}

} // namespace

CStringFormat::CStringFormat(const String& format)
    : m_format(format), m_chars(format.toU32String()) {
    goToNextFormatField();
}

CStringFormat::~CStringFormat() = default;

// --- scanning the format ---------------------------------------------------

std::int32_t CStringFormat::peek(int ahead) const {
    const auto index = static_cast<std::size_t>(m_position + ahead);
    return index < m_chars.size() ? m_chars[index] : -1;
}

void CStringFormat::skip(int count) {
    m_position += count;
}

void CStringFormat::resetField() {
    m_kind = Kind::None;
    m_conversion = 0;
    m_width = -1;
    m_precision = -1;
    m_flagZero = m_flagMinus = m_flagHash = m_flagPlus = m_flagBlank = false;
    m_widthFromParameter = m_precisionFromParameter = false;
    m_specification[0] = '%';
    m_specificationLength = 1;
}

void CStringFormat::goToNextFormatField() {
    if (m_position < 0) {
        return;
    }
    resetField();
    copyLiteralText();
    if (m_position < 0) {
        return;
    }
    readFlags();
    readWidthAndPrecision();
    readLengthModifier();
    readConversion();
}

// Copies the text up to the next lone "%" into the output, turning each "%%"
// into one "%", and leaves the position after that "%" (or -1 at the end).
void CStringFormat::copyLiteralText() {
    auto from = static_cast<std::size_t>(m_position);
    for (;;) {
        const std::size_t percent = m_chars.find(U'%', from);
        if (percent == std::u32string::npos) {
            appendLiteral(from, m_chars.size());
            m_position = -1;
            return;
        }
        const bool doubled = percent + 1 < m_chars.size() && m_chars[percent + 1] == U'%';
        appendLiteral(from, doubled ? percent + 1 : percent);
        if (!doubled) {
            m_position = static_cast<int>(percent + 1);
            return;
        }
        from = percent + 2;
    }
}

void CStringFormat::appendLiteral(std::size_t from, std::size_t to) {
    m_output.append(m_chars, from, to - from);
}

void CStringFormat::readFlags() {
    while (isFlag(peek())) {
        if (m_specificationLength >= kSpecificationFlagsFull) {
            throwArgError("too many field flags specified in '",
                          "CStringFormat::goToNextFormatField");
        }
        const auto flag = static_cast<char>(peek());
        m_flagMinus |= flag == '-';
        m_flagPlus |= flag == '+';
        m_flagZero |= flag == '0';
        m_flagBlank |= flag == ' ';
        m_flagHash |= flag == '#';
        m_specification[m_specificationLength++] = flag;
        skip();
    }
}

// A run of decimal digits; a value beyond the range of int is no valid field.
int CStringFormat::readNumber() {
    int value = 0;
    while (isDigit(peek())) {
        const int digit = peek() - '0';
        if (value > (INT_MAX - digit) / 10) {
            throwInvalidFormat();
        }
        value = value * 10 + digit;
        skip();
    }
    return value;
}

void CStringFormat::readWidthAndPrecision() {
    if (peek() == '*') {
        m_widthFromParameter = true;
        skip();
    } else if (isDigit(peek())) {
        m_width = readNumber();
    }
    if (peek() != '.') {
        return;
    }
    skip();
    if (peek() == '*') {
        m_precisionFromParameter = true;
        skip();
    } else {
        m_precision = readNumber();
    }
}

void CStringFormat::readLengthModifier() {
    const std::int32_t c = peek();
    if (c == 'l' || c == 'h') {
        skip(peek(1) == c ? 2 : 1);
    } else if (c == 'L' || c == 'z' || c == 'j' || c == 't') {
        skip();
    } else if (c == 'I') {
        if (peek(1) != '6' || peek(2) != '4') {
            throwInvalidFormat();
        }
        skip(3);
    }
}

void CStringFormat::readConversion() {
    const std::int32_t c = peek();
    switch (c) {
    case 'c':
    case 'C':
        m_kind = Kind::Character;
        break;
    case 'd':
    case 'i':
    case 'o':
    case 'u':
    case 'x':
    case 'X':
        m_kind = Kind::Integer;
        break;
    case 'e':
    case 'E':
    case 'f':
    case 'g':
    case 'G':
        m_kind = Kind::Floating;
        break;
    case 's':
    case 'S':
        m_kind = Kind::Text;
        break;
    default:
        throwInvalidFormat();
    }
    m_conversion = static_cast<char>(c);
    skip();
}

// --- errors ----------------------------------------------------------------

void CStringFormat::throwArgError(const char* prefix, const char* method) const {
    throw CInvalidArgError(String(prefix) + m_format + "'", String(method));
}

void CStringFormat::throwInvalidFormat() const {
    throwArgError("invalid format string in '", "CStringFormat::goToNextFormatField");
}

void CStringFormat::throwNotMatching(const char* method) const {
    throwArgError("argument does not match the field's format specification for '", method);
}

void CStringFormat::throwIfWaitingForInteger(const char* method) const {
    if (m_widthFromParameter) {
        throwArgError("expected integer value (field width) in '", method);
    }
    if (m_precisionFromParameter) {
        throwArgError("expected integer value (field precision) in '", method);
    }
}

// --- pushing parameters ----------------------------------------------------

void CStringFormat::doInt(std::int64_t value, bool isSigned) {
    if (m_widthFromParameter || m_precisionFromParameter) {
        const bool negative = isSigned && value < 0;
        const bool tooLarge =
            isSigned ? value > INT_MAX : static_cast<std::uint64_t>(value) > INT_MAX;
        const int amount = negative ? 0 : (tooLarge ? INT_MAX : static_cast<int>(value));
        if (m_widthFromParameter) {
            m_width = amount;
            m_widthFromParameter = false;
        } else {
            m_precision = amount;
            m_precisionFromParameter = false;
        }
        return;
    }
    if (m_kind == Kind::Floating) {
        doDouble(isSigned ? static_cast<double>(value)
                          : static_cast<double>(static_cast<std::uint64_t>(value)));
        return;
    }
    if (m_kind == Kind::Character) {
        doChar(static_cast<std::int32_t>(value));
        return;
    }
    if (m_kind != Kind::Integer) {
        throwNotMatching("CStringFormat::doInt");
    }
    const bool readSigned = isSigned && baseOf(m_conversion) == 10;
    const bool negative = readSigned && value < 0;
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    writeInteger(magnitude, negative, readSigned);
    goToNextFormatField();
}

void CStringFormat::writeInteger(std::uint64_t magnitude, bool negative, bool isSigned) {
    const int base = baseOf(m_conversion);
    const char* digits = m_conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string prefix;
    if (m_flagHash && base == 16) {
        prefix = m_conversion == 'X' ? "0X" : "0x";
    } else if (m_flagHash && base == 8) {
        prefix = "0";
    }
    const int digitsNeeded =
        std::max(digitCount(magnitude, base), m_precision < 0 ? 1 : m_precision);
    int count = digitsNeeded + static_cast<int>(prefix.size());
    int leftSpaces = 0;
    int rightSpaces = 0;
    if (count < m_width) {
        if (m_flagMinus) {
            rightSpaces = m_width - count;
        } else if (m_flagZero) {
            count = m_width;
        } else {
            leftSpaces = m_width - count;
        }
    }
    std::string text(static_cast<std::size_t>(leftSpaces), ' ');
    if (isSigned && negative) {
        text += '-';
    } else if (isSigned && m_flagPlus) {
        text += '+';
    } else if (isSigned && m_flagBlank) {
        text += ' ';
    }
    text += prefix;
    std::string number;
    for (; magnitude != 0; magnitude /= static_cast<unsigned>(base)) {
        number += digits[magnitude % static_cast<unsigned>(base)];
    }
    const auto padded = static_cast<std::size_t>(count) - prefix.size();
    number.append(padded > number.size() ? padded - number.size() : 0, '0');
    text.append(number.rbegin(), number.rend());
    text.append(static_cast<std::size_t>(rightSpaces), ' ');
    appendASCII(text);
}

void CStringFormat::completeSpecification(char conversion) {
    std::string tail;
    if (m_width >= 0) {
        tail += std::to_string(m_width);
    }
    if (m_precision >= 0) {
        tail += '.' + std::to_string(m_precision);
    }
    tail += conversion;
    std::memcpy(m_specification + m_specificationLength, tail.c_str(), tail.size() + 1);
    m_specificationLength += static_cast<int>(tail.size());
}

void CStringFormat::ensureScratch(std::size_t bytes) {
    if (m_scratch.size() < bytes) {
        m_scratch.resize(bytes);
    }
}

void CStringFormat::appendScratch(int length) {
    appendASCII(std::string_view(m_scratch.data(), static_cast<std::size_t>(length)));
}

void CStringFormat::doDouble(double value) {
    throwIfWaitingForInteger("CStringFormat::doDouble");
    if (m_kind != Kind::Floating) {
        throwNotMatching("CStringFormat::doDouble");
    }
    completeSpecification(m_conversion);
    const bool fixed = m_conversion == 'f';
    const bool exponent = m_conversion == 'e' || m_conversion == 'E';
    const int widest = std::max(m_width, exponent ? 1 : 308);
    ensureScratch(static_cast<std::size_t>(m_precision >= 0 ? m_precision : 20) + 1 +
                  static_cast<std::size_t>(widest) + (fixed ? 0 : 21) + 21);
    int length = platform::formatDouble(m_scratch.data(), m_scratch.size(), m_specification, value);
    if (length >= static_cast<int>(m_scratch.size())) {
        ensureScratch(static_cast<std::size_t>(length) + 1);
        length = platform::formatDouble(m_scratch.data(), m_scratch.size(), m_specification, value);
    }
    appendScratch(length);
    goToNextFormatField();
}

void CStringFormat::doChar(std::int32_t character) {
    if (m_kind == Kind::Integer || m_widthFromParameter || m_precisionFromParameter) {
        doInt(character, true);
        return;
    }
    if (m_kind != Kind::Character) {
        throwNotMatching("CStringFormat::doChar");
    }
    if (character >= 0 && character < 0x80) {
        completeSpecification('c');
        ensureScratch(static_cast<std::size_t>(std::max(m_width, 1)) + 21);
        const int length = platform::formatCharacter(m_scratch.data(), m_scratch.size(),
                                                     m_specification, static_cast<char>(character));
        appendScratch(length);
        goToNextFormatField();
        return;
    }
    m_kind = Kind::Text;
    doString(String::fromChar(isUnicodeScalar(character) ? character : kReplacementCharacter));
}

void CStringFormat::doString(const String& text) {
    throwIfWaitingForInteger("CStringFormat::doString");
    if (m_kind != Kind::Text) {
        throwNotMatching("CStringFormat::doString");
    }
    const std::u32string chars = text.toU32String();
    const auto length = static_cast<std::ptrdiff_t>(chars.size());
    if (m_precision >= 0 && length > m_precision) {
        m_output.append(chars, 0, static_cast<std::size_t>(m_precision));
        goToNextFormatField();
        return;
    }
    const auto fillCount = static_cast<std::size_t>(m_width > length ? m_width - length : 0);
    const char32_t fill = m_flagZero ? U'0' : U' ';
    if (m_flagMinus) {
        m_output += chars;
        m_output.append(fillCount, fill);
    } else {
        m_output.append(fillCount, fill);
        m_output += chars;
    }
    goToNextFormatField();
}

void CStringFormat::appendASCII(std::string_view text) {
    m_output.append(text.begin(), text.end());
}

String CStringFormat::toString() const {
    if (m_kind != Kind::None || m_widthFromParameter || m_precisionFromParameter) {
        throw CInvalidObjectStateError(
            "CStringFormat: not all parameters have been pushed in yet.");
    }
    return String::fromUTF32(m_output);
}

} // namespace zelm
