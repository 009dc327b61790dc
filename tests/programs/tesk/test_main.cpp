// The tesk player run as a program: its command line, outputs, messages and
// exit statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/cli_table.h"

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
// sample of a start time.
void sameAsTheQuorTool(const fs::path& dir, const ProgramRun&) {
    namespace gen = tesk::quor::streamgen;
    gen::StreamOptions options;
    options.layer = gen::Layer::kIII;
    options.vbrFrame = gen::VbrFrame::kInfo;
    options.encoderTag = true;
    tesk_quor_test::CliFiles files;
    files.in = tesk_quor_test::generatedStream("tesk", "tagged.mp3", options);
    for (const std::vector<std::string>& extra : std::vector<std::vector<std::string>>{
             {}, {"--start", "0.7071"}, {"--no-gapless", "--start", "0.001"}}) {
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

TEST(TeskProgram, CommandLineTable) {
    const tesk_quor_test::CliFiles files = tesk_quor_test::cliFiles("tesk", __FILE__);
    std::vector<CliCase> table = tesk_quor_test::commonCliCases("tesk", TESK_PLAYER_PROGRAM, files);
    const std::vector<CliCase> own = {
        {{"--version"}, 0, "tesk "},
        {{"decode", "{in}", "-o", "x.wav", "--rate", "7999"},
         2,
         "--rate accepts 8000 to 192000, not '7999'"},
        {{"decode", "{in}", "-o", "x.wav", "--quality", "best"},
         2,
         "--quality accepts fast or high, not 'best'"},
        {{"decode", "{in}", "-o", "x.wav", "--bits", "24"}, 2, "--bits accepts 8 or 16, not '24'"},
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
        {{"info", "{in}", "--verbose"}, 0, "[2] CQuorSource: trying to open file://"},
        {{"decode", "{in}", "-o", "{dir}/t.wav", "-q"}, 0, "", "", false, sameAsTheQuorTool},
        {{"info", "{in}"}, 0, "", "", false, rf64OnAPipe(files)},
    };
    table.insert(table.end(), own.begin(), own.end());
    tesk_quor_test::runCliTable(TESK_PLAYER_PROGRAM, "tesk_cli", files, table);
}
