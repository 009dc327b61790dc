// The errors that concern one object: invalid arguments, invalid states,
// missing methods, failed casts.
#include "zelm/Exception.h"
#include "zelm/StringLocalizer.h"

namespace zelm {

namespace {

String orEmpty(const String& text, const char* fallback) {
    return text.isEmpty() ? String(fallback) : text;
}

} // namespace

String CObjectError::describeObject(const P<IBase>& object, const std::type_info* objectClass) {
    if (object) {
        return String("object: ") + object->toString();
    }
    if (objectClass != nullptr) {
        return String("object class: ") + getClassName(*objectClass);
    }
    return String();
}

CObjectError::CObjectError(const P<IBase>& object, const std::type_info* objectClass,
                           const String& description)
    : CObjectError(Composed{}, [&] {
          const String text = describeObject(object, objectClass);
          const String objectText = text.isEmpty() ? String("unknown object") : text;
          return description.isNull() ? objectText
                                      : description.replace("%OBJECTDESC%", objectText);
      }()) {}

CObjectError::CObjectError(Composed, const String& description, const char* name)
    : CError(description, String(name)) {}

CInvalidArgError::CInvalidArgError(const String& argument, const String& method,
                                   const P<IBase>& object, const std::type_info* objectClass)
    : CObjectError(Composed{}, String("An invalid argument was passed to method '") +
                                   orEmpty(method, "unspecified method") + "' of '" +
                                   describeObject(object, objectClass) +
                                   "': " + orEmpty(argument, "unspecified argument")) {}

CInvalidObjectStateError::CInvalidObjectStateError(const String& state, const P<IBase>& object,
                                                   const std::type_info* objectClass)
    : CObjectError(Composed{}, String("The object is in an invalid state (") +
                                   describeObject(object, objectClass) + "): " + state + "."),
      m_state(state) {}

CEndOfEnumError::CEndOfEnumError(const P<IBase>& object, const std::type_info* objectClass)
    : CInvalidObjectStateError(
          localize("zelm.CEndOfEnumError.desc", "end of enumeration already reached"), object,
          objectClass) {}

CMethodNotImplementedError::CMethodNotImplementedError(const String& method, const P<IBase>& object,
                                                       const std::type_info* objectClass)
    : CObjectError(Composed{},
                   String("Method not implemented (") + describeObject(object, objectClass) +
                       "): " + (method.isEmpty() ? String("unspecified method.") : method + ".")) {}

CCastError::CCastError(const String& sourceType, const String& targetType)
    : CObjectError(Composed{},
                   String("Error casting a '") + sourceType + "' object to '" + targetType + "'.",
                   "Cast error") {}

CCastError::CCastError(const std::type_info& sourceType, const std::type_info& targetType)
    : CCastError(getClassName(sourceType), getClassName(targetType)) {}

} // namespace zelm
