// Records: the header writer byte for byte (full and short headers, with
// and without check values) and its update, the reader of the first section
// with the sections it skips, and the data set information parser (fields
// into the description block and the name buffer, stored name lists, the
// states of a record, sections cut by a buffer's end and completed from the
// next buffer), with round trips of records too long for the fuzz target's
// descriptions.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <tuple>
#include <vector>

#include "sidf/record_test_support.h"
#include "support/bytes.h"
#include "support/guard.h"

namespace dpxut::test {
namespace {

// A check value: the complement of zlib's CRC-32, little-endian.
std::string check_hex(const void* p, size_t n) {
  const auto crc = ~static_cast<uint32_t>(crc32(0, static_cast<const Bytef*>(p), static_cast<uInt>(n)));
  return to_hex(&crc, 4);
}

// The second section of a record with no names, dates or extension and byte
// value 7, up to its closing field: head, offset field (53 bytes to the
// closing field), value1..value5, byte1..byte3, extension, byte value.
constexpr const char* kExampleSecond =
    "81 3F 02 A5 5A  01 08 35 00 00 00 00 00 00 00  81 F2 FE 00 00 00 00  81 F2 FD 00 00 00 00  81 F2 FC 00 00 00 00"
    "  81 F2 FB 00 00 00 00  81 F2 FA 00 00 00 00  81 F0 FF 00  81 F0 FE 00  81 F0 FD 00  81 EF FD 00  50 07";

// First section: head 09 (80 01 short), stamp 54 (full only), length 0B with
// a placeholder, closing field (FF FF FF FF with check values). The update
// stores the length, then the check value over the first section up to its
// closing field. The second section's check value covers it up to its own.
// The caller's position, size and counter (from 5) move past the header.
TEST(RecordHeader, WritesTheWorkedExampleAndUpdatesLengthAndCheckValue) {
  for (int form = 0; form < 4; ++form) {
    const bool shortHeader = form & 1, checks = form & 2;
    SCOPED_TRACE(form);
    RecordInfo record;
    const HVDPRecordHeaderInfo& info = record.info;
    RecordDescription d{.shortHeader = shortHeader, .byteValue = 7};
    if (shortHeader) d.names = {{0, {'a'}}};  // a short header has no second section
    ASSERT_EQ(prepare_record(d, record), 0u);
    std::vector<uint8_t> out(4096, 0xAB);
    uint8_t* position = out.data();
    uint32_t size = 4096, counter = 5;
    ASSERT_EQ(HVDPSetNewRecordHeader(&position, &size, &counter, checks, &record.info), 0u);
    const std::string head = shortHeader ? "80 01" : "09";
    const std::string stamp = shortHeader ? "" : " 54 " + to_hex(&info.timeStamp, 16);
    const std::string first =
        hex(head + " 02 A5 5A" + stamp + " 0B 04 00 00 01 00 " + head + (checks ? " 04 FF FF FF FF" : " 00"));
    std::string second = shortHeader ? "" : hex(kExampleSecond);
    if (!shortHeader) second += hex(checks ? "81 3F 04 " + check_hex(second.data(), second.size()) : "81 3F 00");
    const size_t n = first.size() + second.size();
    EXPECT_EQ(to_hex(out.data(), n + 1), to_hex(first + second + '\xAB'));
    EXPECT_EQ(std::tuple(size_t(position - out.data()), size_t{size}, size_t{counter} - 5, info.headerLength),
              std::tuple(n, 4096 - n, n, n));
    EXPECT_EQ(info.timeStamp.typeAndTimeZone >> 12, shortHeader ? 0 : 1);  // local time with its zone
    const size_t length_at = shortHeader ? 7 : 23, check_at = first.size() - 4;
    EXPECT_EQ(+info.checkValueLocation, checks ? out.data() + check_at : nullptr);
    record.info.recordLength += 1000;
    EXPECT_EQ(HVDPUpdateRecordHeader(&record.info), 0u);
    const uint32_t length = 1000 + static_cast<uint32_t>(second.size());
    EXPECT_EQ(to_hex(out.data() + length_at, 4), to_hex(&length, 4));
    EXPECT_EQ(checks ? to_hex(out.data() + check_at, 4) : "", checks ? check_hex(out.data(), length_at + 4) : "");
  }
}

constexpr const char* kStamp = "01 10 E8 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00";  // 2024-03-15 13:45:30

// Sections before the record header are skipped (an offset field jumps to
// the closing field); the length is the first four bytes of field 0B; the
// stamp comes from field 54 or its DOS form 42.
TEST(RecordHeaderReader, ReadsFirstSectionsAndSkipsWhatComesBefore) {
  HVDPECMATimeStamp dos{};
  HVDPDOSTimeToECMA(0x586F6DAF, &dos);
  const std::string full = std::string("09 02 A5 5A 54 ") + kStamp + " 0B 04 47 00 00 00 09 00";
  // The code, bytes taken, and shortHeader, recordLength, headerLength and
  // state (2 before the call); the stamp where given.
  const struct { std::string bytes; uint32_t rc, consumed, shortHeader, recordLength, headerLength, state;
                 std::string stamp = ""; } cases[] = {
      {full, 0, 29, 0, 71, 29, 0, kStamp},
      {"09 02 A5 5A 42 AF 6D 6F 58 09 00", 0, 11, 0, 0, 11, 0, to_hex(&dos, 16)},
      {"80 01 02 A5 5A 0B 04 F4 01 00 00 80 01 00", 0, 14, 1, 500, 14, 3},
      {"00 00 " + full, 0, 31, 0, 71, 29, 0},                                          // filler
      {"80 80 04 02 A5 5A 50 01 80 80 04 00 " + full, 0, 41, 0, 71, 29, 0},           // any other section
      {"09 02 A5 5A 50 01 0C 02 01 02 0B 04 05 00 00 00 09 00", 0, 18, 0, 5, 18, 0},  // unknown fields
      {"09 02 A5 5A 0B 02 34 12 09 00", 0, 10, 0, 0x1234, 10, 0},
      {"09 02 A5 5A 0B 06 78 56 34 12 FF FF 09 00", 0, 14, 0, 0x12345678, 14, 0},
      {"09 02 A5 5A 0B 00 09 00", 0, 8, 0, 0, 8, 0},
      {"80 80 19 02 A5 5A 01 02 40 00 80 80 19 00", HVDPUT_BUFFER_UNDERFLOW, 0, 0, 0, 0, 2},  // jump beyond
      {"09 02 A5 5A 0B 04 47 00 00 00", HVDPUT_BUFFER_UNDERFLOW, 0, 0, 0, 0, 2},              // unclosed
  };
  for (const auto& c : cases) {
    GuardedBytes exact(hex(c.bytes));
    uint8_t* position = exact.data();
    auto size = static_cast<uint32_t>(exact.size());
    HVDPRecordHeaderInfo info{};
    info.state = HVDP_STATE_DONE;
    const uint32_t rc = HVDPGetRecordHeaderOnly(&position, &size, &info);
    EXPECT_EQ(size + (position - exact.data()), exact.size());
    EXPECT_EQ((std::vector<uint32_t>{rc, static_cast<uint32_t>(position - exact.data()), info.shortHeader,
                                     info.recordLength, info.headerLength, info.state}),
              (std::vector<uint32_t>{c.rc, c.consumed, c.shortHeader, c.recordLength, c.headerLength, c.state}))
        << c.bytes;
    if (!c.stamp.empty()) EXPECT_EQ(to_hex(&info.timeStamp, 16), c.stamp);
  }
}

// One call on `bytes` (ending at a guard page) in `state`, or in the state
// `record` is in (kAsIs): its code, the bytes it took (none when it fails)
// and the record.
constexpr int kAsIs = -1;
RecordRead parse(const std::string& bytes, RecordInfo& record, int state = HVDP_STATE_NEW_SECTION) {
  if (state != kAsIs) record.info.state = static_cast<uint32_t>(state);
  GuardedBytes exact(bytes);
  uint8_t* position = exact.data();
  auto size = static_cast<uint32_t>(bytes.size());
  RecordRead r{HVDPGetDataSetInfo(&position, &size, &record.info)};
  r.consumed = static_cast<size_t>(position - exact.data());
  EXPECT_EQ(size, bytes.size() - r.consumed);
  if (r.rc != 0) EXPECT_EQ(r.consumed, 0u) << to_hex(bytes.substr(0, 16));
  take_description(record.info, r);
  return r;
}

std::string info_section(const std::string& members) { return hex("81 3F 02 A5 5A") + members + hex("81 3F 00"); }
std::vector<uint8_t> bytes_of(const std::string& text) { return {text.c_str(), text.c_str() + text.size() + 1}; }

// Name spaces are the leading (up to 4) bytes of their field; a name without
// a name space field before it is ignored. Dates come from stamps (none
// before 1980) or DOS forms, the later field winning. Values, bytes and the
// byte value: the round trips.
TEST(DataSetInfo, ReadsNamesAndDatesFromEachForm) {
  HVDPECMATimeStamp s{};
  HVDPDOSTimeToECMA(0x586F6DAF, &s);  // 2024-03-15 13:45:30
  const std::string stamp = to_hex(&s, 16);
  s.year = 1979;
  RecordInfo record;
  const RecordRead r = parse(info_section(hex("01 08 00 00 00 00 00 00 00 00"             // offset field, ignored
                                              " 11 01 04 12 04 61 62 63 00  12 02 7A 00"  // 4: "abc"; no space
                                              " 11 02 04 01 12 03 78 79 00"               // 0x104: "xy"
                                              " 11 06 01 02 03 04 05 06 12 02 61 00"      // 0x04030201: "a"
                                              " 11 00 12 00  11 C2 12 01 62"              // 0: empty; 0xC2: "b"
                                              " 44 " + stamp + " 81 F2 F8 02 00 00 00 81 F2 F7 05 00 00 00 74 " +
                                              to_hex(&s, 16) + " 81 F2 F6 03 00 00 00 54 " + stamp)),
                             record);
  EXPECT_EQ(r.got.names, (std::vector<RecordName>{{4, bytes_of("abc")}, {0x104, bytes_of("xy")},
                                                  {0x04030201, bytes_of("a")}, {0, {}}, {0xC2, {'b'}}}));
  EXPECT_EQ(std::vector<uint32_t>(r.got.dates, r.got.dates + 4),
            (std::vector<uint32_t>{0x586F6DAF, 2, 0, 0x586F6DAF}));
}

// host: the bufferSize of a block the host gives (0: none, one of 51 bytes
// is made); size: the block's bufferSize afterwards.
TEST(DataSetInfo, SizesTheBlockForItsExtension) {
  const struct { uint32_t host, length, rc, size; } cases[] = {
      {0, 0, 0, 51}, {0, 10, 0, 61}, {100, 50, 0, 100} /* in place */, {100, 51, 0, 102}, {50, 0, 0, 50},
      {0, 65484, 0, 65535}, {0, 65485, HVDPUT_OVERFLOW, 0},  // beyond what a block of 65535 bytes holds
  };
  for (const auto& c : cases) {
    RecordInfo record;
    if (c.host != 0) ASSERT_EQ(prepare_record({.extension = std::vector<uint8_t>(c.host - 50)}, record), 0u);
    const std::string size = {static_cast<char>(c.length), static_cast<char>(c.length >> 8)};
    const RecordRead r = parse(info_section(hex("81 EF FD 81") + size + std::string(c.length, 'e')), record);
    ASSERT_EQ(r.rc, c.rc) << c.host << " " << c.length;
    if (c.rc == 0) EXPECT_EQ(record.info.dataSetInfo->bufferSize, c.size);
  }
}

// The 0x813E field of a name buffer holding `names`: its image from the
// dataSize word (the length of the list) on, with the count and the length
// word moved by the deltas.
std::string list_field(const std::vector<RecordName>& names, int countDelta = 0, int lengthDelta = 0) {
  RecordInfo record;
  EXPECT_EQ(prepare_record({.names = names}, record), 0u);
  const auto* image = reinterpret_cast<const char*>(record.info.nameBuffer);
  std::string data = names.empty() ? hex("04 00 00 00") : std::string(image + 2, record.info.nameBuffer->dataSize);
  data[0] = static_cast<char>(data[0] + lengthDelta);  // lists of at most 255 bytes
  data[2] = static_cast<char>(data[2] + countDelta);
  return "81 3E 81 " + to_hex(std::string{static_cast<char>(data.size()), static_cast<char>(data.size() >> 8)}) +
         " " + to_hex(data);
}

// A stored name list replaces the names read before it (one "b"); names
// after it are appended, also when the list moved the buffer. A refused
// length word leaves the names as they were; entries that do not lie within
// the image leave the buffer empty.
TEST(DataSetInfo, TakesAStoredNameListAndRefusesALyingOne) {
  const std::vector<RecordName> listed = {{0, bytes_of("one")}, {0x100, bytes_of("two")}}, kept = {{2, bytes_of("b")}};
  const RecordName a = {1, bytes_of("a")};
  const std::string after = " 11 01 01 12 02 61 00";
  std::vector<RecordName> big(30, {0, std::vector<uint8_t>(60, 'A')}), big_a = big;
  big_a.push_back(a);
  const struct { std::string members; uint32_t rc; std::vector<RecordName> names; } cases[] = {
      {list_field(listed) + after + after, 0, {listed[0], listed[1], a, a}},
      {list_field({}) + after, 0, {a}},
      {list_field(big) + after, 0, big_a},
      {list_field(listed, -1), 0, {listed[0]}},                     // fewer counted
      {list_field(listed, +1), HVDPUT_INVALID_PARAMETER, {}},       // count above the entries
      {list_field(listed, 0, -1), HVDPUT_INVALID_PARAMETER, {}},    // length word cutting an entry
      {"81 3E 04 04 00 01 09", HVDPUT_INVALID_PARAMETER, {}},       // header extra beyond the data
      {list_field(listed, 0, +1), HVDPUT_INVALID_PARAMETER, kept},  // length word beyond the field
      {"81 3E 04 03 00 00 00", HVDPUT_INVALID_PARAMETER, kept},     // length word below 4
      {"81 3E 01 09", HVDPUT_INVALID_PARAMETER, kept},              // no length word
  };
  for (const auto& c : cases) {
    RecordInfo record;
    const RecordRead r = parse(info_section(hex("11 01 02 12 02 62 00 " + c.members)), record);
    EXPECT_EQ(r.rc, c.rc) << c.members;
    EXPECT_EQ(names_of(record.info.nameBuffer), c.names) << c.members;
  }
  RecordInfo tight;  // a block of only len + 1 bytes is grown to len + 1024
  tight.info.nameBuffer = static_cast<HVDPNameBuffer*>(std::calloc(1, 6));
  tight.info.nameBuffer->bufferSize = 5;
  ASSERT_EQ(SIDFUnpackNameList(&tight.info.nameBuffer, hex_bytes("04 00 00 00").data()), 0u);
  EXPECT_EQ(tight.info.nameBuffer->bufferSize, 1028);
}

// State 2 adds one more section to the block, state 0 starts afresh; a
// section that does not close takes nothing.
TEST(DataSetInfo, FollowsItsStates) {
  const std::string value2 = info_section(hex("81 F2 FD 02 00 00 00"));
  RecordInfo record;
  ASSERT_EQ(parse(info_section(hex("81 F2 FE 01 00 00 00")), record).rc, 0u);
  EXPECT_EQ(parse(value2, record, HVDP_STATE_DONE).got.values[0], 1u);
  EXPECT_EQ(parse(value2, record).got.values[0], 0u);
  EXPECT_EQ(parse(hex("81 3F 02 A5 5A 50 01"), record, HVDP_STATE_DONE).rc, HVDPUT_BUFFER_UNDERFLOW);
  EXPECT_TRUE(SaveDataSetInfo(nullptr, 0, &record.info) == 0 && record.info.state == HVDP_STATE_SAVED);  // empty
}

// A section saved by a first call (state 1) and completed from the next
// buffer, which takes nothing from it when it fails. Cut inside the
// extension's size bytes or data with a next buffer that ends too soon: the
// saved start released and the record's section lost for good. An offset
// field that claims more than the section holds (byte value 4 after it)
// makes the walk save a section that is whole: completed from the copy alone
// when nothing follows its closing field there, refused when record data
// does (the host has moved past it).
TEST(DataSetInfo, CompletesASavedSectionOrLosesIt) {
  const std::string whole = info_section(hex("81 EF FD 81 2C 01") + std::string(300, 'w'));
  const std::string jump = info_section(hex("01 01 40 50 04"));
  const struct { std::string first, next; uint32_t rc, state, byteValue; } cases[] = {
      {whole.substr(0, 7), whole.substr(7, whole.size() - 8), HVDPUT_BUFFER_UNDERFLOW, HVDP_STATE_LOST, 0},
      {whole.substr(0, 10), whole.substr(10, 100), HVDPUT_BUFFER_UNDERFLOW, HVDP_STATE_LOST, 0},
      {whole.substr(0, 100), whole.substr(100, whole.size() - 101), HVDPUT_BUFFER_UNDERFLOW, HVDP_STATE_LOST, 0},
      {whole.substr(0, 100), hex("81 3F 00"), HVDPUT_BUFFER_UNDERFLOW, HVDP_STATE_LOST, 0},  // not the cut field's rest
      {jump, hex("AA BB"), 0, HVDP_STATE_DONE, 4},
      {jump + hex("0B 00"), hex("AA BB"), HVDPUT_INVALID_PARAMETER, HVDP_STATE_LOST, 4},
  };
  for (const auto& c : cases) {
    RecordInfo record;
    record.info.headerLength = 29;
    ASSERT_EQ(parse(c.first, record).state, HVDP_STATE_SAVED);
    const RecordRead r = parse(c.next, record, kAsIs);
    EXPECT_EQ(record.info.headerLength, 29 + c.first.size());
    EXPECT_EQ(std::tuple(r.rc, r.consumed, r.state, r.got.byteValue), std::tuple(c.rc, 0u, c.state, c.byteValue));
    EXPECT_EQ(+record.info.savedData, nullptr);
    if (c.state == HVDP_STATE_LOST) EXPECT_EQ(parse(whole, record, kAsIs).rc, HVDPUT_BUFFER_UNDERFLOW);
  }
  RecordInfo huge;  // an offset beyond 32 bits is refused at once
  EXPECT_EQ(parse(info_section(hex("01 08 00 00 00 00 01 00 00 00")), huge).rc, HVDPUT_BUFFER_UNDERFLOW);
  EXPECT_EQ(+huge.info.savedData, nullptr);
}

// Extensions and names longer than the work area and any small window, read
// back at every split of the stream into two buffers.
TEST(DataSetInfo, ReadsBackLongRecordsAtEverySplit) {
  const RecordDescription d{.checkValues = true, .values = {0xDEADBEEF}, .dates = {0x586F6DAF},
                            .extension = std::vector<uint8_t>(5000, 0x3C),
                            .names = {{0, std::vector<uint8_t>(199, 'x')}, {0x202, std::vector<uint8_t>(280, 'y')}}};
  std::vector<uint8_t> stream;
  ASSERT_EQ(write_record(d, stream), 0u);
  RecordInfo record;  // one description for every read, as hosts keep it
  const RecordRead whole = read_record(stream, stream.size(), record);
  EXPECT_TRUE(reads_back(d, whole, stream.size()));
  for (size_t split = 0; split < stream.size(); ++split) ASSERT_EQ(read_record(stream, split, record), whole) << split;
}

}  // namespace
}  // namespace dpxut::test
