// The system ANSI code page: the stand-in for MultiByteToWideChar and
// WideCharToMultiByte with code page 0. Windows-1252 by default; tests may
// switch to ISO-8859-1, which lacks the euro sign.
#pragma once

#include "platform/Platform.h"

#include <cstdint>

namespace zelm::ZELM_PLATFORM {

enum class AnsiCodePage : unsigned {
    Windows1252 = 1252,
    Latin1 = 28591,
};

AnsiCodePage getAnsiCodePage() noexcept;
void setAnsiCodePage(AnsiCodePage codePage) noexcept;

// The one UTF-16 unit of a byte of the system code page.
char16_t ansiToUnicode(std::uint8_t byte) noexcept;
// The byte of a character in the system code page, -1 when it has none.
int unicodeToAnsi(std::uint32_t ch) noexcept;

// Code page 0 (the system code page) or one of AnsiCodePage. Converts
// inputLength bytes (-1: up to and including the terminating zero) to
// UTF-16 units. With outputSize 0 it only counts. Returns the unit count,
// or 0 for an unknown code page or a too small output.
int multiByteToWideChar(unsigned codePage, unsigned flags, const char* input, int inputLength,
                        char16_t* output, int outputSize) noexcept;

} // namespace zelm::ZELM_PLATFORM
