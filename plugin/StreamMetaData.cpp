#include "StreamMetaData.h"

namespace tesk::quor {

namespace {

// The text of a value the decoder reports as -1 when unknown.
std::string known(std::int32_t value) {
    return value < 0 ? std::string() : std::to_string(value);
}

} // namespace

CStreamMetaData::CStreamMetaData(const QuorFileInfo& info, const QuorStreamFormat& format)
    : m_values{{"layer", std::to_string(format.layer)},
               {"version", std::to_string(format.version)},
               {"mode", std::to_string(format.mode)},
               {"bit_rate", known(info.bitRate)},
               {"vbr", std::to_string(info.isVBR)},
               {"frames", known(format.frames)},
               {"encoder_delay", known(info.encoderDelay)},
               {"encoder_padding", known(info.encoderPadding)}} {}

zelm::String CStreamMetaData::getValue(const zelm::String& name) {
    const auto found = m_values.find(name.toStdString());
    return found == m_values.end() ? zelm::String() : zelm::String::fromUTF8(found->second);
}

} // namespace tesk::quor
