// Damage as files suffer it, applied to a generated stream: a cut joined to
// a later part, frames zeroed whole, a broken sync word, side information
// that does not add up, flipped bits under a frame's CRC word, junk with
// header-like words between frames, and wrong CRC words.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/streamgen/streamgen.h"

namespace tesk::quor::streamgen {

enum class DamageKind {
    kCut,           // from the middle of the frame on, `count` frames are gone
    kZeroFrames,    // `count` frames overwritten with zeros
    kBreakSync,     // the first byte of `count` frames' headers cleared
    kSideInfo,      // Layer III: the first granule's part2_3_length set to 4095
    kProtectedBits, // the allocation bits of `count` frames flipped
    kJunk,          // 1000 bytes of junk with header-like words put in front of the frame
    kCrcWord,       // the CRC word of `count` protected frames inverted
};

struct Damage {
    DamageKind kind = DamageKind::kZeroFrames;
    std::int32_t frame = 0; // index into the stream's frameOffsets
    std::int32_t count = 1;
};

// The stream's bytes with the damage done; throws std::invalid_argument when
// the frames named lie outside the stream.
std::vector<std::uint8_t> Damaged(const Stream& stream, const Damage& damage);

} // namespace tesk::quor::streamgen
