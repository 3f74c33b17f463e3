// The writer's stream, read back through the library's own decoders: block
// alignment, the record headers' names and values, the extension entries,
// the data check sections and the trailer; and the writer's failures.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "stream/format.h"
#include "stream/stream_support.h"
#include "stream/tool_sections.h"
#include "support/env.h"

namespace {

using namespace dpxut::stream;
using namespace dpxut::test;

// A directory, a file split in parts of 3, a symbolic link, a hard link, a
// name the code set cannot convert and an empty file.
const struct {
  const char* name;
  uint32_t mode;
  std::string content;
  const char *symlink = nullptr, *hardlink = nullptr;
} kTree[] = {{"d", 0040755, ""},        {"d/f", 0100644, "hello"},
             {"d/l", 0120777, "", "f"}, {"d/h", 0100644, "", nullptr, "d/f"},
             {"d/\xff", 0100600, "x"},  {"d/e", 0100644, ""}};

Bytes write_tree(size_t chunk, int* add_result = nullptr) {
  Writer x;
  x.sink.chunk = chunk;
  dpxut_writer_set_time(x.w, 1700000000);
  dpxut_writer_set_host(x.w, "hostX");
  dpxut_writer_set_part_size(x.w, 3);
  for (const auto& t : kTree) {
    dpxut_entry* e = x.entry(t.name, t.mode, t.hardlink ? 5 : t.content.size());
    dpxut_entry_set_uname(e, "me");
    dpxut_entry_set_mtime(e, 1600000000, 5);
    if (t.symlink) dpxut_entry_set_symlink(e, t.symlink);
    if (t.hardlink) dpxut_entry_set_hardlink(e, t.hardlink);
    if (const int rc = x.add(t.content); add_result != nullptr && rc != DPXUT_OK) *add_result = rc;
  }
  EXPECT_EQ(dpxut_writer_finish(x.w), DPXUT_OK);
  EXPECT_EQ(dpxut_writer_offset(x.w), x.sink.out.size());
  return x.sink.out;
}

// One record as read back: its names (name space, bytes), mode, size, extension types and content.
using Names = std::vector<std::pair<uint32_t, std::string>>;
using Record = std::tuple<Names, uint32_t, uint32_t, std::vector<uint32_t>, std::string>;

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

  HVDPMediaHeaderInfo media{};
  ASSERT_EQ(HVDPGetMediaHeaderInfo(s.data(), static_cast<uint32_t>(s.size()), &media), 0u);
  EXPECT_STREQ(media.text, "sidfpack");
  size_t head = 0;  // the session header follows the media header's closing field
  for (int heads = 0; heads < 2;) {
    DPDFField f{};
    ASSERT_EQ(DPDFGetNextField(s.data() + head, static_cast<uint32_t>(s.size() - head), &f), 0u);
    heads += f.fieldId == HVDP_MEDIA_HEADER_ID;
    head += f.bytesUsed;
  }
  HVDPSessionHeaderInfo h{};
  ASSERT_EQ(HVDPGetSessionHeaderInfo(s.data() + head, static_cast<uint32_t>(s.size() - head), &h), 0u);
  EXPECT_EQ((std::vector<std::string>{h.text2, h.text3, h.text4, h.text5, h.fullName}),
            (std::vector<std::string>{"hostX", "UTF-8", "sidfpk/1", "512", "sidfpack.hostX"}));

  std::vector<Record> got;
  size_t at = kDefaultBlockSize;  // the headers fill less than a block
  uint32_t crc = 0, trailer_records = 0;
  uint64_t length = 0, trailer_bytes = 0;
  for (;;) {
    uint8_t* p = const_cast<uint8_t*>(s.data()) + at;
    uint32_t n = static_cast<uint32_t>(s.size() - at);
    if (get_tool_section(kStreamTrailerId, &p, &n, &trailer_records, &trailer_bytes) == 0) {
      EXPECT_EQ(section_checks(s.data() + at, tool_section_size(), kStreamTrailerId), nullptr);
      EXPECT_EQ(pad_length(at + tool_section_size(), kDefaultBlockSize), s.size() - at - tool_section_size());
      break;
    }
    HVDPRecordHeaderInfo info{};
    ASSERT_EQ(HVDPGetRecordHeaderOnly(&p, &n, &info), 0u);
    const size_t end = at + info.headerLength + info.recordLength, check_at = end - tool_section_size();
    ASSERT_EQ(HVDPGetDataSetInfo(&p, &n, &info), 0u);
    Names names;
    HVDPDataSetName name{};
    HVDPNameHandle* nh = nullptr;
    for (uint32_t rc = HVDPGetFirstName(info.nameBuffer, &name, &nh); rc == 0; rc = HVDPGetNextName(&nh, &name)) {
      EXPECT_EQ(name.positionCount, 0);  // as records are read back; nameLength counts the terminating zero
      const size_t unit = name.nameSpace == kNsWide ? sizeof(wchar_t) : 1;
      names.emplace_back(name.nameSpace, std::string(static_cast<const char*>(name.name), name.nameLength - unit));
    }
    std::vector<uint32_t> exts;
    HVDPExtensionEntry* x = nullptr;
    HVDPExtensionHandle* xh = nullptr;
    for (uint32_t rc =
             HVDPGetFirstExtension(info.dataSetInfo->extensionData, info.dataSetInfo->extensionLength, &x, &xh);
         rc == 0; rc = HVDPGetNextExtension(&xh, &x))
      exts.push_back(x->entryType);
    const std::string content(reinterpret_cast<const char*>(p), s.data() + check_at - p);
    got.emplace_back(names, info.dataSetInfo->value1, info.dataSetInfo->value4, exts, content);
    EXPECT_EQ(section_checks(s.data() + check_at, tool_section_size(), kDataCheckId), nullptr);
    p = const_cast<uint8_t*>(s.data()) + check_at;
    n = static_cast<uint32_t>(tool_section_size());
    ASSERT_EQ(get_tool_section(kDataCheckId, &p, &n, &crc, &length), 0u);
    EXPECT_EQ(crc, HVDPGenerateCRC(content.size(), 0xFFFFFFFF, reinterpret_cast<const uint8_t*>(content.data())));
    EXPECT_EQ(length, content.size());
    std::free(info.nameBuffer), std::free(info.dataSetInfo), std::free(info.savedData);
    at = end + pad_length(end, kDefaultBlockSize);
  }
  const std::vector<uint32_t> plain = {kExtStrings, kExtTimes, kExtSize},
                              part = {kExtStrings, kExtTimes, kExtSize, kExtPart};
  const std::vector<uint32_t> link = {kExtStrings, kExtTimes, kExtSize, kExtTargetUtf8};
  const std::vector<uint32_t> hard = {kExtStrings, kExtTimes, kExtSize, kExtHardlink};
  auto three = [](const std::string& n) {  // locale bytes, UTF-8 and wide forms of an ASCII name
    std::string wide;
    for (char c : n) wide += std::string(reinterpret_cast<const char*>(std::wstring(1, c).c_str()), sizeof(wchar_t));
    return Names{{kNsLocale, n}, {kNsUtf8, n}, {kNsWide, wide}};
  };
  EXPECT_EQ(got, (std::vector<Record>{
                     {three("d"), 0040755, 0, plain, ""},
                     {three("d/f"), 0100644, 5, part, "hel"},
                     {three("d/f"), 0100644, 5, part, "lo"},
                     {three("d/l"), 0120777, 1, link, ""},
                     {three("d/h"), 0100644, 5, hard, ""},  // a hard link: metadata, no content
                     {{{kNsLocale, "d/\xff"}}, 0100600, 1, plain, "x"},
                     {three("d/e"), 0100644, 0, plain, ""},
                 }));
  EXPECT_EQ(trailer_records, 7u);
  EXPECT_EQ(trailer_bytes, 6u);
}

// Failures: the result, the cause, a text with the context, and whether the stream stays whole.
TEST_F(StreamWriter, ReportsFailuresWithTheirCauseAndKeepsTheStreamWhole) {
  Writer x;
  dpxut_writer* w = x.w;
  EXPECT_EQ(dpxut_writer_add(w, x.e), DPXUT_FAILED);  // no name: nothing stored
  EXPECT_EQ(dpxut_writer_errcode(w), DPXUT_E_NAME);
  EXPECT_EQ(dpxut_writer_set_block_size(w, 1024), DPXUT_FAILED);  // too late
  EXPECT_EQ(dpxut_writer_errcode(w), DPXUT_E_STATE);
  x.entry("f", 0100644, 4);
  EXPECT_EQ(x.add(), DPXUT_OK);
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
  uint32_t records = 0;
  uint64_t bytes = 0;
  uint8_t* p = x.sink.out.data() + x.sink.out.size() - kDefaultBlockSize;
  uint32_t n = kDefaultBlockSize;
  EXPECT_EQ(get_tool_section(kStreamTrailerId, &p, &n, &records, &bytes), 0u);
  EXPECT_EQ(std::pair(records, bytes), std::pair(1u, uint64_t{4}));  // the zeros counted

  Writer broken;
  broken.sink.fail_errno = ENOSPC;
  broken.entry("f", 0100644);
  EXPECT_EQ(broken.add(), DPXUT_OK);  // still in the buffer
  EXPECT_EQ(dpxut_writer_finish(broken.w), DPXUT_FATAL);
  EXPECT_EQ(dpxut_writer_errcode(broken.w), DPXUT_E_IO);
  EXPECT_NE(std::strstr(dpxut_writer_error(broken.w), std::strerror(ENOSPC)), nullptr);
  EXPECT_EQ(broken.add(), DPXUT_FATAL);  // broken for good

  // Null arguments and values out of range.
  EXPECT_EQ(dpxut_writer_new(nullptr, nullptr), nullptr);
  EXPECT_EQ(dpxut_writer_add(nullptr, nullptr), DPXUT_FATAL);
  EXPECT_EQ(dpxut_writer_finish(nullptr), DPXUT_FATAL);
  EXPECT_EQ(dpxut_entry_set_name(nullptr, "x"), DPXUT_FATAL);
  EXPECT_EQ(dpxut_entry_name(nullptr), nullptr);
  Writer fresh;
  EXPECT_EQ(dpxut_writer_set_block_size(fresh.w, 0), DPXUT_FAILED);
  EXPECT_EQ(dpxut_writer_set_block_size(fresh.w, kMaxBlockSize + 1), DPXUT_FAILED);
  EXPECT_EQ(dpxut_writer_set_part_size(fresh.w, kMaxPart + 1), DPXUT_FAILED);
  EXPECT_EQ(dpxut_writer_set_time(fresh.w, -1), DPXUT_FAILED);
  EXPECT_EQ(dpxut_writer_set_host(fresh.w, nullptr), DPXUT_FATAL);
}

TEST(StreamVersion, MatchesTheProjectAndNamesEveryCause) {
  EXPECT_STREQ(dpxut_version(), DPXUT_PROJECT_VERSION);
  EXPECT_STREQ(dpxut_version(), DPXUT_VERSION_STRING);
  EXPECT_EQ(dpxut_version_number(), DPXUT_VERSION_NUMBER);
  std::set<std::string> texts;  // each its own
  for (uint32_t code :
       {HVDPUT_SUCCESS, HVDPUT_INVALID_HANDLE, HVDPUT_INVALID_PARAMETER, HVDPUT_NO_MORE_ENTRIES, HVDPUT_OUT_OF_MEMORY,
        HVDPUT_OVERFLOW, HVDPUT_FIELD_ID_MISMATCH, HVDPUT_BEYOND_END, HVDPUT_BUFFER_UNDERFLOW})
    texts.insert(dpxut_strerror(code));
  for (uint32_t code = DPXUT_E_IO; code <= DPXUT_E_NAME; ++code) texts.insert(dpxut_strerror(code));
  EXPECT_EQ(texts.size(), 9u + DPXUT_E_NAME - DPXUT_E_IO + 1);
  EXPECT_STREQ(dpxut_strerror(0x1234), "unknown error 0x00001234");
}

}  // namespace
