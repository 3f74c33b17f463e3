// Any bytes as UTF-8 text (and as wide units) through the conversions and
// string walks. Every destination is a heap block of exactly the capacity
// passed, so a write past it is caught; sizing must equal filling, a
// capacity one unit short must overflow, and the fast passes must write
// what the table-walking coder decodes.
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/wide.h"
#include "dpxut.h"

namespace {

namespace wide = dpxut::wide;

void check(bool ok) {
  if (!ok) __builtin_trap();
}

void convert_utf8(const char* s, size_t offset) {
  size_t count = 0;
  uint32_t sized = DPutf82uni(nullptr, s, &count);
  check(sized == 0 || sized == HVDPUT_INVALID_PARAMETER);

  // Tiny capacities: never a write outside them, never a false success.
  for (size_t capacity = 0; capacity < 4; ++capacity) {
    auto* raw = static_cast<unsigned char*>(std::malloc(capacity * 4 + offset));
    size_t size = capacity;
    uint32_t code = DPutf82uni(reinterpret_cast<wchar_t*>(raw + offset), s, &size);
    check(sized != 0 ? code != 0 : (code == 0) == (count < capacity));
    if (code == 0) check(size == count);
    std::free(raw);
  }
  if (sized != 0) return;

  auto* raw = static_cast<unsigned char*>(std::malloc((count + 1) * 4 + offset));
  void* uni = raw + offset;
  size_t size = count + 1;
  check(DPutf82uni(static_cast<wchar_t*>(uni), s, &size) == 0 && size == count);
  // Element for element what the table-walking coder decodes.
  const char* p = s;
  for (size_t i = 0; i < count; ++i) {
    uint16_t v;
    int n = dp_utf2uni(&v, p);
    check(n > 0 && static_cast<uint32_t>(wide::load(uni, i)) == v);
    p += n;
  }
  check(*p == '\0' && wide::load(uni, count) == 0);
  size = count;
  check(DPutf82uni(static_cast<wchar_t*>(uni), s, &size) == HVDPUT_OVERFLOW && size == count);

  // Back to UTF-8: never longer than the text it came from.
  size_t bytes = 0;
  check(DPuni2utf8(nullptr, static_cast<wchar_t*>(uni), &bytes) == 0 && bytes <= std::strlen(s));
  std::vector<char> out(bytes + 1);
  size = bytes + 1;
  check(DPuni2utf8(out.data(), static_cast<wchar_t*>(uni), &size) == 0 && size == bytes);
  char* short_out = static_cast<char*>(std::malloc(bytes ? bytes : 1));  // never null: not a sizing call
  size = bytes;
  check(DPuni2utf8(short_out, static_cast<wchar_t*>(uni), &size) == HVDPUT_OVERFLOW);
  std::free(short_out);
  std::free(raw);
}

void convert_wide(const uint8_t* data, size_t size, size_t offset) {
  size_t units = size / 4;
  auto* raw = static_cast<unsigned char*>(std::malloc((units + 1) * 4 + offset));
  void* uni = raw + offset;
  if (units != 0) std::memcpy(uni, data, units * 4);
  wide::store(uni, units, 0);
  size_t bytes = 0;
  check(DPuni2utf8(nullptr, static_cast<wchar_t*>(uni), &bytes) == 0);
  std::vector<char> out(bytes + 1);
  size_t n = bytes + 1;
  check(DPuni2utf8(out.data(), static_cast<wchar_t*>(uni), &n) == 0 && n == bytes);
  size_t back = 0;
  uint32_t code = DPutf82uni(nullptr, out.data(), &back);
  check(code == 0);  // whatever the units, their 16-bit forms encode validly

  size_t len = wide::length(uni);
  wchar_t first = len ? wide::load(uni, 0) : 0;
  void* hit = wide::find(uni, first);
  check(hit == uni || len == 0);
  wide::find_last(uni, first);
  wide::find_string(uni, wide::at(uni, len / 2));
  wide::icompare(uni, wide::at(uni, len / 2));
  DPuninicmp(static_cast<wchar_t*>(uni), static_cast<wchar_t*>(uni), static_cast<int32_t>(len));
  DPuniupr(static_cast<wchar_t*>(uni));
  DPunirev(static_cast<wchar_t*>(uni));
  check(wide::length(uni) == len);
  std::free(DPunidup(static_cast<wchar_t*>(uni)));
  std::free(raw);
}

void walk(const char* s, size_t len) {
  check(xutf8len(s) <= len);
  for (const char* p = s; *p != '\0'; p = xutf8next(p)) check(p < s + len);
  const char* ch = s + len / 2;
  const char* first = xutf8chr(s, ch);
  const char* last = xutf8rchr(s, ch);
  check((first == nullptr) == (last == nullptr) && first <= last);
  xutf8cmp(s, ch);
  xutf8str(s, ch);
  xutf8nicmp(s, ch, static_cast<uint32_t>(len));
  xutf8icmp(s, ch);

  char* copy = static_cast<char*>(std::malloc(len + 1));
  std::memcpy(copy, s, len + 1);
  check(xutf8upr(copy) == copy && std::strlen(copy) <= len);
  std::memcpy(copy, s, len + 1);
  check(xutf8rev(copy) == copy && std::strlen(copy) <= len);
  // Text of 1- to 3-byte forms reverses back to itself.
  size_t count = 0, bytes = 0;
  std::vector<wchar_t> uni;
  if (DPutf82uni(nullptr, s, &count) == 0) {
    uni.resize(count + 1);
    size_t cap = count + 1;
    DPutf82uni(uni.data(), s, &cap);
    if (wide::length(uni.data()) == count && DPuni2utf8(nullptr, uni.data(), &bytes) == 0 && bytes == len) {
      xutf8rev(copy);
      check(std::memcmp(copy, s, len + 1) == 0);
    }
  }
  std::free(copy);
}

}  // namespace

// Upper-casing and case folding follow the locale: a UTF-8 locale with
// full case tables (from LOCPATH, as the test runs set it) when there is one.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::setlocale(LC_ALL, "en_US.UTF-8") == nullptr) std::setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t offset = size ? data[0] % 4 : 0;
  auto* s = static_cast<char*>(std::malloc(size + 1));
  if (size) std::memcpy(s, data, size);
  s[size] = '\0';
  size_t len = std::strlen(s);
  // The terminated text in a block of exactly its size.
  auto* text = static_cast<char*>(std::malloc(len + 1));
  std::memcpy(text, s, len + 1);
  std::free(s);

  convert_utf8(text, offset);
  walk(text, len);
  convert_wide(data, size, offset);
  std::free(text);
  return 0;
}
