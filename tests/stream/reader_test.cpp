// The streaming reader over streams a host builds with the record functions
// alone (no media or session header, no trailer), read through callbacks
// that return at most 1, 7, 100 or 4096 bytes a call; damage in a table;
// and a round trip through the writer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/le.h"
#include "dpxut.h"
#include "stream/format.h"
#include "stream/tool_sections.h"

namespace {

using namespace dpxut::stream;
using Bytes = std::vector<uint8_t>;

std::string ext(uint32_t type, const std::string& data) {
  std::string e(12, '\0');
  dpxut::store_le32(e.data(), type);
  dpxut::store_le32(e.data() + 8, static_cast<uint32_t>(data.size()));
  return e + data;
}
std::string le64(uint64_t a, uint64_t b) {
  std::string s(16, '\0');
  dpxut::store_le64(s.data(), a);
  dpxut::store_le64(s.data() + 8, b);
  return s;
}

// A stream written as a host without the writer writes it.
struct Builder {
  Bytes out;
  std::vector<size_t> starts;  // of each record

  void record(const std::string& name, uint32_t mode, const std::string& content, const std::string& area = "",
              bool check = true, uint64_t size = UINT64_MAX) {
    HVDPNameBuffer* names = nullptr;
    ASSERT_EQ(HVDPPutOneName(&names, kNsLocale, 0, 0, nullptr, nullptr, name.c_str()), 0u);
    auto* block = static_cast<HVDPDataSetInfo*>(std::calloc(1, HVDP_DATA_SET_INFO_FIXED + area.size() + 1));
    block->bufferSize = static_cast<uint16_t>(HVDP_DATA_SET_INFO_FIXED + area.size() + 1);
    block->dataSize = static_cast<uint16_t>(48 + area.size());
    block->value1 = mode;
    block->value4 = static_cast<uint32_t>(size == UINT64_MAX ? content.size() : size);
    block->extensionLength = static_cast<uint16_t>(area.size());
    std::memcpy(reinterpret_cast<uint8_t*>(block) + HVDP_DATA_SET_INFO_FIXED, area.data(), area.size());
    HVDPRecordHeaderInfo info{};
    info.nameBuffer = names;
    info.dataSetInfo = block;
    starts.push_back(out.size());
    out.resize(out.size() + 8192);
    uint8_t* p = out.data() + starts.back();
    uint32_t rest = 8192, written = 0;
    ASSERT_EQ(HVDPSetNewRecordHeader(&p, &rest, &written, 1, &info), 0u);
    info.recordLength += static_cast<uint32_t>(content.size() + (check ? tool_section_size() : 0));
    HVDPUpdateRecordHeader(&info);
    out.resize(starts.back() + written);
    out.insert(out.end(), content.begin(), content.end());
    if (check) {
      uint8_t s[64];
      size_t used = 0;
      const auto* c = reinterpret_cast<const uint8_t*>(content.data());
      put_tool_section(s, sizeof s, kDataCheckId, HVDPGenerateCRC(content.size(), 0xFFFFFFFF, c), content.size(), &used);
      out.insert(out.end(), s, s + used);
    }
    std::free(names);
    std::free(block);
  }
};

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

// One line per result: "name=content" for an entry, "name!CAUSE" when its
// content failed, "!CAUSE" for a failed next; with the error texts.
struct Results {
  std::vector<std::string> lines, errors;
};
std::string cause(uint32_t c) {
  switch (c) {
    case DPXUT_E_TRUNCATED: return "TRUNCATED";
    case DPXUT_E_CHECK: return "CHECK";
    case DPXUT_E_DATA_CHECK: return "DATA_CHECK";
    case DPXUT_E_PART: return "PART";
    case DPXUT_E_DAMAGED: return "DAMAGED";
    default: return std::to_string(c);
  }
}
Results read_all(const Bytes& bytes, size_t most) {
  Source src{&bytes, 0, most};
  dpxut_reader* r = dpxut_reader_new(source_read, &src);
  Results run;
  dpxut_entry* e = nullptr;
  for (int calls = 0; calls < 100; ++calls) {
    const int rc = dpxut_reader_next(r, &e);
    if (rc == DPXUT_EOF || rc == DPXUT_FATAL) break;
    if (rc == DPXUT_FAILED) {
      run.lines.push_back("!" + cause(dpxut_reader_errcode(r)));
      run.errors.push_back(dpxut_reader_error(r));
      continue;
    }
    std::string line = std::string(dpxut_entry_name(e)) + "=", data;
    char buf[13];
    int64_t n;
    while ((n = dpxut_reader_read_data(r, buf, 1 + data.size() % sizeof buf)) > 0) data.append(buf, n);
    if (n < 0) {
      line = std::string(dpxut_entry_name(e)) + "!" + cause(dpxut_reader_errcode(r));
      run.errors.push_back(dpxut_reader_error(r));
    }
    run.lines.push_back(n < 0 ? line : line + data);
  }
  dpxut_reader_free(r);
  return run;
}

constexpr size_t kReadSizes[] = {1, 7, 100, 4096};
const std::string kBig = [] {
  std::string s;
  for (int i = 0; i < 5000; ++i) s += static_cast<char>('a' + i % 23);
  return s;
}();

Builder three_files() {
  Builder b;
  b.record("a", DPXUT_IFREG | 0644, "alpha");
  b.record("b", DPXUT_IFREG | 0600, kBig);
  b.record("c", DPXUT_IFREG | 0644, "gamma");
  return b;
}

TEST(StreamReader, ReadsLowLevelStreamsAtAnyReadSize) {
  Builder b;
  b.record("dir", DPXUT_IFDIR | 0755, "", "", false);
  b.record("dir/big", DPXUT_IFREG | 0644, kBig, ext(kExtTimes, le64(1700000000, 5) + std::string(8, '\0')));
  b.record("dir/nocheck", DPXUT_IFREG | 0644, "plain", "", false);
  b.record("dir/link", DPXUT_IFLNK | 0777, "", ext(kExtStrings, std::string("\4\0root\0\0\3\0../", 13)));
  for (size_t most : kReadSizes) {
    SCOPED_TRACE(most);
    const Results run = read_all(b.out, most);
    EXPECT_EQ(run.lines, (std::vector<std::string>{"dir=", "dir/big=" + kBig, "dir/nocheck=plain", "dir/link="}));
  }
  Source src{&b.out, 0, 3};
  dpxut_reader* r = dpxut_reader_new(source_read, &src);
  dpxut_entry* e = nullptr;
  ASSERT_EQ(dpxut_reader_next(r, &e), DPXUT_OK);
  EXPECT_EQ(dpxut_entry_filetype(e), DPXUT_IFDIR);
  EXPECT_EQ(dpxut_entry_symlink(e), nullptr);
  ASSERT_EQ(dpxut_reader_next(r, &e), DPXUT_OK);
  EXPECT_EQ(dpxut_entry_size(e), kBig.size());
  EXPECT_EQ(dpxut_entry_mtime(e), 1700000000);
  EXPECT_EQ(dpxut_entry_mtime_nsec(e), 5u);
  EXPECT_EQ(dpxut_entry_times_exact(e), 1);
  EXPECT_EQ(dpxut_entry_record(e), 2u);
  EXPECT_EQ(dpxut_entry_offset(e), b.starts[1]);
  uint32_t type = 0, length = 0;
  const void* data = nullptr;
  EXPECT_EQ(dpxut_entry_extension(e, 0, &type, &data, &length), DPXUT_OK);
  EXPECT_EQ(type, kExtTimes);
  EXPECT_EQ(dpxut_entry_extension(e, 1, &type, &data, &length), DPXUT_EOF);
  ASSERT_EQ(dpxut_reader_next(r, &e), DPXUT_OK);  // big's content is skipped and verified
  ASSERT_EQ(dpxut_reader_next(r, &e), DPXUT_OK);
  EXPECT_STREQ(dpxut_entry_uname(e), "root");
  EXPECT_STREQ(dpxut_entry_symlink(e), "../");
  EXPECT_EQ(dpxut_reader_next(r, &e), DPXUT_EOF);
  EXPECT_EQ(dpxut_reader_next(r, &e), DPXUT_EOF);
  EXPECT_EQ(dpxut_reader_records(r), 4u);
  EXPECT_EQ(dpxut_reader_offset(r), b.out.size());
  dpxut_reader_free(r);
}

std::string split_file(uint32_t later_mode, uint64_t later_offset) {
  Builder b;
  const std::string size = ext(kExtSize, le64(10, 0).substr(0, 8));
  b.record("s", DPXUT_IFREG | 0644, "012345", size + ext(kExtPart, le64(0, 6)), true, 10);
  b.record("s", later_mode, "6789", size + ext(kExtPart, le64(later_offset, 4)), true, 10);
  b.record("c", DPXUT_IFREG | 0644, "gamma");
  return std::string(b.out.begin(), b.out.end());
}

// A record "x" of a 10-byte file (or directory) with more extension
// entries, then a good record; mark: a change mark counting that many bytes.
Bytes with_area(uint32_t mode, const std::string& area, const std::string& content = "abcde", uint64_t mark = 0) {
  Builder b;
  b.record("x", mode, content, ext(kExtSize, le64(10, 0).substr(0, 8)) + area, true, 10);
  if (mark != 0) {
    uint8_t s[64];
    size_t used = 0;
    put_tool_section(s, sizeof s, kChangeMarkId, kChanged, mark, &used);
    b.out.insert(b.out.end(), s, s + used);
  }
  b.record("c", DPXUT_IFREG | 0644, "gamma");
  return b.out;
}

TEST(StreamReader, DamageFailsItsRecordAndReadingGoesOn) {
  const Builder good = three_files();
  const size_t b_content = good.starts[2] - tool_section_size() - kBig.size();
  struct Case {
    const char* what;
    std::function<Bytes()> make;
    std::vector<std::string> expect;
  } cases[] = {
      {"content byte", [&] { Bytes s = good.out; s[b_content + 100] ^= 1; return s; },
       {"a=alpha", "b!DATA_CHECK", "c=gamma"}},
      {"header byte", [&] { Bytes s = good.out; s[good.starts[1] + 30] ^= 0x40; return s; },
       {"a=alpha", "!CHECK", "c=gamma"}},
      {"cut in content", [&] { return Bytes(good.out.begin(), good.out.begin() + b_content + 10); },
       {"a=alpha", "b!TRUNCATED"}},
      {"cut in header", [&] { return Bytes(good.out.begin(), good.out.begin() + good.starts[1] + 20); },
       {"a=alpha", "!TRUNCATED"}},
      {"garbage between", [&] { Bytes s = good.out; s.insert(s.begin() + good.starts[1], {1, 2, 3, 9}); return s; },
       {"a=alpha", "!DAMAGED", "b=" + kBig, "c=gamma"}},
      {"later part set-uid", [&] { auto s = split_file(DPXUT_IFREG | 04755, 6); return Bytes(s.begin(), s.end()); },
       {"s!PART", "c=gamma"}},
      {"later part out of order", [&] { auto s = split_file(DPXUT_IFREG | 0644, 5); return Bytes(s.begin(), s.end()); },
       {"s!PART", "c=gamma"}},
      {"parts agree", [&] { auto s = split_file(DPXUT_IFREG | 0644, 6); return Bytes(s.begin(), s.end()); },
       {"s=0123456789", "c=gamma"}},
      {"sparse map", [] { return with_area(DPXUT_IFREG, ext(kExtSparse, le64(2, 3) + le64(8, 2))); },
       {"x=abcde", "c=gamma"}},
      {"sparse regions overlap", [] { return with_area(DPXUT_IFREG, ext(kExtSparse, le64(2, 3) + le64(4, 2))); },
       {"!DAMAGED", "c=gamma"}},
      {"sparse region past the size", [] { return with_area(DPXUT_IFREG, ext(kExtSparse, le64(2, 3) + le64(9, 2))); },
       {"!DAMAGED", "c=gamma"}},
      {"sparse map torn", [] { return with_area(DPXUT_IFREG, ext(kExtSparse, le64(0, 5) + "x")); },
       {"!DAMAGED", "c=gamma"}},
      {"sparse map twice", [] {
         const std::string m = ext(kExtSparse, le64(0, 5));
         return with_area(DPXUT_IFREG, m + m);
       }, {"!DAMAGED", "c=gamma"}},
      {"sparse map of a directory", [] { return with_area(DPXUT_IFDIR, ext(kExtSparse, le64(2, 5)), ""); },
       {"!DAMAGED", "c=gamma"}},
      {"xattr name past its data", [] { return with_area(DPXUT_IFDIR, ext(kExtXattr, std::string("\11\0ab", 4)), ""); },
       {"!DAMAGED", "c=gamma"}},
      {"xattr stored twice", [] {
         const std::string a = ext(kExtXattr, std::string("\1\0a1", 4));
         return with_area(DPXUT_IFDIR, a + a, "");
       }, {"!DAMAGED", "c=gamma"}},
      {"change mark", [] { return with_area(DPXUT_IFREG, ext(kExtSparse, le64(0, 5)), "abcde", 5); },
       {"x=abcde", "c=gamma"}},
      {"change mark of another entry", [] { return with_area(DPXUT_IFREG, ext(kExtSparse, le64(0, 5)), "abcde", 9); },
       {"x!DAMAGED", "c=gamma"}},
  };
  for (const Case& c : cases) {
    const Bytes bytes = c.make();
    for (size_t most : kReadSizes) {
      SCOPED_TRACE(std::string(c.what) + " at read size " + std::to_string(most));
      EXPECT_EQ(read_all(bytes, most).lines, c.expect);
    }
  }
  Bytes flipped = good.out;
  flipped[b_content] ^= 1;
  EXPECT_EQ(read_all(flipped, 4096).errors,
            std::vector<std::string>{"record 2 at offset " + std::to_string(good.starts[1]) +
                                     " (b): data check value mismatch"});
}

int64_t to_vector(void* ctx, const void* buf, size_t size) {
  auto* out = static_cast<Bytes*>(ctx);
  out->insert(out->end(), static_cast<const uint8_t*>(buf), static_cast<const uint8_t*>(buf) + size);
  return static_cast<int64_t>(size);
}

TEST(StreamReader, ReadsWhatTheWriterWrote) {
  Bytes out;
  dpxut_writer* w = dpxut_writer_new(to_vector, &out);
  ASSERT_EQ(dpxut_writer_set_part_size(w, 1000), DPXUT_OK);
  dpxut_entry* e = dpxut_entry_new();
  dpxut_entry_set_name(e, "d/big");
  dpxut_entry_set_mode(e, DPXUT_IFREG | 0640);
  dpxut_entry_set_size(e, kBig.size());
  dpxut_entry_set_uname(e, "alice");
  dpxut_entry_set_mtime(e, 1234567890, 987654321);
  ASSERT_GE(dpxut_writer_add(w, e), DPXUT_WARN);
  ASSERT_EQ(dpxut_writer_write_data(w, kBig.data(), kBig.size()), static_cast<int64_t>(kBig.size()));
  dpxut_entry_clear(e);
  dpxut_entry_set_name(e, "d/link");
  dpxut_entry_set_mode(e, DPXUT_IFLNK | 0777);
  dpxut_entry_set_symlink(e, "big");
  ASSERT_GE(dpxut_writer_add(w, e), DPXUT_WARN);
  ASSERT_EQ(dpxut_writer_finish(w), DPXUT_OK);
  dpxut_writer_free(w);
  dpxut_entry_free(e);
  for (size_t most : kReadSizes) {
    SCOPED_TRACE(most);
    EXPECT_EQ(read_all(out, most).lines, (std::vector<std::string>{"d/big=" + kBig, "d/link="}));
  }
  // Without its trailer a stream of the writer's format is cut short: once.
  const Bytes cut(out.begin(), out.end() - 512);
  EXPECT_EQ(read_all(cut, 100).lines, (std::vector<std::string>{"d/big=" + kBig, "d/link=", "!TRUNCATED"}));
}

TEST(StreamReader, NullArgumentsAndCallsOutOfOrder) {
  dpxut_entry* e = nullptr;
  EXPECT_EQ(dpxut_reader_new(nullptr, nullptr), nullptr);
  EXPECT_EQ(dpxut_reader_next(nullptr, &e), DPXUT_FATAL);
  EXPECT_EQ(dpxut_reader_read_data(nullptr, nullptr, 0), DPXUT_FATAL);
  EXPECT_STREQ(dpxut_reader_error(nullptr), "");
  EXPECT_EQ(dpxut_reader_open_path("/nonexistent/stream"), nullptr);
  const Bytes none;
  Source src{&none, 0, 1};
  dpxut_reader* r = dpxut_reader_new(source_read, &src);
  char c;
  EXPECT_EQ(dpxut_reader_read_data(r, &c, 1), DPXUT_FAILED);
  EXPECT_EQ(dpxut_reader_errcode(r), DPXUT_E_STATE);
  EXPECT_EQ(dpxut_reader_next(r, nullptr), DPXUT_FATAL);
  EXPECT_EQ(dpxut_reader_next(r, &e), DPXUT_EOF);
  EXPECT_EQ(dpxut_reader_set_read_size(r, 10), DPXUT_FAILED);
  dpxut_reader_free(r);
}

}  // namespace
