// Path normalisation: the worked table of every fixer in each name space it
// serves, in locale bytes, UTF-8 and wide text at offsets 0-3, with checks
// that nothing is written past the path's terminator (or past the one
// separator dest is sized for), plus rejections, wildcards under
// wildLastComponent, volumes whose capitals are shorter, and paths next to
// unreadable pages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "charset/charset_test_util.h"
#include "dpxut.h"
#include "paths/ns_text.h"
#include "support/guard_front.h"
#include "support/guard_page.h"

namespace {

using dpxut::test::enc;
using dpxut::test::NsText;
using dpxut::test::GuardedBytes;
using dpxut::test::GuardedFront;

class PathFix : public ::testing::Test {
 protected:
  void SetUp() override { dpxut::test::use_locale("en_US.UTF-8"); }
};

// True when the bytes after the first `used` units of t's room still hold
// the filler NsText puts there: the call wrote nothing past them.
bool untouched_after(NsText& t, uint32_t ns, size_t used) {
  for (size_t i = used * DPsizeOfChar(ns); i < 600; ++i)
    if (t.p()[i] != 0xEE) return false;
  return true;
}

size_t units_of(uint32_t ns, const std::string& s) { return enc(ns, s).size() / DPsizeOfChar(ns); }

// ---- DOS-path fixers --------------------------------------------------------

enum class Dos { plain, generic, upper };

void* run(Dos f, uint32_t ns, void* path, void* dest) {
  switch (f) {
    case Dos::plain: return HVDPFixDOSPath(static_cast<char*>(path), static_cast<char*>(dest));
    case Dos::generic: return HVDPGenericFixDOSPath(ns, path, dest);
    case Dos::upper: return HVDPFixGenericDOSPath(ns, path, dest);
  }
  return nullptr;
}

struct DosCase {
  Dos fixer;
  std::vector<uint32_t> ns;
  const char* in;
  const char* path;  // the path afterwards
  const char* dest;  // what dest receives, nullptr: untouched and path returned
};

const std::vector<uint32_t> kAllForms = {0, 0x100, 0x200, 2, 0x102, 0x202};

const DosCase kDosCases[] = {
    {Dos::plain, {0}, "VOL:\\dir\\sub", "VOL:dir/sub", "VOL:dir/sub/"},
    {Dos::plain, {0}, "VOL:/dir/", "VOL:dir/", nullptr},
    {Dos::plain, {0}, "vol:dir//x", "vol:dir//x", "vol:dir//x/"},  // no collapsing
    {Dos::plain, {0}, "a\\", "a/", nullptr},
    {Dos::plain, {0}, "vol:", "vol:", nullptr},
    {Dos::plain, {0}, "a:/b:/c", "a:b:/c", "a:b:/c/"},  // the first ":/" only
    {Dos::plain, {0}, "", "", nullptr},                 // empty: taken as ending in a separator
    {Dos::generic, kAllForms, "vol:dir//x", "vol:dir/x", "vol:dir/x/"},
    {Dos::generic, kAllForms, "VOL:\\dir\\sub", "VOL:dir/sub", "VOL:dir/sub/"},
    {Dos::generic, kAllForms, "a\\\\\\//b", "a/b", "a/b/"},
    {Dos::generic, kAllForms, "vol://a", "vol:a", "vol:a/"},  // collapsed before ":/" goes
    {Dos::generic, kAllForms, "//", "/", nullptr},
    {Dos::generic, {0, 0x200}, "", "", nullptr},
    {Dos::generic, {0x100}, "", "", "/"},  // an empty UTF-8 string ends in no separator
    {Dos::upper, kAllForms, "VOL:\\dir\\sub", "VOL:DIR/SUB", "VOL:DIR/SUB/"},
    {Dos::upper, kAllForms, "vol:dir//x", "VOL:DIR//X", "VOL:DIR//X/"},
    {Dos::upper, kAllForms, "vol:/", "VOL:", nullptr},
    {Dos::upper, {0x100, 0x200}, "vol:\\caf\xC3\xA9", "VOL:CAF\xC3\x89", "VOL:CAF\xC3\x89/"},
};

TEST_F(PathFix, DosFixersFollowTheirRows) {
  for (const auto& c : kDosCases)
    for (uint32_t ns : c.ns)
      for (size_t offset = 0; offset < 4; ++offset)
        for (bool with_dest : {true, false}) {
          SCOPED_TRACE(::testing::Message() << "fixer " << int(c.fixer) << " ns " << std::hex << ns << " offset "
                                            << offset << " '" << c.in << "' dest " << with_dest);
          NsText path(ns, c.in, offset);
          NsText dest(ns, "", (offset + 1) % 4);
          void* result = run(c.fixer, ns, path.p(), with_dest ? dest.p() : nullptr);
          EXPECT_EQ(path.str(), enc(ns, c.path));
          EXPECT_TRUE(untouched_after(path, ns, units_of(ns, c.in) + 1));
          if (with_dest && c.dest != nullptr) {
            EXPECT_EQ(result, dest.p());
            EXPECT_EQ(dest.str(), enc(ns, c.dest));
            EXPECT_TRUE(untouched_after(dest, ns, units_of(ns, c.path) + 2));
          } else {
            EXPECT_EQ(result, path.p());
            EXPECT_TRUE(untouched_after(dest, ns, 1));
          }
        }
}

TEST_F(PathFix, DosFixersGiveNullForANullPath) {
  char dest[8] = "x";
  EXPECT_EQ(HVDPFixDOSPath(nullptr, dest), nullptr);
  EXPECT_EQ(HVDPGenericFixDOSPath(0, nullptr, dest), nullptr);
  EXPECT_EQ(HVDPFixGenericDOSPath(0x200, nullptr, dest), nullptr);
  EXPECT_STREQ(dest, "x");
}

// ---- directory fixers -------------------------------------------------------

enum class Dir { plain, generic };
enum class Where { path, record, null };

struct DirCase {
  Dir fixer;
  std::vector<uint32_t> ns;
  const char* in;
  bool buffer;
  uint16_t wild;
  Where where;
  const char* result;  // the text at the result
  const char* path;    // the path afterwards, nullptr: not checked
};

const DirCase kDirCases[] = {
    // HVDPFixDirectoryPath
    {Dir::plain, {0, 0x100}, "vol:\\dir\\\\sub", true, 0, Where::record, "vol:dir/sub/", "vol:dir/sub"},
    {Dir::plain, {0, 0x100}, "vol:\\dir\\\\sub", false, 0, Where::path, "vol:dir/sub", "vol:dir/sub"},
    {Dir::plain, {0}, "dir\\x", true, 0, Where::record, "dir/x/", "dir/x"},
    {Dir::plain, {0x100}, "dir\\x", true, 0, Where::null, "", "dir\\x"},  // 0x100 needs a volume
    {Dir::plain, {2, 0x102}, "vol:/home//user", true, 0, Where::record, "vol:home/user/", "vol:home/user"},
    {Dir::plain, {2, 0x102}, "/home/user", true, 0, Where::null, "", "/home/user"},
    {Dir::plain, {2, 0x102}, "vol:a\\b", true, 0, Where::record, "vol:a\\b/", "vol:a\\b"},  // backslashes stay
    {Dir::plain, {4, 0x104}, "vol:dir\\*.txt", true, 1, Where::record, "vol:dir/*.txt/", "vol:dir/*.txt"},
    {Dir::plain, {4, 0x104}, "vol:dir\\*.txt", true, 0, Where::null, "", "vol:dir/*.txt"},
    {Dir::plain, {4, 0x104}, "vol:d*r\\x.txt", false, 1, Where::null, "", "vol:d*r/x.txt"},
    {Dir::plain, {4, 0x104}, "vol:a/b*/", false, 1, Where::path, "vol:a/b*/", "vol:a/b*/"},
    {Dir::plain, {1, 0x101}, "vol:dir", true, 0, Where::record, "vol:dir:", "vol:dir"},
    {Dir::plain, {1, 0x101}, "dir", true, 0, Where::record, "dir:", "dir"},
    {Dir::plain, {1, 0x101}, "dir", false, 0, Where::null, "", "dir"},
    {Dir::plain, {1, 0x101}, "vol:", true, 0, Where::path, "vol:", "vol:"},
    {Dir::plain, {1, 0x101}, "v*l:\\a", false, 0, Where::path, "v*l:\\a", "v*l:\\a"},  // no other step
    {Dir::plain, {1}, "", true, 0, Where::null, "", ""},
    {Dir::plain, {0x101}, "", true, 0, Where::record, ":", ""},
    {Dir::plain, {3}, "x\\y", false, 0, Where::null, "", "x\\y"},
    {Dir::plain, {3}, "v:x\\y", false, 0, Where::path, "v:x/y", "v:x/y"},
    {Dir::plain, {0x200, 0x201, 0x202, 0x204, 0x103, 5}, "x\\/", true, 0, Where::path, "x\\/", "x\\/"},
    {Dir::plain, {0}, "vol:dir/", true, 0, Where::path, "vol:dir/", "vol:dir/"},
    {Dir::plain, {0}, "", true, 0, Where::path, "", ""},
    {Dir::plain, {0}, "a*", false, 1, Where::path, "a*", "a*"},  // no separator: unchecked
    {Dir::plain, {0}, "a?", false, 0, Where::null, "", "a?"},
    // HVDPFixGenericDirectoryPath
    {Dir::generic, {0, 0x100, 0x200}, "vol:\\dir\\\\sub", true, 0, Where::record, "VOL:DIR//SUB/", "VOL:DIR//SUB"},
    {Dir::generic, {2, 0x102, 0x202}, "vol:/home//user", true, 0, Where::record, "VOL:home/user/", "VOL:home/user"},
    {Dir::generic, {2, 0x102, 0x202}, "/home//user", true, 0, Where::record, "/home/user/", "/home/user"},
    {Dir::generic, {2, 0x102, 0x202}, "home/user", true, 0, Where::null, "", "home/user"},
    {Dir::generic, {2, 0x102, 0x202}, "vol:a///b", true, 0, Where::record, "VOL:a/b/", "VOL:a/b"},
    {Dir::generic, {2, 0x102, 0x202}, "vol:a\\b", true, 0, Where::record, "VOL:a\\b/", "VOL:a\\b"},
    {Dir::generic, {2, 0x102, 0x202}, "/vol:/x", true, 0, Where::record, "/vol:/x/", "/vol:/x"},  // Linux form
    {Dir::generic, {4, 0x104, 0x204}, "vol:d*r\\x.txt", true, 1, Where::record, "", "VOL:d*r/x.txt"},
    {Dir::generic, {4, 0x104, 0x204}, "vol:d*r\\x.txt", true, 0, Where::null, "", "VOL:d*r/x.txt"},
    {Dir::generic, {4, 0x104, 0x204}, "vol:d*r/x", false, 1, Where::path, "", ""},
    {Dir::generic, {4, 0x104, 0x204}, "vol:dir\\*.txt", true, 1, Where::record, "VOL:dir/*.txt/", "VOL:dir/*.txt"},
    {Dir::generic, {4, 0x104, 0x204}, "vol:a\\\\b", true, 0, Where::record, "VOL:a//b/", "VOL:a//b"},
    {Dir::generic, {0, 0x100, 0x200}, "a\\\\", true, 1, Where::path, "A//", "A//"},
    {Dir::generic, {0, 0x100, 0x200}, "/a:/b", true, 0, Where::record, "/A:/B/", "/A:/B"},
    {Dir::generic, {1, 0x101, 0x201}, "vol:dir", true, 0, Where::record, "VOL:dir:", "VOL:dir"},
    {Dir::generic, {1, 0x101, 0x201}, "vol:dir:", true, 0, Where::path, "VOL:dir:", "VOL:dir:"},
    {Dir::generic, {1, 0x201}, "dir", true, 0, Where::path, "", ""},
    {Dir::generic, {0x101}, "dir", true, 0, Where::record, ":", ""},
    {Dir::generic, {1, 0x101, 0x201}, "dir", false, 0, Where::path, "", ""},
    {Dir::generic, {3, 0x103, 0x203, 5}, "x\\y", true, 0, Where::path, "x\\y", "x\\y"},
};

TEST_F(PathFix, DirectoryFixersFollowTheirRows) {
  for (const auto& c : kDirCases)
    for (uint32_t ns : c.ns)
      for (size_t offset = 0; offset < 4; ++offset) {
        SCOPED_TRACE(::testing::Message() << "fixer " << int(c.fixer) << " ns " << std::hex << ns << " offset "
                                          << offset << " '" << c.in << "' buffer " << c.buffer << " wild " << c.wild);
        NsText path(ns, c.in, offset);
        HVDPStringBuffer* record = nullptr;
        HVDPStringBuffer** buffer = c.buffer ? &record : nullptr;
        void* result = c.fixer == Dir::plain ? HVDPFixDirectoryPath(path.p(), ns, buffer, c.wild)
                                             : HVDPFixGenericDirectoryPath(path.p(), ns, buffer, c.wild);
        switch (c.where) {
          case Where::null: EXPECT_EQ(result, nullptr); break;
          case Where::path: EXPECT_EQ(result, path.p()); break;
          case Where::record:
            ASSERT_NE(record, nullptr);
            EXPECT_EQ(result, record->text);
            break;
        }
        if (result != nullptr) {
          EXPECT_EQ(path.str(result), enc(ns, c.result));
        }
        if (c.path != nullptr) {
          EXPECT_EQ(path.str(), enc(ns, c.path));
        }
        EXPECT_TRUE(untouched_after(path, ns, units_of(ns, c.in) + 1));
        HVDPFreeGenericString(&record);
      }
}

TEST_F(PathFix, DirectoryFixersGiveNullForANullPath) {
  HVDPStringBuffer* record = nullptr;
  EXPECT_EQ(HVDPFixDirectoryPath(nullptr, 0, &record, 0), nullptr);
  EXPECT_EQ(HVDPFixGenericDirectoryPath(nullptr, 0x200, &record, 1), nullptr);
  EXPECT_EQ(record, nullptr);
}

// A record that cannot hold the result is a rejection, not a cut path.
TEST_F(PathFix, DirectoryPathTooLongForARecordIsRejected) {
  std::string path = "vol:" + std::string(40000, 'a');
  HVDPStringBuffer* record = nullptr;
  EXPECT_EQ(HVDPFixDirectoryPath(path.data(), 0, &record, 0), nullptr);
  HVDPFreeString(&record);
  std::string fits = "vol:" + std::string(30000, 'a');
  ASSERT_NE(HVDPFixDirectoryPath(fits.data(), 0, &record, 0), nullptr);
  EXPECT_EQ(std::string(record->text), fits + "/");
  HVDPFreeString(&record);
}

// The capital of U+017F (two UTF-8 bytes) is S (one byte): the volume gets
// shorter and the rest of the path moves up behind it.
TEST_F(PathFix, VolumeWithShorterCapitalsKeepsTheRestOfThePath) {
  for (uint32_t ns : {0x102u, 0x104u, 0x101u}) {
    SCOPED_TRACE(ns);
    std::string path = "\xC5\xBFys:/a\\b";
    void* result = HVDPFixGenericDirectoryPath(path.data(), ns, nullptr, 0);
    ASSERT_EQ(result, path.data());
    EXPECT_STREQ(path.c_str(), ns == 0x101 ? "SYS:/a\\b" : ns == 0x102 ? "SYS:a\\b" : "SYS:a/b");
  }
}

TEST_F(PathFix, LinuxFormIsALeadingSlash) {
  struct {
    const char* path;
    int32_t linux_form;
  } cases[] = {{"/x", 1}, {"x/", 0}, {"", 0}, {"\\x", 0}};
  for (const auto& c : cases)
    for (uint32_t ns : kAllForms)
      for (size_t offset = 0; offset < 4; ++offset) {
        NsText text(ns, c.path, offset);
        EXPECT_EQ(IsLinuxNameSpace(ns, text.p()), c.linux_form) << c.path << " ns " << ns;
      }
  EXPECT_EQ(IsLinuxNameSpace(2, nullptr), 0);
}

// Empty paths right after an unreadable page, and paths whose terminator
// is the last readable byte, in bytes, UTF-8 and wide text: no fixer reads
// outside them.
TEST_F(PathFix, ReadsNothingOutsideThePath) {
  const char* paths[] = {"", "a", "\\", ":", "vol:/", "a*//", "/"};
  for (const char* p : paths)
    for (uint32_t ns : {0u, 1u, 2u, 4u, 0x100u, 0x101u, 0x200u, 0x201u, 0x202u})
      for (bool front : {true, false})
        for (int fixer = 0; fixer < 5; ++fixer) {
          SCOPED_TRACE(::testing::Message() << "'" << p << "' ns " << ns << " front " << front << " fixer " << fixer);
          const std::string text = enc(ns, std::string(p) + "|");
          GuardedFront before(text);
          GuardedBytes after{std::string_view(text)};
          char* path = front ? before.chars() : after.chars();
          char dest[64] = "";
          HVDPStringBuffer* record = nullptr;
          switch (fixer) {
            case 0: HVDPFixDOSPath(HVDPIsNameSpaceUnicode(ns) ? nullptr : path, dest); break;
            case 1: HVDPGenericFixDOSPath(ns, path, dest); break;
            case 2: HVDPFixGenericDOSPath(ns, path, dest); break;
            case 3: HVDPFixDirectoryPath(path, ns, &record, 1); break;
            case 4: HVDPFixGenericDirectoryPath(path, ns, &record, 1); break;
          }
          HVDPFreeGenericString(&record);
        }
}

}  // namespace
