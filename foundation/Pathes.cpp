#include "zelm/Pathes.h"

#include <string>

#include "zelm/Exception.h"
#include "zelm/GlobalObjFactory.h"

namespace zelm {

String CPathes::getFileSystemPath(const P<IURI>& uri, int options) const {
    if (!uri) {
        throw CInvalidArgError("uri is missing", "CPathes::getFileSystemPath");
    }
    if (options != 0) {
        throw CInvalidArgError(String("options '") + String::fromUTF8(std::to_string(options)) +
                                   "'",
                               "CPathes::getFileSystemPath");
    }
    if (!(uri->getScheme() == "file")) {
        throw CURITypeNotSupportedError(uri);
    }
    return uri->getPath();
}

P<IPathes>& getPathes() {
    static const char marker = 0;
    return getGlobalObject<IPathes>(&marker, [] { return P<IPathes>(new CPathes()); });
}

} // namespace zelm
