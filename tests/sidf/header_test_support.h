// Helpers shared by the header and data set tests: a section built around
// member bytes, descriptions filled with a marker byte so that members a
// reader leaves alone show, and reads from buffers that end at a guard page.
// Bytes are held in std::string, as hex() gives them.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "dpxut.h"
#include "support/bytes.h"
#include "support/guard.h"

namespace dpxut::test {

// Head field (short-form size 2, A5 5A), the members, empty closing field.
inline std::string section(uint32_t id, const std::string& members) {
  std::string head;
  for (uint32_t v = id; v != 0; v >>= 8) head.insert(head.begin(), static_cast<char>(v & 0xFF));
  return head + "\x02\xA5\x5A" + members + head + '\0';
}

// Any description fills with EE, so members a reader leaves alone show.
template <typename Info>
Info untouched() {
  Info info;
  std::memset(&info, 0xEE, sizeof info);
  return info;
}

// A text member as read: its text, or kKeep when every byte still holds EE.
inline constexpr const char* kKeep = "untouched";
template <size_t N>
std::string text(const char (&member)[N]) {
  if (std::string(member, N) == std::string(N, '\xEE')) return kKeep;
  return std::string(member, strnlen(member, N));
}

// Reads `bytes` with a header reader from a buffer that ends at an
// inaccessible page.
template <typename Info>
uint32_t read_guarded(uint32_t (*get)(const uint8_t*, uint32_t, Info*), const std::string& bytes, Info& info) {
  GuardedBytes exact(bytes);
  return get(exact.data(), static_cast<uint32_t>(bytes.size()), &info);
}

// The members of `info` as a header writer puts them.
template <typename Info>
std::string members_of(uint32_t (*set)(const Info*, uint8_t*, uint32_t, uint32_t*), const Info& info) {
  std::string out(1024, '\0');
  uint32_t written = 0;
  EXPECT_EQ(set(&info, reinterpret_cast<uint8_t*>(out.data()), 1024, &written), 0u);
  return out.substr(0, written);
}

}  // namespace dpxut::test
