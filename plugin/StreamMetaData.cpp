#include "StreamMetaData.h"

namespace tesk::quor {

namespace {

// The text of a value the decoder reports as -1 when unknown.
std::string known(std::int32_t value) {
    return value < 0 ? std::string() : std::to_string(value);
}

} // namespace

CStreamMetaData::CStreamMetaData(const QuorFileInfo& info, const QuorStreamFormat& format,
                                 QuorHandle decoder)
    : m_values{{"layer", std::to_string(format.layer)},
               {"version", std::to_string(format.version)},
               {"mode", std::to_string(format.mode)},
               {"bit_rate", known(info.bitRate)},
               {"vbr", std::to_string(info.isVBR)},
               {"frames", known(format.frames)},
               {"encoder_delay", known(info.encoderDelay)},
               {"encoder_padding", known(info.encoderPadding)}} {
    readTags(decoder);
}

void CStreamMetaData::readTags(QuorHandle decoder) {
    if (Quor_GetTagKey(0) == nullptr) {
        m_values["tags"] = "not read (built without TagLib)";
        return;
    }
    for (std::int32_t index = 0; const char* key = Quor_GetTagKey(index); ++index) {
        std::int32_t length = 0;
        const std::int32_t result = Quor_GetTag(decoder, key, nullptr, 0, &length);
        if (result == QUOR_ERROR_UNSUPPORTED && m_values.count("tags") == 0) {
            m_values["tags"] = "not read (the input cannot seek)";
        }
        std::string value(static_cast<std::size_t>(length) + 1, '\0');
        if (result == QUOR_OK &&
            Quor_GetTag(decoder, key, value.data(), length + 1, &length) == QUOR_OK) {
            value.resize(static_cast<std::size_t>(length));
            m_values[key] = value;
        }
    }
}

zelm::String CStreamMetaData::getValue(const zelm::String& name) {
    const auto found = m_values.find(name.toStdString());
    return found == m_values.end() ? zelm::String() : zelm::String::fromUTF8(found->second);
}

} // namespace tesk::quor
