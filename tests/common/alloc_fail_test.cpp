// Allocation failures, one at a time: for every entry point that allocates,
// a clean call counts its allocations k, then each of the k is made to fail
// in turn. The failed call must report the failure as documented and leave
// the caller's records and pointers as the failure promises. Nothing may
// leak: the sanitizer build checks that, and every row frees whatever its
// call handed over.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/heap.h"
#include "dpxut.h"
#include "support/bytes.h"
#include "support/env.h"

namespace {

using dpxut::test::hex;

constexpr long kRc = HVDPUT_OUT_OF_MEMORY;                         // as completion codes report it
constexpr long kMatch = static_cast<int32_t>(HVDPUT_OUT_OF_MEMORY);  // as the matchers return it

char spot;  // its address stands in for a pointer a call must overwrite

// One entry point: `call` runs it on fresh inputs, checks what the caller
// is left with and frees what the call handed over. It yields `whole` when
// the call ran through, `failed` when it reported the failure as documented.
struct Row {
  const char* name;
  std::function<long()> call;
  long whole = 0, failed = kRc;
  bool may_recover = false;  // a failed allocation may cost only time
};

// A warm-up call first builds what is made once per process.
void fail_each_allocation(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    dpxut::heap_fail_at(0);
    ASSERT_EQ(row.call(), row.whole);
    const unsigned long before = dpxut::heap_count();
    ASSERT_EQ(row.call(), row.whole);
    const unsigned long k = dpxut::heap_count() - before;
    EXPECT_GT(k, 0u);
    for (unsigned long i = 1; i <= k; ++i) {
      dpxut::heap_fail_at(i);
      const long r = row.call();
      dpxut::heap_fail_at(0);
      EXPECT_TRUE(r == row.failed || (row.may_recover && r == row.whole)) << "allocation " << i << " of " << k;
    }
  }
}

// 1 when p is a heap block starting with the n bytes of `expected` (it is
// freed), 0 when p is null.
long holds(void* p, const void* expected, size_t n) {
  const long r = p == nullptr ? 0 : std::memcmp(p, expected, n) == 0 ? 1 : 2;
  std::free(p);
  return r;
}

// A call on a host's string record (a 16-byte block holding `start`, or
// none) that returns the text, which reads `whole`; on failure null, and
// the record as it was unless a join already replaced it.
Row text(const char* name, const char* start, std::function<void*(HVDPStringBuffer**)> f, std::string whole) {
  return {name, [=] {
            auto* b = start != nullptr ? static_cast<HVDPStringBuffer*>(std::calloc(1, 16)) : nullptr;
            if (b != nullptr) b->capacity = 14, std::strcpy(b->text, start);
            HVDPStringBuffer* const old = b;
            const void* r = f(&b);
            EXPECT_TRUE(r != nullptr ? std::string(static_cast<const char*>(r), whole.size()) == whole
                        : b == old   ? b == nullptr || std::strcmp(b->text, start) == 0
                                     : std::memcmp(b->text, whole.data(), 2) == 0);  // a join's earlier step
            std::free(b);
            return long{r != nullptr};
          }, 1, 0};
}

// Parses a data set information section in one call, or in two when `cut`
// splits it; a failed call leaves the host's position and counts as before.
long parse(std::string bytes, size_t cut, unsigned names, unsigned extension) {
  HVDPRecordHeaderInfo info{};
  uint32_t rc = 0;
  for (size_t from = 0; rc == 0 && from < bytes.size(); from = cut, cut = bytes.size()) {
    uint8_t *const start = reinterpret_cast<uint8_t*>(bytes.data()) + from, *p = start;
    uint32_t size = static_cast<uint32_t>(cut - from), header = info.headerLength;
    rc = HVDPGetDataSetInfo(&p, &size, &info);
    EXPECT_TRUE(rc == 0 || (p == start && size == cut - from && info.headerLength == header && !info.savedData));
  }
  EXPECT_TRUE(rc != 0 || (info.state == HVDP_STATE_DONE && info.nameBuffer->nameCount == names &&
                          info.dataSetInfo->extensionLength == extension));
  std::free(info.nameBuffer);
  std::free(info.dataSetInfo);
  std::free(info.savedData);
  return rc;
}

class AllocFail : public dpxut::testing::CharsetEnv {};

TEST_F(AllocFail, NamesExtensionsAndRecords) {
  const std::string image = hex("13 00 11 00 01 00  00 00 00 00 05 00 00 00 00 01 00 78 00");  // "x", tag 5
  // Type 1, then type 3 with items "hi", none, "x".
  const std::string area = hex("01 00 00 00 00 00 00 00 02 00 00 00 AA BB  03 00 00 00 00 00 00 00 09 00 00 00"
                               " 02 00 68 69 00 00 01 00 78");
  // Sections: a 5000-byte extension and names "file" and "y"; an extension
  // AA BB, the stored list of `image`, then "y" appended to it.
  const std::string names = hex("11 01 00 12 04 66 69 6C 65  11 01 00 12 01 79  81 3F 00");
  const std::string cut = hex("81 3F 02 A5 5A  81 EF FD 81 88 13") + std::string(5000, 'Z') + names;
  const std::string listed = hex("81 3F 02 A5 5A  81 EF FD 02 AA BB  81 3E 11") + image.substr(2) + names.substr(9);
  const std::string reversed = std::string(1100, 'd') + "/f";  // outgrows the first block
  HVDPNameBuffer* wide = nullptr;                              // one name in a wide name space, for the writer
  ASSERT_EQ(HVDPPutOneName(&wide, 0x200, 0, 0, nullptr, nullptr, L"wide"), 0u);
  uint32_t whole = 0;

  fail_each_allocation({
      {"HVDPPutFirstName, HVDPPutNextName reversed",
       [&] {
         HVDPNameBuffer* b = nullptr;
         HVDPNameHandle* w = nullptr;
         uint32_t rc = HVDPPutFirstName(&b, 0, 1, 0, nullptr, "/", "a/b", &w);
         const unsigned first = rc == 0;
         if (rc == 0) rc = HVDPPutNextName(&b, &w, 0, 2, 1, ":", "/", reversed.c_str());
         EXPECT_TRUE(b == nullptr || b->nameCount == first + (rc == 0));  // a failed resize nulls it
         EXPECT_TRUE(w == nullptr || HVDPCloseName(&w) == 0);
         std::free(b);
         return rc;
       }},
      {"HVDPGetFirstName",
       [&] {
         HVDPDataSetName name{0, 99, 0, nullptr, nullptr, 0, nullptr};
         auto* r = reinterpret_cast<HVDPNameHandle*>(&spot);  // null on failure
         const uint32_t rc = HVDPGetFirstName(reinterpret_cast<const HVDPNameBuffer*>(image.data()), &name, &r);
         EXPECT_TRUE(rc == 0 ? HVDPCloseName(&r) == 0 && name.nameTag == 5 : r == nullptr && name.nameTag == 99);
         return rc;
       }},
      {"HVDPAppendToList",
       [] {
         HVDPList list;
         HVDPInitList(&list, nullptr);
         HVDPListNode* first = HVDPAppendToList(&list, "one", nullptr);
         HVDPListNode* second = first != nullptr ? HVDPAppendToList(&list, "two", nullptr) : nullptr;
         EXPECT_EQ(list.tail, second != nullptr ? second : first);  // a failed append changes nothing
         HVDPDestroyList(&list);
         return long{second != nullptr};
       },
       1, 0},
      {"HVDPGetExtension",
       [&] {
         auto* entry = reinterpret_cast<HVDPExtensionEntry*>(&spot);  // both null on failure
         auto* e = reinterpret_cast<HVDPExtensionHandle*>(&spot);
         const uint32_t rc = HVDPGetExtension(area.data(), static_cast<uint32_t>(area.size()), 3, &entry, &e);
         EXPECT_TRUE(rc == 0 ? HVDPCloseExtension(&e) == 0 : e == nullptr && entry == nullptr);
         return rc;
       }},
      {"SIDFUnpackNameList into a host block that must grow",
       [&] {
         auto* b = static_cast<HVDPNameBuffer*>(std::calloc(1, 8));
         b->bufferSize = 8;
         const uint32_t rc = SIDFUnpackNameList(&b, reinterpret_cast<const uint8_t*>(image.data()) + 2);
         EXPECT_TRUE(rc == 0 ? b->nameCount == 1 : b == nullptr);
         std::free(b);
         return rc;
       }},
      // Without its reading handle the writer leaves the names out.
      {"HVDPSetNewRecordHeader with a wide name",
       [&] {
         HVDPRecordHeaderInfo info{};
         info.nameBuffer = wide;
         uint8_t out[256], *p = out;
         uint32_t left = sizeof out, written = 0;
         const uint32_t rc = HVDPSetNewRecordHeader(&p, &left, &written, 0, &info);
         EXPECT_TRUE(rc == 0 || (p == out && left == sizeof out && written == 0));
         if (whole == 0) whole = info.recordLength;
         return rc != 0 || info.recordLength == whole ? rc : kRc;
       }},
      {"HVDPGetDataSetInfo, section cut inside its extension", [&] { return parse(cut, cut.size() / 2, 2, 5000); }},
      {"HVDPGetDataSetInfo, a name after a stored list", [&] { return parse(listed, listed.size(), 2, 2); }},
  });
  std::free(wide);
}

TEST_F(AllocFail, StringsPathsMatchersAndCopies) {
  const std::string as(300, 'a'), name = as + "b";
  const std::wstring wide_as(300, L'a');
  std::string stars;  // 21 stars: deeper than the matchers' frames on the stack
  for (int i = 0; i < 20; ++i) stars += "*a";
  stars += "*b";
  auto bytes = [](const std::wstring& s) {
    return std::string(reinterpret_cast<const char*>(s.c_str()), 4 * s.size() + 4);
  };

  fail_each_allocation({
      text("HVDPAllocString, text carried over", "abc",
           [](HVDPStringBuffer** b) { return HVDPAllocString(b, 0) != nullptr ? (*b)->text : nullptr; }, "abc"),
      text("HVDPCatStrings growing twice", "ab",
           [&](HVDPStringBuffer** b) { return HVDPCatStrings(3, b, "abc", as.c_str(), "x"); }, "abc" + as + "x"),
      text("HVDPAllocGenericString", nullptr,
           [](HVDPStringBuffer** b) { return HVDPAllocGenericString(0x200, b, 0) != nullptr ? (*b)->text : nullptr; },
           std::string(4, '\0')),
      text("HVDPCatGenericStrings growing twice (wide)", nullptr,
           [&](HVDPStringBuffer** b) { return HVDPCatGenericStrings(0x200, 2, b, L"ab", wide_as.c_str()); },
           bytes(L"ab" + wide_as)),
      text("HVDPFixDirectoryPath", nullptr,
           [](HVDPStringBuffer** b) { return HVDPFixDirectoryPath(std::string("C:\\dir").data(), 0, b, 0); },
           std::string("C:dir/", 7)),
      text("HVDPFixGenericDirectoryPath (wide)", nullptr,
           [](HVDPStringBuffer** b) {
             return HVDPFixGenericDirectoryPath(std::wstring(L"c:\\dir").data(), 0x200, b, 0);
           },
           bytes(L"C:DIR/")),
      {"matchIName", [] { return matchIName(0, "A*C", "abc", 0); }, 0, kMatch},
      {"HVDPMatchName, name space 4", [] { return HVDPMatchName(4, "A*C", "abc", 0); }, 0, kMatch},
      {"matchNameEnabled, 21 stars", [&] { return matchNameEnabled(0, stars.c_str(), name.c_str(), 0); }, 0, kMatch,
       true},
      {"HVDPWildMatch, 21 stars", [&] { return HVDPWildMatch(stars.c_str(), name.c_str()); }, 1, 0, true},
      {"HVDPGenericWildMatch, 21 stars", [&] { return HVDPGenericWildMatch(0x100, stars.c_str(), name.c_str()); }, 1,
       0, true},
      {"DPstrdup", [] { return holds(DPstrdup(0, "abc"), "abc", 4); }, 1, 0},
      {"DPstrdup (wide)", [] { return holds(DPstrdup(0x200, L"abc"), L"abc", 16); }, 1, 0},
      {"DPutf8dup", [] { return holds(DPutf8dup("h\xC3\xA9"), "h\xC3\xA9", 4); }, 1, 0},
      {"DPstrnicmp (UTF-8)", [] { return DPstrnicmp(0x100, "ab", "ABC", 3); }, 0, -1},
      {"DPstricmp (UTF-8)", [] { return DPstricmp(0x100, "abc", "ABC"); }, 0, -1},
      {"StrIEqu (UTF-8)", [] { return StrIEqu(0x100, "abc", "ABC"); }, 1, 0},
      {"DPutf8nicmp", [] { return DPutf8nicmp("abc", "ABD", 2); }, 0, -1},
      // In place, through a heap copy for text this long: unchanged on failure.
      {"DPstrrev (UTF-8)",
       [&] {
         std::string s = name;
         const bool failed = DPstrrev(0x100, s.data()) == nullptr;
         EXPECT_EQ(s, failed ? name : std::string(name.rbegin(), name.rend()));
         return long{!failed};
       },
       1, 0},
      {"DPstrupr (UTF-8)",
       [&] {
         std::string s = name;
         EXPECT_EQ(DPstrupr(0x100, s.data()), s.data());
         EXPECT_TRUE(s == name || s == std::string(300, 'A') + "B");
         return long{s != name};
       },
       1, 0},
  });
}

TEST_F(AllocFail, SetUpAndMultibyteTables) {
  WriteLanguageFile("RC_LANG=xx_YY\n");  // EUC-JP
  fail_each_allocation({
      // A conversion runs the same set-up and goes on whatever it returned.
      {"DPInitUniLibrary finding the code set",
       [] {
         DPShutDownUniLibrary();
         const uint32_t rc = DPInitUniLibrary(nullptr);
         EXPECT_TRUE(rc == 0 ? std::strcmp(dp_current_codeset, "EUC-JP") == 0
                             : DPInitICONV == 0 && resetLocaleToThis == nullptr && resetCharSetToThis == nullptr);
         EXPECT_EQ(CurrentCtype(), "C");
         return rc;
       },
       0, 0xFFFFFFFF},
      // Without a table row or the memo the measurement converts afresh: 3 all the same.
      {"dp_mblen building its tables",
       [] {
         EXPECT_EQ(DPInitUniLibrary("EUC-JP"), 0u);  // new tables for each call
         return dp_mblen("\x8F\xB0\xA1", 3);
       },
       3, 3},
  });
}

}  // namespace
