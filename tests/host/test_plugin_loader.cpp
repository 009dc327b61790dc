#include <tesk/host/PluginLoader.h>
#include <zelm/Exception.h>

#include <gtest/gtest.h>

namespace tesk::host {
namespace {

TEST(PluginLoading, LoadsThePluginOnItsOwnHost) {
    const CPluginLoader loader(TESK_QUOR_PLUGIN_PATH, LogSink());
    ASSERT_TRUE(loader.getPlugin());
    EXPECT_EQ(loader.getPath(), TESK_QUOR_PLUGIN_PATH);
    EXPECT_EQ(loader.getPlugin()->getName().toStdString(), "tesk_quor");
    EXPECT_EQ(loader.getPlugin()->getVersion(), 2);
    EXPECT_EQ(loader.getHost()->getRefCount(), 2);
}

TEST(PluginLoading, MissingLibraryIsReportedWithItsPath) {
    try {
        const CPluginLoader loader("/nonexistent/libtesk_quor.so", LogSink());
        FAIL() << "a missing library was loaded";
    } catch (const zelm::CError& error) {
        const std::string description = error.getDescription().toStdString();
        EXPECT_NE(description.find("'/nonexistent/libtesk_quor.so'"), std::string::npos)
            << description;
        // The system's own reason follows.
        EXPECT_NE(description.find("No such file"), std::string::npos) << description;
    }
}

TEST(PluginLoading, LibraryWithoutTheEntryIsRefused) {
    try {
        const CPluginLoader loader("libzelm.so.0", LogSink());
        FAIL() << "a library without tesk_pluginCreate was accepted";
    } catch (const zelm::CError& error) {
        EXPECT_NE(error.getDescription().toStdString().find("no function tesk_pluginCreate"),
                  std::string::npos);
    }
}

} // namespace
} // namespace tesk::host
