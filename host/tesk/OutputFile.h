// Where the player writes decoded audio: a WAV file, bare PCM, or standard
// output. A named file is written under a temporary name in the same folder
// and renamed only when finish succeeds, so a failed run never leaves a file
// that looks complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace tesk::player {

struct PcmFormat {
    int sampleRate = 0;
    int channels = 0;
    int bytesPerSample = 0;
};

// A failure to write the output; the text gives the cause.
class OutputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class OutputFile {
public:
    // path "-" is standard output. Throws OutputError.
    OutputFile(const std::string& path, const PcmFormat& format, bool raw);
    // Without a successful finish the temporary file is removed.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void write(const std::uint8_t* bytes, std::size_t count);
    // Completes the header and gives the file its name.
    void finish();

    std::uint64_t getDataBytes() const { return m_dataBytes; }

private:
    void writeHeader(std::uint32_t dataBytes);
    void writeOrFail(const void* bytes, std::size_t count);
    [[noreturn]] static void fail(const std::string& cause);

    std::string m_path;
    std::string m_temporaryPath;
    PcmFormat m_format;
    bool m_raw = false;
    std::FILE* m_file = nullptr;
    bool m_finished = false;
    std::uint64_t m_dataBytes = 0;
};

// The 44-byte header of a PCM WAV file holding dataBytes bytes of samples.
std::string makeWavHeader(const PcmFormat& format, std::uint32_t dataBytes);

} // namespace tesk::player
