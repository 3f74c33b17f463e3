// Directories' lists of names (incremental backups): what the setter takes
// (the reader checks stored lists the same way), and the list through the
// writer and back, as the record's content when the area cannot hold it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
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

// A list too large for the area travels as the directory's record content:
// never split, invisible to the host as content, counted by the trailer,
// and its damage costs that directory only.
TEST(StreamDirlist, ThroughWriterAndReader) {
  Writer x;
  dpxut_writer_set_part_size(x.w, 4096);
  std::string big;
  for (int i = 0; i < 9000; ++i) big += "name" + std::to_string(100000 + i) + '\0';
  const std::string names = "a\0b c\0z\0"s;
  for (const auto& [name, list] : {std::pair{"d", names}, {"empty", ""s}, {"huge", big}, {"after", names}}) {
    dpxut_entry_set_dirlist(x.entry(name, DPXUT_IFDIR | 0755), list.data(), list.size());
    EXPECT_EQ(x.add(), DPXUT_OK) << name;
  }
  dpxut_entry_set_dirlist(x.entry("file", DPXUT_IFREG | 0644), names.data(), names.size());  // directories only
  EXPECT_EQ(x.add(), DPXUT_OK);
  ASSERT_EQ(dpxut_writer_finish(x.w), DPXUT_OK);

  const auto read_all = [](const Bytes& stream) {
    Bytes bytes = stream;
    Source src{&bytes, 0, 4096};
    dpxut_reader* r = dpxut_reader_new(source_read, &src);
    dpxut_entry* e = nullptr;
    std::vector<std::string> got;
    for (int rc; (rc = dpxut_reader_next(r, &e)) != DPXUT_EOF;) {
      if (rc != DPXUT_OK) {
        got.push_back(dpxut_reader_error(r));
        continue;
      }
      size_t size = 0;
      char byte;
      const char* list = dpxut_entry_dirlist(e, &size);
      got.push_back(std::string(dpxut_entry_name(e)) + "=" + (list == nullptr ? "none" : std::string(list, size)) +
                    (dpxut_reader_read_data(r, &byte, 1) == 0 ? "" : " with content"));
    }
    dpxut_reader_free(r);
    return got;
  };
  EXPECT_EQ(read_all(x.sink.out), (std::vector<std::string>{"d=" + names, "empty=", "huge=" + big,
                                                            "after=" + names, "file=none"}));
  Bytes hit = x.sink.out;
  const std::string_view at = "name104000";
  *std::search(hit.begin(), hit.end(), at.begin(), at.end()) ^= 1;
  const auto got = read_all(hit);
  ASSERT_EQ(got.size(), 5u);
  EXPECT_NE(got[2].find("(huge): data check value mismatch"), std::string::npos) << got[2];
  EXPECT_EQ(got[3], "after=" + names);
}

}  // namespace
