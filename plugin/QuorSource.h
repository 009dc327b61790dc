// The MPEG audio source: opens one file through the Quor decoder, hands out
// its PCM in time-stamped chunks, converted to the format the host asked for
// where that differs from the file's, and seeks.
#pragma once

#include <cstdint>

#include <quor/quor.h>
#include <tesk/AudioSource.h>
#include <tesk/Plugin.h>
#include <tesk/PluginHost.h>
#include <zelm/Mutex.h>
#include <zelm/URI.h>

#include "ReplayGain.h"
#include "resampling/sample_rate_converter.h"

namespace tesk::quor {

// The output format a source delivers. A value of 0 stands for the file's own
// rate or channel count; a sample size of 0 for 16-bit samples.
struct WantedFormat {
    std::int32_t sampleRate = 0;
    std::int32_t channels = 0;
    std::int32_t bytesPerSample = 0;
};

// The options a host has set; see audio::SourceOption.
struct SourceOptions {
    bool gapless = false;
    bool highQualityResampler = false;
    bool eightBitDither = false;
    ReplayGainMode replayGain = ReplayGainMode::kOff;
    double preampDb = 0.0;
    bool floatSamples = false;
};

class CQuorSource : public zelm::CObject, public virtual audio::IAudioSource {
public:
    // The bytes of the block that each decode asks the host for.
    static constexpr int kBlockSize = 16384;

    // Parses the uri text; throws what the URI parser throws.
    CQuorSource(const zelm::P<common::IPluginHost>& host, const zelm::String& pluginName,
                const zelm::String& uri, const WantedFormat& format);
    ~CQuorSource() override;
    CQuorSource(const CQuorSource&) = delete;
    CQuorSource& operator=(const CQuorSource&) = delete;

    bool isOpen() override;
    void open() override;
    void close() override;
    void seek(double seconds) override;
    double getDuration() override;
    int getPriority() override;
    bool isEndOfStream() override;
    void setHostTime(double seconds) override;
    double getHostTime() override;
    zelm::P<zelm::IURI> getURI() override;
    bool isSeekable() override;
    zelm::String getPluginName() override;

    zelm::P<zelm::IBase> getMetaData() override;
    void setOption(std::int32_t value) override;
    zelm::P<audio::IAudioChunk> decode() override;
    int getSampleRate() override;
    int getChannels() override;
    int getBytesPerSample() override;
    int getChannelLayout() override;

private:
    [[noreturn]] void raiseError(const zelm::String& context, int code);
    void log(const char* format);
    void readFileInfo();
    // The ReplayGain factor of the options and the tags, logged.
    float replayGainFactor();
    bool needsConverter() const;
    zelm::P<audio::IAudioChunk> decodeBlock();
    void makeConverter(double startSeconds, bool setStart);
    // The decoder's position: the next sample it delivers.
    std::int64_t decoderPosition();
    // The time of the decoder's sample `position`, counted at the rate of
    // the part of the stream it lies in.
    double timeOf(std::int64_t position) const;
    // The time of the sample `position` a seek to ms landed on: in the
    // opening part sample round(ms x rate / 1000), whose time is exact; in
    // a later part of a joined stream the sample nearest to ms, taken to
    // lie at ms (half a sample off at most).
    double landingSeconds(std::int32_t ms, std::int64_t position) const;
    // A part of another sample rate follows from sample `first` on: the
    // converter takes it to the format the source opened with, after the
    // converter of the part before hands out what it still holds.
    void followRate(std::int64_t first);

    zelm::P<zelm::IURI> m_uri;
    zelm::P<common::IPluginHost> m_host;
    WantedFormat m_wanted;
    SourceOptions m_options;
    // What the converter does, as the options stood at open.
    samplerateconverter::ConversionOptions m_conversion;
    std::int32_t m_outRate = 0;
    std::int32_t m_outChannels = 0;
    std::int32_t m_outBytesPerSample = 0;
    std::int32_t m_fileRate = 0;
    // The rate of the stream's first frame.
    std::int32_t m_openingRate = 0;
    std::int32_t m_fileChannels = 0;
    std::int32_t m_fileBytesPerSample = 0;
    // Where the part of the stream at m_fileRate begins, in seconds and in
    // decoder samples.
    double m_partSeconds = 0.0;
    std::int64_t m_partPosition = 0;
    zelm::String m_pluginName;
    zelm::P<samplerateconverter::CSampleRateConverter> m_converter;
    // The end of the part before a change of rate, which the first chunk of
    // the new part carries in front of its own samples.
    zelm::P<audio::IAudioChunk> m_partTail;
    zelm::P<zelm::IBase> m_metaData;
    double m_duration = -1.0;
    double m_hostTime = 0.0;
    bool m_endOfStream = false;
    // A regular file; a pipe, FIFO or device is decoded as its bytes arrive
    // and cannot seek.
    bool m_seekable = false;
    QuorHandle m_decoder = nullptr;
    bool m_isOpen = false;
    zelm::P<zelm::IMutex> m_lock;
};

// Makes a source for createSource of the plug-in: an empty holder when flag
// bit 1 is clear, when the format record asks for a format that cannot be
// produced, or when anything throws. format may be null.
zelm::P<audio::ISource> createQuorSource(const zelm::P<common::IPluginHost>& host,
                                         const zelm::String& pluginName, const zelm::IString& uri,
                                         int flags, const SourceFormat* format);

} // namespace tesk::quor
