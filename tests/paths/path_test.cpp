// Taking paths apart in every name space and encoding: the last component,
// absolute paths, volumes, trailing separators, cutting the child off, DOS
// 8.3 names and the limit of the component count. Table cases run on
// locale bytes, UTF-8 and wide text at offsets 0-3 of an aligned buffer
// ('|' in expected bytes is a terminator).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "charset/charset_test_util.h"
#include "paths/ns_text.h"

namespace {

using dpxut::test::each_form;
using dpxut::test::enc;
using dpxut::test::NsText;

class Paths : public ::testing::Test {
 protected:
  void SetUp() override { dpxut::test::use_locale("en_US.UTF-8"); }
};

// Per path: the last component, whether the path is relative and its volume
// (all three leave it as it was), then the trailing separator stripped.
TEST_F(Paths, TakesPathsApart) {
  const struct {
    uint32_t base;
    const char *path, *child, *volume;  // null: no separator, no volume
    int32_t relative;
    const char* stripped;
    char removed;  // 0: nothing
  } cases[] = {
      {2, "/usr/lib/", "lib/", nullptr, 0, "/usr/lib", '/'},  // the child keeps its trailing separator
      {0, "a\\b/c/", "c/", nullptr, 1, "a\\b/c", '/'},
      {0, "C:a/b\\c\\", "c\\", "C:", 1, "C:a/b\\c", '\\'},
      {1, "VOL:a:b:", "b:", nullptr, 1, "VOL:a:b", ':'},  // a volume needs a doubled colon here
      {1, "VOL::", "", "VOL:", 1, "VOL::", 0},          // which is never stripped
      {2, "/", "", nullptr, 0, "/", 0},                  // one character: never stripped, *where cleared
      {2, "abc", nullptr, nullptr, 1, "abc", 0},
      {2, "VOL:dir/x", "x", "VOL:", 1, "VOL:dir/x", 0},  // a volume does not make a path absolute
      {2, "ABCDEFGHIJKLMNO:x", nullptr, "ABCDEFGHIJKLMNO:", 1, "ABCDEFGHIJKLMNO:x", 0},  // 16 with the colon
      {2, "ABCDEFGHIJKLMNOP:x", nullptr, nullptr, 1, "ABCDEFGHIJKLMNOP:x", 0},
      {3, "/x/", "x/", nullptr, 0, "/x", '/'},
      {4, "a/b", "b", nullptr, 1, "a/b", 0},
      {0x103, "/x/", nullptr, nullptr, 1, "/x/", 0},  // no separators
      {0x10002, "/a/b/", "", nullptr, 0, "/a/b/", 0},  // the low 16 bits find separators; the whole number strips none
  };
  for (const auto& c : cases)
    each_form(c.base, c.path, [&](uint32_t ns, size_t offset) {
      NsText text(ns, c.path, offset), again(ns, c.path, offset), volume(ns, std::string(20, '#'), (offset + 1) % 4);
      void* child = &text;
      void* result = HVDPGetPathChild(ns, text.p(), &child);
      EXPECT_EQ(result, child);
      EXPECT_EQ(result ? text.str(result) : "null", c.child ? enc(ns, c.child) : "null");
      EXPECT_EQ(HVDPPathIsNotFullyQualified(ns, text.p()), c.relative);
      void* rest = text.p();
      EXPECT_EQ(HVDPGetVolume(&rest, ns, volume.p()), c.volume ? volume.p() : nullptr);
      const std::string v = c.volume ? std::string(c.volume) + "|" : "";  // 16 characters and a terminator at most
      EXPECT_EQ(volume.bytes(21 * DPsizeOfChar(ns)), enc(ns, v + std::string(20 - v.size(), '#') + "|"));
      EXPECT_EQ(text.str(rest), enc(ns, c.path + (v.empty() ? 0 : v.size() - 1 + (c.base == 1))));
      EXPECT_EQ(text.str(), enc(ns, c.path));
      void* where = &text;
      EXPECT_EQ(HVDPGenericStripEndSeparator(ns, text.p(), &where), c.removed ? GenericChar(ns, c.removed) : nullptr);
      EXPECT_EQ(text.str(), enc(ns, c.stripped));
      const long kept = -2, lone = std::strlen(c.path) <= 1 ? -1 : kept;
      EXPECT_EQ(where == &text ? kept : text.index_of(where), c.removed ? long(std::strlen(c.stripped)) : lone);
      EXPECT_EQ(HVDPStripEndSeparator(ns, again.p(), nullptr), static_cast<uint32_t>(c.removed));
    });
}

// Cuts after the last separator (a trailing one does not count) and copies
// the child into `size` bytes: whole characters and a terminator, nothing
// when not even a terminator fits.
TEST_F(Paths, CutsAfterTheLastSeparatorAndCopiesTheChild) {
  const struct {
    const char *path, *after, *child;  // the path's bytes afterwards, with its old terminator
  } cases[] = {
      {"a/b/c/", "a/b/|/|", "c"},  // the trailing separator stays past the new end
      {"abc", "abc|", ""},
      {"a//", "a/||", ""},  // the cut falls on the trailing separator: it is not put back
      {"d/xxxxxxxxxx", "d/|xxxxxxxxx|", "xxxxxxxxxx"},
  };
  for (const auto& c : cases)
    for (uint32_t size : {301, 9, 4, 3, 0})
      each_form(2, c.path, [&](uint32_t ns, size_t offset) {
        NsText text(ns, c.path, offset);
        std::vector<unsigned char> out(size + 64, 0xEE);
        const std::string after = c.after;
        const long end = after.find('|') + 1 < after.size() ? after.find('|') : -1;
        EXPECT_EQ(text.index_of(HVDPStripPathChild(ns, text.p(), out.data() + offset, size)), end);
        EXPECT_EQ(text.bytes(enc(ns, after).size()), enc(ns, after));
        const size_t units = size / DPsizeOfChar(ns), written = units * DPsizeOfChar(ns);
        const std::string got(reinterpret_cast<char*>(out.data()) + offset, size + 60);
        const std::string want = units ? enc(ns, std::string(c.child).substr(0, units - 1) + "|") : "";
        EXPECT_EQ(got.substr(0, want.size()), want) << size;
        EXPECT_EQ(got.substr(written), std::string(got.size() - written, '\xEE')) << size;
      });
}

TEST_F(Paths, ReportsTheLastSeparatorButNeverAVolume) {
  NsText text(0x200, "a\\b/c\\d", 1);
  void *path = text.p(), *volume = &text, *last = nullptr;
  GetVolumeAndLastSeparator(0x200, &path, &volume, &last);
  EXPECT_EQ(text.index_of(last), 5);
  EXPECT_EQ(volume, nullptr);
  GetVolumeAndLastSeparator(7, &path, &volume, &last);  // no separators: the path pointer is cleared
  EXPECT_EQ(path, nullptr);
  EXPECT_EQ(last, nullptr);
}

TEST_F(Paths, AcceptsDosNamesByLengthsAndDotsOnly) {
  for (const char* legal : {"ABCDEFGH", "ABCDEFGH.TXT", "", "A."}) EXPECT_EQ(HVDPLegalDOSName(legal), 1) << legal;
  for (const char* illegal : {"ABCDEFGHI", "A.BCDE", "A.B.C", ".A", "ABCDEFGHI.TX"})
    EXPECT_EQ(HVDPLegalDOSName(illegal), 0) << illegal;
}

// The name buffer's tables pin the counts themselves.
TEST_F(Paths, CountsComponentsUpTo0xFFFF) {
  std::string many;
  for (int i = 0; i < 70000; ++i) many += "/a";
  uint16_t count = 0;
  GenericCountPositions(0x102, nullptr, "/", many.c_str(), &count);
  EXPECT_EQ(count, 0xFFFF);  // held at the largest count, not wrapped
}

}  // namespace
