// The wide-string layer at every alignment: each function on a string
// copied in at offsets 0..3 mod 4 must agree with glibc's function on an
// aligned copy, write nothing outside its units, and never read past the
// terminating unit.
#include "common/wide.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cwctype>
#include <random>
#include <string>
#include <vector>

#include "support/guard_page.h"

namespace {

namespace wide = dpxut::wide;
using dpxut::test::GuardedBytes;

constexpr unsigned char kFill = 0xEE;

// A wide string copied (with its terminator) into a byte buffer at `offset`
// bytes from a 16-byte boundary, with kFill bytes around it and `room`
// spare units after it.
class Placed {
 public:
  Placed(const std::wstring& s, size_t offset, size_t room = 0)
      : bytes_((s.size() + 1 + room) * 4 + 64, kFill), units_(s.size() + 1 + room) {
    auto addr = reinterpret_cast<uintptr_t>(bytes_.data());
    start_ = (16 - addr % 16) % 16 + 16 + offset;
    std::memcpy(ptr(), s.c_str(), (s.size() + 1) * 4);
  }
  unsigned char* ptr() { return bytes_.data() + start_; }
  // The units stored from ptr() up to the first zero unit.
  std::wstring text() {
    std::wstring out;
    for (size_t i = 0; wide::load(ptr(), i) != 0; ++i) out.push_back(wide::load(ptr(), i));
    return out;
  }
  // Units [0, n) as they are, zeros included.
  std::wstring units(size_t n) {
    std::wstring out;
    for (size_t i = 0; i < n; ++i) out.push_back(wide::load(ptr(), i));
    return out;
  }
  // Index of the unit p points at.
  ptrdiff_t index(const void* p) { return (static_cast<const unsigned char*>(p) - ptr()) / 4; }
  bool outside_untouched() const {
    for (size_t i = 0; i < bytes_.size(); ++i) {
      if ((i < start_ || i >= start_ + units_ * 4) && bytes_[i] != kFill) return false;
    }
    return true;
  }

 private:
  std::vector<unsigned char> bytes_;
  size_t units_;
  size_t start_;
};

ptrdiff_t aligned_index(const std::wstring& s, const wchar_t* p) { return p ? p - s.c_str() : -1; }
ptrdiff_t placed_index(Placed& s, const void* p) { return p ? s.index(p) : -1; }

int sign(int v) { return (v > 0) - (v < 0); }

// Random strings over an alphabet with case pairs, so that case-folded
// comparisons often reach far into the strings, plus values glibc's
// functions must treat as plain 32-bit numbers.
class Strings {
 public:
  explicit Strings(unsigned seed) : rng_(seed) {}
  std::wstring next(size_t max_len = 40) {
    static const wchar_t alphabet[] = {L'a', L'A', L'b', L'B', L'_', L'z', 0xE9, 0xC9, 0x3B1, 0x391,
                                      0x4E2D, 0x1F600, 0x10041, static_cast<wchar_t>(0x80000000u),
                                      static_cast<wchar_t>(0xFFFFFFFFu), 0x7FFFFFFF};
    std::uniform_int_distribution<size_t> len(0, max_len);
    std::uniform_int_distribution<size_t> pick(0, std::size(alphabet) - 1);
    std::wstring s(len(rng_), L'a');
    for (auto& c : s) c = alphabet[pick(rng_) % (rng_() % 4 == 0 ? std::size(alphabet) : 6)];
    return s;
  }
  // A copy of s with a few units changed in case or value.
  std::wstring vary(std::wstring s) {
    for (auto& c : s) {
      unsigned r = rng_() % 8;
      if (r == 0) c = static_cast<wchar_t>(std::towupper(c));
      if (r == 1) c = static_cast<wchar_t>(std::towlower(c));
    }
    if (!s.empty() && rng_() % 3 == 0) s[rng_() % s.size()] = L'B';
    if (rng_() % 4 == 0) s.resize(rng_() % (s.size() + 1));
    return s;
  }
  size_t below(size_t n) { return rng_() % n; }

 private:
  std::mt19937 rng_;
};

class WideLayer : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(std::setlocale(LC_ALL, "en_US.UTF-8"), nullptr); }
};

TEST_F(WideLayer, LoadsAndStoresUnitsAtEveryOffset) {
  for (size_t off = 0; off < 4; ++off) {
    Placed s(L"xyz", off);
    EXPECT_EQ(wide::load(s.ptr(), 1), L'y');
    wide::store(s.ptr(), 1, 0x1F600);
    EXPECT_EQ(s.text(), std::wstring(L"x\U0001F600z"));
    EXPECT_EQ(s.ptr()[4], 0x00) << "little-endian unit";
    EXPECT_EQ(s.ptr()[5], 0xF6);
    EXPECT_TRUE(s.outside_untouched());
  }
}

TEST_F(WideLayer, MeasuresLikeWcslenAtEveryOffset) {
  Strings gen(1);
  for (int round = 0; round < 300; ++round) {
    std::wstring s = gen.next(70);
    for (size_t off = 0; off < 4; ++off) {
      Placed p(s, off);
      EXPECT_EQ(wide::length(p.ptr()), std::wcslen(s.c_str()));
      for (size_t max : {size_t{0}, size_t{1}, s.size() / 2, s.size(), s.size() + 5}) {
        EXPECT_EQ(wide::nlength(p.ptr(), max), ::wcsnlen(s.c_str(), max));
      }
    }
  }
}

TEST_F(WideLayer, ComparesLikeGlibcAtEveryOffsetPair) {
  Strings gen(2);
  for (int round = 0; round < 400; ++round) {
    std::wstring a = gen.next();
    std::wstring b = gen.vary(a);
    size_t n = gen.below(a.size() + 3);
    for (size_t oa = 0; oa < 4; ++oa) {
      for (size_t ob = 0; ob < 4; ++ob) {
        Placed pa(a, oa), pb(b, ob);
        EXPECT_EQ(wide::compare(pa.ptr(), pb.ptr()), sign(std::wcscmp(a.c_str(), b.c_str())));
        EXPECT_EQ(wide::ncompare(pa.ptr(), pb.ptr(), n), sign(std::wcsncmp(a.c_str(), b.c_str(), n)));
        EXPECT_EQ(wide::icompare(pa.ptr(), pb.ptr()), ::wcscasecmp(a.c_str(), b.c_str()));
        EXPECT_EQ(wide::nicompare(pa.ptr(), pb.ptr(), n), ::wcsncasecmp(a.c_str(), b.c_str(), n));
      }
    }
  }
}

TEST_F(WideLayer, FindsUnitsAndSubstringsLikeGlibcAtEveryOffset) {
  Strings gen(3);
  for (int round = 0; round < 300; ++round) {
    std::wstring s = gen.next();
    std::wstring needle = s.empty() ? L"" : s.substr(gen.below(s.size()), gen.below(4));
    if (round % 3 == 0) needle = gen.next(3);
    wchar_t c = s.empty() || round % 5 == 0 ? L'B' : s[gen.below(s.size())];
    for (size_t off = 0; off < 4; ++off) {
      Placed p(s, off);
      for (wchar_t ch : {c, wchar_t{0}}) {
        EXPECT_EQ(placed_index(p, wide::find(p.ptr(), ch)), aligned_index(s, std::wcschr(s.c_str(), ch)));
        EXPECT_EQ(placed_index(p, wide::find_last(p.ptr(), ch)), aligned_index(s, std::wcsrchr(s.c_str(), ch)));
      }
      for (size_t on = 0; on < 4; ++on) {
        Placed pn(needle, on);
        EXPECT_EQ(placed_index(p, wide::find_string(p.ptr(), pn.ptr())),
                  aligned_index(s, std::wcsstr(s.c_str(), needle.c_str())))
            << "needle of " << needle.size();
      }
    }
  }
}

TEST_F(WideLayer, ReversesAndUpperCasesOnlyTheTextAtEveryOffset) {
  Strings gen(4);
  for (int round = 0; round < 200; ++round) {
    std::wstring s = gen.next();
    std::wstring reversed(s.rbegin(), s.rend());
    std::wstring upper = s;
    for (auto& c : upper) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    for (size_t off = 0; off < 4; ++off) {
      Placed r(s, off), u(s, off);
      wide::reverse(r.ptr());
      wide::upper(u.ptr());
      EXPECT_EQ(r.units(s.size() + 1), reversed + std::wstring(1, 0));
      EXPECT_EQ(u.units(s.size() + 1), upper + std::wstring(1, 0));
      EXPECT_TRUE(r.outside_untouched());
      EXPECT_TRUE(u.outside_untouched());
    }
  }
}

TEST_F(WideLayer, CopiesAndAppendsLikeGlibcWithinTheirUnits) {
  Strings gen(5);
  for (int round = 0; round < 150; ++round) {
    std::wstring src = gen.next(20);
    std::wstring old = gen.next(20);
    size_t n = gen.below(src.size() + 4);
    for (size_t od = 0; od < 4; ++od) {
      for (size_t os = 0; os < 4; ++os) {
        Placed from(src, os);

        Placed to(old, od, 24);
        EXPECT_EQ(wide::copy(to.ptr(), from.ptr()), src.size());
        EXPECT_EQ(to.text(), src);

        std::wstring expect = old + std::wstring(1, 0) + std::wstring(24, static_cast<wchar_t>(0xEEEEEEEEu));
        std::wcsncpy(expect.data(), src.c_str(), n);
        Placed bounded(old, od, 24);
        wide::ncopy(bounded.ptr(), from.ptr(), n);
        EXPECT_EQ(bounded.units(expect.size()), expect);

        Placed joined(old, od, 24);
        EXPECT_EQ(wide::concat(joined.ptr(), from.ptr()), old.size() + src.size());
        EXPECT_EQ(joined.text(), old + src);
        for (Placed* p : {&to, &bounded, &joined}) EXPECT_TRUE(p->outside_untouched());
      }
    }
  }
}

TEST_F(WideLayer, DuplicatesIntoAnAlignedHeapBlock) {
  for (size_t off = 0; off < 4; ++off) {
    std::wstring s = L"n\u00E4me\U0001F600";
    Placed p(s, off);
    wchar_t* copy = wide::duplicate(p.ptr());
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(wide::is_aligned(copy));
    EXPECT_EQ(std::wstring(copy), s);
    std::free(copy);
  }
}

// A string whose terminator is the last unit before an inaccessible page;
// any read past it faults. Misaligned strings end 1 to 3 bytes earlier.
TEST_F(WideLayer, StopsAtTheTerminatorBeforeAnUnreadablePage) {
  const std::wstring s = L"abc\u00E9\U0001F600xyz";
  for (size_t slack = 0; slack < 4; ++slack) {
    GuardedBytes page((s.size() + 1) * 4 + slack);
    std::memcpy(page.data(), s.c_str(), (s.size() + 1) * 4);
    void* p = page.data();
    EXPECT_EQ(wide::length(p), s.size());
    EXPECT_EQ(wide::nlength(p, 100), s.size());
    EXPECT_EQ(wide::find(p, L'q'), nullptr);
    EXPECT_EQ(wide::find(p, 0), page.data() + s.size() * 4);
    EXPECT_EQ(wide::find_last(p, L'a'), p);
    EXPECT_EQ(wide::find_string(p, L"xyq"), nullptr);
    EXPECT_EQ(wide::compare(p, p), 0);
    EXPECT_EQ(wide::ncompare(p, s.c_str(), 100), 0);
    EXPECT_EQ(wide::icompare(s.c_str(), p), 0);
    wchar_t* copy = wide::duplicate(p);
    ASSERT_NE(copy, nullptr);
    std::free(copy);
    wide::upper(p);
    wide::reverse(p);
    EXPECT_EQ(wide::load(p, 0), L'Z');
  }
}

}  // namespace
