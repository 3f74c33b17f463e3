// Target descriptions "name (word rest)": every combination of
// destinations, white space and trimming, and empty parts, the text right
// after an unreadable page so that nothing before it is read.
#include <gtest/gtest.h>

#include <string>

#include "dpxut.h"
#include "support/guard.h"

namespace {

// Destinations given: N targetName, W parenWord, R parenRest.
enum : unsigned { N = 1, W = 2, R = 4 };

// What the call returns: null, one of the destinations, or a position in
// the source text.
enum Result { kNull, kName, kWord, kRest, kSource };

TEST(TargetName, SplitsNameWordAndRest) {
  const struct {
    const char* source;
    unsigned given;
    const char *name, *word, *rest;
    Result result;
    long at;  // the offset into the source for kSource
  } cases[] = {
      {"  SRV1 (ABC 5.1)", N | W | R, "SRV1", "ABC", "5.1", kRest, 0},
      // The name's NUL falls on the "(": nothing after the name is found.
      {"SRV1(ABC 5.1)", N | W | R, "SRV1", "", "", kNull, 0},
      {"SRV1(ABC 5.1)", W | R, "", "ABC", "5.1", kRest, 0},
      {"SRV1 (ABC 5.1)", N, "SRV1", "", "", kName, 0},
      {"SRV1  (ABC 5.1)", 0, "", "", "", kSource, 4},
      {"SRV1 (ABC 5.1)", N | W, "SRV1", "ABC", "", kWord, 0},
      {"SRV1 (ABC 5.1)", N | R, "SRV1", "", "", kSource, 9},  // the space after ABC
      {"SRV1 ABC 5.1", N | W | R, "", "", "", kNull, 0},
      {" \t\r\n SRV1 ( \t ABC \t\n 5.1 x  )", N | W | R, "SRV1", "ABC", "5.1 x", kRest, 0},
      {"SRV1  \t (A B)", N | W | R, "SRV1  \t", "A", "B", kRest, 0},  // only spaces are trimmed
      {"SRV1 (ABC)", N | W | R, "SRV1", "", "", kNull, 0},           // no space after the word
      {"SRV1 (ABC 5.1", N | W | R, "SRV1", "ABC", "", kNull, 0},     // no ")"
      {"SRV1 (ABC 5.1", N | W, "SRV1", "ABC", "", kWord, 0},
      {"SRV1 (", N | W | R, "SRV1", "", "", kNull, 0},
      {"SRV1 (ABC ", N | W | R, "SRV1", "ABC", "", kNull, 0},
      // Empty parts: trimming stops at the start of the part.
      {"(ABC 5.1)", N | W | R, "", "", "", kNull, 0},
      {"  (ABC 5.1)", W | R, "", "ABC", "5.1", kRest, 0},
      {"SRV1 (ABC )", N | W | R, "SRV1", "ABC", "", kRest, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "'" << c.source << "' given " << c.given);
    dpxut::test::GuardedFront text(std::string(c.source) + '\0');
    char name[64] = "junk", word[64] = "junk", rest[64] = "junk";
    char* const got[] = {name, word, rest};
    const char* const want[] = {c.name, c.word, c.rest};
    char* result = HVDPGetTargetName(text.chars(), c.given & N ? name : nullptr, c.given & W ? word : nullptr,
                                     c.given & R ? rest : nullptr);
    for (unsigned i = 0; i < 3; ++i)  // a destination not given stays as it was
      EXPECT_STREQ(got[i], c.given & (1u << i) ? want[i] : "junk") << "destination " << i;
    char* const expected[] = {nullptr, name, word, rest, text.chars() + c.at};
    EXPECT_EQ(result, expected[c.result]);
  }
}

}  // namespace
