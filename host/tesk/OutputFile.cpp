#include "OutputFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace tesk::player {

namespace {

constexpr std::uint32_t kHeaderBytes = 44;
// The size written into the header of a WAV stream whose length is unknown.
constexpr std::uint32_t kUnknownSize = 0xFFFFFFFFu;

void putLittleEndian(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFFu);
    }
}

// A temporary file is made readable by the owner only; the finished file
// gets the permissions of any new file of the user.
void giveUsualPermissions(int descriptor) {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor, 0666 & ~mask);
}

} // namespace

std::string makeWavHeader(const PcmFormat& format, std::uint32_t dataBytes) {
    const auto rate = static_cast<std::uint32_t>(format.sampleRate);
    const auto blockAlign = static_cast<std::uint32_t>(format.channels * format.bytesPerSample);
    const std::uint32_t riffBytes =
        dataBytes > kUnknownSize - (kHeaderBytes - 8) ? kUnknownSize : dataBytes + kHeaderBytes - 8;
    std::string header = "RIFF";
    putLittleEndian(header, riffBytes, 4);
    header += "WAVEfmt ";
    putLittleEndian(header, 16, 4);
    putLittleEndian(header, 1, 2); // integer PCM
    putLittleEndian(header, static_cast<std::uint32_t>(format.channels), 2);
    putLittleEndian(header, rate, 4);
    putLittleEndian(header, rate * blockAlign, 4);
    putLittleEndian(header, blockAlign, 2);
    putLittleEndian(header, static_cast<std::uint32_t>(format.bytesPerSample * 8), 2);
    header += "data";
    putLittleEndian(header, dataBytes, 4);
    return header;
}

OutputFile::OutputFile(const std::string& path, const PcmFormat& format, bool raw)
    : m_path(path), m_format(format), m_raw(raw) {
    if (path == "-") {
        m_file = stdout;
    } else {
        std::vector<char> name(path.begin(), path.end());
        const std::string suffix = ".partXXXXXX";
        name.insert(name.end(), suffix.begin(), suffix.end());
        name.push_back('\0');
        const int descriptor = mkstemp(name.data());
        if (descriptor < 0) {
            fail(std::strerror(errno));
        }
        m_temporaryPath = name.data();
        giveUsualPermissions(descriptor);
        m_file = fdopen(descriptor, "wb");
        if (m_file == nullptr) {
            const int error = errno;
            ::close(descriptor);
            std::remove(m_temporaryPath.c_str());
            fail(std::strerror(error));
        }
    }
    if (!m_raw) {
        writeHeader(kUnknownSize);
    }
}

OutputFile::~OutputFile() {
    if (m_file != nullptr && m_file != stdout) {
        std::fclose(m_file);
    }
    if (!m_finished && !m_temporaryPath.empty()) {
        std::remove(m_temporaryPath.c_str());
    }
}

void OutputFile::write(const std::uint8_t* bytes, std::size_t count) {
    if (!m_raw && m_dataBytes + count > kUnknownSize - kHeaderBytes) {
        fail("more audio than a WAV file can hold (use --raw)");
    }
    writeOrFail(bytes, count);
    m_dataBytes += count;
}

void OutputFile::finish() {
    if (m_file == stdout) {
        if (std::fflush(stdout) != 0) {
            fail(std::strerror(errno));
        }
        m_finished = true;
        return;
    }
    if (!m_raw) {
        if (std::fseek(m_file, 0, SEEK_SET) != 0) {
            fail(std::strerror(errno));
        }
        writeHeader(static_cast<std::uint32_t>(m_dataBytes));
    }
    std::FILE* file = std::exchange(m_file, nullptr);
    if (std::fclose(file) != 0) {
        fail(std::strerror(errno));
    }
    if (std::rename(m_temporaryPath.c_str(), m_path.c_str()) != 0) {
        fail(std::strerror(errno));
    }
    m_finished = true;
}

void OutputFile::writeHeader(std::uint32_t dataBytes) {
    const std::string header = makeWavHeader(m_format, dataBytes);
    writeOrFail(header.data(), header.size());
}

void OutputFile::writeOrFail(const void* bytes, std::size_t count) {
    if (count != 0 && std::fwrite(bytes, 1, count, m_file) != count) {
        fail(std::strerror(errno));
    }
}

void OutputFile::fail(const std::string& cause) {
    throw OutputError(cause);
}

} // namespace tesk::player
