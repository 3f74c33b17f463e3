// Target descriptions "name (word rest)": every combination of
// destinations, white space and trimming, empty parts, text in a multibyte
// code set, and texts placed against unreadable pages on either side.
#include <gtest/gtest.h>

#include <string>

#include "charset/charset_test_util.h"
#include "dpxut.h"
#include "support/guard_front.h"
#include "support/guard_page.h"

namespace {

using dpxut::test::GuardedBytes;
using dpxut::test::GuardedFront;

// Destinations given: N targetName, W parenWord, R parenRest.
enum : unsigned { N = 1, W = 2, R = 4 };

// What the call returns: null, one of the destinations, or a position in
// the source text.
enum class Result { null, name, word, rest, source };

struct TargetCase {
  const char* source;
  unsigned given;
  const char* name;
  const char* word;
  const char* rest;
  Result result;
  long at;  // offset into the source for Result::source
};

const TargetCase kCases[] = {
    {"  SRV1 (ABC 5.1)", N | W | R, "SRV1", "ABC", "5.1", Result::rest, 0},
    // The name's NUL falls on the "(": nothing after the name is found.
    {"SRV1(ABC 5.1)", N | W | R, "SRV1", "", "", Result::null, 0},
    {"SRV1(ABC 5.1)", W | R, "", "ABC", "5.1", Result::rest, 0},
    {"SRV1 (ABC 5.1)", N, "SRV1", "", "", Result::name, 0},
    {"SRV1  (ABC 5.1)", 0, "", "", "", Result::source, 4},
    {"SRV1 (ABC 5.1)", N | W, "SRV1", "ABC", "", Result::word, 0},
    {"SRV1 (ABC 5.1)", W, "", "ABC", "", Result::word, 0},
    {"SRV1 (ABC 5.1)", N | R, "SRV1", "", "", Result::source, 9},  // the space after ABC
    {"SRV1 ABC 5.1", N | W | R, "", "", "", Result::null, 0},
    {"", N | W | R, "", "", "", Result::null, 0},
    {" \t\r\n SRV1 ( \t ABC \t\n 5.1 x  )", N | W | R, "SRV1", "ABC", "5.1 x", Result::rest, 0},
    {"SRV1  \t (A B)", N | W | R, "SRV1  \t", "A", "B", Result::rest, 0},  // only spaces are trimmed
    {"SRV 1 (A B)", N | W | R, "SRV 1", "A", "B", Result::rest, 0},
    {"SRV1 (ABC)", N | W | R, "SRV1", "", "", Result::null, 0},        // no space after the word
    {"SRV1 (ABC 5.1", N | W | R, "SRV1", "ABC", "", Result::null, 0},  // no ")"
    {"SRV1 (ABC 5.1", N | W, "SRV1", "ABC", "", Result::word, 0},
    {"SRV1 (", N | W | R, "SRV1", "", "", Result::null, 0},
    {"SRV1 (   ", N | W | R, "SRV1", "", "", Result::null, 0},
    {"SRV1 (ABC ", N | W | R, "SRV1", "ABC", "", Result::null, 0},
    {"SRV1 (ABC   ", N | W, "SRV1", "ABC", "", Result::null, 0},
    // Empty parts: trimming stops at the start of the part.
    {"(ABC 5.1)", N | W | R, "", "", "", Result::null, 0},
    {"  (ABC 5.1)", W | R, "", "ABC", "5.1", Result::rest, 0},
    {"SRV1 (ABC )", N | W | R, "SRV1", "ABC", "", Result::rest, 0},
    {"SRV1 (ABC  )", N | W | R, "SRV1", "ABC", "", Result::rest, 0},
    {"SRV1 (ABC 5.1) (X Y)", N | W | R, "SRV1", "ABC", "5.1", Result::rest, 0},
};

TEST(TargetName, SplitsNameWordAndRest) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "'" << c.source << "' given " << c.given);
    std::string source = c.source;
    char name[64] = "junk", word[64] = "junk", rest[64] = "junk";
    char* result = HVDPGetTargetName(source.data(), c.given & N ? name : nullptr, c.given & W ? word : nullptr,
                                     c.given & R ? rest : nullptr);
    if (c.given & N) {
      EXPECT_STREQ(name, c.name);
    }
    if (c.given & W) {
      EXPECT_STREQ(word, c.word);
    }
    if (c.given & R) {
      EXPECT_STREQ(rest, c.rest);
    }
    switch (c.result) {
      case Result::null: EXPECT_EQ(result, nullptr); break;
      case Result::name: EXPECT_EQ(result, name); break;
      case Result::word: EXPECT_EQ(result, word); break;
      case Result::rest: EXPECT_EQ(result, rest); break;
      case Result::source: EXPECT_EQ(result, source.data() + c.at); break;
    }
  }
}

TEST(TargetName, EndsNameAndRestInTheSourceAndRestoresTheWordSpace) {
  std::string source = "  SRV1 (ABC 5.1 )";
  char name[32], word[32], rest[32];
  ASSERT_EQ(HVDPGetTargetName(source.data(), name, word, rest), rest);
  EXPECT_EQ(source, std::string("  SRV1\0(ABC 5.1\0)", 17));

  std::string kept = "SRV1 (ABC 5.1)";
  ASSERT_EQ(HVDPGetTargetName(kept.data(), nullptr, word, nullptr), word);
  EXPECT_EQ(kept, "SRV1 (ABC 5.1)");
}

TEST(TargetName, NullSourceEmptiesEveryDestination) {
  char name[8] = "x", word[8] = "x", rest[8] = "x";
  EXPECT_EQ(HVDPGetTargetName(nullptr, name, word, rest), nullptr);
  EXPECT_STREQ(name, "");
  EXPECT_STREQ(word, "");
  EXPECT_STREQ(rest, "");
}

// Names in a two-byte code set keep their bytes; the spaces stepped back
// over are single bytes after a double-byte character.
TEST(TargetName, KeepsMultibyteNames) {
  dpxut::test::use_locale("ja_JP.EUC-JP");
  const std::string server = dpxut::test::hex("A5 B5 A1 BC A5 D0");  // サーバ
  std::string source = server + "  (" + dpxut::test::hex("C6 FC") + " 5.1 )";
  char name[32], word[32], rest[32];
  ASSERT_EQ(HVDPGetTargetName(source.data(), name, word, rest), rest);
  EXPECT_EQ(std::string(name), server);
  EXPECT_EQ(std::string(word), dpxut::test::hex("C6 FC"));
  EXPECT_STREQ(rest, "5.1");
}

// A text that begins with "(" right after an unreadable page, and texts
// whose terminator is the last readable byte: nothing outside is read.
TEST(TargetName, ReadsNothingOutsideTheText) {
  const char* texts[] = {"(ABC 5.1)", "( ABC )", "(ABC  )", " (A B)", "(", "SRV1 (A B", "SRV1 (A  "};
  for (const char* t : texts)
    for (bool front : {true, false})
      for (unsigned given = 0; given < 8; ++given) {
        SCOPED_TRACE(::testing::Message() << "'" << t << "' front " << front << " given " << given);
        const std::string text = std::string(t) + '\0';
        GuardedFront before(text);
        GuardedBytes after{std::string_view(text)};
        char name[32], word[32], rest[32];
        HVDPGetTargetName(front ? before.chars() : after.chars(), given & N ? name : nullptr, given & W ? word : nullptr,
                          given & R ? rest : nullptr);
      }
}

}  // namespace
