// Metadata that files carry behind their audio: APEv2 tags (with or without
// their header), ID3v1 tags and Lyrics3 v2 blocks, in any order. None of it
// is audio; the stream scanner stops the audio where it begins.
#pragma once

#include <cstdint>
#include <functional>

namespace tesk::quor {

// Reads count bytes at a position of the input; false when they cannot be
// read.
using ReadAt = std::function<bool(std::int32_t position, std::uint8_t* buffer, std::int32_t count)>;

// The position where the trailing metadata in front of `end` begins (`end`
// itself when there is none); start is the lowest position the metadata may
// reach back to.
std::int32_t AudioEnd(std::int32_t start, std::int32_t end, const ReadAt& read);

} // namespace tesk::quor
