// Helpers shared by the fuzz targets: a scratch file for targets whose parser reads a path, and
// the check that ends a run when a property of the code under test does not hold.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/os.h"

namespace fuzz {

// A file path private to this process, in memory-backed /dev/shm where it exists (a fuzzer
// writes it thousands of times a second). Returns the same path on every call for one `stem`.
std::string ScratchPath(const std::string& stem);

// Writes `bytes` to the scratch file `path` (created or replaced). Raises platform::OsError.
void WriteScratch(const std::string& path, const std::string& bytes);

// Stops the process with a message on standard error when `condition` is false: the fuzzer
// keeps the input that got here, and a replay shows the message.
inline void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz property violated: %s\n", what);
    std::abort();
  }
}

}  // namespace fuzz
