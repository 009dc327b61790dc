// The host services a plug-in calls: the host object with its memory
// manager and its log. C++20. A host implements both interfaces (or uses
// tesk::host::CPluginHost); the plug-in calls them on the thread of the host
// call it is serving, so they must be safe to call from every thread on
// which the host uses plug-in objects.
#pragma once

#include <zelm/MemoryManager.h>
#include <zelm/Object.h>
#include <zelm/String.h>

namespace tesk::common {

class IHostLog : public virtual zelm::IBase {
public:
    // Writes one line; the plug-in writes its lines at level 2.
    virtual void log(int level, const zelm::String& message) = 0;
};

// The object a host hands to tesk_pluginCreate. It stays valid until the
// plug-in object and every source made from it are released.
class IPluginHost : public virtual zelm::IBase {
public:
    // The manager every block of decoded audio comes from.
    virtual zelm::P<zelm::IMemoryManager> getMemoryManager() = 0;
    virtual zelm::P<IHostLog> getLog() = 0;
};

} // namespace tesk::common
