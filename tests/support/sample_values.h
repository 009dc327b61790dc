#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace tesk_quor_test {

// Little-endian samples of bytesPerSample bytes (signed integers, or floats
// with isFloat) on the 16-bit scale: 16-bit full scale is 32768.
inline std::vector<double> sampleValues(const std::uint8_t* bytes, std::size_t size,
                                        int bytesPerSample, bool isFloat) {
    std::vector<double> values;
    for (std::size_t at = 0; at + static_cast<std::size_t>(bytesPerSample) <= size;
         at += static_cast<std::size_t>(bytesPerSample)) {
        std::uint32_t bits = 0;
        for (int b = 0; b < bytesPerSample; ++b) {
            bits |= static_cast<std::uint32_t>(bytes[at + static_cast<std::size_t>(b)])
                    << (8 * (4 - bytesPerSample + b));
        }
        float value = 0.0f;
        std::memcpy(&value, &bits, sizeof value);
        // An integer, moved to the top of 32 bits, is 65536 times its value.
        values.push_back(isFloat ? value * 32768.0 : static_cast<std::int32_t>(bits) / 65536.0);
    }
    return values;
}

} // namespace tesk_quor_test
