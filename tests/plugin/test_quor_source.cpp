// The MPEG audio source end to end: the plug-in library is loaded the way a
// host loads it, streams are generated at test time, and what the source
// hands out is compared with what the decoder library gives on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <quor/quor.h>
#include <tesk/AudioSource.h>
#include <tesk/host/PluginLoader.h>
#include <zelm/Exception.h>

#include "tests/support/file_bytes.h"
#include "tests/support/generated_stream.h"
#include "tools/streamgen/streamgen.h"

namespace {

namespace fs = std::filesystem;
namespace gen = tesk::quor::streamgen;
using tesk::audio::IAudioChunk;
using tesk::audio::IAudioSource;
using tesk::audio::ISource;
using zelm::P;
using zelm::String;

// A host's format record; size counts the valid bytes.
struct FormatRecord {
    std::int32_t size = 20;
    std::int32_t unused = 0;
    std::int32_t sampleRate = 0;
    std::int32_t channels = 0;
    std::int32_t bytesPerSample = 0;
    std::int32_t rest[3] = {};
};

std::string streamFile(const char* name, const gen::StreamOptions& options) {
    return tesk_quor_test::generatedStream("plugin", name, options);
}

// 14 seconds of Layer II stereo at 44100 Hz: long enough to seek to 12.5 s.
std::string longStereoFile() {
    gen::StreamOptions options;
    options.samplesPerChannel = 44100 * 14;
    return streamFile("long_stereo.mp2", options);
}

// One second of Layer III mono at 22050 Hz.
std::string shortMonoFile() {
    gen::StreamOptions options;
    options.layer = gen::Layer::kIII;
    options.sampleRate = 22050;
    options.mode = gen::ChannelMode::kMono;
    options.bitRateKbps = 64;
    options.samplesPerChannel = 22050;
    return streamFile("short_mono.mp3", options);
}

// The whole stream as the decoder library decodes it by itself.
struct DirectDecoding {
    std::vector<std::uint8_t> pcm;
};

DirectDecoding decodeDirectly(const std::string& path) {
    QuorHandle decoder = nullptr;
    const std::wstring widePath = String::fromUTF8(path).toWString();
    EXPECT_EQ(Quor_CreateUsingFileW(&decoder, widePath.c_str(), QUOR_VERSION), QUOR_OK);
    DirectDecoding decoded;
    std::vector<std::uint8_t> buffer(16384);
    for (;;) {
        std::int32_t bytes = 0;
        const std::int32_t result =
            Quor_Decode(decoder, buffer.data(), static_cast<std::int32_t>(buffer.size()), &bytes);
        EXPECT_TRUE(result == QUOR_OK || result == QUOR_END) << result;
        decoded.pcm.insert(decoded.pcm.end(), buffer.begin(), buffer.begin() + bytes);
        if (result != QUOR_OK) {
            break;
        }
    }
    Quor_Destroy(decoder);
    return decoded;
}

class QuorSourceTest : public ::testing::Test {
protected:
    QuorSourceTest()
        : m_loader(TESK_QUOR_PLUGIN_PATH, [this](int level, const String& line) {
              m_log.push_back(std::to_string(level) + " " + line.toStdString());
          }) {}

    P<IAudioSource> create(const std::string& uriText, const void* format, int flags = 2) {
        const String uri = String::fromUTF8(uriText);
        return P<IAudioSource>::dynamicCast(m_loader.getPlugin()->createSource(
            *uri.getObject(), flags, 0, static_cast<const tesk::SourceFormat*>(format)));
    }
    P<IAudioSource> create(const std::string& uriText, int rate, int channels, int bytes,
                           int flags = 2) {
        FormatRecord record;
        record.sampleRate = rate;
        record.channels = channels;
        record.bytesPerSample = bytes;
        return create(uriText, &record, flags);
    }

    // Every chunk up to the end of the stream.
    static std::vector<P<IAudioChunk>> drain(IAudioSource& source) {
        std::vector<P<IAudioChunk>> chunks;
        while (P<IAudioChunk> chunk = source.decode()) {
            chunks.push_back(chunk);
        }
        return chunks;
    }

    static std::vector<std::uint8_t> bytesOf(const std::vector<P<IAudioChunk>>& chunks) {
        std::vector<std::uint8_t> bytes;
        for (const P<IAudioChunk>& chunk : chunks) {
            bytes.insert(bytes.end(), chunk->getData(), chunk->getData() + chunk->getSize());
        }
        return bytes;
    }

    // The description of the CTESKError that call throws, caught as a host
    // catches it: by the foundation's exception type and its name.
    template <class Call> static std::string errorOf(Call&& call) {
        try {
            call();
        } catch (const zelm::CException& e) {
            return e.getName() == "CTESKError" ? e.getDescription().toStdString()
                                               : "not a CTESKError: " + e.getName().toStdString();
        }
        return "no exception";
    }

    tesk::host::CPluginLoader m_loader;
    std::vector<std::string> m_log;
};

TEST_F(QuorSourceTest, SameFormatHandsOutTheDecodersSamplesStampedWithTheirTimes) {
    const std::string path = longStereoFile();
    const P<IAudioSource> source = create(path, 44100, 2, 2);
    ASSERT_TRUE(source);
    source->open();
    EXPECT_NEAR(source->getDuration(), 14.0, 0.05);
    EXPECT_EQ(source->getSampleRate(), 44100);
    EXPECT_EQ(source->getChannels(), 2);
    EXPECT_EQ(source->getBytesPerSample(), 2);
    EXPECT_EQ(source->getChannelLayout(), 3);
    const std::vector<P<IAudioChunk>> chunks = drain(*source);
    const DirectDecoding direct = decodeDirectly(path);
    EXPECT_EQ(bytesOf(chunks), direct.pcm);
    std::int64_t frames = 0;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_LE(chunks[i]->getSize(), 4608);
        EXPECT_EQ(chunks[i]->getTime(), static_cast<double>(frames) / 44100) << "chunk " << i;
        frames += chunks[i]->getSize() / 4;
    }
    EXPECT_TRUE(source->isEndOfStream());
    source->close();
}

TEST_F(QuorSourceTest, OtherRateComesFromTheConverterWithContinuousTimes) {
    const P<IAudioSource> source = create(longStereoFile(), 48000, 2, 2);
    ASSERT_TRUE(source);
    source->open();
    EXPECT_EQ(source->getSampleRate(), 48000);
    const double direct = static_cast<double>(decodeDirectly(longStereoFile()).pcm.size() / 4);
    std::int64_t frames = 0;
    const std::vector<P<IAudioChunk>> chunks = drain(*source);
    for (const P<IAudioChunk>& chunk : chunks) {
        EXPECT_DOUBLE_EQ(chunk->getTime(), static_cast<double>(frames) / 48000.0);
        frames += chunk->getSize() / 4;
    }
    // At the end the converter hands out what its filter held back.
    EXPECT_EQ(static_cast<double>(frames), std::round(direct * 48000.0 / 44100.0));
    source->close();
}

// After a seek to a frame's first sample, to either side of it in whole
// milliseconds, or to any time between, the converter hands out the rest of
// the stream at both qualities (a negative rate: high quality), round(rest x
// out / in) frames or one less; the tail of a frame that the filter takes in
// whole is no end. A stream with an encoder tag is trimmed.
TEST_F(QuorSourceTest, EverySeekConvertsTheRestOfTheStreamInFull) {
    gen::StreamOptions tagged;
    tagged.layer = gen::Layer::kIII;
    tagged.vbrFrame = gen::VbrFrame::kInfo;
    tagged.encoderTag = true;
    tagged.samplesPerChannel = 11025;
    const std::string quarter = streamFile("tagged_quarter.mp3", tagged);
    // Stream, every how many frames' starts and milliseconds it is sought, rates.
    std::vector<std::tuple<std::string, std::size_t, int, std::vector<int>>> sweeps = {
        {quarter, 1, 10, {-8000, -22050, 32000, -48000}},
        {quarter,
         99,
         999,
         {8000, -11025, 12000, -16000, 22050, -24000, 32000, 88200, -96000, 176400, -192000,
          192000}},
        {TESK_QUOR_SOURCE_DIR "/data/demo.mp3", 19, 9999, {-48000, 8000}}};
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(TESK_QUOR_SHARED_DIR "/conformance", error)) {
        if (entry.path().extension() == ".bit") {
            sweeps.push_back({entry.path().string(), 24, 9999, {-44100}});
        }
    }
    for (const auto& [path, stride, stepMs, rates] : sweeps) {
        const std::string& file = path;
        const auto open = [&](int rate) {
            const P<IAudioSource> source = create(file, std::abs(rate), 0, 2);
            source->setOption(tesk::audio::sourceOption(tesk::audio::SourceOption::Gapless, 1));
            source->setOption(tesk::audio::sourceOption(tesk::audio::SourceOption::ResamplerQuality,
                                                        rate < 0 ? 1 : 0));
            source->open();
            return source;
        };
        const auto framesToTheEnd = [](IAudioSource& source, std::vector<P<IAudioChunk>> chunks) {
            return static_cast<std::int64_t>(bytesOf(chunks).size()) / 2 / source.getChannels();
        };
        const P<IAudioSource> own = open(0);
        const std::vector<P<IAudioChunk>> chunks = drain(*own);
        const std::int64_t in = own->getSampleRate(), total = framesToTheEnd(*own, chunks);
        std::set<std::int64_t> times;
        for (std::size_t i = 1; i < chunks.size(); i += stride) {
            const auto ms = static_cast<std::int64_t>(chunks[i]->getTime() * 1000);
            times.insert({ms, ms + 1});
        }
        for (std::int64_t ms = 0; ms * in < total * 1000; ms += stepMs) {
            times.insert(ms);
        }
        for (const int rate : rates) {
            const P<IAudioSource> source = open(rate);
            for (const std::int64_t ms : times) {
                if (ms > 0) { // the first time, 0, without a seek
                    source->seek((static_cast<double>(ms) + 0.25) / 1000.0);
                }
                const std::int64_t rest = std::max<std::int64_t>(total - (ms * in + 500) / 1000, 0);
                const std::int64_t expected = (rest * std::abs(rate) * 2 + in) / (2 * in);
                const std::int64_t frames = framesToTheEnd(*source, drain(*source));
                EXPECT_TRUE(frames == expected || frames == expected - 1)
                    << path << " from " << ms << " ms to " << rate << " Hz: " << frames;
            }
        }
    }
}

// On both paths, also after the end, the first chunk after a seek is stamped
// with the time of the sample asked for.
TEST_F(QuorSourceTest, SeekRestartsTheStampsAtTheSeekTime) {
    for (const int rate : {48000, 44100}) {
        const P<IAudioSource> source = create(longStereoFile(), rate, 2, 2);
        source->open();
        drain(*source);
        for (const double seconds : {12.5, 1.0001}) {
            source->seek(seconds);
            P<IAudioChunk> first = source->decode();
            ASSERT_TRUE(first);
            const double start = std::round(std::trunc(seconds * 1000) * 44.1) / 44100;
            EXPECT_DOUBLE_EQ(first->getTime(), start);
        }
        source->close();
    }
    // A seek into a joined part at 32000 Hz: stamped 14.5 s, the rest from its sample 15948 on.
    const gen::StreamOptions second{gen::Layer::kII, 32000};
    const std::string joined = fs::path(longStereoFile()).replace_filename("joined.mp2").string();
    std::ofstream(joined, std::ios::binary)
        << tesk_quor_test::readAll(longStereoFile())
        << tesk_quor_test::readAll(streamFile("32k.mp2", second));
    const P<IAudioSource> source = create(joined, 44100, 2, 2);
    source->open();
    source->seek(14.5);
    const std::vector<P<IAudioChunk>> chunks = drain(*source);
    ASSERT_FALSE(chunks.empty());
    EXPECT_NEAR(chunks.front()->getTime(), 14.5, 0.5 / 32000);
    EXPECT_NEAR(bytesOf(chunks).size() / 4.0, (39 * 1152 - 15948) * 44100 / 32000.0, 16.0);
}

TEST_F(QuorSourceTest, DecodeOrSeekBeforeOpenNamesQuorErrorParam) {
    const P<IAudioSource> source = create(longStereoFile(), 44100, 2, 2);
    ASSERT_TRUE(source);
    const std::string uri = source->getURI()->toString().toStdString();
    EXPECT_EQ(errorOf([&] { source->decode(); }),
              "Message: Quor_Decode\nErrorcode: QUOR_ERROR_PARAM (-1) file: " + uri);
    EXPECT_EQ(errorOf([&] { source->seek(1.0); }),
              "Message: Quor_SeekToTime\nErrorcode: QUOR_ERROR_PARAM (-1) file: " + uri);
    EXPECT_FALSE(source->isOpen());
    EXPECT_EQ(m_log,
              (std::vector<std::string>{"2 CQuorSource: QUOR ERROR '-1' (Quor_Decode)",
                                        "2 CQuorSource: QUOR ERROR '-1' (Quor_SeekToTime)"}));
}

TEST_F(QuorSourceTest, MissingFileNamesQuorErrorOpenfileAndStaysClosed) {
    const std::string path = std::string(TESK_QUOR_BINARY_DIR) + "/no such file.mp3";
    const P<IAudioSource> source = create(path, 44100, 2, 2);
    ASSERT_TRUE(source);
    const std::string uri = "file://" + std::string(TESK_QUOR_BINARY_DIR) + "/no%20such%20file.mp3";
    EXPECT_EQ(source->getURI()->toString().toStdString(), uri);
    EXPECT_EQ(errorOf([&] { source->open(); }),
              "Message: Quor_CreateUsingFile failed\nErrorcode: QUOR_ERROR_OPENFILE (-8) file: " +
                  uri);
    EXPECT_FALSE(source->isOpen());
    EXPECT_EQ(m_log, (std::vector<std::string>{
                         "2 CQuorSource: trying to open " + uri,
                         "2 CQuorSource: QUOR ERROR '-8' (Quor_CreateUsingFile failed)"}));
}

enum class Made { kFile, kFolder, kFifo, kUnreadable, kShrinking };
constexpr int kEither = 2; // an error, or audio and then the end

struct BadInput {
    std::string name;
    std::vector<std::uint8_t> bytes;
    int expected; // a QUOR_ERROR_ code, QUOR_END (audio, then the end), or kEither
    Made made = Made::kFile;
};

// Makes the row's input afresh at path; a FIFO is fed by a writer of its own.
void make(const BadInput& row, const fs::path& path) {
    fs::remove_all(path);
    gen::WriteFile(path.string() + ".bytes", row.bytes);
    if (row.made == Made::kFolder) {
        fs::create_directories(path);
    } else if (row.made == Made::kFifo) {
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        ASSERT_EQ(
            std::system(("timeout 10 cat '" + path.string() + ".bytes' >'" + path.string() + "' &")
                            .c_str()),
            0);
    } else {
        fs::copy_file(path.string() + ".bytes", path);
        fs::permissions(path,
                        row.made == Made::kUnreadable ? fs::perms::none : fs::perms::owner_all);
    }
}

// The first result other than QUOR_OK (QUOR_OK itself when the calls never
// end) and the bytes decoded before it.
std::pair<int, std::size_t> decodeWithQuor(const std::string& path, const auto& opened) {
    QuorHandle decoder = nullptr;
    QuorFileInfo info{};
    int code = Quor_CreateUsingFile(&decoder, path.c_str(), QUOR_VERSION);
    std::size_t total = 0;
    if (code == QUOR_OK && (code = Quor_GetFileInfo(decoder, &info)) == QUOR_OK) {
        opened();
        std::vector<std::uint8_t> buffer(16384);
        for (int call = 0; code == QUOR_OK && call < 100000; ++call) {
            std::int32_t bytes = 0;
            code = Quor_Decode(decoder, buffer.data(), 16384, &bytes);
            total += static_cast<std::size_t>(bytes);
        }
    }
    Quor_Destroy(decoder);
    return {code, total};
}

// Rows made from a second of Layer III behind an ID3v2 tag (one with a Xing
// header whose table of contents is all 255s) and 1 MB of pseudo-random junk.
std::vector<BadInput> badInputs() {
    gen::StreamOptions options;
    options.layer = gen::Layer::kIII;
    options.id3v2Size = 100;
    const gen::Stream stream = gen::Generate(options);
    const std::vector<std::uint8_t>& bytes = stream.bytes;
    const std::string text = "Not audio at all, only words.\n";
    const std::string png =
        std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16) + std::string(999, 0);
    std::vector<BadInput> rows = {
        {"empty", {}, QUOR_ERROR_DECODE},
        {"folder", {}, QUOR_ERROR_OPENFILE, Made::kFolder},
        {"fifo", bytes, QUOR_END, Made::kFifo},
        {"unreadable", bytes, QUOR_ERROR_OPENFILE, Made::kUnreadable},
        {"png", {png.begin(), png.end()}, QUOR_ERROR_DECODE},
        {"text", {text.begin(), text.end()}, QUOR_ERROR_DECODE},
        {"shrinking", bytes, QUOR_ERROR_READ, Made::kShrinking},
        {"ID3v2 tag of 256 MB", {'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F}, kEither},
        {"junk in front and between frames", std::vector<std::uint8_t>(1 << 20), kEither},
    };
    rows[7].bytes.insert(rows[7].bytes.end(), bytes.begin(), bytes.end());
    std::minstd_rand random;
    std::generate(rows[8].bytes.begin(), rows[8].bytes.end(), [&] { return random() >> 8; });
    const auto middle = bytes.begin() + stream.frameOffsets[stream.frameOffsets.size() / 2];
    rows[8].bytes.insert(rows[8].bytes.end(), bytes.begin() + stream.audioPosition, middle);
    rows[8].bytes.insert(rows[8].bytes.end(), rows[8].bytes.begin(),
                         rows[8].bytes.begin() + (1 << 20));
    rows[8].bytes.insert(rows[8].bytes.end(), middle, bytes.end());
    options.vbrFrame = gen::VbrFrame::kXing;
    BadInput fullToc{"Xing table of 255s", gen::Generate(options).bytes, QUOR_END};
    const auto xing = std::search(fullToc.bytes.begin(), fullToc.bytes.end(), std::begin("Xing"),
                                  std::end("Xing") - 1);
    std::fill_n(xing + 16, 100, 0xFF);
    rows.push_back(fullToc);
    // Junk once taken for a stream, kept as seeds of the fuzz target.
    std::error_code error;
    for (const fs::directory_entry& seed : fs::directory_iterator(
             fs::path(TESK_QUOR_SOURCE_DIR) / "tools/fuzz/corpus/quor_fuzz", error)) {
        const std::string name = seed.path().filename().string();
        const std::string kept = tesk_quor_test::readAll(seed.path());
        if (name.starts_with("one-frame-junk") || name.starts_with("noaudio")) {
            rows.push_back({name,
                            {kept.begin() + 1, kept.end()},
                            name[0] == 'o' ? QUOR_ERROR_DECODE : QUOR_ERROR_NOAUDIO});
        }
    }
    for (std::size_t cut = 1; cut <= 64; ++cut) {
        const auto end = bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() * cut / 65);
        rows.push_back({"cut " + std::to_string(cut), {bytes.begin(), end}, kEither});
    }
    return rows;
}

// Each bad input gives the same clear error through the decoder library and
// through the plug-in, or decodes what is there; none crashes, hangs, or ends
// cleanly with nothing decoded.
TEST_F(QuorSourceTest, BadInputsGiveAClearErrorOrTheAudioThatIsThere) {
    const fs::path path = fs::path(TESK_QUOR_BINARY_DIR) / "test-output" / "bad_inputs" / "in";
    fs::create_directories(path.parent_path());
    for (const BadInput& row : badInputs()) {
        constexpr std::size_t npos = std::string::npos;
        if (row.made == Made::kUnreadable && geteuid() == 0) {
            std::cout << "skipped row '" << row.name
                      << "': running as root, which reads any file, so none is unreadable\n";
            continue;
        }
        const auto opened = [&] {
            if (row.made == Made::kShrinking) {
                fs::resize_file(path, row.bytes.size() / 2);
            }
        };
        make(row, path);
        const auto [code, bytes] = decodeWithQuor(path.string(), opened);
        make(row, path);
        std::size_t pluginBytes = 0;
        const std::string error = errorOf([&] {
            const P<IAudioSource> source = create(path.string(), nullptr);
            source->open();
            opened();
            for (int call = 0; call < 100000; ++call) {
                const P<IAudioChunk> chunk = source->decode();
                pluginBytes += chunk ? static_cast<std::size_t>(chunk->getSize()) : 0;
                if (!chunk) {
                    return;
                }
            }
            throw zelm::CException(String("never ends"));
        });
        SCOPED_TRACE(row.name + ": " + error);
        EXPECT_TRUE(code < QUOR_OK || (code == QUOR_END && bytes > 0)) << code;
        EXPECT_TRUE(row.expected == kEither || code == row.expected) << code;
        const std::string named = "(" + std::to_string(code) + ") file: ";
        EXPECT_TRUE(code == QUOR_END ? error == "no exception" : error.find(named) != npos);
        EXPECT_TRUE(code != QUOR_END || pluginBytes == bytes);
    }
}

TEST_F(QuorSourceTest, EndOfStreamRepeatsAndTheLogLinesComeInOrder) {
    const std::string path = shortMonoFile();
    const P<IAudioSource> source = create(path, 22050, 1, 2);
    source->open();
    source->open();
    EXPECT_TRUE(source->isOpen());
    EXPECT_EQ(source->getChannelLayout(), 4);
    const std::size_t played = bytesOf(drain(*source)).size();
    EXPECT_TRUE(source->isEndOfStream());
    EXPECT_FALSE(source->decode());
    EXPECT_FALSE(source->decode());
    source->seek(0.0);
    EXPECT_FALSE(source->isEndOfStream()) << "a seek leaves the end";
    EXPECT_EQ(bytesOf(drain(*source)).size(), played);
    source->close();
    source->close();
    EXPECT_FALSE(source->isOpen());
    EXPECT_TRUE(source->isEndOfStream()) << "close keeps the flag";
    const std::string uri = source->getURI()->toString().toStdString();
    EXPECT_EQ(m_log, (std::vector<std::string>{"2 CQuorSource: trying to open " + uri,
                                               "2 CQuorSource: " + uri + " opened",
                                               "2 CQuorSource: " + uri + " closed"}));
    source->open();
    EXPECT_FALSE(source->isEndOfStream()) << "open clears the flag";
    EXPECT_TRUE(source->decode());
    source->close();
}

// One host, four sources at once: different streams, each in an output format
// of its own (three through the converter, one at high quality), decode on
// four threads as each decodes alone.
using QuorSourceThreads = QuorSourceTest;

TEST_F(QuorSourceThreads, FourSourcesOfOneHostDecodeAtOnceAsEachDoesAlone) {
    gen::StreamOptions sweep;
    sweep.layer = gen::Layer::kIII;
    sweep.sampleRate = 48000;
    sweep.mode = gen::ChannelMode::kJointStereo;
    sweep.signal = gen::Signal::kSweep;
    sweep.samplesPerChannel = 48000 * 2;
    gen::StreamOptions noise;
    noise.sampleRate = 32000;
    noise.mode = gen::ChannelMode::kMono;
    noise.signal = gen::Signal::kNoise;
    noise.samplesPerChannel = 32000 * 2;
    struct Job {
        std::string path;
        int rate, channels, bytes;
        bool highQuality;
    };
    const std::vector<Job> jobs = {{longStereoFile(), 0, 0, 0, false},
                                   {shortMonoFile(), 48000, 2, 2, true},
                                   {streamFile("sweep_48000.mp3", sweep), 44100, 1, 1, false},
                                   {streamFile("noise_32000.mp2", noise), 22050, 3, 2, false}};
    // Each chunk's time and bytes, in order.
    using Decoded = std::vector<std::pair<double, std::vector<std::uint8_t>>>;
    const auto decodeJob = [this](const Job& job) {
        const P<IAudioSource> source = create(job.path, job.rate, job.channels, job.bytes);
        source->setOption(tesk::audio::sourceOption(tesk::audio::SourceOption::ResamplerQuality,
                                                    job.highQuality ? 1 : 0));
        source->open();
        Decoded decoded;
        for (const P<IAudioChunk>& chunk : drain(*source)) {
            decoded.emplace_back(chunk->getTime(), bytesOf({chunk}));
        }
        source->close();
        return decoded;
    };
    std::vector<Decoded> alone;
    for (const Job& job : jobs) {
        alone.push_back(decodeJob(job));
    }
    std::vector<Decoded> together(jobs.size());
    {
        std::vector<std::jthread> threads;
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            threads.emplace_back([&, i] { together[i] = decodeJob(jobs[i]); });
        }
    }
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        EXPECT_FALSE(alone[i].empty()) << jobs[i].path;
        EXPECT_EQ(together[i], alone[i]) << jobs[i].path;
    }
}

} // namespace
