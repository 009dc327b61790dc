#include "decoder/stream_tags.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <utility>

#if QUOR_WITH_TAGLIB
#include <apetag.h>
#include <attachedpictureframe.h>
#include <id3v1tag.h>
#include <id3v2header.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <tiostream.h>
#include <tpropertymap.h>
#endif

namespace tesk::quor {

namespace {

// The tag property names TagLib uses, and the keys they are given here.
constexpr std::array<std::pair<const char*, const char*>, 14> kKeys = {{
    {"TITLE", "title"},
    {"ARTIST", "artist"},
    {"ALBUM", "album"},
    {"ALBUMARTIST", "album_artist"},
    {"TRACKNUMBER", "track"},
    {"DISCNUMBER", "disc"},
    {"DATE", "date"},
    {"GENRE", "genre"},
    {"COMMENT", "comment"},
    {"COMPOSER", "composer"},
    {"REPLAYGAIN_TRACK_GAIN", "replaygain_track_gain"},
    {"REPLAYGAIN_TRACK_PEAK", "replaygain_track_peak"},
    {"REPLAYGAIN_ALBUM_GAIN", "replaygain_album_gain"},
    {"REPLAYGAIN_ALBUM_PEAK", "replaygain_album_peak"},
}};

} // namespace

const char* TagKey(std::int32_t index) {
    if (!TagReadingBuiltIn() || index < 0 || index > static_cast<std::int32_t>(kKeys.size())) {
        return nullptr;
    }
    return index < static_cast<std::int32_t>(kKeys.size())
               ? kKeys[static_cast<std::size_t>(index)].second
               : "picture";
}

bool ParseReplayGainValue(const std::string& text, double& value) {
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(start, &end);
    if (end == start || errno != 0 || !(std::abs(parsed) < 1000.0)) {
        return false;
    }
    while (*end == ' ') {
        ++end;
    }
    const std::string rest(end);
    if (!rest.empty() && rest != "dB" && rest != "db" && rest != "DB") {
        return false;
    }
    value = parsed;
    return true;
}

#if QUOR_WITH_TAGLIB

namespace {

// The part of the input TagLib sees: reads, seeks and the length through
// the decoder's callbacks. It never writes.
class CallbackStream final : public TagLib::IOStream {
public:
    CallbackStream(const QuorCallbacks& callbacks, void* user)
        : callbacks_(callbacks), user_(user) {}

    TagLib::FileName name() const override { return ""; }

    // Reads at most what is left of a known length, so that a size a tag
    // claims past the end costs no memory.
    TagLib::ByteVector readBlock(unsigned long length) override {
        const long known = this->length();
        const long left = known > 0 ? std::max(known - tell(), 0L) : kUnknownLengthRead;
        const auto wanted = static_cast<unsigned int>(
            std::min<unsigned long>(length, static_cast<unsigned long>(std::max(left, 0L))));
        TagLib::ByteVector block(wanted, '\0');
        unsigned int filled = 0;
        while (filled < wanted) {
            const std::int32_t got =
                callbacks_.read(user_, block.data() + filled,
                                static_cast<std::int32_t>(std::min(wanted - filled, kPiece)));
            if (got <= 0) {
                break;
            }
            filled += static_cast<unsigned int>(got);
        }
        block.resize(filled);
        return block;
    }

    void writeBlock(const TagLib::ByteVector&) override {}
    void insert(const TagLib::ByteVector&, unsigned long, unsigned long) override {}
    void removeBlock(unsigned long, unsigned long) override {}
    bool readOnly() const override { return true; }
    bool isOpen() const override { return true; }
    void truncate(long) override {}

    void seek(long offset, Position from) override {
        long base = 0;
        if (from == Current) {
            base = tell();
        } else if (from == End) {
            base = length();
        }
        const long target = base + offset;
        if (target >= 0 && target <= std::numeric_limits<std::int32_t>::max()) {
            callbacks_.seek(user_, static_cast<std::int32_t>(target));
        }
    }

    long tell() const override { return callbacks_.getPosition(user_); }

    long length() override {
        const std::int32_t known =
            callbacks_.getLength != nullptr ? callbacks_.getLength(user_) : -1;
        return std::max<std::int32_t>(known, 0);
    }

private:
    static constexpr long kUnknownLengthRead = 1 << 24;
    static constexpr unsigned int kPiece = 1u << 20;

    QuorCallbacks callbacks_;
    void* user_;
};

// Control characters, which a damaged tag may hold, become spaces.
std::string CleanText(const TagLib::StringList& values) {
    std::string text = values.toString("; ").to8Bit(true);
    std::replace_if(
        text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
    const auto last = text.find_last_not_of(' ');
    return last == std::string::npos ? std::string() : text.substr(0, last + 1);
}

// Adds the values of one tag for the keys no earlier tag gave. (TagLib's
// properties() is not virtual: each tag type is asked as itself.)
template <typename Tag>
void TakeValues(const Tag* tag, std::map<std::string, std::string>& values) {
    if (tag == nullptr) {
        return;
    }
    const TagLib::PropertyMap properties = tag->properties();
    for (const auto& [property, key] : kKeys) {
        const auto found = properties.find(property);
        if (found == properties.end() || values.count(key) != 0) {
            continue;
        }
        std::string text = CleanText(found->second);
        if (!text.empty()) {
            values.emplace(key, std::move(text));
        }
    }
}

// The front cover, else the first picture of the ID3v2 tag.
void TakePicture(TagLib::ID3v2::Tag* tag, StreamTags& tags) {
    if (tag == nullptr) {
        return;
    }
    const TagLib::ID3v2::AttachedPictureFrame* chosen = nullptr;
    for (const TagLib::ID3v2::Frame* frame : tag->frameListMap()["APIC"]) {
        const auto* picture = dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame*>(frame);
        if (picture == nullptr || picture->picture().isEmpty()) {
            continue;
        }
        if (chosen == nullptr ||
            (picture->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover &&
             chosen->type() != TagLib::ID3v2::AttachedPictureFrame::FrontCover)) {
            chosen = picture;
        }
    }
    if (chosen == nullptr) {
        return;
    }
    const TagLib::ByteVector& data = chosen->picture();
    tags.picture.assign(data.begin(), data.end());
    std::string mime = CleanText(TagLib::StringList(chosen->mimeType()));
    tags.values["picture"] = "type " + std::to_string(static_cast<int>(chosen->type())) + ", " +
                             (mime.empty() ? std::string("unknown type") : mime) + ", " +
                             std::to_string(data.size()) + " bytes";
}

// Moves the input back to where it was when the tags have been read.
class PositionKeeper {
public:
    PositionKeeper(const QuorCallbacks& callbacks, void* user)
        : callbacks_(callbacks), user_(user), position_(callbacks.getPosition(user)) {}
    ~PositionKeeper() { callbacks_.seek(user_, position_); }
    PositionKeeper(const PositionKeeper&) = delete;
    PositionKeeper& operator=(const PositionKeeper&) = delete;

private:
    const QuorCallbacks& callbacks_;
    void* user_;
    std::int32_t position_;
};

} // namespace

bool TagReadingBuiltIn() {
    return true;
}

StreamTags ReadStreamTags(const QuorCallbacks& callbacks, void* user) {
    StreamTags tags;
    if (callbacks.seek == nullptr) {
        return tags;
    }
    tags.read = true;
    const PositionKeeper keeper(callbacks, user);
    CallbackStream stream(callbacks, user);
    TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    // An ID3v2 tag that claims to end past the input is damaged: none of
    // its values are taken.
    TagLib::ID3v2::Tag* id3v2 = file.ID3v2Tag();
    if (id3v2 != nullptr && id3v2->header()->completeTagSize() > stream.length()) {
        id3v2 = nullptr;
    }
    TakeValues(id3v2, tags.values);
    TakeValues(file.APETag(), tags.values);
    TakeValues(file.ID3v1Tag(), tags.values);
    TakePicture(id3v2, tags);
    return tags;
}

#else

bool TagReadingBuiltIn() {
    return false;
}

StreamTags ReadStreamTags(const QuorCallbacks&, void*) {
    return {};
}

#endif

} // namespace tesk::quor
