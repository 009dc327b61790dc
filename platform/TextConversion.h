// Conversions between the platform's wide texts and its native UTF-8.
// Unpaired surrogates and values outside Unicode become U+FFFD.
#pragma once

#include "platform/Platform.h"

#include <string>
#include <string_view>

namespace zelm::ZELM_PLATFORM {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

constexpr bool isSurrogate(char32_t ch) {
    return ch >= 0xD800 && ch <= 0xDFFF;
}
constexpr bool isHighSurrogate(char32_t ch) {
    return ch >= 0xD800 && ch <= 0xDBFF;
}
constexpr bool isLowSurrogate(char32_t ch) {
    return ch >= 0xDC00 && ch <= 0xDFFF;
}

void appendUtf8(std::string& out, char32_t ch);
std::string utf16ToUtf8(std::u16string_view text);
// wchar_t text in the platform's wide encoding (UTF-32 on Linux).
std::string wideToUtf8(std::wstring_view text);

} // namespace zelm::ZELM_PLATFORM
