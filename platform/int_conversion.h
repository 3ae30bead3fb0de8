// Whole-text integer conversion used for the period argument and integer settings.
// Accepted: leading blanks, then either an optional sign and decimal digits within the signed
// 32-bit range, or (without a sign) '$', 'x', 'X', '0x' or '0X' followed by hexadecimal digits
// that fit in 32 bits, taken as a 32-bit pattern ("0xFFFFFFFF" gives -1). Nothing may follow.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace platform {

// Raised by StrToInt; the message quotes the text ("'IV' is not a valid integer value").
class ConversionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The value, or nothing when the text is not a valid integer as described above.
std::optional<std::int32_t> TryStrToInt(std::string_view text);

// The value; raises ConversionError when the text is not a valid integer.
std::int32_t StrToInt(std::string_view text);

// The value, or `fallback` when the text is not a valid integer.
std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback);

}  // namespace platform
