#include "QuorSource.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>

#include <tesk/AudioChunk.h>
#include <zelm/Pathes.h>
#include <zelm/StringFormat.h>

#include "StreamMetaData.h"
#include "TESKError.h"

namespace tesk::quor {

using zelm::P;
using zelm::String;

namespace {

constexpr int kLogLevel = 2;
// The most bytes of the host's format record that are read.
constexpr int kFormatRecordBytes = 32;
constexpr int kMaxChannels = samplerateconverter::CSampleRateConverter::kMaxChannels;

std::int32_t readWord(const std::array<std::uint8_t, kFormatRecordBytes>& record, int offset) {
    std::int32_t value = 0;
    std::memcpy(&value, record.data() + offset, sizeof value);
    return value;
}

// The wanted format of a host's record: the first size bytes of it, at most
// 32, each field beyond them read as 0. Nothing when the format cannot be
// produced.
std::optional<WantedFormat> readWantedFormat(const SourceFormat* format) {
    std::array<std::uint8_t, kFormatRecordBytes> record{};
    if (format != nullptr) {
        std::int32_t size = 0;
        std::memcpy(&size, format, sizeof size);
        const int copied = std::clamp(size, 0, kFormatRecordBytes);
        std::memcpy(record.data(), format, static_cast<std::size_t>(copied));
    }
    const WantedFormat wanted{readWord(record, 8), readWord(record, 12), readWord(record, 16)};
    const bool possible = wanted.sampleRate >= 0 && wanted.channels >= 0 &&
                          wanted.channels <= kMaxChannels && wanted.bytesPerSample >= 0 &&
                          wanted.bytesPerSample <= 4;
    return possible ? std::optional(wanted) : std::nullopt;
}

// The wanted value, or the file's own where 0 was asked for.
std::int32_t orFileValue(std::int32_t wanted, std::int32_t file) {
    return wanted != 0 ? wanted : file;
}

// The decoder's sample format for samples of bytesPerSample bytes: 16-bit
// for 8 and 16-bit output, else the output's own, which a converter takes
// as float.
std::int32_t decoderSamples(std::int32_t bytesPerSample, bool floatSamples, bool converting) {
    if (bytesPerSample <= 2) {
        return QUOR_SAMPLES_INT16;
    }
    if (converting || floatSamples) {
        return QUOR_SAMPLES_FLOAT;
    }
    return bytesPerSample == 3 ? QUOR_SAMPLES_INT24 : QUOR_SAMPLES_INT32;
}

// Seconds as whole milliseconds, truncated toward zero. Times beyond what 32
// bits hold become the nearest such time; a time that is not a number
// becomes -1, which the decoder refuses.
std::int32_t toMilliseconds(double seconds) {
    const double ms = std::trunc(seconds * 1000.0);
    if (std::isnan(ms)) {
        return -1;
    }
    return static_cast<std::int32_t>(std::clamp(ms, double{INT32_MIN}, double{INT32_MAX}));
}

// One chunk of the samples of two in a row, stamped with the first one's
// time; either may be empty.
P<audio::IAudioChunk> joinedChunks(const P<audio::IAudioChunk>& first,
                                   const P<audio::IAudioChunk>& second,
                                   zelm::IMemoryManager& memory) {
    if (!first || first->getSize() == 0) {
        return second;
    }
    if (!second || second->getSize() == 0) {
        return first;
    }
    const P<zelm::IMemoryBlock> block = memory.allocate(first->getSize() + second->getSize());
    std::memcpy(block->getData(), first->getData(), static_cast<std::size_t>(first->getSize()));
    std::memcpy(block->getData() + first->getSize(), second->getData(),
                static_cast<std::size_t>(second->getSize()));
    return P<audio::IAudioChunk>(new audio::CAudioChunk(first->getTime(), block.get()));
}

} // namespace

CQuorSource::CQuorSource(const P<common::IPluginHost>& host, const String& pluginName,
                         const String& uri, const WantedFormat& format)
    : m_uri(new zelm::CURI(uri)), m_host(host), m_wanted(format), m_outRate(format.sampleRate),
      m_outChannels(format.channels),
      m_outBytesPerSample(format.bytesPerSample == 0 ? 2 : format.bytesPerSample),
      m_pluginName(pluginName), m_lock(zelm::getMutexFactory()->createMutex()) {}

CQuorSource::~CQuorSource() {
    Quor_Destroy(m_decoder);
}

bool CQuorSource::isOpen() {
    const zelm::CMutexLock lock(*m_lock);
    return m_isOpen;
}

void CQuorSource::open() {
    const zelm::CMutexLock lock(*m_lock);
    if (m_isOpen) {
        return;
    }
    log("CQuorSource: trying to open %s");
    // The name's bytes as they are: a file name need not be UTF-8.
    const std::string path = zelm::getPathes()->getFileSystemPath(m_uri, 0).toUTF8Bytes();
    std::error_code ignored;
    m_seekable = std::filesystem::is_regular_file(std::filesystem::path(path), ignored);
    const int created = Quor_CreateUsingFile(&m_decoder, path.c_str(), QUOR_VERSION);
    if (created != QUOR_OK) {
        m_decoder = nullptr;
        raiseError(String("Quor_CreateUsingFile failed"), created);
    }
    try {
        readFileInfo();
        m_outRate = orFileValue(m_wanted.sampleRate, m_fileRate);
        m_outChannels = orFileValue(m_wanted.channels, m_fileChannels);
        const float gain = replayGainFactor();
        const bool converting = needsConverter() || gain != 1.0f;
        const std::int32_t samples =
            decoderSamples(m_outBytesPerSample, m_options.floatSamples, converting);
        const int result = Quor_SetOption(m_decoder, QUOR_OPTION_SAMPLE_FORMAT, samples);
        if (result != QUOR_OK) {
            raiseError(String("Quor_SetOption failed"), result);
        }
        m_fileBytesPerSample = samples == QUOR_SAMPLES_INT16   ? 2
                               : samples == QUOR_SAMPLES_INT24 ? 3
                                                               : 4;
        m_conversion = {m_options.highQualityResampler, m_options.eightBitDither,
                        samples == QUOR_SAMPLES_FLOAT,
                        m_outBytesPerSample == 4 && m_options.floatSamples, gain};
        if (converting) {
            makeConverter(0.0, false);
        }
    } catch (const CTESKError&) {
        throw;
    } catch (...) {
        // An allocation failure or a format the converter refuses: the
        // decoder is not kept by a source that did not open.
        Quor_Destroy(std::exchange(m_decoder, nullptr));
        m_fileRate = 0;
        m_fileChannels = 0;
        m_fileBytesPerSample = 0;
        throw;
    }
    log("CQuorSource: %s opened");
    m_isOpen = true;
}

void CQuorSource::readFileInfo() {
    QuorFileInfo info{};
    QuorStreamFormat format{};
    const char* context = "Quor_SetOption failed";
    int result = Quor_SetOption(m_decoder, QUOR_OPTION_GAPLESS, m_options.gapless ? 1 : 0);
    if (result == QUOR_OK) {
        context = "Quor_GetFileInfo failed";
        result = Quor_GetFileInfo(m_decoder, &info);
    }
    if (result == QUOR_OK) {
        context = "Quor_GetStreamFormat failed";
        result = Quor_GetStreamFormat(m_decoder, &format);
    }
    if (result != QUOR_OK) {
        Quor_Destroy(m_decoder);
        m_decoder = nullptr;
        raiseError(String(context), result);
    }
    m_metaData = P<zelm::IBase>(new CStreamMetaData(info, format, m_decoder));
    m_duration = info.durationMs > -1 ? info.durationMs / 1000.0 : -1.0;
    m_endOfStream = false;
    m_fileChannels = info.channels;
    m_fileRate = info.sampleRate;
    m_openingRate = info.sampleRate;
    m_fileBytesPerSample = 2;
    m_partSeconds = 0.0;
    m_partPosition = 0;
}

float CQuorSource::replayGainFactor() {
    const P<audio::IMetaData> tags = P<audio::IMetaData>::dynamicCast(m_metaData);
    const ReplayGain gain =
        chooseReplayGain(m_options.replayGain, m_options.preampDb, [&](const char* key) {
            return tags->getValue(String(key)).toStdString();
        });
    if (!gain.description.empty()) {
        log(("CQuorSource: %s: ReplayGain " + gain.description).c_str());
    }
    return gain.factor;
}

// Samples of 2 to 4 bytes come from the decoder in the output format; only
// 8-bit ones need the converter at the file's rate and channel count.
bool CQuorSource::needsConverter() const {
    return m_fileChannels != m_outChannels || m_fileRate != m_outRate || m_outBytesPerSample == 1;
}

void CQuorSource::makeConverter(double startSeconds, bool setStart) {
    m_converter =
        P<samplerateconverter::CSampleRateConverter>(new samplerateconverter::CSampleRateConverter(
            m_fileRate, m_fileChannels, m_fileBytesPerSample, m_outRate, m_outChannels,
            m_outBytesPerSample, m_host->getMemoryManager(), false, m_conversion));
    if (setStart) {
        m_converter->setStartTime(startSeconds);
    }
}

void CQuorSource::close() {
    const zelm::CMutexLock lock(*m_lock);
    if (!m_isOpen) {
        return;
    }
    m_converter.reset();
    Quor_Destroy(m_decoder);
    m_decoder = nullptr;
    m_fileChannels = 0;
    m_fileRate = 0;
    m_fileBytesPerSample = 0;
    log("CQuorSource: %s closed");
    m_isOpen = false;
}

// The decoder lands on the sample of the time asked for; the chunks after a
// seek are stamped from that sample's time on, at the rate of the part the
// first of them comes from.
void CQuorSource::seek(double seconds) {
    const std::int32_t ms = toMilliseconds(seconds);
    const int result = Quor_SeekToTime(m_decoder, ms);
    if (result != QUOR_OK) {
        raiseError(String("Quor_SeekToTime"), result);
    }
    // A seek leaves the end behind: a host may play the stream again.
    m_endOfStream = false;
    m_partPosition = decoderPosition();
    m_partSeconds = landingSeconds(ms, m_partPosition);
    if (m_converter) {
        makeConverter(m_partSeconds, true);
    }
}

double CQuorSource::landingSeconds(std::int32_t ms, std::int64_t position) const {
    const std::int64_t opening = (std::int64_t{ms} * m_openingRate + 500) / 1000;
    return position == opening ? static_cast<double>(position) / m_openingRate : ms / 1000.0;
}

std::int64_t CQuorSource::decoderPosition() {
    std::int64_t samples = 0;
    const int result = Quor_GetPosition(m_decoder, &samples);
    if (result != QUOR_OK) {
        raiseError(String("Quor_GetPosition"), result);
    }
    return samples;
}

double CQuorSource::timeOf(std::int64_t position) const {
    return m_partSeconds + static_cast<double>(position - m_partPosition) / m_fileRate;
}

void CQuorSource::followRate(std::int64_t first) {
    std::int32_t rate = m_fileRate;
    if (Quor_GetDeliveredRate(m_decoder, &rate) != QUOR_OK || rate == m_fileRate) {
        return;
    }
    m_partSeconds = timeOf(first);
    m_partPosition = first;
    m_fileRate = rate;
    m_partTail = m_converter ? m_converter->flush() : P<audio::IAudioChunk>();
    makeConverter(m_partSeconds, true);
    zelm::CStringFormat line("CQuorSource: %s: the sample rate changes to %d Hz at %f s");
    line.doString(m_uri->toString());
    line.doInt(rate, true);
    line.doDouble(m_partSeconds);
    m_host->getLog()->log(kLogLevel, line.toString());
}

// A chunk is stamped with the time of its first sample. Only the end gives
// no chunk: a block that the converter's filter takes in whole (the tail of
// a frame after a seek or a trim) is followed by the next until samples come
// out. At the end of the stream the converter hands out what its filter
// still holds.
P<audio::IAudioChunk> CQuorSource::decode() {
    P<audio::IAudioChunk> chunk;
    while (!m_endOfStream && (!chunk || chunk->getSize() == 0)) {
        chunk = decodeBlock();
    }
    return chunk && chunk->getSize() > 0 ? chunk : P<audio::IAudioChunk>();
}

// The chunk of one decoded block, which may be empty. The block is not
// cleared first: its size is cut to the bytes the decoder wrote.
P<audio::IAudioChunk> CQuorSource::decodeBlock() {
    const P<zelm::IMemoryBlock> block = m_host->getMemoryManager()->allocate(kBlockSize);
    std::int32_t bytes = 0;
    const int result = Quor_Decode(m_decoder, block->getData(), block->getSize(), &bytes);
    if (result == QUOR_ERROR_NOAUDIO) {
        raiseError(String("Quor_Decode: no audio found"), result);
    }
    if (result != QUOR_OK && result != QUOR_END) {
        raiseError(String("Quor_Decode"), result);
    }
    block->setSize(bytes);
    if (result == QUOR_END) {
        m_endOfStream = true;
        return m_converter ? m_converter->flush() : P<audio::IAudioChunk>();
    }
    if (bytes == 0) {
        return {};
    }
    const std::int64_t first = decoderPosition() - bytes / (m_fileBytesPerSample * m_fileChannels);
    followRate(first);
    if (m_converter) {
        return joinedChunks(std::exchange(m_partTail, {}),
                            m_converter->convert(block->getData(), block->getSize(), -1),
                            *m_host->getMemoryManager());
    }
    return P<audio::IAudioChunk>(new audio::CAudioChunk(timeOf(first), block.get()));
}

void CQuorSource::raiseError(const String& context, int code) {
    zelm::CStringFormat line("CQuorSource: QUOR ERROR '%d' (%s)");
    line.doInt(code, true);
    line.doString(context);
    m_host->getLog()->log(kLogLevel, line.toString());
    close();
    zelm::CStringFormat message("Message: %s\nErrorcode: %s (%d) file: %s");
    message.doString(context);
    message.doString(String(getQuorCodeName(code)));
    message.doInt(code, true);
    message.doString(m_uri->toString());
    throw CTESKError(message.toString());
}

void CQuorSource::log(const char* format) {
    zelm::CStringFormat line{String(format)};
    line.doString(m_uri->toString());
    m_host->getLog()->log(kLogLevel, line.toString());
}

double CQuorSource::getDuration() {
    return m_duration;
}

int CQuorSource::getPriority() {
    return 100;
}

bool CQuorSource::isEndOfStream() {
    return m_endOfStream;
}

void CQuorSource::setHostTime(double seconds) {
    m_hostTime = seconds;
}

double CQuorSource::getHostTime() {
    return m_hostTime;
}

P<zelm::IURI> CQuorSource::getURI() {
    return m_uri;
}

bool CQuorSource::isSeekable() {
    return m_seekable;
}

String CQuorSource::getPluginName() {
    return m_pluginName;
}

P<zelm::IBase> CQuorSource::getMetaData() {
    const zelm::CMutexLock lock(*m_lock);
    return m_isOpen ? m_metaData : P<zelm::IBase>();
}

void CQuorSource::setOption(std::int32_t value) {
    const zelm::CMutexLock lock(*m_lock);
    const bool on = audio::sourceOptionSetting(value) != 0;
    switch (audio::sourceOptionOf(value)) {
    case audio::SourceOption::Gapless:
        m_options.gapless = on;
        break;
    case audio::SourceOption::ResamplerQuality:
        m_options.highQualityResampler = on;
        break;
    case audio::SourceOption::EightBitDither:
        m_options.eightBitDither = on;
        break;
    case audio::SourceOption::ReplayGain:
        m_options.replayGain =
            static_cast<ReplayGainMode>(std::min<int>(audio::sourceOptionSetting(value), 2));
        break;
    case audio::SourceOption::ReplayGainPreamp:
        m_options.preampDb = static_cast<std::int16_t>(audio::sourceOptionSetting(value)) / 10.0;
        break;
    case audio::SourceOption::FloatSamples:
        m_options.floatSamples = on;
        break;
    }
}

int CQuorSource::getSampleRate() {
    return m_outRate;
}

int CQuorSource::getChannels() {
    return m_outChannels;
}

int CQuorSource::getBytesPerSample() {
    return m_outBytesPerSample;
}

int CQuorSource::getChannelLayout() {
    switch (getChannels()) {
    case 1:
        return 4;
    case 2:
        return 3;
    default:
        return 0;
    }
}

P<audio::ISource> createQuorSource(const P<common::IPluginHost>& host, const String& pluginName,
                                   const zelm::IString& uri, int flags,
                                   const SourceFormat* format) {
    if ((flags & common::kAudioFlag) == 0) {
        return {};
    }
    try {
        const std::optional<WantedFormat> wanted = readWantedFormat(format);
        if (!wanted || !host) {
            return {};
        }
        return P<audio::ISource>(new CQuorSource(
            host, pluginName, String(P<zelm::IString>::share(const_cast<zelm::IString*>(&uri))),
            *wanted));
    } catch (...) {
        return {};
    }
}

} // namespace tesk::quor
