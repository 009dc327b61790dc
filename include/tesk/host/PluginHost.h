// A host for tesk plug-ins: the host object with the foundation's memory
// manager and a log that hands each line to a sink of the caller's choice.
#pragma once

#include <tesk/PluginHost.h>

#include <functional>
#include <iosfwd>
#include <mutex>

namespace tesk::host {

// Receives each log line with its level.
using LogSink = std::function<void(int level, const zelm::String& message)>;

// A sink writing "[level] message" lines, UTF-8, to out.
LogSink makeStreamLogSink(std::ostream& out);

// Lines logged on several threads at once reach the sink one at a time.
class CHostLog : public zelm::CObject, public virtual common::IHostLog {
public:
    // An empty sink drops every line.
    explicit CHostLog(LogSink sink);
    void log(int level, const zelm::String& message) override;

private:
    LogSink m_sink;
    std::mutex m_sinkLock;
};

class CPluginHost : public zelm::CObject, public virtual common::IPluginHost {
public:
    // A host with a new CMemoryManager and a log writing to sink.
    explicit CPluginHost(LogSink sink);

    zelm::P<zelm::IMemoryManager> getMemoryManager() override;
    zelm::P<common::IHostLog> getLog() override;

private:
    zelm::P<zelm::IMemoryManager> m_memoryManager;
    zelm::P<common::IHostLog> m_log;
};

} // namespace tesk::host
