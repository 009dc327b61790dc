// The compressed character database streams (generated/unicode_tables.cpp)
// and the tables built from them.
#pragma once

#include <zelm/CharEncoding.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zelm::unicode_data {

extern const int kCategoryPageCount;
extern const int kCaseDeltaPageCount;
extern const std::uint8_t kCategoryPageMapStream[];
extern const std::size_t kCategoryPageMapStreamSize;
extern const std::uint8_t kCategoryPagesStream[];
extern const std::size_t kCategoryPagesStreamSize;
extern const std::uint8_t kLowerCasePageMapStream[];
extern const std::size_t kLowerCasePageMapStreamSize;
extern const std::uint8_t kUpperCasePageMapStream[];
extern const std::size_t kUpperCasePageMapStreamSize;
extern const std::uint8_t kTitleCasePageMapStream[];
extern const std::size_t kTitleCasePageMapStreamSize;
extern const std::uint8_t kCaseDeltaPagesStream[];
extern const std::size_t kCaseDeltaPagesStreamSize;

// Code points from this one on have no category and map to themselves.
inline constexpr CharCode kLimit = 0x2FA1E;
inline constexpr int kCategoryPageSize = 128;
inline constexpr int kCasePageSize = 512;

// Expands a run-length compressed stream of values of width 1 or 2 bytes
// into exactly count values. False when the stream ends early or holds more.
bool expandStream(std::span<const std::uint8_t> stream, int width, std::size_t count,
                  std::vector<std::int32_t>& values);

// The streams of the character database.
struct Streams {
    std::span<const std::uint8_t> categoryPageMap;
    std::span<const std::uint8_t> categoryPages;
    std::span<const std::uint8_t> casePageMaps[3];
    std::span<const std::uint8_t> caseDeltaPages;
    int categoryPageCount;
    int caseDeltaPageCount;
};

Streams compiledStreams();

enum CaseTable { kLowerCase = 0, kUpperCase = 1, kTitleCase = 2 };

// Categories and case mappings expanded from the streams. An unbuilt table
// gives category 0 and maps every character to itself.
class CharacterTables {
public:
    // Builds from the streams; the tables stay unbuilt when any stream is
    // malformed.
    explicit CharacterTables(const Streams& streams);

    bool isBuilt() const noexcept { return m_built; }
    std::uint8_t category(CharCode ch) const noexcept;
    CharCode map(CaseTable table, CharCode ch) const noexcept;

private:
    bool build(const Streams& streams);

    bool m_built = false;
    std::vector<std::uint8_t> m_categoryPageMap;
    std::vector<std::uint8_t> m_categoryPages;
    std::vector<std::uint8_t> m_casePageMaps[3];
    std::vector<std::int16_t> m_caseDeltaPages;
};

// The tables built at library load.
const CharacterTables& loadedTables();

} // namespace zelm::unicode_data
