// The tesk player run as a program: its command line, outputs, messages and
// exit statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "quor/quor.h"
#include "tests/support/cli_table.h"
#include "tests/support/tag_bytes.h"

namespace {

namespace fs = std::filesystem;
using tesk_quor_test::CliCase;
using tesk_quor_test::ProgramRun;
using tesk_quor_test::readAll;
using tesk_quor_test::wordAt;

// Six channels are written in the extensible form with the 5.1 mask.
void expectExtensibleHeader(const fs::path& dir, const ProgramRun&) {
    const std::string wav = readAll(dir / "six.wav");
    ASSERT_EQ(wav.size(), 68u + 44100u * 12u);
    EXPECT_EQ(wordAt(wav, 16), 40u) << "format chunk size";
    EXPECT_EQ(wordAt(wav, 20, 2), 0xFFFEu);
    EXPECT_EQ(wordAt(wav, 22, 2), 6u);
    EXPECT_EQ(wordAt(wav, 32, 2), 12u) << "block align";
    EXPECT_EQ(wordAt(wav, 36, 2), 22u) << "extension size";
    EXPECT_EQ(wordAt(wav, 38, 2), 16u) << "valid bits";
    EXPECT_EQ(wordAt(wav, 40), 0x3Fu) << "channel mask";
    EXPECT_EQ(wordAt(wav, 44, 2), 1u) << "integer PCM sub-format";
    EXPECT_EQ(wav.substr(60, 4), "data");
    EXPECT_EQ(wordAt(wav, 64), 44100u * 12u);
}

// Through the plug-in, tesk gives the quor tool's samples of a stream with an
// encoder tag: trimmed (by default) or not, from the start or from the
// sample of a start time, in 16, 24 and 32-bit and float samples.
void sameAsTheQuorTool(const fs::path& dir, const ProgramRun&) {
    namespace gen = tesk::quor::streamgen;
    gen::StreamOptions options;
    options.layer = gen::Layer::kIII;
    options.vbrFrame = gen::VbrFrame::kInfo;
    options.encoderTag = true;
    tesk_quor_test::CliFiles files;
    files.in = tesk_quor_test::generatedStream("tesk", "tagged.mp3", options);
    for (const std::vector<std::string>& extra :
         std::vector<std::vector<std::string>>{{},
                                               {"--start", "0.7071"},
                                               {"--no-gapless", "--start", "0.001"},
                                               {"--float", "--start", "0.5"},
                                               {"--bits", "24"},
                                               {"--bits", "32", "--no-gapless"}}) {
        std::vector<std::string> arguments = {"decode", "{in}", "-q", "-f", "-o"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        arguments.insert(arguments.begin() + 5, "{dir}/tesk.wav");
        ASSERT_EQ(
            tesk_quor_test::runRow(TESK_PLAYER_PROGRAM, {arguments, 0, ""}, files, dir).status, 0);
        arguments[5] = "{dir}/quor.wav";
        ASSERT_EQ(tesk_quor_test::runRow(QUOR_TOOL_PROGRAM, {arguments, 0, ""}, files, dir).status,
                  0);
        const std::string wav = readAll(dir / "tesk.wav");
        EXPECT_TRUE(wav == readAll(dir / "quor.wav")) << "the same WAV file " << extra.size();
        EXPECT_TRUE(!extra.empty() || wav.size() == 44u + 44100u * 4u) << "the encoder's input";
    }
    const tesk_quor_test::CliCase info({"info", "{in}"}, 0, "");
    const ProgramRun tesk = tesk_quor_test::runRow(TESK_PLAYER_PROGRAM, info, files, dir);
    EXPECT_EQ(tesk.out, tesk_quor_test::runRow(QUOR_TOOL_PROGRAM, info, files, dir).out);
    EXPECT_NE(tesk.out.find("\nencoder_delay: 528 samples\nencoder_padding: 1452 samples\n"),
              std::string::npos)
        << tesk.out;
}

// A two-second sine with an ID3v2.4 tag in front (a title that JSON must
// escape, a track with its total, gains and peaks, a cover) and an APEv2
// album behind, in a folder of its own.
tesk_quor_test::CliFiles taggedSine(const fs::path& dir) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    namespace gen = tesk::quor::streamgen;
    gen::StreamOptions sine;
    sine.layer = gen::Layer::kIII;
    sine.signal = gen::Signal::kSine;
    sine.samplesPerChannel = 2 * 44100;
    tesk_quor_test::CliFiles files;
    files.in2 = tesk_quor_test::generatedStream("tesk", "sine.mp3", sine);
    using namespace tesk_quor_test;
    using namespace std::string_literals;
    const Bytes tag = id3v2(4, {{"TIT2", text(3, bytesOf("Grüße \"a\" \\ 東京"))},
                                {"TRCK", text(0, bytesOf("3/12"))},
                                {"TXXX", text(0, bytesOf("REPLAYGAIN_TRACK_GAIN\0-6.00 dB"s))},
                                {"TXXX", text(0, bytesOf("REPLAYGAIN_ALBUM_GAIN\0+3.00 dB"s))},
                                {"TXXX", text(0, bytesOf("REPLAYGAIN_ALBUM_PEAK\0"
                                                         "0.6"s))},
                                {"APIC", picture(4, 3, "image/png", bytesOf("PNG!"))}});
    const Bytes bytes =
        joined(joined(tag, bytesOf(readAll(files.in2))), apeTag({{"Album", "Ape"}}));
    files.in = (dir / "tagged.mp3").string();
    gen::WriteFile(files.in, bytes);
    return files;
}

// The level of the middle half of a 16-bit WAV file, in decibels (RMS).
double levelOf(const fs::path& wav) {
    const std::string bytes = readAll(wav);
    std::vector<std::int16_t> samples((bytes.size() - 44) / 2);
    std::memcpy(samples.data(), bytes.data() + 44, samples.size() * 2);
    double sum = 0.0;
    for (std::size_t i = samples.size() / 4; i < samples.size() * 3 / 4; ++i) {
        sum += static_cast<double>(samples[i]) * samples[i];
    }
    return 10.0 * std::log10(sum / static_cast<double>(samples.size() / 2));
}

// Output past 4 GiB (8 channels at 192 kHz of 700 copies of the stream, 1408
// s) starts as RF64 on a pipe, its sizes counted up front; the reader going
// ends the run with SIGPIPE's status.
tesk_quor_test::CliCheck rf64OnAPipe(const tesk_quor_test::CliFiles& files) {
    return [files](const fs::path& dir, const ProgramRun&) {
        const std::string script = "cd \"$2\"; for i in $(seq 700); do cat \"$1\"; done >long.mp2; "
                                   "set -o pipefail; \"$0\" "
                                   "decode long.mp2 -o - --rate 192000 --channels 8 | head -c 104 "
                                   ">h.wav; echo $?; rm long.mp2";
        const CliCase row({"-c", script, TESK_PLAYER_PROGRAM, "{in}", "{dir}"}, 0, "");
        EXPECT_EQ(tesk_quor_test::runRow("bash", row, files, dir).out, "141\n");
        constexpr std::uint64_t kData = 1408ull * 192000 * 16;
        using tesk_quor_test::littleEndian;
        const std::string wav = readAll(dir / "h.wav");
        EXPECT_EQ(wav.substr(0, 64), "RF64" + littleEndian(~0u) + "WAVEds64" + littleEndian(28) +
                                         littleEndian(kData + 96, 8) + littleEndian(kData, 8) +
                                         littleEndian(kData / 16, 8) + littleEndian(0) + "fmt " +
                                         littleEndian(40) + littleEndian(0xFFFE, 2) +
                                         littleEndian(8, 2) + littleEndian(192000));
        EXPECT_EQ(wav.substr(96), "data" + littleEndian(~0u));
    };
}

} // namespace

// Both programs print the same tag keys and values, in text and JSON; quor
// writes the cover under the rules of every output file.
TEST(TeskProgram, TagsAreAlikeInBothProgramsAndTheCoverIsWritten) {
    if (Quor_GetTagKey(0) == nullptr) {
        GTEST_SKIP() << "built without TagLib: no tags are read";
    }
    const fs::path dir = fs::path(TESK_QUOR_BINARY_DIR) / "test-output" / "tesk_tags";
    const tesk_quor_test::CliFiles files = taggedSine(dir);
    const std::string text = "title: Grüße \"a\" \\ 東京\nalbum: Ape\ntrack: 3/12\n";
    const std::string json = "\"title\": \"Grüße \\\"a\\\" \\\\ 東京\", \"album\": \"Ape\"";
    for (const auto& [arguments, expected] :
         std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"info", "{in}"}, text}, {{"info", "--json", "{in}"}, json}}) {
        const ProgramRun tesk =
            tesk_quor_test::runRow(TESK_PLAYER_PROGRAM, {arguments, 0, ""}, files, dir);
        EXPECT_EQ(tesk.out,
                  tesk_quor_test::runRow(QUOR_TOOL_PROGRAM, {arguments, 0, ""}, files, dir).out);
        EXPECT_NE(tesk.out.find(expected), std::string::npos) << tesk.out;
    }
    tesk_quor_test::runCliTable(
        QUOR_TOOL_PROGRAM, "quor_picture", files,
        {{{"info", "{in}", "--picture", "{dir}/c.png"},
          0,
          "picture: type 3, image/png, 4 bytes\n",
          "",
          false,
          [](const fs::path& out, const ProgramRun&) {
              EXPECT_EQ(readAll(out / "c.png"), "PNG!");
          }},
         {{"info", "{in}", "--picture", "{in}", "-f"}, 2, "is the input itself"},
         {{"decode", "{in}", "-o", "x.wav", "--picture", "c.png"},
          2,
          "--picture goes with info only"},
         {{"info", "-", "--picture", "{dir}/c.png"},
          1,
          "quor: standard input: no picture in its tags",
          "{in}",
          true},
         {{"info", "-"}, 0, "tags: not read (the input cannot seek)\n", "{in}", true}});
}

// The level changes by the tagged gain plus the pre-amplification, except
// where the tagged peak would clip: there the gain stops at the peak.
TEST(TeskProgram, ReplayGainChangesTheLevelByTheTaggedGain) {
    if (Quor_GetTagKey(0) == nullptr) {
        GTEST_SKIP() << "built without TagLib: no tags are read";
    }
    const fs::path dir = fs::path(TESK_QUOR_BINARY_DIR) / "test-output" / "tesk_replaygain";
    const tesk_quor_test::CliFiles files = taggedSine(dir);
    const CliCase reference({"decode", "{in}", "-o", "{dir}/off.wav", "-q"}, 0, "");
    ASSERT_EQ(tesk_quor_test::runRow(TESK_PLAYER_PROGRAM, reference, files, dir).status, 0);
    const struct {
        std::vector<std::string> options;
        double change;
        const char* logged;
    } cases[] = {
        {{"off", "{in}"}, 0.0, ""},
        {{"track", "{in}"}, -6.0, "ReplayGain track gain -6.00 dB"},
        {{"album", "{in}"}, 3.0, "applied +3.00 dB"},
        {{"track", "--preamp", "3.5", "{in}"}, -2.5, "pre-amplification +3.50 dB"},
        {{"album", "--preamp", "10", "{in}"},
         -20.0 * std::log10(0.6),
         "limited to +4.44 dB by the peak"},
        {{"track", "{in2}"}, 0.0, "no ReplayGain in the tags; none applied"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = {"decode", "-o", "{dir}/gain.wav", "-q",
                                              "-f",     "-v", "--replaygain"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        const ProgramRun run =
            tesk_quor_test::runRow(TESK_PLAYER_PROGRAM, {arguments, 0, ""}, files, dir);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NEAR(levelOf(dir / "gain.wav") - levelOf(dir / "off.wav"), c.change, 0.05)
            << c.options[0];
        EXPECT_NE(run.err.find(c.logged), std::string::npos) << run.err;
    }
}

// From a pipe, tesk decodes as the bytes arrive: the first output comes
// while the pipe still holds back the rest of the file (it goes on only once
// four output bytes were read; a player that waited for the end would be
// stopped by the timeout, without output). A start time is met by dropping
// samples, and info tells what a pipe cannot.
TEST(TeskProgram, APipeThatStallsIsDecodedAsItsBytesArrive) {
    const fs::path dir = fs::path(TESK_QUOR_BINARY_DIR) / "test-output" / "tesk_pipe";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const tesk_quor_test::CliFiles files = tesk_quor_test::cliFiles("tesk", __FILE__);
    const std::string script =
        "cd {dir}; P=" + tesk_quor_test::shellQuoted(TESK_PLAYER_PROGRAM) +
        "; mkfifo go\n"
        "(head -c 20000 {in}; read x <go; tail -c +20001 {in}) | timeout 30 $P decode - -o - --raw "
        "-q |\n"
        "  { [ \"$(head -c 4 | wc -c)\" = 4 ] && echo early; echo >go; cat >rest.raw; }\n"
        "$P decode {in} -o whole.raw -q; [ $(($(stat -c %s rest.raw) + 4)) = $(stat -c %s "
        "whole.raw) ]; echo whole $?\n"
        "cat {in} | $P decode - -o piped.raw -q --start 0.5; $P decode {in} -o sought.raw -q "
        "--start 0.5\n"
        "cmp piped.raw sought.raw; echo start $?\n"
        "cat {in} | $P info - | grep -c -e 'duration: unknown' -e 'frames: unknown'\n";
    const ProgramRun run = tesk_quor_test::runRow("bash", {{"-c", script}, 0, ""}, files, dir);
    EXPECT_EQ(run.out, "early\nwhole 0\nstart 0\n2\n") << run.err;
}

TEST(TeskProgram, CommandLineTable) {
    const tesk_quor_test::CliFiles files = tesk_quor_test::cliFiles("tesk", __FILE__);
    std::vector<CliCase> table = tesk_quor_test::commonCliCases("tesk", TESK_PLAYER_PROGRAM, files);
    const std::vector<CliCase> own = {
        {{"--version"}, 0, "tesk "},
        {{"decode", "{in}", "-o", "x.wav", "--replaygain", "loud"},
         2,
         "--replaygain accepts track, album or off, not 'loud'"},
        {{"decode", "{in}", "-o", "x.wav", "--preamp", "21"},
         2,
         "--preamp accepts decibels from -20 to 20, not '21'"},
        // The part at 32000 Hz converted to 48000 Hz with the first part.
        {{"decode", "{joined}", "-o", "{dir}/j.raw", "--rate", "48000"},
         0,
         "",
         "",
         false,
         [](const fs::path& dir, const ProgramRun&) {
             EXPECT_NEAR(static_cast<double>(fs::file_size(dir / "j.raw")),
                         4.0 * 1152 * (77 * 48000 / 44100.0 + 39 * 1.5), 16.0);
         }},
        {{"decode", "{in}", "-o", "x.wav", "--rate", "7999"},
         2,
         "--rate accepts 8000 to 192000, not '7999'"},
        {{"decode", "{in}", "-o", "x.wav", "--quality", "best"},
         2,
         "--quality accepts fast or high, not 'best'"},
        {{"decode", "{in}", "-o", "x.wav", "--bits", "12"},
         2,
         "--bits accepts 8, 16, 24 or 32, not '12'"},
        {{"info", "{in}", "--channels", "1"}, 2, "info takes no output options"},
        {{"--plugin", "{dir}/none.so", "info", "{in}"},
         1,
         "tesk: cannot load the plug-in '{dir}/none.so'",
         "",
         false,
         [](const fs::path&, const ProgramRun& run) {
             EXPECT_EQ(run.err.find("two_s"), std::string::npos) << "the input is not named";
         }},
        {{"info", "--json", "-"}, 0, "{\"duration\": 2.011, \"sample_rate\": 44100,", "{in}"},
        {{"decode", "-", "-o", "-", "--raw", "--start", "0:00.5", "--length", "1"},
         0,
         "",
         "{in}",
         true,
         [](const fs::path&, const ProgramRun& run) { EXPECT_EQ(run.out.size(), 176400u); }},
        {{"decode", "{in}", "-o", "{dir}/six.wav", "--channels", "6", "--length", "1"},
         0,
         "",
         "",
         false,
         expectExtensibleHeader},
        {{"decode", "{in}", "-o", "{dir}/mono.wav", "--rate", "48000", "--channels", "1", "--bits",
          "8", "--length", "1"},
         0,
         "",
         "",
         false,
         [](const fs::path& dir, const ProgramRun&) {
             const std::string wav = readAll(dir / "mono.wav");
             tesk_quor_test::expectWavSizes(wav, 36 + 48000, 48000);
             EXPECT_EQ(wordAt(wav, 24), 48000u);
         }},
        {{"decode", "{in}", "-o", "{dir}/wide.wav", "--bits", "24", "--rate", "48000", "--length",
          "1"},
         0,
         "",
         "",
         false,
         [](const fs::path& dir, const ProgramRun&) {
             const std::string wav = readAll(dir / "wide.wav");
             ASSERT_EQ(wav.size(), 68u + 288000u) << "a second of 48000 Hz";
             EXPECT_EQ(wordAt(wav, 4), 60u + 288000u);
             EXPECT_EQ(wordAt(wav, 34, 2), 24u);
             EXPECT_EQ(wordAt(wav, 64), 288000u);
         }},
        {{"info", "{in}", "--verbose"}, 0, "[2] CQuorSource: trying to open file://"},
        {{"decode", "{in}", "-o", "{dir}/t.wav", "-q"}, 0, "", "", false, sameAsTheQuorTool},
        {{"info", "{in}"}, 0, "", "", false, rf64OnAPipe(files)},
    };
    table.insert(table.end(), own.begin(), own.end());
    tesk_quor_test::runCliTable(TESK_PLAYER_PROGRAM, "tesk_cli", files, table);
}
