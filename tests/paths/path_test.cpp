// Taking paths apart in every name space and encoding: the last component,
// absolute paths, volumes, trailing separators, cutting the child off, DOS
// 8.3 names. Table cases run on locale bytes, UTF-8 and wide text at
// offsets 0-3 of an aligned buffer ('|' in expected bytes is a terminator).
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "charset/charset_test_util.h"
#include "paths/ns_text.h"

namespace {

using dpxut::test::each_form;
using dpxut::test::enc;
using dpxut::test::NsText;

// Per path: the last component, whether the path is relative, its last
// separator and its volume (all four leave it as it was), the trailing
// separator stripped, and the path cut after its last separator (a trailing
// one does not count) with the child copied into `size` bytes: whole
// characters and a terminator, nothing when not even a terminator fits.
TEST(Paths, TakesPathsApart) {
  dpxut::test::use_locale("en_US.UTF-8");
  const struct {
    uint32_t base;
    const char *path, *child, *volume;  // null: no separator, no volume
    int32_t relative;
    char removed;  // the trailing separator stripped, 0: none
  } cases[] = {
      {2, "/usr/lib/", "lib/", nullptr, 0, '/'},  // the child keeps its trailing separator
      {0, "a\\b/c/", "c/", nullptr, 1, '/'},
      {0, "C:a/b\\c\\", "c\\", "C:", 1, '\\'},
      {1, "VOL:a:b:", "b:", nullptr, 1, ':'},  // a volume needs a doubled colon here
      {1, "VOL::", "", "VOL:", 1, 0},          // which is never stripped
      {1, "a:b/", "b/", nullptr, 1, 0},        // a slash is no separator here
      {2, "/", "", nullptr, 0, 0},             // one character: never stripped, *where cleared
      {2, "abc", nullptr, nullptr, 1, 0},
      {2, "a//", "/", nullptr, 1, '/'},  // the cut falls on the trailing separator: it is not put back
      {2, "d/xxxxxxxxxx", "xxxxxxxxxx", nullptr, 1, 0},
      {2, "VOL:dir/x", "x", "VOL:", 1, 0},                          // a volume does not make a path absolute
      {2, "ABCDEFGHIJKLMNO:x", nullptr, "ABCDEFGHIJKLMNO:", 1, 0},  // 16 with the colon
      {2, "ABCDEFGHIJKLMNOP:x", nullptr, nullptr, 1, 0},
      {3, "/x/", "x/", nullptr, 0, '/'},
      {4, "a/b", "b", nullptr, 1, 0},
      {0x103, "/x/", nullptr, nullptr, 1, 0},  // no separators
      {0x10002, "/a/b/", "", nullptr, 0, 0},   // the low 16 bits find separators; the whole number strips none
  };
  for (const auto& c : cases)
    each_form(c.base, c.path, [&](uint32_t ns, size_t offset) {
      NsText text(ns, c.path, offset), again(ns, c.path, offset), cut(ns, c.path, offset);
      NsText volume(ns, std::string(20, '#'), (offset + 1) % 4);
      const long len = long(std::strlen(c.path)), unit = DPsizeOfChar(ns);
      void* child = &text;
      EXPECT_EQ(HVDPGetPathChild(ns, text.p(), &child), child);
      EXPECT_EQ(child ? text.str(child) : "null", c.child ? enc(ns, c.child) : "null");
      EXPECT_EQ(HVDPPathIsNotFullyQualified(ns, text.p()), c.relative);
      void *rest = text.p(), *volume_kept = &text, *last = &text;
      GetVolumeAndLastSeparator(ns, &rest, &volume_kept, &last);  // never fills in a volume
      EXPECT_EQ(volume_kept, rest ? nullptr : &text);
      EXPECT_EQ(text.index_of(last), c.removed ? len - 1 : child ? text.index_of(child) - 1 : -1);
      rest = text.p();
      EXPECT_EQ(HVDPGetVolume(&rest, ns, volume.p()), c.volume ? volume.p() : nullptr);
      const std::string v = c.volume ? std::string(c.volume) + "|" : "";  // 16 characters and a terminator at most
      EXPECT_EQ(volume.bytes(21 * unit), enc(ns, v + std::string(20 - v.size(), '#') + "|"));
      EXPECT_EQ(text.str(rest), enc(ns, c.path + (v.empty() ? 0 : v.size() - 1 + (c.base == 1))));
      EXPECT_EQ(text.str(), enc(ns, c.path));
      void* where = &text;
      EXPECT_EQ(HVDPGenericStripEndSeparator(ns, text.p(), &where), c.removed ? GenericChar(ns, c.removed) : nullptr);
      EXPECT_EQ(text.str(), enc(ns, std::string(c.path, len - (c.removed != 0))));
      EXPECT_EQ(where == &text ? -2 : text.index_of(where), c.removed ? len - 1 : len <= 1 ? -1 : -2);
      EXPECT_EQ(HVDPStripEndSeparator(ns, again.p(), nullptr), static_cast<uint32_t>(c.removed));
      const uint32_t size = std::array<uint32_t, 4>{301, 9, 4, 3}[offset], units = size / unit;
      std::vector<unsigned char> out(size + 64, 0xEE);
      std::string after = c.path + std::string("|"), copied = c.child ? c.child : "";
      if (c.child) after[after.size() - 1 - copied.size()] = '|';
      if (c.removed) copied.pop_back();
      EXPECT_EQ(cut.index_of(HVDPStripPathChild(ns, cut.p(), out.data() + offset, size)),
                c.child ? long(after.find('|')) : -1);
      EXPECT_EQ(cut.bytes(enc(ns, after).size()), enc(ns, after));
      const std::string got(reinterpret_cast<char*>(out.data()) + offset, size + 60);
      const std::string want = units ? enc(ns, copied.substr(0, units - 1) + "|") : "";
      EXPECT_EQ(got.substr(0, want.size()), want) << size;
      EXPECT_EQ(got.substr(units * unit), std::string(got.size() - units * unit, '\xEE')) << size;
    });
}

TEST(Paths, AcceptsDosNamesByLengthsAndDotsOnly) {
  for (const char* legal : {"ABCDEFGH", "ABCDEFGH.TXT", "", "A."}) EXPECT_EQ(HVDPLegalDOSName(legal), 1) << legal;
  for (const char* illegal : {"ABCDEFGHI", "A.BCDE", "A.B.C", ".A", "ABCDEFGHI.TX"})
    EXPECT_EQ(HVDPLegalDOSName(illegal), 0) << illegal;
}

}  // namespace
