// Compressed streams through the API: the writer's zstd frames read back at
// any read size, offsets of the stream itself, cut or damaged compressed
// bytes refused without a hang, and each allocation failed in turn.
#include <gtest/gtest.h>

#include "common/heap.h"
#include "stream/stream_support.h"
#include "support/bytes.h"

namespace {

using namespace dpxut::test;

// Three entries, one of 300 KiB (zstd blocks of 128 KiB); compressed at `level`.
Bytes write_stream(int level, int threads, uint64_t* plain = nullptr) {
  Writer x;
  dpxut_writer_set_time(x.w, 1700000000);
  EXPECT_EQ(dpxut_writer_set_compression(x.w, level, threads), DPXUT_OK);
  x.entry("d", 0040755), x.add();
  x.entry("d/a", 0100644, 5), x.add("hello");
  std::string big(300 << 10, 'z');
  for (uint32_t i = 0, v = 1; i < big.size(); i += 2) big[i] = static_cast<char>('a' + (v = v * 69069 + 1) % 23 % 7);
  x.entry("d/big", 0100600, big.size()), x.add(big);
  EXPECT_EQ(dpxut_writer_finish(x.w), DPXUT_OK);
  if (plain != nullptr) *plain = dpxut_writer_offset(x.w);
  return x.sink.out;
}

TEST(StreamCompression, ReadsCompressedStreamsAsTheirPlainStream) {
  uint64_t plain_size = 0;
  const Bytes plain = write_stream(0, 0), packed = write_stream(3, 1, &plain_size), mt = write_stream(19, 2);
  EXPECT_EQ(plain_size, plain.size());  // offsets count the stream's own bytes
  ASSERT_GE(packed.size(), 4u);
  EXPECT_EQ(to_hex(packed.data(), 4), "28 B5 2F FD");
  EXPECT_LT(packed.size(), plain.size() / 4);
  for (size_t most : {size_t{1}, size_t{7}, size_t{65536}})
    for (const Bytes* b : {&packed, &mt}) EXPECT_EQ(read_all(*b, most), read_all(plain, most)) << "read size " << most;
  Source src{&packed, 0, 7};
  dpxut_reader* r = dpxut_reader_new(source_read, &src);
  dpxut_entry* e;
  for (int rc = DPXUT_OK; rc != DPXUT_EOF && rc != DPXUT_FATAL;) rc = dpxut_reader_next(r, &e);
  EXPECT_EQ(dpxut_reader_compressed(r), 1);
  EXPECT_EQ(dpxut_reader_offset(r), plain.size());
  dpxut_reader_free(r);
}

TEST(StreamCompression, CutOrDamagedCompressedStreamFailsThenEnds) {
  const Bytes packed = write_stream(3, 1);
  const struct {
    size_t at;  // bytes kept, or the byte flipped
    bool flip;
    const char* why;
  } cases[] = {{packed.size() - 1, false, "cut short"},  // inside the checksum
               {packed.size() / 2, false, "cut short"},  // inside the content, in a later block
               {4, false, "cut short"},                  // the magic number alone
               {packed.size() - 2, true, "damaged"},     // the checksum
               {packed.size() / 2, true, "damaged"}};    // a block
  for (const auto& c : cases) {
    Bytes b = packed;
    c.flip ? void(b[c.at] ^= 0x40) : b.resize(c.at);
    std::vector<std::string> errors;
    const std::vector<std::string> lines = read_all(b, 7, &errors);
    ASSERT_FALSE(lines.empty() || errors.empty()) << c.at;
    EXPECT_NE(lines.back().find("!TRUNCATED"), std::string::npos) << c.at << " " << lines.back();
    EXPECT_NE(errors.back().find(c.why), std::string::npos) << errors.back();
  }
}

// Runs call with each of its allocations failing in turn.
template <class Call>
void each_allocation_failing(Call&& call) {
  dpxut::heap_fail_at(0);
  const unsigned long start = dpxut::heap_count();
  call();
  const unsigned long k = dpxut::heap_count() - start;
  EXPECT_GT(k, 2u);
  for (unsigned long i = 1; i <= k; ++i) {
    dpxut::heap_fail_at(i);
    call();
    dpxut::heap_fail_at(0);
  }
}

// The writer ends whole or FATAL; neither side crashes, leaks or hangs.
TEST(StreamCompression, SettingsAndEachAllocationFailure) {
  Writer x;
  for (auto [level, threads] : {std::pair{20, 0}, {-1, 0}, {3, -1}, {3, 257}})
    EXPECT_EQ(dpxut_writer_set_compression(x.w, level, threads), DPXUT_FAILED) << level << " " << threads;
  x.sink.fail_errno = ENOSPC;  // the host's callback fails under the compressor
  ASSERT_EQ(dpxut_writer_set_compression(x.w, 3, 1), DPXUT_OK);
  EXPECT_EQ(dpxut_writer_finish(x.w), DPXUT_FATAL);
  EXPECT_NE(std::string(dpxut_writer_error(x.w)).find(std::strerror(ENOSPC)), std::string::npos);
  each_allocation_failing([] {
    Writer y;
    y.entry("a", 0100644, 3);
    int rc = dpxut_writer_set_compression(y.w, 3, 1);
    if (rc == DPXUT_OK) rc = dpxut_writer_add(y.w, y.e);
    if (rc == DPXUT_OK && dpxut_writer_write_data(y.w, "abc", 3) != 3) rc = DPXUT_FATAL;
    if (rc == DPXUT_OK) rc = dpxut_writer_finish(y.w);
    EXPECT_TRUE(rc == DPXUT_OK || rc == DPXUT_FATAL) << rc;
  });
  const Bytes packed = write_stream(3, 1);
  const std::vector<std::string> whole = read_all(packed, 4096);
  each_allocation_failing([&] { EXPECT_LE(read_all(packed, 4096).size(), whole.size() + 1); });
}

}  // namespace
