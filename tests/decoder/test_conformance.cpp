// Every conformance stream with a reference decoding beside it is decoded
// through the Quor_ interface and compared with the reference, and seeks
// into it are compared with that decode.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "decoder/core/simd_path.h"
#include "test_support.h"

namespace tesk::quor {
namespace {

namespace fs = std::filesystem;

struct Expectation {
    std::int64_t decodedSamples = -1;
    std::int64_t compareSamples = -1;
};

fs::path ConformanceFolder() {
    return fs::path(test::SharedPath("conformance"));
}

// The manifest's decoded and compared sample counts by stream name.
std::map<std::string, Expectation> ReadManifest() {
    std::map<std::string, Expectation> manifest;
    std::ifstream in(ConformanceFolder() / "MANIFEST.tsv");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        std::string name;
        std::string skip;
        Expectation e;
        std::int64_t reference = 0;
        fields >> name >> skip >> skip >> skip >> skip >> e.decodedSamples >> reference >>
            e.compareSamples;
        if (fields) {
            manifest[name] = e;
        }
    }
    return manifest;
}

std::vector<std::string> StreamNames() {
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(ConformanceFolder(), error)) {
        const fs::path& path = entry.path();
        if (path.extension() == ".bit" && fs::exists(fs::path(path).replace_extension(".pcm"))) {
            names.push_back(path.stem().string());
        }
    }
    std::sort(names.begin(), names.end());
    if (names.empty()) {
        names.push_back(""); // one case that reports the missing folder
    }
    return names;
}

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::int16_t> ReadReference(const fs::path& path) {
    const std::vector<std::uint8_t> bytes = ReadBytes(path);
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    return samples;
}

class Conformance : public ::testing::TestWithParam<std::string> {};

TEST_P(Conformance, DecodesLikeTheReference) {
    const std::string name = GetParam();
    if (name.empty()) {
        GTEST_SKIP() << "no conformance streams in " << ConformanceFolder();
    }
    const fs::path stream = ConformanceFolder() / (name + ".bit");
    const std::vector<std::int16_t> reference =
        ReadReference(ConformanceFolder() / (name + ".pcm"));
    const std::map<std::string, Expectation> manifest = ReadManifest();
    const auto listed = manifest.find(name);
    const Expectation expected = listed != manifest.end()
                                     ? listed->second
                                     : Expectation{static_cast<std::int64_t>(reference.size()),
                                                   static_cast<std::int64_t>(reference.size())};

    QuorHandle handle = nullptr;
    ASSERT_EQ(Quor_CreateUsingFileW(&handle, test::Wide(stream.string()).c_str(), QUOR_VERSION),
              QUOR_OK);
    const test::Decoded decoded = test::DecodeAll(handle);
    // A seek lands on sample round(ms x rate / 1000) of that decode: near the
    // start, inside, in the last frame, past the end.
    QuorFileInfo info{};
    ASSERT_EQ(Quor_GetFileInfo(handle, &info), QUOR_OK);
    for (const std::int32_t ms : {info.durationMs - 10, 1, info.durationMs / 3 + 7, 0,
                                  2 * info.durationMs / 3, info.durationMs + 500}) {
        EXPECT_EQ(test::SeekDifference(handle, decoded.samples, info, ms), 0) << ms << " ms";
    }
    Quor_Destroy(handle);
    EXPECT_EQ(decoded.result, QUOR_END);
    // Read as a pipe is (no seek, no length), the stream gives the same samples.
    test::MemoryInput piped;
    piped.bytes = ReadBytes(stream);
    piped.seekable = false;
    piped.knowsLength = false;
    ASSERT_EQ(Quor_Create(&handle, piped.Callbacks(), &piped, QUOR_VERSION), QUOR_OK);
    EXPECT_TRUE(test::DecodeAll(handle).samples == decoded.samples) << "read as a pipe";
    Quor_Destroy(handle);
    EXPECT_EQ(static_cast<std::int64_t>(decoded.samples.size()), expected.decodedSamples);

    const auto compared = static_cast<std::size_t>(std::min<std::int64_t>(
        {expected.compareSamples, static_cast<std::int64_t>(reference.size()),
         static_cast<std::int64_t>(decoded.samples.size())}));
    ASSERT_GT(compared, 0u);
    std::int32_t largest = 0;
    double squares = 0.0;
    for (std::size_t i = 0; i < compared; ++i) {
        const std::int32_t d = decoded.samples[i] - reference[i];
        largest = std::max(largest, std::abs(d));
        squares += static_cast<double>(d) * d;
    }
    const double mse = squares / static_cast<double>(compared);
    const double psnr = mse == 0.0 ? INFINITY : 10.0 * std::log10(32767.0 * 32767.0 / mse);
    RecordProperty("psnr_db", std::to_string(psnr));
    RecordProperty("largest_difference", std::to_string(largest));
    EXPECT_LE(largest, 1) << name << ": PSNR " << psnr << " dB";
    // Single precision is the default only as long as it keeps a margin
    // above the conformance bound of 96 dB.
    const double bound = precision() == Precision::kSingle ? 100.0 : 96.0;
    EXPECT_GE(psnr, bound) << name << ": largest difference " << largest;
}

std::string CaseName(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = info.param.empty() ? "NoStreams" : info.param;
    for (char& c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0) {
            c = '_';
        }
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Streams, Conformance, ::testing::ValuesIn(StreamNames()), CaseName);

} // namespace
} // namespace tesk::quor
