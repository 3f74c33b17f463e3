// Path splitting in every name space and encoding: trailing separators, the
// last component, cutting it off, volumes, absolute paths, DOS 8.3 names and
// the component count of the name buffer. Table cases run on locale bytes,
// UTF-8 and wide text at offsets 0-3 of an aligned buffer ('|' in expected
// bytes is a terminator).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "charset/charset_test_util.h"
#include "paths/ns_text.h"
#include "support/guard_page.h"

namespace {

using dpxut::test::each_form;
using dpxut::test::enc;
using dpxut::test::forms_of;
using dpxut::test::NsText;

class Paths : public ::testing::Test {
 protected:
  void SetUp() override { dpxut::test::use_locale("en_US.UTF-8"); }
};

constexpr long kUntouched = -2;

TEST_F(Paths, StripsOneTrailingSeparatorByTheRuleOfTheNameSpace) {
  const struct {
    uint32_t base;
    const char *path, *after;
    char removed;  // 0: nothing
    long where;    // index, -1 for null, or kUntouched
  } cases[] = {
      {2, "/usr/lib/", "/usr/lib", '/', 8},   {0, "VOL:dir\\sub\\", "VOL:dir\\sub", '\\', 11},
      {0, "a\\b/", "a\\b", '/', 3},           {1, "VOL:a:b:", "VOL:a:b", ':', 7},
      {1, "VOL::", "VOL::", 0, kUntouched},   // a volume's doubled colon stays
      {1, "a/", "a/", 0, kUntouched},         {2, "a\\", "a\\", 0, kUntouched},
      {2, "/", "/", 0, -1},                   {2, "", "", 0, -1},  // one character or none: never
      {2, "abc", "abc", 0, kUntouched},       {2, "//", "/", '/', 1},
      {3, "x/", "x", '/', 1},                 {4, "x/", "x", '/', 1},
      {0x103, "x/", "x/", 0, kUntouched},     {5, "x/", "x/", 0, kUntouched},
  };
  for (const auto& c : cases)
    each_form(c.base, c.path, [&](uint32_t ns, size_t offset) {
      NsText text(ns, c.path, offset);
      void* where = &text;
      const void* sep = HVDPGenericStripEndSeparator(ns, text.p(), &where);
      EXPECT_EQ(text.str(), enc(ns, c.after));
      EXPECT_EQ(sep, c.removed ? GenericChar(ns, c.removed) : nullptr);
      EXPECT_EQ(where == &text ? kUntouched : text.index_of(where), c.where);
      NsText again(ns, c.path, offset);
      EXPECT_EQ(HVDPStripEndSeparator(ns, again.p(), nullptr), static_cast<uint32_t>(c.removed));
    });
}

TEST_F(Paths, FindsTheLastComponentAndLeavesThePathAsItWas) {
  const struct {
    uint32_t base;
    const char *path, *child;  // null: no separator
  } cases[] = {
      {2, "/usr/lib/", "lib/"},  // keeps its trailing separator
      {2, "/usr/lib", "lib"},        {2, "abc", nullptr},   {2, "/", ""},        {2, "//", "/"},
      {0, "VOL:dir\\sub\\", "sub\\"}, {0, "a\\b/c", "c"},  {0, "a/b\\c", "c"},  {1, "VOL:a:b", "b"},
      {1, "VOL::", ""},              {4, "a/b", "b"},      {5, "/a/b", nullptr},
      {0x10002, "/a/b/", ""},  // the low 16 bits find separators; the whole number strips none
  };
  for (const auto& c : cases)
    each_form(c.base, c.path, [&](uint32_t ns, size_t offset) {
      NsText text(ns, c.path, offset);
      void* child = &text;
      void* result = HVDPGetPathChild(ns, text.p(), &child);
      EXPECT_EQ(result, child);
      EXPECT_EQ(text.str(), enc(ns, c.path));
      EXPECT_EQ(result ? text.str(result) : "null", c.child ? enc(ns, c.child) : "null");
    });
}

TEST_F(Paths, CutsAfterTheLastSeparatorAndCopiesTheChild) {
  const struct {
    uint32_t base;
    const char *path, *bytes, *child;  // the path's bytes afterwards, with its old terminator
    long end;                         // index of the new end, -1 for null
  } cases[] = {
      {2, "a/b/c/", "a/b/|/|", "c", 4},  // the trailing separator stays past the new end
      {2, "a/b/c", "a/b/||", "c", 4},     {2, "abc", "abc|", "", -1},
      {2, "a//", "a/||", "", 2},  // the cut falls on the trailing separator: it is not put back
      {2, "/", "/|", "", 1},              {0, "C:\\dir\\f.txt", "C:\\dir\\|.txt|", "f.txt", 7},
      {1, "VOL::dir:sub", "VOL::dir:|ub|", "sub", 9}, {5, "a/b", "a/b|", "", -1},
  };
  for (const auto& c : cases)
    each_form(c.base, c.path, [&](uint32_t ns, size_t offset) {
      NsText text(ns, c.path, offset), child(ns, "x", 3);
      void* end = HVDPStripPathChild(ns, text.p(), child.p(), 301);
      EXPECT_EQ(text.bytes(enc(ns, c.bytes).size()), enc(ns, c.bytes));
      EXPECT_EQ(text.index_of(end), c.end);
      EXPECT_EQ(child.str(), enc(ns, c.child));
    });
}

// The child's size is a byte count in every encoding: a 301-byte array takes
// 300 locale bytes or 74 wide characters and a terminator; nothing beyond
// the size is written, and a child without room for one character is left
// alone.
TEST_F(Paths, BoundsTheChildByItsRealSize) {
  const struct {
    uint32_t size;
    size_t byteChars, wideChars;
  } cases[] = {{301, 300, 74}, {23, 22, 4}, {8, 7, 1}, {4, 3, 0}, {3, 2, 0}, {1, 0, 0}, {0, 0, 0}};
  for (const auto& c : cases)
    each_form(2, "dir/xxx...", [&](uint32_t ns, size_t offset) {
      NsText text(ns, "dir/" + std::string(400, 'x'), offset, 2000);
      std::vector<unsigned char> child(c.size + 64, 0xEE);
      HVDPStripPathChild(ns, text.p(), child.data() + offset, c.size);
      const size_t unit = DPsizeOfChar(ns), written = c.size / unit * unit;
      const size_t chars = unit == 4 ? c.wideChars : c.byteChars;
      const std::string got(reinterpret_cast<char*>(child.data()) + offset, child.size() - offset);
      const std::string copied = written ? enc(ns, std::string(chars, 'x')) : "";
      EXPECT_EQ(got, copied + std::string(written - copied.size(), '\0') + std::string(got.size() - written, '\xEE'));
      EXPECT_EQ(text.str(), enc(ns, "dir/"));
    });
}

TEST_F(Paths, TellsAbsolutePathsAndPutsTheTrailingSeparatorBack) {
  const struct {
    uint32_t base;
    const char* path;
    int32_t notQualified;
  } cases[] = {{2, "/usr/lib/x", 0}, {2, "VOL:dir/sub", 1}, {2, "//", 0}, {2, "/", 0}, {2, "", 1},
               {2, "usr/", 1},       {0, "/x", 0},          {0, "\\x", 1}, {1, "/x", 0}, {4, "/x/", 0},
               {5, "/x", 1},         {0x103, "/x", 1},      {3, "/x", 0},  {0x10002, "/x", 0}};
  for (const auto& c : cases)
    each_form(c.base, c.path, [&](uint32_t ns, size_t offset) {
      NsText text(ns, c.path, offset);
      EXPECT_EQ(HVDPPathIsNotFullyQualified(ns, text.p()), c.notQualified);
      EXPECT_EQ(text.str(), enc(ns, c.path));
    });
}

TEST_F(Paths, CopiesVolumesOfAtMostSixteenCharacters) {
  const struct {
    uint32_t base;
    const char *path, *volume, *rest;  // volume null: none
  } cases[] = {
      {2, "VOL:dir/x", "VOL:", "dir/x"},  {1, "VOL::dir", "VOL:", "dir"},   {1, "VOL:dir", nullptr, "VOL:dir"},
      {2, "dir/x", nullptr, "dir/x"},     {2, "VOL:", "VOL:", ""},          {0, "C:\\x", "C:", "\\x"},
      {2, "ABCDEFGHIJKLMNO:x", "ABCDEFGHIJKLMNO:", "x"},  // 15 characters and the colon
      {2, "ABCDEFGHIJKLMNOP:x", nullptr, "ABCDEFGHIJKLMNOP:x"},
      {1, "ABCDEFGHIJKLMNO::x", "ABCDEFGHIJKLMNO:", "x"},
      {1, "ABCDEFGHIJKLMNOP::x", nullptr, "ABCDEFGHIJKLMNOP::x"},
  };
  for (const auto& c : cases)
    each_form(c.base, c.path, [&](uint32_t ns, size_t offset) {
      NsText text(ns, c.path, offset), volume(ns, std::string(20, '#'), (offset + 1) % 4);
      void* cursor = text.p();
      void* result = HVDPGetVolume(&cursor, ns, volume.p());
      EXPECT_EQ(text.str(), enc(ns, c.path));
      EXPECT_EQ(text.str(cursor), enc(ns, c.rest));
      EXPECT_EQ(result, c.volume ? volume.p() : nullptr);
      EXPECT_EQ(c.volume ? volume.str() : "", c.volume ? enc(ns, c.volume) : "");
      EXPECT_EQ(volume.bytes(17 * DPsizeOfChar(ns) + 1).back(), '#');  // 16 and a terminator at most
    });
}

TEST_F(Paths, ReportsTheLastSeparatorButNeverAVolume) {
  NsText text(0x200, "a\\b/c\\d", 1);
  void *path = text.p(), *volume = &text, *last = nullptr;
  GetVolumeAndLastSeparator(0x200, &path, &volume, &last);
  EXPECT_EQ(text.index_of(last), 5);
  EXPECT_EQ(volume, nullptr);
  volume = &text;
  GetVolumeAndLastSeparator(7, &path, &volume, &last);  // no separators: the path pointer is cleared
  EXPECT_EQ(path, nullptr);
  EXPECT_EQ(last, nullptr);
  EXPECT_EQ(volume, &text);
}

TEST_F(Paths, AcceptsDosNamesByLengthsAndDotsOnly) {
  for (const char* legal : {"ABCDEFGH", "ABCDEFGH.TXT", "ABCDEFGH.", "", "A.B", "\xE4\xF6.\x80", "A."})
    EXPECT_EQ(HVDPLegalDOSName(legal), 1) << legal;
  for (const char* illegal : {"ABCDEFGHI", "ABCDEFGH.TEXT", "A.B.C", ".PROFILE", "ABCDEFGHI.TX", ".", "ABCDEFGHIJKLM"})
    EXPECT_EQ(HVDPLegalDOSName(illegal), 0) << illegal;
  EXPECT_EQ(HVDPLegalDOSName(nullptr), 0);
}

TEST_F(Paths, CountsComponentsInEveryEncoding) {
  const struct {
    const char *first, *separator, *name;  // generic string keys, null for none
    uint16_t count;
  } cases[] = {
      {":", "/", "VOL:dir/sub/file", 4}, {":", "/", "VOL:", 1},       {":", "/", "VOL:/dir/", 2},
      {":", "/", "dir/x", 0},            {"", "/", "dir/sub/file", 3}, {nullptr, "/", "dir/sub/", 3},
      {nullptr, "/", "/dir/sub", 2},     {nullptr, "/", "/dir", 1},    {nullptr, "/", "dir", 0},
      {":", nullptr, "VOL:dir/x", 2},    {nullptr, nullptr, "a/b", 0}, {"::", "/", "VOL::a/b", 3},
      {":", "//", "V:a//b//", 3},        {nullptr, "//", "a//b", 2},
  };
  for (const auto& c : cases)
    each_form(2, c.name, [&](uint32_t ns, size_t offset) {
      NsText name(ns, c.name, offset), empty(ns, "");
      auto key = [&](const char* k) { return k == nullptr ? nullptr : *k ? GenericString(ns, k) : empty.p(); };
      uint16_t count = 0xABCD;
      GenericCountPositions(ns, key(c.first), key(c.separator), name.p(), &count);
      EXPECT_EQ(count, c.count);
    });
  std::string many;
  for (int i = 0; i < 70000; ++i) many += "/a";
  uint16_t count = 0;
  GenericCountPositions(0x102, nullptr, "/", many.c_str(), &count);
  EXPECT_EQ(count, 0xFFFF);  // held at the largest count, not wrapped
}

// Paths that end flush against an unreadable page: nothing reads past the
// terminator, in any encoding.
TEST_F(Paths, ReadsNothingPastTheTerminator) {
  for (uint32_t base : {0u, 1u, 2u, 5u})
    for (uint32_t ns : forms_of(base))
      for (const char* path : {"", "/", "//", "a", "VOL:", "VOL::", "VOL:dir/sub/", "a\\b\\", "x:y:", "/usr/x"}) {
        SCOPED_TRACE(::testing::Message() << "ns 0x" << std::hex << ns << " " << path);
        const std::string raw = enc(ns, std::string(path) + "|");
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
