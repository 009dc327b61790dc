// The metadata of an open MPEG audio source: the stream information and
// coding the decoder reports, as named text values.
#pragma once

#include <map>
#include <string>

#include <quor/quor.h>
#include <tesk/AudioSource.h>

namespace tesk::quor {

class CStreamMetaData : public zelm::CObject, public virtual audio::IMetaData {
public:
    CStreamMetaData(const QuorFileInfo& info, const QuorStreamFormat& format);

    zelm::String getValue(const zelm::String& name) override;

private:
    std::map<std::string, std::string> m_values;
};

} // namespace tesk::quor
