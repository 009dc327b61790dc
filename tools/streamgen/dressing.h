// Byte-level dressing of generated streams for what the encoders cannot
// write: free-format frames, varied header flags, trailing APEv2 and
// Lyrics3 v2 tags, header-like words in junk, and streams joined from parts
// of different channel modes or sample rates.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/streamgen/streamgen.h"

namespace tesk::quor::streamgen {

struct Dressing {
    bool freeFormat = false;    // bit-rate index 0 in every frame
    bool varyFlags = false;     // emphasis, private, copyright, original bits vary by frame
    std::int32_t apeBytes = -1; // an APEv2 tag with an item of this many bytes; -1 for none
    bool apeHeader = false;     // the APEv2 tag starts with a header
    bool lyrics3 = false;       // a Lyrics3 v2 block behind the APEv2 tag
    bool id3v1 = false;         // an ID3v1 tag behind them
};

// Applies the dressing to a stream made by Generate; the trailing tags go in
// front of its ID3v1 tag when it has one.
void Dress(Stream& stream, const Dressing& dressing, bool hasID3v1);

// Sets the bit-rate index of every frame to 0; the frame lengths stay, so
// that the stream becomes free format at the encoder's bit rate.
void MakeFreeFormat(Stream& stream);

// Gives frame i emphasis i % 4 and private, copyright and original bits
// from the next bits of i; nothing a decoder must act on changes.
void VaryHeaderFlags(Stream& stream);

std::vector<std::uint8_t> ApeTag(std::int32_t itemBytes, bool withHeader);
std::vector<std::uint8_t> Lyrics3Tag();

// `count` copies of the stream's first header, `spacing` bytes apart, in
// junk that holds no other 0xFF byte: words that look like frames but are
// no chain of frames.
std::vector<std::uint8_t> JunkWithHeaders(const Stream& stream, std::int32_t count,
                                          std::int32_t spacing);

// Appends the frames of `next` (a stream without tags or junk) to `stream`.
void Join(Stream& stream, const Stream& next);

} // namespace tesk::quor::streamgen
