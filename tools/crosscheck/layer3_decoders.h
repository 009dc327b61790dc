// The two decoders the Layer III cross-check and benchmark compare: the
// frame decoder of Quor and libmad, whose fixed-point output is rounded to
// 16 bits without dither. Both decode a whole stream in memory into
// interleaved 16-bit samples and count the frames they reject. A caller that
// decodes again passes the result of the last decode to be refilled: its
// output is then neither grown nor touched for the first time, so that timing
// the decoders leaves out the cost of the benchmark's own buffer.
#pragma once

#include <mad.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "decoder/core/frame_decoder.h"

namespace tesk::quor::crosscheck {

struct Decoded {
    std::vector<std::int16_t> samples;
    int errors = 0;
};

inline void decode_with_quor(const std::vector<std::uint8_t>& stream, Decoded& result) {
    FrameDecoder* decoder = frame_decoder_create();
    if (decoder == nullptr) {
        throw std::bad_alloc();
    }
    result.samples.clear();
    result.errors = 0;
    std::vector<std::int16_t> frame(kMinOutputBytes / 2);
    const std::uint8_t* input = stream.data();
    int count = static_cast<int>(stream.size());
    for (;;) {
        int done = 0;
        const int status =
            decode_frame(*decoder, input, count, reinterpret_cast<unsigned char*>(frame.data()),
                         kMinOutputBytes, done);
        input = nullptr;
        count = 0;
        if (status == NEED_MORE) {
            break;
        }
        if (status == 0) {
            result.samples.insert(result.samples.end(), frame.begin(), frame.begin() + done / 2);
        } else {
            ++result.errors;
        }
    }
    frame_decoder_destroy(decoder);
}

inline Decoded decode_with_quor(const std::vector<std::uint8_t>& stream) {
    Decoded result;
    decode_with_quor(stream, result);
    return result;
}

inline std::int16_t round_mad_sample(mad_fixed_t sample) {
    sample += 1L << (MAD_F_FRACBITS - 16);
    sample = std::clamp<mad_fixed_t>(sample, -MAD_F_ONE, MAD_F_ONE - 1);
    return static_cast<std::int16_t>(sample >> (MAD_F_FRACBITS + 1 - 16));
}

// libmad reads up to MAD_BUFFER_GUARD bytes past the last frame: the stream
// must end with that many zero bytes.
inline void decode_with_mad(const std::vector<std::uint8_t>& guarded_stream, Decoded& result) {
    mad_stream stream;
    mad_frame frame;
    mad_synth synth;
    mad_stream_init(&stream);
    mad_frame_init(&frame);
    mad_synth_init(&synth);
    mad_stream_buffer(&stream, guarded_stream.data(), guarded_stream.size());
    result.samples.clear();
    result.errors = 0;
    for (;;) {
        if (mad_frame_decode(&frame, &stream) != 0) {
            // Losing sync in the guard bytes is the end of the stream.
            const bool inGuard = stream.this_frame >=
                                 guarded_stream.data() + guarded_stream.size() - MAD_BUFFER_GUARD;
            if (MAD_RECOVERABLE(stream.error)) {
                result.errors += inGuard ? 0 : 1;
                continue;
            }
            break;
        }
        mad_synth_frame(&synth, &frame);
        for (unsigned i = 0; i < synth.pcm.length; ++i) {
            for (unsigned ch = 0; ch < synth.pcm.channels; ++ch) {
                result.samples.push_back(round_mad_sample(synth.pcm.samples[ch][i]));
            }
        }
    }
    mad_synth_finish(&synth);
    mad_frame_finish(&frame);
    mad_stream_finish(&stream);
}

inline Decoded decode_with_mad(const std::vector<std::uint8_t>& guarded_stream) {
    Decoded result;
    decode_with_mad(guarded_stream, result);
    return result;
}

inline std::vector<std::uint8_t> with_mad_guard(std::vector<std::uint8_t> stream) {
    stream.resize(stream.size() + MAD_BUFFER_GUARD, 0);
    return stream;
}

} // namespace tesk::quor::crosscheck
