// The per-thread iconv descriptor cache: reuse within a thread, separation
// between threads, a clean shift state on every lease, invalidation.
#include "common/iconv_cache.h"

#include <gtest/gtest.h>

#include <barrier>
#include <cerrno>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using dpxut::iconv_cache_invalidate;
using dpxut::IconvLease;

std::string Convert(IconvLease& cd, const std::string& in) {
  const char* src = in.data();
  size_t src_left = in.size(), dst_left = 64;
  char buf[64], *dst = buf;
  EXPECT_NE(cd.convert(&src, &src_left, &dst, &dst_left), dpxut::kIconvFailed);
  return std::string(buf, dst);
}
uint64_t Opens() { return dpxut::iconv_cache_thread_opens(); }  // iconv_open calls of this thread
void LeaseOnce(const char* to, const char* from) { ASSERT_TRUE(IconvLease(to, from)) << to << " " << from; }

TEST(IconvCache, ReusesOneDescriptorPerPairAndGivesNestedLeasesTheirOwn) {
  LeaseOnce("UTF-8", "EUC-JP");
  uint64_t before = Opens();
  for (int i = 0; i < 100; ++i) {
    IconvLease cd("UTF-8", "EUC-JP");
    EXPECT_EQ(Convert(cd, "\xA4\xA2"), "\xE3\x81\x82");  // HIRAGANA A
  }
  EXPECT_EQ(Opens(), before);
  {
    IconvLease outer("UTF-8", "EUC-JP"), inner("UTF-8", "EUC-JP");
    ASSERT_TRUE(outer && inner);
    EXPECT_NE(outer.get(), inner.get());
  }
  before = Opens();
  IconvLease again("UTF-8", "EUC-JP"), nested("UTF-8", "EUC-JP");  // one was kept, the other closed
  EXPECT_EQ(Opens(), before + 1);
}

// Leased descriptors are never closed under their holder: not by eviction
// when every slot is out and more pairs come, not by an invalidation seen
// by a nested lookup. (Under ASan a closed descriptor in use would show.)
// Returned ones are evicted least recently returned first.
TEST(IconvCache, LeasedDescriptorsStayOpenAndReturnedOnesAreEvictedOldestFirst) {
  const char* held[] = {"EUC-JP", "ISO-8859-1", "ISO-8859-2", "ISO-8859-5",
                        "ISO-8859-15", "CP1252", "KOI8-R", "CP437"};
  static_assert(std::size(held) == dpxut::kIconvCacheSlots);
  std::vector<std::unique_ptr<IconvLease>> leases;
  for (const char* cs : held) leases.push_back(std::make_unique<IconvLease>(cs, "UTF-8"));
  for (const char* extra : {"SHIFT_JIS", "ISO-8859-7", "CP1251"}) LeaseOnce(extra, "UTF-8");  // no slot left
  for (auto& cd : leases) EXPECT_EQ(Convert(*cd, "A"), "A");
  leases.clear();  // returned in order: EUC-JP first
  const uint64_t before = Opens();
  for (const char* cs : held) LeaseOnce(cs, "UTF-8");
  EXPECT_EQ(Opens(), before) << "all went back";
  LeaseOnce("SHIFT_JIS", "UTF-8");  // a ninth pair evicts the oldest
  LeaseOnce("CP437", "UTF-8");
  EXPECT_EQ(Opens(), before + 1);
  LeaseOnce("EUC-JP", "UTF-8");
  EXPECT_EQ(Opens(), before + 2);
  IconvLease outer("UTF-8", "EUC-JP");
  iconv_cache_invalidate();
  LeaseOnce("UTF-8", "ISO-8859-1");  // empties this thread's table
  EXPECT_EQ(Convert(outer, "\xA4\xA2"), "\xE3\x81\x82");
}

TEST(IconvCache, NamesUpToTheLimitAreCachedLongerOnesAreNot) {
  // iconv ignores empty suffixes after "//", so these all name UTF-8.
  for (size_t len : {dpxut::kIconvNameMax - 1, dpxut::kIconvNameMax, dpxut::kIconvNameMax + 50}) {
    const std::string to = "UTF-8//" + std::string(len - 7, ',');
    LeaseOnce(to.c_str(), "ISO-8859-1");
    const uint64_t before = Opens();
    IconvLease cd(to.c_str(), "ISO-8859-1");
    EXPECT_EQ(Convert(cd, "\xE9"), "\xC3\xA9");
    EXPECT_EQ(Opens(), before + (len < dpxut::kIconvNameMax ? 0 : 1)) << len;
  }
}

// Handing a lease to another thread is a caller error; it must still not
// disturb that thread's cache: the descriptor is closed, not filed away in
// the slot that has the same place in this thread's table.
TEST(IconvCache, LeaseEndedOnAnotherThreadLeavesItsCacheAlone) {
  iconv_cache_invalidate();  // both tables start empty: same first slot
  IconvLease held("UTF-8", "EUC-JP");
  std::unique_ptr<IconvLease> foreign;
  std::thread([&] { foreign = std::make_unique<IconvLease>("UTF-8", "ISO-8859-1"); }).join();
  ASSERT_TRUE(held && *foreign);
  foreign.reset();
  IconvLease nested("UTF-8", "EUC-JP");  // the cached one is still out
  EXPECT_NE(nested.get(), held.get());
  EXPECT_EQ(Convert(nested, "\xA4\xA2"), "\xE3\x81\x82");
}

TEST(IconvCache, ThreadsDoNotShareDescriptors) {
  std::barrier sync(2);
  iconv_t seen[2] = {};
  uint64_t opened[2] = {};
  auto worker = [&](int i) {
    seen[i] = IconvLease("UTF-8", "EUC-JP").get();
    sync.arrive_and_wait();  // both cached theirs; neither has exited
    EXPECT_EQ(IconvLease("UTF-8", "EUC-JP").get(), seen[i]);
    opened[i] = Opens();
    sync.arrive_and_wait();
  };
  std::thread a(worker, 0), b(worker, 1);
  a.join();
  b.join();
  EXPECT_NE(seen[0], seen[1]);
  EXPECT_TRUE(opened[0] == 1 && opened[1] == 1);
}

TEST(IconvCache, EveryLeaseStartsInTheInitialShiftState) {
  {
    IconvLease cd("ISO-2022-JP", "UTF-8");
    ASSERT_TRUE(cd);
    EXPECT_EQ(Convert(cd, "\xE4\xB8\xAD"), "\x1B$BCf");  // left in JIS X 0208 mode: ESC $ B, kanji
  }
  IconvLease cd("ISO-2022-JP", "UTF-8");
  EXPECT_EQ(Convert(cd, "A"), "A");  // no ESC ( B: the state was reset
  EXPECT_EQ(Convert(cd, "\xE4\xB8\xAD"), "\x1B$BCf");
  cd.reset_state();
  EXPECT_EQ(Convert(cd, "A"), "A");
}

TEST(IconvCache, InvalidationClosesCachedDescriptors) {
  LeaseOnce("UTF-8", "EUC-JP");
  iconv_cache_invalidate();
  uint64_t before = Opens();
  LeaseOnce("UTF-8", "EUC-JP");
  EXPECT_EQ(Opens(), before + 1);
  {
    IconvLease cd("UTF-8", "EUC-JP");
    iconv_cache_invalidate();
  }
  before = Opens();
  LeaseOnce("UTF-8", "EUC-JP");
  EXPECT_EQ(Opens(), before + 1) << "a lease held across it is not put back";
}

TEST(IconvCache, RefusedPairsAndNamesGiveNoDescriptor) {
  IconvLease bad("UTF-8", "NO-SUCH-CODESET");
  EXPECT_FALSE(bad);
  const char* in = "x";
  size_t in_left = 1, out_left = 4;
  char buf[4], *out = buf;
  errno = 0;
  EXPECT_EQ(bad.convert(&in, &in_left, &out, &out_left), dpxut::kIconvFailed);
  EXPECT_EQ(errno, EBADF);
  EXPECT_FALSE(IconvLease(nullptr, "UTF-8"));
}

}  // namespace
