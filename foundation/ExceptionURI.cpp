// The errors that concern a URI: malformed or unsupported URIs, files and
// streams.
#include "zelm/Exception.h"
#include "zelm/StringLocalizer.h"

namespace zelm {

namespace {

// A localised text whose placeholder is filled with the URI's text, or the
// general text when there is no URI.
String uriMessage(const P<IURI>& uri, const char* id, const char* text, const char* placeholder,
                  const char* generalId, const char* generalText) {
    if (!uri) {
        return localize(generalId, generalText);
    }
    return localize(id, text).replace(placeholder, uri->toString());
}

} // namespace

String CURIError::uriText(const P<IURI>& uri) {
    return uri ? uri->toString() : String("<uri unknown>");
}

CURIError::CURIError(const P<IURI>& uri, const String& description, const String& name)
    : CURIError(Composed{}, uri,
                description.isNull() ? description : description.replace("%URI%", uriText(uri)),
                name) {}

CURIError::CURIError(Composed, const P<IURI>& uri, const String& description, const String& name)
    : CError(description, name), m_uri(uri) {}

P<IURI> CURIError::getURI() const {
    return m_uri;
}

CURIFormatError::CURIFormatError(const P<IURI>& uri, const String& name)
    : CURIError(Composed{}, uri,
                uriMessage(uri, "zelm.CURIFormatError.Desc",
                           "The URI ('%URI%') has an invalid format.", "%URI%",
                           "zelm.CURIFormatError.GeneralDesc", "The URI has an invalid format."),
                name) {}

CURITypeNotSupportedError::CURITypeNotSupportedError(const P<IURI>& uri, const String& name)
    : CURIError(Composed{}, uri,
                uriMessage(uri, "zelm.CURITypeNotSupportedError.Desc",
                           "This type of URI ('%URI%') is not supported.", "%URI%",
                           "zelm.CURITypeNotSupportedError.GeneralDesc",
                           "This type URI is not supported."),
                name) {}

CFileError::CFileError(const P<IURI>& uri, const String& description)
    : CURIError(uri, description, String("FileError")) {}

CFileError::CFileError(Composed, const P<IURI>& uri, const String& description, const String& name)
    : CURIError(Composed{}, uri, description, name) {}

CFileNotFoundError::CFileNotFoundError(const P<IURI>& uri, const String& message)
    : CFileError(
          Composed{}, uri,
          [&] {
              const String text = uriMessage(
                  uri, "zelm.CFileNotFoundError.Desc", "The file '%FILE%' was not found.", "%FILE%",
                  "zelm.CFileNotFoundError.GeneralDesc", "The file was not found.");
              return message.isEmpty() ? text : text + " " + message;
          }(),
          String("FileNotFoundError")) {}

CFileAccessDeniedError::CFileAccessDeniedError(const P<IURI>& uri)
    : CFileError(Composed{}, uri,
                 localize("zelm.CFileAccessDeniedError.Desc",
                          "The access of the file '%FILE%' was denied.")
                     .replace("%FILE%", uriText(uri)),
                 String("FileAccessDeniedError")) {}

CStreamError::CStreamError(const P<IURI>& uri, const String& description, const String& name)
    : CURIError(uri, description, name) {}

CStreamError::CStreamError(Composed, const P<IURI>& uri, const String& description,
                           const String& name)
    : CURIError(Composed{}, uri, description, name) {}

CStreamClosedError::CStreamClosedError(const P<IURI>& uri, const String& name)
    : CStreamError(Composed{}, uri, String("The stream has been closed."), name) {}

CEndOfStreamError::CEndOfStreamError(const P<IURI>& uri, const String& name)
    : CStreamError(Composed{}, uri,
                   uri ? String("Unexpected end of data stream (uri: '") + uri->toString() + "')."
                       : String("Unexpected end of data stream."),
                   name) {}

} // namespace zelm
