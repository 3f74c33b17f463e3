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

using dpxut::test::encode_for;
using dpxut::test::forms_of;
using dpxut::test::hex;
using dpxut::test::NsText;

constexpr uint16_t X = 0xFFFF;

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

  // Bytes 0 .. 2 + dataSize of the buffer.
  std::string image() const {
    const auto* p = reinterpret_cast<const char*>(buffer_);
    return std::string(p, 2 + buffer_->dataSize);
  }

  HVDPNameBuffer* buffer_ = nullptr;
  HVDPNameHandle* handle_ = nullptr;
};

std::vector<uint16_t> table(const uint16_t* p, size_t n) {
  std::vector<uint16_t> out(n);
  if (n != 0) std::memcpy(out.data(), p, 2 * n);  // the tables are not aligned
  return out;
}

std::string name_bytes(const HVDPDataSetName& d) { return std::string(static_cast<const char*>(d.name), d.nameLength); }

TEST_F(NameBuffer, WritesByteExactImages) {
  ASSERT_EQ(HVDPPutFirstName(&buffer_, 2, 0x11223344, 0, ":", "/", "VOL:dir/file", &handle_), 0u);
  ASSERT_EQ(HVDPPutNextName(&buffer_, &handle_, 0x104, 7, 0, nullptr, nullptr, "ab"), 0u);
  ASSERT_EQ(HVDPCloseName(&handle_), 0u);
  EXPECT_EQ(image(), hex("00 04 36 00"  // bufferSize 1024, dataSize 54
                         " 02 00"       // two names, no header extra
                         " 02 00 00 00 44 33 22 11 03"  // name space 2, tag, 3 components
                         " 00 00 04 00 08 00"           // components 0 4 8
                         " 03 00 07 00 00 00"           // separators 3 7 0
                         " 0C 00 56 4F 4C 3A 64 69 72 2F 66 69 6C 65 00"  // VOL:dir/file
                         " 04 01 00 00 07 00 00 00 00"  // name space 0x104, tag 7, no components
                         " 02 00 61 62 00"));           // ab
  EXPECT_EQ(buffer_->bufferSize, 1024);
}

TEST_F(NameBuffer, StoresWideNamesWithFourBytesPerCharacterAndOneZeroByte) {
  for (size_t offset = 0; offset < 4; ++offset) {
    NsText name(0x202, "ab\u00e9", offset);
    ASSERT_EQ(HVDPPutOneName(&buffer_, 0x202, 0, 0, nullptr, nullptr, name.p()), 0u);
    EXPECT_EQ(image(), hex("00 04 1C 00 01 00 02 02 00 00 00 00 00 00 00"
                           " 0C 00 61 00 00 00 62 00 00 00 E9 00 00 00 00"));
  }
}

struct PositionCase {
  const char* first;  // generic string keys
  const char* separator;
  bool reverse;
  const char* name;
  std::vector<uint16_t> components, separators;  // in characters; X: none
};

const PositionCase kPositionCases[] = {
    {":", "/", false, "VOL:dir/file", {0, 4, 8}, {3, 7, 0}},
    {":", "/", false, "VOL:/dir/file", {0, 5, 9}, {3, 8, 0}},
    {nullptr, "/", false, "/usr/bin/ls", {1, 5, 9}, {0, 4, 8}},
    {nullptr, "/", false, "/usr/bin/", {1, 5, X}, {0, 4, 8}},
    {":", "/", true, "file/dir:VOL", {9, 5, 0}, {8, 4, X}},
    // separator and first separator back to back: component 0 starts after the colon
    {":", "/", true, "file/dir/:VOL", {10, 5, 0}, {9, 4, X}},
    {nullptr, "/", true, "ls/bin/usr/", {11, 7, 3}, {10, 6, 2}},
    // slots the walk does not reach hold 0xFFFF
    {nullptr, "/", false, "dir/sub/file", {4, 8, X}, {3, 7, X}},
    {":", nullptr, false, "VOL:dir/x", {0, X}, {3, X}},
    {":", nullptr, true, "x/rid:VOL", {0, X}, {5, X}},
    {":", "/", false, "VOL:", {0}, {3}},
    {":", "/", false, "dir/x", {}, {}},
    {nullptr, nullptr, false, "/a/b", {}, {}},
    {"::", "/", false, "V::a/b", {0, 3, 5}, {1, 4, 0}},
};

// Positions are byte offsets, so in a wide name space every character
// offset counts four times.
TEST_F(NameBuffer, RecordsThePositionsOfComponentsAndSeparators) {
  for (const auto& c : kPositionCases)
    for (uint32_t ns : forms_of(2))
      for (size_t offset = 0; offset < 4; ++offset) {
        SCOPED_TRACE(::testing::Message() << "ns " << std::hex << ns << " " << c.name << (c.reverse ? " reversed" : ""));
        NsText name(ns, c.name, offset);
        const void* first = c.first ? GenericString(ns, c.first) : nullptr;
        const void* separator = c.separator ? GenericString(ns, c.separator) : nullptr;
        ASSERT_EQ(HVDPPutOneName(&buffer_, ns, 9, c.reverse, first, separator, name.p()), 0u);
        alignas(8) HVDPDataSetName d{};
        ASSERT_EQ(HVDPGetOneName(buffer_, &d), 0u);
        const uint16_t unit = HVDPIsNameSpaceUnicode(ns) ? 4 : 1;
        auto in_bytes = [&](std::vector<uint16_t> v) {
          for (auto& p : v)
            if (p != X) p = static_cast<uint16_t>(p * unit);
          return v;
        };
        EXPECT_EQ(d.positionCount, c.components.size());
        EXPECT_EQ(table(d.componentPositions, d.positionCount), in_bytes(c.components));
        EXPECT_EQ(table(d.separatorPositions, d.positionCount), in_bytes(c.separators));
        if (c.components.empty()) {
          // the record is packed: its pointers are read by value
          const uint16_t* components = d.componentPositions;
          const uint16_t* separators = d.separatorPositions;
          EXPECT_EQ(components, nullptr);
          EXPECT_EQ(separators, nullptr);
        }
        EXPECT_EQ(name_bytes(d), encode_for(ns, c.name));  // stored as given, never reversed
        EXPECT_EQ(name.str(), c.name);
      }
}

TEST_F(NameBuffer, RefusesANullNameBeforeMeasuringIt) {
  const uint32_t P = HVDPUT_INVALID_PARAMETER;
  EXPECT_EQ(HVDPPutFirstName(&buffer_, 2, 0, 0, nullptr, nullptr, nullptr, &handle_), P);
  EXPECT_EQ(HVDPPutFirstLName(&buffer_, 2, 0, 0, nullptr, nullptr, 3, nullptr, &handle_), P);
  EXPECT_EQ(HVDPPutOneName(&buffer_, 2, 0, 0, nullptr, nullptr, nullptr), P);
  EXPECT_EQ(HVDPPutOneLName(&buffer_, 2, 0, 0, nullptr, nullptr, 3, nullptr), P);
  EXPECT_EQ(buffer_, nullptr);  // nothing allocated
  EXPECT_EQ(handle_, nullptr);
  EXPECT_EQ(HVDPPutFirstName(nullptr, 2, 0, 0, nullptr, nullptr, "a", &handle_), P);
  EXPECT_EQ(HVDPPutFirstName(&buffer_, 2, 0, 0, nullptr, nullptr, "a", nullptr), P);
  ASSERT_EQ(HVDPPutFirstName(&buffer_, 2, 0, 0, nullptr, nullptr, "a", &handle_), 0u);
  EXPECT_EQ(HVDPPutNextName(&buffer_, &handle_, 2, 0, 0, nullptr, nullptr, nullptr), P);
  EXPECT_EQ(HVDPPutNextLName(&buffer_, &handle_, 2, 0, 0, nullptr, nullptr, 1, nullptr), P);
  EXPECT_EQ(HVDPPutNextName(&buffer_, nullptr, 2, 0, 0, nullptr, nullptr, "b"), P);
  EXPECT_EQ(buffer_->nameCount, 1);
}

TEST_F(NameBuffer, RestartingKeepsOneNameAndTheBlock) {
  ASSERT_EQ(HVDPPutFirstName(&buffer_, 0, 0, 0, nullptr, nullptr, "a", &handle_), 0u);
  const std::string big(1200, 'x');
  ASSERT_EQ(HVDPPutNextName(&buffer_, &handle_, 1, 0, 0, nullptr, nullptr, big.c_str()), 0u);
  ASSERT_EQ(HVDPPutNextName(&buffer_, &handle_, 2, 0, 0, nullptr, nullptr, "c"), 0u);
  ASSERT_EQ(HVDPCloseName(&handle_), 0u);
  const uint16_t size = buffer_->bufferSize;
  EXPECT_GT(size, 1024);
  ASSERT_EQ(HVDPPutOneName(&buffer_, 4, 0, 0, nullptr, nullptr, "d"), 0u);
  EXPECT_EQ(buffer_->bufferSize, size);
  EXPECT_EQ(image(), hex("00 00 11 00 01 00 04 00 00 00 00 00 00 00 00 01 00 64 00").replace(0, 2, std::string(reinterpret_cast<const char*>(&size), 2)));
}

TEST_F(NameBuffer, GrowsToExactlyTheSizeUsedOnceTheFirstBlockIsFull) {
  const std::string name(100, 'n');  // entries of 112 bytes
  ASSERT_EQ(HVDPPutFirstName(&buffer_, 2, 0, 0, nullptr, nullptr, name.c_str(), &handle_), 0u);
  size_t used = 6 + 112;
  std::vector<uint16_t> sizes;
  for (int i = 0; i < 12; ++i) {
    ASSERT_EQ(HVDPPutNextName(&buffer_, &handle_, 2, 0, 0, nullptr, nullptr, name.c_str()), 0u);
    used += 112;
    sizes.push_back(buffer_->bufferSize);
    EXPECT_EQ(buffer_->dataSize, used - 2);
  }
  // 1024 holds entries while 112 + 64 bytes are spare (up to 902 used
  // bytes); from then on every name resizes the block to the bytes used,
  // which first shrinks it.
  EXPECT_EQ(sizes,
            (std::vector<uint16_t>{1024, 1024, 1024, 1024, 1024, 1024, 1024, 1014, 1126, 1238, 1350, 1462}));
}

TEST_F(NameBuffer, StopsAt65535BytesAndKeepsWhatWasWritten) {
  const std::string name(1000, 'n');
  ASSERT_EQ(HVDPPutFirstName(&buffer_, 2, 0, 0, nullptr, nullptr, name.c_str(), &handle_), 0u);
  int written = 1;
  uint32_t code;
  while ((code = HVDPPutNextName(&buffer_, &handle_, 2, written, 0, nullptr, nullptr, name.c_str())) == 0) ++written;
  EXPECT_EQ(code, static_cast<uint32_t>(HVDPUT_OVERFLOW));
  EXPECT_EQ(written, 64);  // 6 + 65 * 1012 = 65786 would pass the limit
  const std::string before = image();
  EXPECT_EQ(HVDPPutNextLName(&buffer_, &handle_, 2, 0, 0, nullptr, nullptr, 70000, name.c_str()),
            static_cast<uint32_t>(HVDPUT_OVERFLOW));
  EXPECT_EQ(image(), before);
  // the handle stays open: a short name still fits
  EXPECT_EQ(HVDPPutNextName(&buffer_, &handle_, 2, 0, 0, nullptr, nullptr, "x"), 0u);
  EXPECT_LE(buffer_->bufferSize, 65535);
  EXPECT_EQ(buffer_->nameCount, written + 1);
  HVDPNameHandle* reader = nullptr;
  alignas(8) HVDPDataSetName d{};
  ASSERT_EQ(HVDPGetFirstName(buffer_, &d, &reader), 0u);
  for (int i = 1; i < written; ++i) {
    ASSERT_EQ(HVDPGetNextName(&reader, &d), 0u);
    EXPECT_EQ(d.nameTag, static_cast<uint32_t>(i));
    EXPECT_EQ(name_bytes(d), name);
  }
  EXPECT_EQ(HVDPCloseName(&reader), 0u);
}

TEST_F(NameBuffer, RefusesThe256thNameOfAHandle) {
  ASSERT_EQ(HVDPPutFirstName(&buffer_, 2, 0, 0, nullptr, nullptr, "a", &handle_), 0u);
  for (int i = 1; i < 255; ++i) ASSERT_EQ(HVDPPutNextName(&buffer_, &handle_, 2, i, 0, nullptr, nullptr, "a"), 0u);
  const std::string before = image();
  EXPECT_EQ(HVDPPutNextName(&buffer_, &handle_, 2, 0, 0, nullptr, nullptr, "a"),
            static_cast<uint32_t>(HVDPUT_NO_MORE_ENTRIES));
  EXPECT_EQ(image(), before);
  EXPECT_EQ(buffer_->nameCount, 255);
}

TEST_F(NameBuffer, RefusesMoreThan255Components) {
  std::string name;
  for (int i = 0; i < 256; ++i) name += "/a";
  EXPECT_EQ(HVDPPutFirstName(&buffer_, 2, 0, 0, nullptr, "/", name.c_str(), &handle_),
            static_cast<uint32_t>(HVDPUT_OVERFLOW));
  EXPECT_NE(handle_, nullptr);  // a failed first put leaves its handle open
  EXPECT_EQ(buffer_->nameCount, 0);
  name.resize(2 * 255);
  EXPECT_EQ(HVDPPutNextName(&buffer_, &handle_, 2, 0, 0, nullptr, "/", name.c_str()), 0u);
}

TEST_F(NameBuffer, ClosesReadingHandlesAtTheEnd) {
  ASSERT_EQ(HVDPPutFirstName(&buffer_, 2, 1, 0, nullptr, nullptr, "a", &handle_), 0u);
  ASSERT_EQ(HVDPPutNextName(&buffer_, &handle_, 0x102, 2, 0, nullptr, nullptr, "b"), 0u);
  alignas(8) HVDPDataSetName d{};
  HVDPNameHandle* reader = nullptr;
  EXPECT_EQ(HVDPGetNextName(&handle_, &d), static_cast<uint32_t>(HVDPUT_INVALID_HANDLE));  // a writing handle
  ASSERT_EQ(HVDPGetFirstName(buffer_, &d, &reader), 0u);
  EXPECT_EQ(d.nameTag, 1u);
  EXPECT_EQ(HVDPPutNextName(&buffer_, &reader, 2, 0, 0, nullptr, nullptr, "c"),
            static_cast<uint32_t>(HVDPUT_INVALID_HANDLE));  // a reading handle
  ASSERT_EQ(HVDPGetNextName(&reader, &d), 0u);
  EXPECT_EQ(d.nameTag, 2u);
  EXPECT_EQ(name_bytes(d), "b");
  EXPECT_EQ(HVDPGetNextName(&reader, &d), static_cast<uint32_t>(HVDPUT_NO_MORE_ENTRIES));
  EXPECT_EQ(reader, nullptr);
  EXPECT_EQ(HVDPGetNextName(&reader, &d), static_cast<uint32_t>(HVDPUT_INVALID_PARAMETER));
  EXPECT_EQ(HVDPCloseName(&reader), static_cast<uint32_t>(HVDPUT_INVALID_HANDLE));
  EXPECT_EQ(HVDPCloseName(nullptr), static_cast<uint32_t>(HVDPUT_INVALID_HANDLE));
  EXPECT_EQ(HVDPGetFirstName(nullptr, &d, &reader), static_cast<uint32_t>(HVDPUT_INVALID_PARAMETER));
  EXPECT_EQ(HVDPGetOneName(buffer_, nullptr), static_cast<uint32_t>(HVDPUT_INVALID_PARAMETER));
}

TEST_F(NameBuffer, FindsTheNameOfOneNameSpace) {
  ASSERT_EQ(HVDPPutFirstName(&buffer_, 0, 0, 0, nullptr, nullptr, "dos", &handle_), 0u);
  ASSERT_EQ(HVDPPutNextName(&buffer_, &handle_, 4, 0, 0, nullptr, nullptr, "nfs"), 0u);
  ASSERT_EQ(HVDPPutNextName(&buffer_, &handle_, 0x104, 0, 0, nullptr, nullptr, "utf"), 0u);
  alignas(8) HVDPDataSetName d{};
  ASSERT_EQ(HVDPGetDataSetName(buffer_, 4, &d), 0u);
  EXPECT_EQ(name_bytes(d), "nfs");
  EXPECT_EQ(HVDPGetDataSetName(buffer_, 1, &d), static_cast<uint32_t>(HVDPUT_NO_MORE_ENTRIES));
  EXPECT_EQ(name_bytes(d), "utf");  // the last one read
  ASSERT_EQ(HVDPGetOneName(buffer_, &d), 0u);
  EXPECT_EQ(name_bytes(d), "dos");
}

TEST_F(NameBuffer, RefusesAppendsToABlockReplacedBehindTheHandle) {
  ASSERT_EQ(HVDPPutFirstName(&buffer_, 2, 0, 0, nullptr, nullptr, "a", &handle_), 0u);
  HVDPNameBuffer* other = nullptr;
  ASSERT_EQ(HVDPPutOneName(&other, 2, 0, 0, nullptr, nullptr, "b"), 0u);
  EXPECT_EQ(HVDPPutNextName(&other, &handle_, 2, 0, 0, nullptr, nullptr, "c"),
            static_cast<uint32_t>(HVDPUT_INVALID_PARAMETER));
  std::free(other);
}

void* failing_realloc(void*, size_t) { return nullptr; }

TEST_F(NameBuffer, FreesTheBlockWhenAResizeFails) {
  const std::string name(900, 'n');
  ASSERT_EQ(HVDPPutFirstName(&buffer_, 2, 0, 0, nullptr, nullptr, name.c_str(), &handle_), 0u);
  dpxut::names::set_realloc_for_testing(&failing_realloc);
  EXPECT_EQ(HVDPPutNextName(&buffer_, &handle_, 2, 0, 0, nullptr, nullptr, name.c_str()),
            static_cast<uint32_t>(HVDPUT_OUT_OF_MEMORY));
  EXPECT_EQ(buffer_, nullptr);  // the block is gone, and released (the leak check would see it)
  EXPECT_EQ(HVDPPutNextName(&buffer_, &handle_, 2, 0, 0, nullptr, nullptr, "x"),
            static_cast<uint32_t>(HVDPUT_INVALID_HANDLE));
  EXPECT_EQ(HVDPCloseName(&handle_), 0u);
}

TEST_F(NameBuffer, ReadsAtMostNameLengthBytesWithoutSeparators) {
  const char unterminated[3] = {'a', 'b', 'c'};
  ASSERT_EQ(HVDPPutOneLName(&buffer_, 0x202, 0, 0, nullptr, nullptr, 3, unterminated), 0u);
  EXPECT_EQ(image(), hex("00 04 13 00 01 00 02 02 00 00 00 00 00 00 00 03 00 61 62 63 00"));
}

TEST_F(NameBuffer, CountPositionsTakesItsArgumentsInItsOwnOrder) {
  uint16_t count = 0;
  CountPositions(":", "/", "VOL:dir/sub/file", 2, 0, &count);
  EXPECT_EQ(count, 4);
}

// An image whose last byte lies just below a page that cannot be read: a
// reader that looks one byte too far faults.
class GuardedImage : public dpxut::test::GuardedBytes {
 public:
  explicit GuardedImage(const std::string& bytes) : GuardedBytes(std::string_view(bytes)) {}
  const HVDPNameBuffer* get() { return reinterpret_cast<const HVDPNameBuffer*>(data()); }
};

struct HostileCase {
  const char* what;
  const char* image;
  int good;        // entries that read
  uint32_t after;  // code after them
};

const uint32_t U = HVDPUT_BUFFER_UNDERFLOW, E = HVDPUT_NO_MORE_ENTRIES;
const HostileCase kHostile[] = {
    {"sound image, flush with the guard", "14 00 12 00 01 00  02 00 00 00 00 00 00 00 00 02 00 61 62 00", 1, E},
    {"count says two, one entry", "14 00 12 00 02 00  02 00 00 00 00 00 00 00 00 02 00 61 62 00", 1, U},
    {"name longer than the data", "14 00 12 00 01 00  02 00 00 00 00 00 00 00 00 03 00 61 62 00", 0, U},
    {"name without its zero byte", "14 00 12 00 01 00  02 00 00 00 00 00 00 00 00 02 00 61 62 63", 0, U},
    {"255 positions in 20 bytes", "14 00 12 00 01 00  02 00 00 00 00 00 00 00 FF 02 00 61 62 00", 0, U},
    {"header extra beyond the data", "14 00 12 00 01 C8  02 00 00 00 00 00 00 00 00 02 00 61 62 00", 0, U},
    {"dataSize beyond bufferSize", "14 00 FF FF 02 00  02 00 00 00 00 00 00 00 00 02 00 61 62 00", 1, U},
    {"dataSize short of the entry", "14 00 10 00 01 00  02 00 00 00 00 00 00 00 00 02 00 61 62 00", 0, U},
    {"bufferSize short of the entry", "10 00 12 00 01 00  02 00 00 00 00 00 00 00 00 02 00 61 62 00", 0, U},
    {"empty: dataSize 0, stale count", "14 00 00 00 03 00  02 00 00 00 00 00 00 00 00 02 00 61 62 00", 0, E},
    {"no room for a header", "03 00 40", 0, E},
    {"entry cut after its name space", "0A 00 08 00 01 00  02 00 00 00", 0, U},
    {"nameLength 0xFFFF", "14 00 12 00 01 00  02 00 00 00 00 00 00 00 00 FF FF 61 62 00", 0, U},
};

TEST_F(NameBuffer, RejectsImagesWithLyingCountsAndLengths) {
  for (const auto& c : kHostile) {
    SCOPED_TRACE(c.what);
    GuardedImage image(hex(c.image));
    alignas(8) HVDPDataSetName d{};
    HVDPNameHandle* reader = nullptr;
    uint32_t code = HVDPGetFirstName(image.get(), &d, &reader);
    int good = 0;
    while (code == 0) {
      ++good;
      EXPECT_EQ(name_bytes(d), "ab");
      code = HVDPGetNextName(&reader, &d);
    }
    EXPECT_EQ(good, c.good);
    EXPECT_EQ(code, c.after);
    EXPECT_EQ(reader, nullptr);  // closed on every way out

    alignas(8) HVDPDataSetName untouched{};
    untouched.nameTag = 77;
    EXPECT_EQ(HVDPGetOneName(image.get(), &untouched), c.good > 0 ? 0u : c.after);
    if (c.good == 0) {
      EXPECT_EQ(untouched.nameTag, 77u);
    }
    EXPECT_EQ(HVDPGetDataSetName(image.get(), 9, &d), c.after);
    EXPECT_EQ(dpxut::names::check_image(image.get()), c.after == E ? 0u : c.after);
  }
}

// Buffers built from random names read back exactly; corrupted copies of
// them read without fault, and every walk agrees with the image check.
TEST_F(NameBuffer, ReadsBackRandomBuffersAndSurvivesTheirCorruption) {
  std::mt19937 rng(12345);
  const uint32_t spaces[] = {0, 1, 2, 4, 0x100, 0x102, 0x200, 0x204, 3, 0x103};
  const char* alphabet[] = {"a", "/", ":", "\\", "\u00e9", "b"};
  for (int round = 0; round < 200; ++round) {
    const int names = 1 + static_cast<int>(rng() % 8);
    std::vector<std::pair<uint32_t, std::string>> written;
    for (int i = 0; i < names; ++i) {
      uint32_t ns = spaces[rng() % 10];
      std::string text;
      for (int k = static_cast<int>(rng() % 30); k > 0; --k) text += alphabet[rng() % 6];
      NsText name(ns, text, rng() % 4, 256);
      const bool reverse = rng() % 2;
      const void* sep = GenericString(ns, "/");
      const void* first = rng() % 2 ? GenericString(ns, ":") : nullptr;
      uint32_t code = i == 0 ? HVDPPutFirstName(&buffer_, ns, i, reverse, first, sep, name.p(), &handle_)
                             : HVDPPutNextName(&buffer_, &handle_, ns, i, reverse, first, sep, name.p());
      if (code == 0) written.emplace_back(ns, encode_for(ns, text));
    }
    ASSERT_EQ(HVDPCloseName(&handle_), 0u);
    alignas(8) HVDPDataSetName d{};
    HVDPNameHandle* reader = nullptr;
    size_t i = 0;
    for (uint32_t code = HVDPGetFirstName(buffer_, &d, &reader); code == 0; code = HVDPGetNextName(&reader, &d), ++i) {
      ASSERT_LT(i, written.size());
      EXPECT_EQ(d.nameSpace, written[i].first);
      EXPECT_EQ(name_bytes(d), written[i].second);
      for (uint16_t p : table(d.componentPositions, d.positionCount)) EXPECT_TRUE(p == X || p <= d.nameLength);
    }
    EXPECT_EQ(i, written.size());

    std::string bytes = image();
    for (int k = 0; k < 50; ++k) {
      std::string damaged = bytes;
      for (int flips = 1 + static_cast<int>(rng() % 3); flips > 0; --flips)
        damaged[rng() % damaged.size()] = static_cast<char>(rng());
      if (rng() % 4 == 0) damaged.resize(std::max<size_t>(6, rng() % damaged.size()));
      uint16_t size = static_cast<uint16_t>(damaged.size());
      std::memcpy(damaged.data(), &size, 2);  // the block really is this long
      GuardedImage guarded(damaged);
      uint32_t expected = dpxut::names::check_image(guarded.get());
      uint32_t code = HVDPGetFirstName(guarded.get(), &d, &reader);
      while (code == 0) code = HVDPGetNextName(&reader, &d);
      EXPECT_EQ(code == HVDPUT_NO_MORE_ENTRIES ? 0u : code, expected);
    }
  }
}

}  // namespace
