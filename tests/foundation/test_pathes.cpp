#include "zelm/Pathes.h"

#include <gtest/gtest.h>

#include "zelm/URI.h"

using namespace zelm;

TEST(Pathes, GivesTheDecodedPathOfAFileUri) {
    const P<IURI> uri(new CURI(String("file:///tmp/my%20song.mp3")));
    EXPECT_EQ(getPathes()->getFileSystemPath(uri, 0).toStdString(), "/tmp/my song.mp3");
}
