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

TEST(ExceptionBasics, CopiesShareTextsAndAreFreshObjects) {
    const CError original("desc", "Name");
    const CError copy(original);
    EXPECT_EQ(copy.getDescription().getObject().get(), original.getDescription().getObject().get());
    EXPECT_EQ(copy.getName().getObject().get(), original.getName().getObject().get());
    EXPECT_EQ(copy.getRefCount(), 1);
    EXPECT_STREQ(copy.what(), "desc");
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

TEST(ExceptionObjectErrors, ObjectTextNamesObjectOrClass) {
    const P<IBase> thing(new CTestThing());
    EXPECT_EQ(nameOf(CObjectError(thing)), "Object error");
    EXPECT_EQ(descriptionOf(CObjectError(thing)),
              "object: class exception_test::CTestThing object");
    EXPECT_EQ(descriptionOf(CObjectError(P<IBase>(), &typeid(CTestThing))),
              "object class: class exception_test::CTestThing");
    EXPECT_EQ(descriptionOf(CObjectError()), "unknown object");
    EXPECT_EQ(descriptionOf(CObjectError(thing, nullptr, "trouble with %OBJECTDESC% here")),
              "trouble with object: class exception_test::CTestThing object here");
    EXPECT_EQ(descriptionOf(CObjectError(P<IBase>(), nullptr, "%OBJECTDESC%/%OBJECTDESC%")),
              "unknown object/unknown object");
}

TEST(ExceptionObjectErrors, InvalidArgumentDescription) {
    EXPECT_EQ(descriptionOf(CInvalidArgError("", "")),
              "An invalid argument was passed to method 'unspecified method' of '': "
              "unspecified argument");
    EXPECT_EQ(descriptionOf(CInvalidArgError("size is negative", "CMemoryManager::allocate")),
              "An invalid argument was passed to method 'CMemoryManager::allocate' of '': "
              "size is negative");
    EXPECT_EQ(descriptionOf(CInvalidArgError("x", "M::m", P<IBase>(), &typeid(CTestThing))),
              "An invalid argument was passed to method 'M::m' of 'object class: class "
              "exception_test::CTestThing': x");
    EXPECT_EQ(nameOf(CInvalidArgError()), "Object error");
}

TEST(ExceptionObjectErrors, CallerTextIsNeverTakenForAPlaceholder) {
    EXPECT_EQ(descriptionOf(CInvalidArgError("bad '%OBJECTDESC%'", "f")),
              "An invalid argument was passed to method 'f' of '': bad '%OBJECTDESC%'");
}

TEST(ExceptionObjectErrors, InvalidStateDescriptionKeepsStateText) {
    const CInvalidObjectStateError error("closed");
    EXPECT_EQ(descriptionOf(error), "The object is in an invalid state (): closed.");
    EXPECT_EQ(error.getStateText().toStdString(), "closed");
    const P<IBase> thing(new CTestThing());
    EXPECT_EQ(descriptionOf(CInvalidObjectStateError("closed", thing)),
              "The object is in an invalid state (object: class exception_test::CTestThing "
              "object): closed.");
}

TEST(ExceptionObjectErrors, EndOfEnumerationMethodAndCast) {
    EXPECT_EQ(descriptionOf(CEndOfEnumError()),
              "The object is in an invalid state (): end of enumeration already reached.");
    EXPECT_EQ(descriptionOf(CMethodNotImplementedError()),
              "Method not implemented (): unspecified method.");
    EXPECT_EQ(descriptionOf(CMethodNotImplementedError("ISource::seek")),
              "Method not implemented (): ISource::seek.");
    const CCastError cast(typeid(CTestThing), typeid(CStringLocalizer));
    EXPECT_EQ(nameOf(cast), "Cast error");
    EXPECT_EQ(descriptionOf(cast), "Error casting a 'class exception_test::CTestThing' object to "
                                   "'class zelm::CStringLocalizer'.");
}

TEST(ExceptionObjectErrors, LocalisedTexts) {
    EXPECT_EQ(descriptionOf(CNoSuchObjectError()), "No such object.");
    EXPECT_EQ(nameOf(CNoSuchObjectError()), "Error");
    EXPECT_EQ(nameOf(CNoSuchObjectError("Missing")), "Missing");
    EXPECT_EQ(descriptionOf(CReadOnlyError("the settings")),
              "The object (the settings) is read-only and cannot be changed.");
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

TEST(ExceptionURIErrors, URIFormatAndType) {
    EXPECT_EQ(descriptionOf(CURIFormatError(uri("::x"))), "The URI ('::x') has an invalid format.");
    EXPECT_EQ(descriptionOf(CURIFormatError()), "The URI has an invalid format.");
    EXPECT_EQ(descriptionOf(CURITypeNotSupportedError(uri("http://a"))),
              "This type of URI ('http://a') is not supported.");
    EXPECT_EQ(descriptionOf(CURITypeNotSupportedError()), "This type URI is not supported.");
    EXPECT_EQ(nameOf(CURITypeNotSupportedError()), "Error");
    EXPECT_EQ(nameOf(CURITypeNotSupportedError(P<IURI>(), "Unsupported")), "Unsupported");
}

TEST(ExceptionURIErrors, GeneralURIErrorFillsItsPlaceholder) {
    EXPECT_EQ(descriptionOf(CURIError(uri("x:y"), "at %URI%: %URI%")), "at x:y: x:y");
    EXPECT_EQ(descriptionOf(CURIError(P<IURI>(), "at %URI%")), "at <uri unknown>");
    EXPECT_EQ(descriptionOf(CURIError(P<IURI>(), kNull)), "Unspecified error");
    EXPECT_FALSE(CURIError(P<IURI>(), "x").getURI());
    EXPECT_EQ(descriptionOf(CURIError(uri("%URI%"), "<%URI%>")), "<%URI%>");
}

TEST(ExceptionURIErrors, FilesAndStreams) {
    EXPECT_EQ(nameOf(CFileError(uri("a"), "bad %URI%")), "FileError");
    EXPECT_EQ(descriptionOf(CFileError(uri("a"), "bad %URI%")), "bad a");
    EXPECT_EQ(nameOf(CFileAccessDeniedError(uri("b"))), "FileAccessDeniedError");
    EXPECT_EQ(descriptionOf(CFileAccessDeniedError(uri("b"))),
              "The access of the file 'b' was denied.");
    EXPECT_EQ(descriptionOf(CFileAccessDeniedError()),
              "The access of the file '<uri unknown>' was denied.");
    EXPECT_EQ(descriptionOf(CStreamError(uri("s"), "%URI% failed")), "s failed");
    EXPECT_EQ(descriptionOf(CStreamClosedError()), "The stream has been closed.");
    EXPECT_EQ(descriptionOf(CEndOfStreamError()), "Unexpected end of data stream.");
    EXPECT_EQ(descriptionOf(CEndOfStreamError(uri("mem:1"))),
              "Unexpected end of data stream (uri: 'mem:1').");
}

TEST(ExceptionLocalisation, TranslationReplacesTheDefaultAndMayReorderPlaceholders) {
    const P<CStringLocalizer>& localizer = getStringLocalizer();
    localizer->setText("zelm.CFileNotFoundError.Desc", "Datei fehlt: %FILE% (%FILE%)");
    localizer->setText("zelm.CEndOfEnumError.desc", "fertig");
    const std::string notFound = descriptionOf(CFileNotFoundError(uri("a.mp3")));
    const std::string endOfEnum = descriptionOf(CEndOfEnumError());
    localizer->removeText("zelm.CFileNotFoundError.Desc");
    localizer->removeText("zelm.CEndOfEnumError.desc");
    EXPECT_EQ(notFound, "Datei fehlt: a.mp3 (a.mp3)");
    EXPECT_EQ(endOfEnum, "The object is in an invalid state (): fertig.");
    EXPECT_EQ(descriptionOf(CFileNotFoundError(uri("a.mp3"))), "The file 'a.mp3' was not found.");
}
