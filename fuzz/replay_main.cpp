// Replays inputs through a fuzz target's entry function without libFuzzer, so that every
// build runs the regression inputs (and the seed corpus) under its own compiler and sanitizers.
// Arguments are files or directories (every regular file inside, in name order); a missing
// one holds no inputs.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::filesystem::path> InputsOf(const std::filesystem::path& path) {
  std::vector<std::filesystem::path> inputs;
  if (std::filesystem::is_directory(path)) {
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
      if (entry.is_regular_file()) inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
  } else {
    inputs.push_back(path);
  }
  return inputs;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE_OR_DIRECTORY...\n", argv[0]);
    return 2;
  }
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    // A target without regression inputs yet has no directory for them (git keeps no empty
    // directories).
    if (!std::filesystem::exists(argv[i])) {
      std::printf("%s: not there, no inputs\n", argv[i]);
      continue;
    }
    for (const std::filesystem::path& input : InputsOf(argv[i])) {
      std::ifstream stream(input, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(stream)),
                              std::istreambuf_iterator<char>());
      if (!stream.good() && !stream.eof()) {
        std::fprintf(stderr, "%s: cannot be read\n", input.c_str());
        return 1;
      }
      // The name first: a crash inside the target then shows which input caused it.
      std::fprintf(stderr, "replaying %s\n", input.c_str());
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      ++replayed;
    }
  }
  std::printf("replayed %zu inputs\n", replayed);
  return 0;
}
