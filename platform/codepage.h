// Conversion between UTF-8 (the program's own text form) and the single-byte code pages that
// 1DF reports and the log files use: Windows-1251 and DOS 866 (both Cyrillic).
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform {

enum class CodePage { kCp1251, kCp866 };

// Raised when a text cannot be represented in the target code page, or is not valid UTF-8.
class EncodingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Decodes single-byte text to UTF-8. Every byte has a meaning (bytes that the code page leaves
// unassigned map to U+FFFD), so this never raises.
std::string DecodeToUtf8(std::string_view bytes, CodePage page);

// Encodes UTF-8 text into the code page. Raises EncodingError naming the first character that
// the code page cannot hold, or on malformed UTF-8.
std::string EncodeFromUtf8(std::string_view utf8, CodePage page);

// Appends `utf8` to `*out` encoded as EncodeFromUtf8 does, but with '?' for every character the
// code page cannot hold and for every malformed byte: for texts that must be written whatever
// they contain, such as logs, built in one buffer. Never raises but for lack of memory.
void AppendFromUtf8Lossy(std::string_view utf8, CodePage page, std::string* out);

// Encodes `utf8` as AppendFromUtf8Lossy does, into `out`, which must have room for utf8.size()
// bytes (every character becomes one byte, so the result is never longer than the input).
// Returns the number of bytes written. Never raises.
std::size_t EncodeFromUtf8LossyInto(std::string_view utf8, CodePage page, char* out);

// Same as EncodeFromUtf8 but returns false instead of raising.
bool TryEncodeFromUtf8(std::string_view utf8, CodePage page, std::string* out);

}  // namespace platform
