// Fuzz target for the integer conversion of the period argument and integer settings. The
// result is compared with a second, deliberately plain reading of the same rules built on the
// C library (strtoll/strtoull), so a wrong value fails as surely as a crash.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/int_conversion.h"

namespace {

bool AllOf(const std::string& text, int (*test)(int)) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!test(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

int IsDecimal(int c) { return c >= '0' && c <= '9'; }
int IsHex(int c) { return IsDecimal(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::optional<std::int32_t> Reference(const std::string& text) {
  std::size_t i = text.find_first_not_of(" \t");
  if (i == std::string::npos) return std::nullopt;
  std::string rest = text.substr(i);
  std::string hex;
  if (rest[0] == '$' || rest[0] == 'x' || rest[0] == 'X') {
    hex = rest.substr(1);
  } else if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
    hex = rest.substr(2);
  } else {
    const bool negative = rest[0] == '-';
    const std::string digits = (rest[0] == '+' || rest[0] == '-') ? rest.substr(1) : rest;
    if (!AllOf(digits, IsDecimal)) return std::nullopt;
    errno = 0;
    const long long value = std::strtoll((negative ? "-" + digits : digits).c_str(), nullptr, 10);
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return static_cast<std::int32_t>(value);
  }
  if (!AllOf(hex, IsHex)) return std::nullopt;
  errno = 0;
  const unsigned long long value = std::strtoull(hex.c_str(), nullptr, 16);
  if (errno == ERANGE || value > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::optional<std::int32_t> value = platform::TryStrToInt(text);
  fuzz::Require(value == Reference(text), "the conversion agrees with the reference reading");
  fuzz::Require(platform::StrToIntDef(text, 7) == value.value_or(7),
                "StrToIntDef gives the value or the fallback");
  bool raised = false;
  try {
    fuzz::Require(platform::StrToInt(text) == *value, "StrToInt gives the value");
  } catch (const platform::ConversionError&) {
    raised = true;
  }
  fuzz::Require(raised == !value.has_value(), "StrToInt raises exactly for invalid text");
  return 0;
}
