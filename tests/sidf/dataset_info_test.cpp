// The data set information parser: fields into the description block and
// the name buffer, stored name lists, the states of a record, sections cut by
// a buffer's end and completed from the next buffer, and round trips of
// records too long for the fuzz target's descriptions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "sidf/header_test_support.h"
#include "sidf/record_test_support.h"

namespace dpxut::test {
namespace {

struct Parsed {
  uint32_t rc = 0;
  size_t consumed = 0;
  RecordRead read;
};

// One call on `bytes` (ending at a guard page) in `state`, or in the state
// `record` is in.
Parsed parse(const std::string& bytes, RecordInfo& record, int state = HVDP_STATE_NEW_SECTION) {
  if (state >= 0) record.info.state = static_cast<uint32_t>(state);
  GuardedBytes exact(bytes);
  uint8_t* position = exact.data();
  auto size = static_cast<uint32_t>(bytes.size());
  Parsed p;
  p.rc = HVDPGetDataSetInfo(&position, &size, &record.info);
  p.consumed = static_cast<size_t>(position - exact.data());
  EXPECT_EQ(size, bytes.size() - p.consumed);
  take_description(record.info, p.read);
  return p;
}
constexpr int kAsIs = -1;

std::string info_section(const std::string& members) { return section(HVDP_DATA_SET_INFO_ID, hex(members)); }
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
  const Parsed p = parse(info_section("01 08 00 00 00 00 00 00 00 00"             // offset field, ignored
                                      " 11 01 04 12 04 61 62 63 00  12 02 7A 00"  // 4: "abc"; no space
                                      " 11 02 04 01 12 03 78 79 00"               // 0x104: "xy"
                                      " 11 06 01 02 03 04 05 06 12 02 61 00"      // 0x04030201: "a"
                                      " 11 00 12 00  11 C2 12 01 62"              // 0: empty; 0xC2: "b"
                                      " 44 " + stamp + " 81 F2 F8 02 00 00 00 81 F2 F7 05 00 00 00 74 " +
                                      to_hex(&s, 16) + " 81 F2 F6 03 00 00 00 54 " + stamp),
                         record);
  ASSERT_EQ(p.rc, 0u);
  const std::vector<RecordName> names = {
      {4, bytes_of("abc")}, {0x104, bytes_of("xy")}, {0x04030201, bytes_of("a")}, {0, {}}, {0xC2, {'b'}}};
  EXPECT_EQ(p.read.names, names);
  EXPECT_EQ(std::vector<uint32_t>(p.read.dates, p.read.dates + 4),
            (std::vector<uint32_t>{0x586F6DAF, 2, 0, 0x586F6DAF}));
}

// host: the bufferSize of a block the host gives (0: none, one of 51 bytes
// is made); size: the block's bufferSize afterwards.
TEST(DataSetInfo, SizesTheBlockForItsExtension) {
  const struct { uint32_t host, length, rc, size; } cases[] = {
      {0, 0, 0, 51}, {0, 10, 0, 61}, {100, 50, 0, 100} /* in place */, {100, 51, 0, 102}, {0, 65484, 0, 65535},
      {0, 65485, HVDPUT_OVERFLOW, 0},        // beyond what a block of 65535 bytes holds
      {20, 0, HVDPUT_INVALID_PARAMETER, 0},  // a host block below the fixed part
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.host << " " << c.length);
    const std::string size = {static_cast<char>(c.length), static_cast<char>(c.length >> 8)};
    RecordInfo record;
    if (c.host != 0) {
      record.info.dataSetInfo = static_cast<HVDPDataSetInfo*>(std::calloc(1, std::max(c.host, 51u)));
      record.info.dataSetInfo->bufferSize = static_cast<uint16_t>(c.host);
    }
    const Parsed p =
        parse(section(HVDP_DATA_SET_INFO_ID, hex("81 EF FD 81") + size + std::string(c.length, 'e')), record);
    ASSERT_EQ(p.rc, c.rc);
    if (c.rc != 0) continue;
    EXPECT_EQ(record.info.dataSetInfo->bufferSize, c.size);
    EXPECT_EQ(p.read.dataSize, 48 + c.length);
    EXPECT_EQ(p.read.extension, std::vector<uint8_t>(c.length, 'e'));
  }
}

// The 0x813E field of a name buffer holding `names`: its image from the
// dataSize word on, with the count and the length word moved by the deltas.
std::string list_field(const std::vector<RecordName>& names, int countDelta = 0, int lengthDelta = 0) {
  RecordDescription d;
  d.names = names;
  RecordInfo record;
  EXPECT_EQ(prepare_record(d, record), 0u);
  const auto* image = reinterpret_cast<const char*>(record.info.nameBuffer);
  std::string data = names.empty() ? hex("04 00 00 00") : std::string(image + 2, record.info.nameBuffer->dataSize);
  data[2] = static_cast<char>(data[2] + countDelta);
  const auto word = static_cast<uint16_t>(data.size() + lengthDelta);
  data[0] = static_cast<char>(word);
  data[1] = static_cast<char>(word >> 8);
  return "81 3E 81 " + to_hex(std::string{static_cast<char>(data.size()), static_cast<char>(data.size() >> 8)}) +
         " " + to_hex(data);
}

// A stored name list replaces the names read before it; names after it are
// appended, also when the list moved the buffer. A refused length word leaves
// the names as they were; entries that do not lie within the image leave
// the buffer empty.
TEST(DataSetInfo, TakesAStoredNameListAndRefusesALyingOne) {
  const std::vector<RecordName> listed = {{0, bytes_of("one")}, {0x100, bytes_of("two")}}, kept = {{2, bytes_of("b")}};
  const RecordName a = {1, bytes_of("a")};
  const std::string after = " 11 01 01 12 02 61 00";
  std::vector<RecordName> big, big_a;
  for (int i = 0; i < 30; ++i) big.push_back({0, std::vector<uint8_t>(60, static_cast<uint8_t>('A' + i))});
  big_a = big;
  big_a.push_back(a);
  const struct { std::string members; uint32_t rc; std::vector<RecordName> names; } cases[] = {
      {list_field(listed), 0, listed},
      {list_field(listed) + after + after, 0, {listed[0], listed[1], a, a}},
      {list_field({}) + after, 0, {a}},
      {list_field(big) + after, 0, big_a},
      {list_field(listed, -1), 0, {listed[0]}},                             // fewer counted
      {list_field(listed, +1), HVDPUT_INVALID_PARAMETER, {}},               // count above the entries
      {list_field(listed, 0, -1), HVDPUT_INVALID_PARAMETER, {}},            // length word cutting an entry
      {"81 3E 04 04 00 01 09", HVDPUT_INVALID_PARAMETER, {}},               // header extra beyond the data
      {list_field(listed, 0, +1), HVDPUT_INVALID_PARAMETER, kept},          // length word beyond the field
      {"81 3E 04 03 00 00 00", HVDPUT_INVALID_PARAMETER, kept},             // length word below 4
      {"81 3E 01 09", HVDPUT_INVALID_PARAMETER, kept},                      // no length word
  };
  for (const auto& c : cases) {
    RecordInfo record;
    EXPECT_EQ(parse(info_section("11 01 02 12 02 62 00 " + c.members), record).rc, c.rc) << c.members;
    EXPECT_EQ(names_of(record.info.nameBuffer), c.names) << c.members;
  }
}

// State 2 adds one more section to the block, state 0 starts afresh and wants
// the opening field first; a section that does not close takes nothing.
TEST(DataSetInfo, FollowsItsStates) {
  const std::string value2 = info_section("81 F2 FD 02 00 00 00");
  RecordInfo record;
  ASSERT_EQ(parse(info_section("81 F2 FE 01 00 00 00"), record).rc, 0u);
  EXPECT_EQ(parse(value2, record, HVDP_STATE_DONE).read.values[0], 1u);
  EXPECT_EQ(parse(value2, record).read.values[0], 0u);
  const Parsed wrong = parse(hex("50 01 81 3F 00"), record);
  EXPECT_EQ(wrong.rc, HVDPUT_FIELD_ID_MISMATCH);
  EXPECT_EQ(wrong.consumed, 0u);
  const Parsed open = parse(hex("81 3F 02 A5 5A 50 01"), record, HVDP_STATE_DONE);
  EXPECT_EQ(open.rc, HVDPUT_BUFFER_UNDERFLOW);
  EXPECT_EQ(open.consumed, 0u);
}

// A section cut inside the extension's data or size bytes whose next buffer
// ends too soon: nothing taken, the saved start released, and the record's
// section lost for good.
TEST(DataSetInfo, LosesTheSectionWhenTheNextBufferIsShort) {
  const std::string whole = section(HVDP_DATA_SET_INFO_ID, hex("81 EF FD 81 2C 01") + std::string(300, 'w'));
  for (size_t cut : {7u, 10u, 100u}) {
    for (size_t short_by : {1u, 3u, 200u}) {
      RecordInfo record;
      record.info.headerLength = 29;
      ASSERT_EQ(parse(whole.substr(0, cut), record).read.state, HVDP_STATE_SAVED);
      const Parsed p = parse(whole.substr(cut, whole.size() - cut - short_by), record, kAsIs);
      EXPECT_EQ(p.rc, HVDPUT_BUFFER_UNDERFLOW) << cut << " " << short_by;
      EXPECT_EQ(p.consumed, 0u);
      EXPECT_EQ(p.read.state, HVDP_STATE_LOST);
      EXPECT_EQ(+record.info.savedData, nullptr);
      EXPECT_EQ(record.info.headerLength, 29 + cut);
      EXPECT_EQ(parse(whole, record, kAsIs).rc, HVDPUT_BUFFER_UNDERFLOW);
    }
  }
}

// An offset field that claims more than the section holds makes the walk
// save a section that is whole: completed from the copy alone when nothing
// follows its closing field there, refused when record data does (the host
// has moved past it). An offset beyond 32 bits is refused at once.
TEST(DataSetInfo, HandlesAnOffsetFieldThatOverstatesItsDistance) {
  for (const std::string& more : {std::string(), hex("0B 00")}) {
    RecordInfo record;
    EXPECT_EQ(parse(info_section("01 01 40 50 04") + more, record).read.state, HVDP_STATE_SAVED);
    const Parsed p = parse(hex("AA BB"), record, kAsIs);
    EXPECT_EQ(p.rc, more.empty() ? 0u : HVDPUT_INVALID_PARAMETER);
    EXPECT_EQ(p.consumed, 0u);  // nothing taken from the next buffer
    EXPECT_EQ(record.info.byteValue, 4u);
  }
  RecordInfo huge;
  EXPECT_EQ(parse(info_section("01 08 00 00 00 00 01 00 00 00"), huge).rc, HVDPUT_BUFFER_UNDERFLOW);
  EXPECT_EQ(+huge.info.savedData, nullptr);
}

// Extensions and names longer than the work area and any small window, read
// back at every split of the stream into two buffers.
TEST(DataSetInfo, ReadsBackLongRecordsAtEverySplit) {
  RecordDescription d;
  d.checkValues = true;
  d.values[0] = 0xDEADBEEF;
  d.dates[0] = 0x586F6DAF;
  d.extension.assign(5000, 0x3C);
  d.names = {{0, std::vector<uint8_t>(199, 'x')}, {0x202, std::vector<uint8_t>(280, 'y')}};
  std::vector<uint8_t> stream;
  ASSERT_EQ(write_record(d, stream), 0u);
  RecordInfo record;  // one description for every read, as hosts keep it
  const RecordRead whole = read_record(stream, stream.size(), record);
  EXPECT_TRUE(reads_back(d, whole, stream.size()));
  for (size_t split = 0; split < stream.size(); ++split) ASSERT_EQ(read_record(stream, split, record), whole) << split;
}

}  // namespace
}  // namespace dpxut::test
