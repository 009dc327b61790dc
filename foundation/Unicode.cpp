#include <zelm/Unicode.h>

#include "UnicodeTables.h"

namespace zelm::unicode_data {
namespace {

// Appends count copies of value; false when that passes the expected total.
bool appendRun(std::vector<std::int32_t>& values, std::size_t run, std::int32_t value,
               std::size_t total) {
    if (values.size() + run > total) {
        return false;
    }
    values.insert(values.end(), run, value);
    return true;
}

std::int32_t readValue(std::span<const std::uint8_t> stream, std::size_t at, int width) {
    if (width == 1) {
        return stream[at];
    }
    return static_cast<std::int16_t>(
        static_cast<std::uint16_t>((stream[at] << 8) | stream[at + 1]));
}

template <class T> std::vector<T> narrow(const std::vector<std::int32_t>& values) {
    return std::vector<T>(values.begin(), values.end());
}

// The tables built before any global object exists.
const CharacterTables g_loadedTables(compiledStreams());

} // namespace

bool expandStream(std::span<const std::uint8_t> stream, int width, std::size_t count,
                  std::vector<std::int32_t>& values) {
    values.clear();
    values.reserve(count);
    std::size_t at = 0;
    while (at < stream.size()) {
        const std::uint8_t lead = stream[at++];
        std::size_t run = 1;
        if (lead < 0x80 && width == 1) {
            if (!appendRun(values, 1, lead, count)) {
                return false;
            }
            continue;
        }
        if (lead >= 0xC0) {
            run = (lead & 63u) + 1;
        } else if (lead >= 0x80 && at < stream.size()) {
            run = (lead & 63u) * 256 + stream[at++] + 65;
        } else {
            return false;
        }
        if (at + static_cast<std::size_t>(width) > stream.size() ||
            !appendRun(values, run, readValue(stream, at, width), count)) {
            return false;
        }
        at += static_cast<std::size_t>(width);
    }
    return values.size() == count;
}

Streams compiledStreams() {
    return Streams{
        {kCategoryPageMapStream, kCategoryPageMapStreamSize},
        {kCategoryPagesStream, kCategoryPagesStreamSize},
        {{kLowerCasePageMapStream, kLowerCasePageMapStreamSize},
         {kUpperCasePageMapStream, kUpperCasePageMapStreamSize},
         {kTitleCasePageMapStream, kTitleCasePageMapStreamSize}},
        {kCaseDeltaPagesStream, kCaseDeltaPagesStreamSize},
        kCategoryPageCount,
        kCaseDeltaPageCount,
    };
}

CharacterTables::CharacterTables(const Streams& streams) {
    m_built = build(streams);
    if (!m_built) {
        m_categoryPageMap.clear();
        m_categoryPages.clear();
        for (auto& map : m_casePageMaps) {
            map.clear();
        }
        m_caseDeltaPages.clear();
    }
}

bool CharacterTables::build(const Streams& streams) {
    constexpr std::size_t categoryPages = (kLimit + kCategoryPageSize - 1) / kCategoryPageSize;
    constexpr std::size_t casePages = (kLimit + kCasePageSize - 1) / kCasePageSize;
    if (streams.categoryPageCount <= 0 || streams.caseDeltaPageCount <= 0) {
        return false;
    }
    std::vector<std::int32_t> values;
    if (!expandStream(streams.categoryPageMap, 1, categoryPages, values)) {
        return false;
    }
    m_categoryPageMap = narrow<std::uint8_t>(values);
    const auto categoryPageCount = static_cast<std::size_t>(streams.categoryPageCount);
    if (!expandStream(streams.categoryPages, 1, categoryPageCount * kCategoryPageSize, values)) {
        return false;
    }
    m_categoryPages = narrow<std::uint8_t>(values);
    for (int table = 0; table < 3; ++table) {
        if (!expandStream(streams.casePageMaps[table], 1, casePages, values)) {
            return false;
        }
        m_casePageMaps[table] = narrow<std::uint8_t>(values);
    }
    const auto deltaPageCount = static_cast<std::size_t>(streams.caseDeltaPageCount);
    if (!expandStream(streams.caseDeltaPages, 2, deltaPageCount * kCasePageSize, values)) {
        return false;
    }
    m_caseDeltaPages = narrow<std::int16_t>(values);
    for (std::uint8_t page : m_categoryPageMap) {
        if (page >= categoryPageCount) {
            return false;
        }
    }
    for (const auto& map : m_casePageMaps) {
        for (std::uint8_t page : map) {
            if (page >= deltaPageCount) {
                return false;
            }
        }
    }
    return true;
}

std::uint8_t CharacterTables::category(CharCode ch) const noexcept {
    if (!m_built || ch < 0 || ch >= kLimit) {
        return 0;
    }
    const std::size_t page = m_categoryPageMap[static_cast<std::size_t>(ch / kCategoryPageSize)];
    return m_categoryPages[page * kCategoryPageSize +
                           static_cast<std::size_t>(ch % kCategoryPageSize)];
}

CharCode CharacterTables::map(CaseTable table, CharCode ch) const noexcept {
    if (!m_built || ch < 0 || ch >= kLimit) {
        return ch;
    }
    const std::size_t page = m_casePageMaps[table][static_cast<std::size_t>(ch / kCasePageSize)];
    return ch +
           m_caseDeltaPages[page * kCasePageSize + static_cast<std::size_t>(ch % kCasePageSize)];
}

const CharacterTables& loadedTables() {
    return g_loadedTables;
}

} // namespace zelm::unicode_data

namespace zelm::unicode {

using unicode_data::loadedTables;

std::uint8_t getCategory(CharCode ch) noexcept {
    return loadedTables().category(ch);
}
CharCode toLower(CharCode ch) noexcept {
    return loadedTables().map(unicode_data::kLowerCase, ch);
}
CharCode toUpper(CharCode ch) noexcept {
    return loadedTables().map(unicode_data::kUpperCase, ch);
}
CharCode toTitle(CharCode ch) noexcept {
    return loadedTables().map(unicode_data::kTitleCase, ch);
}
bool isDatabaseBuilt() noexcept {
    return loadedTables().isBuilt();
}

} // namespace zelm::unicode
