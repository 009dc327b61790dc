#include <tesk/host/PluginLoader.h>

#include <zelm/Exception.h>

#include "DynamicLibrary.h"

namespace tesk::host {

namespace {

[[noreturn]] void throwLoadError(const std::string& path, const std::string& cause) {
    throw zelm::CError(zelm::String::fromUTF8("cannot load the plug-in '" + path + "': " + cause),
                       "PluginLoadError");
}

} // namespace

CPluginLoader::CPluginLoader(const std::string& path, LogSink sink)
    : m_path(path.empty() ? kDefaultPluginName : path) {
    std::string error;
    m_library = openLibrary(m_path, error);
    if (m_library == nullptr) {
        throwLoadError(m_path, error);
    }
    try {
        const auto create = reinterpret_cast<TeskPluginCreateFunction>(
            findFunction(m_library, "tesk_pluginCreate"));
        if (create == nullptr) {
            throwLoadError(m_path, "no function tesk_pluginCreate");
        }
        m_host = zelm::P<CPluginHost>(new CPluginHost(std::move(sink)));
        m_plugin = create(m_host.get());
        if (!m_plugin) {
            throwLoadError(m_path, "tesk_pluginCreate gave no plug-in object");
        }
    } catch (...) {
        m_host.reset();
        closeLibrary(m_library);
        throw;
    }
}

CPluginLoader::~CPluginLoader() {
    m_plugin.reset();
    m_host.reset();
    closeLibrary(m_library);
}

} // namespace tesk::host
