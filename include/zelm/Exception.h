// The exception family of zelm. Every exception is a reference-counted
// CObject that is thrown by value and can also be caught as std::exception.
// Each carries a short name that tells its kind and a description for people.
#pragma once

#include <zelm/Export.h>

#include <exception>
#include <typeinfo>

#include "zelm/Object.h"
#include "zelm/String.h"
#include "zelm/URI.h"

namespace zelm {

// Root of the family: a name and a description, both shared, never changed.
class ZELM_API CException : public std::exception, public CObject {
public:
    explicit CException(const String& description, const String& name = String(kNullString));
    CException(const CException& other) = default;
    CException& operator=(const CException&) = delete;
    ~CException() override;

    // The description as terminated text in the system code page.
    const char* what() const noexcept override;
    virtual String getName() const;
    virtual String getDescription() const;
    // A new CException with the same name and description.
    virtual P<CException> clone() const;

private:
    String m_name;
    String m_description;
    String m_whatText; // the description in the system code page, terminated
};

// A general error; a null name becomes "Error", a null description
// "Unspecified error". Empty (not null) texts are kept as they are.
class ZELM_API CError : public CException {
public:
    explicit CError(const String& description = String(kNullString),
                    const String& name = String(kNullString));
};

class ZELM_API COutOfmemoryException : public CException {
public:
    COutOfmemoryException();
};

// An error concerning one object, given as an object reference, a class, or
// neither. The object text is "object: " + the object's toString, else
// "object class: " + the class name, else "unknown object". A given
// description has each "%OBJECTDESC%" replaced by the object text.
class ZELM_API CObjectError : public CError {
public:
    explicit CObjectError(const P<IBase>& object = P<IBase>(),
                          const std::type_info* objectClass = nullptr,
                          const String& description = String(kNullString));

protected:
    // For subclasses that compose their whole description themselves: no
    // placeholder is filled in, so texts quoted from callers stay verbatim.
    struct Composed {};
    CObjectError(Composed, const String& description, const char* name = "Object error");

    // The object text, or the empty text when neither object nor class is given.
    static String describeObject(const P<IBase>& object, const std::type_info* objectClass);
};

class ZELM_API CInvalidArgError : public CObjectError {
public:
    explicit CInvalidArgError(const String& argument = String(), const String& method = String(),
                              const P<IBase>& object = P<IBase>(),
                              const std::type_info* objectClass = nullptr);
};

class ZELM_API CInvalidObjectStateError : public CObjectError {
public:
    explicit CInvalidObjectStateError(const String& state = String(),
                                      const P<IBase>& object = P<IBase>(),
                                      const std::type_info* objectClass = nullptr);

    String getStateText() const { return m_state; }

private:
    String m_state;
};

class ZELM_API CEndOfEnumError : public CInvalidObjectStateError {
public:
    explicit CEndOfEnumError(const P<IBase>& object = P<IBase>(),
                             const std::type_info* objectClass = nullptr);
};

class ZELM_API CMethodNotImplementedError : public CObjectError {
public:
    explicit CMethodNotImplementedError(const String& method = String(),
                                        const P<IBase>& object = P<IBase>(),
                                        const std::type_info* objectClass = nullptr);
};

// A failed conversion of an object of one type to another.
class ZELM_API CCastError : public CObjectError {
public:
    CCastError(const String& sourceType, const String& targetType);
    CCastError(const std::type_info& sourceType, const std::type_info& targetType);
};

class ZELM_API CParseError : public CError {
public:
    explicit CParseError(const String& description = String(kNullString));
};

class ZELM_API CJsonParserError : public CError {
public:
    explicit CJsonParserError(const String& description = String(kNullString));
};

class ZELM_API CNoSuchObjectError : public CError {
public:
    explicit CNoSuchObjectError(const String& name = String(kNullString));
};

// objectDescription names the object that refused the change.
class ZELM_API CReadOnlyError : public CError {
public:
    explicit CReadOnlyError(const String& objectDescription = String(),
                            const String& name = String(kNullString));
};

class ZELM_API CInvalidVolumeIDError : public CError {
public:
    explicit CInvalidVolumeIDError(const String& volumeId);
};

// An error concerning a URI; "%URI%" in the description is replaced by the
// URI's text, or by "<uri unknown>" when there is no URI.
class ZELM_API CURIError : public CError {
public:
    CURIError(const P<IURI>& uri, const String& description,
              const String& name = String(kNullString));

    virtual P<IURI> getURI() const;

protected:
    struct Composed {};
    CURIError(Composed, const P<IURI>& uri, const String& description, const String& name);

    // The URI's text, or "<uri unknown>" without a URI.
    static String uriText(const P<IURI>& uri);

private:
    P<IURI> m_uri;
};

class ZELM_API CURIFormatError : public CURIError {
public:
    explicit CURIFormatError(const P<IURI>& uri = P<IURI>(),
                             const String& name = String(kNullString));
};

class ZELM_API CURITypeNotSupportedError : public CURIError {
public:
    explicit CURITypeNotSupportedError(const P<IURI>& uri = P<IURI>(),
                                       const String& name = String(kNullString));
};

class ZELM_API CFileError : public CURIError {
public:
    CFileError(const P<IURI>& uri, const String& description);

protected:
    CFileError(Composed, const P<IURI>& uri, const String& description, const String& name);
};

// message, when not empty, is appended to the description after one blank.
class ZELM_API CFileNotFoundError : public CFileError {
public:
    explicit CFileNotFoundError(const P<IURI>& uri = P<IURI>(), const String& message = String());
};

class ZELM_API CFileAccessDeniedError : public CFileError {
public:
    explicit CFileAccessDeniedError(const P<IURI>& uri = P<IURI>());
};

class ZELM_API CStreamError : public CURIError {
public:
    CStreamError(const P<IURI>& uri, const String& description,
                 const String& name = String(kNullString));

protected:
    CStreamError(Composed, const P<IURI>& uri, const String& description, const String& name);
};

class ZELM_API CStreamClosedError : public CStreamError {
public:
    explicit CStreamClosedError(const P<IURI>& uri = P<IURI>(),
                                const String& name = String(kNullString));
};

class ZELM_API CEndOfStreamError : public CStreamError {
public:
    explicit CEndOfStreamError(const P<IURI>& uri = P<IURI>(),
                               const String& name = String(kNullString));
};

} // namespace zelm
