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
// What the call returns besides an offset into the source text.
enum : long { kNull = -1, kName = -2, kWord = -3, kRest = -4 };

TEST(TargetName, SplitsNameWordAndRest) {
  const struct {
    const char* source;
    unsigned given;
    const char* parts[3];  // name, word, rest
    long result;
  } cases[] = {
      {"  SRV1 (ABC 5.1)", N | W | R, {"SRV1", "ABC", "5.1"}, kRest},
      // The name's NUL falls on the "(": nothing after the name is found.
      {"SRV1(ABC 5.1)", N | W | R, {"SRV1", "", ""}, kNull},
      {"SRV1(ABC 5.1)", W | R, {"", "ABC", "5.1"}, kRest},
      {"SRV1 (ABC 5.1)", N, {"SRV1", "", ""}, kName},
      {"SRV1  (ABC 5.1)", 0, {"", "", ""}, 4},
      {"SRV1 (ABC 5.1)", N | W, {"SRV1", "ABC", ""}, kWord},
      {"SRV1 (ABC 5.1)", N | R, {"SRV1", "", ""}, 9},  // the space after ABC
      {"SRV1 ABC 5.1", N | W | R, {"", "", ""}, kNull},
      {" \t\r\n SRV1 ( \t ABC \t\n 5.1 x  )", N | W | R, {"SRV1", "ABC", "5.1 x"}, kRest},
      {"SRV1  \t (A B)", N | W | R, {"SRV1  \t", "A", "B"}, kRest},  // only spaces are trimmed
      {"SRV1 (ABC)", N | W | R, {"SRV1", "", ""}, kNull},            // no space after the word
      {"SRV1 (ABC 5.1", N | W | R, {"SRV1", "ABC", ""}, kNull},      // no ")"
      {"SRV1 (", N | W | R, {"SRV1", "", ""}, kNull},
      {"SRV1 (ABC ", N | W | R, {"SRV1", "ABC", ""}, kNull},
      // Empty parts: trimming stops at the start of the part.
      {"  (ABC 5.1)", W | R, {"", "ABC", "5.1"}, kRest},
      {"SRV1 (ABC )", N | W | R, {"SRV1", "ABC", ""}, kRest},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "'" << c.source << "' given " << c.given);
    dpxut::test::GuardedFront text(std::string(c.source) + '\0');
    char got[3][64] = {"junk", "junk", "junk"};
    char* result = HVDPGetTargetName(text.chars(), c.given & N ? got[0] : nullptr, c.given & W ? got[1] : nullptr,
                                     c.given & R ? got[2] : nullptr);
    for (unsigned i = 0; i < 3; ++i)  // a destination not given stays as it was
      EXPECT_STREQ(got[i], c.given & (1u << i) ? c.parts[i] : "junk") << "destination " << i;
    EXPECT_EQ(result, c.result >= 0 ? text.chars() + c.result : c.result == kNull ? nullptr : got[kName - c.result]);
  }
}

}  // namespace
