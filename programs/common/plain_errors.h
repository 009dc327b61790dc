// Failures told in words a person reads: the cause, not the code behind it.
#pragma once

#include <string>

namespace tesk::cli {

// A system error number in words, such as "no such file" or "permission
// denied".
std::string systemCause(int error);

// Why the input at path cannot be read.
std::string inputCause(const std::string& path);

// What a decoder result code means for the input at path. opening: the code
// came while the stream was opened; seconds: how far decoding had come.
std::string decoderCause(int code, const std::string& path, bool opening, double seconds);

// The cause in a tesk_quor plug-in's error text ("Message: CALL\nErrorcode:
// NAME (CODE) file: URI") in words; any other text as it is, on one line.
std::string pluginCause(const std::string& description, const std::string& path, double seconds);

} // namespace tesk::cli
