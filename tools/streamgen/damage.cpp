#include "tools/streamgen/damage.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "tools/streamgen/dressing.h"

namespace tesk::quor::streamgen {
namespace {

constexpr std::int32_t kJunkBytes = 1001;
constexpr std::int32_t kJunkHeaderSpacing = 250;

std::size_t FrameStart(const Stream& stream, std::int32_t frame) {
    return static_cast<std::size_t>(stream.frameOffsets[static_cast<std::size_t>(frame)]);
}

// Where the frame after `frame` starts: the next frame, or the end of the audio.
std::size_t FrameEnd(const Stream& stream, std::int32_t frame) {
    const auto next = static_cast<std::size_t>(frame) + 1;
    return next < stream.frameOffsets.size() ? FrameStart(stream, frame + 1) : stream.bytes.size();
}

// Sets `width` bits from bit `bit` on (most significant first) to ones.
void SetBits(std::vector<std::uint8_t>& bytes, std::size_t start, int bit, int width) {
    for (int i = bit; i < bit + width; ++i) {
        bytes[start + static_cast<std::size_t>(i / 8)] |=
            static_cast<std::uint8_t>(0x80 >> (i % 8));
    }
}

// The bit, from the start of the side information, of the first granule's
// part2_3_length: behind main_data_begin, the private bits and the
// scale-factor selection (MPEG-1).
int Part23Bit(const Stream& stream) {
    const bool lsf = stream.sampleRate < 32000;
    const bool mono = stream.channels == 1;
    if (lsf) {
        return 8 + (mono ? 1 : 2);
    }
    return 9 + (mono ? 5 : 3) + 4 * stream.channels;
}

void DamageFrame(const Stream& stream, DamageKind kind, std::int32_t frame,
                 std::vector<std::uint8_t>& bytes) {
    const std::size_t start = FrameStart(stream, frame);
    const bool crc = (bytes[start + 1] & 1) == 0;
    const std::size_t body = start + 4 + (crc ? 2 : 0);
    switch (kind) {
    case DamageKind::kZeroFrames:
        std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                  bytes.begin() + static_cast<std::ptrdiff_t>(FrameEnd(stream, frame)), 0);
        break;
    case DamageKind::kBreakSync:
        bytes[start] = 0;
        break;
    case DamageKind::kSideInfo:
        SetBits(bytes, body, Part23Bit(stream), 12);
        break;
    case DamageKind::kProtectedBits:
        bytes[body] ^= 0xFF;
        bytes[body + 1] ^= 0xFF;
        break;
    case DamageKind::kCrcWord:
        if (!crc) {
            throw std::invalid_argument("damage: frame " + std::to_string(frame) +
                                        " carries no CRC word");
        }
        bytes[start + 4] ^= 0xFF;
        bytes[start + 5] ^= 0xFF;
        break;
    case DamageKind::kCut:
    case DamageKind::kJunk:
        break;
    }
}

} // namespace

std::vector<std::uint8_t> Damaged(const Stream& stream, const Damage& damage) {
    const auto frames = static_cast<std::int32_t>(stream.frameOffsets.size());
    if (damage.frame < 0 || damage.count < 1 || damage.frame + damage.count > frames) {
        throw std::invalid_argument("damage: frames " + std::to_string(damage.frame) + " to " +
                                    std::to_string(damage.frame + damage.count - 1) +
                                    " lie outside the stream's " + std::to_string(frames));
    }
    std::vector<std::uint8_t> bytes = stream.bytes;
    const std::size_t start = FrameStart(stream, damage.frame);
    if (damage.kind == DamageKind::kCut) {
        const std::size_t middle = (start + FrameEnd(stream, damage.frame)) / 2;
        const std::size_t resume = FrameEnd(stream, damage.frame + damage.count - 1);
        bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(middle),
                    bytes.begin() + static_cast<std::ptrdiff_t>(resume));
    } else if (damage.kind == DamageKind::kJunk) {
        const std::vector<std::uint8_t> junk =
            JunkWithHeaders(stream, kJunkBytes / kJunkHeaderSpacing, kJunkHeaderSpacing);
        // The junk starts one byte into a header, so its words lie inside it.
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(start), junk.begin() + 1,
                     junk.end());
    } else {
        for (std::int32_t i = 0; i < damage.count; ++i) {
            DamageFrame(stream, damage.kind, damage.frame + i, bytes);
        }
    }
    return bytes;
}

} // namespace tesk::quor::streamgen
