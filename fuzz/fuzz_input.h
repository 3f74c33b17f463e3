// Pieces every fuzz target shares: a check that says what failed, the input
// read as the choices of one run, and heap blocks of exact size.
//
// A target is fuzz(data, size) over the bytes of one input: the replay
// driver calls it for every file of the target's seed corpus, and in a
// libFuzzer build LLVMFuzzerTestOneInput (libfuzzer_entry.cpp) does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

void fuzz(const uint8_t* data, size_t size);

// Aborts with `what` on stderr, so that libFuzzer and the replay driver
// both report the failure as a crash on this input.
inline void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

// Reads a fuzz input front to back as the choices of one run; past its end
// every read gives zero, so any input, however short, is a complete run.
struct FuzzInput {
  const uint8_t* p;
  size_t left;
  uint8_t byte() { return left == 0 ? 0 : (--left, *p++); }
  // `n` bytes as a number, the first the highest (big-endian) or lowest.
  uint32_t number(int n, bool big_endian) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = big_endian ? v << 8 | byte() : v | byte() << 8 * i;
    return v;
  }
  // The bytes up to the next NUL (which is taken as well) or to the end.
  std::string until_nul() {
    std::string s;
    while (left != 0 && *p != 0) s += static_cast<char>(byte());
    byte();
    return s;
  }
};

// `n` bytes, `shift` bytes into a heap block that ends right after them, so
// that ASan reports any access past them; zero but for the first `copy`
// bytes, taken from `from`. Never null, even for 0 bytes.
struct Block {
  std::unique_ptr<uint8_t[]> raw;
  uint8_t* at;
  explicit Block(size_t n, size_t shift = 0, const void* from = nullptr, size_t copy = 0)
      : raw(new uint8_t[shift + n]()), at(raw.get() + shift) {
    if (copy != 0) std::memcpy(at, from, copy);
  }
  template <typename T = uint8_t>
  T* as() const {
    return reinterpret_cast<T*>(at);
  }
};

// Exactly the bytes of `s` and a terminator.
inline Block c_string(const std::string& s) { return Block(s.size() + 1, 0, s.data(), s.size()); }
