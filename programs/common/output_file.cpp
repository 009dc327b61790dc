#include "programs/common/output_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

#include "programs/common/plain_errors.h"
#include "programs/common/system_seam.h"

namespace tesk::cli {

namespace {

// The size written into the header of a WAV stream whose length is unknown.
constexpr std::uint32_t kUnknownSize = 0xFFFFFFFFu;
constexpr std::uint16_t kIntegerPcm = 1;
constexpr std::uint16_t kFloatPcm = 3;
constexpr std::uint16_t kExtensible = 0xFFFE;
// The rest of the extensible form's sub-format after its first two bytes,
// the integer or float PCM tag.
constexpr std::array<std::uint8_t, 14> kPcmSubFormatTail = {
    0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// Speaker masks by channel count: front left, right and centre, then low
// frequency, back and side speakers, as 3.0, quad, 5.0, 5.1, 6.1 and 7.1.
constexpr std::array<std::uint32_t, 9> kChannelMasks = {0,    0x4,  0x3,   0x7,  0x33,
                                                        0x37, 0x3F, 0x70F, 0x63F};

void putLittleEndian(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFFu);
    }
}

// The plain form holds integer samples of up to 16 bits in one or two
// channels; every other format is written in the extensible form.
bool needsExtensible(const PcmFormat& format) {
    return format.channels > 2 || format.bytesPerSample > 2 || format.isFloat;
}

std::uint32_t headerBytes(const PcmFormat& format) {
    return needsExtensible(format) ? 68 : 44;
}

// The extensible form's fields after the plain form's: the valid bits, the
// speaker mask and the sub-format.
void putExtension(std::string& out, const PcmFormat& format) {
    const auto channels = static_cast<std::uint32_t>(format.channels);
    putLittleEndian(out, 22, 2);
    putLittleEndian(out, static_cast<std::uint32_t>(format.bytesPerSample * 8), 2);
    putLittleEndian(out, channels < kChannelMasks.size() ? kChannelMasks[channels] : 0, 4);
    putLittleEndian(out, format.isFloat ? kFloatPcm : kIntegerPcm, 2);
    out.append(kPcmSubFormatTail.begin(), kPcmSubFormatTail.end());
}

// The data of RF64's ds64 chunk: the RIFF, data and sample counts in 64
// bits and an empty table. A reserved header keeps its place with a JUNK
// chunk of the same size.
constexpr std::uint32_t kSizesChunkData = 28;

std::string littleEndian(std::uint64_t value, int bytes = 4) {
    std::string out;
    putLittleEndian(out, static_cast<std::uint32_t>(value), std::min(bytes, 4));
    if (bytes == 8) {
        putLittleEndian(out, static_cast<std::uint32_t>(value >> 32), 4);
    }
    return out;
}

std::string sizesChunk(const std::string& name, std::uint64_t riffBytes, std::uint64_t dataBytes,
                       std::uint64_t samples) {
    return name + littleEndian(kSizesChunkData) + littleEndian(riffBytes, 8) +
           littleEndian(dataBytes, 8) + littleEndian(samples, 8) + littleEndian(0);
}

// The most data a RIFF header with room for the 64-bit sizes can count.
std::uint64_t plainDataLimit(const PcmFormat& format) {
    return kUnknownSize - headerBytes(format) - 8 - kSizesChunkData;
}

// RF64: the 32-bit sizes all ones, the true ones in ds64 after "WAVE".
std::string makeRf64Header(const PcmFormat& format, std::uint64_t dataBytes) {
    std::string header = makeWavHeader(format, kUnknownSize);
    // The whole file but the first 8 bytes, ds64 included.
    const std::uint64_t riffBytes = header.size() + kSizesChunkData + dataBytes;
    const auto blockAlign = static_cast<std::uint64_t>(format.channels * format.bytesPerSample);
    header.replace(0, 4, "RF64");
    header.insert(12, sizesChunk("ds64", riffBytes, dataBytes, dataBytes / blockAlign));
    return header;
}

// Links followed before the chain counts as a loop, as the system counts.
constexpr int kLongestLinkChain = 40;

// The position of a file the header can be written back into: a regular
// file not opened for appending. -1 for any other.
long rewritablePosition(std::FILE* file) {
    return os::isRewritable(file) ? std::ftell(file) : -1;
}

// Data expected to come near RIFF's limit, or of unknown size, keeps room
// in a file for the 64-bit sizes; a stream that cannot be rewritten starts
// as RF64 when the size expected is past the limit.
WavForm formFor(bool rewritable, std::optional<std::uint64_t> expectedBytes,
                const PcmFormat& format) {
    const std::uint64_t limit = plainDataLimit(format);
    if (rewritable) {
        return expectedBytes && *expectedBytes < limit - limit / 8 ? WavForm::kPlain
                                                                   : WavForm::kReserved;
    }
    return expectedBytes && *expectedBytes > limit ? WavForm::kRf64 : WavForm::kPlain;
}

} // namespace

std::string makeWavHeader(const PcmFormat& format, std::uint32_t dataBytes) {
    const auto rate = static_cast<std::uint32_t>(format.sampleRate);
    const auto channels = static_cast<std::uint32_t>(format.channels);
    const auto bits = static_cast<std::uint32_t>(format.bytesPerSample * 8);
    const std::uint32_t blockAlign = channels * static_cast<std::uint32_t>(format.bytesPerSample);
    const bool extensible = needsExtensible(format);
    const std::uint32_t header = headerBytes(format);
    const std::uint32_t riffBytes =
        dataBytes > kUnknownSize - (header - 8) ? kUnknownSize : dataBytes + header - 8;
    std::string out = "RIFF";
    putLittleEndian(out, riffBytes, 4);
    out += "WAVEfmt ";
    putLittleEndian(out, extensible ? 40 : 16, 4);
    putLittleEndian(out, extensible ? kExtensible : kIntegerPcm, 2);
    putLittleEndian(out, channels, 2);
    putLittleEndian(out, rate, 4);
    putLittleEndian(out, rate * blockAlign, 4);
    putLittleEndian(out, blockAlign, 2);
    putLittleEndian(out, bits, 2);
    if (extensible) {
        putExtension(out, format);
    }
    out += "data";
    putLittleEndian(out, dataBytes, 4);
    return out;
}

std::string makeWavHeader(WavForm form, const PcmFormat& format,
                          std::optional<std::uint64_t> dataBytes) {
    if (form == WavForm::kRf64 || (dataBytes && *dataBytes > plainDataLimit(format))) {
        return makeRf64Header(format, dataBytes.value_or(0));
    }
    const auto known = static_cast<std::uint32_t>(dataBytes.value_or(kUnknownSize));
    std::string header = makeWavHeader(format, known);
    if (form == WavForm::kReserved) {
        header.insert(12, sizesChunk("JUNK", 0, 0, 0));
        header.replace(
            4, 4,
            littleEndian(dataBytes ? known + headerBytes(format) + kSizesChunkData : kUnknownSize));
    }
    return header;
}

OutputPlace placeOf(const std::string& path) {
    if (path == "-") {
        return {OutputKind::kStandardOutput, path};
    }
    std::filesystem::path at = path;
    for (int link = 0; link < kLongestLinkChain; ++link) {
        os::PathStatus status;
        if (!os::pathStatus(at.string(), status)) {
            throw OutputError(systemCause(errno));
        }
        if (status.kind == os::PathKind::kMissing) {
            return {OutputKind::kFile, at.string()};
        }
        if (status.kind == os::PathKind::kRegular) {
            return {OutputKind::kFile, at.string(), true, static_cast<mode_t>(status.permissions)};
        }
        if (status.kind != os::PathKind::kLink) {
            return {OutputKind::kStream, at.string()};
        }
        std::error_code error;
        const std::filesystem::path target = std::filesystem::read_symlink(at, error);
        if (error) {
            throw OutputError(systemCause(error.value()));
        }
        at = at.parent_path() / target;
    }
    throw OutputError(systemCause(ELOOP));
}

OutputFile::OutputFile(const std::string& path, const PcmFormat& format, bool raw,
                       std::optional<std::uint64_t> expectedBytes)
    : m_format(format), m_raw(raw) {
    const OutputPlace place = placeOf(path);
    m_path = place.path;
    if (place.kind == OutputKind::kStandardOutput) {
        m_file = stdout;
    } else if (place.kind == OutputKind::kStream) {
        openInPlace();
    } else {
        openTemporary(place);
    }
    if (!m_raw) {
        m_headerPosition = rewritablePosition(m_file);
        m_form = formFor(m_headerPosition >= 0, expectedBytes, format);
        writeHeader(m_form == WavForm::kRf64 ? expectedBytes : std::nullopt);
    }
}

OutputFile::~OutputFile() {
    if (m_file != nullptr && m_file != stdout) {
        std::fclose(m_file);
    }
}

void OutputFile::openTemporary(const OutputPlace& place) {
    try {
        m_temporary = std::make_unique<TemporaryFile>(m_path + ".partXXXXXX");
    } catch (const std::system_error& e) {
        fail(systemCause(e.code().value()));
    }
    m_file = m_temporary->openStream();
    if (m_file == nullptr) {
        fail(systemCause(errno));
    }
    // A temporary file is made readable by the owner only.
    os::givePermissions(m_file, place.exists, place.permissions);
}

void OutputFile::openInPlace() {
    m_file = os::openInPlace(m_path);
    if (m_file == nullptr) {
        fail(systemCause(errno));
    }
}

void OutputFile::write(const std::uint8_t* bytes, std::size_t count) {
    if (!m_raw && m_form == WavForm::kPlain && m_dataBytes + count > plainDataLimit(m_format)) {
        fail("more audio than a WAV file can hold (use --raw)");
    }
    writeOrFail(bytes, count);
    m_dataBytes += count;
}

void OutputFile::finish() {
    if (!m_raw && m_headerPosition >= 0) {
        completeHeader();
    }
    if (m_file == stdout) {
        if (std::fflush(stdout) != 0) {
            fail(systemCause(errno));
        }
        return;
    }
    // The samples reach the disk before the name moves to them, so that a
    // crash leaves the old file or the new one, not an empty one.
    if (m_temporary && (std::fflush(m_file) != 0 || !os::flushToDisk(m_file))) {
        fail(systemCause(errno));
    }
    std::FILE* file = std::exchange(m_file, nullptr);
    if (std::fclose(file) != 0) {
        fail(systemCause(errno));
    }
    if (m_temporary && !m_temporary->renameTo(m_path)) {
        fail(systemCause(errno));
    }
}

void OutputFile::completeHeader() {
    if (std::fseek(m_file, m_headerPosition, SEEK_SET) != 0) {
        fail(systemCause(errno));
    }
    writeHeader(m_dataBytes);
    if (std::fseek(m_file, 0, SEEK_END) != 0) {
        fail(systemCause(errno));
    }
}

void OutputFile::writeHeader(std::optional<std::uint64_t> dataBytes) {
    const std::string header = makeWavHeader(m_form, m_format, dataBytes);
    writeOrFail(header.data(), header.size());
}

void OutputFile::writeOrFail(const void* bytes, std::size_t count) {
    if (count != 0 && std::fwrite(bytes, 1, count, m_file) != count) {
        fail(systemCause(errno));
    }
}

void OutputFile::fail(const std::string& cause) {
    throw OutputError(cause);
}

} // namespace tesk::cli
