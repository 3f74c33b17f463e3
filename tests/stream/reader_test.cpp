// The streaming reader over streams a host builds with the record functions
// alone (no media or session header, no trailer), at any read size; damage in
// a table; calls out of order.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "common/le.h"
#include "stream/format.h"
#include "stream/stream_support.h"
#include "stream/tool_sections.h"

namespace {

using namespace dpxut::stream;
using namespace dpxut::test;
using Lines = std::vector<std::string>;

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
void put_section(Bytes& out, uint32_t id, uint32_t value32, uint64_t value64) {
  uint8_t s[64];
  size_t used = 0;
  put_tool_section(s, sizeof s, id, value32, value64, &used);
  out.insert(out.end(), s, s + used);
}

// A stream written as a host without the writer writes it.
struct Builder {
  Bytes out;
  std::vector<size_t> starts;  // of each record

  Builder& record(const std::string& name, uint32_t mode, const std::string& content, const std::string& area = "",
                  bool check = true, uint64_t size = UINT64_MAX) {
    HVDPNameBuffer* names = nullptr;
    EXPECT_EQ(HVDPPutOneName(&names, kNsLocale, 0, 0, nullptr, nullptr, name.c_str()), 0u);
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
    EXPECT_EQ(HVDPSetNewRecordHeader(&p, &rest, &written, 1, &info), 0u);
    info.recordLength += static_cast<uint32_t>(content.size() + (check ? tool_section_size() : 0));
    HVDPUpdateRecordHeader(&info);
    out.resize(starts.back() + written);
    out.insert(out.end(), content.begin(), content.end());
    const auto* c = reinterpret_cast<const uint8_t*>(content.data());
    if (check) put_section(out, kDataCheckId, HVDPGenerateCRC(content.size(), 0xFFFFFFFF, c), content.size());
    std::free(names);
    std::free(block);
    return *this;
  }
};

const std::string kBig = [] {
  std::string s;
  for (int i = 0; i < 5000; ++i) s += static_cast<char>('a' + i % 23);
  return s;
}();

TEST(StreamReader, ReadsLowLevelStreamsAtAnyReadSize) {
  Builder b;
  b.record("dir", DPXUT_IFDIR | 0755, "", "", false);
  b.record("dir/big", DPXUT_IFREG | 0644, kBig, ext(kExtTimes, le64(1700000000, 5) + std::string(8, '\0')));
  b.record("dir/nocheck", DPXUT_IFREG | 0644, "plain", "", false);
  b.record("dir/link", DPXUT_IFLNK | 0777, "", ext(kExtStrings, std::string("\4\0root\0\0\3\0../", 13)));
  for (size_t most : kReadSizes)
    EXPECT_EQ(read_all(b.out, most), (Lines{"dir=", "dir/big=" + kBig, "dir/nocheck=plain", "dir/link=;u=root;->../"}))
        << most;
  Source src{&b.out, 0, 3};
  dpxut_reader* r = dpxut_reader_new(source_read, &src);
  dpxut_entry* e = nullptr;
  ASSERT_EQ(dpxut_reader_next(r, &e), DPXUT_OK);
  EXPECT_EQ(dpxut_entry_filetype(e), DPXUT_IFDIR);
  ASSERT_EQ(dpxut_reader_next(r, &e), DPXUT_OK);
  EXPECT_EQ(std::tuple(dpxut_entry_size(e), dpxut_entry_mtime(e), dpxut_entry_mtime_nsec(e), dpxut_entry_times_exact(e),
                       dpxut_entry_record(e), dpxut_entry_offset(e)),
            std::tuple(uint64_t{kBig.size()}, int64_t{1700000000}, 5u, 1, uint64_t{2}, uint64_t{b.starts[1]}));
  uint32_t type = 0, length = 0;
  const void* data = nullptr;
  EXPECT_EQ(dpxut_entry_extension(e, 0, &type, &data, &length), DPXUT_OK);
  EXPECT_EQ(type, kExtTimes);
  EXPECT_EQ(dpxut_entry_extension(e, 1, &type, &data, &length), DPXUT_EOF);
  for (int rc : {DPXUT_OK, DPXUT_OK, DPXUT_EOF}) EXPECT_EQ(dpxut_reader_next(r, &e), rc);  // big skipped
  EXPECT_EQ(dpxut_reader_records(r), 4u);
  EXPECT_EQ(dpxut_reader_offset(r), b.out.size());
  dpxut_reader_free(r);
}

// A file of 10 bytes in two parts, the later one with this mode and offset.
Bytes split_file(uint32_t later_mode, uint64_t later_offset) {
  const std::string size = ext(kExtSize, le64(10, 0).substr(0, 8));
  return Builder()
      .record("s", DPXUT_IFREG | 0644, "012345", size + ext(kExtPart, le64(0, 6)), true, 10)
      .record("s", later_mode, "6789", size + ext(kExtPart, le64(later_offset, 4)), true, 10)
      .record("c", DPXUT_IFREG | 0644, "gamma")
      .out;
}

// A record "x" of a 10-byte file (or directory) with more extension entries,
// then a good record; mark: a change mark counting that many bytes.
Bytes with_area(uint32_t mode, const std::string& area, const std::string& content = "", uint64_t mark = 0) {
  Builder b;
  b.record("x", mode, content, ext(kExtSize, le64(10, 0).substr(0, 8)) + area, true, 10);
  if (mark != 0) put_section(b.out, kChangeMarkId, kChanged, mark);
  return b.record("c", DPXUT_IFREG | 0644, "gamma").out;
}

// A file "x" with this sparse map over its 5 bytes.
Bytes with_map(const std::string& map, uint64_t mark = 0) {
  return with_area(DPXUT_IFREG, ext(kExtSparse, map), "abcde", mark);
}
Bytes flip(Bytes s, size_t at, uint8_t bit) { return s[at] ^= bit, s; }
Bytes with_garbage(Bytes s, size_t at) { return s.insert(s.begin() + at, {1, 2, 3, 9}), s; }

TEST(StreamReader, DamageFailsItsRecordAndReadingGoesOn) {
  const Builder three = Builder()
                            .record("a", DPXUT_IFREG | 0644, "alpha")
                            .record("b", DPXUT_IFREG | 0644, kBig)
                            .record("c", DPXUT_IFREG | 0644, "gamma");
  const Bytes& s = three.out;
  const size_t b_content = three.starts[2] - tool_section_size() - kBig.size(), b_head = three.starts[1];
  const std::string attr = ext(kExtXattr, std::string("\1\0a1", 4)), map = ext(kExtSparse, le64(0, 5));
  const std::string bad_attr = ext(kExtXattr, std::string("\11\0ab", 4));
  const struct {
    const char* what;
    Bytes bytes;
    Lines expect;
  } cases[] = {
      {"content byte", flip(s, b_content + 100, 1), {"a=alpha", "b!DATA_CHECK", "c=gamma"}},
      {"header byte", flip(s, b_head + 30, 0x40), {"a=alpha", "!CHECK", "c=gamma"}},
      {"data check section's own check", flip(s, three.starts[2] - 3, 1), {"a=alpha", "b!CHECK", "c=gamma"}},
      {"cut in content", Bytes(s.begin(), s.begin() + b_content + 10), {"a=alpha", "b!TRUNCATED"}},
      {"cut in header", Bytes(s.begin(), s.begin() + b_head + 20), {"a=alpha", "!TRUNCATED"}},
      {"garbage between", with_garbage(s, b_head), {"a=alpha", "!DAMAGED", "b=" + kBig, "c=gamma"}},
      {"later part set-uid", split_file(DPXUT_IFREG | 04755, 6), {"s!PART", "c=gamma"}},
      {"later part out of order", split_file(DPXUT_IFREG | 0644, 5), {"s!PART", "c=gamma"}},
      {"parts agree", split_file(DPXUT_IFREG | 0644, 6), {"s=0123456789", "c=gamma"}},
      {"sparse map", with_map(le64(2, 3) + le64(8, 2)), {"x=abcde;@2+3;@8+2", "c=gamma"}},
      {"sparse regions overlap", with_map(le64(2, 3) + le64(4, 2)), {"!DAMAGED", "c=gamma"}},
      {"sparse region past the size", with_map(le64(2, 3) + le64(9, 2)), {"!DAMAGED", "c=gamma"}},
      {"sparse map torn", with_map(le64(0, 5) + "x"), {"!DAMAGED", "c=gamma"}},
      {"sparse map twice", with_area(DPXUT_IFREG, map + map, "abcde"), {"!DAMAGED", "c=gamma"}},
      {"sparse map of a directory", with_area(DPXUT_IFDIR, ext(kExtSparse, le64(2, 5))), {"!DAMAGED", "c=gamma"}},
      {"xattr name past its data", with_area(DPXUT_IFDIR, bad_attr), {"!DAMAGED", "c=gamma"}},
      {"xattr stored twice", with_area(DPXUT_IFDIR, attr + attr), {"!DAMAGED", "c=gamma"}},
      {"change mark", with_map(le64(0, 5), 5), {"x=abcde;@0+5;changed", "c=gamma"}},
      {"change mark of another entry", with_map(le64(0, 5), 9), {"x!DAMAGED", "c=gamma"}},
  };
  for (const auto& c : cases)
    for (size_t most : kReadSizes) EXPECT_EQ(read_all(c.bytes, most), c.expect) << c.what << " at read size " << most;
  std::vector<std::string> errors;
  read_all(flip(s, b_content, 1), 4096, &errors);
  EXPECT_EQ(errors, Lines{"record 2 at offset " + std::to_string(b_head) + " (b): data check value mismatch"});
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
