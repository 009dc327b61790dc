// A table of command lines run against one of the two programs, quor and
// tesk, with what each must give: the exit status, a text of its output and
// the files it writes. The rows both programs share are here as well.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "tests/support/file_bytes.h"
#include "tests/support/generated_stream.h"
#include "tests/support/sample_values.h"

namespace tesk_quor_test {

struct ProgramRun {
    int status = -1;
    std::string out; // standard output
    std::string err; // standard error
};

using CliCheck = std::function<void(const std::filesystem::path& dir, const ProgramRun& run)>;

struct CliCase {
    CliCase(std::vector<std::string> arguments_, int status_, std::string expected_,
            std::string standardInput_ = "", bool pipedOutput_ = false, CliCheck check_ = {})
        : arguments(std::move(arguments_)), status(status_), expected(std::move(expected_)),
          standardInput(std::move(standardInput_)), pipedOutput(pipedOutput_),
          check(std::move(check_)) {}

    // "{in}" and "{in2}" stand for the two test streams, "{joined}" for the
    // first followed by the second, "{text}" for a file
    // that is no MPEG audio, "{dir}" for an empty folder of the row's own.
    std::vector<std::string> arguments;
    int status = 0;
    std::string expected;      // held by standard output or error; "" for no check
    std::string standardInput; // a file given as standard input
    bool pipedOutput = false;  // standard output into a pipe, not a file
    CliCheck check;
};

struct CliFiles {
    std::string in;     // two seconds of Layer II stereo at 44100 Hz, "two_s.mp2"
    std::string in2;    // a second stream of another name
    std::string text;   // not MPEG audio
    std::string joined; // in, then in2: another sample rate after two seconds
};

// The two test streams in the folder of test streams named folder, and
// text, a file that is no MPEG audio.
inline CliFiles cliFiles(const std::string& folder, const std::string& text) {
    tesk::quor::streamgen::StreamOptions two;
    two.samplesPerChannel = 2 * 44100;
    tesk::quor::streamgen::StreamOptions other;
    other.sampleRate = 32000;
    other.mode = tesk::quor::streamgen::ChannelMode::kMono;
    // A source name the compiler was given relative to the build folder (as a
    // compiler cache gives it) is taken from there, wherever the test runs.
    const std::filesystem::path textFile = std::filesystem::path(TESK_QUOR_BINARY_DIR) / text;
    CliFiles files{generatedStream(folder, "two_s.mp2", two),
                   generatedStream(folder, "other.mp2", other),
                   textFile.lexically_normal().string(), ""};
    files.joined = (std::filesystem::path(files.in).parent_path() / "joined.mp2").string();
    const std::string bytes = readAll(files.in) + readAll(files.in2);
    tesk::quor::streamgen::WriteFile(files.joined + "." + std::to_string(::getpid()),
                                     {bytes.begin(), bytes.end()});
    std::filesystem::rename(files.joined + "." + std::to_string(::getpid()), files.joined);
    return files;
}

inline std::string shellQuoted(const std::string& text) {
    std::string result = "'";
    for (char c : text) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

inline std::string substituted(std::string text, const CliFiles& files,
                               const std::filesystem::path& dir) {
    const std::vector<std::pair<std::string, std::string>> names = {{"{in2}", files.in2},
                                                                    {"{in}", files.in},
                                                                    {"{text}", files.text},
                                                                    {"{joined}", files.joined},
                                                                    {"{dir}", dir.string()}};
    for (const auto& [name, value] : names) {
        for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name)) {
            text.replace(at, name.size(), value);
        }
    }
    return text;
}

inline ProgramRun runRow(const std::string& program, const CliCase& row, const CliFiles& files,
                         const std::filesystem::path& dir) {
    std::string command = shellQuoted(program);
    for (const std::string& argument : row.arguments) {
        command += " " + shellQuoted(substituted(argument, files, dir));
    }
    const std::filesystem::path out = dir / "stdout";
    const std::filesystem::path err = dir / "stderr";
    command += " 2>" + shellQuoted(err.string()) + " <" +
               shellQuoted(row.standardInput.empty() ? "/dev/null"
                                                     : substituted(row.standardInput, files, dir));
    command += (row.pipedOutput ? " | cat >" : " >") + shellQuoted(out.string());
    // With pipefail a pipe's status is the program's own unless that is 0.
    command = "set -o pipefail; " + command;
    const int status = std::system(("bash -c " + shellQuoted(command)).c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readAll(out), readAll(err)};
}

// Runs every row in a fresh folder and checks what it gives.
inline void runCliTable(const std::string& program, const std::string& folder,
                        const CliFiles& files, const std::vector<CliCase>& table) {
    const std::filesystem::path root =
        std::filesystem::path(TESK_QUOR_BINARY_DIR) / "test-output" / folder;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const CliCase& row = table[i];
        const std::filesystem::path dir = root / std::to_string(i);
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        const ProgramRun run = runRow(program, row, files, dir);
        const std::string described = "row " + std::to_string(i) + ": " + run.err;
        EXPECT_EQ(run.status, row.status) << described;
        EXPECT_NE((run.out + run.err).find(substituted(row.expected, files, dir)),
                  std::string::npos)
            << described << run.out;
        if (row.check) {
            row.check(dir, run);
        }
    }
}

// The size fields of a WAV file's header: RIFF and data.
inline void expectWavSizes(const std::string& wav, std::uint32_t riff, std::uint32_t data) {
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(wordAt(wav, 4), riff);
    EXPECT_EQ(wordAt(wav, 40), data);
}

// After a run that wrote {dir}/out.wav with the permissions of a new file:
// through a link to it, the file is neither replaced without -f nor spoilt by
// a size limit or an interruption (SIGTERM while the input, a FIFO, waits for
// more), and a link to the input is refused; with -f the link's target is
// replaced, keeping its permissions.
inline CliCheck keepsFilesWhole(const std::string& program, const std::string& path,
                                const CliFiles& files) {
    return [=](const std::filesystem::path& dir, const ProgramRun&) {
        const std::string before = readAll(dir / "out.wav");
        const std::string script =
            "cd " + shellQuoted(dir.string()) + "; P=" + shellQuoted(path) +
            "; I=" + shellQuoted(files.in) +
            "; ln -s out.wav link.wav; ln -s \"$I\" in.mp2\n"
            "[ $(stat -c %a out.wav) = $(printf %o $((0666 & ~0$(umask)))) ]; echo usual $?\n"
            "$P decode \"$I\" -o link.wav; echo exists $?\n"
            "$P decode \"$I\" -o ./in.mp2 -f --raw; echo input $?\n"
            "(ulimit -f 8; $P decode \"$I\" -o link.wav -f -q); echo limit $?\n"
            "mkfifo fifo; (head -c 20000 \"$I\"; exec sleep 20) >fifo & w=$!\n"
            "$P decode fifo -o link.wav -f -q & p=$!\n"
            "for i in $(seq 100); do ls out.wav.part* >/dev/null 2>&1 && break; sleep 0.1; done\n"
            "kill -TERM $p; wait $p; echo interrupted $?; kill $w; ls | grep -c part; chmod 604 "
            "out.wav\n$P decode \"$I\" -o link.wav -f -q --length 1; echo forced $?\n"
            "stat -c %a out.wav\n";
        const CliCase row(
            {"-c", script}, 0,
            "usual 0\nexists 2\ninput 2\nlimit 1\ninterrupted 143\n0\nforced 0\n604\n");
        const ProgramRun run = runRow("bash", row, files, dir);
        EXPECT_EQ(run.out, row.expected);
        EXPECT_EQ(run.err, program + ": link.wav: exists; give -f to replace it\n" + program +
                               ": ./in.mp2: is the input itself; it is left as it is\n" + program +
                               ": link.wav: file too large\n");
        EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.wav"));
        EXPECT_EQ(readAll(dir / "out.wav").size(), 44u + 176400u);
        EXPECT_NE(readAll(dir / "out.wav"), before);
    };
}

// The stream decodes whole behind 64736 zeros (its first chain crossing the
// end of the first 64 KiB searched) and in RIFF/WAVE of format
// tags 0x0050 and 0x0055 with a chunk after the data.
inline CliCheck opensBehindJunk(const std::string& path, const CliFiles& files) {
    return [=](const std::filesystem::path& dir, const ProgramRun&) {
        const std::string in = readAll(files.in);
        const auto riff = [&](char tag) {
            return "RIFF" + littleEndian(in.size() + 44) + "WAVEfmt " + littleEndian(16) + tag +
                   std::string(3, '\0') + littleEndian(44100) + std::string(8, '\0') + "data" +
                   littleEndian(in.size()) + in + "LIST" + littleEndian(0);
        };
        for (const std::string& bytes : {std::string(64736, '\0') + in, riff(0x50), riff(0x55)}) {
            std::ofstream(dir / "wrapped", std::ios::binary) << bytes;
            const CliCase row({"decode", "{dir}/wrapped", "-o", "{dir}/w.raw", "-f"}, 0, "");
            EXPECT_EQ(runRow(path, row, files, dir).err, "");
            EXPECT_EQ(std::filesystem::file_size(dir / "w.raw"), 77u * 1152u * 4u);
        }
    };
}

// The rows both programs pass alike; program is the name in messages and
// path the program to run.
inline std::vector<CliCase> commonCliCases(const std::string& program, const std::string& path,
                                           const CliFiles& files) {
    namespace fs = std::filesystem;
    using Dir = const fs::path&;
    const std::string refused = "Try '" + program + " --help'.";
    return {
        {{"--help"}, 0, "Exit status: 0 success"},
        {{}, 2, program + ": no command given\n" + refused},
        {{"decode", "{in}"}, 2, "decode needs an output: -o OUT"},
        {{"decode", "{in}", "-o", "{dir}/x.mp4"}, 2, "name it .wav, .raw or .pcm, or give --raw"},
        {{"decode", "{in}", "{in2}", "-o", "{dir}/x.wav"}, 2, "several inputs need a folder"},
        {{"decode", "{in}", "-o", "x.wav", "--start", "1:60"},
         2,
         "--start accepts seconds such as 90, 1.5 or 1:30.5, not '1:60'"},
        {{"decode", "{in}", "-o", "x.wav", "--length", "-1"}, 2, "--length accepts seconds"},
        {{"decode", "{in}", "-o", "x.wav", "--start", "99999999999"},
         2,
         "--start accepts times up to 2147483 seconds (596:31:23), not '99999999999'"},
        {{"info", "--", "--json"}, 1, program + ": --json: no such file\n"},
        {{"info", "{in}", "--start", "1"}, 2, "info takes no output options"},
        {{"info", "{dir}/gone.mp3"}, 1, program + ": {dir}/gone.mp3: no such file\n"},
        {{"info", "{text}"}, 1, program + ": {text}: not an MPEG audio stream\n"},
        {{"info", "{dir}"}, 1, program + ": {dir}: is a folder\n"},
        {{"info", "{in}"},
         0,
         "duration: 2.011 s\nsample_rate: 44100 Hz\nchannels: 2\nsample_format: 16-bit\n"
         "layer: 2\nversion: MPEG-1\n"
         "mode: stereo\nbit_rate: 128000 bit/s\nvbr: false\nframes: 77\n"},
        {{"info", "--json", "{in}"},
         0,
         "{\"duration\": 2.011, \"sample_rate\": 44100, \"channels\": 2, "
         "\"sample_format\": \"16-bit\", \"layer\": 2, "
         "\"version\": \"MPEG-1\", \"mode\": \"stereo\", \"bit_rate\": 128000, \"vbr\": false, "
         "\"frames\": 77}\n"},
        {{"decode", "{in}", "-o", "{dir}/A.WAV", "--length", "1"},
         0,
         "",
         "",
         false,
         [](Dir dir, const ProgramRun&) {
             expectWavSizes(readAll(dir / "A.WAV"), 36 + 176400, 176400);
         }},
        {{"decode", "{in}", "-o", "-", "--start", "1.5"},
         0,
         "",
         "",
         false,
         [](Dir, const ProgramRun& run) {
             const auto data = static_cast<std::uint32_t>(run.out.size() - 44);
             EXPECT_GT(data, 0u);
             EXPECT_LT(data, 176400u * 6u / 10u) << "about half a second is left";
             expectWavSizes(run.out, data + 36, data);
         }},
        {{"decode", "-", "-o", "-", "--length", "0.5"},
         0,
         "",
         "{in}",
         true,
         [](Dir, const ProgramRun& run) {
             EXPECT_EQ(run.out.size(), 44u + 88200u);
             expectWavSizes(run.out, 0xFFFFFFFFu, 0xFFFFFFFFu);
         }},
        {{"decode", "{in}", "{in2}", "-o", "{dir}/made/deeper/", "--raw", "--length", "0.25"},
         0,
         "",
         "",
         false,
         [](Dir dir, const ProgramRun&) {
             EXPECT_EQ(fs::file_size(dir / "made/deeper/two_s.raw"), 44100u);
             EXPECT_TRUE(fs::exists(dir / "made/deeper/other.raw"));
         }},
        {{"decode", "{in2}", "-o", "{in}/"}, 1, program + ": {in}/: cannot make the folder: "},
        {{"decode", "{dir}/gone.mp3", "{in}", "-o", "{dir}", "-q"},
         1,
         program + ": {dir}/gone.mp3: no such file\n",
         "",
         false,
         [](Dir dir, const ProgramRun&) {
             EXPECT_TRUE(fs::exists(dir / "two_s.wav")) << "the other input is still decoded";
             EXPECT_FALSE(fs::exists(dir / "gone.wav"));
         }},
        {{"decode", "{in}", "-o", "{dir}/no/x.wav"}, 1, program + ": {dir}/no/x.wav: no such file"},
        {{"decode", "{in}", "-o", "{dir}/x.wav", "--start", "2.1"},
         1,
         program + ": {in}: the start time 2.100 s is past the end of the stream (2.011 s)\n",
         "",
         false,
         [](Dir dir, const ProgramRun&) { EXPECT_FALSE(fs::exists(dir / "x.wav")); }},
        // Frames of which none decodes give concealment only: no file is kept.
        {{"decode", TESK_QUOR_SOURCE_DIR "/tools/fuzz/corpus/quor_fuzz/noaudio-two-frames-layer1",
          "-o", "{dir}/n.wav"},
         1,
         ": no audio found\n",
         "",
         false,
         [](Dir dir, const ProgramRun&) { EXPECT_FALSE(fs::exists(dir / "n.wav")); }},
        {{"info", "{in}"}, 0, "frames: 77", "", false, opensBehindJunk(path, files)},
        // A name is bytes: a Latin-1 name opens, and is shown escaped.
        {{"info", "{dir}/lat\xE9\n.mp2"},
         1,
         program + ": {dir}/lat\\xE9\\x0A.mp2: no such file\n",
         "",
         false,
         [=](Dir dir, const ProgramRun&) {
             fs::copy_file(files.in, dir / "lat\xE9.mp2");
             EXPECT_EQ(runRow(path, {{"info", "{dir}/lat\xE9.mp2"}, 0, ""}, files, dir).status, 0);
         }},
        {{"decode", "{in}", "-o", "{in}", "--raw"}, 2, program + ": {in}: is the input itself"},
        {{"decode", "{in}", "-o", "/dev/full"}, 1, program + ": /dev/full: no space left on the"},
        {{"decode", "{in2}", "-o", "{dir}/out.wav", "-q"},
         0,
         "",
         "",
         false,
         keepsFilesWhole(program, path, files)},
        // 77 frames at 44100 Hz, then 39 at 32000 Hz converted to 44100 Hz:
        // the first part as the first stream gives it alone, the second
        // heard to its end.
        {{"decode", "{joined}", "-o", "{dir}/j.raw"},
         0,
         "",
         "",
         false,
         [=](Dir dir, const ProgramRun&) {
             const std::string joined = readAll(dir / "j.raw");
             EXPECT_NEAR(static_cast<double>(joined.size()), 4.0 * 1152 * (77 + 39 * 1.378125),
                         16.0);
             runRow(path, {{"decode", "{in}", "-o", "{dir}/in.raw"}, 0, ""}, files, dir);
             EXPECT_TRUE(joined.substr(0, 77 * 4608) == readAll(dir / "in.raw"));
             const std::vector<double> end = sampleValues(
                 reinterpret_cast<const std::uint8_t*>(joined.data()) + joined.size() - 4410 * 4,
                 4410 * 4, 2, false);
             EXPECT_GT(*std::max_element(end.begin(), end.end()), 1000.0);
         }},
    };
}

} // namespace tesk_quor_test
