// Eight threads at once on what the library shares between them: the code
// set tables (met by several threads before they exist), each thread's
// kept sizing result, measuring tables and iconv descriptors, the UTF-8
// kernels, both wildcard matchers and the zone cache. The code set is
// process-wide, so each round sets one up while no thread runs; the threads
// then convert in every direction, match in every encoding and write dates
// at the same time. Every answer must equal the one worked out on one
// thread beforehand through iconv alone (fast paths off).
#include <gtest/gtest.h>

#include <functional>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "charset/charset_test_util.h"
#include "charset/codeset_table.h"
#include "charset/locale_conv.h"
#include "support/env.h"

namespace {

using dpxut::test::to_hex;
using Threads = dpxut::testing::CharsetEnv;
using Task = std::function<std::string()>;
constexpr int kThreads = 8, kRepeats = 30;

// Sizing call, then a filling call of the reported size: the codes, and
// the text when the filling succeeds (a failed one may leave any part).
template <class D, class S>
std::string Convert(uint32_t (*f)(D*, size_t*, const S*), const S* src) {
  size_t size = 0;
  const std::string sizing = std::to_string(f(nullptr, &size, src));
  std::vector<D> dst(size + 1);
  if (const uint32_t rc = f(dst.data(), &size, src)) return sizing + " " + std::to_string(rc);
  return sizing + " 0 " +
         std::string(reinterpret_cast<const char*>(dst.data()), sizeof(D) * std::min(size, dst.size()));
}

// UTF-8 to wide and back again, each sized first: the codes, the wide
// length and the text that comes back.
std::string Utf8WideUtf8(const std::string& utf) {
  size_t n = 0, m = 0;
  uint32_t rc = DPutf82uni(nullptr, utf.c_str(), &n);
  std::vector<wchar_t> wide(++n, 0);
  rc |= DPutf82uni(wide.data(), utf.c_str(), &n);
  rc |= DPuni2utf8(nullptr, wide.data(), &m);
  std::string back(++m, '\0');
  rc |= DPuni2utf8(back.data(), wide.data(), &m);
  return std::to_string(rc) + " " + std::to_string(n) + " " + back;
}

// The zone, both time stamp conversions and a record header's time stamp.
std::string Dates() {
  HVDPECMATimeStamp stamps[2] = {};
  HVDPUnixTimeToECMA(1700000000, &stamps[0], 1);
  HVDPDOSTimeToECMA(0x5A216C3E, &stamps[1]);
  uint8_t buffer[256], *pos = buffer;
  uint32_t left = sizeof buffer, written = 0;
  HVDPRecordHeaderInfo info{};
  const uint32_t rc = HVDPSetNewRecordHeader(&pos, &left, &written, 1, &info);
  return std::to_string(GenECMATimeZone()) + " " + std::to_string(SetTZOffset()) + " " + std::to_string(rc) + " " +
         std::to_string(written) + " " + std::to_string(info.timeStamp.typeAndTimeZone) +
         std::string(reinterpret_cast<const char*>(stamps), sizeof stamps);
}

const std::string kNames[] = {"plain/ascii/name.txt", "Grüße aus Köln/Straße.doc",
                              "€ 100 – Preis.txt",    "データ/日本語のファイル名.txt",
                              "ｶﾀｶﾅ ～ ¥\\~.TXT",     std::string(40, 'a') + "ü日" + std::string(70, 'e')};
const std::string kPatterns[] = {"*", "*.txt", "*/*", "Gr??e*", "*ü*", "*デ*タ*", "*a*e*e*.?o?", "*E", "?*日*"};

// The locale, a code set whose tables the threads ask for by name, the zone.
const char* const kRounds[][3] = {{"ja_JP.EUC-JP", "EUC-KR", "IST-5:30"},
                                  {"de_DE.ISO-8859-15", "ISO-8859-2", "EST5"},
                                  {"ja_JP.SHIFT_JIS", "CP1252", "UTC0"},
                                  {"en_US.UTF-8", "KOI8-R", "JST-9"}};

TEST_F(Threads, ConvertMatchAndDateAtOnceAsOnOneThread) {
  for (const auto& [locale, other_set, zone] : kRounds) {
    SCOPED_TRACE(locale);
    dpxut::test::use_locale(locale);
    dpxut::testing::use_zone(zone);
    dpxut::charset::set_ascii_fast_path(false);  // the reference: iconv alone, no tables built yet
    // Each text in its three forms; one the code set cannot hold stays UTF-8.
    auto locale_form = [](const std::string& s) {
      const std::string r = Convert(DPutf82loc, s.c_str());
      return r.starts_with("0 0 ") ? std::string(r.c_str() + 4) : s;
    };
    auto wide_form = [](const std::string& s) {
      std::wstring w(s.size() + 1, 0);
      size_t n = w.size();
      DPutf82uni(w.data(), s.c_str(), &n);
      return std::wstring(w.c_str());
    };
    std::vector<std::string> loc, utf, pat_loc, pat_utf;
    std::vector<std::wstring> wide, pat_wide;
    for (const std::string& s : kNames) utf.push_back(s), loc.push_back(locale_form(s)), wide.push_back(wide_form(s));
    for (const std::string& p : kPatterns)
      pat_utf.push_back(p), pat_loc.push_back(locale_form(p)), pat_wide.push_back(wide_form(p));
    std::vector<Task> tasks[kThreads];
    for (size_t i = 0; i < std::size(kNames); ++i) {
      tasks[0].push_back([&, i] { return Convert(DPloc2utf8, loc[i].c_str()); });
      tasks[1].push_back([&, i] { return Convert(DPloc2uni, &loc[i][0]) + Convert(DPloc2uniNoMap, &loc[i][0]); });
      tasks[2].push_back([&, i] { return Convert(DPutf82loc, utf[i].c_str()); });
      tasks[3].push_back([&, i] { return Convert(DPuni2loc, &wide[i][0]) + Convert(DPuni2locNoMap, &wide[i][0]); });
      tasks[4].push_back([&, i] { return Utf8WideUtf8(utf[i]); });
      for (size_t p = 0; p < std::size(kPatterns); ++p) {
        tasks[5].push_back([&, i, p] {
          return std::to_string(HVDPWildMatch(pat_loc[p].c_str(), loc[i].c_str())) +
                 std::to_string(HVDPMatchName(0, pat_loc[p].c_str(), loc[i].c_str(), 1)) +
                 std::to_string(HVDPGenericWildMatch(4, pat_loc[p].c_str(), loc[i].c_str()));
        });
        tasks[6].push_back([&, i, p] {
          return std::to_string(HVDPMatchName(0x100, pat_utf[p].c_str(), utf[i].c_str(), 0)) +
                 std::to_string(HVDPMatchName(0x201, pat_wide[p].c_str(), wide[i].c_str(), 1)) +
                 std::to_string(HVDPGenericWildMatch(0x101, pat_utf[p].c_str(), utf[i].c_str())) +
                 std::to_string(HVDPGenericWildMatch(0x202, pat_wide[p].c_str(), wide[i].c_str()));
        });
      }
    }
    tasks[7].push_back(Dates);
    std::vector<std::string> expected[kThreads];
    for (int t = 0; t < kThreads; ++t)
      for (const Task& task : tasks[t]) expected[t].push_back(task());
    dpxut::charset::set_ascii_fast_path(true);
    // The zone cache then holds another zone, so the threads all miss it.
    dpxut::testing::use_zone("CET-1");
    GenECMATimeZone(), SetTZOffset();
    dpxut::testing::use_zone(zone);

    std::latch start(kThreads);
    std::string wrong[kThreads];
    const void* other[kThreads] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        start.arrive_and_wait();
        if (t >= 5) other[t] = dpxut::charset::build_or_find_table(other_set);
        for (int n = 0; n < kRepeats && wrong[t].empty(); ++n)
          for (size_t i = 0; i < tasks[t].size(); ++i)
            if (const std::string got = tasks[t][i](); got != expected[t][i])
              wrong[t] = "task " + std::to_string(i) + ": " + to_hex(got) + " not " + to_hex(expected[t][i]);
      });
    for (std::thread& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], "") << "thread " << t;
    EXPECT_TRUE(other[5] != nullptr && other[5] == other[6] && other[6] == other[7]) << other_set;
  }
}

// A host that leaves the set-up to the first conversion: the first
// conversions of eight threads at once run it once, and all see its result.
TEST_F(Threads, FirstConversionsRunTheSetUpOnce) {
  WriteLanguageFile("RC_LANG=xx_YY\n");  // EUC-JP
  const std::string euc = dpxut::test::hex("A5 C7 A1 BC A5 BF");
  std::latch start(kThreads);
  std::string got[kThreads];
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] { start.arrive_and_wait(), got[t] = Convert(DPloc2utf8, euc.c_str()); });
  for (std::thread& th : threads) th.join();
  EXPECT_STREQ(dp_current_codeset, "EUC-JP");
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(got[t], std::string("0 0 \u30c7\u30fc\u30bf", 13) + '\0') << t;
}

}  // namespace
