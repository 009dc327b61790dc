// The quor tool run as a program: its command line, outputs, messages and
// exit statuses.
#include <gtest/gtest.h>

#include "tests/support/cli_table.h"

using tesk_quor_test::CliCase;

TEST(QuorProgram, CommandLineTable) {
    std::vector<CliCase> table = tesk_quor_test::commonCliCases("quor");
    const std::vector<CliCase> own = {
        {{"--version"}, 0, "quor "},
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
    };
    table.insert(table.end(), own.begin(), own.end());
    tesk_quor_test::runCliTable(QUOR_TOOL_PATH, "quor_cli",
                                tesk_quor_test::cliFiles("quor_cli", __FILE__), table);
}
