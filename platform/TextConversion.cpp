#include "platform/TextConversion.h"

#include <cstddef>

namespace zelm::ZELM_PLATFORM {

void appendUtf8(std::string& out, char32_t ch) {
    if (ch > 0x10FFFF || isSurrogate(ch)) {
        ch = kReplacementCharacter;
    }
    if (ch < 0x80) {
        out += static_cast<char>(ch);
    } else if (ch < 0x800) {
        out += static_cast<char>(0xC0 | (ch >> 6));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    } else if (ch < 0x10000) {
        out += static_cast<char>(0xE0 | (ch >> 12));
        out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (ch >> 18));
        out += static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    }
}

std::string utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t ch = text[i];
        if (isHighSurrogate(ch) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            ch = 0x10000 + ((ch - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        appendUtf8(out, ch);
    }
    return out;
}

std::string wideToUtf8(std::wstring_view text) {
    if constexpr (sizeof(wchar_t) == 2) {
        return utf16ToUtf8(
            std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
    } else {
        std::string out;
        out.reserve(text.size());
        for (wchar_t ch : text) {
            appendUtf8(out, static_cast<char32_t>(ch));
        }
        return out;
    }
}

} // namespace zelm::ZELM_PLATFORM
