// The quor tool run as a program: its command line, outputs, messages and
// exit statuses.
#include <gtest/gtest.h>

#include "tests/support/cli_table.h"

#include <cmath>

using tesk_quor_test::CliCase;
using tesk_quor_test::ProgramRun;

TEST(QuorProgram, CommandLineTable) {
    const tesk_quor_test::CliFiles files = tesk_quor_test::cliFiles("quor_cli", __FILE__);
    // A start time begins the output at sample round(seconds x rate) of the
    // whole decode: in the first frame, inside and at a frame's edge.
    const auto startsAtTheSample = [files](const std::filesystem::path& dir, const ProgramRun&) {
        const std::string whole = tesk_quor_test::readAll(dir / "all.raw");
        for (const double seconds : {0.003, 0.5, 1.0}) {
            const CliCase later({"decode", "{in}", "-o", "{dir}/later.raw", "-f", "--start",
                                 std::to_string(seconds)},
                                0, "");
            ASSERT_EQ(tesk_quor_test::runRow(QUOR_TOOL_PATH, later, files, dir).status, 0);
            const auto skipped = static_cast<std::size_t>(std::lround(seconds * 44100)) * 4;
            EXPECT_TRUE(tesk_quor_test::readAll(dir / "later.raw") == whole.substr(skipped))
                << seconds;
        }
    };
    std::vector<CliCase> table = tesk_quor_test::commonCliCases("quor", QUOR_TOOL_PATH, files);
    const std::vector<CliCase> own = {
        {{"--version"}, 0, "quor "},
        {{"decode", "-", "-o", "{dir}/j.raw"},
         0,
         "quor: standard input: note: at 2.011 s the stream goes on as MPEG-1 layer 2 at 32000 "
         "Hz, converted to 44100 Hz\n",
         "{joined}"},
        {{"decode", "{in}", "-o", "x.wav", "--buffer", "2"},
         2,
         "--buffer accepts 4 to 16777216, not '2'"},
        {{"info", "-"}, 0, "duration: unknown\nsample_rate: 44100 Hz\n", "{in}"},
        {{"decode", "-", "-o", "-", "--start", "1"},
         1,
         "quor: standard input: not supported for this input\n",
         "{in}"},
        {{"decode", "{in}", "-o", "{dir}/b.raw", "--buffer", "1000", "--length", "0.1"},
         0,
         "",
         "",
         false,
         [](const std::filesystem::path& dir, const tesk_quor_test::ProgramRun&) {
             EXPECT_EQ(std::filesystem::file_size(dir / "b.raw"), 17640u);
         }},
        {{"decode", "{in}", "-o", "{dir}/all.raw"}, 0, "", "", false, startsAtTheSample},
        // Of unknown length, a file keeps room for RF64's sizes in a JUNK chunk.
        {{"decode", "-", "-o", "-", "--length", "1"},
         0,
         "",
         "{in}",
         false,
         [](const std::filesystem::path&, const ProgramRun& run) {
             EXPECT_EQ(run.out.substr(0, 16),
                       "RIFF" + tesk_quor_test::littleEndian(72 + 176400) + "WAVEJUNK");
         }},
    };
    table.insert(table.end(), own.begin(), own.end());
    tesk_quor_test::runCliTable(QUOR_TOOL_PATH, "quor_cli", files, table);
}
