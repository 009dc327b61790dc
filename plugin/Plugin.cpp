#include "plugin/Plugin.h"

#include "plugin/PluginExtensions.h"
#include "plugin/QuorSource.h"

namespace tesk::quor {

CPlugin::CPlugin(common::IPluginHost* host) : m_host(zelm::P<common::IPluginHost>::share(host)) {}

zelm::String CPlugin::getName() {
    return zelm::String(L"tesk_quor");
}

int CPlugin::getVersion() {
    return 2;
}

zelm::P<common::IPluginExtensions> CPlugin::getExtensions(int flags) {
    zelm::P<CPluginExtensions> extensions(new CPluginExtensions());
    if ((flags & common::kAudioFlag) != 0) {
        extensions->add(zelm::String(L"mp3"));
    }
    return extensions;
}

zelm::P<audio::ISource> CPlugin::createSource(const zelm::IString& uri, int flags, int /*reserved*/,
                                              const SourceFormat* format) {
    return createQuorSource(m_host, getName(), uri, flags, format);
}

} // namespace tesk::quor
