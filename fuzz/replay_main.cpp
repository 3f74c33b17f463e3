// Replays a fuzz target's seed corpus in the normal build: every file of the
// directory named on the command line is fed once to the target's fuzz()
// from a heap copy of exactly its size, so that ASan sees any overread. A
// failed check or sanitizer report fails the ctest. (A single input is
// replayed with the libFuzzer build: <name>_fuzz FILE.)
#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz_input.h"

int main(int argc, char** argv) {
  check(argc == 2 && std::filesystem::is_directory(argv[1]), "usage: <name>_replay CORPUS_DIRECTORY");
  size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    std::fprintf(stderr, "%s\n", entry.path().c_str());  // names the input of a failure
    std::ifstream in(entry.path(), std::ios::binary);
    check(in.good(), "readable input");
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fuzz(Block(bytes.size(), 0, bytes.data(), bytes.size()).at, bytes.size());
    ++count;
  }
  std::printf("replayed %zu inputs\n", count);
  return count == 0 ? 1 : 0;
}
