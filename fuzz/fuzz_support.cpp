#include "fuzz/fuzz_support.h"

#include <unistd.h>

#include <set>

namespace fuzz {
namespace {

std::set<std::string>& ScratchFiles() {
  static std::set<std::string> files;
  return files;
}

// A fuzzing session creates its scratch files once and rewrites them; they go when it ends
// normally (a crash leaves them, with the process id in the name telling whose they were).
void RemoveScratchFiles() {
  for (const std::string& path : ScratchFiles()) ::unlink(path.c_str());
}

}  // namespace

std::string ScratchPath(const std::string& stem) {
  const std::string directory = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm/" : "/tmp/";
  const std::string path = directory + "zuvrex_fuzz_" + std::to_string(::getpid()) + "_" + stem;
  if (ScratchFiles().empty()) std::atexit(RemoveScratchFiles);
  ScratchFiles().insert(path);
  return path;
}

void WriteScratch(const std::string& path, const std::string& bytes) {
  platform::WriteWholeFile(path, bytes);
}

}  // namespace fuzz
