// The data set information parser: fields into the description block and
// the name buffer, the states of a record, sections cut at every offset and
// completed from the next buffer, stored name lists, and hostile sections
// (short fields, lying lengths and counts, next buffers too short).
#include <dpxut.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sidf/header_test_support.h"
#include "sidf/hex.h"
#include "sidf/record_test_support.h"

namespace dpxut::test {
namespace {

constexpr uint32_t kInfo = 0x813F;

std::vector<uint8_t> info_section(const std::string& members) { return section(kInfo, hex(members)); }

// Parses `bytes` (an exact copy) in state 0 with a fresh description.
struct Parsed {
  uint32_t rc = 0;
  size_t consumed = 0;
  RecordRead read;
};
Parsed parse(const std::vector<uint8_t>& bytes, RecordInfo& record, uint32_t state = 0) {
  auto exact = exact_copy(bytes.data(), bytes.size());
  uint8_t* position = exact.get();
  auto size = static_cast<uint32_t>(bytes.size());
  record.info.state = state;
  Parsed p;
  p.rc = HVDPGetDataSetInfo(&position, &size, &record.info);
  p.consumed = static_cast<size_t>(position - exact.get());
  EXPECT_EQ(size, bytes.size() - p.consumed);
  take_description(record.info, p.read);
  return p;
}
Parsed parse(const std::vector<uint8_t>& bytes) {
  RecordInfo record;
  return parse(bytes, record);
}

std::vector<uint8_t> bytes_of(const char* text) { return {text, text + std::strlen(text) + 1}; }

TEST(DataSetInfo, FillsTheBlockAndNamesFromEachField) {
  const Parsed p = parse(info_section(
      "01 08 00 00 00 00 00 00 00 00"                                           // offset field, ignored
      " 81 F2 FE 01 00 00 00 81 F2 FA 05 00 00 00 81 F0 FE 22"                  // value1, value5, byte2
      " 11 01 04 12 04 61 62 63 00"                                             // name space 4: "abc"
      " 12 02 7A 00"                                                            // no name space: ignored
      " 11 02 04 01 12 03 78 79 00"                                             // 0x104: "xy"
      " 81 F2 F6 AF 6D 6F 58"                                                   // dateTime4, DOS form
      " 50 09"));                                                               // byte value
  ASSERT_EQ(p.rc, 0u);
  EXPECT_EQ(p.read.values[0], 1u);
  EXPECT_EQ(p.read.values[4], 5u);
  EXPECT_EQ(p.read.bytes[1], 0x22);
  EXPECT_EQ(p.read.dates[3], 0x586F6DAFu);
  EXPECT_EQ(p.read.byteValue, 9u);
  EXPECT_EQ(p.read.state, 2u);
  EXPECT_EQ(p.read.dataSize, 48u);
  const std::vector<RecordName> names = {{4, bytes_of("abc")}, {0x104, bytes_of("xy")}};
  EXPECT_EQ(p.read.names, names);
}

TEST(DataSetInfo, ReadsDatesFromStampsAndDosForms) {
  HVDPECMATimeStamp s{};
  HVDPDOSTimeToECMA(0x586F6DAF, &s);
  const std::string stamp = to_hex(reinterpret_cast<uint8_t*>(&s), 16);
  s.year = 1979;
  const std::string old_stamp = to_hex(reinterpret_cast<uint8_t*>(&s), 16);
  struct Case {
    std::string members;
    uint32_t dates[4];
  } cases[] = {
      {"44 " + stamp + " 74 " + stamp, {0x586F6DAF, 0, 0x586F6DAF, 0}},
      {"44 " + old_stamp, {0, 0, 0, 0}},  // before 1980: no date
      {"64 " + stamp + " 81 F2 F8 01 00 00 00", {0, 1, 0, 0}},  // the later field wins
      {"81 F2 F8 01 00 00 00 64 " + stamp, {0, 0x586F6DAF, 0, 0}},
      {"81 F2 F9 02 00 00 00 81 F2 F7 03 00 00 00 54 " + stamp, {2, 0, 3, 0x586F6DAF}},
  };
  for (const Case& c : cases) {
    const Parsed p = parse(info_section(c.members));
    ASSERT_EQ(p.rc, 0u) << c.members;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(p.read.dates[i], c.dates[i]) << c.members << " date " << i;
  }
}

TEST(DataSetInfo, GrowsTheBlockForItsExtension) {
  // A new block of 51 bytes grows to 61 for 10 bytes; dataSize 58.
  RecordInfo record;
  Parsed p = parse(info_section("81 EF FD 0A 00 01 02 03 04 05 06 07 08 09"), record);
  ASSERT_EQ(p.rc, 0u);
  EXPECT_EQ(record.info.dataSetInfo->bufferSize, 61u);
  EXPECT_EQ(p.read.dataSize, 58u);
  EXPECT_EQ(to_hex(p.read.extension), "00 01 02 03 04 05 06 07 08 09");

  // Without an extension the block stays at 51, dataSize 48.
  RecordInfo plain;
  p = parse(info_section("50 01"), plain);
  EXPECT_EQ(plain.info.dataSetInfo->bufferSize, 51u);
  EXPECT_EQ(p.read.dataSize, 48u);
  EXPECT_TRUE(p.read.extension.empty());

  // A host block of 100 bytes takes 50 in place, and grows for 51.
  for (uint32_t length : {50u, 51u}) {
    RecordInfo host;
    host.info.dataSetInfo = static_cast<HVDPDataSetInfo*>(std::calloc(1, 100));
    host.info.dataSetInfo->bufferSize = 100;
    const HVDPDataSetInfo* before = host.info.dataSetInfo;
    std::vector<uint8_t> members = {0x81, 0xEF, 0xFD, static_cast<uint8_t>(length)};
    members.insert(members.end(), length, 0x5A);
    p = parse(section(kInfo, members), host);
    ASSERT_EQ(p.rc, 0u);
    EXPECT_EQ(p.read.extension, std::vector<uint8_t>(length, 0x5A));
    if (length == 50) {
      EXPECT_EQ(val(host.info.dataSetInfo), before);
      EXPECT_EQ(host.info.dataSetInfo->bufferSize, 100u);
    } else {
      EXPECT_EQ(host.info.dataSetInfo->bufferSize, 102u);
    }
  }
}

TEST(DataSetInfo, RefusesWhatDoesNotFitItsBlocks) {
  // An extension longer than a block of 65535 bytes can take.
  std::vector<uint8_t> members = {0x81, 0xEF, 0xFD, 0x81, 0xCD, 0xFF};  // 65485 bytes
  members.insert(members.end(), 65485, 1);
  EXPECT_EQ(parse(section(kInfo, members)).rc, HVDPUT_OVERFLOW);
  members[4] = 0xCC;  // 65484 bytes fit
  members.pop_back();
  const Parsed p = parse(section(kInfo, members));
  EXPECT_EQ(p.rc, 0u);
  EXPECT_EQ(p.read.extension.size(), 65484u);

  // A host block that cannot even hold the fixed part.
  RecordInfo host;
  host.info.dataSetInfo = static_cast<HVDPDataSetInfo*>(std::calloc(1, 51));
  host.info.dataSetInfo->bufferSize = 20;
  EXPECT_EQ(parse(info_section("50 01"), host).rc, HVDPUT_INVALID_PARAMETER);
}

TEST(DataSetInfo, ReadsNoFieldBeyondItsData) {
  struct Case {
    const char* what;
    std::string members;
    uint32_t nameSpace;  // of the one name "a"
  } cases[] = {
      {"name space in two bytes", "11 02 04 01 12 02 61 00", 0x104},
      {"name space in six bytes", "11 06 01 02 03 04 05 06 12 02 61 00", 0x04030201},
      {"empty name space", "11 00 12 02 61 00", 0},
      {"embedded name space", "11 C2 12 02 61 00", 0xC2},
  };
  for (const Case& c : cases) {
    const Parsed p = parse(info_section(c.members));
    ASSERT_EQ(p.rc, 0u) << c.what;
    ASSERT_EQ(p.read.names.size(), 1u) << c.what;
    EXPECT_EQ(p.read.names[0].nameSpace, c.nameSpace) << c.what;
  }
  // An empty name is kept as an empty entry.
  const Parsed empty = parse(info_section("11 01 00 12 00"));
  ASSERT_EQ(empty.rc, 0u);
  ASSERT_EQ(empty.read.names.size(), 1u);
  EXPECT_TRUE(empty.read.names[0].bytes.empty());
}

// ---------------------------------------------------------------------------
// Stored name lists (0x813E).

// The 0x813E field of a name buffer holding `names`: its image from the
// dataSize word on.
std::string list_field(const std::vector<RecordName>& names, int countDelta = 0, int lengthDelta = 0) {
  RecordDescription d;
  d.names = names;
  RecordInfo record;
  EXPECT_EQ(prepare_record(d, record), 0u);
  uint8_t empty[6] = {6, 0, 4, 0, 0, 0};
  auto* image = names.empty() ? empty : reinterpret_cast<uint8_t*>(record.info.nameBuffer);
  const uint16_t dataSize = static_cast<uint16_t>(image[2] | image[3] << 8);
  std::vector<uint8_t> data(image + 2, image + 2 + dataSize);
  data[2] = static_cast<uint8_t>(data[2] + countDelta);
  const auto word = static_cast<uint16_t>(dataSize + lengthDelta);
  data[0] = static_cast<uint8_t>(word);
  data[1] = static_cast<uint8_t>(word >> 8);
  std::vector<uint8_t> field = {0x81, 0x3E, 0x81, static_cast<uint8_t>(data.size()),
                                static_cast<uint8_t>(data.size() >> 8)};
  field.insert(field.end(), data.begin(), data.end());
  return to_hex(field);
}

TEST(DataSetInfo, TakesAStoredNameListAndAppendsLaterNames) {
  const std::vector<RecordName> listed = {{0, bytes_of("one")}, {0x100, bytes_of("two")}};
  const std::string before = "11 01 02 12 02 62 00 ";
  const std::string after = " 11 01 01 12 02 61 00";
  std::vector<RecordName> big;
  for (int i = 0; i < 30; ++i) big.push_back({0, std::vector<uint8_t>(60, static_cast<uint8_t>('A' + i))});
  std::vector<RecordName> big_and_a = big;
  big_and_a.push_back({1, bytes_of("a")});
  struct Case {
    const char* what;
    std::string members;
    std::vector<RecordName> names;
  } cases[] = {
      {"list alone", list_field(listed), listed},
      {"list replaces earlier names", before + list_field(listed), listed},
      {"names after the list are appended", list_field(listed) + after,
       {listed[0], listed[1], {1, bytes_of("a")}}},
      {"both", before + list_field(listed) + after + after, {listed[0], listed[1], {1, bytes_of("a")}, {1, bytes_of("a")}}},
      {"empty list", list_field({}) + after, {{1, bytes_of("a")}}},
      // A list larger than the block the names so far are in moves it
      // while the parse was writing there.
      {"list that moves the buffer", before + list_field(big) + after, big_and_a},
  };
  for (const Case& c : cases) {
    RecordInfo record;
    const Parsed p = parse(info_section(c.members), record);
    ASSERT_EQ(p.rc, 0u) << c.what;
    EXPECT_EQ(p.read.names, c.names) << c.what;
  }
}

TEST(DataSetInfo, RefusesALyingNameList) {
  const std::vector<RecordName> listed = {{0, bytes_of("one")}, {0x100, bytes_of("two")}};
  // A refused length word leaves the names as they were; entries that do
  // not lie within the image leave the buffer empty.
  struct Case {
    const char* what;
    std::string field;
    uint32_t rc;
    size_t names;
  } cases[] = {
      {"count above the entries", list_field(listed, +1), HVDPUT_INVALID_PARAMETER, 0},
      {"length word cutting an entry", list_field(listed, 0, -1), HVDPUT_INVALID_PARAMETER, 0},
      {"header extra beyond the data", "81 3E 04 04 00 01 09", HVDPUT_INVALID_PARAMETER, 0},
      {"length word beyond the field", list_field(listed, 0, +1), HVDPUT_INVALID_PARAMETER, 1},
      {"length word below 4", "81 3E 04 03 00 00 00", HVDPUT_INVALID_PARAMETER, 1},
      {"no length word", "81 3E 01 09", HVDPUT_INVALID_PARAMETER, 1},
      {"empty", "81 3E 00", HVDPUT_INVALID_PARAMETER, 1},
      {"fewer entries counted", list_field(listed, -1), 0, 1},  // the first one is read
  };
  for (const Case& c : cases) {
    RecordInfo record;
    const Parsed p = parse(info_section("11 01 02 12 02 62 00 " + c.field), record);
    EXPECT_EQ(p.rc, c.rc) << c.what;
    EXPECT_EQ(names_of(record.info.nameBuffer).size(), c.names) << c.what;
  }
}

TEST(DataSetInfo, UnpacksAListIntoABufferOfTheRightSize) {
  HVDPNameBuffer* buffer = nullptr;
  const std::vector<uint8_t> list = hex("04 00 00 00");
  ASSERT_EQ(SIDFUnpackNameList(&buffer, list.data()), 0u);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(buffer->bufferSize, 1028u);
  EXPECT_EQ(buffer->dataSize, 4u);
  // A list the block holds is unpacked in place.
  HVDPNameBuffer* kept = buffer;
  ASSERT_EQ(SIDFUnpackNameList(&buffer, list.data()), 0u);
  EXPECT_EQ(buffer, kept);
  const std::vector<uint8_t> short_word = hex("03 00 00 00");
  EXPECT_EQ(SIDFUnpackNameList(&buffer, short_word.data()), HVDPUT_INVALID_PARAMETER);
  std::free(buffer);
}

// ---------------------------------------------------------------------------
// States, accounting and sections over two buffers.

TEST(DataSetInfo, ConsumesExactlyTheSectionAndCountsIt) {
  std::vector<uint8_t> bytes = info_section("50 03");
  const size_t length = bytes.size();
  bytes.insert(bytes.end(), {0xDD, 0xEE});  // the record's data follows
  for (uint32_t recordLength : {100u, 3u}) {
    RecordInfo record;
    record.info.headerLength = 29;
    record.info.recordLength = recordLength;
    const Parsed p = parse(bytes, record);
    ASSERT_EQ(p.rc, 0u);
    EXPECT_EQ(p.consumed, length);
    EXPECT_EQ(record.info.headerLength, 29 + length);
    // A section longer than the record's length leaves no record bytes.
    EXPECT_EQ(record.info.recordLength, recordLength > length ? recordLength - length : 0);
  }
}

TEST(DataSetInfo, FollowsItsStates) {
  const std::vector<uint8_t> bytes = info_section("81 F2 FD 02 00 00 00");
  // State 3: a short header's record: nothing read, nothing consumed.
  RecordInfo none;
  none.info.headerLength = 14;
  Parsed p = parse(bytes, none, HVDP_STATE_NO_SECTION);
  EXPECT_EQ(p.rc, 0u);
  EXPECT_EQ(p.consumed, 0u);
  EXPECT_EQ(none.info.headerLength, 14u);
  EXPECT_EQ(val(none.info.dataSetInfo), nullptr);

  // State 2 reads one more section without resetting the block.
  RecordInfo record;
  ASSERT_EQ(parse(info_section("81 F2 FE 01 00 00 00"), record).rc, 0u);
  p = parse(bytes, record, HVDP_STATE_DONE);
  ASSERT_EQ(p.rc, 0u);
  EXPECT_EQ(p.read.values[0], 1u);
  EXPECT_EQ(p.read.values[1], 2u);
  // State 0 starts afresh.
  p = parse(bytes, record, HVDP_STATE_NEW_SECTION);
  EXPECT_EQ(p.read.values[0], 0u);
  EXPECT_EQ(p.read.values[1], 2u);

  // State 0 wants the opening field first.
  p = parse(hex("50 01 81 3F 00"), record, HVDP_STATE_NEW_SECTION);
  EXPECT_EQ(p.rc, HVDPUT_FIELD_ID_MISMATCH);
  EXPECT_EQ(p.consumed, 0u);

  // A section that does not close, read in state 2: nothing consumed.
  p = parse(hex("81 3F 02 A5 5A 50 01"), record, HVDP_STATE_DONE);
  EXPECT_EQ(p.rc, HVDPUT_BUFFER_UNDERFLOW);
  EXPECT_EQ(p.consumed, 0u);
}

// Feeds `first` then `second` as the two buffers of one section.
struct TwoCalls {
  uint32_t rc1 = 0, state1 = 0, rc2 = 0, state2 = 0;
  size_t consumed1 = 0, consumed2 = 0;
};
TwoCalls two_calls(const std::vector<uint8_t>& first, const std::vector<uint8_t>& second, RecordInfo& record) {
  TwoCalls t;
  record.info.state = 0;
  auto a = exact_copy(first.data(), first.size());
  auto b = exact_copy(second.data(), second.size());
  uint8_t* position = a.get();
  auto size = static_cast<uint32_t>(first.size());
  t.rc1 = HVDPGetDataSetInfo(&position, &size, &record.info);
  t.state1 = record.info.state;
  t.consumed1 = static_cast<size_t>(position - a.get());
  position = b.get();
  size = static_cast<uint32_t>(second.size());
  t.rc2 = HVDPGetDataSetInfo(&position, &size, &record.info);
  t.state2 = record.info.state;
  t.consumed2 = static_cast<size_t>(position - b.get());
  return t;
}

TEST(DataSetInfo, SavesASectionCutInsideItsOpeningField) {
  const std::vector<uint8_t> whole = info_section("50 05");
  for (size_t cut : {0u, 1u, 2u, 3u, 4u}) {
    RecordInfo record;
    record.info.recordLength = static_cast<uint32_t>(whole.size());
    const std::vector<uint8_t> first(whole.begin(), whole.begin() + cut), second(whole.begin() + cut, whole.end());
    const TwoCalls t = two_calls(first, second, record);
    EXPECT_EQ(t.rc1, 0u) << cut;
    EXPECT_EQ(t.state1, HVDP_STATE_SAVED) << cut;
    EXPECT_EQ(t.consumed1, cut);
    EXPECT_EQ(t.rc2, 0u) << cut;
    EXPECT_EQ(t.state2, HVDP_STATE_DONE);
    EXPECT_EQ(t.consumed2, whole.size() - cut);
    EXPECT_EQ(record.info.byteValue, 5u);
    EXPECT_EQ(record.info.headerLength, whole.size());
    EXPECT_EQ(record.info.recordLength, 0u);
    EXPECT_EQ(val(record.info.savedData), nullptr);
  }
}

TEST(DataSetInfo, CompletesALongFieldCutFarIntoIt) {
  // A 300-byte extension cut after 200 of its bytes: 204 bytes of the field
  // are in the saved copy, far more than a 26-byte window.
  std::vector<uint8_t> members = {0x81, 0xEF, 0xFD, 0x81, 0x2C, 0x01};
  for (int i = 0; i < 300; ++i) members.push_back(static_cast<uint8_t>(i));
  members.insert(members.end(), {0x50, 0x06});
  const std::vector<uint8_t> whole = section(kInfo, members);
  const size_t cut = 5 + 6 + 200;
  RecordInfo record;
  const TwoCalls t = two_calls({whole.begin(), whole.begin() + cut}, {whole.begin() + cut, whole.end()}, record);
  ASSERT_EQ(t.rc1, 0u);
  ASSERT_EQ(t.rc2, 0u);
  RecordRead r;
  take_description(record.info, r);
  ASSERT_EQ(r.extension.size(), 300u);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(r.extension[i], static_cast<uint8_t>(i));
  EXPECT_EQ(r.byteValue, 6u);
}

TEST(DataSetInfo, FailsCleanlyWhenTheNextBufferIsShort) {
  std::vector<uint8_t> members = {0x81, 0xEF, 0xFD, 0x81, 0x2C, 0x01};
  members.insert(members.end(), 300, 0x77);
  const std::vector<uint8_t> whole = section(kInfo, members);
  // Cut inside the extension's data, and inside its size bytes; the next
  // buffer ends before the field (or before the closing field) does.
  for (size_t cut : {7u, 10u, 100u}) {
    for (size_t short_by : {1u, 3u, 200u}) {
      RecordInfo record;
      record.info.headerLength = 29;
      const std::vector<uint8_t> first(whole.begin(), whole.begin() + cut);
      const std::vector<uint8_t> second(whole.begin() + cut, whole.end() - short_by);
      const TwoCalls t = two_calls(first, second, record);
      EXPECT_EQ(t.rc1, 0u);
      EXPECT_EQ(t.rc2, HVDPUT_BUFFER_UNDERFLOW) << cut << " " << short_by;
      EXPECT_EQ(t.consumed2, 0u);
      // The saved start is gone; the record's section can no longer be read.
      EXPECT_EQ(t.state2, HVDP_STATE_LOST);
      EXPECT_EQ(val(record.info.savedData), nullptr);
      EXPECT_EQ(record.info.headerLength, 29 + cut);
      uint8_t* position = const_cast<uint8_t*>(whole.data());
      auto size = static_cast<uint32_t>(whole.size());
      EXPECT_EQ(HVDPGetDataSetInfo(&position, &size, &record.info), HVDPUT_BUFFER_UNDERFLOW);
      EXPECT_EQ(position, whole.data());
    }
  }
}

TEST(DataSetInfo, HandlesAnOffsetFieldThatOverstatesItsDistance) {
  // The offset claims 0x40 bytes to the closing field, so the walk saves
  // the section although it is whole in the first buffer.
  const std::vector<uint8_t> whole = info_section("01 01 40 50 04");
  RecordInfo record;
  TwoCalls t = two_calls(whole, hex("AA BB"), record);
  EXPECT_EQ(t.state1, HVDP_STATE_SAVED);
  EXPECT_EQ(t.rc2, 0u);  // closes at the copy's very end: nothing taken from the next buffer
  EXPECT_EQ(t.consumed2, 0u);
  EXPECT_EQ(record.info.byteValue, 4u);

  // With bytes after the closing field in the first buffer, the host has
  // already moved past them: refused.
  std::vector<uint8_t> more = whole;
  more.insert(more.end(), {0x0B, 0x00});
  RecordInfo other;
  t = two_calls(more, hex("AA BB"), other);
  EXPECT_EQ(t.state1, HVDP_STATE_SAVED);
  EXPECT_EQ(t.rc2, HVDPUT_INVALID_PARAMETER);

  // An offset beyond 32 bits is refused at once.
  RecordInfo huge;
  const Parsed p = parse(info_section("01 08 00 00 00 00 01 00 00 00"), huge);
  EXPECT_EQ(p.rc, HVDPUT_BUFFER_UNDERFLOW);
  EXPECT_EQ(val(huge.info.savedData), nullptr);
}

TEST(DataSetInfo, WalksASectionToItsClosingField) {
  const std::vector<uint8_t> whole = info_section("01 01 02 50 04 50 05");  // jumps over "50 04"
  for (size_t cut = 0; cut <= whole.size(); ++cut) {
    RecordInfo record;
    EXPECT_EQ(GetEntireDataSetInfo(whole.data(), static_cast<uint32_t>(cut), &record.info), 0u);
    const bool saved = cut < whole.size();
    EXPECT_EQ(record.info.savedData != nullptr, saved) << cut;
    EXPECT_EQ(record.info.savedLength, saved ? cut : 0) << cut;
    if (saved) {
      EXPECT_EQ(std::memcmp(record.info.savedData, whole.data(), cut), 0);
    }
  }
}

TEST(DataSetInfo, ReleasesACopyLeftOverWhenANewRecordStarts) {
  // One description for every record, as a restore program keeps it: a
  // record whose section was saved and never completed is followed by new
  // records; the copy must not leak (the leak checker watches).
  RecordInfo record;
  const std::vector<uint8_t> whole = info_section("50 01");
  std::vector<uint8_t> cut(whole.begin(), whole.begin() + 4);
  uint8_t* position = cut.data();
  uint32_t size = 4;
  record.info.state = 0;
  ASSERT_EQ(HVDPGetDataSetInfo(&position, &size, &record.info), 0u);
  ASSERT_NE(val(record.info.savedData), nullptr);
  record.info.state = 0;  // as HVDPGetRecordHeaderOnly sets it for the next record
  const Parsed p = parse(whole, record);
  EXPECT_EQ(p.rc, 0u);
  EXPECT_EQ(val(record.info.savedData), nullptr);
  EXPECT_EQ(record.info.savedLength, 0u);
}

// ---------------------------------------------------------------------------
// Round trips: records written by the library read back equal, in one
// buffer and split at every offset.

std::vector<uint8_t> wide_name(const std::u32string& text) {
  std::vector<uint8_t> out(text.size() * 4);
  std::memcpy(out.data(), text.data(), out.size());
  return out;
}

std::vector<RecordDescription> descriptions() {
  std::vector<RecordDescription> out;
  out.emplace_back();  // empty
  RecordDescription d;
  d.values[0] = 0xDEADBEEF;
  d.values[4] = 7;
  d.bytes[2] = 0xFF;
  d.dates[0] = 0x586F6DAF;
  d.dates[3] = 0x00210000;
  d.byteValue = 0x80;
  d.extension = {1, 2, 3};
  d.names = {{0, bytes_of("VOL:dir/file")}, {0x100, bytes_of("dir/f\xC3\xA9")}, {0x204, wide_name(U"wide\u00e9")}};
  out.push_back(d);
  d.checkValues = true;
  out.push_back(d);
  RecordDescription many;
  for (uint32_t i = 0; i < 12; ++i)
    many.names.push_back({i % 3 == 2 ? 0x200u + i : i, i % 3 == 2 ? wide_name(U"w") : bytes_of("n")});
  out.push_back(many);
  RecordDescription longs;
  longs.extension.assign(5000, 0x3C);  // longer than the work area
  longs.names = {{0, std::vector<uint8_t>(199, 'x')}, {0x202, wide_name(std::u32string(70, U'y'))}};
  longs.checkValues = true;
  out.push_back(longs);
  RecordDescription shorts;
  shorts.shortHeader = true;
  out.push_back(shorts);
  // Generated ones.
  std::mt19937 rng(1234);
  for (int k = 0; k < 6; ++k) {
    RecordDescription g;
    for (auto& v : g.values) v = rng();
    for (auto& b : g.bytes) b = static_cast<uint8_t>(rng());
    for (auto& t : g.dates) t = rng() % 3 == 0 ? 0 : rng() | 1;
    g.byteValue = static_cast<uint8_t>(rng());
    g.checkValues = rng() % 2;
    g.extension.resize(rng() % 400);
    for (auto& e : g.extension) e = static_cast<uint8_t>(rng());
    const int count = static_cast<int>(rng() % 13);
    for (int i = 0; i < count; ++i) {
      static const uint32_t kSpaces[] = {0, 1, 2, 4, 0x100, 0x101, 0x104, 0x200, 0x201, 0x204, 7, 0x12345};
      RecordName n{kSpaces[rng() % 12], {}};
      const size_t length = rng() % 40;
      for (size_t j = 0; j < length; ++j) n.bytes.push_back(static_cast<uint8_t>(rng() % 255 + 1));
      if (n.nameSpace >= 0x200 && n.nameSpace <= 0x204) n.bytes.resize(n.bytes.size() / 4 * 4);
      g.names.push_back(n);
    }
    out.push_back(g);
  }
  return out;
}

TEST(DataSetInfoRoundTrip, ReadsBackWhatWasWrittenAtEverySplit) {
  int index = 0;
  for (const RecordDescription& d : descriptions()) {
    SCOPED_TRACE(index++);
    std::vector<uint8_t> stream;
    ASSERT_EQ(write_record(d, stream), 0u);
    RecordInfo record;
    const RecordRead whole = read_record(stream, stream.size(), record);
    ASSERT_EQ(whole.rc, 0u);
    EXPECT_TRUE(reads_back(d, whole, stream.size()));
    EXPECT_EQ(whole.names, d.shortHeader ? std::vector<RecordName>{} : expected_names(d));
    // The same description record reused for every read, as hosts do.
    for (size_t split = 0; split < stream.size(); ++split) {
      const RecordRead r = read_record(stream, split, record);
      ASSERT_EQ(r, whole) << "split at " << split;
    }
  }
}

TEST(DataSetInfoRoundTrip, SurvivesCorruptedRecords) {
  // Records the library wrote, with bytes flipped at random: whatever the
  // reader makes of them, it reads nothing outside its buffers (the
  // sanitizers watch) and leaves a description that walks cleanly.
  std::mt19937 rng(99);
  const std::vector<RecordDescription> all = descriptions();
  for (int round = 0; round < 400; ++round) {
    std::vector<uint8_t> stream;
    ASSERT_EQ(write_record(all[rng() % all.size()], stream), 0u);
    for (int flips = static_cast<int>(rng() % 4) + 1; flips > 0; --flips)
      stream[rng() % stream.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    RecordInfo record;
    const RecordRead r = read_record(stream, rng() % (stream.size() + 1), record);
    if (r.rc == 0) {
      EXPECT_LE(r.consumed, stream.size());
    }
  }
}

}  // namespace
}  // namespace dpxut::test
