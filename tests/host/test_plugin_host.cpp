#include <tesk/host/PluginHost.h>

#include <sstream>
#include <vector>

#include <gtest/gtest.h>

namespace tesk::host {
namespace {

using zelm::P;

TEST(HostLog, StreamSinkWritesLevelTaggedLines) {
    std::ostringstream out;
    const P<CHostLog> log(new CHostLog(makeStreamLogSink(out)));
    log->log(2, zelm::String("CQuorSource: opened"));
    log->log(5, zelm::String(""));
    EXPECT_EQ(out.str(), "[2] CQuorSource: opened\n[5] \n");
}

} // namespace
} // namespace tesk::host
