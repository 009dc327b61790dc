// The plug-in object that tesk_pluginCreate hands to the host.
#pragma once

#include <tesk/Plugin.h>

namespace tesk::quor {

// Named "tesk_quor", version 2, handling the extension "mp3".
class CPlugin : public zelm::CObject, public virtual common::ITESKPlugin {
public:
    // Keeps one reference to host, which may be null.
    explicit CPlugin(common::IPluginHost* host);

    zelm::String getName() override;
    int getVersion() override;
    // "mp3" when flag bit 1 (value 2) is set, else an empty list.
    zelm::P<common::IPluginExtensions> getExtensions(int flags) override;
    zelm::P<audio::ISource> createSource(const zelm::IString& uri, int flags, int reserved,
                                         const SourceFormat* format) override;

    const zelm::P<common::IPluginHost>& getHost() const { return m_host; }

private:
    zelm::P<common::IPluginHost> m_host;
};

} // namespace tesk::quor
