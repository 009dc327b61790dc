#include "programs/tesk/Player.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

TEST(PluginLocation, TheBuiltProgramFindsThePluginOfItsBuildTree) {
    const std::string programFolder = fs::path(TESK_PLAYER_PROGRAM).parent_path().string();
    EXPECT_EQ(fs::path(tesk::player::locatePlugin(programFolder)),
              fs::path(TESK_QUOR_PLUGIN_PATH).lexically_normal());
}

TEST(PluginLocation, ElsewhereTheLoaderSearchesByName) {
    const fs::path folder = fs::path(TESK_QUOR_BINARY_DIR) / "test-output" / "nowhere" / "bin";
    fs::create_directories(folder);
    EXPECT_EQ(tesk::player::locatePlugin(folder.string()), "libtesk_quor.so");
}
