// Extension areas from media: walks entry by entry over areas that end
// flush against an unreadable page, type-3 items, and a cursor beyond the
// area. Cut headers, data and items past the area are the fuzz target's
// part.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dpxut.h"
#include "names/extension.h"  // the handle's cursor
#include "support/bytes.h"
#include "support/guard.h"

namespace {

using dpxut::test::hex;

// Each entry as read: type, tag, length, then the offset into the area of
// its data, or of the three items of a type-3 entry; -1 for null.
TEST(Extensions, WalksAreasEntryByEntry) {
  const struct {
    const char* area;
    std::vector<std::vector<long>> entries;
  } cases[] = {
      {"01000000 11000000 04000000 AABBCCDD  02000000 22000000 00000000", {{1, 0x11, 4, 12}, {2, 0x22, 0, -1}}},
      {"03000000 05000000 0B000000 0300 616263 0000 0200 7879", {{3, 5, 11, 14, -1, 21}}},  // second item empty
      {"03000000 00000000 00000000", {{3, 0, 0, -1}}},
      {"03000000 00000000 04000000 0100 41 00", {}},  // the last length word past the area
      // Items that fall short of dataLength: the rest of the data is stepped over.
      {"03000000 00000000 0A000000 0100 41 0000 0000 EEEEEE 04000000 00000000 00000000",
       {{3, 0, 10, 14, -1, -1}, {4, 0, 0, -1}}},
      // Items beyond an understated dataLength: stepped over as a whole.
      {"03000000 00000000 02000000 0100 41 0100 42 0100 43  04000000 00000000 00000000",
       {{3, 0, 2, 14, 17, 20}, {4, 0, 0, -1}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.area);
    dpxut::test::GuardedBytes area{std::string_view(hex(c.area))};
    auto offset = [&](const void* p) { return p ? static_cast<const unsigned char*>(p) - area.data() : -1L; };
    std::vector<std::vector<long>> entries;
    HVDPExtensionEntry* e = nullptr;
    HVDPExtensionHandle* h = nullptr;
    for (uint32_t rc = HVDPGetFirstExtension(area.data(), static_cast<uint32_t>(area.size()), &e, &h); rc == 0;
         rc = HVDPGetNextExtension(&h, &e)) {
      entries.push_back({long(e->entryType), long(e->entryTag), long(e->dataLength)});
      const auto* items = static_cast<const HVDPExtensionStrings*>(e->data);
      if (e->entryType != 3 || items == nullptr)
        entries.back().push_back(offset(e->data));
      else
        for (const char* item : {items->string1, items->string2, items->string3})
          entries.back().push_back(offset(item));
    }
    EXPECT_EQ(entries, c.entries);
  }
}

TEST(Extensions, CursorBeyondTheAreaEndsTheWalk) {
  const std::string a(12, '\0');
  HVDPExtensionEntry* e = nullptr;
  HVDPExtensionHandle* h = nullptr;
  ASSERT_EQ(HVDPGetFirstExtension(a.data(), 12, &e, &h), 0u);
  h->cursor = h->start + 13;
  EXPECT_EQ(HVDPGetNextExtension(&h, &e), HVDPUT_BEYOND_END);
  EXPECT_EQ(h, nullptr);
}

}  // namespace
