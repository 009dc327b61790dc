// The tesk player run as a program: its outputs, messages and exit statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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
#include "tools/tone_fit/tone_fit.h"

#ifdef TESK_QUOR_HAVE_SOXR
#include <soxr.h>
#endif

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

namespace {

// A sine at half full scale on both channels, encoded transparently.
std::string sinePath(int hertz) {
    gen::StreamOptions options;
    options.samplesPerChannel = 2 * 44100;
    options.bitRateKbps = 384;
    options.signal = gen::Signal::kSine;
    options.sineHz = hertz;
    return tesk_quor_test::generatedStream("tesk", "sine_" + std::to_string(hertz) + ".mp2",
                                           options);
}

// One channel of what tesk decodes, as raw samples.
std::vector<double> decodedChannel(int hertz, int channels, const std::vector<std::string>& extra) {
    std::vector<std::string> arguments = {"decode", sinePath(hertz), "-o", "-", "--raw", "-q"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const ProgramRun run = runTesk(arguments);
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<double> samples;
    for (std::size_t at = 0; at + 2 * channels <= run.out.size(); at += 2 * channels) {
        samples.push_back(static_cast<std::int16_t>(tesk_quor_test::wordAt(run.out, at, 2)));
    }
    return samples;
}

constexpr std::size_t kEdge = 2000;

double level(const std::vector<double>& samples, int rate, double hertz) {
    return tesk::tonefit::decibels(
        tesk::tonefit::fitTones(samples, rate, {hertz}, kEdge).amplitudes.front());
}

// The gain of a tone through the conversion to 48 kHz, in dB.
double gainTo48k(int hertz) {
    return level(decodedChannel(hertz, 2, {"--rate", "48000"}), 48000, hertz) -
           level(decodedChannel(hertz, 2, {}), 44100, hertz);
}

} // namespace

// The player converts with the high-quality resampler unless told otherwise:
// aliases far down, a flat pass band, a level-keeping stereo-to-mono mix.
TEST(TeskConversion, HighQualityKeepsTonesCleanAndLevelsTrue) {
    const double tone = level(decodedChannel(17000, 2, {}), 44100, 17000.0);
    const double alias = level(decodedChannel(17000, 2, {"--rate", "32000"}), 32000, 15000.0);
    EXPECT_LE(alias - tone, -100.0);
    const double fastAlias =
        level(decodedChannel(17000, 2, {"--rate", "32000", "--quality", "fast"}), 32000, 15000.0);
    EXPECT_GT(fastAlias - tone, -20.0) << "the fast mode stays the short filter";

    EXPECT_NEAR(gainTo48k(20000), gainTo48k(1000), 0.1);

    const std::vector<double> left = decodedChannel(1000, 2, {});
    const std::vector<double> mono = decodedChannel(1000, 1, {"--channels", "1"});
    EXPECT_NEAR(level(mono, 44100, 1000.0), level(left, 44100, 1000.0), 0.01);
    EXPECT_LE(tesk::tonefit::thdPlusNoise(mono, 44100, 1000.0, kEdge),
              tesk::tonefit::thdPlusNoise(left, 44100, 1000.0, kEdge) + 0.5);
}

// The 44.1 to 48 kHz conversion matches libsoxr's very high quality one of
// the same decoded samples to within the 16-bit floor.
TEST(TeskConversion, MatchesLibsoxrVeryHighQuality) {
#ifndef TESK_QUOR_HAVE_SOXR
    GTEST_SKIP() << "libsoxr is not installed";
#else
    const std::vector<double> source = decodedChannel(1000, 2, {});
    const std::vector<double> ours = decodedChannel(1000, 2, {"--rate", "48000"});
    std::vector<double> theirs(ours.size() + 4096);
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    std::size_t done = 0;
    ASSERT_EQ(soxr_oneshot(44100, 48000, 1, source.data(), source.size(), nullptr, theirs.data(),
                           theirs.size(), &done, &io, &quality, nullptr),
              nullptr);
    double signal = 0.0;
    double noise = 0.0;
    for (std::size_t n = kEdge; n + kEdge < std::min(done, ours.size()); ++n) {
        signal += theirs[n] * theirs[n];
        noise += (ours[n] - theirs[n]) * (ours[n] - theirs[n]);
    }
    EXPECT_GE(10.0 * std::log10(signal / noise), 90.0);
#endif
}
