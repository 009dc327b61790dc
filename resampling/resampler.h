#pragma once

// Polyphase windowed-sinc resampler for 16-bit or float mono streams.
//
// One context resamples one channel. The converter hands it a block of
// samples; the context writes every output sample whose filter taps lie
// inside the block, reports how many input samples the caller may drop, and
// keeps its fractional filter position so that the next block (which starts
// with the samples it did not consume) continues the same stream without a
// seam. The rate ratio is kept as an exact fraction in lowest terms, so the
// position never drifts, however long the stream.
//
// The first output sample is aligned with the first input sample: the taps
// that reach before the start of the stream read silence.

namespace tesk::samplerateconverter {

struct ResampleContext;

// Makes the context of one channel resampled from in_rate to out_rate (Hz).
// filter_length: taps of the filter at the lower of the two rates; when the
// output rate is the lower one the filter is widened by in_rate / out_rate so
// that it spans the same time. log2_phase_count: the filter bank holds
// 2^log2_phase_count fractional positions per input sample (0 to 16).
// linear: must be 0; the nearest filter phase is used, without interpolating
// between phases. cutoff: the filter's cut-off frequency as a share of the
// lower Nyquist frequency, in (0, 1].
// Returns null for arguments outside these ranges.
ResampleContext* av_resample_init(int out_rate, int in_rate, int filter_length,
                                  int log2_phase_count, int linear, double cutoff);

// Resamples src_size samples of src into at most dst_size samples of dst and
// returns the number written. *consumed receives how many samples from the
// start of src are no longer needed: the next call must start at
// src[*consumed]. With update_ctx nonzero the context keeps its position for
// that next call; with 0 it is left unchanged. Returns -1 when a pointer
// argument is null or a size is negative.
int av_resample(ResampleContext* context, short* dst, const short* src, int* consumed, int src_size,
                int dst_size, int update_ctx);
// The same on float samples (full scale 32768), unrounded and unclipped;
// rounded, it gives the 16-bit form's samples.
int av_resample(ResampleContext* context, float* dst, const float* src, int* consumed, int src_size,
                int dst_size, int update_ctx);

// Resamples the same span of planes channels (1 to 8) at once, as
// av_resample with update_ctx 1 does each: contexts[k], src[k] and dst[k]
// are channel k's. The contexts must have been made alike and fed blocks of
// the same sizes, so that they stand at the same position; the channels
// then share its computation and each filter row. Returns -1 for arguments
// av_resample refuses or contexts that differ.
int av_resample_planes(ResampleContext* const* contexts, int planes, float* const* dst,
                       const float* const* src, int* consumed, int src_size, int dst_size);

// The taps of the context's filter: an output sample is written once the
// input holds all of them.
int av_resample_taps(const ResampleContext* context);

// Frees a context made by av_resample_init; null is accepted.
void av_resample_close(ResampleContext* context);

} // namespace tesk::samplerateconverter
