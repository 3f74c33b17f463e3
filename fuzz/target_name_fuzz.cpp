// Splits any text as a target description with every combination of
// destinations. The text (input cut at its first NUL) sits in a heap block
// of exactly its size and terminator; each destination likewise holds
// exactly the text's length and a terminator, so a part copied past that
// faults. The result must be null, one of the destinations, or a position
// inside the text, and every destination given must be terminated within
// its block. Text is measured as EUC-JP when that locale is reachable.
#include <clocale>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dpxut.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Names in a two-byte code set when the test locales are reachable.
  if (std::setlocale(LC_ALL, "ja_JP.EUC-JP") != nullptr) DPInitUniLibrary("EUC-JP");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
  for (unsigned given = 0; given < 8; ++given) {
    std::vector<char> source(text.begin(), text.end());
    source.push_back('\0');
    std::vector<char> dest[3];
    char* d[3] = {};
    for (int i = 0; i < 3; ++i) {
      if ((given >> i & 1) == 0) continue;
      dest[i].assign(text.size() + 1, 'x');
      d[i] = dest[i].data();
    }
    char* result = HVDPGetTargetName(source.data(), d[0], d[1], d[2]);
    check(result == nullptr || result == d[0] || result == d[1] || result == d[2] ||
          (result >= source.data() && result <= source.data() + text.size()));
    for (int i = 0; i < 3; ++i)
      if (d[i] != nullptr) check(std::memchr(d[i], '\0', dest[i].size()) != nullptr);
    // Only NULs are written into the source, never other bytes.
    for (size_t k = 0; k < text.size(); ++k) check(source[k] == text[k] || source[k] == '\0');
  }
  return 0;
}
