// The wide-string layer at every alignment: each function on strings copied
// in at offsets 0..3 mod 4 agrees with glibc's function on aligned copies,
// writes nothing outside its units and never reads past a terminator.
#include "common/wide.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cwctype>
#include <random>
#include <string>
#include <vector>

#include "charset/charset_test_util.h"

namespace {

namespace wide = dpxut::wide;
using dpxut::test::sign;
using Placed = dpxut::test::WideAt;  // a wide string at 0-3 mod 4 inside 0xEE bytes

ptrdiff_t index(const std::wstring& s, const wchar_t* p) { return p ? p - s.c_str() : -1; }

// Mostly case pairs, so folded comparisons run deep, and now and then
// values glibc treats as plain 32-bit numbers.
std::wstring random_text(std::mt19937& rng, size_t max_len) {
  static const uint32_t alphabet[] = {'a', 'A', 'b', 'B', '_', 0xE9, 0xC9, 0x3B1, 0x391, 0x4E2D,
                                      0x1F600, 0x10041, 0x80000000u, 0xFFFFFFFFu, 0x7FFFFFFF};
  std::wstring s(rng() % (max_len + 1), L'a');
  for (auto& c : s) c = static_cast<wchar_t>(alphabet[rng() % (rng() % 4 ? 9 : std::size(alphabet))]);
  return s;
}

std::wstring vary(std::mt19937& rng, std::wstring s) {
  for (auto& c : s) {
    if (rng() % 6 == 0) c = static_cast<wchar_t>(rng() % 2 ? std::towupper(c) : std::towlower(c));
  }
  if (!s.empty() && rng() % 3 == 0) s[rng() % s.size()] = L'B';
  if (rng() % 4 == 0) s.resize(rng() % (s.size() + 1));
  return s;
}

TEST(WideLayer, AgreesWithGlibcOnAlignedCopiesAtEveryOffset) {
  ASSERT_NE(std::setlocale(LC_ALL, "en_US.UTF-8"), nullptr);
  std::mt19937 rng(1);
  for (int round = 0; round < 400; ++round) {
    const std::wstring a = random_text(rng, 40), b = vary(rng, a);
    const size_t n = rng() % (a.size() + 3);
    const wchar_t c = a.empty() || round % 5 == 0 ? L'B' : a[rng() % a.size()];
    const std::wstring needle =
        round % 3 ? a.substr(a.empty() ? 0 : rng() % a.size(), rng() % 4) : random_text(rng, 2);
    std::wstring reversed(a.rbegin(), a.rend()), upper = a;
    std::wstring bounded = b + std::wstring(1, 0) + std::wstring(a.size() + 3, static_cast<wchar_t>(0xEEEEEEEEu));
    for (auto& u : upper) u = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(u)));
    std::wcsncpy(bounded.data(), a.c_str(), n);

    for (size_t oa = 0; oa < 4; ++oa) {
      for (size_t ob = 0; ob < 4; ++ob) {
        Placed pa(a, oa, 0), pb(b, ob, 0), pn(needle, ob, 0);
        EXPECT_EQ(wide::length(pa.p()), a.size());
        EXPECT_EQ(wide::nlength(pa.p(), n), ::wcsnlen(a.c_str(), n));
        EXPECT_EQ(wide::compare(pa.p(), pb.p()), sign(std::wcscmp(a.c_str(), b.c_str())));
        EXPECT_EQ(wide::ncompare(pa.p(), pb.p(), n), sign(std::wcsncmp(a.c_str(), b.c_str(), n)));
        EXPECT_EQ(wide::icompare(pa.p(), pb.p()), ::wcscasecmp(a.c_str(), b.c_str()));
        EXPECT_EQ(wide::nicompare(pa.p(), pb.p(), n), ::wcsncasecmp(a.c_str(), b.c_str(), n));
        for (wchar_t ch : {c, wchar_t{0}}) {
          EXPECT_EQ(pa.index_of(wide::find(pa.p(), ch)), index(a, std::wcschr(a.c_str(), ch)));
          EXPECT_EQ(pa.index_of(wide::find_last(pa.p(), ch)), index(a, std::wcsrchr(a.c_str(), ch)));
        }
        EXPECT_EQ(pa.index_of(wide::find_string(pa.p(), pn.p())), index(a, std::wcsstr(a.c_str(), needle.c_str())));

        const size_t room = b.size() + a.size() + 4;
        Placed copied(b, ob, room), ncopied(b, ob, room), joined(b, ob, room), rev(a, oa, 0), up(a, oa, 0);
        EXPECT_EQ(wide::copy(copied.p(), pa.p()), a.size());
        EXPECT_EQ(copied.str(), a);
        wide::ncopy(ncopied.p(), pa.p(), n);
        EXPECT_EQ(ncopied.units(bounded.size()), bounded);
        EXPECT_EQ(wide::concat(joined.p(), pa.p()), b.size() + a.size());
        EXPECT_EQ(joined.str(), b + a);
        wide::reverse(rev.p());
        EXPECT_EQ(rev.units(a.size() + 1), reversed + std::wstring(1, 0));
        wide::upper(up.p());
        EXPECT_EQ(up.units(a.size() + 1), upper + std::wstring(1, 0));
        for (Placed* p : {&copied, &ncopied, &joined, &rev, &up}) EXPECT_TRUE(p->outside_untouched());
      }
    }
  }
}

// Loads and stores at every offset; then the terminator is the last unit
// before an inaccessible page (misaligned strings end 1 to 3 bytes before
// it) and no function reads past it.
TEST(WideLayer, StopsAtTheTerminatorBeforeAnUnreadablePage) {
  const std::wstring s = L"abc\u00E9\U0001F600xyz";
  for (size_t slack = 0; slack < 4; ++slack) {
    Placed placed(L"xyz", slack, 0);
    wide::store(placed.p(), 1, 0x1F600);
    EXPECT_EQ(dpxut::test::to_hex(std::string_view(reinterpret_cast<char*>(placed.p()) + 4, 4)), "00 F6 01 00");
    EXPECT_TRUE(wide::load(placed.p(), 1) == 0x1F600 && placed.outside_untouched());
    dpxut::test::GuardedBytes page((s.size() + 1) * 4 + slack);
    std::memcpy(page.data(), s.c_str(), (s.size() + 1) * 4);
    void* p = page.data();
    EXPECT_TRUE(wide::length(p) == s.size() && wide::nlength(p, 100) == s.size());
    EXPECT_TRUE(!wide::find(p, L'q') && wide::find_last(p, L'a') == p && !wide::find_string(p, L"xyq"));
    EXPECT_TRUE(wide::compare(p, p) == 0 && wide::ncompare(p, s.c_str(), 100) == 0 && wide::icompare(s.c_str(), p) == 0);
    wchar_t* copy = wide::duplicate(p);
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(wide::is_aligned(copy) && copy == s);
    std::free(copy);
    wide::upper(p);
    wide::reverse(p);
    EXPECT_EQ(wide::load(p, 0), L'Z');
  }
}

}  // namespace
