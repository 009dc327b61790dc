#include "zelm/StringLocalizer.h"

#include "zelm/Exception.h"
#include "zelm/GlobalObjFactory.h"

namespace zelm {

CStringLocalizer::CStringLocalizer() = default;

CStringLocalizer::~CStringLocalizer() = default;

String CStringLocalizer::localize(const String& id, const String& defaultText) {
    const std::string key = id.toStdString();
    P<IStringLocalizer> parent;
    {
        const std::lock_guard lock(m_lock);
        const auto found = m_texts.find(key);
        if (found != m_texts.end()) {
            return found->second;
        }
        parent = m_parent;
    }
    // The parent is asked without holding this lock, so that localizers on
    // several threads never wait for each other in a chain.
    return parent ? parent->localize(id, defaultText) : defaultText;
}

void CStringLocalizer::setText(const String& id, const String& text) {
    const std::string key = id.toStdString();
    const std::lock_guard lock(m_lock);
    m_texts.insert_or_assign(key, text);
}

void CStringLocalizer::removeText(const String& id) {
    const std::string key = id.toStdString();
    const std::lock_guard lock(m_lock);
    m_texts.erase(key);
}

// Whether target is this localizer or one of its parents. A parent of another
// class ends the walk, as its own parents are not known here.
bool CStringLocalizer::reaches(const CStringLocalizer* target) const {
    P<IStringLocalizer> held; // keeps the localizer being inspected alive
    for (const CStringLocalizer* current = this; current != nullptr;) {
        if (current == target) {
            return true;
        }
        P<IStringLocalizer> next;
        {
            const std::lock_guard lock(current->m_lock);
            next = current->m_parent;
        }
        held = std::move(next);
        current = dynamic_cast<const CStringLocalizer*>(held.get());
    }
    return false;
}

void CStringLocalizer::setParent(const P<IStringLocalizer>& parent) {
    const auto* next = dynamic_cast<const CStringLocalizer*>(parent.get());
    if (next != nullptr && next->reaches(this)) {
        throw CInvalidArgError("the parent localizer would ask this localizer again",
                               "CStringLocalizer::setParent");
    }
    const std::lock_guard lock(m_lock);
    m_parent = parent;
}

P<CStringLocalizer>& getStringLocalizer() {
    static const char marker = 0;
    return getGlobalObject<CStringLocalizer>(
        &marker, [] { return P<CStringLocalizer>(new CStringLocalizer()); });
}

String localize(const String& id, const String& defaultText) {
    return getStringLocalizer()->localize(id, defaultText);
}

} // namespace zelm
