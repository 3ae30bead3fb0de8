#include "platform/int_conversion.h"

#include <string>

namespace platform {
namespace {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hexadecimal digits (at least one, nothing else), value at most 0xFFFFFFFF, as a 32-bit pattern.
std::optional<std::int32_t> ParseHex(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : digits) {
    const int d = HexDigitValue(c);
    if (d < 0) return std::nullopt;
    if (value > 0x0FFFFFFFu) return std::nullopt;  // a fifth nibble would not fit
    value = (value << 4) | static_cast<std::uint32_t>(d);
  }
  return static_cast<std::int32_t>(value);  // two's complement: 0xFFFFFFFF -> -1
}

// Decimal digits (at least one, nothing else) with a sign, within the signed 32-bit range.
std::optional<std::int32_t> ParseDecimal(std::string_view digits, bool negative) {
  if (digits.empty()) return std::nullopt;
  const std::uint64_t limit = negative ? 2147483648u : 2147483647u;
  std::uint64_t value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > limit) return std::nullopt;
  }
  if (negative) return static_cast<std::int32_t>(-static_cast<std::int64_t>(value));
  return static_cast<std::int32_t>(value);
}

}  // namespace

std::optional<std::int32_t> TryStrToInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  const std::string_view rest = text.substr(i);
  if (rest.empty()) return std::nullopt;
  switch (rest[0]) {
    case '+':
      return ParseDecimal(rest.substr(1), false);
    case '-':
      return ParseDecimal(rest.substr(1), true);
    case '$':
    case 'x':
    case 'X':
      return ParseHex(rest.substr(1));
    case '0':
      if (rest.size() >= 2 && (rest[1] == 'x' || rest[1] == 'X')) return ParseHex(rest.substr(2));
      break;
    default:
      break;
  }
  return ParseDecimal(rest, false);
}

std::int32_t StrToInt(std::string_view text) {
  if (const auto value = TryStrToInt(text)) return *value;
  throw ConversionError("'" + std::string(text) + "' is not a valid integer value");
}

std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback) {
  return TryStrToInt(text).value_or(fallback);
}

}  // namespace platform
