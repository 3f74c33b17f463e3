// Path normalisation: the worked table of every fixer in each name space it
// serves, in locale bytes, UTF-8 and wide text at offsets 0-3. That nothing
// is written outside the path and dest is the fuzz target's part.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "charset/charset_test_util.h"
#include "dpxut.h"
#include "paths/ns_text.h"

namespace {

using dpxut::test::enc;
using dpxut::test::NsText;

enum Fixer { kDos, kGenericDos, kUpperDos, kDir, kGenericDir };

const std::vector<uint32_t> kDosForms = {0, 0x100, 0x200, 2, 0x102, 0x202};

// Each row: the fixer, its name spaces, the path, whether dest or a record
// is given, wildLastComponent, the result's text (null: no result) and the
// path afterwards. A result with the path's text is the path itself, any
// other one dest (DOS fixers) or the record (directory fixers).
const struct {
  Fixer fixer;
  std::vector<uint32_t> ns;
  const char* in;
  bool out;
  uint16_t wild;
  const char *result, *path;
} kCases[] = {
    {kDos, {0}, "VOL:\\dir\\sub", true, 0, "VOL:dir/sub/", "VOL:dir/sub"},
    {kDos, {0}, "VOL:/dir/", true, 0, "VOL:dir/", "VOL:dir/"},
    {kDos, {0}, "vol:dir//x", true, 0, "vol:dir//x/", "vol:dir//x"},  // no collapsing
    {kDos, {0}, "vol:", true, 0, "vol:", "vol:"},
    {kDos, {0}, "a:/b:/c", true, 0, "a:b:/c/", "a:b:/c"},  // the first ":/" only
    {kDos, {0}, "", true, 0, "", ""},                      // empty: taken as ending in a separator
    {kGenericDos, kDosForms, "vol:\\dir//x", true, 0, "vol:dir/x/", "vol:dir/x"},
    {kGenericDos, kDosForms, "vol://a", true, 0, "vol:a/", "vol:a"},  // collapsed before ":/" goes
    {kUpperDos, kDosForms, "VOL:\\dir\\sub", true, 0, "VOL:DIR/SUB/", "VOL:DIR/SUB"},
    {kUpperDos, kDosForms, "vol:dir//x", true, 0, "VOL:DIR//X/", "VOL:DIR//X"},
    // HVDPFixDirectoryPath
    {kDir, {0, 0x100}, "vol:\\dir\\\\sub", true, 0, "vol:dir/sub/", "vol:dir/sub"},
    {kDir, {0}, "dir\\x", true, 0, "dir/x/", "dir/x"},
    {kDir, {0x100, 2, 0x102, 3}, "dir\\x", true, 0, nullptr, "dir\\x"},        // a volume is needed
    {kDir, {2, 0x102}, "vol:/a\\b//c", true, 0, "vol:a\\b/c/", "vol:a\\b/c"},  // backslashes stay
    {kDir, {4, 0x104}, "vol:dir\\*.txt", true, 1, "vol:dir/*.txt/", "vol:dir/*.txt"},
    {kDir, {4, 0x104}, "vol:dir\\*.txt", true, 0, nullptr, "vol:dir/*.txt"},
    {kDir, {4, 0x104}, "vol:d*r\\x.txt", false, 1, nullptr, "vol:d*r/x.txt"},
    {kDir, {4, 0x104}, "vol:a/b*/", false, 1, "vol:a/b*/", "vol:a/b*/"},  // a trailing separator counts not
    {kDir, {0}, "a*", false, 1, "a*", "a*"},                              // no separator: unchecked
    {kDir, {1, 0x101}, "dir", true, 0, "dir:", "dir"},
    {kDir, {1, 0x101}, "dir", false, 0, nullptr, "dir"},
    {kDir, {1, 0x101}, "vol:", true, 0, "vol:", "vol:"},
    {kDir, {0x200, 0x201, 0x202, 0x204, 0x103, 5}, "x\\/", true, 0, "x\\/", "x\\/"},
    // HVDPFixGenericDirectoryPath
    {kGenericDir, {0, 0x100, 0x200}, "vol:\\dir\\\\sub", true, 0, "VOL:DIR//SUB/", "VOL:DIR//SUB"},
    {kGenericDir, {0, 0x100, 0x200}, "/a:/b", true, 0, "/A:/B/", "/A:/B"},  // Linux form: ":/" stays
    {kGenericDir, {2, 0x102, 0x202}, "vol:/a\\b//c", true, 0, "VOL:a\\b/c/", "VOL:a\\b/c"},
    {kGenericDir, {2, 0x102, 0x202}, "/vol:/x//y", true, 0, "/vol:/x/y/", "/vol:/x/y"},
    {kGenericDir, {2, 0x102, 0x202}, "home/user", true, 0, nullptr, "home/user"},
    {kGenericDir, {4, 0x104, 0x204}, "vol:a\\\\b\\*.txt", true, 1, "VOL:a//b/*.txt/", "VOL:a//b/*.txt"},
    {kGenericDir, {4, 0x104, 0x204}, "vol:d*r\\x.txt", true, 1, "", "VOL:d*r/x.txt"},  // emptied
    {kGenericDir, {4, 0x104, 0x204}, "vol:d*r\\x.txt", true, 0, nullptr, "VOL:d*r/x.txt"},
    // The capital of U+017F (two UTF-8 bytes) is S: the rest moves up behind it.
    {kGenericDir, {0x104}, "\xC5\xBFys:/a\\b", false, 0, "SYS:a/b", "SYS:a/b"},
    {kGenericDir, {1, 0x101, 0x201}, "vol:dir", true, 0, "VOL:dir:", "VOL:dir"},
    {kGenericDir, {1, 0x101, 0x201}, "vol:dir:", true, 0, "VOL:dir:", "VOL:dir:"},
    {kGenericDir, {1, 0x101, 0x201}, "dir", false, 0, "", ""},
    {kGenericDir, {3, 0x103, 0x203, 5}, "x\\y", true, 0, "x\\y", "x\\y"},
};

TEST(PathFix, FixersFollowTheirRows) {
  dpxut::test::use_locale("en_US.UTF-8");
  for (const auto& c : kCases)
    for (uint32_t ns : c.ns)
      for (size_t offset = 0; offset < 4; ++offset) {
        SCOPED_TRACE(::testing::Message() << "fixer " << c.fixer << " ns " << std::hex << ns << " offset " << offset
                                          << " '" << c.in << "' wild " << c.wild);
        NsText path(ns, c.in, offset), dest(ns, "", (offset + 1) % 4);
        HVDPStringBuffer* record = nullptr;
        HVDPStringBuffer** buffer = c.out ? &record : nullptr;
        void* out = c.out ? dest.p() : nullptr;
        void* result = c.fixer == kDos ? HVDPFixDOSPath(reinterpret_cast<char*>(path.p()), static_cast<char*>(out))
                       : c.fixer == kGenericDos ? HVDPGenericFixDOSPath(ns, path.p(), out)
                       : c.fixer == kUpperDos   ? HVDPFixGenericDOSPath(ns, path.p(), out)
                       : c.fixer == kDir        ? HVDPFixDirectoryPath(path.p(), ns, buffer, c.wild)
                                                : HVDPFixGenericDirectoryPath(path.p(), ns, buffer, c.wild);
        void* const in_out = c.fixer < kDir ? static_cast<void*>(dest.p()) : record ? record->text : nullptr;
        EXPECT_EQ(result, !c.result ? nullptr : std::strcmp(c.result, c.path) == 0 ? path.p() : in_out);
        EXPECT_EQ(result ? path.str(result) : "", enc(ns, c.result ? c.result : ""));
        EXPECT_EQ(path.str(), enc(ns, c.path));
        HVDPFreeGenericString(&record);
      }
}

}  // namespace
