#include "tools/cli/output_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "tests/support/file_bytes.h"

using tesk::cli::makeWavHeader;
using tesk::cli::OutputError;
using tesk::cli::OutputFile;
using tesk::cli::PcmFormat;
using tesk_quor_test::readAll;
using tesk_quor_test::wordAt;

namespace {

namespace fs = std::filesystem;

// A fresh, empty folder in the build tree for one test.
fs::path freshFolder(const char* name) {
    const fs::path folder = fs::path(TESK_QUOR_BINARY_DIR) / "test-output" / "output_file" / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

const std::vector<std::uint8_t> kSamples = {1, 2, 3, 4, 5, 6, 7, 8};

} // namespace

TEST(WavHeader, DescribesIntegerPcmOfTheFormat) {
    const std::string header = makeWavHeader({48000, 2, 2}, 1000);
    ASSERT_EQ(header.size(), 44u);
    EXPECT_EQ(header.substr(0, 4), "RIFF");
    EXPECT_EQ(wordAt(header, 4), 1036u);
    EXPECT_EQ(header.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(wordAt(header, 16), 16u);
    EXPECT_EQ(wordAt(header, 20, 2), 1u);
    EXPECT_EQ(wordAt(header, 22, 2), 2u);
    EXPECT_EQ(wordAt(header, 24), 48000u);
    EXPECT_EQ(wordAt(header, 28), 192000u);
    EXPECT_EQ(wordAt(header, 32, 2), 4u);
    EXPECT_EQ(wordAt(header, 34, 2), 16u);
    EXPECT_EQ(header.substr(36, 4), "data");
    EXPECT_EQ(wordAt(header, 40), 1000u);
    const std::string mono8 = makeWavHeader({8000, 1, 1}, 0xFFFFFFFFu);
    EXPECT_EQ(wordAt(mono8, 4), 0xFFFFFFFFu) << "the RIFF size saturates";
    EXPECT_EQ(wordAt(mono8, 32, 2), 1u);
    EXPECT_EQ(wordAt(mono8, 34, 2), 8u);
}

TEST(OutputFile, AFinishedWavFileHasItsSizesAndTheUsualPermissions) {
    const fs::path path = freshFolder("finished") / "out.wav";
    {
        OutputFile output(path.string(), {44100, 2, 2}, false);
        output.write(kSamples.data(), kSamples.size());
        output.write(kSamples.data(), 4);
        EXPECT_FALSE(fs::exists(path)) << "the name appears only when finished";
        output.finish();
    }
    const std::string bytes = readAll(path);
    ASSERT_EQ(bytes.size(), 44u + 12u);
    EXPECT_EQ(wordAt(bytes, 40), 12u);
    EXPECT_EQ(wordAt(bytes, 4), 48u);
    EXPECT_EQ(bytes.substr(44, 4), std::string("\1\2\3\4"));
    EXPECT_EQ(std::distance(fs::directory_iterator(path.parent_path()), fs::directory_iterator()),
              1)
        << "no temporary file is left";
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(static_cast<mode_t>(fs::status(path).permissions()) & 0777, 0666 & ~mask);
}

TEST(OutputFile, AnUnfinishedOutputLeavesNothingBehind) {
    const fs::path folder = freshFolder("unfinished");
    const fs::path path = folder / "out.wav";
    std::ofstream(path) << "older file";
    {
        OutputFile output(path.string(), {44100, 2, 2}, false);
        output.write(kSamples.data(), kSamples.size());
    }
    EXPECT_EQ(readAll(path), "older file") << "an existing file is kept as it was";
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}
