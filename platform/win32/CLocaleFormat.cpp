// Windows has no per-thread locale switch for the C library's formatting:
// the field is formatted in the current locale, and its decimal separator
// replaced by ".".
#include "platform/CLocaleFormat.h"

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

namespace zelm::win32 {
namespace {

// text with the current locale's decimal separator replaced by ".".
std::string withDecimalPoint(std::string text) {
    const std::lconv* conventions = std::localeconv();
    const char* separator = conventions != nullptr ? conventions->decimal_point : nullptr;
    if (separator == nullptr || *separator == '\0' || std::strcmp(separator, ".") == 0) {
        return text;
    }
    const std::size_t at = text.find(separator);
    if (at == std::string::npos) {
        return text;
    }
    return text.substr(0, at) + "." + text.substr(at + std::strlen(separator));
}

template <typename Value>
int formatInCLocale(char* buffer, std::size_t size, const char* specification, Value value) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int length = std::snprintf(nullptr, 0, specification, value);
    if (length <= 0) {
        return 0;
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), specification, value);
#pragma GCC diagnostic pop
    text.resize(static_cast<std::size_t>(length));
    text = withDecimalPoint(std::move(text));
    if (size > 0) {
        const std::size_t kept = text.size() < size ? text.size() : size - 1;
        std::memcpy(buffer, text.data(), kept);
        buffer[kept] = '\0';
    }
    return static_cast<int>(text.size());
}

} // namespace

int formatDouble(char* buffer, std::size_t size, const char* specification, double value) {
    return formatInCLocale(buffer, size, specification, value);
}

int formatCharacter(char* buffer, std::size_t size, const char* specification, char character) {
    return formatInCLocale(buffer, size, specification, static_cast<int>(character));
}

} // namespace zelm::win32
