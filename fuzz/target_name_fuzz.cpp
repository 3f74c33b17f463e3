// Splits any text as a target description with every combination of
// destinations. The text (input cut at its first NUL) sits in a heap block
// of exactly its size and terminator; each destination likewise holds
// exactly the text's length and a terminator, so a part copied past that
// faults. The result must be null, one of the destinations, or a position
// inside the text, and every destination given must be terminated within
// its block. Text is measured as EUC-JP when that locale is reachable.
#include <clocale>
#include <vector>

#include "dpxut.h"
#include "fuzz_input.h"

void fuzz(const uint8_t* data, size_t size) {
  [[maybe_unused]] static const bool euc_jp = std::setlocale(LC_ALL, "ja_JP.EUC-JP") && !DPInitUniLibrary("EUC-JP");
  const std::string text = FuzzInput{data, size}.until_nul();
  const size_t n = text.size();
  for (unsigned given = 0; given < 8; ++given) {
    const Block source = c_string(text);
    std::vector<std::vector<char>> dest(3, std::vector<char>(n + 1, 'x'));
    char *s = source.as<char>(), *d[3] = {};
    for (int i = 0; i < 3; ++i) d[i] = given >> i & 1 ? dest[i].data() : nullptr;
    char* result = HVDPGetTargetName(s, d[0], d[1], d[2]);
    check(!result || result == d[0] || result == d[1] || result == d[2] || (result >= s && result <= s + n), "result");
    for (int i = 0; i < 3; ++i) check(!d[i] || std::memchr(d[i], '\0', n + 1), "destination terminated");
    // Only NULs are written into the source, never other bytes.
    for (size_t k = 0; k < n; ++k) check(s[k] == text[k] || s[k] == '\0', "source bytes kept");
  }
}
