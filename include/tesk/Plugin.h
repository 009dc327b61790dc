// The plug-in entry: the one exported function, the plug-in object it
// returns and the list of file extensions the plug-in handles.
#pragma once

#include <tesk/AudioSource.h>
#include <tesk/PluginHost.h>
#include <zelm/Object.h>
#include <zelm/Serializable.h>
#include <zelm/String.h>

#include <cstdint>

namespace tesk {

// The output format a host wants from a source, read as 32-bit words. size
// counts the valid bytes of the record, this field included.
struct SourceFormat {
    std::int32_t size;
    std::int32_t reserved0;
    std::int32_t sampleRate;
    std::int32_t channels;
    std::int32_t bytesPerSample;
    std::int32_t reserved[3];
};
static_assert(sizeof(SourceFormat) == 32);

namespace common {

// File extensions without the dot, in lower case, each held once. The list
// serialises as its count followed by each extension as a string.
class IPluginExtensions : public virtual zelm::IBase, public virtual zelm::ISerializable {
public:
    virtual int getCount() const = 0;
    // index from 0 to getCount() - 1.
    virtual zelm::String getExtension(int index) const = 0;
};

class ITESKPlugin : public virtual zelm::IBase {
public:
    virtual zelm::String getName() = 0;
    virtual int getVersion() = 0;
    // The extensions handled for the given flags; never an empty holder.
    virtual zelm::P<IPluginExtensions> getExtensions(int flags) = 0;
    // A source for uri when flag bit 1 (value 2) is set, or an empty holder;
    // never throws. format may be null.
    virtual zelm::P<audio::ISource> createSource(const zelm::IString& uri, int flags, int reserved,
                                                 const SourceFormat* format) = 0;
};

} // namespace common
} // namespace tesk

// The plug-in's only exported function: a new plug-in object that keeps a
// reference to host.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
extern "C" zelm::P<tesk::common::ITESKPlugin> tesk_pluginCreate(tesk::common::IPluginHost* host);
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

// The type of tesk_pluginCreate, for hosts that look it up by name.
using TeskPluginCreateFunction = zelm::P<tesk::common::ITESKPlugin> (*)(tesk::common::IPluginHost*);
