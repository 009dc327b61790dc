#include "zelm/Pathes.h"

#include <gtest/gtest.h>

#include "zelm/Exception.h"

using namespace zelm;

namespace {

// A URI of a scheme that CURI refuses to parse.
class CHttpURI : public CObject, public virtual IURI {
public:
    String getScheme() const override { return String("http"); }
    String getPath() const override { return String("/a.mp3"); }
    String toString() const override { return String("http://host/a.mp3"); }
};

} // namespace

TEST(Pathes, GivesTheDecodedPathOfAFileUri) {
    const P<IURI> uri(new CURI(String("file:///tmp/my%20song.mp3")));
    EXPECT_EQ(getPathes()->getFileSystemPath(uri, 0).toStdString(), "/tmp/my song.mp3");
}

TEST(Pathes, IsOneProcessWideService) {
    EXPECT_EQ(getPathes().get(), getPathes().get());
}

TEST(Pathes, RefusesOtherSchemesMissingUrisAndUnknownOptions) {
    const P<IURI> http(new CHttpURI());
    try {
        getPathes()->getFileSystemPath(http, 0);
        ADD_FAILURE() << "accepted";
    } catch (const CURITypeNotSupportedError& e) {
        EXPECT_EQ(e.getDescription().toStdString(),
                  "This type of URI ('http://host/a.mp3') is not supported.");
    }
    EXPECT_THROW(getPathes()->getFileSystemPath(P<IURI>(), 0), CInvalidArgError);
    const P<IURI> file(new CURI(String("/a.mp3")));
    EXPECT_THROW(getPathes()->getFileSystemPath(file, 1), CInvalidArgError);
}
