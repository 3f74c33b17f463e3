// Device numbers, extended attributes, sparse maps and change marks through
// the writer and back through the reader at small read sizes: split over
// parts, a map merged to fit, attributes left out, marks explicit and by a
// short content.
#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <cstring>
#include <string>
#include <vector>

#include "dpxut.h"

namespace {

using Bytes = std::vector<uint8_t>;

int64_t to_vector(void* ctx, const void* buf, size_t size) {
  auto* out = static_cast<Bytes*>(ctx);
  out->insert(out->end(), static_cast<const uint8_t*>(buf), static_cast<const uint8_t*>(buf) + size);
  return static_cast<int64_t>(size);
}
struct Source {
  const Bytes* bytes;
  size_t at, most;
};
int64_t source_read(void* ctx, void* buf, size_t size) {
  auto* s = static_cast<Source*>(ctx);
  const size_t n = std::min({size, s->most, s->bytes->size() - s->at});
  std::memcpy(buf, s->bytes->data() + s->at, n);
  s->at += n;
  return static_cast<int64_t>(n);
}

// One line per entry: name, rdev, attributes, map, content, changed mark.
std::vector<std::string> read_all(const Bytes& bytes, size_t most) {
  Source src{&bytes, 0, most};
  dpxut_reader* r = dpxut_reader_new(source_read, &src);
  std::vector<std::string> lines;
  dpxut_entry* e = nullptr;
  int rc;
  while ((rc = dpxut_reader_next(r, &e)) != DPXUT_EOF && rc != DPXUT_FATAL) {
    if (rc != DPXUT_OK) {
      lines.push_back(dpxut_reader_error(r));
      continue;
    }
    std::string line = std::string(dpxut_entry_name(e)) + " rdev=" + std::to_string(dpxut_entry_rdev(e));
    const char* name;
    const void* value;
    size_t size;
    for (size_t i = 0; dpxut_entry_xattr(e, i, &name, &value, &size) == DPXUT_OK; ++i)
      line += std::string(" ") + name + "=" + std::string(static_cast<const char*>(value), size);
    uint64_t offset, length;
    for (size_t i = 0; dpxut_entry_sparse(e, i, &offset, &length) == DPXUT_OK; ++i)
      line += " @" + std::to_string(offset) + "+" + std::to_string(length);
    const int before = dpxut_entry_changed(e);
    std::string data;
    char buf[5];
    int64_t n;
    while ((n = dpxut_reader_read_data(r, buf, sizeof buf)) > 0) data.append(buf, n);
    line += " [" + data + "]" + (n < 0 ? " FAILED" : "") + (before ? " early" : "") +
            (dpxut_entry_changed(e) ? " changed" : "");
    lines.push_back(line);
  }
  dpxut_reader_free(r);
  return lines;
}

struct Writer {
  Bytes out;
  dpxut_writer* w = dpxut_writer_new(to_vector, &out);
  dpxut_entry* e = dpxut_entry_new();
  ~Writer() {
    dpxut_writer_free(w);
    dpxut_entry_free(e);
  }
  dpxut_entry* entry(const char* name, uint32_t mode, uint64_t size = 0) {
    dpxut_entry_clear(e);
    dpxut_entry_set_name(e, name);
    dpxut_entry_set_mode(e, mode);
    dpxut_entry_set_size(e, size);
    return e;
  }
  int add(const std::string& data = "") {
    const int rc = dpxut_writer_add(w, e);
    if (!data.empty()) EXPECT_EQ(dpxut_writer_write_data(w, data.data(), data.size()), int64_t(data.size()));
    return rc;
  }
};

TEST(StreamFeatures, RoundTripAtAnyReadSize) {
  Writer x;
  ASSERT_EQ(dpxut_writer_set_part_size(x.w, 4), DPXUT_OK);
  dpxut_entry_set_rdev(x.entry("null", DPXUT_IFCHR | 0666), makedev(1, 3));
  EXPECT_EQ(x.add(), DPXUT_OK);
  dpxut_entry_set_rdev(x.entry("fifo", DPXUT_IFIFO | 0644), makedev(8, 1));  // not stored
  EXPECT_EQ(x.add(), DPXUT_OK);
  dpxut_entry* e = x.entry("f", DPXUT_IFREG | 0644, 5);
  EXPECT_EQ(dpxut_entry_add_xattr(e, "user.a", "1", 1), DPXUT_OK);
  EXPECT_EQ(dpxut_entry_add_xattr(e, "security.capability", "\0\1", 2), DPXUT_OK);
  EXPECT_EQ(dpxut_entry_add_xattr(e, "user.a", "2", 1), DPXUT_FAILED);  // once per name
  EXPECT_EQ(dpxut_entry_add_xattr(e, "", "2", 1), DPXUT_FAILED);
  EXPECT_EQ(x.add("hello"), DPXUT_OK);
  dpxut_entry_set_hardlink(x.entry("g", DPXUT_IFREG | 0644, 5), "f");
  dpxut_entry_add_xattr(e, "user.e", "", 0);
  EXPECT_EQ(x.add(), DPXUT_OK);
  e = x.entry("holes", DPXUT_IFREG | 0600, 1ull << 30);  // 1 GiB holding 12 bytes, over three parts
  EXPECT_EQ(dpxut_entry_add_sparse(e, 4096, 5), DPXUT_OK);
  EXPECT_EQ(dpxut_entry_add_sparse(e, 4000, 5), DPXUT_FAILED);  // overlaps
  EXPECT_EQ(dpxut_entry_add_sparse(e, (1ull << 30) - 7, 8), DPXUT_FAILED);  // past the size
  EXPECT_EQ(dpxut_entry_add_sparse(e, (1ull << 30) - 7, 7), DPXUT_OK);
  EXPECT_EQ(dpxut_entry_sparse_data(e), 12u);
  EXPECT_EQ(x.add("abcdefghijkl"), DPXUT_OK);
  x.entry("torn", DPXUT_IFREG | 0644, 3);
  EXPECT_EQ(x.add("xyz"), DPXUT_OK);
  EXPECT_EQ(dpxut_writer_mark_changed(x.w), DPXUT_OK);  // after its last byte: still its mark
  x.entry("short", DPXUT_IFREG | 0644, 3);
  EXPECT_EQ(x.add("x"), DPXUT_OK);
  EXPECT_EQ(x.add("x"), DPXUT_WARN);  // the same entry again, after finishing the short one
  EXPECT_EQ(dpxut_writer_finish(x.w), DPXUT_WARN);
  EXPECT_EQ(dpxut_writer_mark_changed(x.w), DPXUT_FAILED);
  EXPECT_LT(x.out.size(), 64u * 1024);
  const std::vector<std::string> expect = {
      "null rdev=" + std::to_string(makedev(1, 3)) + " []",
      "fifo rdev=0 []",
      std::string("f rdev=0 user.a=1 security.capability=") + std::string("\0\1", 2) + " [hello]",
      "g rdev=0 user.e= []",
      "holes rdev=0 @4096+5 @1073741817+7 [abcdefghijkl]",
      "torn rdev=0 [xyz] changed",
      "short rdev=0 [x\\0\\0] changed",
      "short rdev=0 [x\\0\\0] changed",
  };
  for (size_t most : {1, 7, 4096}) {
    SCOPED_TRACE(most);
    std::vector<std::string> got = read_all(x.out, most);
    for (auto& line : got)
      for (size_t i; (i = line.find('\0', line.find('['))) != std::string::npos;) line.replace(i, 1, "\\0");
    EXPECT_EQ(got, expect);
  }
}

TEST(StreamFeatures, MapsAndAttributesThatDoNotFit) {
  Writer x;
  std::string big(70000, 'v'), file(50000, '\0'), data;
  dpxut_entry* e = x.entry("many", DPXUT_IFREG | 0644, file.size());
  for (size_t i = 0; i < 5000; ++i) {  // 5000 regions of 1 byte: more than the area holds
    ASSERT_EQ(dpxut_entry_add_sparse(e, i * 10 + i % 7, 1), DPXUT_OK);
    file[i * 10 + i % 7] = static_cast<char>('a' + i % 26);
    data += file[i * 10 + i % 7];
  }
  EXPECT_EQ(dpxut_entry_add_xattr(e, "user.big", big.data(), big.size()), DPXUT_OK);
  EXPECT_EQ(dpxut_entry_add_xattr(e, "user.small", "s", 1), DPXUT_OK);
  EXPECT_EQ(x.add(data), DPXUT_WARN);
  EXPECT_EQ(dpxut_writer_errcode(x.w), DPXUT_E_SIZE);
  EXPECT_STREQ(dpxut_writer_error(x.w),
               "entry 'many': extended attributes too large to store (70008 bytes); 1 of 2 not stored, the first "
               "'user.big'");
  ASSERT_EQ(dpxut_writer_finish(x.w), DPXUT_OK);

  Source src{&x.out, 0, 7};
  dpxut_reader* r = dpxut_reader_new(source_read, &src);
  dpxut_entry* got = nullptr;
  ASSERT_EQ(dpxut_reader_next(r, &got), DPXUT_OK);
  EXPECT_EQ(dpxut_entry_xattr_count(got), 1u);
  const size_t regions = dpxut_entry_sparse_count(got);
  EXPECT_GT(regions, 3000u);
  EXPECT_LT(regions, 5000u);
  std::string rebuilt(file.size(), 'x'), content(dpxut_entry_sparse_data(got), '\0');  // holes read as zeros
  for (size_t at = 0; at < content.size();) {
    const int64_t n = dpxut_reader_read_data(r, content.data() + at, content.size() - at);
    ASSERT_GT(n, 0);
    at += static_cast<size_t>(n);
  }
  size_t at = 0, hole = 0;
  for (size_t i = 0; i < regions; ++i) {
    uint64_t offset, length;
    ASSERT_EQ(dpxut_entry_sparse(got, i, &offset, &length), DPXUT_OK);
    for (; hole < offset; ++hole) rebuilt[hole] = '\0';
    rebuilt.replace(offset, length, content, at, length);
    at += length;
    hole = offset + length;
  }
  for (; hole < rebuilt.size(); ++hole) rebuilt[hole] = '\0';
  EXPECT_TRUE(rebuilt == file);
  EXPECT_EQ(dpxut_reader_read_data(r, content.data(), 1), 0);
  EXPECT_EQ(dpxut_entry_changed(got), 0);
  dpxut_reader_free(r);
}

}  // namespace
