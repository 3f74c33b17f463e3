// The per-thread iconv descriptor cache: reuse within a thread, separation
// between threads, a clean shift state on every lease, invalidation.
#include <gtest/gtest.h>

#include <barrier>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/iconv_cache.h"

namespace {

using dpxut::IconvLease;
using dpxut::iconv_cache_thread_opens;

std::string Convert(IconvLease& cd, const std::string& in) {
  const char* src = in.data();
  size_t src_left = in.size();
  char buf[64];
  char* dst = buf;
  size_t dst_left = sizeof buf;
  EXPECT_NE(cd.convert(&src, &src_left, &dst, &dst_left), dpxut::kIconvFailed);
  return std::string(buf, dst);
}

TEST(IconvCache, ReusesTheDescriptorWithinAThread) {
  iconv_t first;
  {
    IconvLease cd("UTF-8", "EUC-JP");
    ASSERT_TRUE(cd);
    first = cd.get();
  }
  const uint64_t opens = iconv_cache_thread_opens();
  for (int i = 0; i < 100; ++i) {
    IconvLease cd("UTF-8", "EUC-JP");
    EXPECT_EQ(cd.get(), first);
    EXPECT_EQ(Convert(cd, "\xA4\xA2"), "\xE3\x81\x82");  // HIRAGANA A
  }
  EXPECT_EQ(iconv_cache_thread_opens(), opens);
}

TEST(IconvCache, NestedLeasesOfOnePairGetTheirOwnDescriptors) {
  IconvLease outer("UTF-8", "ISO-8859-1");
  IconvLease inner("UTF-8", "ISO-8859-1");
  ASSERT_TRUE(outer && inner);
  EXPECT_NE(outer.get(), inner.get());
}

TEST(IconvCache, NestedLeasesLeaveOneDescriptorCached) {
  {
    IconvLease outer("UTF-8", "ISO-8859-1");
    IconvLease inner("UTF-8", "ISO-8859-1");
    ASSERT_TRUE(outer && inner);
  }
  const uint64_t opens = iconv_cache_thread_opens();
  IconvLease again("UTF-8", "ISO-8859-1");
  IconvLease nested("UTF-8", "ISO-8859-1");  // the cached one is out again
  EXPECT_EQ(iconv_cache_thread_opens(), opens + 1);
}

// Leased descriptors are never closed under their holder: not by eviction
// when every slot is out and more pairs come, not by an invalidation seen
// by a nested lookup. (Under ASan a closed descriptor in use would show.)
TEST(IconvCache, LeasedDescriptorsStayOpenUntilReturned) {
  const char* held[] = {"EUC-JP", "ISO-8859-1", "ISO-8859-2", "ISO-8859-5",
                        "ISO-8859-15", "CP1252", "KOI8-R", "CP437"};
  static_assert(std::size(held) == dpxut::kIconvCacheSlots);
  std::vector<std::unique_ptr<IconvLease>> leases;
  for (const char* cs : held) leases.push_back(std::make_unique<IconvLease>(cs, "UTF-8"));
  for (const char* extra : {"SHIFT_JIS", "ISO-8859-7", "CP1251"}) {
    IconvLease cd(extra, "UTF-8");  // no slot left: its own descriptor
    ASSERT_TRUE(cd) << extra;
  }
  for (auto& cd : leases) EXPECT_EQ(Convert(*cd, "A"), "A");
  leases.clear();
  uint64_t opens = iconv_cache_thread_opens();
  for (const char* cs : held) IconvLease cd(cs, "UTF-8");
  EXPECT_EQ(iconv_cache_thread_opens(), opens);  // all eight went back

  IconvLease outer("UTF-8", "EUC-JP");
  dpxut::iconv_cache_invalidate();
  { IconvLease nested("UTF-8", "ISO-8859-1"); }  // empties this thread's table
  EXPECT_EQ(Convert(outer, "\xA4\xA2"), "\xE3\x81\x82");
}

TEST(IconvCache, NamesUpToTheLimitAreCachedLongerOnesAreNot) {
  // iconv ignores empty suffixes after "//", so these all name UTF-8.
  auto name = [](size_t len) { return "UTF-8//" + std::string(len - 7, ','); };
  for (size_t len : {dpxut::kIconvNameMax - 1, dpxut::kIconvNameMax, dpxut::kIconvNameMax + 50}) {
    const std::string to = name(len);
    { IconvLease cd(to.c_str(), "ISO-8859-1"); ASSERT_TRUE(cd) << len; }
    const uint64_t opens = iconv_cache_thread_opens();
    IconvLease cd(to.c_str(), "ISO-8859-1");
    EXPECT_EQ(Convert(cd, "\xE9"), "\xC3\xA9");
    EXPECT_EQ(iconv_cache_thread_opens(), opens + (len < dpxut::kIconvNameMax ? 0 : 1)) << len;
  }
}

// Handing a lease to another thread is a caller error; it must still not
// disturb that thread's cache: the descriptor is closed, not filed away in
// the slot that has the same place in this thread's table.
TEST(IconvCache, LeaseEndedOnAnotherThreadLeavesItsCacheAlone) {
  dpxut::iconv_cache_invalidate();  // both tables start empty: same first slot
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
    {
      IconvLease cd("UTF-8", "EUC-JP");
      ASSERT_TRUE(cd);
      seen[i] = cd.get();
    }
    sync.arrive_and_wait();  // both cached theirs; neither has exited
    IconvLease again("UTF-8", "EUC-JP");
    EXPECT_EQ(again.get(), seen[i]);
    opened[i] = iconv_cache_thread_opens();
    sync.arrive_and_wait();
  };
  std::thread a(worker, 0), b(worker, 1);
  a.join();
  b.join();
  EXPECT_NE(seen[0], seen[1]);
  EXPECT_EQ(opened[0], 1u);
  EXPECT_EQ(opened[1], 1u);
}

TEST(IconvCache, EveryLeaseStartsInTheInitialShiftState) {
  {
    IconvLease cd("ISO-2022-JP", "UTF-8");
    ASSERT_TRUE(cd);
    // Leaves the encoder in JIS X 0208 mode: ESC $ B, then the kanji.
    EXPECT_EQ(Convert(cd, "\xE4\xB8\xAD"), "\x1B$BCf");
  }
  IconvLease cd("ISO-2022-JP", "UTF-8");
  EXPECT_EQ(Convert(cd, "A"), "A");  // no ESC ( B: the state was reset
  EXPECT_EQ(Convert(cd, "\xE4\xB8\xAD"), "\x1B$BCf");
  cd.reset_state();
  EXPECT_EQ(Convert(cd, "A"), "A");
}

TEST(IconvCache, InvalidationClosesCachedDescriptors) {
  { IconvLease cd("UTF-8", "EUC-JP"); }
  uint64_t opens = iconv_cache_thread_opens();
  dpxut::iconv_cache_invalidate();
  { IconvLease cd("UTF-8", "EUC-JP"); }
  EXPECT_EQ(iconv_cache_thread_opens(), opens + 1);
  // A lease held across an invalidation is not put back.
  {
    IconvLease cd("UTF-8", "EUC-JP");
    dpxut::iconv_cache_invalidate();
  }
  opens = iconv_cache_thread_opens();
  { IconvLease cd("UTF-8", "EUC-JP"); }
  EXPECT_EQ(iconv_cache_thread_opens(), opens + 1);
}

TEST(IconvCache, EvictsTheLeastRecentlyReturnedWhenFull) {
  const char* codesets[] = {"EUC-JP", "ISO-8859-1", "ISO-8859-2", "ISO-8859-5", "ISO-8859-15",
                            "CP1252", "SHIFT_JIS", "KOI8-R", "CP437"};
  static_assert(std::size(codesets) == dpxut::kIconvCacheSlots + 1);
  for (const char* cs : codesets) {
    IconvLease cd("UTF-8", cs);
    ASSERT_TRUE(cd) << cs;
  }
  uint64_t opens = iconv_cache_thread_opens();
  { IconvLease cd("UTF-8", "CP437"); }  // newest: still cached
  EXPECT_EQ(iconv_cache_thread_opens(), opens);
  { IconvLease cd("UTF-8", "EUC-JP"); }  // oldest: was evicted
  EXPECT_EQ(iconv_cache_thread_opens(), opens + 1);
}

TEST(IconvCache, RefusedPairsAndNamesGiveNoDescriptor) {
  IconvLease bad("UTF-8", "NO-SUCH-CODESET");
  EXPECT_FALSE(bad);
  const char* in = "x";
  size_t in_left = 1;
  char buf[4];
  char* out = buf;
  size_t out_left = sizeof buf;
  errno = 0;
  EXPECT_EQ(bad.convert(&in, &in_left, &out, &out_left), dpxut::kIconvFailed);
  EXPECT_EQ(errno, EBADF);
  EXPECT_FALSE(IconvLease(nullptr, "UTF-8"));
}

}  // namespace
