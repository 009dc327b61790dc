// Polyphase synthesis filter bank: 32 sub-band samples of one channel in,
// 32 signed 16-bit PCM samples out, rounded half away from zero and clipped
// with a count of clipped samples; or, for output at a higher resolution,
// the same 32 samples as floats, neither rounded nor clipped.
//
// The window and matrixing constants are immutable and built once for the
// whole process; the filter state belongs to one frame decoder, so
// independent decoders may synthesise on different threads.
#pragma once

#include <cstdint>

namespace tesk::quor {

struct FrameDecoder;

inline constexpr int kSubbands = 32;
inline constexpr int kSynthesisHalfSize = 272; // 16 slots of 17 rows
inline constexpr int kSynthesisTaps = 16;      // blocks each output sums over
inline constexpr int kSynthesisHistory = 64;   // blocks a history row holds

// The form of the synthesis output: native signed 16-bit samples, rounded
// and clipped; or native floats on the same scale (full scale 32768, so a
// float sample rounds to the 16-bit one), unrounded and unclipped.
enum class SampleOutput { kPcm16, kFloat };

// Bytes per sample of the form.
constexpr int sample_bytes(SampleOutput form) {
    return form == SampleOutput::kFloat ? 4 : 2;
}

struct SynthesisState {
    // Double precision: per channel two halves of 16 slots x 17 rows of
    // matrixing values.
    double halves[2][2][kSynthesisHalfSize] = {};
    // Single precision: per channel and DCT output k, the outputs k of the
    // channel's blocks in time order, the next block's at history_end; the
    // 15 blocks before it are the ones its windowing reads.
    alignas(32) float history[2][kSubbands][kSynthesisHistory] = {};
    int history_end[2] = {kSynthesisTaps - 1, kSynthesisTaps - 1};
    // Ring slot shared by both channels; moves on each channel-0 block.
    int ring_index = 1;
    // The form of the frame in hand's output, chosen per frame decode.
    SampleOutput output = SampleOutput::kPcm16;
};

// Moves the ring to where it stands at `block` (counted from the first block
// of the stream) in a decode from the start. The windowing in double
// precision sums its terms in ring order, so a decode resumed at a later
// frame gives the same samples as one from the start only in the same phase;
// single precision sums them from the newest block back in every phase.
void set_synthesis_phase(SynthesisState& state, std::int64_t block);

// Builds the window and matrixing constants once; later calls find them ready.
void init_synthesis_tables();

// Synthesises `count` consecutive blocks of each of `channels` channels (1
// or 2; block t of channel c at blocks[c] + 32 t) into interleaved output at
// output + position (channel 1 one sample after channel 0), block after
// block, each block's channel 0 before its channel 1, in the state's output
// form; advances position by 32 samples' bytes per block and channel.
// Returns the number of clipped samples (none in float output).
int synthesize_blocks16(FrameDecoder& decoder, const double* const* blocks, int channels, int count,
                        unsigned char* output, int& position);

// The same for blocks already in single precision, in a process whose
// transforms run in single precision (see simd_path.h).
int synthesize_blocks16(FrameDecoder& decoder, const float* const* blocks, int channels, int count,
                        unsigned char* output, int& position);

// The 33 stored matrixing values of one block: a[r] = -V(32 + r) for
// r = 0..16 and b[r] = V(r) for r = 0..15, where
// V(i) = sum over k of cos((16 + i)(2k + 1) pi / 64) S(k).
void dct32(const double* samples, double* a, double* b);

// Rounds a windowed sum to 16 bits, half away from zero; counts a clip when
// the sum lies outside -32768..32767.
std::int16_t round_to_pcm16(double sum, int& clips);

// round_to_pcm16 of the 32 sums of a block, side by side; returns the
// number of clipped samples.
int round_block_to_pcm16(const double* sums, std::int16_t* pcm);

// The same for sums in single precision, exactly as their double values
// would round.
int round_block_to_pcm16(const float* sums, std::int16_t* pcm);

} // namespace tesk::quor
