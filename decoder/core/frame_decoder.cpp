#include "decoder/core/frame_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <type_traits>

#include "decoder/core/layer12.h"
#include "decoder/core/layer3.h"
#include "decoder/core/layer3_hybrid.h"
#include "decoder/core/simd_path.h"

namespace tesk::quor {
namespace {

constexpr int kMaxLayer3FrameSize = 4096;
constexpr int kMaxVbrTagDelay = 3000;

// Bit rates in kbit/s: [lsf][layer - 1][index].
constexpr int kBitrates[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
};

constexpr int kSampleRates[9] = {44100, 48000, 32000, 22050, 24000, 16000, 11025, 12000, 8000};

// ---- input block list ----------------------------------------------------

bool add_input(FrameDecoder& decoder, const std::uint8_t* input, int count) {
    auto* block = new (std::nothrow) InputBlock;
    if (block == nullptr) {
        return false;
    }
    block->data = new (std::nothrow) std::uint8_t[static_cast<std::size_t>(count)];
    if (block->data == nullptr) {
        delete block;
        return false;
    }
    std::memcpy(block->data, input, static_cast<std::size_t>(count));
    block->size = static_cast<std::size_t>(count);
    block->previous = decoder.tail;
    if (decoder.tail != nullptr) {
        decoder.tail->next = block;
    } else {
        decoder.head = block;
    }
    decoder.tail = block;
    decoder.buffered += count;
    return true;
}

void free_head_block(FrameDecoder& decoder) {
    InputBlock* block = decoder.head;
    decoder.head = block->next;
    if (decoder.head != nullptr) {
        decoder.head->previous = nullptr;
    } else {
        decoder.tail = nullptr;
    }
    delete[] block->data;
    delete block;
}

// Consumes count bytes from the head of the input list, copying them to
// destination unless it is null, and frees emptied blocks.
void move_input(FrameDecoder& decoder, int count, std::uint8_t* destination) {
    std::size_t left = static_cast<std::size_t>(count);
    while (left > 0 && decoder.head != nullptr) {
        InputBlock& block = *decoder.head;
        const std::size_t take = std::min(left, block.size - block.read);
        if (destination != nullptr) {
            std::memcpy(destination, block.data + block.read, take);
            destination += take;
        }
        block.read += take;
        left -= take;
        decoder.buffered -= static_cast<int>(take);
        if (block.read == block.size) {
            free_head_block(decoder);
        }
    }
}

void drop_input(FrameDecoder& decoder, int count) {
    move_input(decoder, count, nullptr);
}

// Moves count input bytes into the reservoir at the read position, which
// stays where it is.
void move_to_reservoir(FrameDecoder& decoder, int count) {
    move_input(decoder, count, decoder.reservoir + decoder.bits.position);
}

// Walks the buffered bytes from offset on without consuming them.
class InputCursor {
public:
    explicit InputCursor(const FrameDecoder& decoder) : block_(decoder.head) {
        index_ = block_ != nullptr ? block_->read : 0;
    }
    bool at_end() const { return block_ == nullptr; }
    std::uint8_t next() {
        const std::uint8_t value = block_->data[index_++];
        if (index_ == block_->size) {
            block_ = block_->next;
            index_ = 0;
        }
        return value;
    }
    void copy(std::uint8_t* destination, int count) {
        for (int i = 0; i < count; ++i) {
            destination[i] = next();
        }
    }
    void skip(int count) {
        for (int i = 0; i < count; ++i) {
            next();
        }
    }

private:
    const InputBlock* block_;
    std::size_t index_;
};

std::uint32_t read_header_word(FrameDecoder& decoder) {
    std::uint8_t bytes[4];
    move_input(decoder, 4, bytes);
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

// ---- header search and the VBR tag ----------------------------------------

bool matches_stream(const FrameHeader& header, std::uint32_t word) {
    const int mpeg25 = (word & (1u << 20)) == 0 ? 1 : 0;
    const int lsf = mpeg25 != 0 ? 1 : ((word & (1u << 19)) == 0 ? 1 : 0);
    const int code = static_cast<int>((word >> 10) & 3);
    const int rate_index = mpeg25 != 0 ? 6 + code : 3 * lsf + code;
    return lsf == header.lsf && mpeg25 == header.mpeg25 && rate_index == header.sample_rate_index;
}

// Offset of the first buffered header that is valid for the stream's layer
// (and, when consistent, matches its version and rate), or -1. The channel
// mode may change from frame to frame.
int find_header(const FrameDecoder& decoder, bool consistent) {
    InputCursor cursor(decoder);
    std::uint32_t word = 0;
    for (int i = 0; i < decoder.buffered; ++i) {
        word = (word << 8) | cursor.next();
        if (i < 3) {
            continue;
        }
        if (header_is_valid(word, decoder.header.layer) &&
            (!consistent || matches_stream(decoder.header, word))) {
            return i - 3;
        }
    }
    return -1;
}

std::uint32_t big_endian32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

bool is_tag_name(const std::uint8_t* bytes) {
    return (bytes[0] == 'X' || bytes[0] == 'I') && (bytes[1] == 'i' || bytes[1] == 'n') &&
           (bytes[2] == 'n' || bytes[2] == 'f') && (bytes[3] == 'g' || bytes[3] == 'o');
}

// An encoder tag behind the tag's fields starts with the encoder's name and
// version, such as "LAME3.100": four ASCII letters or digits at least.
bool is_encoder_name(const std::uint8_t* bytes) {
    return std::all_of(bytes, bytes + 4, [](std::uint8_t c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    });
}

int encoder_field(int value) {
    return value > kMaxVbrTagDelay ? -1 : value;
}

// Looks for a tag frame at offset; returns the bytes to drop after offset,
// or 0 when there is none.
int check_vbr_tag(FrameDecoder& decoder, int offset) {
    std::uint8_t bytes[kVbrTagProbeSize];
    InputCursor cursor(decoder);
    cursor.skip(offset);
    cursor.copy(bytes, kVbrTagProbeSize);
    VbrTagInfo info;
    decoder.vbr_tag_found = parse_vbr_tag(info, bytes) ? 1 : 0;
    if (decoder.vbr_tag_found == 0) {
        return 0;
    }
    decoder.vbr_frame_count = static_cast<int>(info.frame_count);
    decoder.encoder_delay = info.encoder_delay;
    decoder.encoder_padding = info.encoder_padding;
    return std::max(info.tag_frame_length, 1);
}

// ---- frame assembly ----------------------------------------------------------

std::size_t half_data_start(const FrameDecoder& decoder) {
    return static_cast<std::size_t>(decoder.current_half) * kReservoirHalfSize + kReservoirLead;
}

int side_info_size(const FrameHeader& header) {
    int size = 32;
    if (header.lsf != 0) {
        size = header.channels == 1 ? 9 : 17;
    } else if (header.channels == 1) {
        size = 17;
    }
    return size + (header.protection != 0 ? 2 : 0);
}

// Keeps bytes found in front of a header as data of the previous frame, up
// to kMaxLeadingBytes of them; drops the older ones.
void keep_leading_bytes(FrameDecoder& decoder, int offset) {
    decoder.previous_free_format = false;
    int used = static_cast<int>(decoder.bits.position - half_data_start(decoder));
    if (used > kMaxLeadingBytes) {
        // The bytes now overwrite the previous frame's data, which are gone.
        decoder.bits.position = half_data_start(decoder);
        used = 0;
        if (decoder.previous_frame_size > 0) {
            decoder.previous_frame_size = 0;
        }
        decoder.main_data_available = 0;
    }
    const int excess = offset - kMaxLeadingBytes + used;
    if (excess > 0) {
        drop_input(decoder, excess);
        offset -= excess;
    }
    move_to_reservoir(decoder, offset);
    decoder.main_data_available += offset;
    if (decoder.previous_frame_size >= 0) {
        decoder.previous_frame_size += offset;
    }
}

void start_frame(FrameDecoder& decoder) {
    decoder.header_word = read_header_word(decoder);
    decode_header(decoder.header, decoder.header_word);
    decoder.header_parsed = true;
    if (decoder.header.frame_size == 0) {
        decoder.header.frame_size = decoder.known_frame_size;
    }
    decoder.frame_size = decoder.header.frame_size;
    decoder.free_format = decoder.frame_size == 0;
    decoder.side_info_size = side_info_size(decoder.header);
    decoder.bits.bit_index = 0;
    decoder.current_half ^= 1;
    decoder.bits.position = half_data_start(decoder);
}

// Finds and starts the next frame. Returns 0 when a header was parsed,
// otherwise NEED_MORE.
int parse_header(FrameDecoder& decoder) {
    int offset = 0;
    if (decoder.previous_frame_size == -1 || decoder.resync) {
        decoder.resync = false;
        offset = find_header(decoder, false);
        if (offset < 0) {
            return NEED_MORE;
        }
        if (decoder.buffered < offset + kVbrTagProbeSize) {
            decoder.vbr_tag_found = 0;
        } else if (const int tag = check_vbr_tag(decoder, offset); tag > 0) {
            const int n = offset + tag;
            if (n <= decoder.buffered) {
                drop_input(decoder, n);
            }
            return NEED_MORE;
        }
    } else {
        offset = find_header(decoder, true);
        if (offset < 0) {
            return NEED_MORE;
        }
    }
    if (offset > 0) {
        keep_leading_bytes(decoder, offset);
    }
    start_frame(decoder);
    return 0;
}

// A free-format Layer I or II frame carries no length: it runs up to the
// next header. Returns false while that header is not buffered.
bool size_free_format_frame(FrameDecoder& decoder) {
    const int n = find_header(decoder, true);
    if (n < 0) {
        return false;
    }
    decoder.frame_size = n;
    decoder.header.frame_size = n;
    decoder.free_format = false;
    return true;
}

// CRC-16 (polynomial 0x8005, all ones at the start) of `bits` bits of
// bytes, most significant first, continuing from crc.
unsigned crc16(unsigned crc, const std::uint8_t* bytes, int bits) {
    for (int i = 0; i < bits; ++i) {
        const unsigned bit = (bytes[i / 8] >> (7 - i % 8)) & 1u;
        const bool flip = (((crc >> 15) & 1u) ^ bit) != 0;
        crc = (crc << 1) & 0xFFFFu;
        if (flip) {
            crc ^= 0x8005u;
        }
    }
    return crc;
}

// The CRC of a frame starts with the header's last two bytes.
unsigned header_crc(const FrameDecoder& decoder) {
    const std::uint8_t tail[2] = {static_cast<std::uint8_t>(decoder.header_word >> 8),
                                  static_cast<std::uint8_t>(decoder.header_word)};
    return crc16(0xFFFFu, tail, 16);
}

// The CRC word (at the read position) against the side information behind it.
bool layer3_crc_matches(const FrameDecoder& decoder) {
    const std::uint8_t* word = decoder.reservoir + decoder.bits.position;
    const unsigned stored = (unsigned{word[0]} << 8) | word[1];
    return crc16(header_crc(decoder), word + 2, 8 * (decoder.side_info_size - 2)) == stored;
}

// A failed CRC conceals the frame once the stream has shown that its CRC
// words are right; a stream whose words never pass plays as unprotected.
void check_crc(FrameDecoder& decoder, bool matches) {
    if (matches) {
        decoder.crc_passed = true;
    } else if (decoder.crc_passed) {
        decoder.conceal = true;
    }
}

// Main data the side information claims beyond the reservoir must lie in the
// frame itself: a claim that reaches past the frame's end is damage, and the
// frame is concealed, its own bytes kept for the frames that follow.
void bound_main_data(FrameDecoder& decoder) {
    const int own = decoder.frame_size - decoder.side_info_size;
    if (decoder.frame_size > 0 && decoder.data_size > own) {
        decoder.data_size = std::max(own, 0);
        decoder.conceal = true;
    }
}

// Gathers the side information; NEED_MORE until enough bytes are buffered.
int parse_side_info(FrameDecoder& decoder) {
    if (decoder.header.layer == 3) {
        if (decoder.buffered < decoder.side_info_size) {
            return NEED_MORE;
        }
        move_to_reservoir(decoder, decoder.side_info_size);
        if (decoder.header.protection != 0) {
            check_crc(decoder, layer3_crc_matches(decoder));
            read_bits(decoder.bits, 16);
        }
        decoder.data_size = (std::max(layer3_side_info_bits(decoder), 0) + 7) / 8;
        bound_main_data(decoder);
    } else {
        if (decoder.free_format && !size_free_format_frame(decoder)) {
            return NEED_MORE;
        }
        if (decoder.buffered < decoder.frame_size) {
            return NEED_MORE;
        }
        decoder.side_info_size = 0;
        decoder.data_size = decoder.frame_size;
    }
    decoder.side_info_parsed = true;
    return 0;
}

// The frame's data must fit its reservoir half; a longer free-format frame
// cannot be held.
bool data_fits(const FrameDecoder& decoder) {
    const auto end = static_cast<std::size_t>(decoder.side_info_size + decoder.data_size);
    return end <= kReservoirHalfSize - kReservoirLead;
}

int samples_per_frame(const FrameHeader& header) {
    if (header.layer == 1) {
        return 384;
    }
    return header.layer == 3 && header.lsf != 0 ? 576 : 1152;
}

// cos^2 of a quarter turn times `fraction`: 1 falling to 0 as the fraction
// goes from 0 to 1, and 0 from there on.
double falling_gain(double fraction) {
    if (fraction >= 1.0) {
        return 0.0;
    }
    constexpr double kQuarterTurn = 1.5707963267948966;
    const double c = std::cos(kQuarterTurn * fraction);
    return c * c;
}

// The gain of slot `slot` (0 first) of a rise over `length` slots after a
// concealment: 1 after them. Layers I and II rise by sin^2. The first Layer III
// granule after a concealment has no overlap to cancel the aliasing of its
// first half, which adds to each sample its mirror image, weighted by the
// window's falling half w' where the sample has the rising half w: the gain
// w / (w + w') keeps the sum within the signal's level.
double rise_gain(int slot, int length, bool aliased) {
    if (slot >= length) {
        return 1.0;
    }
    constexpr double kQuarterTurn = 1.5707963267948966;
    const double angle = kQuarterTurn * (slot + 0.5) / length;
    const double s = std::sin(angle);
    return aliased ? s / (s + std::cos(angle)) : s * s;
}

// Sample sb of time slot t that the Layer III overlap rings out in channel
// ch (in the precision of the transforms), or 0 in Layers I and II.
double ring_out_value(const FrameDecoder& decoder, int ch, int t, int sb) {
    if (decoder.header.layer != 3) {
        return 0.0;
    }
    const Layer3State& state = decoder.layer3;
    return precision() == Precision::kSingle ? state.subbands_single[ch][t][sb]
                                             : state.subbands[ch][t][sb];
}

// Scales `frames` interleaved sample frames by a cos^2 fade over the first
// `length` of them.
template <typename Sample>
void fade_samples(Sample* samples, int frames, int channels, int length) {
    for (int i = 0; i < frames; ++i) {
        const double gain = falling_gain((i + 0.5) / length);
        for (int ch = 0; ch < channels; ++ch) {
            Sample& sample = samples[i * channels + ch];
            if constexpr (std::is_same_v<Sample, float>) {
                sample = static_cast<float>(sample * gain);
            } else {
                sample = static_cast<Sample>(std::lround(sample * gain));
            }
        }
    }
}

// The synthesis filter forgets its past blocks, as after that many silent
// ones, so that nothing of the audio before a concealment sounds after it:
// a concealment shorter than the filter's memory (a Layer I frame, an LSF
// Layer III frame) leaves some of its unfaded input there.
void silence_synthesis(SynthesisState& synthesis) {
    std::memset(synthesis.halves, 0, sizeof synthesis.halves);
    std::memset(synthesis.history, 0, sizeof synthesis.history);
}

// From output position `done` to the end of a frame of samples_per_channel
// samples, the audio fades out to silence: Layer III rings out its last
// overlap (zero lines through the hybrid synthesis), Layers I and II pass
// zero sub-band samples, and the output of the synthesis falls by a cos^2
// fade over kFadeSlots slots (or the slots the concealment has, when
// fewer). A fade on the output, unlike one on the sub-band samples, cannot
// swell: what the synthesis rings out of a tone rises above the tone's level
// once its newest blocks are silent, and the overlap's aliasing goes
// uncancelled. The synthesis then forgets its past, and the audio after
// rises from silence.
void conceal_rest(FrameDecoder& decoder, int samples_per_channel, unsigned char* output,
                  int& done) {
    static constexpr double kZeros[kLinesPerGranule] = {};
    const int channels = decoder.header.channels;
    const int bytes = sample_bytes(decoder.synthesis.output);
    const int slot_bytes = kSubbands * bytes * channels;
    done -= done % slot_bytes;
    const int start = done;
    int slots = samples_per_channel / kSubbands - done / slot_bytes;
    if (slots <= 0) {
        return;
    }
    const int length = kSubbands * std::min(slots, kFadeSlots);
    const GranuleInfo silent;
    alignas(32) double ring[2][kFadeSlots][kSubbands];
    while (slots > 0) {
        const int count = std::min(slots, kFadeSlots);
        const double* blocks[2] = {ring[0][0], ring[1][0]};
        for (int ch = 0; ch < channels; ++ch) {
            if (decoder.header.layer == 3) {
                decoder.layer3.slot_granule = 0;
                hybrid_synthesis(decoder.layer3, kZeros, ch, silent);
            }
            for (int t = 0; t < count; ++t) {
                for (int sb = 0; sb < kSubbands; ++sb) {
                    ring[ch][t][sb] = ring_out_value(decoder, ch, t, sb);
                }
            }
        }
        synthesize_blocks16(decoder, blocks, channels, count, output, done);
        slots -= count;
    }
    const int frames = (done - start) / (bytes * channels);
    if (decoder.synthesis.output == SampleOutput::kFloat) {
        fade_samples(reinterpret_cast<float*>(output + start), frames, channels, length);
    } else {
        fade_samples(reinterpret_cast<std::int16_t*>(output + start), frames, channels, length);
    }
    silence_synthesis(decoder.synthesis);
    decoder.rise_slot = 0;
    decoder.rise_slots = 0;
    if (decoder.decoded_audio) {
        decoder.rise_slots = decoder.header.layer == 1 ? kLayer1RiseSlots : kFadeSlots;
    }
    decoder.rise_aliased = decoder.header.layer == 3;
}

bool layer12_crc_fails(FrameDecoder& decoder) {
    if (decoder.header.protection == 0) {
        return false;
    }
    const std::size_t start = decoder.bits.position;
    const unsigned stored = read_bits(decoder.bits, 16);
    const int bits = layer12_protected_bits(decoder);
    check_crc(decoder, crc16(header_crc(decoder), decoder.reservoir + start + 2, bits) == stored);
    return decoder.conceal;
}

void decode_layers(FrameDecoder& decoder, unsigned char* output, int& done) {
    switch (decoder.header.layer) {
    case 1:
        if (!layer12_crc_fails(decoder)) {
            decode_layer1_frame(decoder, output, done);
        }
        break;
    case 2:
        if (!layer12_crc_fails(decoder)) {
            decode_layer2_frame(decoder, output, done);
        }
        break;
    default:
        if (!decoder.conceal) {
            decode_layer3_frame(decoder, output, done);
        }
        break;
    }
}

// Decodes the frame in hand; what did not decode (the whole frame, or the
// granules after a corrupt one) is concealed, so that a frame always yields
// its samples.
int decode_data(FrameDecoder& decoder, unsigned char* output, int& done) {
    move_to_reservoir(decoder, decoder.data_size);
    done = 0;
    decode_layers(decoder, output, done);
    conceal_rest(decoder, samples_per_frame(decoder.header), output, done);
    decoder.conceal = false;
    decoder.bits.position = half_data_start(decoder) +
                            static_cast<std::size_t>(decoder.side_info_size + decoder.data_size);
    decoder.data_parsed = true;
    return 0;
}

// Finishes the frame in hand: keeps up to kReservoirLead bytes behind its
// data in the reservoir. Returns false while those bytes are not buffered.
bool finish_frame(FrameDecoder& decoder) {
    if (decoder.free_format) {
        if (decoder.previous_free_format) {
            decoder.frame_size = decoder.previous_frame_size_unpadded + decoder.header.padding;
        } else {
            const int n = find_header(decoder, true);
            if (n < 0) {
                return false;
            }
            decoder.frame_size = decoder.data_size + decoder.side_info_size + n;
            decoder.previous_frame_size_unpadded = decoder.frame_size - decoder.header.padding;
        }
    }
    int rest = decoder.frame_size - decoder.data_size - decoder.side_info_size;
    if (rest > decoder.buffered) {
        return false;
    }
    if (rest > 0) {
        const int lead = static_cast<int>(kReservoirLead);
        if (rest > lead) {
            drop_input(decoder, rest - lead);
            decoder.frame_size -= rest - lead;
            rest = lead;
        }
        move_to_reservoir(decoder, rest);
        decoder.bits.position += static_cast<std::size_t>(rest);
    }
    if (decoder.header.layer == 3) {
        // Everything behind the side information is main data for the
        // frames that follow, after what this frame took from before it.
        decoder.main_data_available =
            decoder.main_data_lead + std::max(decoder.frame_size - decoder.side_info_size, 0);
        decoder.main_data_lead = 0;
    }
    decoder.previous_frame_size = decoder.frame_size;
    decoder.previous_free_format = decoder.free_format;
    decoder.frame_size = 0;
    decoder.header_parsed = false;
    decoder.side_info_parsed = false;
    decoder.data_parsed = false;
    return true;
}

// Drops a frame whose data cannot be held and asks for a new search.
int refuse_frame(FrameDecoder& decoder) {
    drop_input(decoder, decoder.data_size);
    decoder.frame_size = 0;
    decoder.header_parsed = false;
    decoder.side_info_parsed = false;
    decoder.resync = true;
    return -1;
}

// The output bytes a frame may need in the form.
int minimum_output_bytes(SampleOutput form) {
    return form == SampleOutput::kFloat ? kMinFloatOutputBytes : kMinOutputBytes;
}

int assemble_frame(FrameDecoder& decoder, const std::uint8_t* input, int count,
                   unsigned char* output, int capacity, int& done) {
    done = 0;
    if (capacity < minimum_output_bytes(decoder.synthesis.output)) {
        return -1;
    }
    if (input != nullptr && count > 0 && !add_input(decoder, input, count)) {
        return -1;
    }
    if (!decoder.header_parsed && parse_header(decoder) != 0) {
        return NEED_MORE;
    }
    if (!decoder.side_info_parsed && parse_side_info(decoder) != 0) {
        return NEED_MORE;
    }
    int result = NEED_MORE;
    if (!decoder.data_parsed) {
        if (decoder.buffered < decoder.data_size) {
            return NEED_MORE;
        }
        if (!data_fits(decoder)) {
            return refuse_frame(decoder);
        }
        result = decode_data(decoder, output, done);
    }
    finish_frame(decoder);
    return result;
}

} // namespace

// ---- header decoding -----------------------------------------------------------

bool header_is_valid(std::uint32_t word, int layer) {
    const int layer_code = static_cast<int>((word >> 17) & 3);
    return (word & 0xFFE00000u) == 0xFFE00000u && layer_code != 0 &&
           (layer <= 0 || 4 - layer_code == layer) && ((word >> 12) & 15) != 15 &&
           ((word >> 10) & 3) != 3;
}

int bitrate_kbps(bool lsf, int layer, int index) {
    if (layer < 1 || layer > 3 || index < 0 || index > 15) {
        return 0;
    }
    return kBitrates[lsf ? 1 : 0][layer - 1][index];
}

int sample_rate_hz(int sample_rate_index) {
    return sample_rate_index >= 0 && sample_rate_index < 9 ? kSampleRates[sample_rate_index] : 0;
}

int decode_header(FrameHeader& header, std::uint32_t word) {
    if ((word & (1u << 20)) != 0) {
        header.lsf = (word & (1u << 19)) == 0 ? 1 : 0;
        header.mpeg25 = 0;
    } else {
        header.lsf = 1;
        header.mpeg25 = 1;
    }
    header.layer = 4 - static_cast<int>((word >> 17) & 3);
    const int code = static_cast<int>((word >> 10) & 3);
    if (code == 3) {
        return 0;
    }
    header.sample_rate_index = header.mpeg25 != 0 ? 6 + code : code + 3 * header.lsf;
    header.protection = (word & (1u << 16)) == 0 ? 1 : 0;
    header.bitrate_index = static_cast<int>((word >> 12) & 15);
    header.padding = static_cast<int>((word >> 9) & 1);
    header.private_bit = static_cast<int>((word >> 8) & 1);
    header.mode = static_cast<int>((word >> 6) & 3);
    header.mode_extension = static_cast<int>((word >> 4) & 3);
    header.copyright = static_cast<int>((word >> 3) & 1);
    header.original = static_cast<int>((word >> 2) & 1);
    header.emphasis = static_cast<int>(word & 3);
    header.channels = header.mode == 3 ? 1 : 2;

    const int bitrate = bitrate_kbps(header.lsf != 0, header.layer, header.bitrate_index);
    const int rate = kSampleRates[header.sample_rate_index];
    switch (header.layer) {
    case 1:
        header.frame_size = bitrate == 0 ? 0 : (12000 * bitrate / rate + header.padding) * 4 - 4;
        return 1;
    case 2:
        header.frame_size = bitrate == 0 ? 0 : 144000 * bitrate / rate + header.padding - 4;
        return 1;
    case 3:
        if (bitrate == 0) {
            header.frame_size = 0;
            return 1;
        }
        header.frame_size = 144000 * bitrate / (rate << header.lsf) + header.padding - 4;
        if (header.frame_size > kMaxLayer3FrameSize) {
            std::fputs("Frame size too big.\n", stderr);
            header.frame_size = kMaxLayer3FrameSize;
            return 0;
        }
        return 1;
    default:
        return 0;
    }
}

// A gain field of the encoder tag: 3 bits naming the gain (1 track, 2
// album), 3 bits naming who set it (0 nobody), a sign bit and 9 bits of
// tenths of a decibel.
int encoder_gain(const std::uint8_t* field, int name) {
    const int word = field[0] << 8 | field[1];
    if (word >> 13 != name || (word >> 10 & 7) == 0) {
        return VbrTagInfo::kNoGain;
    }
    const int tenths = word & 0x1FF;
    return (word & 0x200) != 0 ? -tenths : tenths;
}

bool parse_vbr_tag(VbrTagInfo& info, const std::uint8_t* bytes) {
    info = VbrTagInfo{};
    const int code = (bytes[2] >> 2) & 3;
    if (code == 3) {
        return false;
    }
    info.version_bit = (bytes[1] >> 3) & 1;
    const int bitrate = bitrate_kbps(info.version_bit == 0, 3, bytes[2] >> 4);
    int rate_index = info.version_bit != 0 ? code : 3 + code;
    if ((bytes[1] & 0xF0) == 0xE0) {
        rate_index = 6 + code;
    }
    info.sample_rate = kSampleRates[rate_index];

    const bool mono = (bytes[3] >> 6) == 3;
    int p = 13;
    if (info.version_bit != 0) {
        p = mono ? 21 : 36;
    } else if (!mono) {
        p = 21;
    }
    if (!is_tag_name(bytes + p)) {
        return false;
    }
    info.flags = big_endian32(bytes + p + 4);
    p += 8;
    if ((info.flags & 1) != 0) {
        info.frame_count = big_endian32(bytes + p);
        p += 4;
    }
    if ((info.flags & 2) != 0) {
        info.byte_count = big_endian32(bytes + p);
        p += 4;
    }
    if ((info.flags & 4) != 0) {
        std::memcpy(info.toc, bytes + p, sizeof info.toc);
        p += 100;
    }
    if ((info.flags & 8) != 0) {
        info.vbr_scale = static_cast<int>(big_endian32(bytes + p));
        p += 4;
    }
    info.tag_frame_length = (info.version_bit + 1) * 72000 * bitrate / info.sample_rate;
    if (is_encoder_name(bytes + p)) {
        info.encoder_delay = encoder_field(bytes[p + 21] * 16 + (bytes[p + 22] >> 4));
        info.encoder_padding = encoder_field((bytes[p + 22] & 15) * 256 + bytes[p + 23]);
        info.peak = big_endian32(bytes + p + 11) / double{1 << 23};
        info.track_gain_tenths = encoder_gain(bytes + p + 15, 1);
        info.album_gain_tenths = encoder_gain(bytes + p + 17, 2);
    }
    return true;
}

// ---- lifecycle and entry points ---------------------------------------------

FrameDecoder* frame_decoder_create() {
    auto* decoder = new (std::nothrow) FrameDecoder;
    if (decoder != nullptr) {
        frame_decoder_init(*decoder);
    }
    return decoder;
}

int frame_decoder_init(FrameDecoder& decoder) {
    decoder.tail = nullptr;
    decoder.head = nullptr;
    decoder.vbr_tag_found = 0;
    decoder.vbr_frame_count = 0;
    decoder.encoder_delay = -1;
    decoder.encoder_padding = -1;
    decoder.header_parsed = false;
    decoder.side_info_parsed = false;
    decoder.data_parsed = false;
    decoder.free_format = false;
    decoder.previous_free_format = false;
    decoder.buffered = 0;
    decoder.frame_size = 0;
    decoder.side_info_size = 0;
    decoder.data_size = 0;
    decoder.previous_frame_size = -1;
    decoder.previous_frame_size_unpadded = 0;
    decoder.main_data_available = 0;
    decoder.main_data_lead = 0;
    decoder.header = FrameHeader{};
    std::memset(decoder.reservoir, 0, sizeof decoder.reservoir);
    decoder.bits = BitReader{decoder.reservoir, sizeof decoder.reservoir, kReservoirLead, 0};
    decoder.layer3 = Layer3State{};
    decoder.synthesis = SynthesisState{};
    decoder.header_word = 0;
    decoder.known_frame_size = 0;
    decoder.current_half = 0;
    decoder.resync = true;
    decoder.conceal = false;
    decoder.crc_passed = false;
    decoder.rise_slot = 0;
    decoder.rise_slots = 0;
    decoder.rise_aliased = false;
    decoder.decoded_audio = false;
    init_synthesis_tables();
    init_layer3_tables(kSubbands);
    init_layer2_tables();
    return 1;
}

void frame_decoder_exit(FrameDecoder& decoder) {
    while (decoder.head != nullptr) {
        free_head_block(decoder);
    }
    decoder.buffered = 0;
}

void frame_decoder_reset(FrameDecoder& decoder) {
    frame_decoder_exit(decoder);
    frame_decoder_init(decoder);
}

namespace {

template <typename Block>
int synthesize_rising(FrameDecoder& decoder, const Block* const* blocks, int channels, int count,
                      unsigned char* output, int& position) {
    decoder.decoded_audio = true;
    if (decoder.rise_slot >= decoder.rise_slots) {
        return synthesize_blocks16(decoder, blocks, channels, count, output, position);
    }
    // Up to 36 slots per channel (a Layer II frame, or both granules of a
    // Layer III frame).
    alignas(32) Block rising[2][36][kSubbands];
    const Block* ramped[2] = {rising[0][0], rising[1][0]};
    for (int ch = 0; ch < channels; ++ch) {
        for (int t = 0; t < count; ++t) {
            const auto gain = static_cast<Block>(
                rise_gain(decoder.rise_slot + t, decoder.rise_slots, decoder.rise_aliased));
            for (int sb = 0; sb < kSubbands; ++sb) {
                rising[ch][t][sb] = blocks[ch][kSubbands * t + sb] * gain;
            }
        }
    }
    decoder.rise_slot = std::min(decoder.rise_slot + count, decoder.rise_slots);
    return synthesize_blocks16(decoder, ramped, channels, count, output, position);
}

} // namespace

int synthesize_decoded(FrameDecoder& decoder, const double* const* blocks, int channels, int count,
                       unsigned char* output, int& position) {
    return synthesize_rising(decoder, blocks, channels, count, output, position);
}

int synthesize_decoded(FrameDecoder& decoder, const float* const* blocks, int channels, int count,
                       unsigned char* output, int& position) {
    return synthesize_rising(decoder, blocks, channels, count, output, position);
}

void frame_decoder_break_chain(FrameDecoder& decoder) {
    decoder.main_data_available = 0;
}

namespace {

int conceal_frame(FrameDecoder& decoder, unsigned char* samples, int samples_per_channel,
                  SampleOutput form) {
    if (decoder.header.channels == 0) {
        decoder.header.channels = 1;
    }
    decoder.synthesis.output = form;
    int done = 0;
    conceal_rest(decoder, samples_per_channel, samples, done);
    return done / sample_bytes(form);
}

} // namespace

int frame_decoder_conceal(FrameDecoder& decoder, std::int16_t* samples, int samples_per_channel) {
    return conceal_frame(decoder, reinterpret_cast<unsigned char*>(samples), samples_per_channel,
                         SampleOutput::kPcm16);
}

int frame_decoder_conceal(FrameDecoder& decoder, float* samples, int samples_per_channel) {
    return conceal_frame(decoder, reinterpret_cast<unsigned char*>(samples), samples_per_channel,
                         SampleOutput::kFloat);
}

void frame_decoder_destroy(FrameDecoder* decoder) {
    if (decoder != nullptr) {
        frame_decoder_exit(*decoder);
        delete decoder;
    }
}

int decode_frame(FrameDecoder& decoder, const std::uint8_t* input, int count, unsigned char* output,
                 int capacity_bytes, int& done, SampleOutput form) {
    decoder.synthesis.output = form;
    if (capacity_bytes < minimum_output_bytes(form)) {
        std::fprintf(stderr, "vad: Insufficient memory for decoding buffer %d\n", capacity_bytes);
        done = 0;
        return -1;
    }
    return assemble_frame(decoder, input, count, output, capacity_bytes, done);
}

namespace {

// DecodeFrame into samples of the form, capacity in samples.
bool decode_whole_frame(FrameDecoder& decoder, unsigned char* samples, int capacity,
                        const std::uint8_t* bytes, int length, DecodedFrame& result,
                        SampleOutput form) {
    int done = 0;
    decoder.known_frame_size = decoder.buffered == 0 ? length - 4 : 0;
    const int size = sample_bytes(form);
    const int status = decode_frame(decoder, bytes, length, samples, capacity * size, done, form);
    if (status == NEED_MORE) {
        result = DecodedFrame{};
        return true;
    }
    if (status != 0) {
        return false;
    }
    result.sample_count = done / size;
    result.two_channel = decoder.header.channels == 2 ? 1 : 0;
    result.sample_rate = sample_rate_hz(decoder.header.sample_rate_index);
    return true;
}

} // namespace

bool DecodeFrame(FrameDecoder& decoder, std::int16_t* samples, int capacity,
                 const std::uint8_t* bytes, int length, DecodedFrame& result) {
    return decode_whole_frame(decoder, reinterpret_cast<unsigned char*>(samples), capacity, bytes,
                              length, result, SampleOutput::kPcm16);
}

bool DecodeFrame(FrameDecoder& decoder, float* samples, int capacity, const std::uint8_t* bytes,
                 int length, DecodedFrame& result) {
    return decode_whole_frame(decoder, reinterpret_cast<unsigned char*>(samples), capacity, bytes,
                              length, result, SampleOutput::kFloat);
}

} // namespace tesk::quor
