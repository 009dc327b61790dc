#include "zelm/Exception.h"

#include <gtest/gtest.h>

#include <string>

#include "zelm/StringLocalizer.h"

using namespace zelm;

namespace {

std::string nameOf(const CException& e) {
    return e.getName().toStdString();
}

std::string descriptionOf(const CException& e) {
    return e.getDescription().toStdString();
}

const String kNull = String(kNullString);

} // namespace

// Named (not anonymous) so that the class names in the expected texts are stable.
namespace exception_test {

// A URI as the URI errors see it: an object whose text form is the URI.
class CTestURI : public CObject, public virtual IURI {
public:
    explicit CTestURI(const char* text) : m_text(text) {}
    String getScheme() const override { return String("test"); }
    String getPath() const override { return m_text; }
    String toString() const override { return m_text; }

private:
    String m_text;
};

P<IURI> uri(const char* text) {
    return P<IURI>(new CTestURI(text));
}

class CTestThing : public CObject {};

} // namespace exception_test

using exception_test::CTestThing;
using exception_test::uri;

TEST(ExceptionBasics, ErrorDefaultsApplyToNullTextsOnly) {
    const CError unnamed(kNull, kNull);
    EXPECT_EQ(nameOf(unnamed), "Error");
    EXPECT_EQ(descriptionOf(unnamed), "Unspecified error");

    const CError empty("", "");
    EXPECT_EQ(nameOf(empty), "");
    EXPECT_EQ(descriptionOf(empty), "");

    const CError given("it broke", "Breakage");
    EXPECT_EQ(nameOf(given), "Breakage");
    EXPECT_EQ(descriptionOf(given), "it broke");
}

TEST(ExceptionBasics, WhatGivesTheDescriptionInTheSystemCodePage) {
    const CException narrow("plain text", "N");
    EXPECT_STREQ(narrow.what(), "plain text");

    const CError wide(L"caf\u00e9 \u20ac5", kNull);
    EXPECT_STREQ(wide.what(), "caf\xe9 \x80"
                              "5");
    const std::exception& asStandard = wide;
    EXPECT_STREQ(asStandard.what(), wide.what());
}

TEST(ExceptionBasics, CloneIsAPlainExceptionWithTheSameTexts) {
    const CFileNotFoundError original(uri("file:///a.mp3"));
    const P<CException> clone = original.clone();
    ASSERT_TRUE(clone);
    EXPECT_EQ(nameOf(*clone), "FileNotFoundError");
    EXPECT_EQ(descriptionOf(*clone), descriptionOf(original));
    EXPECT_EQ(clone->getRefCount(), 1);
    EXPECT_EQ(dynamic_cast<CFileNotFoundError*>(clone.get()), nullptr);
}

TEST(ExceptionBasics, OutOfMemoryAndSimpleErrors) {
    EXPECT_EQ(nameOf(COutOfmemoryException()), "OutOfMemory");
    EXPECT_EQ(descriptionOf(COutOfmemoryException()), "Unspecified error");
    EXPECT_EQ(nameOf(CParseError("bad token")), "Parse error");
    EXPECT_EQ(descriptionOf(CParseError("bad token")), "bad token");
    EXPECT_EQ(nameOf(CJsonParserError("x")), "JSONParser Error");
    EXPECT_EQ(nameOf(CInvalidVolumeIDError("C7")), "Invalid Volume ID Error");
    EXPECT_EQ(descriptionOf(CInvalidVolumeIDError("C7")), "Invalid volume id: C7");
}

TEST(ExceptionObjectErrors, CallerTextIsNeverTakenForAPlaceholder) {
    EXPECT_EQ(descriptionOf(CInvalidArgError("bad '%OBJECTDESC%'", "f")),
              "An invalid argument was passed to method 'f' of '': bad '%OBJECTDESC%'");
}

TEST(ExceptionURIErrors, FileNotFoundQuotesTheURI) {
    const CFileNotFoundError error(uri("file:///music/a.mp3"));
    EXPECT_EQ(nameOf(error), "FileNotFoundError");
    EXPECT_EQ(descriptionOf(error), "The file 'file:///music/a.mp3' was not found.");
    EXPECT_EQ(descriptionOf(CFileNotFoundError()), "The file was not found.");
    EXPECT_EQ(descriptionOf(CFileNotFoundError(uri("a"), "Check the name.")),
              "The file 'a' was not found. Check the name.");
    EXPECT_EQ(error.getURI()->toString().toStdString(), "file:///music/a.mp3");
}
