// What the library says about itself: the text of each result code and the
// versions it was built as.
#include "quor/quor.h"

#include <cstdint>

#ifndef QUOR_LIBRARY_VERSION
#error "QUOR_LIBRARY_VERSION names the release being built"
#endif

extern "C" {

QUOR_API const char* Quor_StrError(std::int32_t code) {
    switch (code) {
    case QUOR_OK:
        return "success";
    case QUOR_END:
        return "end of stream";
    case QUOR_ERROR_PARAM:
        return "invalid argument";
    case QUOR_ERROR_UNSUPPORTED:
        return "not supported for this input";
    case QUOR_ERROR_MEMORY:
        return "out of memory";
    case QUOR_ERROR_INTERNAL:
        return "internal decoder error";
    case QUOR_ERROR_DECODE:
        return "not an MPEG audio stream, or damaged beyond recovery";
    case QUOR_ERROR_READ:
        return "read error";
    case QUOR_ERROR_SEEK:
        return "the input cannot seek there";
    case QUOR_ERROR_OPENFILE:
        return "cannot open the file";
    case QUOR_ERROR_WRONGSTATE:
        return "not allowed in the decoder's current state";
    case QUOR_ERROR_NOTAVAILABLE:
        return "not available";
    case QUOR_ERROR_INCOMPATIBLEVERSION:
        return "interface version newer than this library";
    case QUOR_ERROR_NOAUDIO:
        return "no audio found";
    default:
        return "unknown result code";
    }
}

QUOR_API std::int32_t Quor_GetVersion(void) {
    return QUOR_VERSION;
}

QUOR_API const char* Quor_GetVersionString(void) {
    return QUOR_LIBRARY_VERSION;
}

} // extern "C"
