#include "plugin/PluginExtensions.h"

#include <zelm/Exception.h>

#include <algorithm>
#include <string>

namespace tesk::quor {

namespace {

// A serialised string takes at least its 32-bit length.
constexpr int kMinimumStringBytes = 4;

} // namespace

int CPluginExtensions::getCount() const {
    return static_cast<int>(m_extensions.size());
}

zelm::String CPluginExtensions::getExtension(int index) const {
    if (index < 0 || index >= getCount()) {
        throw zelm::CInvalidArgError(
            zelm::String("index '") + zelm::String::fromUTF8(std::to_string(index)) +
                "' outside the " + zelm::String::fromUTF8(std::to_string(getCount())) +
                " extensions",
            "CPluginExtensions::getExtension");
    }
    return m_extensions[static_cast<std::size_t>(index)];
}

bool CPluginExtensions::add(const zelm::String& extension) {
    const zelm::String stored = extension.toLowerCase()->toWCharString();
    const bool held = std::any_of(m_extensions.begin(), m_extensions.end(),
                                  [&](const zelm::String& other) { return other.equals(stored); });
    if (held) {
        return false;
    }
    m_extensions.push_back(stored);
    return true;
}

void CPluginExtensions::serialize(zelm::ISerialStream& stream) const {
    stream.writeInt32(getCount());
    for (const zelm::String& extension : m_extensions) {
        stream.writeString(extension);
    }
}

bool CPluginExtensions::deserialize(zelm::ISerialStream& stream) {
    const std::int32_t count = stream.readCount(kMinimumStringBytes);
    for (std::int32_t i = 0; i < count; ++i) {
        m_extensions.push_back(stream.readString()->toWCharString());
    }
    return true;
}

} // namespace tesk::quor
