#include "zelm/Exception.h"

#include "zelm/StringLocalizer.h"

namespace zelm {

namespace {

String orDefault(const String& text, const char* fallback) {
    return text.isNull() ? String(fallback) : text;
}

} // namespace

CException::CException(const String& description, const String& name)
    : m_name(name), m_description(description), m_whatText(description->toCPString()) {}

CException::~CException() = default;

const char* CException::what() const noexcept {
    const auto* text = reinterpret_cast<const char*>(m_whatText->getData());
    return text != nullptr ? text : "";
}

String CException::getName() const {
    return m_name;
}

String CException::getDescription() const {
    return m_description;
}

P<CException> CException::clone() const {
    return P<CException>(new CException(m_description, m_name));
}

CError::CError(const String& description, const String& name)
    : CException(orDefault(description, "Unspecified error"), orDefault(name, "Error")) {}

COutOfmemoryException::COutOfmemoryException()
    : CException(String("Unspecified error"), String("OutOfMemory")) {}

CParseError::CParseError(const String& description) : CError(description, String("Parse error")) {}

CJsonParserError::CJsonParserError(const String& description)
    : CError(description, String("JSONParser Error")) {}

CInvalidVolumeIDError::CInvalidVolumeIDError(const String& volumeId)
    : CError(String("Invalid volume id: ") + volumeId, String("Invalid Volume ID Error")) {}

CNoSuchObjectError::CNoSuchObjectError(const String& name)
    : CError(localize("zelm.CNoSuchObjectError.desc", "No such object."), name) {}

CReadOnlyError::CReadOnlyError(const String& objectDescription, const String& name)
    : CError(localize("zelm.readOnlyErrorObjectDesc",
                      "The object (%DESC%) is read-only and cannot be changed.")
                 .replace("%DESC%", objectDescription),
             name) {}

} // namespace zelm
