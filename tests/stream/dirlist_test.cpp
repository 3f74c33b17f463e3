// Directories' lists of names (incremental backups): what the setter takes
// (the reader checks stored lists the same way), and the list through the
// writer and back, left out whole when it does not fit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream/stream_support.h"

namespace {

using namespace dpxut::test;
using namespace std::string_literals;

TEST(StreamDirlist, SetterTakesSortedTerminatedNames) {
  const struct {
    std::string list;
    int rc;
  } rows[] = {
      {""s, DPXUT_OK},           {"a\0"s, DPXUT_OK},       {"a\0b\0"s, DPXUT_OK},    {"a\0ab\0\xff\0"s, DPXUT_OK},
      {"b\0a\0"s, DPXUT_FAILED}, {"a\0a\0"s, DPXUT_FAILED}, {"ab\0a\0"s, DPXUT_FAILED}, {"a"s, DPXUT_FAILED},
      {"\0"s, DPXUT_FAILED},     {"a/b\0"s, DPXUT_FAILED}, {".\0"s, DPXUT_FAILED},   {"..\0"s, DPXUT_FAILED},
  };
  dpxut_entry* e = dpxut_entry_new();
  size_t size = 1;
  EXPECT_EQ(dpxut_entry_dirlist(e, &size), nullptr);
  EXPECT_EQ(size, 0u);
  for (const auto& r : rows) {
    dpxut_entry_clear(e);
    EXPECT_EQ(dpxut_entry_set_dirlist(e, r.list.data(), r.list.size()), r.rc) << hex(r.list);
    const char* got = dpxut_entry_dirlist(e, &size);
    EXPECT_EQ(got == nullptr ? "none"s : std::string(got, size), r.rc == DPXUT_OK ? r.list : "none") << hex(r.list);
  }
  EXPECT_EQ(dpxut_entry_set_dirlist(nullptr, "", 0), DPXUT_FATAL);
  dpxut_entry_free(e);
}

TEST(StreamDirlist, ThroughWriterAndReader) {
  Writer x;
  const std::string names = "a\0b c\0z\0"s, big = std::string(70000, 'n') + '\0';
  dpxut_entry_set_dirlist(x.entry("d", DPXUT_IFDIR | 0755), names.data(), names.size());
  EXPECT_EQ(x.add(), DPXUT_OK);
  dpxut_entry_set_dirlist(x.entry("empty", DPXUT_IFDIR | 0755), "", 0);
  EXPECT_EQ(x.add(), DPXUT_OK);
  dpxut_entry_set_dirlist(x.entry("huge", DPXUT_IFDIR | 0755), big.data(), big.size());
  EXPECT_EQ(x.add(), DPXUT_WARN);
  EXPECT_EQ(dpxut_writer_errcode(x.w), DPXUT_E_SIZE);
  EXPECT_STREQ(dpxut_writer_error(x.w), "entry 'huge': list of names too large to store (70001 bytes); not stored");
  dpxut_entry_set_dirlist(x.entry("file", DPXUT_IFREG | 0644), names.data(), names.size());  // directories only
  EXPECT_EQ(x.add(), DPXUT_OK);
  ASSERT_EQ(dpxut_writer_finish(x.w), DPXUT_OK);

  Source src{&x.sink.out, 0, 4096};
  dpxut_reader* r = dpxut_reader_new(source_read, &src);
  dpxut_entry* e = nullptr;
  std::vector<std::string> got;
  while (dpxut_reader_next(r, &e) == DPXUT_OK) {
    size_t size = 0;
    const char* list = dpxut_entry_dirlist(e, &size);
    got.push_back(std::string(dpxut_entry_name(e)) + "=" + (list == nullptr ? "none" : std::string(list, size)));
  }
  dpxut_reader_free(r);
  EXPECT_EQ(got, (std::vector<std::string>{"d=" + names, "empty=", "huge=none", "file=none"}));
}

}  // namespace
