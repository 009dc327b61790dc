// The path service: turns URIs into file-system paths. One process-wide
// instance, created on first use by the global-object registry.
#pragma once

#include <zelm/Export.h>

#include "zelm/Object.h"
#include "zelm/String.h"
#include "zelm/URI.h"

namespace zelm {

class ZELM_API IPathes : public virtual IBase {
public:
    // The file-system path of a file URI. options must be 0 (no other options
    // are known). A URI of another scheme is refused with
    // CURITypeNotSupportedError, a missing URI or unknown options with
    // CInvalidArgError.
    virtual String getFileSystemPath(const P<IURI>& uri, int options) const = 0;
};

class ZELM_API CPathes : public CObject, public virtual IPathes {
public:
    String getFileSystemPath(const P<IURI>& uri, int options) const override;
};

// The process-wide path service.
ZELM_API P<IPathes>& getPathes();

} // namespace zelm
