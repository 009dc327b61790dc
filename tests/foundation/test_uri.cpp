#include "zelm/URI.h"

#include <gtest/gtest.h>

#include <string>

#include "zelm/Exception.h"

using namespace zelm;

namespace {

std::string pathOf(const char* text) {
    return CURI(String::fromUTF8(text)).getPath().toStdString();
}

std::string textOf(const char* text) {
    return CURI(String::fromUTF8(text)).toString().toStdString();
}

} // namespace

TEST(URI, FileUriFormsGiveTheSamePathAndText) {
    for (const char* text :
         {"file:///music/a.mp3", "file:/music/a.mp3", "file://localhost/music/a.mp3",
          "FILE:///music/a.mp3", "/music/a.mp3"}) {
        SCOPED_TRACE(text);
        const CURI uri{String(text)};
        EXPECT_EQ(uri.getScheme().toStdString(), "file");
        EXPECT_EQ(uri.getPath().toStdString(), "/music/a.mp3");
        EXPECT_EQ(uri.toString().toStdString(), "file:///music/a.mp3");
    }
}

TEST(URI, PercentEscapesAreDecodedInThePathAndWrittenInTheText) {
    EXPECT_EQ(pathOf("file:///my%20music/%C3%A9t%C3%A9%23%25.mp3"),
              "/my music/\xC3\xA9t\xC3\xA9#%.mp3");
    EXPECT_EQ(pathOf("file:///a%2fb%41"), "/a/bA");
    EXPECT_EQ(textOf("/my music/\xC3\xA9t\xC3\xA9#%.mp3"),
              "file:///my%20music/%C3%A9t%C3%A9%23%25.mp3");
    EXPECT_EQ(textOf("/keep-._~!$&'()*+,;=:@/x"), "file:///keep-._~!$&'()*+,;=:@/x");
    // A file name is bytes: a Latin-1 name goes both ways unchanged.
    const CURI latin1(String("file:///lat%E9.mp3"));
    EXPECT_EQ(latin1.getPath().toUTF8Bytes() + latin1.toString().toStdString(),
              "/lat\xE9.mp3file:///lat%E9.mp3");
    EXPECT_EQ(CURI::fromPath(String::fromUTF8("/lat\xE9.mp3"))->toString().toStdString(),
              "file:///lat%E9.mp3");
}

TEST(URI, OtherSchemesAreRefusedNamingTheUri) {
    for (const char* text :
         {"http://example.com/a.mp3", "ftp:/a.mp3", "urn:isbn:1234", "file://server/share/a.mp3"}) {
        SCOPED_TRACE(text);
        try {
            CURI uri{String(text)};
            ADD_FAILURE() << "accepted";
        } catch (const CURITypeNotSupportedError& e) {
            EXPECT_NE(e.getDescription().toStdString().find(text), std::string::npos)
                << e.getDescription().toStdString();
            ASSERT_TRUE(e.getURI());
            EXPECT_EQ(e.getURI()->toString().toStdString(), text);
        }
    }
}

TEST(URI, MalformedTextIsRefused) {
    for (const char* text : {"", "file:", "file:relative.mp3", "file://", "file:///a%2",
                             "file:///a%g1", "file:///a%00b", "file:///a?x=1", "file:///a#frag"}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(CURI{String(text)}, CURIFormatError);
    }
}
