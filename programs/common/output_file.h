// Where decoded audio is written: a WAV file, bare PCM, or standard output. A
// file is written under a temporary name beside it and renamed only when
// finish succeeds, so a failed or interrupted run never leaves a file that
// looks complete nor spoils the one it would replace. Through a symbolic
// link the file the link ends at is replaced, and the link kept; a device,
// FIFO or socket is written in place, as a stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include <sys/types.h>

#include "programs/common/temporary_files.h"

namespace tesk::cli {

struct PcmFormat {
    int sampleRate = 0;
    int channels = 0;
    int bytesPerSample = 0;
    bool isFloat = false; // 32-bit IEEE float samples rather than integers
};

// A failure to write the output; the text gives the cause.
class OutputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class OutputKind {
    kStandardOutput, // the path "-"
    kFile,           // a regular file, or none yet: replaced through a temporary file
    kStream,         // a device, FIFO or socket: written in place
};

struct OutputPlace {
    OutputKind kind = OutputKind::kFile;
    std::string path;       // what is written: symbolic links followed to their end
    bool exists = false;    // kFile: a file is there already
    mode_t permissions = 0; // of the file that is there
};

// What writing to path means. Throws OutputError for a path whose links
// cannot be followed.
OutputPlace placeOf(const std::string& path);

// The header a WAV output is begun with.
enum class WavForm {
    kPlain,    // RIFF, up to 4 GiB
    kReserved, // RIFF with room kept for the 64-bit sizes, taken at the end past 4 GiB
    kRf64,     // RF64 from the start: more data is expected than RIFF holds
};

class OutputFile {
public:
    // path "-" is standard output; expectedBytes, the data's size when the
    // stream's length is known, chooses the header's form. Throws
    // OutputError.
    OutputFile(const std::string& path, const PcmFormat& format, bool raw,
               std::optional<std::uint64_t> expectedBytes = std::nullopt);
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
    void openTemporary(const OutputPlace& place);
    void openInPlace();
    void writeHeader(std::optional<std::uint64_t> dataBytes);
    void writeOrFail(const void* bytes, std::size_t count);
    void completeHeader();
    [[noreturn]] static void fail(const std::string& cause);

    std::string m_path; // the file the finished output takes the place of
    std::unique_ptr<TemporaryFile> m_temporary;
    PcmFormat m_format;
    bool m_raw = false;
    WavForm m_form = WavForm::kPlain;
    std::FILE* m_file = nullptr;
    long m_headerPosition = -1; // where the header lies in a file that can be rewritten
    std::uint64_t m_dataBytes = 0;
};

// The header of a WAV file of PCM holding dataBytes bytes of samples: 44
// bytes, or 68 in the extensible form that more than two channels, samples
// above 16 bits and float samples take, with the mask of the usual speakers
// for their count and the integer or float sub-format.
std::string makeWavHeader(const PcmFormat& format, std::uint32_t dataBytes);

// The header of form for dataBytes bytes of samples (unknown: nothing). A
// reserved header holds
// a JUNK chunk where RF64's ds64 chunk goes, and past 4 GiB becomes RF64 of
// the same length; RF64 gives its 32-bit sizes as 0xFFFFFFFF and the true
// ones in ds64.
std::string makeWavHeader(WavForm form, const PcmFormat& format,
                          std::optional<std::uint64_t> dataBytes);

} // namespace tesk::cli
