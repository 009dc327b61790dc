// The frame decoder: frame assembly, header decoding and the per-instance
// state of the layer decoders.
//
// Input bytes are kept in a list of input blocks; the decoder finds the next
// frame header in them, decodes it, gathers the frame's side information and
// main data into the bit reservoir and runs the layer decoder, which writes
// interleaved signed 16-bit PCM.
//
// Every work buffer lives in the FrameDecoder record; the tables the layer
// decoders read are immutable and built once per process, thread-safely.
// Independent decoders may therefore run on different threads.
//
// Output: the layer decoders write native-order 16-bit samples (or, when the
// caller asks for them per frame, unrounded float samples on the same scale)
// into a caller-owned byte buffer at a byte position.
// DecodeFrame takes that buffer and its capacity (the decoder object's
// PCMFrame buffer) and reports the sample count and format of the decoded
// frame in a DecodedFrame record, which the caller copies into its frame;
// the core thus does not depend on the output-frame classes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decoder/core/bit_reader.h"
#include "decoder/core/layer3_side_info.h"
#include "decoder/core/synthesis.h"

namespace tesk::quor {

inline constexpr int NEED_MORE = 1;
inline constexpr int kMinOutputBytes = 4608;      // a frame's 16-bit samples
inline constexpr int kMinFloatOutputBytes = 9216; // a frame's float samples
inline constexpr std::size_t kReservoirHalfSize = 3904;
inline constexpr std::size_t kReservoirLead = 512; // room for the previous frame's data
inline constexpr int kVbrTagProbeSize = 194;
inline constexpr int kMaxLeadingBytes = 2880; // bytes in front of a header kept as data

struct AllocationTable;

// Time slots over which a concealment fades the audio out, and the audio
// after it back in (cos^2 and sin^2 gains).
inline constexpr int kFadeSlots = 18;
// Layer I rises over fewer: the synthesis filter carries a rise 15 slots
// on, and the third 12-slot frame after a lost one is to be clean.
inline constexpr int kLayer1RiseSlots = 9;

struct FrameHeader {
    int channels = 0;    // 1 for single channel, else 2
    int joint_bound = 0; // first sub-band sharing its allocation (Layers I and II)
    int lsf = 0;         // MPEG-2 or MPEG-2.5
    int mpeg25 = 0;
    int layer = 0;      // 1..3
    int protection = 0; // 1 when a CRC word follows the header
    int bitrate_index = 0;
    int sample_rate_index = 0; // 0..8: 44100, 48000, 32000, 22050, 24000, 16000, 11025, 12000, 8000
    int padding = 0;
    int private_bit = 0;
    int mode = 0;
    int mode_extension = 0;
    int copyright = 0;
    int original = 0;
    int emphasis = 0;
    int frame_size = 0;    // bytes after the four header bytes; 0 for free format
    int subband_limit = 0; // Layer II coded sub-bands
    const AllocationTable* allocation = nullptr; // Layer II allocation table
};

struct InputBlock {
    std::uint8_t* data = nullptr; // owned copy, allocated with the block
    std::size_t size = 0;
    std::size_t read = 0;
    InputBlock* next = nullptr;
    InputBlock* previous = nullptr;
};

// Layer III spectrum state of one decoder.
struct Layer3State {
    Layer3SideInfo side_info;
    unsigned scale_factors[2][kScaleFactorStoreSize] = {};
    bool intensity_not_coded[kScaleFactorStoreSize] = {}; // LSF: right channel's store entries
    double spectrum[2][kLinesPerGranule] = {};
    // [channel][time slot][sub-band], and the overlap [half][channel][time
    // slot][sub-band] in the precision of the IMDCT; rows aligned for the
    // vector loads and stores.
    alignas(32) double subbands[2][18][kSubbands] = {};
    // Single precision keeps the time slots of both granules of a frame, so
    // that the synthesis runs over all 36 at once; slot_granule is the
    // granule the hybrid synthesis writes.
    alignas(32) float subbands_single[2][36][kSubbands] = {};
    int slot_granule = 0;
    alignas(32) double overlap[2][2][18][kSubbands] = {};
    alignas(32) float overlap_single[2][2][18][kSubbands] = {};
    int overlap_half[2] = {}; // per channel: the half holding the last overlap
};

struct FrameDecoder {
    InputBlock* tail = nullptr; // newest block
    InputBlock* head = nullptr; // oldest block, read first

    int vbr_tag_found = 0;
    int vbr_frame_count = 0;
    int encoder_delay = -1;
    int encoder_padding = -1;

    bool header_parsed = false;
    bool side_info_parsed = false;
    bool data_parsed = false;
    bool free_format = false;
    bool previous_free_format = false;

    int buffered = 0;       // unread bytes in the input list
    int frame_size = 0;     // bytes of the frame in hand after its header; 0 between frames
    int side_info_size = 0; // bytes
    int data_size = 0;      // bytes
    int previous_frame_size = -1;
    int previous_frame_size_unpadded = 0; // free format
    // Layer III main data held in the reservoir: bytes that end where the
    // previous frame ends, and the bytes the frame in hand took from them.
    int main_data_available = 0;
    int main_data_lead = 0;

    FrameHeader header;

    // Two halves of kReservoirHalfSize bytes; a frame's bytes start
    // kReservoirLead bytes into its half.
    std::uint8_t reservoir[2 * kReservoirHalfSize] = {};
    BitReader bits; // reads the reservoir

    Layer3State layer3;
    SynthesisState synthesis;

    std::uint32_t header_word = 0;
    // Bytes after the header of a frame handed over whole (DecodeFrame), the
    // size of a free-format frame; 0 when the frame may arrive in pieces.
    int known_frame_size = 0;
    int current_half = 0;
    bool resync = true;
    // The frame in hand cannot be decoded (its side information claims more
    // data than it and the reservoir hold, or its CRC word failed): it is
    // replaced by a frame of concealment.
    bool conceal = false;
    // CRC words are checked once one frame of the stream passed its check;
    // until then a stream may carry wrong words throughout and still play.
    bool crc_passed = false;
    // The next slot of the rise from silence after a concealment that
    // followed decoded audio, and the slots it rises over (0 when frames
    // concealed at the start, whose data lies before the stream, are silence
    // already), and whether it rises over a Layer III granule's uncancelled
    // aliasing.
    int rise_slot = 0;
    int rise_slots = 0;
    bool rise_aliased = false;
    bool decoded_audio = false;
};

// Result of DecodeFrame for the caller's output frame.
struct DecodedFrame {
    int sample_count = 0; // samples, all channels counted
    int two_channel = 1;  // 1 when the samples are interleaved pairs
    int sample_rate = 44100;
};

// A new, initialised decoder; null when it cannot be allocated.
FrameDecoder* frame_decoder_create();
// Resets every field to the state before the first frame; returns 1.
int frame_decoder_init(FrameDecoder& decoder);
// Frees every input block.
void frame_decoder_exit(FrameDecoder& decoder);
void frame_decoder_reset(FrameDecoder& decoder);
void frame_decoder_destroy(FrameDecoder* decoder);
// The next frame does not follow the last one in the stream (bytes were
// lost, cut or passed over): the reservoir forgets the main data it holds,
// so a frame reaching back into it is concealed rather than decoded from
// bytes of another place. The synthesis and overlap stay, for a smooth edge.
void frame_decoder_break_chain(FrameDecoder& decoder);
// Writes one frame of concealment for a frame of `samples_per_channel`
// samples and the last header's channels: the overlap and the synthesis
// filter ring out to silence, never louder than the audio before. Returns
// the 16-bit values written, all channels counted.
int frame_decoder_conceal(FrameDecoder& decoder, std::int16_t* samples, int samples_per_channel);
int frame_decoder_conceal(FrameDecoder& decoder, float* samples, int samples_per_channel);

// Adds count input bytes (input may be null) and decodes the next frame into
// output in the given form, whose capacity is given in bytes (at least
// kMinOutputBytes for 16-bit samples, kMinFloatOutputBytes for floats).
// done receives the bytes written. Returns 0 when a frame was decoded,
// NEED_MORE when more input is needed, -1 on error.
int decode_frame(FrameDecoder& decoder, const std::uint8_t* input, int count, unsigned char* output,
                 int capacity_bytes, int& done, SampleOutput form = SampleOutput::kPcm16);

// Decodes one whole frame of the stream into samples (capacity in 16-bit
// values). On success fills result and returns true; a frame that needs
// more input yields no samples, two channels at 44100 Hz.
bool DecodeFrame(FrameDecoder& decoder, std::int16_t* samples, int capacity,
                 const std::uint8_t* bytes, int length, DecodedFrame& result);
// The same into unrounded, unclipped float samples on the 16-bit scale
// (full scale 32768; capacity in floats).
bool DecodeFrame(FrameDecoder& decoder, float* samples, int capacity, const std::uint8_t* bytes,
                 int length, DecodedFrame& result);

// synthesize_blocks16 for decoded frames: after a concealment the first
// kFadeSlots slots (Layer I: kLayer1RiseSlots) rise from silence.
int synthesize_decoded(FrameDecoder& decoder, const double* const* blocks, int channels, int count,
                       unsigned char* output, int& position);
int synthesize_decoded(FrameDecoder& decoder, const float* const* blocks, int channels, int count,
                       unsigned char* output, int& position);

// Frame header helpers. Emphasis, private, copyright and original bits and
// the CRC flag never make a header invalid.
bool header_is_valid(std::uint32_t word, int layer);
// 1 when the header decoded; 0 for an unusable sample rate or layer, or a
// Layer III frame above 4096 bytes (then limited to 4096).
int decode_header(FrameHeader& header, std::uint32_t word);
// Bit rate in kbit/s by version, layer (1..3) and index (0..15); 0 for free
// format and the invalid index 15.
int bitrate_kbps(bool lsf, int layer, int index);
// Sample rate in Hz by sample-rate index 0..8.
int sample_rate_hz(int sample_rate_index);

struct VbrTagInfo {
    int version_bit = 0;
    int sample_rate = 0;
    std::uint32_t flags = 0;
    std::uint32_t frame_count = 0;
    std::uint32_t byte_count = 0;
    int vbr_scale = -1;
    std::uint8_t toc[100] = {};
    int tag_frame_length = 0;
    int encoder_delay = -1;
    int encoder_padding = -1;
    // The encoder tag's ReplayGain: the peak as a fraction of full scale (0
    // when not recorded) and the track ("radio") and album ("audiophile")
    // gains in tenths of a decibel, kNoGain when not recorded.
    static constexpr int kNoGain = 1 << 16;
    double peak = 0.0;
    int track_gain_tenths = kNoGain;
    int album_gain_tenths = kNoGain;
};

// Reads a Xing or Info tag from the first kVbrTagProbeSize bytes of a frame
// (from its header on). True when a tag was found. Encoder delay and padding
// come from an encoder tag behind the tag's fields, when there is one.
bool parse_vbr_tag(VbrTagInfo& info, const std::uint8_t* bytes);

} // namespace tesk::quor
