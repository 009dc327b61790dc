#include "plugin/PluginExtensions.h"

#include <zelm/Exception.h>

#include <gtest/gtest.h>

namespace tesk::quor {
namespace {

using zelm::P;
using zelm::String;

std::vector<std::string> extensionsOf(const CPluginExtensions& list) {
    std::vector<std::string> result;
    for (int i = 0; i < list.getCount(); ++i) {
        result.push_back(list.getExtension(i).toStdString());
    }
    return result;
}

TEST(PluginExtensionList, AddsEachExtensionOnceInLowerCase) {
    const P<CPluginExtensions> list(new CPluginExtensions());
    EXPECT_TRUE(list->add(String(L"mp3")));
    EXPECT_FALSE(list->add(String(L"mp3")));
    EXPECT_FALSE(list->add(String("MP3")));
    EXPECT_TRUE(list->add(String("MP2")));
    EXPECT_TRUE(list->add(String(L"\u00c4U")));
    EXPECT_EQ(extensionsOf(*list), (std::vector<std::string>{"mp3", "mp2", "\u00e4u"}));
    // Stored as wide-character strings, whatever the text given.
    EXPECT_EQ(list->getExtension(1).getObject()->getEncodingId(),
              String(L"").getObject()->getEncodingId());
}

TEST(PluginExtensionList, HostileCountThrowsWithoutGrowingTheList) {
    for (const std::int32_t count : {-3, 2, 0x7fffffff}) {
        zelm::CMemorySerialStream stream;
        stream.writeInt32(count);
        stream.writeString(String("mp3"));
        const P<CPluginExtensions> list(new CPluginExtensions());
        EXPECT_THROW(list->deserialize(stream), zelm::CException) << count;
        EXPECT_LE(list->getCount(), 1) << count;
    }
}

} // namespace
} // namespace tesk::quor
