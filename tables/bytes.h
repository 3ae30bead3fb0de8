// Low-level helpers of the hot paths: a few bytes of a record read as one machine word, so that
// blanks and short keys compare a word at a time (memcpy keeps this free of alignment and
// aliasing trouble), and a hint to start loading memory that is needed soon.
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

// Asks the processor to start loading `address`; lookups through the index touch memory far
// apart, and loads started together cost about one memory latency instead of one each.
inline void Prefetch(const void* address) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(address);
#else
  (void)address;
#endif
}

}  // namespace tables
