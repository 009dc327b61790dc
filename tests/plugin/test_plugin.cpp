#include "plugin/Plugin.h"

#include <tesk/host/PluginHost.h>

#include <gtest/gtest.h>

namespace tesk::quor {
namespace {

using zelm::P;
using zelm::String;

TEST(PluginObject, NameVersionAndExtensionsByFlags) {
    const P<CPlugin> plugin(new CPlugin(nullptr));
    EXPECT_EQ(plugin->getName().toStdString(), "tesk_quor");
    EXPECT_EQ(plugin->getName().getObject()->getEncodingId(),
              String(L"").getObject()->getEncodingId());
    EXPECT_EQ(plugin->getVersion(), 2);

    EXPECT_EQ(plugin->getExtensions(0)->getCount(), 0);
    const P<common::IPluginExtensions> extensions = plugin->getExtensions(2);
    ASSERT_EQ(extensions->getCount(), 1);
    EXPECT_EQ(extensions->getExtension(0).toStdString(), "mp3");
    EXPECT_EQ(plugin->getExtensions(2 | 1 | 8)->getCount(), 1);
    EXPECT_EQ(plugin->getExtensions(1)->getCount(), 0);
}

TEST(PluginObject, MakesASourceOnlyForFlagBit1AndAHost) {
    const P<host::CPluginHost> host(new host::CPluginHost(host::LogSink()));
    const P<CPlugin> plugin(new CPlugin(host.get()));
    SourceFormat format{32, 0, 44100, 2, 2, {}};
    const String uri("file:///tmp/none.mp3");
    const P<audio::ISource> source = plugin->createSource(*uri, 2, 0, &format);
    ASSERT_TRUE(source) << "the file is not touched yet";
    EXPECT_FALSE(source->isOpen());
    EXPECT_EQ(source->getURI()->toString(), uri);
    EXPECT_FALSE(plugin->createSource(*uri, 0, 0, nullptr));
    const P<CPlugin> hostless(new CPlugin(nullptr));
    EXPECT_FALSE(hostless->createSource(*uri, 2, 0, &format));
}

} // namespace
} // namespace tesk::quor
