// The plug-in's only exported function.
#include "plugin/Plugin.h"

#if defined(__clang__)
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif

extern "C" __attribute__((visibility("default"))) zelm::P<tesk::common::ITESKPlugin>
tesk_pluginCreate(tesk::common::IPluginHost* host) {
    return zelm::P<tesk::common::ITESKPlugin>(new tesk::quor::CPlugin(host));
}
