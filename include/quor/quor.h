/*
 * Quor: MPEG-1, MPEG-2 and MPEG-2.5 audio decoder (Layers I, II and III).
 *
 * A flat C interface over an opaque decoder handle. Every function returns a
 * QUOR_ result code; no exception crosses this interface. A decoder is used by
 * one thread at a time; independent decoders may run on different threads.
 */
#ifndef QUOR_QUOR_H
#define QUOR_QUOR_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define QUOR_API __declspec(dllexport)
#else
#define QUOR_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Version of this interface; callers pass the version they were written for.
 * Version 4 adds the encoder fields of QuorFileInfo, Quor_SetOption and
 * Quor_GetPosition. */
#define QUOR_VERSION 4

/* Result codes. */
#define QUOR_OK 0
#define QUOR_END 1
#define QUOR_ERROR_PARAM (-1)
#define QUOR_ERROR_UNSUPPORTED (-2)
#define QUOR_ERROR_MEMORY (-3)
#define QUOR_ERROR_INTERNAL (-4)
#define QUOR_ERROR_DECODE (-5)
#define QUOR_ERROR_READ (-6)
#define QUOR_ERROR_SEEK (-7)
#define QUOR_ERROR_OPENFILE (-8)
#define QUOR_ERROR_WRONGSTATE (-9)
#define QUOR_ERROR_NOTAVAILABLE (-10)
#define QUOR_ERROR_INCOMPATIBLEVERSION (-11)

/* Stream information, filled by Quor_GetFileInfo. */
typedef struct QuorFileInfo {
    int32_t durationMs; /* duration in milliseconds, -1 when unknown */
    int32_t isVBR;      /* 1 when the first frame holds a Xing header, else 0 */
    int32_t bitRate;    /* bit rate in bit/s, -1 when unknown */
    int32_t sampleRate; /* sample rate in Hz */
    int32_t channels;   /* 1 or 2 */
    /* From version 4 on; a caller of an earlier version passes the record
     * without them, and they are not written: */
    int32_t encoderDelay;   /* samples the encoder put in front, -1 when unknown */
    int32_t encoderPadding; /* samples the encoder put after the end, -1 when unknown */
} QuorFileInfo;

/*
 * Input callbacks; each receives the user value given at creation.
 *  read:        bytes delivered (0 at the end), negative on a read error.
 *  seek:        nonzero on success; position is an absolute byte offset.
 *               May be NULL: the input cannot seek.
 *  getLength:   total length in bytes, negative when unknown. May be NULL.
 *  getPosition: the current byte position. Required.
 * A set whose read callback is NULL makes the decoder read standard input.
 */
typedef struct QuorCallbacks {
    int32_t (*read)(void* user, void* buffer, int32_t bytes);
    int32_t (*seek)(void* user, int32_t position);
    int32_t (*getLength)(void* user);
    int32_t (*getPosition)(void* user);
} QuorCallbacks;

/* The opaque decoder handle. */
typedef struct QuorDecoder* QuorHandle;

/* Creates a decoder reading through the callbacks. */
QUOR_API int32_t Quor_Create(QuorHandle* out, QuorCallbacks callbacks, void* user, int32_t version);

/* Creates a decoder on the file named by a wide-character path. Inputs of
 * 2 GiB or more are refused with QUOR_ERROR_UNSUPPORTED. */
QUOR_API int32_t Quor_CreateUsingFileW(QuorHandle* out, const wchar_t* path, int32_t version);

/* Destroys a decoder; a NULL handle is accepted. */
QUOR_API void Quor_Destroy(QuorHandle handle);

/* Fills the stream information. With gapless trimming on, durationMs is the
 * length of the trimmed audio. */
QUOR_API int32_t Quor_GetFileInfo(QuorHandle handle, QuorFileInfo* info);

/*
 * Options, set with Quor_SetOption at any time; they apply from the next
 * delivered sample on (and to Quor_GetFileInfo), so a caller sets them
 * before its first Quor_Decode.
 *
 * QUOR_OPTION_GAPLESS, value 0 (default) or 1: with 1, a stream whose first
 * frame holds an encoder tag (the LAME-style tag behind a Xing or Info
 * header) decodes to the encoder's input exactly: the encoder delay plus the
 * decoder's own delay of 529 samples are removed at the start, the encoder
 * padding less those 529 samples at the end. Times and positions then count
 * from the first kept sample. Streams without such a tag are not changed.
 * An unknown option gives QUOR_ERROR_PARAM.
 */
#define QUOR_OPTION_GAPLESS 1
QUOR_API int32_t Quor_SetOption(QuorHandle handle, int32_t option, int32_t value);

/*
 * Delivers decoded 16-bit PCM (native byte order, channels interleaved) into
 * buffer, at most size bytes rounded down to whole sample frames; size -1
 * means no limit. Without a buffer (and size 0) the bytes are passed over
 * without decoding. QUOR_END once the stream is exhausted.
 */
QUOR_API int32_t Quor_Decode(QuorHandle handle, void* buffer, int32_t size, int32_t* delivered);

/*
 * Moves to a time in milliseconds (not negative). The next sample delivered
 * is sample round(timeMs x rate / 1000) of the stream: the same sample, with
 * the same value, that a decode from the start delivers there. The decoder
 * decodes from a few frames before it to rebuild its state (for Layer III
 * also the frames whose data the landing frames take from the reservoir) and
 * drops what lies before it. A time after the end leaves the stream at its
 * end. Seeking needs an input that can seek and whose frames the decoder
 * could count; without counted frames only time 0 is exact.
 */
QUOR_API int32_t Quor_SeekToTime(QuorHandle handle, int32_t timeMs);

/* The time of the next sample to be delivered, in milliseconds, truncated. */
QUOR_API int32_t Quor_GetTime(QuorHandle handle, int32_t* timeMs);

/* The position of the next sample to be delivered, in samples per channel
 * from the start of the audio (from the first kept sample when trimming). */
QUOR_API int32_t Quor_GetPosition(QuorHandle handle, int64_t* samples);

#ifdef __cplusplus
}
#endif

#endif /* QUOR_QUOR_H */
