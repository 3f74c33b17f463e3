// Device numbers, links, extended attributes, sparse maps and change marks
// through the writer and back through the reader at any read size: split over
// parts, a map merged to fit, attributes left out, marks explicit and by a
// short content.
#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <string>
#include <vector>

#include "stream/stream_support.h"

namespace {

using namespace dpxut::test;
using namespace std::string_literals;

TEST(StreamFeatures, RoundTripAtAnyReadSize) {
  Writer x;
  ASSERT_EQ(dpxut_writer_set_part_size(x.w, 4), DPXUT_OK);
  dpxut_entry_set_rdev(x.entry("null", DPXUT_IFCHR | 0666), makedev(1, 3));
  EXPECT_EQ(x.add(), DPXUT_OK);
  dpxut_entry_set_rdev(x.entry("fifo", DPXUT_IFIFO | 0644), makedev(8, 1));  // not stored
  EXPECT_EQ(x.add(), DPXUT_OK);
  dpxut_entry* e = x.entry("f", DPXUT_IFREG | 0644, 5);
  dpxut_entry_set_uname(e, "alice");
  EXPECT_EQ(dpxut_entry_add_xattr(e, "user.a", "1", 1), DPXUT_OK);
  EXPECT_EQ(dpxut_entry_add_xattr(e, "security.capability", "\0\1", 2), DPXUT_OK);
  EXPECT_EQ(dpxut_entry_add_xattr(e, "user.a", "2", 1), DPXUT_FAILED);  // once per name
  EXPECT_EQ(dpxut_entry_add_xattr(e, "", "2", 1), DPXUT_FAILED);
  EXPECT_EQ(x.add("hello"), DPXUT_OK);
  dpxut_entry_set_hardlink(x.entry("g", DPXUT_IFREG | 0644, 5), "f");
  dpxut_entry_add_xattr(e, "user.e", "", 0);
  EXPECT_EQ(x.add(), DPXUT_OK);
  dpxut_entry_set_symlink(x.entry("l", DPXUT_IFLNK | 0777), "f");
  EXPECT_EQ(x.add(), DPXUT_OK);
  e = x.entry("holes", DPXUT_IFREG | 0600, 1ull << 30);  // 1 GiB holding 12 bytes, over three parts
  EXPECT_EQ(dpxut_entry_add_sparse(e, 4096, 5), DPXUT_OK);
  EXPECT_EQ(dpxut_entry_add_sparse(e, 4000, 5), DPXUT_FAILED);              // overlaps
  EXPECT_EQ(dpxut_entry_add_sparse(e, (1ull << 30) - 7, 8), DPXUT_FAILED);  // past the size
  EXPECT_EQ(dpxut_entry_add_sparse(e, (1ull << 30) - 7, 7), DPXUT_OK);
  EXPECT_EQ(x.add("abcdefghijkl"), DPXUT_OK);
  x.entry("torn", DPXUT_IFREG | 0644, 3);
  EXPECT_EQ(x.add("xyz"), DPXUT_OK);
  EXPECT_EQ(dpxut_writer_mark_changed(x.w), DPXUT_OK);  // after its last byte: still its mark
  x.entry("short", DPXUT_IFREG | 0644, 3);
  EXPECT_EQ(x.add("x"), DPXUT_OK);
  EXPECT_EQ(x.add("x"), DPXUT_WARN);  // the same entry again, after finishing the short one
  EXPECT_EQ(dpxut_writer_finish(x.w), DPXUT_WARN);
  EXPECT_EQ(dpxut_writer_mark_changed(x.w), DPXUT_FAILED);
  std::vector<std::string> expect = {
      "null=;rdev=" + std::to_string(makedev(1, 3)),
      "fifo=",
      "f=hello;u=alice;user.a=1;security.capability=\0\1"s,
      "g=;=>f;user.e=",
      "l=;->f",
      "holes=abcdefghijkl;@4096+5;@1073741817+7",
      "torn=xyz;changed",
      "short=x\0\0;changed"s,
      "short=x\0\0;changed"s,
  };
  for (size_t most : kReadSizes) EXPECT_EQ(read_all(x.sink.out, most), expect) << most;
  expect.push_back("!TRUNCATED");  // without its trailer the stream is cut short: once
  EXPECT_EQ(read_all(Bytes(x.sink.out.begin(), x.sink.out.end() - 512), 7), expect);
}

TEST(StreamFeatures, MapsAndAttributesThatDoNotFit) {
  Writer x;
  std::string big(70000, 'v'), file(50000, '\0'), data;
  dpxut_entry* e = x.entry("many", DPXUT_IFREG | 0644, file.size());
  for (size_t i = 0; i < 5000; ++i) {  // 5000 regions of 1 byte: more than the area holds
    ASSERT_EQ(dpxut_entry_add_sparse(e, i * 10 + i % 7, 1), DPXUT_OK);
    data += file[i * 10 + i % 7] = static_cast<char>('a' + i % 26);
  }
  EXPECT_EQ(dpxut_entry_add_xattr(e, "user.big", big.data(), big.size()), DPXUT_OK);
  EXPECT_EQ(dpxut_entry_add_xattr(e, "user.small", "s", 1), DPXUT_OK);
  EXPECT_EQ(x.add(data), DPXUT_WARN);
  EXPECT_EQ(dpxut_writer_errcode(x.w), DPXUT_E_SIZE);
  EXPECT_STREQ(dpxut_writer_error(x.w),
               "entry 'many': extended attributes too large to store (70008 bytes); 1 of 2 not stored, the first "
               "'user.big'");
  ASSERT_EQ(dpxut_writer_finish(x.w), DPXUT_OK);

  Source src{&x.sink.out, 0, 7};
  dpxut_reader* r = dpxut_reader_new(source_read, &src);
  dpxut_entry* got = nullptr;
  ASSERT_EQ(dpxut_reader_next(r, &got), DPXUT_OK);
  EXPECT_EQ(dpxut_entry_xattr_count(got), 1u);
  const size_t regions = dpxut_entry_sparse_count(got);
  EXPECT_GT(regions, 3000u);  // merged to fit
  std::string content(dpxut_entry_sparse_data(got), '\0'), rebuilt(file.size(), '\0');
  for (size_t at = 0; at < content.size();) {
    const int64_t n = dpxut_reader_read_data(r, content.data() + at, content.size() - at);
    ASSERT_GT(n, 0);
    at += static_cast<size_t>(n);
  }
  EXPECT_EQ(dpxut_reader_read_data(r, content.data(), 1), 0);
  for (size_t i = 0, at = 0; i < regions; ++i) {
    uint64_t offset, length;
    ASSERT_EQ(dpxut_entry_sparse(got, i, &offset, &length), DPXUT_OK);
    rebuilt.replace(offset, length, content, at, length);
    at += length;
  }
  EXPECT_TRUE(rebuilt == file);
  EXPECT_EQ(dpxut_entry_changed(got), 0);
  dpxut_reader_free(r);
}

}  // namespace
