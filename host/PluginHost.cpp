#include <tesk/host/PluginHost.h>

#include <ostream>

namespace tesk::host {

LogSink makeStreamLogSink(std::ostream& out) {
    return [&out](int level, const zelm::String& message) {
        out << '[' << level << "] " << message.toStdString() << '\n';
    };
}

CHostLog::CHostLog(LogSink sink) : m_sink(std::move(sink)) {}

void CHostLog::log(int level, const zelm::String& message) {
    if (m_sink) {
        const std::lock_guard lock(m_sinkLock);
        m_sink(level, message);
    }
}

CPluginHost::CPluginHost(LogSink sink)
    : m_memoryManager(new zelm::CMemoryManager()), m_log(new CHostLog(std::move(sink))) {}

zelm::P<zelm::IMemoryManager> CPluginHost::getMemoryManager() {
    return m_memoryManager;
}

zelm::P<common::IHostLog> CPluginHost::getLog() {
    return m_log;
}

} // namespace tesk::host
