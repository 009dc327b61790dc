// Loads a tesk plug-in library, creates its plug-in object on a new host
// and releases both, and unloads the library, in the right order. C++20.
// Link with tesk_quor::tesk_host (CMake) or pkg-config tesk_host.
#pragma once

#include <tesk/Plugin.h>
#include <tesk/host/PluginHost.h>

#include <string>

namespace tesk::host {

class CPluginLoader {
public:
    // The library the loader opens when given no path; the dynamic loader
    // looks for it along the program's library search path. An install keeps
    // the plug-in in <prefix>/lib/tesk/plugins, outside that path: pass its
    // full path (CMake: tesk_quor_PLUGIN; pkg-config: the plugindir variable
    // of tesk_host).
#if defined(_WIN32)
    static constexpr const char* kDefaultPluginName = "tesk_quor.dll";
#else
    static constexpr const char* kDefaultPluginName = "libtesk_quor.so";
#endif

    // Opens the library at path (the default one for an empty path), calls
    // its tesk_pluginCreate with a new CPluginHost logging to sink. Throws
    // CError naming the library and the cause when it cannot.
    CPluginLoader(const std::string& path, LogSink sink);
    // Releases the plug-in object, then the host, then closes the library.
    // Every object obtained from the plug-in must be released before.
    ~CPluginLoader();
    CPluginLoader(const CPluginLoader&) = delete;
    CPluginLoader& operator=(const CPluginLoader&) = delete;

    const zelm::P<common::ITESKPlugin>& getPlugin() const {
        return m_plugin;
    }
    const zelm::P<CPluginHost>& getHost() const {
        return m_host;
    }
    const std::string& getPath() const {
        return m_path;
    }

private:
    std::string m_path;
    void* m_library = nullptr;
    zelm::P<CPluginHost> m_host;
    zelm::P<common::ITESKPlugin> m_plugin;
};

} // namespace tesk::host
