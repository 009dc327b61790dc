// The list of file extensions a plug-in handles.
#pragma once

#include <tesk/Plugin.h>

#include <vector>

namespace tesk::quor {

class CPluginExtensions : public zelm::CObject, public virtual common::IPluginExtensions {
public:
    int getCount() const override;
    // Throws CInvalidArgError for an index outside the list.
    zelm::String getExtension(int index) const override;
    // Adds the lower-case, wide-character form of extension unless an equal
    // one is held; true when it was added.
    bool add(const zelm::String& extension);

    void serialize(zelm::ISerialStream& stream) const override;
    // Appends the extensions read; a count that the stream cannot hold throws.
    bool deserialize(zelm::ISerialStream& stream) override;

private:
    std::vector<zelm::String> m_extensions;
};

} // namespace tesk::quor
