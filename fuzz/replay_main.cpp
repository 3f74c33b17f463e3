// Replays a fuzz target's seed corpus in the normal build: every file (or
// every file of every directory) named on the command line is fed once to
// LLVMFuzzerTestOneInput, from a heap copy of exactly its size so that ASan
// sees any overread. A failed check or sanitizer report fails the ctest.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<fs::path> files(argv + 1, argv + argc);  // directories are followed by their entries
  size_t count = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    const fs::path path = files[i];
    if (fs::is_directory(path)) {
      for (const auto& entry : fs::directory_iterator(path)) files.push_back(entry.path());
      continue;
    }
    std::fprintf(stderr, "%s\n", path.c_str());  // names the input of a failure
    std::ifstream in(path, std::ios::binary);
    check(in.good(), "readable input");
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const Block exact(bytes.size(), 0, bytes.data(), bytes.size());
    LLVMFuzzerTestOneInput(exact.at, bytes.size());
    ++count;
  }
  std::printf("replayed %zu inputs\n", count);
  return count == 0 ? 1 : 0;
}
