// Shared helpers of the decoder library's tests: an in-memory input behind
// the Quor_ callbacks, generated-stream paths and whole-stream decoding.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "decoder/frame_header.h"
#include "quor/quor.h"

namespace tesk::quor::test {

// Bytes in memory offered through the callbacks, with switches for the
// behaviours of real inputs.
struct MemoryInput {
    std::vector<std::uint8_t> bytes;
    std::int64_t position = 0;
    std::int32_t startPosition = 0; // what getPosition reports before any read
    bool seekable = true;
    bool knowsLength = true;
    bool failSeeks = false;
    std::int32_t failReadsAfter = -1; // bytes delivered before reads fail
    std::int32_t readCalls = 0;
    std::int32_t seekCalls = 0;

    static std::int32_t Read(void* user, void* buffer, std::int32_t count) {
        auto* self = static_cast<MemoryInput*>(user);
        ++self->readCalls;
        if (self->failReadsAfter >= 0 && self->position >= self->failReadsAfter) {
            return -1;
        }
        const std::int64_t left = static_cast<std::int64_t>(self->bytes.size()) - self->position;
        const auto n = static_cast<std::int32_t>(std::clamp<std::int64_t>(left, 0, count));
        if (n > 0) {
            std::memcpy(buffer, self->bytes.data() + self->position, static_cast<std::size_t>(n));
        }
        self->position += n;
        return n;
    }
    static std::int32_t Seek(void* user, std::int32_t to) {
        auto* self = static_cast<MemoryInput*>(user);
        ++self->seekCalls;
        if (self->failSeeks || to < 0) {
            return 0;
        }
        self->position = to;
        return 1;
    }
    static std::int32_t Length(void* user) {
        return static_cast<std::int32_t>(static_cast<MemoryInput*>(user)->bytes.size());
    }
    static std::int32_t Position(void* user) {
        auto* self = static_cast<MemoryInput*>(user);
        return self->position == 0 ? self->startPosition
                                   : static_cast<std::int32_t>(self->position);
    }

    QuorCallbacks Callbacks() const {
        return {Read, seekable ? Seek : nullptr, knowsLength ? Length : nullptr, Position};
    }
};

// Header bytes of a few frame kinds: MPEG-1 Layer III 128 kbit/s at
// 44100 Hz (417 bytes) and at 48000 Hz.
inline constexpr std::uint8_t kLayer3At44100[4] = {0xFF, 0xFB, 0x90, 0x00};
inline constexpr std::uint8_t kLayer3At48000[4] = {0xFF, 0xFB, 0x94, 0x00};

// Appends count frames with the given header and a body of zeros.
inline void AppendFrames(std::vector<std::uint8_t>& out, const std::uint8_t* header,
                         std::int32_t count, std::int32_t length = 0) {
    CFrameHeader parsed;
    if (length == 0) {
        parsed.Parse(header);
        length = parsed.frameLength;
    }
    for (std::int32_t i = 0; i < count; ++i) {
        const std::size_t start = out.size();
        out.resize(start + static_cast<std::size_t>(length), 0);
        std::memcpy(out.data() + start, header, 4);
    }
}

// Bytes that hold no 0xFF and so no frame header.
inline void AppendJunk(std::vector<std::uint8_t>& out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(static_cast<std::uint8_t>((i * 31 + 5) % 251));
    }
}

inline std::string SharedPath(const std::string& name) {
    return std::string(TESK_QUOR_SHARED_DIR) + "/" + name;
}

inline std::wstring Wide(const std::string& path) {
    return {path.begin(), path.end()};
}

struct Decoded {
    std::vector<std::int16_t> samples;
    std::int32_t result = QUOR_OK; // QUOR_END after a clean end
};

// Decodes to the end with buffers of the given size.
inline Decoded DecodeAll(QuorHandle handle, std::int32_t bufferBytes = 4608) {
    Decoded out;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::max(bufferBytes, 1)));
    for (;;) {
        std::int32_t delivered = 0;
        out.result = Quor_Decode(handle, buffer.data(), bufferBytes, &delivered);
        if (out.result != QUOR_OK) {
            return out;
        }
        const std::size_t start = out.samples.size();
        out.samples.resize(start + static_cast<std::size_t>(delivered) / 2);
        std::memcpy(out.samples.data() + start, buffer.data(), static_cast<std::size_t>(delivered));
    }
}

// Seeks to ms and decodes to the end; the largest difference from the whole
// decode from sample round(ms x rate / 1000) (or `expected`) on, or -1 when
// the lengths, the position or the time right after the seek disagree.
inline std::int32_t SeekDifference(QuorHandle handle, const std::vector<std::int16_t>& whole,
                                   const QuorFileInfo& info, std::int32_t ms,
                                   std::int64_t expected = -1) {
    const std::int64_t first =
        expected >= 0 ? expected : (static_cast<std::int64_t>(ms) * info.sampleRate + 500) / 1000;
    std::int64_t position = -1;
    std::int32_t time = -1;
    const bool sought = Quor_SeekToTime(handle, ms) == QUOR_OK &&
                        Quor_GetPosition(handle, &position) == QUOR_OK &&
                        Quor_GetTime(handle, &time) == QUOR_OK && position == first && time == ms;
    const Decoded after = DecodeAll(handle, 1000);
    const auto skipped = std::min(static_cast<std::size_t>(first * info.channels), whole.size());
    if (!sought || after.result != QUOR_END || after.samples.size() != whole.size() - skipped) {
        return -1;
    }
    std::int32_t largest = 0;
    for (std::size_t i = 0; i < after.samples.size(); ++i) {
        largest = std::max(largest, std::abs(after.samples[i] - whole[skipped + i]));
    }
    return largest;
}

} // namespace tesk::quor::test
