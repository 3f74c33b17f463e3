// Helpers shared by the header tests: a section built around member bytes,
// reads from heap copies of exactly the given size (so the sanitizers see
// any overread), and a small deterministic random source for generated
// descriptions.
#pragma once

#include <dpxut.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sidf/hex.h"

namespace dpxut::test {

// Head field (short-form size 2, A5 5A), the members, empty closing field.
inline std::vector<uint8_t> section(uint32_t headId, const std::vector<uint8_t>& members) {
  std::vector<uint8_t> out(16);
  DPDFField f{};
  f.fieldId = headId;
  f.data = reinterpret_cast<const uint8_t*>("\xA5\x5A");
  DPDFPutNextField(out.data(), 16, &f, 2, 2);
  out.resize(f.bytesUsed);
  out.insert(out.end(), members.begin(), members.end());
  std::vector<uint8_t> closing(8);
  DPDFField c{};
  c.fieldId = headId;
  DPDFPutNextField(closing.data(), 8, &c, 0, 0);
  out.insert(out.end(), closing.begin(), closing.begin() + c.bytesUsed);
  return out;
}

// Members of packed records may be misaligned, and gtest's comparisons
// bind references: they compare copies.
template <typename T>
T copy(T value) {
  return value;
}

// Exactly n bytes on the heap (n may be 0: a pointer that must not be read).
struct ExactBytes {
  explicit ExactBytes(const uint8_t* p, size_t n) : bytes(new uint8_t[n ? n : 1]), size(n) {
    if (n) std::memcpy(bytes.get(), p, n);
  }
  std::unique_ptr<uint8_t[]> bytes;
  size_t size;
};

// Any description fills with this, so members a reader leaves alone show.
inline constexpr uint8_t kUntouched = 0xEE;

template <typename Info>
Info untouched() {
  Info info;
  std::memset(&info, kUntouched, sizeof info);
  return info;
}

inline std::string member_text(const char* member, size_t size) {
  return std::string(member, strnlen(member, size));
}

// A text member as read: its text, or "untouched" when every byte still
// holds kUntouched.
inline constexpr const char* kUntouchedText = "untouched";
template <size_t N>
std::string text_or_untouched(const char (&member)[N]) {
  if (std::string(member, N) == std::string(N, static_cast<char>(kUntouched))) return kUntouchedText;
  return member_text(member, N);
}

// The hex of a field with a short-form size carrying `text` and a zero:
// text_field("02", "X.Y") is "02 04 58 2E 59 00" (texts of at most 126
// characters).
inline std::string text_field(const std::string& id, const std::string& text) {
  const std::string data = text + '\0';
  return id + " " + to_hex(std::vector<uint8_t>{static_cast<uint8_t>(data.size())}) + " " +
         to_hex(reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

// A header writer (HVDPSetMediaHeaderInfo, HVDPSetSessionHeaderInfo).
template <typename Info>
using SetHeader = uint32_t (*)(const Info*, uint8_t*, uint32_t, uint32_t*);
template <typename Info>
using GetHeader = uint32_t (*)(const uint8_t*, uint32_t, Info*);

// Every buffer shorter than the whole header: HVDPUT_OVERFLOW, the fields
// that fit wholly (they end at `ends`) written and counted, nothing stored
// past the buffer's end.
template <typename Info>
void expect_overflow_for_every_short_buffer(SetHeader<Info> set, const Info& info,
                                            const std::vector<uint8_t>& whole,
                                            const std::vector<uint32_t>& ends) {
  for (uint32_t size = 0; size < whole.size(); ++size) {
    std::vector<uint8_t> buffer(size + 16, 0xAB);
    uint32_t written = 0;
    EXPECT_EQ(set(&info, buffer.data(), size, &written), HVDPUT_OVERFLOW) << size;
    uint32_t complete = 0;
    for (uint32_t end : ends)
      if (end <= size) complete = end;
    EXPECT_EQ(written, complete) << size;
    EXPECT_EQ(to_hex(buffer.data(), complete), to_hex(whole.data(), complete));
    for (size_t i = size; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xAB) << size;
  }
}

// A whole section cut at every offset: HVDPUT_BUFFER_UNDERFLOW, read from
// exact-size copies.
template <typename Info>
void expect_underflow_for_every_cut(GetHeader<Info> get, const std::vector<uint8_t>& section) {
  for (size_t size = 0; size < section.size(); ++size) {
    ExactBytes exact(section.data(), size);
    Info info{};
    EXPECT_EQ(get(exact.bytes.get(), static_cast<uint32_t>(size), &info), HVDPUT_BUFFER_UNDERFLOW) << size;
  }
}

// Null arguments: HVDPUT_INVALID_PARAMETER, *bytesWritten cleared.
template <typename Info>
void expect_null_arguments_refused(SetHeader<Info> set, GetHeader<Info> get, const Info& info) {
  uint8_t buffer[64] = {};
  uint32_t written = 99;
  EXPECT_EQ(set(nullptr, buffer, 64, &written), HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(set(&info, nullptr, 64, &written), HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(set(&info, buffer, 64, nullptr), HVDPUT_INVALID_PARAMETER);
  Info out{};
  EXPECT_EQ(get(nullptr, 10, &out), HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(get(buffer, 64, nullptr), HVDPUT_INVALID_PARAMETER);
}

struct Random {
  explicit Random(uint32_t seed) : engine(seed) {}
  uint32_t below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(engine); }
  uint32_t u32() { return static_cast<uint32_t>(engine()); }
  // A text of 0..maxLength non-zero bytes into a member, zero-padded.
  void text(char* member, size_t size, size_t maxLength) {
    std::memset(member, 0, size);
    const size_t n = below(static_cast<uint32_t>(maxLength + 1));
    for (size_t i = 0; i < n; ++i) member[i] = static_cast<char>(1 + below(255));
  }
  HVDPECMATimeStamp stamp() {
    HVDPECMATimeStamp s;
    auto* p = reinterpret_cast<uint8_t*>(&s);
    for (size_t i = 0; i < sizeof s; ++i) p[i] = static_cast<uint8_t>(below(256));
    return s;
  }
  std::mt19937 engine;
};

}  // namespace dpxut::test
