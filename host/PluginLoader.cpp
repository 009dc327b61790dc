#include <tesk/host/PluginLoader.h>

#include <zelm/Exception.h>

#include <dlfcn.h>

namespace tesk::host {

namespace {

[[noreturn]] void throwLoadError(const std::string& path, const char* cause) {
    throw zelm::CError(zelm::String::fromUTF8("cannot load the plug-in '" + path +
                                              "': " + (cause != nullptr ? cause : "unknown cause")),
                       "PluginLoadError");
}

} // namespace

CPluginLoader::CPluginLoader(const std::string& path, LogSink sink)
    : m_path(path.empty() ? kDefaultPluginName : path) {
    m_library = ::dlopen(m_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_library == nullptr) {
        throwLoadError(m_path, ::dlerror());
    }
    try {
        const auto create =
            reinterpret_cast<TeskPluginCreateFunction>(::dlsym(m_library, "tesk_pluginCreate"));
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
        ::dlclose(m_library);
        throw;
    }
}

CPluginLoader::~CPluginLoader() {
    m_plugin.reset();
    m_host.reset();
    ::dlclose(m_library);
}

} // namespace tesk::host
