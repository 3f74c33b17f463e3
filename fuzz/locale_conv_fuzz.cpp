// Fuzzes the locale conversions with any bytes as locale text and any wide
// values as wide text, in the ISO-8859-1 and EUC-JP code sets. Every
// conversion is sized and then filled into a heap block of exactly the
// reported size (so ASan sees any write past it), and again with one unit
// less; the sizing pass must agree with the filling pass on every input.
//
// Input: byte 0 chooses the set-up -- bit 0 the code set (ISO-8859-1 or
// EUC-JP), bit 1 DPUseMbFunctions, bit 2 the ASCII fast path off, bits 3-4
// the misalignment (0..3 bytes) of wide buffers. The rest up to the first
// NUL is locale text; the bytes after it, 4 at a time, are wide text.
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "charset/locale_conv.h"
#include "dpxut.h"

namespace {

struct Setting {
  const char* locale;
  const char* codeset;
};
constexpr Setting kSettings[] = {{"en_US.ISO-8859-1", "ISO-8859-1"}, {"ja_JP.EUC-JP", "EUC-JP"}};

void Check(bool ok) {
  if (!ok) std::abort();
}

// A heap block of exactly `bytes` bytes starting `shift` bytes in.
struct Block {
  Block(size_t bytes, size_t shift) : raw(static_cast<unsigned char*>(std::malloc(bytes + shift + 1))) {
    Check(raw != nullptr);
    at = raw + shift;
  }
  ~Block() { std::free(raw); }
  unsigned char* raw;
  unsigned char* at;
};

void Select(const Setting& s) {
  static const Setting* current = nullptr;
  if (current == &s) return;
  current = &s;
  Check(std::setlocale(LC_CTYPE, s.locale) != nullptr);
  // Naming the code set directly keeps both sets' descriptors cached.
  std::strcpy(dp_current_codeset, s.codeset);
  DPInitICONV = 1;
}

using LocToWide = uint32_t (*)(wchar_t*, size_t*, const char*);
using WideToLoc = uint32_t (*)(char*, size_t*, const wchar_t*);
using BytesToBytes = uint32_t (*)(char*, size_t*, const char*);

// The code a filling call gives when its capacity is ample.
constexpr size_t kAmple = 4096;

void LocaleToWide(LocToWide f, const char* text, size_t shift) {
  size_t size = 0;
  const uint32_t sizing = f(nullptr, &size, text);
  if (sizing != 0) {
    Block big(kAmple * 4, shift);
    size_t cap = kAmple;
    Check(f(reinterpret_cast<wchar_t*>(big.at), &cap, text) == sizing);
    return;
  }
  Check(size >= 1);
  Block exact(size * 4, shift);
  size_t cap = size;
  Check(f(reinterpret_cast<wchar_t*>(exact.at), &cap, text) == 0);
  Check(cap == size || (DPUseMbFunctions != 0 && cap == size - 1));
  uint32_t last;
  std::memcpy(&last, exact.at + (size - 1) * 4, 4);
  Check(last == 0);
  Block small((size - 1) * 4, shift);
  cap = size - 1;
  Check(f(reinterpret_cast<wchar_t*>(small.at), &cap, text) == HVDPUT_OVERFLOW);
  Check(cap == size - 1);
}

// Returns the converted text ("" with ok false when it failed).
std::string BytesToBytesChecked(BytesToBytes f, const char* text, bool* ok) {
  size_t size = 0;
  const uint32_t sizing = f(nullptr, &size, text);
  *ok = sizing == 0;
  if (sizing != 0) {
    Block big(kAmple, 0);
    size_t cap = kAmple;
    Check(f(reinterpret_cast<char*>(big.at), &cap, text) == sizing);
    return {};
  }
  Block exact(size, 0);
  size_t cap = size;
  Check(f(reinterpret_cast<char*>(exact.at), &cap, text) == 0 && cap == size);
  Check(exact.at[size - 1] == 0 && std::strlen(reinterpret_cast<char*>(exact.at)) == size - 1);
  Block small(size - 1, 0);
  cap = size - 1;
  Check(f(reinterpret_cast<char*>(small.at), &cap, text) == HVDPUT_OVERFLOW);
  return std::string(reinterpret_cast<char*>(exact.at));
}

void WideToLocale(WideToLoc f, const unsigned char* wide_bytes, size_t units, size_t shift) {
  Block src((units + 1) * 4, shift);
  std::memcpy(src.at, wide_bytes, units * 4);
  std::memset(src.at + units * 4, 0, 4);
  const auto* uni = reinterpret_cast<const wchar_t*>(src.at);
  size_t size = 0;
  const uint32_t sizing = f(nullptr, &size, uni);
  if (sizing != 0) {
    Block big(kAmple * 16, 0);
    size_t cap = kAmple * 16;
    Check(f(reinterpret_cast<char*>(big.at), &cap, uni) == sizing);
    return;
  }
  Block exact(size, 0);
  size_t cap = size;
  Check(f(reinterpret_cast<char*>(exact.at), &cap, uni) == 0 && cap == size);
  Check(exact.at[size - 1] == 0);
  Block small(size - 1, 0);
  cap = size - 1;
  Check(f(reinterpret_cast<char*>(small.at), &cap, uni) == HVDPUT_OVERFLOW);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The replay test sets LOCPATH; a fuzzing run uses the normal build's
  // test locales next to this source tree.
  if (std::getenv("LOCPATH") == nullptr) {
    const auto locales = std::filesystem::path(__FILE__).parent_path().parent_path() / "build" / "locales";
    setenv("LOCPATH", locales.c_str(), 1);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 2048) return 0;
  const uint8_t mode = data[0];
  Select(kSettings[mode & 1]);
  DPUseMbFunctions = (mode & 2) != 0 ? 1 : 0;
  dpxut::charset::set_ascii_fast_path((mode & 4) == 0);
  const size_t shift = (mode >> 3) & 3;

  const auto* body = reinterpret_cast<const char*>(data + 1);
  const size_t body_len = size - 1;
  const std::string text(body, strnlen(body, body_len));

  LocaleToWide(DPloc2uni, text.c_str(), shift);
  LocaleToWide(DPloc2uniNoMap, text.c_str(), shift);
  bool ok = false;
  const std::string utf = BytesToBytesChecked(DPloc2utf8, text.c_str(), &ok);
  if (ok) {
    // Back to the code set: the text as it was.
    bool back_ok = false;
    Check(BytesToBytesChecked(DPutf82loc, utf.c_str(), &back_ok) == text && back_ok);
  }
  BytesToBytesChecked(DPutf82loc, text.c_str(), &ok);

  const size_t wide_from = text.size() < body_len ? text.size() + 1 : 0;
  const size_t units = (body_len - wide_from) / 4;
  WideToLocale(DPuni2loc, data + 1 + wide_from, units, shift);
  WideToLocale(DPuni2locNoMap, data + 1 + wide_from, units, shift);
  return 0;
}
