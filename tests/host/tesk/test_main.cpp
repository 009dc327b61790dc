// The tesk player run as a program: its outputs, messages and exit statuses.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "tests/support/file_bytes.h"
#include "tests/support/generated_stream.h"
#include "tools/streamgen/streamgen.h"

namespace {

namespace fs = std::filesystem;
namespace gen = tesk::quor::streamgen;
using tesk_quor_test::readAll;
using tesk_quor_test::wordAt;

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

fs::path workFolder() {
    const fs::path folder = fs::path(TESK_QUOR_BINARY_DIR) / "test-output" / "tesk_main";
    fs::create_directories(folder);
    return folder;
}

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (char c : text) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

// Runs a program with arguments, standard output and error caught in files
// of the running test's own.
ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments) {
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const fs::path out = workFolder() / (test + ".stdout");
    const fs::path err = workFolder() / (test + ".stderr");
    std::string command = quoted(program);
    for (const std::string& argument : arguments) {
        command += " " + quoted(argument);
    }
    command += " >" + quoted(out.string()) + " 2>" + quoted(err.string()) + " </dev/null";
    const int status = std::system(command.c_str());
    ProgramRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readAll(out);
    run.err = readAll(err);
    return run;
}

ProgramRun runTesk(const std::vector<std::string>& arguments) {
    return runProgram(TESK_PLAYER_PROGRAM, arguments);
}

// Two seconds of Layer II stereo at 44100 Hz.
std::string streamPath() {
    gen::StreamOptions options;
    options.samplesPerChannel = 2 * 44100;
    return tesk_quor_test::generatedStream("tesk", "two_s.mp2", options);
}

} // namespace

TEST(TeskProgram, HelpAndVersionGoToStandardOutput) {
    const ProgramRun help = runTesk({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: tesk info FILE\n", 0), 0u) << help.out;
    EXPECT_EQ(help.err, "");
    const ProgramRun version = runTesk({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("tesk ", 0), 0u) << version.out;
}

TEST(TeskProgram, UsageErrorsExitWith2AndOneReason) {
    const ProgramRun none = runTesk({});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err, "tesk: no command given\nTry 'tesk --help'.\n");
    EXPECT_EQ(runTesk({"decode", streamPath()}).status, 2);
    EXPECT_EQ(runTesk({"decode", streamPath(), "-o", "x.wav", "--rate", "0"}).status, 2);
    EXPECT_EQ(runTesk({"info"}).status, 2);
}

TEST(TeskProgram, InfoPrintsThePluginAndTheFilesFormat) {
    const ProgramRun info = runTesk({"info", streamPath()});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out, "plugin: tesk_quor\nversion: 2\nduration: 2.011\nsample_rate: 44100\n"
                        "channels: 2\nbytes_per_sample: 2\n");
}

TEST(TeskProgram, AMissingFileIsOneLineNamingTheFileAndExit1) {
    const std::string missing = (workFolder() / "missing.mp3").string();
    const fs::path out = workFolder() / "missing.wav";
    fs::remove(out);
    const ProgramRun run = runTesk({"decode", missing, "-o", out.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "tesk: " + missing +
                           ": Message: Quor_CreateUsingFileW failed; Errorcode: "
                           "QUOR_ERROR_OPENFILE (-8) file: file://" +
                           missing + "\n");
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(runTesk({"info", missing}).status, 1);
}

TEST(TeskProgram, AnUnwritableOutputIsNamedAndLeavesNothing) {
    const std::string out = (workFolder() / "no-folder" / "x.wav").string();
    const ProgramRun run = runTesk({"decode", streamPath(), "-o", out});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "tesk: " + out + ": No such file or directory\n");
}

// Through the plug-in, tesk gives the quor tool's samples of a stream with an
// encoder tag: trimmed (by default) or not, from the start or from the
// sample of a start time.
TEST(TeskProgram, DecodeGivesTheSamplesOfTheQuorTool) {
#ifndef QUOR_TOOL_PROGRAM
    GTEST_SKIP() << "the quor tool is not built";
#else
    gen::StreamOptions options;
    options.layer = gen::Layer::kIII;
    options.vbrFrame = gen::VbrFrame::kInfo;
    options.encoderTag = true;
    const std::string stream = tesk_quor_test::generatedStream("tesk", "tagged.mp3", options);
    const fs::path ours = workFolder() / "ours.wav";
    const fs::path theirs = workFolder() / "theirs.wav";
    using Arguments = std::vector<std::string>;
    for (const auto& [tesk, quor] : std::vector<std::pair<Arguments, Arguments>>{
             {{}, {}},
             {{"--start", "0.7071"}, {"--seek", "707"}},
             {{"--no-gapless", "--start", "0.001"}, {"--no-gapless", "--seek", "1"}}}) {
        Arguments teskRun = {"decode", stream, "-o", ours.string(), "--quiet"};
        teskRun.insert(teskRun.end(), tesk.begin(), tesk.end());
        ASSERT_EQ(runTesk(teskRun).status, 0);
        Arguments quorRun = {"decode", stream, theirs.string()};
        quorRun.insert(quorRun.begin() + 1, quor.begin(), quor.end());
        ASSERT_EQ(runProgram(QUOR_TOOL_PROGRAM, quorRun).status, 0);
        const std::string a = readAll(ours);
        EXPECT_TRUE(a == readAll(theirs)) << "the same WAV file " << quor.size();
        EXPECT_TRUE(!tesk.empty() || a.size() == 44u + 44100u * 4u) << "the encoder's input";
    }
#endif
}

TEST(TeskProgram, DecodeConvertsSeeksAndLimitsTheLength) {
    const fs::path out = workFolder() / "converted.wav";
    const ProgramRun run =
        runTesk({"decode", streamPath(), "-o", out.string(), "--rate", "48000", "--channels", "1",
                 "--bits", "8", "--start", "0.5", "--length", "1"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string wav = readAll(out);
    ASSERT_EQ(wav.size(), 44u + 48000u);
    EXPECT_EQ(wordAt(wav, 24), 48000u);
    EXPECT_EQ(wordAt(wav, 40), 48000u);
}

TEST(TeskProgram, RawOutputToStandardOutputHoldsOnlySamples) {
    const ProgramRun run = runTesk({"decode", streamPath(), "-o", "-", "--raw", "--length", "0.5"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.size(), 22050u * 4u);
}

TEST(TeskProgram, VerboseShowsThePluginsLogLines) {
    const ProgramRun run = runTesk({"info", streamPath(), "--verbose"});
    ASSERT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("[2] CQuorSource: trying to open file://"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find(" opened\n"), std::string::npos);
    EXPECT_NE(run.err.find(" closed\n"), std::string::npos);
    EXPECT_EQ(runTesk({"info", streamPath()}).err, "") << "quiet without --verbose";
}
