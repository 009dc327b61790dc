// The plug-in module as the host loads it.
#include <tesk/Plugin.h>
#include <tesk/host/PluginHost.h>

#include <dlfcn.h>

#include <gtest/gtest.h>

namespace tesk {
namespace {

using zelm::P;

class LoadedPlugin : public ::testing::Test {
protected:
    void SetUp() override {
        m_library = ::dlopen(TESK_QUOR_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(m_library, nullptr) << ::dlerror();
    }
    void TearDown() override {
        if (m_library != nullptr) {
            ::dlclose(m_library);
        }
    }

    void* m_library = nullptr;
};

TEST_F(LoadedPlugin, EntryMakesANewPluginObjectPerCall) {
    const auto create =
        reinterpret_cast<TeskPluginCreateFunction>(::dlsym(m_library, "tesk_pluginCreate"));
    ASSERT_NE(create, nullptr);
    const P<host::CPluginHost> host(new host::CPluginHost(host::LogSink()));
    {
        const P<common::ITESKPlugin> first = create(host.get());
        const P<common::ITESKPlugin> second = create(host.get());
        ASSERT_TRUE(first);
        EXPECT_NE(first.get(), second.get());
        EXPECT_EQ(first->getName().toStdString(), "tesk_quor");
        EXPECT_EQ(host->getRefCount(), 3);
    }
    EXPECT_EQ(host->getRefCount(), 1);
}

} // namespace
} // namespace tesk
