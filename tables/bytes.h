// A few bytes of a record read as one machine word, so that the hot paths can compare blanks and
// short keys a word at a time; memcpy keeps this free of alignment and aliasing trouble.
#pragma once

#include <cstdint>
#include <cstring>

namespace tables {

inline std::uint64_t LoadWord64(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

inline std::uint32_t LoadWord32(const char* p) {
  std::uint32_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

}  // namespace tables
