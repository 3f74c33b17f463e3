// Path splitting in every name space and encoding: trailing separators, the
// last component, cutting it off, volumes, absolute paths, DOS 8.3 names and
// the component count of the name buffer. Every case runs on locale bytes,
// UTF-8 and wide text, the text at offsets 0-3 of an aligned buffer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "charset/charset_test_util.h"
#include "paths/ns_text.h"
#include "support/guard_page.h"

namespace {

using dpxut::test::forms_of;
using dpxut::test::NsText;

class Paths : public ::testing::Test {
 protected:
  void SetUp() override { dpxut::test::use_locale("en_US.UTF-8"); }
};

constexpr long kUntouched = -2;

struct StripCase {
  uint32_t base;
  const char* path;
  const char* after;
  char removed;  // 0: nothing removed
  long where;    // index, -1 for null, kUntouched
};

const StripCase kStripCases[] = {
    {2, "/usr/lib/", "/usr/lib", '/', 8},
    {0, "VOL:dir\\sub\\", "VOL:dir\\sub", '\\', 11},
    {0, "a\\b/", "a\\b", '/', 3},
    {1, "VOL:a:b:", "VOL:a:b", ':', 7},
    {1, "VOL::", "VOL::", 0, kUntouched},  // the doubled colon of a volume stays
    {1, "a/", "a/", 0, kUntouched},
    {2, "a\\", "a\\", 0, kUntouched},
    {2, "/", "/", 0, -1},  // one character: never stripped
    {2, "", "", 0, -1},
    {2, "abc", "abc", 0, kUntouched},
    {2, "//", "/", '/', 1},
    {3, "x/", "x", '/', 1},
    {4, "x/", "x", '/', 1},
    {0x103, "x/", "x/", 0, kUntouched},  // no separators in these
    {5, "x/", "x/", 0, kUntouched},
};

TEST_F(Paths, StripsOneTrailingSeparatorByTheRuleOfTheNameSpace) {
  for (const auto& c : kStripCases)
    for (uint32_t ns : forms_of(c.base))
      for (size_t offset = 0; offset < 4; ++offset) {
        SCOPED_TRACE(::testing::Message() << "ns " << std::hex << ns << " offset " << offset << " " << c.path);
        NsText text(ns, c.path, offset);
        void* sentinel = &text;
        void* where = sentinel;
        const void* sep = HVDPGenericStripEndSeparator(ns, text.p(), &where);
        EXPECT_EQ(text.str(), c.after);
        EXPECT_EQ(sep, c.removed ? GenericChar(ns, c.removed) : nullptr);
        if (c.where == kUntouched)
          EXPECT_EQ(where, sentinel);
        else
          EXPECT_EQ(text.index_of(where), c.where);

        NsText again(ns, c.path, offset);
        EXPECT_EQ(HVDPStripEndSeparator(ns, again.p(), nullptr), static_cast<uint32_t>(c.removed));
        EXPECT_EQ(again.str(), c.after);
      }
}

struct ChildCase {
  uint32_t base;
  const char* path;
  const char* child;  // nullptr: no separator
};

const ChildCase kChildCases[] = {
    {2, "/usr/lib/", "lib/"},  // keeps its trailing separator
    {2, "/usr/lib", "lib"},
    {2, "abc", nullptr},
    {2, "/", ""},
    {2, "//", "/"},
    {0, "VOL:dir\\sub\\", "sub\\"},
    {0, "a\\b/c", "c"},
    {0, "a/b\\c", "c"},
    {1, "VOL:a:b", "b"},
    {1, "VOL::", ""},
    {4, "a/b", "b"},
    {5, "/a/b", nullptr},
    {0x10002, "/a/b/", ""},  // the low 16 bits find separators; the whole number strips none
};

TEST_F(Paths, FindsTheLastComponentAndLeavesThePathAsItWas) {
  for (const auto& c : kChildCases)
    for (uint32_t ns : forms_of(c.base))
      for (size_t offset = 0; offset < 4; ++offset) {
        SCOPED_TRACE(::testing::Message() << "ns " << std::hex << ns << " offset " << offset << " " << c.path);
        NsText text(ns, c.path, offset);
        void* child = &text;
        void* result = HVDPGetPathChild(ns, text.p(), &child);
        EXPECT_EQ(result, child);
        EXPECT_EQ(text.str(), c.path);
        EXPECT_EQ(text.decode_at(result), c.child ? c.child : "<null>");
        EXPECT_EQ(HVDPGetPathChild(ns, text.p(), nullptr), result);
      }
}

struct StripChildCase {
  uint32_t base;
  const char* path;
  const char* raw;    // the path's units afterwards, terminators as '|'
  const char* child;  // as copied into a roomy child
  long end;           // index of the returned end, -1 for null
};

const StripChildCase kStripChildCases[] = {
    {2, "a/b/c/", "a/b/|/|", "c", 4},  // the trailing separator stays past the new end
    {2, "a/b/c", "a/b/||", "c", 4},
    {2, "abc", "abc|", "", -1},
    {2, "a//", "a/||", "", 2},  // the cut falls on the trailing separator
    {2, "/", "/|", "", 1},
    {0, "C:\\dir\\file.txt", "C:\\dir\\|ile.txt|", "file.txt", 7},
    {1, "VOL::dir:sub", "VOL::dir:|ub|", "sub", 9},
    {5, "a/b", "a/b|", "", -1},
};

TEST_F(Paths, CutsAfterTheLastSeparatorAndCopiesTheChild) {
  for (const auto& c : kStripChildCases)
    for (uint32_t ns : forms_of(c.base))
      for (size_t offset = 0; offset < 4; ++offset) {
        SCOPED_TRACE(::testing::Message() << "ns " << std::hex << ns << " offset " << offset << " " << c.path);
        NsText text(ns, c.path, offset);
        NsText child(ns, "", 3, 301);
        void* end = HVDPStripPathChild(ns, text.p(), child.p(), 301);
        EXPECT_EQ(text.raw(std::string(c.path).size() + 1), c.raw);
        EXPECT_EQ(text.index_of(end), c.end);
        EXPECT_EQ(child.str(), c.child);

        NsText again(ns, c.path, offset);
        EXPECT_EQ(again.index_of(HVDPStripPathChild(ns, again.p(), nullptr, 0)), c.end);
      }
}

// The child's size is a byte count in every encoding: a 301-byte array takes
// 300 locale bytes or 74 wide characters, always with a terminator, and
// nothing beyond it is written.
TEST_F(Paths, BoundsTheChildByItsRealSize) {
  const std::string leaf(400, 'x');
  struct Case {
    uint32_t childSize;
    size_t byteChars, wideChars;  // characters copied
  };
  const Case cases[] = {{301, 300, 74}, {23, 22, 4}, {8, 7, 1}, {4, 3, 0}, {1, 0, 0}};
  for (const auto& c : cases)
    for (uint32_t ns : forms_of(2))
      for (size_t offset = 0; offset < 4; ++offset) {
        SCOPED_TRACE(::testing::Message() << "ns " << std::hex << ns << std::dec << " size " << c.childSize);
        NsText text(ns, "dir/" + leaf, offset, 500);
        std::vector<unsigned char> child(c.childSize + 64, 0xEE);
        HVDPStripPathChild(ns, text.p(), child.data() + offset, c.childSize);
        const bool wide = HVDPIsNameSpaceUnicode(ns);
        const size_t chars = wide ? c.wideChars : c.byteChars;
        const size_t unit = wide ? 4 : 1;
        const size_t units = c.childSize / unit;
        NsText view(ns, "");
        if (units > 0) {
          EXPECT_EQ(view.decode_at(child.data() + offset), std::string(chars, 'x'));
        }
        for (size_t i = offset + units * unit; i < child.size(); ++i) ASSERT_EQ(child[i], 0xEE) << i;
        EXPECT_EQ(text.str(), "dir/");
      }
}

TEST_F(Paths, WritesNothingIntoAChildTooSmallForOneCharacter) {
  NsText text(0x202, "a/b");
  unsigned char child[4] = {1, 2, 3, 4};
  EXPECT_EQ(text.index_of(HVDPStripPathChild(0x202, text.p(), child, 3)), 2);
  EXPECT_EQ(child[0], 1);
  EXPECT_EQ(child[2], 3);
  EXPECT_EQ(HVDPStripPathChild(2, nullptr, child, 0), nullptr);
}

struct QualifiedCase {
  uint32_t base;
  const char* path;
  int32_t notQualified;
};

const QualifiedCase kQualifiedCases[] = {
    {2, "/usr/lib/x", 0}, {2, "VOL:dir/sub", 1}, {2, "//", 0},  {2, "/", 0},      {2, "", 1},
    {2, "usr/", 1},       {0, "/x", 0},          {0, "\\x", 1}, {1, "/x", 0},     {4, "/x/", 0},
    {5, "/x", 1},         {0x103, "/x", 1},      {3, "/x", 0},  {0x10002, "/x", 0},
};

TEST_F(Paths, TellsAbsolutePathsAndPutsTheTrailingSeparatorBack) {
  for (const auto& c : kQualifiedCases)
    for (uint32_t ns : forms_of(c.base))
      for (size_t offset = 0; offset < 4; ++offset) {
        SCOPED_TRACE(::testing::Message() << "ns " << std::hex << ns << " " << c.path);
        NsText text(ns, c.path, offset);
        EXPECT_EQ(HVDPPathIsNotFullyQualified(ns, text.p()), c.notQualified);
        EXPECT_EQ(text.str(), c.path);
      }
  EXPECT_EQ(HVDPPathIsNotFullyQualified(2, nullptr), 1);
}

struct VolumeCase {
  uint32_t base;
  const char* path;
  const char* volume;  // nullptr: none
  const char* rest;
};

const VolumeCase kVolumeCases[] = {
    {2, "VOL:dir/x", "VOL:", "dir/x"},
    {1, "VOL::dir", "VOL:", "dir"},
    {1, "VOL:dir", nullptr, "VOL:dir"},
    {2, "dir/x", nullptr, "dir/x"},
    {2, "VOL:", "VOL:", ""},
    {0, "C:\\x", "C:", "\\x"},
    {2, "ABCDEFGHIJKLMNO:x", "ABCDEFGHIJKLMNO:", "x"},  // 15 characters and the colon
    {2, "ABCDEFGHIJKLMNOP:x", nullptr, "ABCDEFGHIJKLMNOP:x"},
    {1, "ABCDEFGHIJKLMNO::x", "ABCDEFGHIJKLMNO:", "x"},
    {1, "ABCDEFGHIJKLMNOP::x", nullptr, "ABCDEFGHIJKLMNOP::x"},
};

TEST_F(Paths, CopiesVolumesOfAtMostSixteenCharacters) {
  for (const auto& c : kVolumeCases)
    for (uint32_t ns : forms_of(c.base))
      for (size_t offset = 0; offset < 4; ++offset) {
        SCOPED_TRACE(::testing::Message() << "ns " << std::hex << ns << " " << c.path);
        NsText text(ns, c.path, offset);
        NsText volume(ns, "", (offset + 1) % 4, 16);
        void* cursor = text.p();
        void* result = HVDPGetVolume(&cursor, ns, volume.p());
        EXPECT_EQ(text.str(), c.path);
        EXPECT_EQ(text.decode_at(cursor), c.rest);
        if (c.volume == nullptr) {
          EXPECT_EQ(result, nullptr);
        } else {
          EXPECT_EQ(result, volume.p());
          EXPECT_EQ(volume.str(), c.volume);
        }
        EXPECT_TRUE(volume.guard_intact());
      }
}

TEST_F(Paths, ReportsTheLastSeparatorButNeverAVolume) {
  NsText text(0x200, "a\\b/c\\d");
  void* path = text.p();
  void* volume = &text;
  void* last = nullptr;
  GetVolumeAndLastSeparator(0x200, &path, &volume, &last);
  EXPECT_EQ(volume, nullptr);
  EXPECT_EQ(text.index_of(last), 5);
  EXPECT_EQ(path, text.p());

  volume = &text;
  GetVolumeAndLastSeparator(7, &path, &volume, &last);  // no separators: path pointer cleared
  EXPECT_EQ(path, nullptr);
  EXPECT_EQ(last, nullptr);
  EXPECT_EQ(volume, &text);
}

TEST_F(Paths, AcceptsDosNamesByLengthsAndDotsOnly) {
  const struct {
    const char* name;
    int32_t legal;
  } cases[] = {
      {"ABCDEFGH", 1},       {"ABCDEFGH.TXT", 1}, {"ABCDEFGH.", 1},     {"", 1},      {"A.B", 1},
      {"\xE4\xF6.\x80", 1},  {"ABCDEFGHI", 0},    {"ABCDEFGH.TEXT", 0}, {"A.B.C", 0}, {".PROFILE", 0},
      {"ABCDEFGHI.TX", 0},   {"ABCDEFGHIJKLM", 0}, {"A.", 1},           {".", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(HVDPLegalDOSName(c.name), c.legal) << c.name;
  EXPECT_EQ(HVDPLegalDOSName(nullptr), 0);
}

struct CountCase {
  const char* first;  // generic string key, nullptr for none
  const char* separator;
  const char* name;
  uint16_t count;
};

const CountCase kCountCases[] = {
    {":", "/", "VOL:dir/sub/file", 4}, {":", "/", "VOL:", 1},   {":", "/", "VOL:/dir/", 2},
    {":", "/", "dir/x", 0},            {nullptr, "/", "dir/sub/file", 3},
    {nullptr, "/", "dir/sub/", 3},     {nullptr, "/", "/dir/sub", 2},
    {nullptr, "/", "/dir", 1},         {nullptr, "/", "dir", 0}, {":", nullptr, "VOL:dir/x", 2},
    {nullptr, nullptr, "a/b", 0},      {"::", "/", "VOL::a/b", 3},
    {":", "//", "V:a//b//", 3},        {nullptr, "//", "a//b", 2},
};

TEST_F(Paths, CountsComponentsInEveryEncoding) {
  for (const auto& c : kCountCases)
    for (uint32_t ns : forms_of(2))
      for (size_t offset = 0; offset < 4; ++offset) {
        SCOPED_TRACE(::testing::Message() << "ns " << std::hex << ns << " " << c.name);
        NsText name(ns, c.name, offset);
        const void* first = c.first ? GenericString(ns, c.first) : nullptr;
        const void* separator = c.separator ? GenericString(ns, c.separator) : nullptr;
        uint16_t count = 0xABCD;
        GenericCountPositions(ns, first, separator, name.p(), &count);
        EXPECT_EQ(count, c.count);
        // an empty first separator counts as none
        if (c.first == nullptr) {
          NsText empty(ns, "", offset);
          GenericCountPositions(ns, empty.p(), separator, name.p(), &count);
          EXPECT_EQ(count, c.count);
        }
        EXPECT_EQ(name.str(), c.name);
      }
}

TEST_F(Paths, CountsBeyondSixteenBitsAsTheLargestCount) {
  std::string name;
  for (int i = 0; i < 70000; ++i) name += "/a";
  uint16_t count = 0;
  GenericCountPositions(2, nullptr, "/", name.c_str(), &count);
  EXPECT_EQ(count, 0xFFFF);
  GenericCountPositions(2, nullptr, "/", name.c_str(), nullptr);  // no counter: nothing to do
}

// Paths that end flush against an unreadable page: no function reads past
// the terminator, in any encoding.
TEST_F(Paths, ReadsNothingPastTheTerminator) {
  const char* paths[] = {"", "/", "//", "a", "VOL:", "VOL::", "VOL:dir/sub/", "a\\b\\", "x:y:", "/usr/lib/x"};
  for (uint32_t base : {0u, 1u, 2u, 5u})
    for (uint32_t ns : forms_of(base))
      for (const char* path : paths) {
        SCOPED_TRACE(::testing::Message() << "ns " << std::hex << ns << " " << path);
        const std::string raw = dpxut::test::encode_for(ns, path) + std::string(DPsizeOfChar(ns), '\0');
        dpxut::test::GuardedBytes text{std::string_view(raw)};
        unsigned char child[301], volume[68];
        void* cursor = text.data();
        uint16_t count = 0;
        GenericCountPositions(ns, GenericString(ns, ":"), GenericString(ns, "/"), text.data(), &count);
        HVDPPathIsNotFullyQualified(ns, text.data());
        HVDPGetPathChild(ns, text.data(), nullptr);
        HVDPGetVolume(&cursor, ns, volume);
        EXPECT_EQ(std::string(text.chars(), raw.size()), raw);
        HVDPStripPathChild(ns, text.data(), child, sizeof child);
        HVDPStripEndSeparator(ns, text.data(), nullptr);
        if (!HVDPIsNameSpaceUnicode(ns)) HVDPLegalDOSName(text.chars());
      }
}

}  // namespace
