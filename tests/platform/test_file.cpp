#include "platform/File.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>

namespace zelm::ZELM_PLATFORM {
namespace {

// A file with a non-ASCII name in the build tree.
class WidePathFile : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = std::filesystem::path(TESK_QUOR_BINARY_DIR) / "platform-test-files";
        std::filesystem::create_directories(m_folder);
        m_file = m_folder / std::filesystem::path(u8"Caf\u00E9 \u266B.mp3");
        std::ofstream(m_file, std::ios::binary) << "ID3 bytes";
    }
    void TearDown() override { std::filesystem::remove(m_file); }

    static std::string readAll(std::FILE* file) {
        std::string text(64, '\0');
        text.resize(std::fread(text.data(), 1, text.size(), file));
        std::fclose(file);
        return text;
    }

    std::filesystem::path m_folder;
    std::filesystem::path m_file;
};

TEST_F(WidePathFile, OpensByUTF16AndByWideCharacterPath) {
    std::FILE* file = openFile(m_file.u16string().c_str(), "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(readAll(file), "ID3 bytes");
    const std::u32string utf32 = m_file.u32string();
    const std::wstring wide(utf32.begin(), utf32.end());
    file = openFile(wide.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(readAll(file), "ID3 bytes");
}

} // namespace
} // namespace zelm::ZELM_PLATFORM
