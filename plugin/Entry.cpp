// The plug-in's only exported function.
#include "plugin/Plugin.h"

#if defined(__clang__)
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif

#if defined(_WIN32)
#define TESK_QUOR_ENTRY __declspec(dllexport)
#else
#define TESK_QUOR_ENTRY __attribute__((visibility("default")))
#endif

extern "C" TESK_QUOR_ENTRY zelm::P<tesk::common::ITESKPlugin>
tesk_pluginCreate(tesk::common::IPluginHost* host) {
    return zelm::P<tesk::common::ITESKPlugin>(new tesk::quor::CPlugin(host));
}
