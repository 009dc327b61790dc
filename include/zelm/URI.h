// URIs. A URI names a resource; toString answers its text form, which is what
// log lines and error messages quote. CURI understands "file:" URIs
// ("file:///abs/path", "file:/abs/path", "file://localhost/abs/path") and
// plain absolute or relative file-system paths; any other scheme is refused
// with CURITypeNotSupportedError, malformed text with CURIFormatError.
#pragma once

#include <zelm/Export.h>

#include "zelm/Object.h"
#include "zelm/String.h"

namespace zelm {

class ZELM_API IURI : public virtual IBase {
public:
    // The scheme in lower case, such as "file".
    virtual String getScheme() const = 0;
    // The path with every percent escape decoded; for a file URI the
    // absolute file-system path, whose bytes (String::toUTF8Bytes) name the
    // file even where they are not UTF-8.
    virtual String getPath() const = 0;
};

class ZELM_API CURI : public CObject, public virtual IURI {
public:
    // Parses a URI or a plain path. A relative path is taken from the current
    // working directory at the time of parsing.
    explicit CURI(const String& text);

    // The file URI of a file-system path; every character of the path is
    // part of the name (no scheme is looked for, "%" is not an escape).
    static P<CURI> fromPath(const String& path);

    String getScheme() const override;
    String getPath() const override;
    // "file://" followed by the path, percent-encoded where needed.
    String toString() const override;

private:
    struct FromPath {};
    CURI(FromPath, const String& path);

    String m_scheme;
    String m_path;
    String m_text;
};

} // namespace zelm
