// Extension areas: walks entry by entry, type-3 items, the search by type,
// the handle's life, and areas from hostile media that end flush against an
// unreadable page (cut at every byte, lengths that lie).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dpxut.h"
#include "names/extension.h"
#include "names/name_buffer.h"
#include "support/guard_page.h"

namespace {

using dpxut::test::hex;
using dpxut::test::GuardedBytes;

// Offsets into the area (-1 for null) of what an entry points at.
long offset(const void* area, const void* p) {
  return p == nullptr ? -1 : static_cast<const unsigned char*>(p) - static_cast<const unsigned char*>(area);
}

struct Seen {
  uint32_t type, tag, length;
  long data;            // offset of data (types other than 3), -1 null
  long s1, s2, s3;      // offsets of the items (type 3)
  bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Seen& s) {
  return os << "{" << s.type << "," << s.tag << "," << s.length << "," << s.data << "," << s.s1 << ","
            << s.s2 << "," << s.s3 << "}";
}

Seen seen(const void* area, const HVDPExtensionEntry* e) {
  Seen s{e->entryType, e->entryTag, e->dataLength, -1, -1, -1, -1};
  if (e->entryType == 3 && e->data != nullptr) {
    const auto* str = static_cast<const HVDPExtensionStrings*>(e->data);
    s.s1 = offset(area, str->string1);
    s.s2 = offset(area, str->string2);
    s.s3 = offset(area, str->string3);
  } else {
    s.data = offset(area, e->data);
  }
  return s;
}

// Walks the whole area: the entries read and the code that ended the walk.
struct Walk {
  std::vector<Seen> entries;
  uint32_t end = 0;
};

Walk walk(const void* area, uint32_t length) {
  Walk w;
  HVDPExtensionEntry* e = nullptr;
  HVDPExtensionHandle* h = nullptr;
  uint32_t rc = HVDPGetFirstExtension(area, length, &e, &h);
  while (rc == 0) {
    EXPECT_NE(h, nullptr);
    w.entries.push_back(seen(area, e));
    rc = HVDPGetNextExtension(&h, &e);
  }
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(e, nullptr);
  w.end = rc;
  return w;
}

const uint32_t kUnder = HVDPUT_BUFFER_UNDERFLOW;

struct WalkCase {
  const char* what;
  const char* area;
  std::vector<Seen> entries;
  uint32_t end;
};

const WalkCase kWalks[] = {
    {"empty area", "", {}, kUnder},
    {"eleven bytes", "01000000 02000000 000000", {}, kUnder},
    {"two entries",
     "01000000 11000000 04000000 AABBCCDD"   // type 1, tag 0x11, 4 data bytes at 12
     "02000000 22000000 00000000",           // type 2, tag 0x22, no data
     {{1, 0x11, 4, 12, -1, -1, -1}, {2, 0x22, 0, -1, -1, -1, -1}}, kUnder},
    {"data longer than the rest", "01000000 00000000 05000000 AABBCCDD", {}, kUnder},
    {"second header cut", "01000000 00000000 01000000 AA 02000000 00", {{1, 0, 1, 12, -1, -1, -1}}, kUnder},
    {"type 3, second item empty",
     "03000000 05000000 0B000000 0300 616263 0000 0200 7879",  // abc, -, xy
     {{3, 5, 11, -1, 14, -1, 21}}, kUnder},
    {"type 3 without data", "03000000 00000000 00000000", {{3, 0, 0, -1, -1, -1, -1}}, kUnder},
    {"type 3, all items empty then another entry",
     "03000000 00000000 06000000 0000 0000 0000  04000000 00000000 00000000",
     {{3, 0, 6, -1, -1, -1, -1}, {4, 0, 0, -1, -1, -1, -1}}, kUnder},
    // Items that fall short of dataLength: the rest of the data is stepped over.
    {"type 3 shorter than its data",
     "03000000 00000000 0A000000 0100 41 0000 0000 EEEEEE  04000000 00000000 00000000",
     {{3, 0, 10, -1, 14, -1, -1}, {4, 0, 0, -1, -1, -1, -1}}, kUnder},
    // Items beyond an understated dataLength: stepped over as a whole.
    {"type 3 longer than its data",
     "03000000 00000000 02000000 0100 41 0100 42 0100 43  04000000 00000000 00000000",
     {{3, 0, 2, -1, 14, 17, 20}, {4, 0, 0, -1, -1, -1, -1}}, kUnder},
    {"type 3 item past the area", "03000000 00000000 06000000 0100 41 0500 4243", {}, kUnder},
    {"type 3 length word past the area", "03000000 00000000 04000000 0100 41 00", {}, kUnder},
};

TEST(Extensions, WalksAreasEntryByEntry) {
  for (const auto& c : kWalks) {
    SCOPED_TRACE(c.what);
    GuardedBytes area{std::string_view(hex(c.area))};
    Walk w = walk(area.data(), static_cast<uint32_t>(area.size()));
    EXPECT_EQ(w.entries, c.entries);
    EXPECT_EQ(w.end, c.end);
  }
}

// Every prefix of a sound area, ending flush at an unreadable page, walks
// the entries that lie wholly inside it and ends with an underflow.
TEST(Extensions, AreaCutAtEveryByteReadsOnlyWholeEntries) {
  const std::string full = hex(
      "01000000 01000000 03000000 414243"
      "03000000 02000000 0B000000 0300 616263 0000 0200 7879"
      "02000000 03000000 00000000");
  const size_t ends[] = {15, 38, 50};  // where each entry ends
  for (size_t cut = 0; cut <= full.size(); ++cut) {
    SCOPED_TRACE(cut);
    GuardedBytes area{std::string_view(full).substr(0, cut)};
    Walk w = walk(area.data(), static_cast<uint32_t>(cut));
    size_t whole = 0;
    while (whole < 3 && ends[whole] <= cut) ++whole;
    EXPECT_EQ(w.entries.size(), whole);
    EXPECT_EQ(w.end, kUnder);
  }
}

TEST(Extensions, GetExtensionReturnsFirstOfTypeAndLeavesHandleOpen) {
  const std::string a = hex(
      "01000000 0A000000 00000000"
      "07000000 0B000000 01000000 AA"
      "07000000 0C000000 00000000");
  HVDPExtensionEntry* e = nullptr;
  HVDPExtensionHandle* h = nullptr;
  ASSERT_EQ(HVDPGetExtension(a.data(), static_cast<uint32_t>(a.size()), 7, &e, &h), 0u);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(e->entryTag, 0x0Bu);
  EXPECT_EQ(offset(a.data(), e->data), 24);
  // The walk goes on from the match.
  ASSERT_EQ(HVDPGetNextExtension(&h, &e), 0u);
  EXPECT_EQ(e->entryTag, 0x0Cu);
  EXPECT_EQ(HVDPCloseExtension(&h), 0u);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(HVDPCloseExtension(&h), HVDPUT_INVALID_HANDLE);

  EXPECT_EQ(HVDPGetExtension(a.data(), static_cast<uint32_t>(a.size()), 9, &e, &h), kUnder);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(e, nullptr);
}

TEST(Extensions, RefusesNullArgumentsAndHandlesThatAreNotLive) {
  const std::string a = hex("01000000 00000000 00000000");
  HVDPExtensionEntry* e = nullptr;
  HVDPExtensionHandle* h = nullptr;
  EXPECT_EQ(HVDPGetFirstExtension(nullptr, 12, &e, &h), HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(HVDPGetFirstExtension(a.data(), 12, nullptr, &h), HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(HVDPGetFirstExtension(a.data(), 12, &e, nullptr), HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(HVDPGetExtension(nullptr, 12, 1, &e, &h), HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(HVDPGetExtension(a.data(), 12, 1, nullptr, &h), HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(HVDPGetNextExtension(nullptr, &e), HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(HVDPGetNextExtension(&h, &e), HVDPUT_INVALID_PARAMETER);  // *handle null
  EXPECT_EQ(HVDPCloseExtension(nullptr), HVDPUT_INVALID_HANDLE);
  EXPECT_EQ(HVDPCloseExtension(&h), HVDPUT_INVALID_HANDLE);
  // A walk asked to go on without a place for its entry is closed.
  ASSERT_EQ(HVDPGetFirstExtension(a.data(), 12, &e, &h), 0u);
  EXPECT_EQ(HVDPGetNextExtension(&h, nullptr), HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(h, nullptr);

  // A dead handle, or one without a cursor, is left as it is.
  HVDPExtensionHandle dead{dpxut::names::kHandleDead, 12, reinterpret_cast<const unsigned char*>(a.data()),
                           reinterpret_cast<const unsigned char*>(a.data()), nullptr};
  HVDPExtensionHandle no_cursor{dpxut::names::kHandleLive, 12, reinterpret_cast<const unsigned char*>(a.data()),
                                nullptr, nullptr};
  for (HVDPExtensionHandle* forged : {&dead, &no_cursor}) {
    h = forged;
    EXPECT_EQ(HVDPGetNextExtension(&h, &e), HVDPUT_INVALID_HANDLE);
    EXPECT_EQ(HVDPCloseExtension(&h), HVDPUT_INVALID_HANDLE);
    EXPECT_EQ(h, forged);
  }
}

TEST(Extensions, EntryRecordBelongsToTheHandle) {
  const std::string a = hex(
      "03000000 00000000 07000000 0100 41 0000 0000"
      "05000000 00000000 02000000 BBCC");
  HVDPExtensionEntry* e = nullptr;
  HVDPExtensionHandle* h = nullptr;
  ASSERT_EQ(HVDPGetFirstExtension(a.data(), static_cast<uint32_t>(a.size()), &e, &h), 0u);
  HVDPExtensionEntry* record = e;
  // A caller's own record in the entry pointer is neither filled nor freed.
  HVDPExtensionEntry mine{99, 99, 99, nullptr};
  e = &mine;
  ASSERT_EQ(HVDPGetNextExtension(&h, &e), 0u);
  EXPECT_EQ(e, record);
  EXPECT_EQ(mine.entryType, 99u);
  EXPECT_EQ(seen(a.data(), e), (Seen{5, 0, 2, 31, -1, -1, -1}));
  EXPECT_EQ(HVDPCloseExtension(&h), 0u);
}

TEST(Extensions, CursorBeyondTheAreaEndsTheWalk) {
  const std::string a = hex("01000000 00000000 00000000 01000000 00000000 00000000");
  HVDPExtensionEntry* e = nullptr;
  HVDPExtensionHandle* h = nullptr;
  ASSERT_EQ(HVDPGetFirstExtension(a.data(), 24, &e, &h), 0u);
  h->cursor = h->start + 25;
  EXPECT_EQ(HVDPGetNextExtension(&h, &e), HVDPUT_BEYOND_END);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(e, nullptr);
}

int calls_before_failure = 0;
void* failing_calloc(size_t n, size_t size) {
  return calls_before_failure-- > 0 ? std::calloc(n, size) : nullptr;
}

TEST(Extensions, AllocationFailureClosesTheHandle) {
  const std::string a = hex("01000000 00000000 00000000");
  dpxut::names::set_extension_calloc_for_testing(&failing_calloc);
  for (int ok = 0; ok < 2; ++ok) {
    calls_before_failure = ok;  // 0: the handle fails, 1: its entry record
    HVDPExtensionEntry* e = nullptr;
    HVDPExtensionHandle* h = nullptr;
    EXPECT_EQ(HVDPGetFirstExtension(a.data(), 12, &e, &h), HVDPUT_OUT_OF_MEMORY);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(e, nullptr);
  }
  dpxut::names::set_extension_calloc_for_testing(nullptr);
}

}  // namespace
