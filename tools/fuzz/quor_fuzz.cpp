// libFuzzer target: the decoder library over arbitrary input. The first
// byte chooses the input's abilities, the buffer sizes and a seek, the
// length's parity the trimming; the rest is the stream.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "quor/quor.h"

namespace {

struct Input {
    const std::uint8_t* data;
    std::int32_t size;
    std::int32_t position;
};

std::int32_t Read(void* user, void* buffer, std::int32_t bytes) {
    auto* in = static_cast<Input*>(user);
    const std::int32_t n = std::min(bytes, in->size - in->position);
    std::memcpy(buffer, in->data + in->position, static_cast<std::size_t>(n));
    in->position += n;
    return n;
}

std::int32_t Seek(void* user, std::int32_t position) {
    auto* in = static_cast<Input*>(user);
    if (position < 0 || position > in->size) {
        return 0;
    }
    in->position = position;
    return 1;
}

std::int32_t Length(void* user) {
    return static_cast<Input*>(user)->size;
}

std::int32_t Position(void* user) {
    return static_cast<Input*>(user)->position;
}

// Reads every tag value and the picture, each after asking for its length.
void ReadTags(QuorHandle handle) {
    std::vector<char> value;
    for (std::int32_t index = 0; const char* key = Quor_GetTagKey(index); ++index) {
        std::int32_t length = 0;
        if (Quor_GetTag(handle, key, nullptr, 0, &length) == QUOR_OK) {
            value.resize(static_cast<std::size_t>(length) + 1);
            Quor_GetTag(handle, key, value.data(), length + 1, &length);
        }
    }
    std::int32_t length = 0;
    if (Quor_GetPicture(handle, nullptr, 0, &length) == QUOR_OK) {
        value.resize(static_cast<std::size_t>(length));
        Quor_GetPicture(handle, value.data(), length, &length);
    }
}

constexpr std::int32_t kBufferSizes[] = {4608, 1000, 6, 9216, -1, 0, 4, 2304};
constexpr std::int32_t kLargestBuffer = 9216;
constexpr int kMostCalls = 20000;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (1u << 24)) {
        return 0;
    }
    const std::uint8_t control = data[0];
    Input input{data + 1, static_cast<std::int32_t>(size - 1), 0};
    const QuorCallbacks callbacks{Read, (control & 1) != 0 ? Seek : nullptr,
                                  (control & 2) != 0 ? Length : nullptr, Position};
    QuorHandle handle = nullptr;
    if (Quor_Create(&handle, callbacks, &input, QUOR_VERSION) != QUOR_OK) {
        return 0;
    }
    // An input of odd length decodes with gapless trimming.
    Quor_SetOption(handle, QUOR_OPTION_GAPLESS, static_cast<std::int32_t>(size & 1));
    QuorFileInfo info{};
    Quor_GetFileInfo(handle, &info);
    ReadTags(handle);
    std::vector<std::uint8_t> buffer(kLargestBuffer);
    const std::int32_t seekAt = (control >> 5) * 3;
    const std::int32_t seekMs = (control >> 2 & 7) * 250;
    // A stream read from its start ends with audio or with an error.
    bool fromStart = true;
    std::int64_t total = 0;
    for (int call = 0; call < kMostCalls; ++call) {
        if (call == seekAt && Quor_SeekToTime(handle, seekMs) == QUOR_OK) {
            fromStart = seekMs == 0;
        }
        const std::int32_t wanted = kBufferSizes[(call + control) % 8];
        std::int32_t delivered = 0;
        const std::int32_t result =
            Quor_Decode(handle, wanted == 0 ? nullptr : buffer.data(), wanted, &delivered);
        std::int32_t time = 0;
        Quor_GetTime(handle, &time);
        total += delivered;
        if (result == QUOR_END && fromStart && total == 0) {
            std::fputs("quor_fuzz: QUOR_END from a stream that gave no audio\n", stderr);
            std::abort();
        }
        if (result != QUOR_OK) {
            break;
        }
    }
    Quor_Destroy(handle);
    return 0;
}
