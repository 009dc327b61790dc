// The plug-in's error type. Every message it is constructed with is also
// written to the debugger output, followed by a line feed of its own.
#pragma once

#include <zelm/Exception.h>

namespace tesk::quor {

class CTESKError : public zelm::CError {
public:
    explicit CTESKError(const zelm::String& message);
    // Copies name and description; writes nothing to the debugger output.
    CTESKError(const CTESKError& other);

    zelm::P<zelm::CException> clone() const override;
};

// The name of a QUOR_ result code, "unknown errorcode" for any other value.
const char* getQuorCodeName(int code);

} // namespace tesk::quor
