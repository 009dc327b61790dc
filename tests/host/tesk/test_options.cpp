#include "host/tesk/Options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using tesk::player::Command;
using tesk::player::Options;
using tesk::player::parseOptions;
using tesk::player::UsageError;

namespace {

Options parse(std::vector<std::string> arguments) {
    return parseOptions(arguments);
}

// The usage error's text for a command line, or "" when it is accepted.
std::string refusal(std::vector<std::string> arguments) {
    try {
        parseOptions(arguments);
    } catch (const UsageError& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(PlayerOptions, DecodeTakesEveryOptionInAnyOrder) {
    const Options options =
        parse({"decode",    "--rate", "48000",   "in.mp3",  "--channels", "1",        "--bits",
               "8",         "-o",     "out.wav", "--start", "12.5",       "--length", "3",
               "--quality", "fast",   "--raw",   "--quiet", "--verbose",  "--plugin", "/p/lib.so"});
    EXPECT_EQ(options.command, Command::kDecode);
    EXPECT_EQ(options.file, "in.mp3");
    EXPECT_EQ(options.output, "out.wav");
    EXPECT_EQ(options.rate, 48000);
    EXPECT_EQ(options.channels, 1);
    EXPECT_EQ(options.bits, 8);
    EXPECT_DOUBLE_EQ(options.start, 12.5);
    EXPECT_FALSE(options.highQuality);
    EXPECT_EQ(options.length, 3.0);
    EXPECT_TRUE(options.raw);
    EXPECT_TRUE(options.quiet);
    EXPECT_TRUE(options.verbose);
    EXPECT_EQ(options.plugin, "/p/lib.so");
}

TEST(PlayerOptions, DefaultsKeepTheFilesOwnFormat) {
    const Options options = parse({"decode", "in.mp3", "-o", "-"});
    EXPECT_EQ(options.output, "-");
    EXPECT_FALSE(options.rate);
    EXPECT_FALSE(options.channels);
    EXPECT_EQ(options.bits, 16);
    EXPECT_TRUE(options.highQuality);
    EXPECT_EQ(options.start, 0.0);
    EXPECT_FALSE(options.length);
    EXPECT_FALSE(options.raw);
    const Options info = parse({"info", "a.mp3"});
    EXPECT_EQ(info.command, Command::kInfo);
    EXPECT_EQ(info.file, "a.mp3");
}

TEST(PlayerOptions, HelpAndVersionWinOverEverythingElse) {
    EXPECT_EQ(parse({"--help"}).command, Command::kHelp);
    EXPECT_EQ(parse({"decode", "-h"}).command, Command::kHelp);
    EXPECT_EQ(parse({"--version"}).command, Command::kVersion);
    EXPECT_EQ(parse({"bogus", "--version"}).command, Command::kVersion);
}

TEST(PlayerOptions, MalformedCommandLinesAreRefusedWithAReason) {
    EXPECT_EQ(refusal({}), "no command given");
    EXPECT_EQ(refusal({"play", "a.mp3"}), "unknown command 'play'");
    EXPECT_EQ(refusal({"decode", "-o", "x.wav"}), "no input file given");
    EXPECT_EQ(refusal({"decode", "a.mp3"}), "decode needs an output: -o OUT");
    EXPECT_EQ(refusal({"decode", "a.mp3", "b.mp3", "-o", "x"}), "more than one input file given");
    EXPECT_EQ(refusal({"decode", "a.mp3", "-o"}), "-o needs a value");
    EXPECT_EQ(refusal({"decode", "a.mp3", "-o", "x", "--fast"}), "unknown option '--fast'");
    EXPECT_EQ(refusal({"info", "a.mp3", "--rate", "8000"}), "info takes no output options");
    EXPECT_EQ(refusal({"decode", "a.mp3", "-o", "x", "--bits", "12"}), "--bits wants 8 or 16");
    EXPECT_EQ(refusal({"decode", "a.mp3", "-o", "x", "--quality", "best"}),
              "--quality wants fast or high, not 'best'");
    EXPECT_EQ(refusal({"decode", "a.mp3", "-o", "x", "--rate", "7999"}),
              "--rate wants a whole number from 8000 to 192000, not '7999'");
    EXPECT_EQ(refusal({"decode", "a.mp3", "-o", "x", "--channels", "9"}),
              "--channels wants a whole number from 1 to 8, not '9'");
}

TEST(PlayerOptions, NumbersOutOfRangeOrWithJunkAreRefused) {
    for (const char* rate : {"0", "-1", "44100x", "", "192001", "99999999999"}) {
        EXPECT_NE(refusal({"decode", "a", "-o", "x", "--rate", rate}), "") << rate;
    }
    for (const char* channels : {"0", "9", "two"}) {
        EXPECT_NE(refusal({"decode", "a", "-o", "x", "--channels", channels}), "") << channels;
    }
    for (const char* seconds : {"-1", "nan", "inf", "1e9", "3s", ""}) {
        EXPECT_NE(refusal({"decode", "a", "-o", "x", "--start", seconds}), "") << seconds;
        EXPECT_NE(refusal({"decode", "a", "-o", "x", "--length", seconds}), "") << seconds;
    }
    EXPECT_EQ(refusal({"decode", "a", "-o", "x", "--rate", "192000", "--channels", "8"}), "");
    EXPECT_EQ(refusal({"decode", "a", "-o", "x", "--rate", "8000", "--channels", "1"}), "");
}

TEST(PlayerOptions, AFileNamedLikeADashIsTheStandardOutputOnlyAfterO) {
    EXPECT_EQ(refusal({"decode", "-", "-o", "x"}), "");
    EXPECT_EQ(parse({"decode", "-", "-o", "x"}).file, "-");
}
