// The character database: general categories and simple case mappings of
// Unicode 4.0 for the code points below 0x2FA1E, built at library load.
#pragma once

#include <zelm/Export.h>

#include <zelm/CharEncoding.h>

#include <cstdint>

namespace zelm::unicode {

// Category bytes: the high nibble is the major class, the low one the minor.
enum Category : std::uint8_t {
    kUnassigned = 0x00,
    kOtherLetter = 0x10,
    kUppercaseLetter = 0x11,
    kLowercaseLetter = 0x12,
    kTitlecaseLetter = 0x13,
    kModifierLetter = 0x14,
    kNonspacingMark = 0x21,
    kSpacingMark = 0x22,
    kEnclosingMark = 0x23,
    kOtherNumber = 0x30,
    kDecimalDigit = 0x31,
    kOtherPunctuation = 0x40,
    kConnectorPunctuation = 0x41,
    kHyphenPunctuation = 0x42,
    kOpeningPunctuation = 0x43,
    kClosingPunctuation = 0x44,
    kInitialQuote = 0x45,
    kFinalQuote = 0x46,
    kOtherSymbol = 0x50,
    kMathSymbol = 0x51,
    kCurrencySymbol = 0x52,
    kModifierSymbol = 0x53,
    kSpaceSeparator = 0x61,
    kLineSeparator = 0x62,
    kParagraphSeparator = 0x63,
    kControl = 0x71,
    kFormat = 0x72,
    kSurrogate = 0x73,
    kPrivateUse = 0x74,
};

ZELM_API std::uint8_t getCategory(CharCode ch) noexcept;
ZELM_API CharCode toLower(CharCode ch) noexcept;
ZELM_API CharCode toUpper(CharCode ch) noexcept;
ZELM_API CharCode toTitle(CharCode ch) noexcept;
// Whether the tables were built from the compiled-in data at load.
ZELM_API bool isDatabaseBuilt() noexcept;

} // namespace zelm::unicode
