#include "plugin/Plugin.h"

#include "plugin/PluginExtensions.h"

namespace tesk::quor {

namespace {

constexpr int kSourceFlag = 2;

} // namespace

CPlugin::CPlugin(common::IPluginHost* host) : m_host(zelm::P<common::IPluginHost>::share(host)) {}

zelm::String CPlugin::getName() {
    return zelm::String(L"tesk_quor");
}

int CPlugin::getVersion() {
    return 2;
}

zelm::P<common::IPluginExtensions> CPlugin::getExtensions(int flags) {
    zelm::P<CPluginExtensions> extensions(new CPluginExtensions());
    if ((flags & kSourceFlag) != 0) {
        extensions->add(zelm::String(L"mp3"));
    }
    return extensions;
}

// No source kind is available yet: every request gets an empty holder.
zelm::P<audio::ISource> CPlugin::createSource(const zelm::IString& /*uri*/, int /*flags*/,
                                              int /*reserved*/, const SourceFormat* /*format*/) {
    return {};
}

} // namespace tesk::quor
