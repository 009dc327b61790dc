// Where decoded audio is written: a WAV file, bare PCM, or standard output. A
// named file is written under a temporary name in the same folder and
// renamed only when finish succeeds, so a failed run never leaves a file
// that looks complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace tesk::cli {

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
    // Completes the header and gives the file its name. A WAV stream on
    // standard output keeps its unknown sizes unless standard output is a
    // regular file, whose header is completed too.
    void finish();

    std::uint64_t getDataBytes() const { return m_dataBytes; }

private:
    void openTemporary();
    void writeHeader(std::uint32_t dataBytes);
    void writeOrFail(const void* bytes, std::size_t count);
    void completeHeader();
    [[noreturn]] static void fail(const std::string& cause);

    std::string m_path;
    std::string m_temporaryPath;
    PcmFormat m_format;
    bool m_raw = false;
    std::FILE* m_file = nullptr;
    bool m_finished = false;
    long m_headerPosition = -1; // where the header lies in a file that can be rewritten
    std::uint64_t m_dataBytes = 0;
};

// The header of a WAV file of integer PCM holding dataBytes bytes of
// samples: 44 bytes, or 68 in the extensible form that more than two
// channels take, with the mask of the usual speakers for their count.
std::string makeWavHeader(const PcmFormat& format, std::uint32_t dataBytes);

} // namespace tesk::cli
