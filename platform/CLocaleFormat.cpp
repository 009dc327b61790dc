#include "platform/CLocaleFormat.h"

#include <clocale>
#include <cstdio>
#include <locale.h>

namespace zelm::posix {

namespace {

// The process-wide C locale object, made once and kept for the process' life.
locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", nullptr);
    return locale;
}

// snprintf under the C locale on this thread, restoring the thread's locale.
template <typename Value>
int formatInCLocale(char* buffer, std::size_t size, const char* specification, Value value) {
    const locale_t c = cLocale();
    const locale_t previous = c != nullptr ? uselocale(c) : nullptr;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int length = std::snprintf(buffer, size, specification, value);
#pragma GCC diagnostic pop
    if (previous != nullptr) {
        uselocale(previous);
    }
    return length < 0 ? 0 : length;
}

} // namespace

int formatDouble(char* buffer, std::size_t size, const char* specification, double value) {
    return formatInCLocale(buffer, size, specification, value);
}

int formatCharacter(char* buffer, std::size_t size, const char* specification, char character) {
    return formatInCLocale(buffer, size, specification, static_cast<int>(character));
}

} // namespace zelm::posix
