// quor-streamgen: writes a generated MPEG audio test stream to a file.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tools/streamgen/damage.h"
#include "tools/streamgen/dressing.h"
#include "tools/streamgen/music_corpus.h"
#include "tools/streamgen/streamgen.h"

namespace {

using namespace tesk::quor::streamgen;

// What the command writes besides the encoder streams.
struct Extras {
    bool music = false;
    bool corpus = false;
    bool intensity = false;
    std::int32_t seed = 1;
    std::optional<Damage> damage;
};

constexpr const char* kUsage =
    "Usage: quor-streamgen [options] OUT\n"
    "       quor-streamgen --music [--rate --mode --bitrate --samples --intensity --seed N] OUT\n"
    "       quor-streamgen --corpus FOLDER\n"
    "  --music                  Layer III with the statistics of encoded music (own writer)\n"
    "  --intensity              with --music and --mode joint: intensity stereo\n"
    "  --seed N                 with --music: the seed; default 1\n"
    "  --corpus                 write the music corpus, one FOLDER/NAME.mp3 per stream\n"
    "  --layer 1|2|3            the own Layer I writer, twolame (Layer II) or shine\n"
    "                           (Layer III); default 2\n"
    "  --rate HZ                sample rate; default 44100\n"
    "  --mode stereo|joint|dual|mono   channel mode; default stereo\n"
    "  --bitrate KBPS           default 128\n"
    "  --samples N              samples per channel; default 44100\n"
    "  --signal tones|sweep|noise|sine|music   default tones; music: Layer III from the\n"
    "                           own writer, as --music, in a stream that takes the options\n"
    "  --sine HZ                the sine's frequency; default 1000\n"
    "  --id3v2 BYTES            an ID3v2 tag of BYTES after its header\n"
    "  --id3v2-footer           the tag ends with a footer\n"
    "  --xing | --info          a Xing or Info frame before the audio\n"
    "  --no-toc                 that frame has no table of contents\n"
    "  --encoder-tag            that frame has an encoder tag with the encoder's delay\n"
    "                           and padding (Layer III)\n"
    "  --junk BYTES             bytes before the first frame\n"
    "  --id3v1                  a trailing ID3v1 tag\n"
    "  --truncate BYTES         cut BYTES off the end of the audio\n"
    "  --free-format            bit-rate index 0 in every frame (frame lengths stay)\n"
    "  --vary-flags             emphasis, private, copyright and original bits vary by frame\n"
    "  --ape BYTES              a trailing APEv2 tag with an item of BYTES\n"
    "  --ape-header             the APEv2 tag starts with a header\n"
    "  --lyrics3                a trailing Lyrics3 v2 block\n"
    "  --crc                    a CRC word in every frame (Layers I and II, --music, --signal "
    "music)\n"
    "  --damage KIND:FRAME[:N]  damage N frames (default 1) from frame FRAME (0 first) on;\n"
    "                           KIND: cut (from the frame's middle, N frames gone), zero,\n"
    "                           sync (broken sync word), side-info (part2_3_length 4095,\n"
    "                           Layer III), protected (allocation bits flipped), junk\n"
    "                           (1000 bytes with header-like words in front of the frame),\n"
    "                           crc-word (the CRC words inverted)\n";

bool Number(const char* text, std::int32_t& value) {
    const std::string_view s = text;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && ptr == s.data() + s.size();
}

bool Choice(std::string_view name, std::string_view value, StreamOptions& options) {
    if (name == "--mode") {
        static constexpr std::string_view kModes[] = {"stereo", "joint", "dual", "mono"};
        for (int i = 0; i < 4; ++i) {
            if (value == kModes[i]) {
                options.mode = static_cast<ChannelMode>(i);
                return true;
            }
        }
        return false;
    }
    static constexpr std::string_view kSignals[] = {"tones", "sweep", "noise", "sine", "music"};
    for (int i = 0; i < 5; ++i) {
        if (value == kSignals[i]) {
            options.signal = static_cast<Signal>(i);
            return true;
        }
    }
    return false;
}

bool Valued(std::string_view name, const char* value, StreamOptions& options) {
    if (name == "--mode" || name == "--signal") {
        return Choice(name, value, options);
    }
    std::int32_t n = 0;
    if (!Number(value, n)) {
        return false;
    }
    if (name == "--sine") {
        options.sineHz = n;
        return n > 0;
    }
    if (name == "--layer") {
        options.layer = static_cast<Layer>(n);
        return n >= 1 && n <= 3;
    }
    std::int32_t* const targets[] = {&options.sampleRate,        &options.bitRateKbps,
                                     &options.samplesPerChannel, &options.id3v2Size,
                                     &options.junkBytes,         &options.truncateBytes};
    static constexpr std::string_view kNames[] = {"--rate",  "--bitrate", "--samples",
                                                  "--id3v2", "--junk",    "--truncate"};
    for (int i = 0; i < 6; ++i) {
        if (name == kNames[i]) {
            *targets[i] = n;
            return n >= 0;
        }
    }
    return false;
}

// KIND:FRAME[:COUNT] of --damage.
std::optional<Damage> ParseDamage(std::string_view text) {
    static constexpr std::string_view kKinds[] = {"cut",       "zero", "sync",    "side-info",
                                                  "protected", "junk", "crc-word"};
    const std::size_t colon = text.find(':');
    const auto* kind = std::find(std::begin(kKinds), std::end(kKinds), text.substr(0, colon));
    if (colon == std::string_view::npos || kind == std::end(kKinds)) {
        return std::nullopt;
    }
    Damage damage;
    damage.kind = static_cast<DamageKind>(kind - std::begin(kKinds));
    const std::string rest(text.substr(colon + 1));
    const std::size_t second = rest.find(':');
    if (!Number(rest.substr(0, second).c_str(), damage.frame) ||
        (second != std::string::npos && !Number(rest.substr(second + 1).c_str(), damage.count))) {
        return std::nullopt;
    }
    return damage;
}

bool Flag(std::string_view name, StreamOptions& options, Extras& extras) {
    if (name == "--music") {
        extras.music = true;
    } else if (name == "--corpus") {
        extras.corpus = true;
    } else if (name == "--intensity") {
        extras.intensity = true;
    } else if (name == "--id3v2-footer") {
        options.id3v2Footer = true;
    } else if (name == "--xing") {
        options.vbrFrame = VbrFrame::kXing;
    } else if (name == "--info") {
        options.vbrFrame = VbrFrame::kInfo;
    } else if (name == "--no-toc") {
        options.vbrToc = false;
    } else if (name == "--encoder-tag") {
        options.encoderTag = true;
    } else if (name == "--id3v1") {
        options.id3v1 = true;
    } else if (name == "--crc") {
        options.crc = true;
    } else {
        return false;
    }
    return true;
}

// Options of the byte-level dressing; `value` is null for flags. Returns
// whether the option was one, setting `usedValue` when it took the value.
bool DressingOption(std::string_view name, const char* value, Dressing& dressing, bool& usedValue) {
    usedValue = false;
    bool* const flags[] = {&dressing.freeFormat, &dressing.varyFlags, &dressing.apeHeader,
                           &dressing.lyrics3};
    static constexpr std::string_view kFlagNames[] = {"--free-format", "--vary-flags",
                                                      "--ape-header", "--lyrics3"};
    for (std::size_t i = 0; i < std::size(flags); ++i) {
        if (name == kFlagNames[i]) {
            *flags[i] = true;
            return true;
        }
    }
    if (name != "--ape" || value == nullptr) {
        return false;
    }
    char* end = nullptr;
    const long n = std::strtol(value, &end, 10);
    if (*end != '\0' || n < 0 || n > 1 << 24) {
        return false;
    }
    dressing.apeBytes = static_cast<std::int32_t>(n);
    usedValue = true;
    return true;
}

MusicOptions MusicOf(const StreamOptions& options, const Extras& extras) {
    MusicOptions music = MusicOptionsOf(options);
    music.intensity = extras.intensity;
    music.seed = static_cast<std::uint32_t>(extras.seed);
    return music;
}

void Write(const std::string& out, const StreamOptions& options, const Extras& extras,
           const Dressing& dressing) {
    if (extras.corpus) {
        for (const MusicCorpusEntry& entry : MusicCorpus()) {
            std::vector<std::uint8_t> bytes;
            try {
                bytes = MusicStream(entry.options);
            } catch (const std::invalid_argument& e) {
                throw std::runtime_error(entry.name + ": " + e.what());
            }
            WriteFile(out + "/" + entry.name + ".mp3", bytes);
        }
    } else if (extras.music) {
        WriteFile(out, MusicStream(MusicOf(options, extras)));
    } else {
        Stream stream = Generate(options);
        Dress(stream, dressing, options.id3v1);
        WriteFile(out, extras.damage ? Damaged(stream, *extras.damage) : stream.bytes);
    }
}

} // namespace

int main(int argc, char** argv) {
    StreamOptions options;
    Extras extras;
    Dressing dressing;
    std::string out;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg.size() > 2 && arg.substr(0, 2) == "--") {
            if (Flag(arg, options, extras)) {
                continue;
            }
            bool usedValue = false;
            if (DressingOption(arg, i + 1 < argc ? argv[i + 1] : nullptr, dressing, usedValue)) {
                i += usedValue ? 1 : 0;
                continue;
            }
            if (arg == "--seed" && i + 1 < argc && Number(argv[i + 1], extras.seed)) {
                ++i;
                continue;
            }
            if (arg == "--damage" && i + 1 < argc && (extras.damage = ParseDamage(argv[i + 1]))) {
                ++i;
                continue;
            }
            if (i + 1 < argc && Valued(arg, argv[i + 1], options)) {
                ++i;
                continue;
            }
            std::fprintf(stderr, "quor-streamgen: bad option '%s'\n%s", argv[i], kUsage);
            return 2;
        }
        out = arg;
    }
    if (out.empty()) {
        std::fprintf(stderr, "quor-streamgen: no output file given\n%s", kUsage);
        return 2;
    }
    try {
        Write(out, options, extras, dressing);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quor-streamgen: %s: %s\n", out.c_str(), e.what());
        return 1;
    }
    return 0;
}
