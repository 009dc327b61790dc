// Localised message texts. A message is named by an identifier of the form
// "zelm." + class + "." + key; a lookup that finds no translation answers the
// caller's compiled-in default text.
#pragma once

#include <zelm/Export.h>

#include <map>
#include <mutex>
#include <string>

#include "zelm/Object.h"
#include "zelm/String.h"

namespace zelm {

class ZELM_API IStringLocalizer : public virtual IBase {
public:
    // The text stored for id, else the parent's answer, else defaultText.
    virtual String localize(const String& id, const String& defaultText) = 0;
};

// A table of translations guarded by its own lock; safe from any thread.
class ZELM_API CStringLocalizer : public CObject, public virtual IStringLocalizer {
public:
    CStringLocalizer();
    ~CStringLocalizer() override;

    String localize(const String& id, const String& defaultText) override;

    // Stores (or replaces) the translation of one message.
    void setText(const String& id, const String& text);
    // Forgets the translation of one message; the default applies again.
    void removeText(const String& id);
    // The localizer asked for messages missing here; an empty holder for none.
    // A localizer that would end up among its own parents is refused with
    // CInvalidArgError.
    void setParent(const P<IStringLocalizer>& parent);

private:
    bool reaches(const CStringLocalizer* target) const;

    mutable std::mutex m_lock;
    std::map<std::string, String> m_texts;
    P<IStringLocalizer> m_parent;
};

// The process-wide localizer, created on first use.
ZELM_API P<CStringLocalizer>& getStringLocalizer();

// Looks id up in the process-wide localizer.
ZELM_API String localize(const String& id, const String& defaultText);

} // namespace zelm
