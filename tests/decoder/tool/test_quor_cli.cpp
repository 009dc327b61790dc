#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "decoder/tool/quor_cli.h"
#include "test_support.h"

#ifdef TESK_QUOR_HAVE_STREAMGEN
#include "tools/streamgen/streamgen.h"
#endif

namespace tesk::quor::cli {
namespace {

bool Parse(std::vector<const char*> args, Options& options, std::string& error) {
    return ParseArguments(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(QuorCli, ArgumentsAreCheckedBeforeAnyWork) {
    Options options;
    std::string error;
    ASSERT_TRUE(Parse({"decode", "--seek", "1500", "in.mp3", "--buffer", "1000", "out.wav"},
                      options, error));
    EXPECT_EQ(options.command, Command::kDecode);
    EXPECT_EQ(options.input, "in.mp3");
    EXPECT_EQ(options.output, "out.wav");
    EXPECT_EQ(options.seekMs, 1500);
    EXPECT_EQ(options.bufferBytes, 1000);

    Options info;
    ASSERT_TRUE(Parse({"info", "-"}, info, error));
    EXPECT_EQ(info.command, Command::kInfo);
    EXPECT_EQ(info.input, "-");
    EXPECT_EQ(info.bufferBytes, 4608);

    Options other;
    EXPECT_TRUE(Parse({"decode", "--version"}, other, error));
    EXPECT_EQ(other.command, Command::kVersion);

    for (const std::vector<const char*>& bad : {std::vector<const char*>{},
                                                {"play", "x"},
                                                {"info"},
                                                {"info", "a", "b"},
                                                {"decode", "a"},
                                                {"decode", "--seek", "x", "a", "b"},
                                                {"decode", "--seek", "-5", "a", "b"},
                                                {"decode", "--buffer", "2", "a", "b"},
                                                {"decode", "--buffer"},
                                                {"info", "--fast", "a"}}) {
        Options refused;
        error.clear();
        EXPECT_FALSE(Parse(bad, refused, error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(QuorCli, ResultCodesHaveTheirNames) {
    EXPECT_STREQ(ResultName(QUOR_ERROR_DECODE), "QUOR_ERROR_DECODE");
    EXPECT_STREQ(ResultName(QUOR_ERROR_OPENFILE), "QUOR_ERROR_OPENFILE");
    EXPECT_STREQ(ResultName(QUOR_ERROR_INCOMPATIBLEVERSION), "QUOR_ERROR_INCOMPATIBLEVERSION");
    EXPECT_STREQ(ResultName(QUOR_END), "QUOR_END");
}

std::string Captured(std::FILE* file) {
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        text += static_cast<char>(c);
    }
    return text;
}

int RunCaptured(std::vector<const char*> args, std::string& out, std::string& err) {
    std::FILE* o = std::tmpfile();
    std::FILE* e = std::tmpfile();
    const int status = Run(static_cast<int>(args.size()), args.data(), o, e);
    out = Captured(o);
    err = Captured(e);
    std::fclose(o);
    std::fclose(e);
    return status;
}

TEST(QuorCli, FailuresNameTheFileAndTheCode) {
    std::string out;
    std::string err;
    EXPECT_EQ(RunCaptured({"info", "/nonexistent/x.mp3"}, out, err), kExitFailure);
    EXPECT_NE(err.find("/nonexistent/x.mp3"), std::string::npos) << err;
    EXPECT_NE(err.find("QUOR_ERROR_OPENFILE"), std::string::npos) << err;

    const std::string junk = test::BinaryPath("cli-junk.bin");
    std::filesystem::create_directories(test::BinaryPath(""));
    std::ofstream(junk) << std::string(5000, 'x');
    EXPECT_EQ(RunCaptured({"decode", junk.c_str(), "-"}, out, err), kExitFailure);
    EXPECT_NE(err.find("QUOR_ERROR_DECODE"), std::string::npos) << err;

    EXPECT_EQ(RunCaptured({"frobnicate"}, out, err), kExitUsage);
    EXPECT_NE(err.find("Usage"), std::string::npos);
    EXPECT_EQ(RunCaptured({"--help"}, out, err), kExitOk);
    EXPECT_NE(out.find("Usage"), std::string::npos);
    EXPECT_EQ(RunCaptured({"--version"}, out, err), kExitOk);
    EXPECT_NE(out.find("quor "), std::string::npos);
}

#ifdef TESK_QUOR_HAVE_STREAMGEN

std::vector<std::uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class QuorCliStreams : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        streamgen::StreamOptions options;
        options.sampleRate = 32000;
        options.samplesPerChannel = 32000;
        options.id3v2Size = 300;
        path_ = test::BinaryPath("cli-stream.mp2");
        streamgen::WriteFile(path_, streamgen::Generate(options).bytes);
    }
    static std::string path_;
};
std::string QuorCliStreams::path_;

TEST_F(QuorCliStreams, InfoPrintsOneLinePerField) {
    std::string out;
    std::string err;
    ASSERT_EQ(RunCaptured({"info", path_.c_str()}, out, err), kExitOk) << err;
    EXPECT_NE(out.find("duration_ms: "), std::string::npos) << out;
    EXPECT_NE(out.find("vbr: 0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("bitrate: 128000\n"), std::string::npos) << out;
    EXPECT_NE(out.find("sample_rate: 32000\n"), std::string::npos) << out;
    EXPECT_NE(out.find("channels: 2\n"), std::string::npos) << out;
}

TEST_F(QuorCliStreams, WavAndRawOutputsHoldTheSameSamples) {
    const std::string wav = test::BinaryPath("cli-out.wav");
    const std::string raw = test::BinaryPath("cli-out.raw");
    std::string out;
    std::string err;
    ASSERT_EQ(RunCaptured({"decode", path_.c_str(), wav.c_str()}, out, err), kExitOk) << err;
    ASSERT_EQ(RunCaptured({"decode", "--buffer", "1000", path_.c_str(), raw.c_str()}, out, err),
              kExitOk)
        << err;
    const std::vector<std::uint8_t> w = ReadAll(wav);
    const std::vector<std::uint8_t> r = ReadAll(raw);
    ASSERT_EQ(w.size(), r.size() + 44);
    EXPECT_TRUE(std::equal(r.begin(), r.end(), w.begin() + 44));
    EXPECT_EQ(0, std::memcmp(w.data(), "RIFF", 4));
    EXPECT_EQ(0, std::memcmp(w.data() + 8, "WAVEfmt ", 8));
    const auto le32 = [&](std::size_t at) {
        return w[at] | (w[at + 1] << 8) | (w[at + 2] << 16) | (w[at + 3] << 24);
    };
    EXPECT_EQ(le32(4), static_cast<int>(w.size() - 8));
    EXPECT_EQ(le32(24), 32000);
    EXPECT_EQ(le32(40), static_cast<int>(r.size()));
    EXPECT_EQ(w[22], 2);
    EXPECT_GT(r.size(), 32000u * 4 / 2);
}

TEST_F(QuorCliStreams, StandardInputAndOutputThroughTheProgram) {
    const std::string raw = test::BinaryPath("cli-file.raw");
    const std::string piped = test::BinaryPath("cli-piped.raw");
    std::string out;
    std::string err;
    ASSERT_EQ(RunCaptured({"decode", path_.c_str(), raw.c_str()}, out, err), kExitOk) << err;
    const std::string command =
        std::string("'") + QUOR_TOOL_PATH + "' decode - - < '" + path_ + "' > '" + piped + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(ReadAll(raw), ReadAll(piped));

    const std::string seek = std::string("'") + QUOR_TOOL_PATH + "' decode --seek 100 - - < '" +
                             path_ + "' > /dev/null 2>&1";
    const int status = std::system(seek.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kExitFailure);
}

// The seek option starts the output at sample round(MS x rate / 1000) of the
// whole decode, in the first frame, inside and in the last frame.
TEST_F(QuorCliStreams, SeekingStartsAtTheSampleOfTheTime) {
    const std::string all = test::BinaryPath("cli-all.raw");
    const std::string later = test::BinaryPath("cli-later.raw");
    std::string out;
    std::string err;
    ASSERT_EQ(RunCaptured({"decode", path_.c_str(), all.c_str()}, out, err), kExitOk) << err;
    const std::vector<std::uint8_t> whole = ReadAll(all);
    for (const char* ms : {"3", "500", "1000"}) {
        ASSERT_EQ(RunCaptured({"decode", "--seek", ms, path_.c_str(), later.c_str()}, out, err),
                  kExitOk)
            << err;
        const auto skipped = static_cast<std::ptrdiff_t>(std::stoi(ms)) * 32 * 4;
        EXPECT_EQ(ReadAll(later), std::vector<std::uint8_t>(whole.begin() + skipped, whole.end()))
            << ms;
    }
}

#else

TEST(QuorCliStreams, NeedsTheStreamGenerator) {
    GTEST_SKIP() << "the test-stream generator is not built (twolame or shine missing)";
}

#endif

} // namespace
} // namespace tesk::quor::cli
