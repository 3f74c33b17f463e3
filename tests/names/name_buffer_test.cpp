// The name buffer: byte-exact images, the component counts and position
// tables of the worked examples (plain and reversed, in every encoding), the
// growth rule and the component limit. Round trips of any names, the name
// and size limits, and images with lying counts and lengths are the fuzz
// targets' part.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "charset/charset_test_util.h"
#include "paths/ns_text.h"
#include "support/bytes.h"

namespace {

using dpxut::test::enc;
using dpxut::test::hex;
using dpxut::test::NsText;

constexpr uint16_t X = 0xFFFF;

class NameBuffer : public ::testing::Test {
 protected:
  void SetUp() override { dpxut::test::use_locale("en_US.UTF-8"); }
  void TearDown() override {
    if (handle_ != nullptr) HVDPCloseName(&handle_);
    std::free(buffer_);
  }
  std::string image() const { return std::string(reinterpret_cast<const char*>(buffer_), 2 + buffer_->dataSize); }
  // A name in name space 2; without a handle the buffer is (re)started.
  uint32_t put(const std::string& name, const char* separator = nullptr) {
    if (handle_ == nullptr) return HVDPPutFirstName(&buffer_, 2, 0, 0, nullptr, separator, name.c_str(), &handle_);
    return HVDPPutNextName(&buffer_, &handle_, 2, 0, 0, nullptr, separator, name.c_str());
  }

  HVDPNameBuffer* buffer_ = nullptr;
  HVDPNameHandle* handle_ = nullptr;
  alignas(8) HVDPDataSetName d_{};
};

TEST_F(NameBuffer, WritesByteExactImages) {
  ASSERT_EQ(HVDPPutFirstName(&buffer_, 2, 0x11223344, 0, ":", "/", "VOL:dir/file", &handle_), 0u);
  ASSERT_EQ(HVDPPutNextName(&buffer_, &handle_, 0x104, 7, 0, nullptr, nullptr, "ab"), 0u);
  const char unterminated[2] = {'c', 'd'};  // without separators exactly nameLength bytes are read
  ASSERT_EQ(HVDPPutNextLName(&buffer_, &handle_, 0x202, 0, 0, nullptr, nullptr, 2, unterminated), 0u);
  EXPECT_EQ(image(), hex("00 04 44 00 03 00"  // bufferSize 1024, dataSize 68, 3 names, no header extra
                         " 02 00 00 00 44 33 22 11 03"  // name space 2, tag, 3 components
                         " 00 00 04 00 08 00 03 00 07 00 00 00"  // components 0 4 8, separators 3 7 0
                         " 0C 00 56 4F 4C 3A 64 69 72 2F 66 69 6C 65 00"  // VOL:dir/file
                         " 04 01 00 00 07 00 00 00 00 02 00 61 62 00"     // 0x104, tag 7, ab
                         " 02 02 00 00 00 00 00 00 00 02 00 63 64 00"));  // 0x202, cd
}

// As many positions as components; positions are byte offsets, so in a wide
// name space a character offset counts four times. Unreached slots hold 0xFFFF.
TEST_F(NameBuffer, RecordsThePositionsOfComponentsAndSeparators) {
  const struct {
    const char *first, *separator, *name;  // generic string keys, the name
    bool reverse;
    std::vector<uint16_t> components, separators;  // in characters
  } cases[] = {
      {":", "/", "VOL:dir/file", false, {0, 4, 8}, {3, 7, 0}},
      {":", "/", "VOL:/dir/file", false, {0, 5, 9}, {3, 8, 0}},
      {":", "/", "file/dir:VOL", true, {9, 5, 0}, {8, 4, X}},
      {nullptr, "/", "/usr/bin/", false, {1, 5, X}, {0, 4, 8}},
      {nullptr, "/", "ls/bin/usr/", true, {11, 7, 3}, {10, 6, 2}},
      {nullptr, "/", "dir/sub/file", false, {4, 8, X}, {3, 7, X}},  // the first component is counted twice
      {":", nullptr, "VOL:dir/x", false, {0, X}, {3, X}},
      {":", nullptr, "x/rid:VOL", true, {0, X}, {5, X}},
      {":", "/", "VOL:", false, {0}, {3}},
      {"::", "/", "V::a/b", false, {0, 3, 5}, {1, 4, 0}},
      {":", "//", "V:a//b//", false, {0, 2, 5}, {1, 3, 6}},
      {":", "/", "dir/x", false, {}, {}},
      {nullptr, "/", "dir", false, {}, {}},
      {nullptr, nullptr, "a/b", false, {}, {}},
  };
  for (const auto& c : cases)
    dpxut::test::each_form(2, c.name, [&](uint32_t ns, size_t offset) {
      NsText name(ns, c.name, offset);
      auto key = [&](const char* k) { return k ? GenericString(ns, k) : nullptr; };
      ASSERT_EQ(HVDPPutOneName(&buffer_, ns, 9, c.reverse, key(c.first), key(c.separator), name.p()), 0u);
      ASSERT_EQ(HVDPGetOneName(buffer_, &d_), 0u);
      std::vector<uint16_t> want = c.components;  // then the separators, in bytes
      want.insert(want.end(), c.separators.begin(), c.separators.end());
      for (auto& p : want) p = p == X ? X : static_cast<uint16_t>(p * DPsizeOfChar(ns));
      std::vector<uint16_t> got(2 * d_.positionCount);  // the record is packed: read by value, never bound
      if (!got.empty()) std::memcpy(got.data(), d_.componentPositions, 2 * got.size());
      EXPECT_EQ(got, want);
      // Stored as given, never reversed.
      EXPECT_EQ(std::string(static_cast<const char*>(d_.name), d_.nameLength), enc(ns, c.name));
    });
}

// 1024 bytes hold entries while 64 bytes stay spare after them; from then
// on every name resizes the block to exactly the bytes used, which may
// shrink it. Restarting keeps the block and drops the names.
TEST_F(NameBuffer, GrowsToExactlyTheSizeUsedAndRestartsInPlace) {
  // A second entry of 477 bytes leaves 64 spare after a first one of 477
  // (kept), 63 after one of 478 (resized).
  for (const auto& [head, size] : {std::pair<size_t, uint16_t>{465, 1024}, {466, 6 + 478 + 477}}) {
    ASSERT_EQ(put(std::string(head, 'n')), 0u);
    ASSERT_EQ(put(std::string(465, 'n')), 0u);
    EXPECT_EQ(buffer_->bufferSize, size);
    ASSERT_EQ(HVDPCloseName(&handle_), 0u);
  }
  ASSERT_EQ(HVDPPutOneName(&buffer_, 4, 0, 0, nullptr, nullptr, "d"), 0u);
  EXPECT_EQ(image(), hex("C1 03 11 00 01 00 04 00 00 00 00 00 00 00 00 01 00 64 00"));
  buffer_->bufferSize = 6, buffer_->headerExtra = 30;  // a header extra reaching past the block: zeroed
  ASSERT_EQ(HVDPPutOneName(&buffer_, 4, 0, 0, nullptr, nullptr, "d"), 0u);
  EXPECT_EQ(image().substr(6, 30), std::string(30, '\0'));
}

// Counts are held at 0xFFFF rather than wrapped; a name takes at most 255
// components.
TEST_F(NameBuffer, CountsComponentsAndTakesAtMost255) {
  uint16_t count = 0;
  CountPositions(":", "/", "VOL:dir/sub/file", 2, 0, &count);
  EXPECT_EQ(count, 4);
  std::string deep, huge;
  for (int i = 0; i < 255; ++i) deep += "/a";
  while (huge.size() < 140000) huge += deep;
  GenericCountPositions(0x102, nullptr, "/", huge.c_str(), &count);
  EXPECT_EQ(count, 0xFFFF);
  EXPECT_EQ(put(deep, "/"), 0u);
  EXPECT_EQ(put(deep + "/a", "/"), static_cast<uint32_t>(HVDPUT_OVERFLOW));
}

}  // namespace
