#include "platform/CodePage.h"

#include <array>
#include <atomic>
#include <cstddef>

#if defined(_WIN32)
#include "platform/win32/Windows.h"
#endif

namespace zelm::ZELM_PLATFORM {
namespace {

std::atomic<AnsiCodePage> g_codePage{AnsiCodePage::Windows1252};

// Windows-1252 bytes 0x80 to 0x9F; the five bytes that the code page leaves
// undefined convert to the C1 control of the same value.
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool isKnown(unsigned codePage) {
    return codePage == 0 || codePage == static_cast<unsigned>(AnsiCodePage::Windows1252) ||
           codePage == static_cast<unsigned>(AnsiCodePage::Latin1);
}

AnsiCodePage resolve(unsigned codePage) {
    return codePage == 0 ? getAnsiCodePage() : static_cast<AnsiCodePage>(codePage);
}

char16_t toUnicode(AnsiCodePage codePage, std::uint8_t byte) {
    if (codePage == AnsiCodePage::Windows1252 && byte >= 0x80 && byte < 0xA0) {
        return kWindows1252High[byte - 0x80];
    }
    return byte;
}

} // namespace

AnsiCodePage getAnsiCodePage() noexcept {
    return g_codePage.load();
}

void setAnsiCodePage(AnsiCodePage codePage) noexcept {
    g_codePage.store(codePage);
}

char16_t ansiToUnicode(std::uint8_t byte) noexcept {
    return toUnicode(getAnsiCodePage(), byte);
}

int unicodeToAnsi(std::uint32_t ch) noexcept {
    if (getAnsiCodePage() == AnsiCodePage::Latin1 || ch < 0x80 || (ch >= 0xA0 && ch < 0x100)) {
        return ch < 0x100 ? static_cast<int>(ch) : -1;
    }
    for (std::size_t i = 0; i < kWindows1252High.size(); ++i) {
        if (kWindows1252High[i] == ch) {
            return static_cast<int>(0x80 + i);
        }
    }
    return -1;
}

int multiByteToWideChar(unsigned codePage, unsigned /*flags*/, const char* input, int inputLength,
                        char16_t* output, int outputSize) noexcept {
    if (!isKnown(codePage) || input == nullptr || outputSize < 0) {
        return 0;
    }
    int length = inputLength;
    if (length < 0) {
        length = 0;
        while (input[length] != 0) {
            ++length;
        }
        ++length;
    }
    if (outputSize == 0) {
        return length;
    }
    if (outputSize < length) {
        return 0;
    }
    const AnsiCodePage resolved = resolve(codePage);
#if defined(_WIN32)
    return ::MultiByteToWideChar(static_cast<unsigned>(resolved), 0, input, length,
                                 reinterpret_cast<wchar_t*>(output), outputSize);
#else
    for (int i = 0; i < length; ++i) {
        output[i] = toUnicode(resolved, static_cast<std::uint8_t>(input[i]));
    }
    return length;
#endif
}

} // namespace zelm::ZELM_PLATFORM
