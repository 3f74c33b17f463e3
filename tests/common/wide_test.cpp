// The wide-string layer at every alignment: each function on strings copied
// in at offsets 0..3 mod 4 agrees with glibc's function on aligned copies
// and writes nothing outside its units.
#include "common/wide.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <random>

#include "charset/charset_test_util.h"

namespace {

namespace wide = dpxut::wide;
using namespace dpxut::test;
using Placed = WideAt;  // a wide string at 0-3 mod 4 inside 0xEE bytes

ptrdiff_t index(const std::wstring& s, const wchar_t* p) { return p ? p - s.c_str() : -1; }

// Mostly case pairs, so folded comparisons run deep, and now and then
// values glibc treats as plain 32-bit numbers.
std::wstring random_text(std::mt19937& rng, size_t max_len) {
  static const uint32_t alphabet[] = {'a', 'A', 'b', 'B', 0xE9, 0xC9, 0x3B1, 0x391, 0x1F600, 0x80000000u, 0xFFFFFFFFu};
  std::wstring s(rng() % (max_len + 1), L'a');
  for (auto& c : s) c = static_cast<wchar_t>(alphabet[rng() % (rng() % 4 ? 8 : std::size(alphabet))]);
  return s;
}

TEST(WideLayer, AgreesWithGlibcOnAlignedCopiesAtEveryOffset) {
  ASSERT_NE(std::setlocale(LC_ALL, "en_US.UTF-8"), nullptr);
  std::mt19937 rng(1);
  for (int round = 0; round < 400; ++round) {
    const std::wstring a = random_text(rng, 40);
    std::wstring b = a.substr(0, rng() % 4 ? a.size() : rng() % (a.size() + 1)), upper = a;  // a, perhaps cut,
    for (auto& u : b) u = rng() % 6 ? u : static_cast<wchar_t>(rng() % 2 ? std::towupper(u) : std::towlower(u));
    if (!b.empty() && rng() % 3 == 0) b[rng() % b.size()] = L'B';
    for (auto& u : upper) u = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(u)));
    const size_t n = rng() % (a.size() + 3);
    const wchar_t c = a.empty() || round % 5 == 0 ? L'B' : a[rng() % a.size()];
    const std::wstring needle = round % 3 ? a.substr(a.empty() ? 0 : rng() % a.size(), rng() % 4) : random_text(rng, 2);
    std::wstring bounded = b + std::wstring(1, 0) + std::wstring(a.size() + 3, static_cast<wchar_t>(0xEEEEEEEEu));
    std::wcsncpy(bounded.data(), a.c_str(), n);
    for (size_t oa = 0; oa < 4; ++oa) {
      for (size_t ob = 0; ob < 4; ++ob) {
        Placed pa(a, oa, 0), pb(b, ob, 0), pn(needle, ob, 0);
        EXPECT_TRUE(wide::length(pa.p()) == a.size() && wide::nlength(pa.p(), n) == ::wcsnlen(a.c_str(), n));
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
        EXPECT_TRUE(wide::copy(copied.p(), pa.p()) == a.size() && copied.str() == a);
        wide::ncopy(ncopied.p(), pa.p(), n);
        EXPECT_EQ(ncopied.units(bounded.size()), bounded);
        EXPECT_TRUE(wide::concat(joined.p(), pa.p()) == b.size() + a.size() && joined.str() == b + a);
        wide::reverse(rev.p());
        wide::upper(up.p());
        EXPECT_EQ(rev.units(a.size() + 1) + up.units(a.size() + 1),
                  std::wstring(a.rbegin(), a.rend()) + L'\0' + upper + L'\0');
        for (Placed* p : {&copied, &ncopied, &joined, &rev, &up}) EXPECT_TRUE(p->outside_untouched());
        wchar_t* copy = wide::duplicate(pa.p());
        EXPECT_TRUE(wide::is_aligned(copy) && copy == a);
        std::free(copy);
      }
    }
  }
}

}  // namespace
