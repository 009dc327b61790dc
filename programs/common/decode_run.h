// The decode command of both programs: every input in turn into its own
// output, with the progress line, --length, and failures told in words.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

#include "programs/common/command_line.h"
#include "programs/common/output_file.h"

namespace tesk::cli {

// A failure to read or decode an input; the text gives the cause in words.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One input, open and at its start time, as a program decodes it.
class AudioReader {
public:
    virtual ~AudioReader() = default;
    virtual PcmFormat format() = 0;
    // Seconds from the start time to the end; 0 or less when unknown.
    virtual double remaining() = 0;
    // The next PCM bytes, whole sample frames; empty at the end. Throws
    // InputError.
    virtual std::span<const std::uint8_t> read() = 0;
    // What the last read has to tell besides its bytes (a change of format
    // in the stream), once; "" for nothing.
    virtual std::string takeNote() { return {}; }
};

// Opens input and moves to the start time. Throws InputError.
using ReaderFactory = std::function<std::unique_ptr<AudioReader>(const std::string& input)>;

// The name of an input or output in messages: "-" is standard input or
// output; bytes that are no UTF-8 and control characters are shown as \xHH.
std::string subjectName(const std::string& path, bool output);

// Writes "PROGRAM: SUBJECT: CAUSE" on standard error.
void reportFailure(const std::string& program, const std::string& subject,
                   const std::string& cause);

// Why the file target must not be written, or "" when it may: a file that
// exists is replaced only with --force, and never when it is an input.
std::string outputRefusal(const CommonOptions& options, const std::string& target);

// Decodes every input of options; one that fails is reported and the others
// are still decoded. Returns the exit status.
int decodeAll(const std::string& program, const CommonOptions& options, const ReaderFactory& open);

} // namespace tesk::cli
