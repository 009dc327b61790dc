#include "TESKError.h"

#include <array>

#include <zelm/DebugOutput.h>

namespace tesk::quor {

using zelm::String;

CTESKError::CTESKError(const String& message) : CError(message, String("CTESKError")) {
    zelm::debugOutput(message->toUTF16String());
    zelm::debugOutput(String(L"\n"));
}

CTESKError::CTESKError(const CTESKError& other) = default;

zelm::P<zelm::CException> CTESKError::clone() const {
    return zelm::P<zelm::CException>(new CTESKError(*this));
}

const char* getQuorCodeName(int code) {
    // Indexed by 1 - code, for the codes from QUOR_END (1) down to -12.
    static constexpr std::array<const char*, 14> kNames = {
        "QUOR_END",
        nullptr,
        "QUOR_ERROR_PARAM",
        "QUOR_ERROR_UNSUPPORTED",
        "QUOR_ERROR_MEMORY",
        "QUOR_ERROR_INTERNAL",
        "QUOR_ERROR_DECODE",
        "QUOR_ERROR_READ",
        "QUOR_ERROR_SEEK",
        "QUOR_ERROR_OPENFILE",
        "QUOR_ERROR_WRONGSTATE",
        "QUOR_ERROR_NOTAVAILABLE",
        "QUOR_ERROR_INCOMPATIBLEVERSION",
        "QUOR_ERROR_NOAUDIO",
    };
    constexpr int kLowest = 1 - static_cast<int>(kNames.size()) + 1;
    if (code > 1 || code < kLowest || kNames[static_cast<std::size_t>(1 - code)] == nullptr) {
        return "unknown errorcode";
    }
    return kNames[static_cast<std::size_t>(1 - code)];
}

} // namespace tesk::quor
