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

/* Version of this interface; callers pass the version they were written for. */
#define QUOR_VERSION 3

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
} QuorFileInfo;

/* How the stream is coded, filled by Quor_GetStreamFormat. */
typedef struct QuorStreamFormat {
    int32_t version; /* MPEG version times ten: 10 (MPEG-1), 20 (MPEG-2) or 25 (MPEG-2.5) */
    int32_t layer;   /* 1, 2 or 3 */
    int32_t mode;    /* 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel */
    int32_t frames;  /* frames in the stream, -1 when unknown */
} QuorStreamFormat;

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

/* Creates a decoder on the file named by a UTF-8 path; otherwise as
 * Quor_CreateUsingFileW. When the file cannot be opened the result is
 * QUOR_ERROR_OPENFILE and errno holds the system's reason. */
QUOR_API int32_t Quor_CreateUsingFile(QuorHandle* out, const char* utf8_path, int32_t version);

/* Destroys a decoder; a NULL handle is accepted. */
QUOR_API void Quor_Destroy(QuorHandle handle);

/* Fills the stream information. */
QUOR_API int32_t Quor_GetFileInfo(QuorHandle handle, QuorFileInfo* info);

/* Fills the coding of the stream: version, layer and mode of its first
 * frame and its frame count. */
QUOR_API int32_t Quor_GetStreamFormat(QuorHandle handle, QuorStreamFormat* format);

/*
 * Delivers decoded 16-bit PCM (native byte order, channels interleaved) into
 * buffer, at most size bytes rounded down to whole sample frames; size -1
 * means no limit. Without a buffer (and size 0) the bytes are passed over
 * without decoding. QUOR_END once the stream is exhausted.
 */
QUOR_API int32_t Quor_Decode(QuorHandle handle, void* buffer, int32_t size, int32_t* delivered);

/* Moves to a time in milliseconds (not negative). */
QUOR_API int32_t Quor_SeekToTime(QuorHandle handle, int32_t timeMs);

/* The time of the next byte to be delivered, in milliseconds. */
QUOR_API int32_t Quor_GetTime(QuorHandle handle, int32_t* timeMs);

/* A short English text for a result code, such as "cannot open the file";
 * never NULL. The text is static: do not free it. Unknown codes give
 * "unknown result code". */
QUOR_API const char* Quor_StrError(int32_t code);

/* The highest interface version this library accepts (QUOR_VERSION of the
 * library's own build). */
QUOR_API int32_t Quor_GetVersion(void);

/* The library's release, such as "0.1.0"; static, never NULL. */
QUOR_API const char* Quor_GetVersionString(void);

#ifdef __cplusplus
}
#endif

#endif /* QUOR_QUOR_H */
