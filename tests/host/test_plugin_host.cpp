#include <tesk/host/PluginHost.h>

#include <sstream>
#include <vector>

#include <gtest/gtest.h>

namespace tesk::host {
namespace {

using zelm::P;

TEST(HostLog, HandsEachLineWithItsLevelToTheSink) {
    std::vector<std::pair<int, std::string>> lines;
    const P<CHostLog> log(new CHostLog([&](int level, const zelm::String& line) {
        lines.emplace_back(level, line.toStdString());
    }));
    log->log(2, zelm::String("first"));
    log->log(0, zelm::String(L"zweite \u00fc"));
    EXPECT_EQ(lines,
              (std::vector<std::pair<int, std::string>>{{2, "first"}, {0, "zweite \u00fc"}}));
}

TEST(HostLog, StreamSinkWritesLevelTaggedLines) {
    std::ostringstream out;
    const P<CHostLog> log(new CHostLog(makeStreamLogSink(out)));
    log->log(2, zelm::String("CQuorSource: opened"));
    log->log(5, zelm::String(""));
    EXPECT_EQ(out.str(), "[2] CQuorSource: opened\n[5] \n");
}

TEST(HostLog, EmptySinkDropsLines) {
    const P<CHostLog> log(new CHostLog(LogSink()));
    EXPECT_NO_THROW(log->log(2, zelm::String("nowhere")));
}

TEST(PluginHostObject, OneManagerAndOneLogForEveryCaller) {
    const P<CPluginHost> host(new CPluginHost(LogSink()));
    const P<zelm::IMemoryManager> manager = host->getMemoryManager();
    EXPECT_EQ(manager.get(), host->getMemoryManager().get());
    EXPECT_EQ(host->getLog().get(), host->getLog().get());
    EXPECT_NE(dynamic_cast<zelm::CMemoryManager*>(manager.get()), nullptr);
    EXPECT_EQ(manager->allocate(16384)->getSize(), 16384);
    EXPECT_EQ(manager->getCachedBytes(), 16384u);
}

} // namespace
} // namespace tesk::host
