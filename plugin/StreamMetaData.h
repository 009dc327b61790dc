// The metadata of an open MPEG audio source: the stream information and
// coding the decoder reports and the file's tags (the keys of
// Quor_GetTagKey), as named text values. "tags" says why there are none when
// they could not be read.
#pragma once

#include <map>
#include <string>

#include <quor/quor.h>
#include <tesk/AudioSource.h>

namespace tesk::quor {

class CStreamMetaData : public zelm::CObject, public virtual audio::IMetaData {
public:
    CStreamMetaData(const QuorFileInfo& info, const QuorStreamFormat& format, QuorHandle decoder);

    zelm::String getValue(const zelm::String& name) override;

private:
    void readTags(QuorHandle decoder);

    std::map<std::string, std::string> m_values;
};

} // namespace tesk::quor
