// The name buffer: byte-exact images, the position tables of the worked
// examples (plain and reversed, in every encoding), the growth rule and its
// limits, handle life cycles, and images with lying counts and lengths read
// flush against a guard page.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "charset/charset_test_util.h"
#include "names/name_buffer.h"
#include "paths/ns_text.h"
#include "support/guard_page.h"

namespace {

using dpxut::test::enc;
using dpxut::test::hex;
using dpxut::test::NsText;

constexpr uint16_t X = 0xFFFF;
constexpr uint32_t kParam = HVDPUT_INVALID_PARAMETER, kHandle = HVDPUT_INVALID_HANDLE,
                   kNoMore = HVDPUT_NO_MORE_ENTRIES, kOverflow = HVDPUT_OVERFLOW, kUnder = HVDPUT_BUFFER_UNDERFLOW;

class NameBuffer : public ::testing::Test {
 protected:
  void SetUp() override { dpxut::test::use_locale("en_US.UTF-8"); }
  void TearDown() override {
    if (handle_ != nullptr) {
      EXPECT_EQ(HVDPCloseName(&handle_), 0u);
    }
    std::free(buffer_);
    dpxut::names::set_realloc_for_testing(nullptr);
  }
  std::string image() const { return std::string(reinterpret_cast<const char*>(buffer_), 2 + buffer_->dataSize); }
  uint32_t put(const char* name, uint32_t tag = 0) {  // appends a plain name in name space 2
    return HVDPPutNextName(&buffer_, &handle_, 2, tag, 0, nullptr, nullptr, name);
  }

  HVDPNameBuffer* buffer_ = nullptr;
  HVDPNameHandle* handle_ = nullptr;
  alignas(8) HVDPDataSetName d_{};
  HVDPNameHandle* reader_ = nullptr;
};

// The record is packed: its members are read by value, never bound.
std::vector<uint16_t> table(const uint16_t* p, size_t n) {
  std::vector<uint16_t> out(n);
  if (n != 0) std::memcpy(out.data(), p, 2 * n);
  return out;
}
std::string name_of(const HVDPDataSetName& d) { return std::string(static_cast<const char*>(d.name), d.nameLength); }
uint32_t tag_of(const HVDPDataSetName& d) { return d.nameTag; }

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
  ASSERT_EQ(HVDPCloseName(&handle_), 0u);
  // A wide name: 4 bytes per character, then a single zero byte.
  for (size_t offset = 0; offset < 4; ++offset) {
    NsText name(0x202, "ab\u00e9", offset);
    ASSERT_EQ(HVDPPutOneName(&buffer_, 0x202, 0, 0, nullptr, nullptr, name.p()), 0u);
    EXPECT_EQ(image(), hex("00 04 1C 00 01 00 02 02 00 00 00 00 00 00 00"
                           " 0C 00 61 00 00 00 62 00 00 00 E9 00 00 00 00"));
  }
}

// Positions are byte offsets: in a wide name space a character offset
// counts four times. Unreached slots hold 0xFFFF.
TEST_F(NameBuffer, RecordsThePositionsOfComponentsAndSeparators) {
  const struct {
    const char *first, *separator;  // generic string keys
    bool reverse;
    const char* name;
    std::vector<uint16_t> components, separators;  // in characters
  } cases[] = {
      {":", "/", false, "VOL:dir/file", {0, 4, 8}, {3, 7, 0}},
      {":", "/", false, "VOL:/dir/file", {0, 5, 9}, {3, 8, 0}},
      {nullptr, "/", false, "/usr/bin/ls", {1, 5, 9}, {0, 4, 8}},
      {nullptr, "/", false, "/usr/bin/", {1, 5, X}, {0, 4, 8}},
      {":", "/", true, "file/dir:VOL", {9, 5, 0}, {8, 4, X}},
      {":", "/", true, "file/dir/:VOL", {10, 5, 0}, {9, 4, X}},
      {nullptr, "/", true, "ls/bin/usr/", {11, 7, 3}, {10, 6, 2}},
      {nullptr, "/", false, "dir/sub/file", {4, 8, X}, {3, 7, X}},
      {":", nullptr, false, "VOL:dir/x", {0, X}, {3, X}},         {":", nullptr, true, "x/rid:VOL", {0, X}, {5, X}},
      {":", "/", false, "VOL:", {0}, {3}},                        {":", "/", false, "dir/x", {}, {}},
      {"::", "/", false, "V::a/b", {0, 3, 5}, {1, 4, 0}},
  };
  for (const auto& c : cases)
    dpxut::test::each_form(2, c.name, [&](uint32_t ns, size_t offset) {
      NsText name(ns, c.name, offset);
      const void* first = c.first ? GenericString(ns, c.first) : nullptr;
      const void* separator = c.separator ? GenericString(ns, c.separator) : nullptr;
      ASSERT_EQ(HVDPPutOneName(&buffer_, ns, 9, c.reverse, first, separator, name.p()), 0u);
      ASSERT_EQ(HVDPGetOneName(buffer_, &d_), 0u);
      auto in_bytes = [&](std::vector<uint16_t> v) {
        for (auto& p : v) p = p == X ? X : static_cast<uint16_t>(p * DPsizeOfChar(ns));
        return v;
      };
      const uint16_t* components = d_.componentPositions;
      EXPECT_EQ(table(components, d_.positionCount), in_bytes(c.components));
      EXPECT_EQ(table(d_.separatorPositions, d_.positionCount), in_bytes(c.separators));
      EXPECT_EQ(components == nullptr, c.components.empty());
      EXPECT_EQ(name_of(d_), enc(ns, c.name));  // stored as given, never reversed
      EXPECT_EQ(name.str(), enc(ns, c.name));
    });
}

TEST_F(NameBuffer, RefusesNullArgumentsBeforeMeasuringTheName) {
  EXPECT_EQ(HVDPPutFirstName(&buffer_, 2, 0, 0, nullptr, nullptr, nullptr, &handle_), kParam);
  EXPECT_EQ(HVDPPutFirstLName(&buffer_, 2, 0, 0, nullptr, nullptr, 3, nullptr, &handle_), kParam);
  EXPECT_EQ(HVDPPutOneName(&buffer_, 2, 0, 0, nullptr, nullptr, nullptr), kParam);
  EXPECT_EQ(HVDPPutOneLName(&buffer_, 2, 0, 0, nullptr, nullptr, 3, nullptr), kParam);
  EXPECT_EQ(HVDPPutFirstName(nullptr, 2, 0, 0, nullptr, nullptr, "a", &handle_), kParam);
  EXPECT_EQ(HVDPPutFirstName(&buffer_, 2, 0, 0, nullptr, nullptr, "a", nullptr), kParam);
  EXPECT_EQ(buffer_, nullptr);  // nothing allocated
  ASSERT_EQ(HVDPPutFirstName(&buffer_, 2, 0, 0, nullptr, nullptr, "a", &handle_), 0u);
  EXPECT_EQ(put(nullptr), kParam);
  EXPECT_EQ(HVDPPutNextLName(&buffer_, &handle_, 2, 0, 0, nullptr, nullptr, 1, nullptr), kParam);
  EXPECT_EQ(HVDPPutNextName(&buffer_, nullptr, 2, 0, 0, nullptr, nullptr, "b"), kParam);
  EXPECT_EQ(HVDPGetFirstName(nullptr, &d_, &reader_), kParam);
  EXPECT_EQ(buffer_->nameCount, 1);
}

// 1024 bytes hold entries while 64 bytes stay spare after them; from then
// on every name resizes the block to exactly the bytes used (which first
// shrinks it). Restarting keeps the block and drops the names.
TEST_F(NameBuffer, GrowsToExactlyTheSizeUsedAndRestartsInPlace) {
  const std::string name(100, 'n');  // entries of 112 bytes
  ASSERT_EQ(HVDPPutFirstName(&buffer_, 2, 0, 0, nullptr, nullptr, name.c_str(), &handle_), 0u);
  std::vector<uint16_t> sizes;
  for (int i = 0; i < 12; ++i) {
    ASSERT_EQ(put(name.c_str()), 0u);
    sizes.push_back(buffer_->bufferSize);
    EXPECT_EQ(buffer_->dataSize, 4 + 112 * (i + 2));
  }
  EXPECT_EQ(sizes, (std::vector<uint16_t>{1024, 1024, 1024, 1024, 1024, 1024, 1024, 1014, 1126, 1238, 1350, 1462}));
  ASSERT_EQ(HVDPCloseName(&handle_), 0u);
  ASSERT_EQ(HVDPPutOneName(&buffer_, 4, 0, 0, nullptr, nullptr, "d"), 0u);
  EXPECT_EQ(image(), hex("B6 05 11 00 01 00 04 00 00 00 00 00 00 00 00 01 00 64 00"));
  // At the edge: a second entry of 477 bytes leaves exactly 64 bytes spare
  // after a first one of 477 (kept), 63 after one of 478 (resized).
  for (const auto& [first, size] : {std::pair<size_t, uint16_t>{465, 1024}, {466, 6 + 478 + 477}}) {
    std::free(buffer_);
    buffer_ = nullptr;
    ASSERT_EQ(HVDPPutFirstName(&buffer_, 2, 0, 0, nullptr, nullptr, std::string(first, 'n').c_str(), &handle_), 0u);
    ASSERT_EQ(put(std::string(465, 'n').c_str()), 0u);
    EXPECT_EQ(buffer_->bufferSize, size);
    ASSERT_EQ(HVDPCloseName(&handle_), 0u);
  }
}

TEST_F(NameBuffer, KeepsWhatWasWrittenAtEachLimit) {
  const std::string name(1000, 'n');
  ASSERT_EQ(HVDPPutFirstName(&buffer_, 2, 0, 0, nullptr, nullptr, name.c_str(), &handle_), 0u);
  uint32_t written = 1, code;
  while ((code = put(name.c_str(), written)) == 0) ++written;
  EXPECT_EQ(code, kOverflow);
  EXPECT_EQ(written, 64u);  // 6 + 65 * 1012 bytes would pass 65535
  const std::string before = image();
  EXPECT_EQ(HVDPPutNextLName(&buffer_, &handle_, 2, 0, 0, nullptr, nullptr, 70000, name.c_str()), kOverflow);
  std::string deep;
  for (int i = 0; i < 256; ++i) deep += "/a";
  EXPECT_EQ(HVDPPutNextName(&buffer_, &handle_, 2, 0, 0, nullptr, "/", deep.c_str()), kOverflow);
  EXPECT_EQ(image(), before);
  EXPECT_EQ(put("x", 64), 0u);  // the handle stays open and a short name still fits
  EXPECT_EQ(buffer_->bufferSize, 2 + buffer_->dataSize);

  ASSERT_EQ(HVDPCloseName(&handle_), 0u);
  ASSERT_EQ(HVDPPutFirstName(&buffer_, 2, 0, 0, nullptr, nullptr, "x", &handle_), 0u);
  for (uint32_t i = 1; i < 255; ++i) ASSERT_EQ(put("x", i), 0u);
  EXPECT_EQ(put("x"), kNoMore);  // the 256th name of a handle
  EXPECT_EQ(buffer_->nameCount, 255);
  uint32_t tags = 0, count = 0;
  for (code = HVDPGetFirstName(buffer_, &d_, &reader_); code == 0; code = HVDPGetNextName(&reader_, &d_), ++count)
    tags += tag_of(d_);
  EXPECT_EQ(code, kNoMore);
  EXPECT_EQ(count, 255u);
  EXPECT_EQ(tags, 254u * 255u / 2);
}

TEST_F(NameBuffer, ClosesReadingHandlesAtTheEndAndRefusesMisusedOnes) {
  ASSERT_EQ(HVDPPutFirstName(&buffer_, 0, 1, 0, nullptr, nullptr, "dos", &handle_), 0u);
  ASSERT_EQ(HVDPPutNextName(&buffer_, &handle_, 4, 2, 0, nullptr, nullptr, "nfs"), 0u);
  EXPECT_EQ(HVDPGetNextName(&handle_, &d_), kHandle);  // a writing handle
  ASSERT_EQ(HVDPGetFirstName(buffer_, &d_, &reader_), 0u);
  EXPECT_EQ(HVDPPutNextName(&buffer_, &reader_, 2, 0, 0, nullptr, nullptr, "c"), kHandle);  // a reading one
  HVDPNameBuffer* other = nullptr;
  ASSERT_EQ(HVDPPutOneName(&other, 2, 0, 0, nullptr, nullptr, "b"), 0u);
  EXPECT_EQ(HVDPPutNextName(&other, &handle_, 2, 0, 0, nullptr, nullptr, "c"), kParam);  // not its block
  std::free(other);
  ASSERT_EQ(HVDPGetNextName(&reader_, &d_), 0u);
  EXPECT_EQ(tag_of(d_), 2u);
  EXPECT_EQ(HVDPGetNextName(&reader_, &d_), kNoMore);
  EXPECT_EQ(reader_, nullptr);
  EXPECT_EQ(HVDPGetNextName(&reader_, &d_), kParam);
  EXPECT_EQ(HVDPCloseName(&reader_), kHandle);

  ASSERT_EQ(HVDPGetDataSetName(buffer_, 4, &d_), 0u);
  EXPECT_EQ(name_of(d_), "nfs");
  ASSERT_EQ(HVDPGetOneName(buffer_, &d_), 0u);
  EXPECT_EQ(name_of(d_), "dos");
  EXPECT_EQ(HVDPGetDataSetName(buffer_, 1, &d_), kNoMore);
  EXPECT_EQ(name_of(d_), "nfs");  // the last one read
  uint16_t count = 0;
  CountPositions(":", "/", "VOL:dir/sub/file", 2, 0, &count);
  EXPECT_EQ(count, 4);
}

void* failing_realloc(void*, size_t) { return nullptr; }

TEST_F(NameBuffer, FreesTheBlockWhenAResizeFails) {
  const std::string name(900, 'n');
  ASSERT_EQ(HVDPPutFirstName(&buffer_, 2, 0, 0, nullptr, nullptr, name.c_str(), &handle_), 0u);
  dpxut::names::set_realloc_for_testing(&failing_realloc);
  EXPECT_EQ(put(name.c_str()), static_cast<uint32_t>(HVDPUT_OUT_OF_MEMORY));
  EXPECT_EQ(buffer_, nullptr);  // released: the leak check would see it otherwise
  EXPECT_EQ(put("x"), kHandle);
}

// Each image ends flush against an unreadable page; every reader agrees
// with the image check.
TEST_F(NameBuffer, RejectsImagesWithLyingCountsAndLengths) {
  const struct {
    const char *what, *image;
    int good;        // entries that read
    uint32_t after;  // code after them
  } cases[] = {
      {"sound image", "14 00 12 00 01 00  02 00 00 00 00 00 00 00 00 02 00 61 62 00", 1, kNoMore},
      {"count says two", "14 00 12 00 02 00  02 00 00 00 00 00 00 00 00 02 00 61 62 00", 1, kUnder},
      {"name longer than the data", "14 00 12 00 01 00  02 00 00 00 00 00 00 00 00 03 00 61 62 00", 0, kUnder},
      {"nameLength 0xFFFF", "14 00 12 00 01 00  02 00 00 00 00 00 00 00 00 FF FF 61 62 00", 0, kUnder},
      {"no zero byte", "14 00 12 00 01 00  02 00 00 00 00 00 00 00 00 02 00 61 62 63", 0, kUnder},
      {"255 positions", "14 00 12 00 01 00  02 00 00 00 00 00 00 00 FF 02 00 61 62 00", 0, kUnder},
      {"header extra too big", "14 00 12 00 01 C8  02 00 00 00 00 00 00 00 00 02 00 61 62 00", 0, kUnder},
      {"dataSize > bufferSize", "14 00 FF FF 02 00  02 00 00 00 00 00 00 00 00 02 00 61 62 00", 1, kUnder},
      {"bufferSize too small", "10 00 12 00 01 00  02 00 00 00 00 00 00 00 00 02 00 61 62 00", 0, kUnder},
      {"dataSize 0, stale count", "14 00 00 00 03 00  02 00 00 00 00 00 00 00 00 02 00 61 62 00", 0, kNoMore},
      {"no room for a header", "03 00 40", 0, kNoMore},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    dpxut::test::GuardedBytes bytes{std::string_view(hex(c.image))};
    const auto* image = reinterpret_cast<const HVDPNameBuffer*>(bytes.data());
    int good = 0;
    uint32_t code;
    for (code = HVDPGetFirstName(image, &d_, &reader_); code == 0; code = HVDPGetNextName(&reader_, &d_), ++good)
      EXPECT_EQ(name_of(d_), "ab");
    EXPECT_EQ(good, c.good);
    EXPECT_EQ(code, c.after);
    EXPECT_EQ(reader_, nullptr);  // closed on every way out
    alignas(8) HVDPDataSetName untouched{};
    EXPECT_EQ(HVDPGetOneName(image, &untouched), c.good ? 0u : c.after);
    EXPECT_EQ(untouched.nameLength, c.good ? 2 : 0);
    EXPECT_EQ(HVDPGetDataSetName(image, 9, &d_), c.after);
    EXPECT_EQ(dpxut::names::check_image(image), c.after == kNoMore ? 0u : c.after);
  }
}

// Buffers of random names read back exactly; damaged copies of them read
// without fault, every walk agreeing with the image check.
TEST_F(NameBuffer, ReadsBackRandomBuffersAndSurvivesTheirDamage) {
  std::mt19937 rng(12345);
  const uint32_t spaces[] = {0, 1, 2, 4, 0x100, 0x102, 0x200, 0x204, 3, 0x103};
  const char* pieces[] = {"a", "/", ":", "\\", "\u00e9", "b"};
  for (int round = 0; round < 200; ++round) {
    std::vector<std::pair<uint32_t, std::string>> written;
    for (int i = 0, names = 1 + rng() % 8; i < names; ++i) {
      const uint32_t ns = spaces[rng() % 10];
      std::string text;
      for (int k = rng() % 30; k > 0; --k) text += pieces[rng() % 6];
      NsText name(ns, text, rng() % 4);
      const void* first = rng() % 2 ? GenericString(ns, ":") : nullptr;
      const void* slash = GenericString(ns, "/");
      const uint16_t reverse = rng() % 2;
      ASSERT_EQ(i == 0 ? HVDPPutFirstName(&buffer_, ns, i, reverse, first, slash, name.p(), &handle_)
                       : HVDPPutNextName(&buffer_, &handle_, ns, i, reverse, first, slash, name.p()),
                0u);
      written.emplace_back(ns, enc(ns, text));
    }
    ASSERT_EQ(HVDPCloseName(&handle_), 0u);
    size_t i = 0;
    for (uint32_t code = HVDPGetFirstName(buffer_, &d_, &reader_); code == 0; code = HVDPGetNextName(&reader_, &d_)) {
      ASSERT_LT(i, written.size());
      EXPECT_EQ(d_.nameSpace, written[i].first);
      EXPECT_EQ(name_of(d_), written[i++].second);
    }
    EXPECT_EQ(i, written.size());

    for (int k = 0; k < 50; ++k) {
      std::string damaged = image();
      for (int flips = 1 + rng() % 3; flips > 0; --flips) damaged[rng() % damaged.size()] = static_cast<char>(rng());
      if (rng() % 4 == 0) damaged.resize(std::max<size_t>(6, rng() % damaged.size()));
      const auto size = static_cast<uint16_t>(damaged.size());
      std::memcpy(damaged.data(), &size, 2);  // the block really is this long
      dpxut::test::GuardedBytes bytes{std::string_view(damaged)};
      const auto* image = reinterpret_cast<const HVDPNameBuffer*>(bytes.data());
      uint32_t code = HVDPGetFirstName(image, &d_, &reader_);
      while (code == 0) code = HVDPGetNextName(&reader_, &d_);
      EXPECT_EQ(code == kNoMore ? 0u : code, dpxut::names::check_image(image));
    }
  }
}

}  // namespace

namespace {

// Hosts pass the address of the packed record's nameBuffer member, which may
// be unaligned; the block pointer is read and stored through it byte-wise.
TEST_F(NameBuffer, TakesTheBlockPointerAtAnUnalignedAddress) {
  alignas(8) unsigned char slot[1 + sizeof(HVDPNameBuffer*)] = {};
  auto** where = reinterpret_cast<HVDPNameBuffer**>(slot + 1);
  ASSERT_EQ(HVDPPutFirstName(where, 2, 0, 0, nullptr, nullptr, "first", &handle_), 0u);
  const std::string big(2000, 'n');  // forces a resize that stores a new address
  ASSERT_EQ(HVDPPutNextName(where, &handle_, 2, 0, 0, nullptr, nullptr, big.c_str()), 0u);
  ASSERT_EQ(HVDPCloseName(&handle_), 0u);
  std::memcpy(&buffer_, slot + 1, sizeof buffer_);  // freed by the fixture
  ASSERT_NE(buffer_, nullptr);
  EXPECT_EQ(buffer_->nameCount, 2);
}

}  // namespace
