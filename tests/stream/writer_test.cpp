// The writer's stream, read back through the library's own decoders: block
// alignment, the record headers' names and values, the extension entries,
// the data check sections and the trailer; and the writer's failures.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "dpxut.h"
#include "stream/format.h"
#include "stream/tool_sections.h"
#include "support/env.h"

namespace {

using namespace dpxut::stream;
using Bytes = std::vector<uint8_t>;

struct Sink {
  Bytes out;
  size_t chunk = 0;  // most bytes taken a call (0: all)
  int fail_errno = 0;
};
int64_t sink_write(void* ctx, const void* buf, size_t size) {
  auto* s = static_cast<Sink*>(ctx);
  if (s->fail_errno != 0) {
    errno = s->fail_errno;
    return -1;
  }
  const size_t n = s->chunk != 0 && size > s->chunk ? s->chunk : size;
  s->out.insert(s->out.end(), static_cast<const uint8_t*>(buf), static_cast<const uint8_t*>(buf) + n);
  return static_cast<int64_t>(n);
}

struct Entry {
  const char* name;
  uint32_t mode;
  std::string content;  // regular files: their content
  const char* symlink = nullptr;
  const char* hardlink = nullptr;
};

// A directory, a file split in parts of 3, a symbolic link, a hard link, a
// name the code set cannot convert and an empty file.
const Entry kTree[] = {{"d", 0040755, ""},
                       {"d/f", 0100644, "hello"},
                       {"d/l", 0120777, "", "f"},
                       {"d/h", 0100644, "", nullptr, "d/f"},
                       {"d/\xff", 0100600, "x"},
                       {"d/e", 0100644, ""}};

Bytes write_tree(size_t chunk, int* add_result = nullptr) {
  Sink sink;
  sink.chunk = chunk;
  dpxut_writer* w = dpxut_writer_new(sink_write, &sink);
  EXPECT_EQ(dpxut_writer_set_time(w, 1700000000), DPXUT_OK);
  EXPECT_EQ(dpxut_writer_set_host(w, "hostX"), DPXUT_OK);
  EXPECT_EQ(dpxut_writer_set_part_size(w, 3), DPXUT_OK);
  dpxut_entry* e = dpxut_entry_new();
  for (const Entry& t : kTree) {
    dpxut_entry_clear(e);
    dpxut_entry_set_name(e, t.name);
    dpxut_entry_set_mode(e, t.mode);
    dpxut_entry_set_uname(e, "me");
    dpxut_entry_set_size(e, t.hardlink ? 5 : t.content.size());
    dpxut_entry_set_mtime(e, 1600000000, 5);
    if (t.symlink) dpxut_entry_set_symlink(e, t.symlink);
    if (t.hardlink) dpxut_entry_set_hardlink(e, t.hardlink);
    const int rc = dpxut_writer_add(w, e);
    if (add_result != nullptr && rc != DPXUT_OK) *add_result = rc;
    if (!t.content.empty())
      EXPECT_EQ(dpxut_writer_write_data(w, t.content.data(), t.content.size()), int64_t(t.content.size()));
  }
  EXPECT_EQ(dpxut_writer_finish(w), DPXUT_OK);
  EXPECT_EQ(dpxut_writer_offset(w), sink.out.size());
  dpxut_writer_free(w);
  dpxut_entry_free(e);
  return sink.out;
}

// One record as read back: its names (name space, bytes), values, extension
// types, content and data check values.
struct Record {
  std::vector<std::pair<uint32_t, std::string>> names;
  uint32_t mode = 0, size4 = 0;
  std::vector<uint32_t> ext;
  std::string content;
};

// Names in a UTF-8 locale, where the byte FF converts to nothing.
class StreamWriter : public dpxut::testing::CharsetEnv {
 protected:
  void SetUp() override {
    CharsetEnv::SetUp();
    WriteLanguageFile("RC_LANG=uu_VV\n");
  }
};

TEST_F(StreamWriter, WritesTheLayoutReadBackByTheDecoders) {
  int warned = DPXUT_OK;
  const Bytes s = write_tree(0, &warned);
  EXPECT_EQ(warned, DPXUT_WARN);  // the unconvertible name
  EXPECT_EQ(write_tree(7), s);    // short writes change nothing
  ASSERT_EQ(s.size() % kDefaultBlockSize, 0u);

  HVDPMediaHeaderInfo media{};
  ASSERT_EQ(HVDPGetMediaHeaderInfo(s.data(), static_cast<uint32_t>(s.size()), &media), 0u);
  EXPECT_STREQ(media.text, "sidfpack");
  HVDPSessionHeaderInfo session{};
  size_t head = 0;  // the session header follows the media header's closing field
  for (int heads = 0; heads < 2;) {
    DPDFField f{};
    ASSERT_EQ(DPDFGetNextField(s.data() + head, static_cast<uint32_t>(s.size() - head), &f), 0u);
    heads += f.fieldId == HVDP_MEDIA_HEADER_ID;
    head += f.bytesUsed;
  }
  ASSERT_EQ(HVDPGetSessionHeaderInfo(s.data() + head, static_cast<uint32_t>(s.size() - head), &session), 0u);
  EXPECT_STREQ(session.text2, "hostX");
  EXPECT_STREQ(session.text3, "UTF-8");
  EXPECT_STREQ(session.text4, "sidfpk/1");
  EXPECT_STREQ(session.text5, "512");
  EXPECT_STREQ(session.fullName, "sidfpack.hostX");

  std::vector<Record> got;
  size_t at = kDefaultBlockSize;  // the headers fill less than a block
  uint32_t crc = 0, trailer_records = 0;
  uint64_t length = 0, trailer_bytes = 0;
  for (;;) {
    ASSERT_EQ(at % kDefaultBlockSize, 0u);
    uint8_t* p = const_cast<uint8_t*>(s.data()) + at;
    uint32_t n = static_cast<uint32_t>(s.size() - at);
    if (get_tool_section(kStreamTrailerId, &p, &n, &trailer_records, &trailer_bytes) == 0) {
      EXPECT_EQ(section_checks(s.data() + at, tool_section_size(), kStreamTrailerId), nullptr);
      EXPECT_EQ(pad_length(at + tool_section_size(), kDefaultBlockSize), s.size() - at - tool_section_size());
      break;
    }
    HVDPRecordHeaderInfo info{};
    ASSERT_EQ(HVDPGetRecordHeaderOnly(&p, &n, &info), 0u);
    const size_t end = at + info.headerLength + info.recordLength;
    ASSERT_EQ(HVDPGetDataSetInfo(&p, &n, &info), 0u);
    Record r;
    HVDPDataSetName name{};
    HVDPNameHandle* h = nullptr;
    for (uint32_t rc = HVDPGetFirstName(info.nameBuffer, &name, &h); rc == 0; rc = HVDPGetNextName(&h, &name)) {
      EXPECT_EQ(name.positionCount, 0);  // as records are read back; nameLength counts the terminating zero
      const size_t unit = name.nameSpace == kNsWide ? sizeof(wchar_t) : 1;
      r.names.emplace_back(name.nameSpace, std::string(static_cast<const char*>(name.name), name.nameLength - unit));
    }
    r.mode = info.dataSetInfo->value1;
    r.size4 = info.dataSetInfo->value4;
    HVDPExtensionEntry* x = nullptr;
    HVDPExtensionHandle* xh = nullptr;
    for (uint32_t rc = HVDPGetFirstExtension(info.dataSetInfo->extensionData, info.dataSetInfo->extensionLength, &x, &xh);
         rc == 0; rc = HVDPGetNextExtension(&xh, &x))
      r.ext.push_back(x->entryType);
    const size_t content_at = static_cast<size_t>(p - s.data()), check_at = end - tool_section_size();
    r.content.assign(reinterpret_cast<const char*>(s.data()) + content_at, check_at - content_at);
    EXPECT_EQ(section_checks(s.data() + check_at, tool_section_size(), kDataCheckId), nullptr);
    p = const_cast<uint8_t*>(s.data()) + check_at;
    n = static_cast<uint32_t>(tool_section_size());
    ASSERT_EQ(get_tool_section(kDataCheckId, &p, &n, &crc, &length), 0u);
    EXPECT_EQ(crc, HVDPGenerateCRC(static_cast<uint32_t>(r.content.size()), 0xFFFFFFFF,
                                   reinterpret_cast<const uint8_t*>(r.content.data())));
    EXPECT_EQ(length, r.content.size());
    std::free(info.nameBuffer);
    std::free(info.dataSetInfo);
    std::free(info.savedData);
    got.push_back(r);
    at = end + pad_length(end, kDefaultBlockSize);
  }
  const std::vector<uint32_t> plain = {kExtStrings, kExtTimes, kExtSize}, part = {kExtStrings, kExtTimes, kExtSize, kExtPart};
  const std::vector<uint32_t> link = {kExtStrings, kExtTimes, kExtSize, kExtTargetUtf8};
  const std::vector<uint32_t> hard = {kExtStrings, kExtTimes, kExtSize, kExtHardlink};
  auto three = [](const std::string& n) {  // locale bytes, UTF-8 and wide forms of an ASCII name
    std::string wide;
    for (char c : n) wide += std::string(reinterpret_cast<const char*>(std::wstring(1, c).c_str()), sizeof(wchar_t));
    return std::vector<std::pair<uint32_t, std::string>>{{kNsLocale, n}, {kNsUtf8, n}, {kNsWide, wide}};
  };
  const std::vector<Record> want = {
      {three("d"), 0040755, 0, plain, ""},
      {three("d/f"), 0100644, 5, part, "hel"},
      {three("d/f"), 0100644, 5, part, "lo"},
      {three("d/l"), 0120777, 1, link, ""},
      {three("d/h"), 0100644, 5, hard, ""},  // a hard link: metadata, no content
      {{{kNsLocale, "d/\xff"}}, 0100600, 1, plain, "x"},
      {three("d/e"), 0100644, 0, plain, ""},
  };
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].names, want[i].names);
    EXPECT_EQ(got[i].mode, want[i].mode);
    EXPECT_EQ(got[i].size4, want[i].size4);
    EXPECT_EQ(got[i].ext, want[i].ext);
    EXPECT_EQ(got[i].content, want[i].content);
  }
  EXPECT_EQ(trailer_records, want.size());
  EXPECT_EQ(trailer_bytes, 6u);
}

// Failures: the result, the cause, a text with the context, and whether
// the stream stays whole.
TEST_F(StreamWriter, ReportsFailuresWithTheirCauseAndKeepsTheStreamWhole) {
  Sink sink;
  dpxut_writer* w = dpxut_writer_new(sink_write, &sink);
  dpxut_entry* e = dpxut_entry_new();
  EXPECT_EQ(dpxut_writer_add(w, e), DPXUT_FAILED);  // no name: nothing stored
  EXPECT_EQ(dpxut_writer_errcode(w), DPXUT_E_NAME);
  EXPECT_EQ(dpxut_writer_records(w), 0u);
  EXPECT_EQ(dpxut_writer_set_block_size(w, 1024), DPXUT_FAILED);  // too late
  EXPECT_EQ(dpxut_writer_errcode(w), DPXUT_E_STATE);
  dpxut_entry_set_name(e, "f");
  dpxut_entry_set_mode(e, 0100644);
  dpxut_entry_set_size(e, 4);
  EXPECT_EQ(dpxut_writer_add(w, e), DPXUT_OK);
  const uint64_t before = dpxut_writer_offset(w);
  EXPECT_EQ(dpxut_writer_write_data(w, "abcde", 5), DPXUT_FAILED);  // more than the size: nothing written
  EXPECT_EQ(dpxut_writer_errcode(w), DPXUT_E_SIZE);
  EXPECT_EQ(dpxut_writer_offset(w), before);
  EXPECT_EQ(dpxut_writer_write_data(w, "ab", 2), 2);
  EXPECT_EQ(dpxut_writer_finish_entry(w), DPXUT_WARN);
  EXPECT_EQ(dpxut_writer_errcode(w), DPXUT_E_SIZE);
  EXPECT_STREQ(dpxut_writer_error(w), "entry 'f': 2 bytes short; stored as zeros and marked as changed");
  EXPECT_EQ(dpxut_writer_write_data(w, "a", 1), DPXUT_FAILED);  // no file current
  EXPECT_EQ(dpxut_writer_finish(w), DPXUT_OK);
  EXPECT_EQ(sink.out.size() % kDefaultBlockSize, 0u);
  uint32_t records = 0;
  uint64_t bytes = 0;
  uint8_t* p = sink.out.data() + sink.out.size() - kDefaultBlockSize;
  uint32_t n = kDefaultBlockSize;
  EXPECT_EQ(get_tool_section(kStreamTrailerId, &p, &n, &records, &bytes), 0u);
  EXPECT_EQ(records, 1u);
  EXPECT_EQ(bytes, 4u);  // the zeros counted
  dpxut_writer_free(w);

  sink = Sink{};
  sink.fail_errno = ENOSPC;
  w = dpxut_writer_new(sink_write, &sink);
  EXPECT_EQ(dpxut_writer_add(w, e), DPXUT_OK);  // still in the buffer
  EXPECT_EQ(dpxut_writer_finish(w), DPXUT_FATAL);
  EXPECT_EQ(dpxut_writer_errcode(w), DPXUT_E_IO);
  EXPECT_NE(std::strstr(dpxut_writer_error(w), std::strerror(ENOSPC)), nullptr);
  EXPECT_EQ(dpxut_writer_add(w, e), DPXUT_FATAL);  // broken for good
  dpxut_writer_free(w);
  dpxut_entry_free(e);

  // Null arguments and values out of range.
  EXPECT_EQ(dpxut_writer_new(nullptr, nullptr), nullptr);
  EXPECT_EQ(dpxut_writer_add(nullptr, nullptr), DPXUT_FATAL);
  EXPECT_EQ(dpxut_writer_finish(nullptr), DPXUT_FATAL);
  EXPECT_EQ(dpxut_entry_set_name(nullptr, "x"), DPXUT_FATAL);
  EXPECT_EQ(dpxut_entry_name(nullptr), nullptr);
  w = dpxut_writer_new(sink_write, &sink);
  EXPECT_EQ(dpxut_writer_set_block_size(w, 0), DPXUT_FAILED);
  EXPECT_EQ(dpxut_writer_set_block_size(w, kMaxBlockSize + 1), DPXUT_FAILED);
  EXPECT_EQ(dpxut_writer_set_part_size(w, kMaxPart + 1), DPXUT_FAILED);
  EXPECT_EQ(dpxut_writer_set_time(w, -1), DPXUT_FAILED);
  EXPECT_EQ(dpxut_writer_set_host(w, nullptr), DPXUT_FATAL);
  dpxut_writer_free(w);
}

TEST(StreamVersion, MatchesTheProjectAndNamesEveryCause) {
  EXPECT_STREQ(dpxut_version(), DPXUT_PROJECT_VERSION);
  EXPECT_STREQ(dpxut_version(), DPXUT_VERSION_STRING);
  EXPECT_EQ(dpxut_version_number(), DPXUT_VERSION_NUMBER);
  std::vector<std::string> seen;
  for (uint32_t code : {HVDPUT_SUCCESS, HVDPUT_INVALID_HANDLE, HVDPUT_INVALID_PARAMETER, HVDPUT_NO_MORE_ENTRIES,
                        HVDPUT_OUT_OF_MEMORY, HVDPUT_OVERFLOW, HVDPUT_FIELD_ID_MISMATCH, HVDPUT_BEYOND_END,
                        HVDPUT_BUFFER_UNDERFLOW})
    seen.push_back(dpxut_strerror(code));
  for (uint32_t code = DPXUT_E_IO; code <= DPXUT_E_NAME; ++code) seen.push_back(dpxut_strerror(code));
  for (size_t i = 0; i < seen.size(); ++i)
    for (size_t j = 0; j < i; ++j) EXPECT_NE(seen[i], seen[j]);  // each its own text
  EXPECT_STREQ(dpxut_strerror(0x1234), "unknown error 0x00001234");
}

}  // namespace
