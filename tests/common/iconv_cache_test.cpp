// The per-thread iconv descriptor cache: reuse within a thread, eviction,
// a clean shift state on every lease, invalidation.
#include "common/iconv_cache.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using dpxut::IconvLease;

std::string Convert(IconvLease& cd, const std::string& in) {
  const char* src = in.data();
  size_t src_left = in.size(), dst_left = 64;
  char buf[64], *dst = buf;
  return cd.convert(&src, &src_left, &dst, &dst_left) == dpxut::kIconvFailed ? "failed" : std::string(buf, dst);
}
uint64_t Opens() { return dpxut::iconv_cache_thread_opens(); }  // iconv_open calls of this thread
void LeaseOnce(const char* to, const char* from) { ASSERT_TRUE(IconvLease(to, from)) << to << " " << from; }

// One descriptor per pair is kept; a nested lease of a pair that is out
// gets one of its own, closed when it ends; an invalidation closes what is
// kept, and what was out meanwhile is not put back.
TEST(IconvCache, ReusesOneDescriptorPerPairUntilInvalidated) {
  LeaseOnce("UTF-8", "EUC-JP");
  const uint64_t before = Opens();
  {
    IconvLease outer("UTF-8", "EUC-JP"), inner("UTF-8", "EUC-JP");
    EXPECT_TRUE(Convert(outer, "\xA4\xA2") == "\xE3\x81\x82" && inner && outer.get() != inner.get());  // HIRAGANA A
  }
  LeaseOnce("UTF-8", "EUC-JP");
  EXPECT_EQ(Opens(), before + 1) << "only the inner one was opened, and only the outer one kept";
  dpxut::iconv_cache_invalidate();
  {
    IconvLease cd("UTF-8", "EUC-JP");  // opened again: the invalidation closed the one kept
    dpxut::iconv_cache_invalidate();
    LeaseOnce("UTF-8", "ISO-8859-1");  // empties this thread's table under the lease
    EXPECT_EQ(Convert(cd, "\xA4\xA2"), "\xE3\x81\x82");
  }
  LeaseOnce("UTF-8", "EUC-JP");
  EXPECT_EQ(Opens(), before + 4);
}

// Leased descriptors are never closed by eviction when every slot is out
// and more pairs come; returned ones are evicted least recently returned
// first. Names longer than the limit are never cached.
TEST(IconvCache, EvictsTheOldestReturnedDescriptorAndCachesShortNamesOnly) {
  const char* held[] = {"EUC-JP", "ISO-8859-1", "ISO-8859-2", "ISO-8859-5", "ISO-8859-15", "CP1252", "KOI8-R", "CP437"};
  static_assert(std::size(held) == dpxut::kIconvCacheSlots);
  std::vector<std::unique_ptr<IconvLease>> leases;
  for (const char* cs : held) leases.push_back(std::make_unique<IconvLease>(cs, "UTF-8"));
  LeaseOnce("SHIFT_JIS", "UTF-8");  // no slot left
  for (auto& cd : leases) EXPECT_EQ(Convert(*cd, "A"), "A");
  leases.clear();  // returned in order: EUC-JP first
  const uint64_t before = Opens();
  for (const char* cs : held) LeaseOnce(cs, "UTF-8");
  LeaseOnce("SHIFT_JIS", "UTF-8");  // a ninth pair evicts the oldest
  LeaseOnce("CP437", "UTF-8");
  EXPECT_EQ(Opens(), before + 1);
  LeaseOnce("EUC-JP", "UTF-8");
  EXPECT_EQ(Opens(), before + 2);
  // iconv ignores empty suffixes after "//", so these all name UTF-8.
  for (size_t len : {dpxut::kIconvNameMax - 1, dpxut::kIconvNameMax}) {
    const std::string to = "UTF-8//" + std::string(len - 7, ',');
    LeaseOnce(to.c_str(), "ISO-8859-1");
    const uint64_t opens = Opens();
    IconvLease cd(to.c_str(), "ISO-8859-1");
    EXPECT_TRUE(Convert(cd, "\xE9") == "\xC3\xA9" && Opens() == opens + (len < dpxut::kIconvNameMax ? 0 : 1)) << len;
  }
}

TEST(IconvCache, EveryLeaseStartsInTheInitialShiftState) {
  EXPECT_EQ(Convert(*std::make_unique<IconvLease>("ISO-2022-JP", "UTF-8"), "\xE4\xB8\xAD"), "\x1B$BCf");
  IconvLease cd("ISO-2022-JP", "UTF-8");  // the lease before ended in JIS X 0208 mode
  EXPECT_EQ(Convert(cd, "A"), "A");  // no ESC ( B: the state was reset
  EXPECT_EQ(Convert(cd, "\xE4\xB8\xAD"), "\x1B$BCf");
  cd.reset_state();
  EXPECT_EQ(Convert(cd, "A"), "A");
}

}  // namespace
