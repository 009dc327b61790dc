// Sources: what a plug-in opens for one file, and the audio source that
// decodes it into chunks.
#pragma once

#include <tesk/AudioChunk.h>
#include <zelm/Object.h>
#include <zelm/String.h>
#include <zelm/URI.h>

#include <cstdint>

namespace tesk::audio {

class ISource : public virtual zelm::IBase {
public:
    virtual bool isOpen() = 0;
    virtual void open() = 0;
    virtual void close() = 0;
    virtual void seek(double seconds) = 0;
    // Length in seconds; -1.0 while unknown.
    virtual double getDuration() = 0;
    virtual int getPriority() = 0;
    virtual bool isEndOfStream() = 0;
    // A time the host keeps on the source; the source never changes it.
    virtual void setHostTime(double seconds) = 0;
    virtual double getHostTime() = 0;
    virtual zelm::P<zelm::IURI> getURI() = 0;
    virtual bool isSeekable() = 0;
    virtual zelm::String getPluginName() = 0;
};

// Every chunk is PCM interleaved by channel at getSampleRate(), with
// getChannels() channels and getBytesPerSample() bytes per sample.
class IAudioSource : public virtual ISource {
public:
    virtual zelm::P<zelm::IBase> getMetaData() = 0;
    virtual void setOption(std::int32_t value) = 0;
    // The next chunk; an empty holder at the end of the stream.
    virtual zelm::P<IAudioChunk> decode() = 0;
    virtual int getSampleRate() = 0;
    virtual int getChannels() = 0;
    virtual int getBytesPerSample() = 0;
    // 4 for mono, 3 for stereo, 0 for other channel counts.
    virtual int getChannelLayout() = 0;
};

} // namespace tesk::audio
