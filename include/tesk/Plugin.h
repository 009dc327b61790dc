// The plug-in entry: the one exported function, the plug-in object it
// returns and the list of file extensions the plug-in handles. C++20.
//
// Lifecycle: the host loads the plug-in module, looks up tesk_pluginCreate
// and calls it with its host object; it asks the plug-in object for sources
// (createSource), and releases every source, then the plug-in object, before
// it unloads the module. tesk::host::CPluginLoader does all of this.
//
// Threads: the plug-in starts no threads and calls back into the host only
// from inside the host's own calls, on the same thread. The plug-in object
// may be used from any thread. Each source is used by one thread at a time
// (see ISource); different sources may be used on different threads at once.
//
// Objects cross the boundary in zelm::P holders; a function that returns a
// new object hands over its single reference.
#pragma once

#include <tesk/AudioSource.h>
#include <tesk/PluginHost.h>
#include <zelm/Object.h>
#include <zelm/Serializable.h>
#include <zelm/String.h>

#include <cstdint>

namespace tesk {

// The output format a host wants from a source, read as 32-bit words. size
// counts the valid bytes of the record, this field included (set it to
// sizeof(SourceFormat)); fields beyond size count as 0, and only the first
// 32 bytes are read. A 0 asks for the file's own value.
struct SourceFormat {
    std::int32_t size;
    std::int32_t reserved0;      // 0
    std::int32_t sampleRate;     // Hz, or 0 for the file's rate
    std::int32_t channels;       // 1 to 8, or 0 for the file's channel count
    std::int32_t bytesPerSample; // 1 (unsigned 8-bit), 2, 3 or 4 (signed 16, 24 or 32-bit,
                                 // or float: see SourceOption::FloatSamples); 0 means 2
    std::int32_t reserved[3];    // 0
};
static_assert(sizeof(SourceFormat) == 32);

namespace common {

// File extensions without the dot, in lower case, each held once. The list
// serialises as its count followed by each extension as a string.
// Slots: 0 getCount, 1 getExtension.
class IPluginExtensions : public virtual zelm::IBase, public virtual zelm::ISerializable {
public:
    virtual int getCount() const = 0;
    // index from 0 to getCount() - 1.
    virtual zelm::String getExtension(int index) const = 0;
};

// Flag bit 1 of getExtensions and createSource: audio.
inline constexpr int kAudioFlag = 2;

// The plug-in object. Slots: 0 getName, 1 getVersion, 2 getExtensions,
// 3 createSource.
class ITESKPlugin : public virtual zelm::IBase {
public:
    // "tesk_quor".
    virtual zelm::String getName() = 0;
    // The version of the plug-in interface it implements: 2.
    virtual int getVersion() = 0;
    // The extensions handled for the given flags: "mp3" when kAudioFlag is
    // set, none for other flags; never an empty holder.
    virtual zelm::P<IPluginExtensions> getExtensions(int flags) = 0;
    // A new, closed audio source for uri (a file: URI or a plain path) when
    // flags has kAudioFlag, or an empty holder; it does not touch the file
    // (open does). reserved is 0. format may be null (the file's own format
    // at 16 bits); a format the plug-in cannot deliver (channels above 8,
    // bytesPerSample above 2, negative values) gives an empty holder. Never
    // throws. The result is an audio::IAudioSource (P::dynamicCast).
    virtual zelm::P<audio::ISource> createSource(const zelm::IString& uri, int flags, int reserved,
                                                 const SourceFormat* format) = 0;
};

} // namespace common
} // namespace tesk

// The plug-in's only exported function: a new plug-in object that keeps a
// reference to host until it is destroyed. Each call makes a new plug-in
// object; host must not be null.
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
