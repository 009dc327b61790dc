/*
 * Quor: MPEG-1, MPEG-2 and MPEG-2.5 audio decoder (Layers I, II and III).
 *
 * A flat C interface over an opaque decoder handle; the header needs C99 (or
 * any C++). Link with -lquor (pkg-config quor, or the CMake target
 * tesk_quor::quor).
 *
 * Use: create a decoder on a file (Quor_CreateUsingFile) or on your own input
 * (Quor_Create), read the stream information (Quor_GetFileInfo), call
 * Quor_Decode until it returns QUOR_END, and destroy the decoder
 * (Quor_Destroy). Quor_SeekToTime, Quor_GetTime and Quor_GetPosition may be
 * called between decodes; Quor_SetOption turns on gapless trimming.
 * Quor_StrError turns any result code into words.
 *
 * Results: every function that can fail returns a QUOR_ code: QUOR_OK (0) on
 * success, QUOR_END (1) from Quor_Decode at the end of the stream, a negative
 * QUOR_ERROR_ code otherwise. Out parameters are written only on success
 * unless a function says otherwise. No C++ exception crosses this interface.
 *
 * Threads: the library starts no threads and keeps no shared mutable state.
 * A decoder (and the input behind it) is used by one thread at a time;
 * different decoders may be used on different threads at the same time. The
 * functions without a handle (Quor_StrError, Quor_GetVersion,
 * Quor_GetVersionString) may be called from any thread at any time.
 *
 * Damaged input: bytes that do not form MPEG audio frames (junk, tags, a cut
 * frame) between and after frames are passed over; the decoder finds the
 * next frame and goes on. A frame whose contents cannot be decoded, and
 * whole frames missing from the stream (zeroed or overwritten in place), are
 * each replaced by one frame of concealment, so the samples after them keep
 * their times; the duration and seeks count those frames. The stream is
 * refused (QUOR_ERROR_DECODE) only when no MPEG audio frame is found in the
 * first 64 KiB after an ID3v2 tag, or when the input holds a single frame
 * and that frame does not decode: junk that looks like one frame.
 */
#ifndef QUOR_QUOR_H
#define QUOR_QUOR_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
/* Exported by quor.dll alone; programs linking the static library export nothing. */
#if defined(QUOR_BUILDING_DLL)
#define QUOR_API __declspec(dllexport)
#else
#define QUOR_API
#endif
#else
#define QUOR_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Version of this interface. Callers pass QUOR_VERSION, the version they were
 * compiled with, to the creating functions; a library refuses versions above
 * its own with QUOR_ERROR_INCOMPATIBLEVERSION and accepts its own and every
 * earlier one. Quor_GetVersion tells the version of the library loaded.
 * Version 4 adds the encoder fields of QuorFileInfo, Quor_SetOption and
 * Quor_GetPosition.
 * Version 5: a stream whose layer, version or sample rate changes part-way
 * goes on decoding in the new format (the channels stay those it opened
 * with), and Quor_GetDeliveredRate tells the rate of the samples delivered;
 * for callers of earlier versions such a change ends the decode with
 * QUOR_ERROR_DECODE. Version 5 also reports a stream that gives no audio as
 * QUOR_ERROR_NOAUDIO (see Quor_Decode), adds the tags (Quor_GetTag,
 * Quor_GetPicture and Quor_GetTagKey) and the output sample formats
 * (QUOR_OPTION_SAMPLE_FORMAT) with the sample fields of QuorStreamFormat.
 * Version 6 adds the delivered fields of QuorStreamFormat: the rate,
 * version, layer and mode of the part of the stream the last Quor_Decode
 * delivered, so that a caller sees a change of format where it happens.
 */
#define QUOR_VERSION 6

/*
 * Result codes. Each function below lists the ones it returns; Quor_StrError
 * gives a short English text for each.
 *  QUOR_OK                         success
 *  QUOR_END                        Quor_Decode: the stream is exhausted
 *  QUOR_ERROR_PARAM                a required pointer is NULL or a value is
 *                                  out of range
 *  QUOR_ERROR_UNSUPPORTED          the input cannot do what was asked: a seek
 *                                  on an input without a seek callback, or
 *                                  a file of 2 GiB or more
 *  QUOR_ERROR_MEMORY               memory ran out
 *  QUOR_ERROR_INTERNAL             a fault inside the library, or the input
 *                                  ended without a known cause
 *  QUOR_ERROR_DECODE               not an MPEG audio stream: no frame could
 *                                  be confirmed near its start
 *  QUOR_ERROR_READ                 the input reported a read error
 *  QUOR_ERROR_SEEK                 the input failed to seek
 *  QUOR_ERROR_OPENFILE             the file could not be opened (errno says
 *                                  why)
 *  QUOR_ERROR_WRONGSTATE           not returned by this version
 *  QUOR_ERROR_NOTAVAILABLE         not returned by this version
 *  QUOR_ERROR_INCOMPATIBLEVERSION  the caller's version is above the
 *                                  library's
 *  QUOR_ERROR_NOAUDIO              Quor_Decode, from version 5 on: the
 *                                  stream ended without giving any audio
 */
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
#define QUOR_ERROR_NOAUDIO (-12)

/* Stream information, filled by Quor_GetFileInfo. It describes the first
 * frame; a stream whose sample rate changes later on is delivered at each
 * part's own rate (see the delivered fields of QuorStreamFormat), always
 * with the channels of the first frame. */
typedef struct QuorFileInfo {
    int32_t durationMs; /* duration in milliseconds, -1 when unknown; the sum of
                         * the parts' when the sample rate changes */
    int32_t isVBR;      /* 1 when the first frame holds a Xing header, else 0 */
    int32_t bitRate;    /* bit rate in bit/s, -1 when unknown */
    int32_t sampleRate; /* sample rate in Hz */
    int32_t channels;   /* 1 or 2 */
    /* From version 4 on; for a decoder created with an earlier version the
     * record ends above and these are not written: */
    int32_t encoderDelay;   /* samples the encoder put in front, -1 when unknown */
    int32_t encoderPadding; /* samples the encoder put after the end, -1 when unknown */
} QuorFileInfo;

/* How the stream is coded, filled by Quor_GetStreamFormat. */
typedef struct QuorStreamFormat {
    int32_t version; /* MPEG version times ten: 10 (MPEG-1), 20 (MPEG-2) or 25 (MPEG-2.5) */
    int32_t layer;   /* 1, 2 or 3 */
    int32_t mode;    /* 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel */
    int32_t frames;  /* frames in the stream, -1 when unknown */
    /* From version 5 on; for a decoder created with an earlier version the
     * record ends above and these are not written: */
    int32_t sampleFormat;   /* the QUOR_SAMPLES_ value Quor_Decode delivers */
    int32_t bytesPerSample; /* bytes of one sample of one channel: 2, 3 or 4 */
    /* From version 6 on, likewise: the frames the last Quor_Decode delivered
     * samples of (the first frame before any). They differ from the fields
     * above, and from QuorFileInfo.sampleRate, once a joined stream goes on
     * in another format; the channels delivered stay those of the first
     * frame. */
    int32_t deliveredRate;    /* sample rate in Hz, as Quor_GetDeliveredRate */
    int32_t deliveredVersion; /* as version */
    int32_t deliveredLayer;   /* as layer */
    int32_t deliveredMode;    /* as mode */
} QuorStreamFormat;

/*
 * Input callbacks for Quor_Create. Each receives the user value given at
 * creation. They are called only from inside the Quor_ calls on that
 * decoder, on the caller's thread, and never after Quor_Destroy returns.
 *  read:        copies up to bytes bytes into buffer and returns their count,
 *               0 at the end of the input, a negative value on a read error
 *               (reported as QUOR_ERROR_READ). Inputs are read up to 2 GiB;
 *               beyond, Quor_Decode answers QUOR_ERROR_UNSUPPORTED.
 *  seek:        moves to an absolute byte offset; nonzero on success. May be
 *               NULL: the input cannot seek, and Quor_SeekToTime answers
 *               QUOR_ERROR_UNSUPPORTED.
 *  getLength:   total length in bytes, negative when unknown. May be NULL.
 *               With a length (or a Xing header) the duration is known.
 *  getPosition: the current byte offset. Required.
 * A set whose read callback is NULL makes the decoder read standard input
 * (no seek, no length); the user value is then ignored.
 */
typedef struct QuorCallbacks {
    int32_t (*read)(void* user, void* buffer, int32_t bytes);
    int32_t (*seek)(void* user, int32_t position);
    int32_t (*getLength)(void* user);
    int32_t (*getPosition)(void* user);
} QuorCallbacks;

/* The opaque decoder handle. */
typedef struct QuorDecoder* QuorHandle;

/*
 * Creates a decoder reading through the callbacks; nothing is read yet.
 *  out:       receives the handle on success (left unchanged otherwise).
 *  callbacks: copied; see QuorCallbacks.
 *  user:      passed to every callback. The decoder does not own it: it must
 *             stay valid until Quor_Destroy, and the caller frees it after.
 *  version:   QUOR_VERSION.
 * Returns QUOR_OK; QUOR_ERROR_INCOMPATIBLEVERSION; QUOR_ERROR_PARAM when out
 * or callbacks.getPosition is NULL; QUOR_ERROR_MEMORY. The handle belongs to
 * the caller, who releases it with Quor_Destroy.
 */
QUOR_API int32_t Quor_Create(QuorHandle* out, QuorCallbacks callbacks, void* user, int32_t version);

/*
 * Creates a decoder on the file named by a wide-character path (UTF-16 or
 * UTF-32, as wchar_t is). The file is opened for reading now and closed by
 * Quor_Destroy; the path is not kept.
 * Returns QUOR_OK; QUOR_ERROR_INCOMPATIBLEVERSION; QUOR_ERROR_PARAM when out or
 * path is NULL; QUOR_ERROR_OPENFILE when the file cannot be opened;
 * QUOR_ERROR_UNSUPPORTED for a file of 2 GiB or more; QUOR_ERROR_MEMORY. On
 * failure no file stays open. A pipe or a device is read as a stream, as
 * standard input is: it cannot seek, and its duration is known only from a
 * Xing header.
 */
QUOR_API int32_t Quor_CreateUsingFileW(QuorHandle* out, const wchar_t* path, int32_t version);

/*
 * Creates a decoder on the file named by a UTF-8 path; otherwise as
 * Quor_CreateUsingFileW. When the file cannot be opened the result is
 * QUOR_ERROR_OPENFILE and errno holds the reason (ENOENT, EACCES, EISDIR for a
 * folder, ...). Both ways refuse folders.
 */
QUOR_API int32_t Quor_CreateUsingFile(QuorHandle* out, const char* utf8_path, int32_t version);

/* Destroys a decoder, closing a file that it opened; the handle is invalid
 * afterwards. A NULL handle is accepted and does nothing. */
QUOR_API void Quor_Destroy(QuorHandle handle);

/*
 * Fills info with the stream information. The first call on a decoder (or the
 * first Quor_Decode or Quor_SeekToTime) prepares it: it passes over an ID3v2
 * tag, finds the first frame and, when the input's length is known or a
 * Xing header is present, reads the whole input once to count the frames;
 * that call can take as long as a pass over the file. With gapless trimming
 * on, durationMs is the length of the trimmed audio.
 * Returns QUOR_OK; QUOR_ERROR_PARAM when handle or info is NULL;
 * QUOR_ERROR_DECODE when the input is not an MPEG audio stream, or
 * QUOR_ERROR_READ when it failed to read, before a stream was found (and
 * again on every later call that prepares); QUOR_ERROR_MEMORY.
 */
QUOR_API int32_t Quor_GetFileInfo(QuorHandle handle, QuorFileInfo* info);

/*
 * Fills format with the coding of the stream: the version, layer and mode of
 * its first frame and its frame count (counted in the pass that preparing
 * makes, else the Xing header's count, else -1); from version 5 on also the
 * sample format Quor_Decode delivers as the options stand; from version 6
 * on also the format of the samples the last Quor_Decode delivered, which
 * a caller may ask for after every decode. Prepares the decoder as
 * Quor_GetFileInfo does.
 * Returns QUOR_OK; QUOR_ERROR_PARAM when handle or format is NULL;
 * QUOR_ERROR_DECODE when the input is not an MPEG audio stream;
 * QUOR_ERROR_MEMORY.
 */
QUOR_API int32_t Quor_GetStreamFormat(QuorHandle handle, QuorStreamFormat* format);

/*
 * Sets an option. Options may be set at any time; they apply to the samples
 * delivered from then on and to Quor_GetFileInfo, so a caller sets them
 * before its first Quor_Decode.
 *  QUOR_OPTION_GAPLESS, value 0 (the default) or 1: with 1, a stream whose
 *  first frame holds an encoder tag (the LAME-style tag behind a Xing or
 *  Info header, with 12 bits of delay and 12 of padding) decodes to the
 *  encoder's input exactly: the encoder delay plus the decoder's own delay
 *  of 529 samples are removed at the start, the padding less those 529 at
 *  the end. Times, positions and seeks then count from the first kept
 *  sample. Streams without an encoder tag are not changed. The end is
 *  trimmed when the frames were counted (see Quor_GetFileInfo).
 * Returns QUOR_OK; QUOR_ERROR_PARAM when handle is NULL, the option is
 * unknown (QUOR_OPTION_SAMPLE_FORMAT to a decoder created with a version
 * below 5) or the value is not one of the option's.
 */
#define QUOR_OPTION_GAPLESS 1
/*
 *  QUOR_OPTION_SAMPLE_FORMAT (version 5 on), one of the QUOR_SAMPLES_ values:
 *  the samples Quor_Decode delivers from the next call on, little-endian and
 *  interleaved. Sizes, positions and times count sample frames of that
 *  format (channels times its bytes per sample).
 *   QUOR_SAMPLES_INT16 (the default) signed 16-bit, rounded and saturated
 *   QUOR_SAMPLES_INT24 signed 24-bit packed in 3 bytes, rounded to nearest
 *                      and saturated
 *   QUOR_SAMPLES_INT32 signed 32-bit, rounded to nearest and saturated
 *   QUOR_SAMPLES_FLOAT 32-bit IEEE float, 16-bit full scale at +-1.0; never
 *                      clipped, so a loud stream's peaks above full scale
 *                      are kept
 *  Each integer format rounded to 16 bits gives the 16-bit samples, or
 *  differs from them by 1.
 */
#define QUOR_OPTION_SAMPLE_FORMAT 2
#define QUOR_SAMPLES_INT16 0
#define QUOR_SAMPLES_INT24 1
#define QUOR_SAMPLES_INT32 2
#define QUOR_SAMPLES_FLOAT 3
QUOR_API int32_t Quor_SetOption(QuorHandle handle, int32_t option, int32_t value);

/*
 * Delivers decoded samples (signed 16-bit native byte order unless
 * QUOR_OPTION_SAMPLE_FORMAT chose another format, channels interleaved) into
 * buffer and sets *delivered to the byte count. The byte figures below are
 * those of 16-bit samples; the other formats scale them by their bytes per
 * sample over 2 (a frame of 32-bit samples holds at most 9216 bytes).
 *  buffer:    where the samples go, or NULL to pass over them: without a
 *             buffer (size 0) the rest of the current frame, or else the
 *             next whole frame, is skipped without decoding, and the time
 *             advances as if it had been delivered.
 *  size:      bytes of room in buffer. At most size bytes are delivered,
 *             rounded down to whole sample frames, and never more than what
 *             is left of the current MPEG frame (at most 4608 bytes), so one
 *             call may deliver less than size while the stream goes on. Room
 *             for less than one sample frame (4 bytes for stereo, 2 for
 *             mono) is refused with QUOR_ERROR_PARAM. -1 means no limit:
 *             the buffer must then hold 4608 bytes.
 *  delivered: set to 0 first, then to the bytes delivered (or passed over).
 * Returns QUOR_OK with 0 or more bytes; QUOR_END with 0 bytes once the stream
 * is exhausted, and again on every later call; from version 5 on
 * QUOR_ERROR_NOAUDIO instead of QUOR_END when the stream, read from its
 * start (no seek other than to time 0), gave not one sample: every frame
 * failed to decode or trimming removed them all (version 4 and earlier
 * callers get QUOR_END); QUOR_ERROR_PARAM when handle or
 * delivered is NULL, when buffer is NULL with a nonzero size, for a size
 * below -1, or for room below one sample frame; QUOR_ERROR_DECODE for an
 * input that is not an MPEG audio stream; QUOR_ERROR_READ or QUOR_ERROR_SEEK
 * when the input failed and no further frame can be had, QUOR_ERROR_READ also
 * when the input ends before the length it had when the decoder prepared (a
 * file that shrank); QUOR_ERROR_UNSUPPORTED past 2 GiB; QUOR_ERROR_MEMORY;
 * QUOR_ERROR_INTERNAL. After an error other than QUOR_ERROR_PARAM the decoder
 * can still be sought or destroyed.
 */
QUOR_API int32_t Quor_Decode(QuorHandle handle, void* buffer, int32_t size, int32_t* delivered);

/*
 * Moves to a time in milliseconds from the start of the stream: the first
 * sample delivered after Quor_SeekToTime(ms) is sample round(ms * rate / 1000)
 * of the stream (rate: QuorFileInfo.sampleRate), with the value a decode from
 * the start gives there, and Quor_GetTime then reads ms. In a stream whose
 * later parts have another sample rate, layer or version, each part counts
 * at its own rate: the sample delivered first is the one of the part that
 * holds ms nearest to it. The decoder counts
 * frames from the nearest frame whose position it noted while counting them,
 * decodes from a few frames before the target (for Layer III also the frames
 * whose data the following frames take from the bit reservoir) to rebuild
 * its state, and drops the samples before the target. A time at or after the
 * end leads to QUOR_END. The decoder must be able to seek its input (a file,
 * or callbacks with seek); when its frames could not be counted, only time 0
 * is found exactly.
 * Returns QUOR_OK; QUOR_ERROR_PARAM when handle is NULL or timeMs is
 * negative; QUOR_ERROR_UNSUPPORTED when the input cannot seek, or for a time
 * other than 0 when the duration is unknown; QUOR_ERROR_SEEK when the input
 * failed to seek;
 * QUOR_ERROR_DECODE for an input that is not an MPEG audio stream.
 */
QUOR_API int32_t Quor_SeekToTime(QuorHandle handle, int32_t timeMs);

/*
 * Sets *timeMs to the time of the next sample to be delivered, in
 * milliseconds from the start of the stream, truncated toward zero; 0 before
 * the first delivery. Each part of a stream that changes its sample rate
 * counts at its own rate. It reads nothing from the input.
 * Returns QUOR_OK; QUOR_ERROR_PARAM when handle or timeMs is NULL.
 */
QUOR_API int32_t Quor_GetTime(QuorHandle handle, int32_t* timeMs);

/*
 * Sets *samples to the position of the next sample to be delivered, in
 * samples per channel from the start of the stream (from the first kept
 * sample when trimming): the exact form of Quor_GetTime. After a delivery of
 * n sample frames, the delivered ones began at *samples - n.
 * Returns QUOR_OK; QUOR_ERROR_PARAM when handle or samples is NULL.
 */
QUOR_API int32_t Quor_GetPosition(QuorHandle handle, int64_t* samples);

/*
 * Sets *sampleRate to the sample rate of the samples the last Quor_Decode
 * delivered: QuorFileInfo.sampleRate until a stream of another rate follows
 * (callers of version 5 and later). Every Quor_Decode delivers samples of one
 * rate. Returns QUOR_OK; QUOR_ERROR_PARAM when handle or sampleRate is NULL.
 */
QUOR_API int32_t Quor_GetDeliveredRate(QuorHandle handle, int32_t* sampleRate);

/* A short English text for a result code, such as "cannot open the file";
 * never NULL. The text is static: do not free it. Unknown codes give
 * "unknown result code". */
QUOR_API const char* Quor_StrError(int32_t code);

/* The highest interface version this library accepts (QUOR_VERSION of the
 * library's own build). */
QUOR_API int32_t Quor_GetVersion(void);

/* The library's release, such as "0.1.0"; static, never NULL. */
QUOR_API const char* Quor_GetVersionString(void);

/*
 * Copies the value of one of the stream's tags, as UTF-8 text with a
 * terminating NUL, into buffer (from version 5 on). The tags are read on the
 * first call, from an ID3v2 tag in front of the audio and APEv2 and ID3v1
 * tags behind it, in that order of precedence; reading them needs an input
 * that can seek (the input is moved back to where it was). A tag that cannot
 * be parsed gives no values; it never fails the decode.
 *  key:    "title", "artist", "album", "album_artist", "track" ("3/12"
 *          where the tag has a total), "disc", "date", "genre", "comment",
 *          "composer", "replaygain_track_gain", "replaygain_album_gain"
 *          ("-6.20 dB"), "replaygain_track_peak", "replaygain_album_peak"
 *          ("0.988"), or "picture" ("type 3, image/jpeg, 51234 bytes": the
 *          front cover, else the first picture; type is the ID3v2 picture
 *          type). Without text tags, the ReplayGain values come from the
 *          encoder tag where it records them.
 *  buffer: where the value goes, or NULL with size 0 to ask for its length.
 *  size:   bytes of room in buffer, the NUL included.
 *  length: set to the length of the value in bytes, without the NUL, also
 *          when the room is too small.
 * Returns QUOR_OK; QUOR_ERROR_NOTAVAILABLE when the stream has no such value;
 * QUOR_ERROR_UNSUPPORTED when no tags can be read (the library was built
 * without tag reading, or the input cannot seek); QUOR_ERROR_PARAM when
 * handle, key or length is NULL, or the room is too small; QUOR_ERROR_MEMORY.
 */
QUOR_API int32_t Quor_GetTag(QuorHandle handle, const char* key, char* buffer, int32_t size,
                             int32_t* length);

/*
 * Copies the picture that the tag value "picture" describes (its bytes as
 * stored, such as a JPEG or PNG file) into buffer (from version 5 on);
 * buffer, size, length and the results as for Quor_GetTag.
 */
QUOR_API int32_t Quor_GetPicture(QuorHandle handle, void* buffer, int32_t size, int32_t* length);

/* The tag key of an index from 0 on, in the order of Quor_GetTag's list
 * ("title" first, "picture" last); NULL past the last and, in a library
 * built without tag reading, for every index (from version 5 on). */
QUOR_API const char* Quor_GetTagKey(int32_t index);

#ifdef __cplusplus
}
#endif

#endif /* QUOR_QUOR_H */
