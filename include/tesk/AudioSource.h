// Sources: what a plug-in opens for one file, and the audio source that
// decodes it into chunks. C++20.
//
// Lifecycle: createSource makes a closed source; open opens the file; decode
// hands out chunks until it gives an empty holder at the end; seek may come
// between decodes; close releases the file (a closed source may be opened
// again); the host releases the source before the plug-in object. A host
// closes every source it opened before releasing it.
//
// Errors: open, decode and seek throw a zelm::CError named "CTESKError"
// whose description names the failing decoder call, its QUOR_ code and the
// file; the source is closed by then. Catch zelm::CException.
//
// Threads: open, close, isOpen and setOption take the source's own lock and
// may be called from any thread. decode, seek and the getters are called by
// one thread at a time, not while open or close runs on another.
#pragma once

#include <tesk/AudioChunk.h>
#include <zelm/Object.h>
#include <zelm/String.h>
#include <zelm/URI.h>

#include <cstdint>

namespace tesk::audio {

// Options a host sets with IAudioSource::setOption. The one 32-bit value
// carries the option in its high 16 bits and the setting in its low 16 bits;
// build it with sourceOption(). A source takes an option set before open()
// from that open on; set on an open source, it takes effect at the next open.
// A source ignores options it does not know, so a host may set options that
// only some plug-ins understand.
enum class SourceOption : std::int32_t {
    // 0 (default): every sample the decoder delivers. 1: the encoder delay and
    // padding recorded in the stream's encoder tag are trimmed, so the output
    // has the encoder's input length; times count from the first kept sample.
    Gapless = 1,
    // 0 (default): the fast sample-rate converter (16 taps, the nearest of
    // 1024 filter phases, cut off at the lower Nyquist frequency). 1: the
    // high-quality one: flat to within 0.1 dB up to 0.91 x the lower Nyquist
    // frequency, aliases and images at least 100 dB down.
    ResamplerQuality = 2,
    // 0 (default): 8-bit output is the 16-bit sample rounded to the nearest
    // step. 1: triangular dither of one 8-bit step is added before rounding.
    EightBitDither = 3,
    // 0 (default): no ReplayGain. 1: the track gain the stream's tags record
    // is applied, 2: the album gain; either falls back on the other where
    // the tags lack it. The gain is limited so that the tagged peak does not
    // clip, and a converter is used whenever a gain applies.
    ReplayGain = 4,
    // Added to the ReplayGain: a signed 16-bit number of tenths of a decibel
    // (0 by default). Only with ReplayGain on.
    ReplayGainPreamp = 5,
    // 0 (default): 4-byte samples are signed 32-bit integers. 1: they are
    // 32-bit IEEE floats with 16-bit full scale at +-1.0, never clipped.
    // Applies only when the format record asks for 4 bytes per sample.
    FloatSamples = 6,
};

constexpr std::int32_t sourceOption(SourceOption option, std::uint16_t setting) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(option) << 16U | setting);
}

constexpr SourceOption sourceOptionOf(std::int32_t value) {
    return static_cast<SourceOption>(static_cast<std::uint32_t>(value) >> 16U);
}

constexpr std::uint16_t sourceOptionSetting(std::int32_t value) {
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFFU);
}

// Facts about a stream as it is stored, held by getMetaData() of an open
// audio source: named values as text, an empty string for a name the source
// does not know. An MPEG audio source knows "layer" (1 to 3), "version" (10
// MPEG-1, 20 MPEG-2, 25 MPEG-2.5), "mode" (0 stereo, 1 joint stereo, 2 dual
// channel, 3 single channel), "bit_rate" (bit/s), "vbr" (1 or 0),
// "frames", and "encoder_delay" and "encoder_padding" (samples) when the
// stream's encoder tag records them. The tags give "title", "artist",
// "album", "album_artist", "track", "disc", "date", "genre", "comment",
// "composer", "replaygain_track_gain", "replaygain_track_peak",
// "replaygain_album_gain", "replaygain_album_peak" and "picture" as UTF-8
// text (see Quor_GetTag), and "tags" tells why there are none when they
// could not be read.
class IMetaData : public virtual zelm::IBase {
public:
    virtual zelm::String getValue(const zelm::String& name) = 0;
};

// Slots in declaration order, 0 to 11.
class ISource : public virtual zelm::IBase {
public:
    virtual bool isOpen() = 0;
    // Opens the file and reads its stream information (which can take a pass
    // over the file); nothing on an open source. Throws on failure.
    virtual void open() = 0;
    // Closes the file; nothing on a closed source. The duration and the end
    // flag keep their values.
    virtual void close() = 0;
    // Moves an open source to a time in seconds from the start: the next
    // chunk starts at that time, to the sample. Leaves the end of the stream
    // behind. Throws on failure, or when the source is not open.
    virtual void seek(double seconds) = 0;
    // Length in seconds; -1.0 while unknown (before open, or for a stream
    // whose length cannot be known).
    virtual double getDuration() = 0;
    // The source's claim on its file among several plug-ins' sources: 100.
    virtual int getPriority() = 0;
    // True once decode has met the end of the stream; open and seek clear it.
    virtual bool isEndOfStream() = 0;
    // A time the host keeps on the source; the source never changes it.
    virtual void setHostTime(double seconds) = 0;
    virtual double getHostTime() = 0;
    virtual zelm::P<zelm::IURI> getURI() = 0;
    // Whether seek works: true for a file; false for a pipe, FIFO or device,
    // which is decoded as its bytes arrive and whose duration is known only
    // from a Xing header.
    virtual bool isSeekable() = 0;
    // The name of the plug-in that made the source.
    virtual zelm::String getPluginName() = 0;
};

// Every chunk is PCM interleaved by channel at getSampleRate(), with
// getChannels() channels and getBytesPerSample() bytes per sample (signed
// 16-bit in native byte order, or unsigned 8-bit). Slots in declaration
// order, 0 to 6, after those of ISource.
class IAudioSource : public virtual ISource {
public:
    // An IMetaData while the source is open, else an empty holder.
    virtual zelm::P<zelm::IBase> getMetaData() = 0;
    // One option made by sourceOption(); see SourceOption.
    virtual void setOption(std::int32_t value) = 0;
    // The next chunk of an open source: the decoded audio of at most one MPEG
    // frame, converted to the source's format, stamped with the time of its
    // first sample. An empty holder at the end of the stream, and again on
    // every later call. Throws on failure, or when the source is not open.
    virtual zelm::P<IAudioChunk> decode() = 0;
    // The format of the chunks: what the host asked for, or the file's own
    // value where it asked for 0 (known once the source is open).
    virtual int getSampleRate() = 0;
    virtual int getChannels() = 0;
    virtual int getBytesPerSample() = 0;
    // 4 for mono, 3 for stereo, 0 for other channel counts.
    virtual int getChannelLayout() = 0;
};

} // namespace tesk::audio
