// The choice of the ASCII fast path of the locale conversions: whether the
// server code set converts ASCII to and from UTF-8 byte for byte. Decided
// by iconv itself, once per thread and code set name, so the fast path is
// taken only where it provably writes what iconv would.
#include <atomic>
#include <cstring>

#include "charset/ascii_path.h"
#include "charset/conv_sink.h"
#include "charset/locale_conv.h"

namespace dpxut::charset {

std::atomic<bool> g_fast_paths{true};

namespace {

struct Verdict {
  bool known;
  bool transparent;
  char codeset[kCodeSetSize];
};
constinit thread_local Verdict tl_verdict{};

// Converts `len` bytes plus the NUL after them and checks that exactly the
// same bytes come out.
bool converts_to_itself(IconvLease& cd, const char* bytes, size_t len) noexcept {
  char out[128];
  const char* in = bytes;
  size_t in_left = len + 1;
  char* o = out;
  size_t o_left = sizeof out;
  cd.reset_state();
  if (cd.convert(&in, &in_left, &o, &o_left) == kIconvFailed) return false;
  return static_cast<size_t>(o - out) == len + 1 && std::memcmp(out, bytes, len + 1) == 0;
}

// Each byte 0x01..0x7F alone, and all of them as one run: a code set with
// shift states (ISO-2022, UTF-7), a different letter at some position
// (EBCDIC, Shift_JIS's yen sign) or wider units (UTF-16) fails somewhere.
bool ascii_round_trips(IconvLease& cd) noexcept {
  char run[128];
  for (int b = 1; b < 128; ++b) {
    const char one[2] = {static_cast<char>(b), '\0'};
    if (!converts_to_itself(cd, one, 1)) return false;
    run[b - 1] = static_cast<char>(b);
  }
  run[127] = '\0';
  return converts_to_itself(cd, run, 127);
}

bool probe(const char* codeset) noexcept {
  if (codeset[0] == '\0') return false;
  IconvLease to_utf8("UTF-8", codeset);
  IconvLease from_utf8(codeset, "UTF-8");
  return to_utf8 && from_utf8 && ascii_round_trips(to_utf8) && ascii_round_trips(from_utf8);
}

}  // namespace

bool ascii_transparent(const char* codeset) noexcept {
  if (!fast_paths_on()) return false;
  Verdict& v = tl_verdict;
  if (v.known && std::strncmp(v.codeset, codeset, kCodeSetSize) == 0) return v.transparent;
  const size_t len = strnlen(codeset, kCodeSetSize);
  if (len >= kCodeSetSize) return false;  // never handed to iconv
  v.transparent = probe(codeset);
  std::memcpy(v.codeset, codeset, len + 1);
  v.known = true;
  return v.transparent;
}

void set_ascii_fast_path(bool enabled) noexcept {
  g_fast_paths.store(enabled, std::memory_order_relaxed);
}

bool fast_paths_enabled() noexcept { return g_fast_paths.load(std::memory_order_relaxed); }

}  // namespace dpxut::charset
