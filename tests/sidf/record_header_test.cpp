// Record headers: the writer byte for byte (full and short headers, check
// values recomputed here bit by bit, names, dates, extension forms), the
// update, failures that leave the caller's position alone, and the reader of
// the first section with the sections it skips.
#include <dpxut.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sidf/hex.h"
#include "sidf/record_test_support.h"

namespace dpxut::test {
namespace {

// CRC-32 register over bytes, bit by bit (reflected 0xEDB88320, started at
// 0xFFFFFFFF, no final inversion): what a stored check value must be.
uint32_t reference_check(const uint8_t* p, size_t n) {
  uint32_t reg = 0xFFFFFFFF;
  for (size_t i = 0; i < n; ++i) {
    reg ^= p[i];
    for (int bit = 0; bit < 8; ++bit) reg = (reg >> 1) ^ (0xEDB88320u & (0u - (reg & 1u)));
  }
  return reg;
}
uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

std::string stamp_hex(const HVDPRecordHeaderInfo& info) {
  return to_hex(reinterpret_cast<const uint8_t*>(&info.timeStamp), 16);
}

struct Written {
  uint32_t rc = 0;
  std::vector<uint8_t> bytes;
  uint32_t counter = 0;
};

// Writes `d` into a buffer of `capacity` bytes (filled with AB) through
// `record`, without the update.
Written write_into(const RecordDescription& d, RecordInfo& record, size_t capacity = 4096) {
  Written w;
  EXPECT_EQ(prepare_record(d, record), 0u);
  w.bytes.assign(capacity, 0xAB);
  uint8_t* position = w.bytes.data();
  auto size = static_cast<uint32_t>(capacity);
  w.counter = 5;  // the caller's running count goes on from where it stood
  w.rc = HVDPSetNewRecordHeader(&position, &size, &w.counter, d.checkValues, &record.info);
  if (w.rc == 0) {
    EXPECT_EQ(position - w.bytes.data(), static_cast<ptrdiff_t>(w.counter - 5));
    EXPECT_EQ(size, capacity - (w.counter - 5));
    w.bytes.resize(w.counter - 5);
  }
  return w;
}

// The worked example: no names, no dates, no extension, byte value 7.
constexpr const char* kExampleSecond =
    "81 3F 02 A5 5A"             // head 0x813F
    " 01 08 35 00 00 00 00 00 00 00"  // offset field: 53 bytes to the closing field
    " 81 F2 FE 00 00 00 00  81 F2 FD 00 00 00 00  81 F2 FC 00 00 00 00"
    " 81 F2 FB 00 00 00 00  81 F2 FA 00 00 00 00"  // value1..value5
    " 81 F0 FF 00  81 F0 FE 00  81 F0 FD 00"        // byte1..byte3
    " 81 EF FD 00"                                   // empty extension
    " 50 07";                                        // byte value

TEST(RecordHeader, WritesTheWorkedExampleByteForByte) {
  RecordDescription d;
  d.byteValue = 7;
  RecordInfo record;
  Written w = write_into(d, record);
  ASSERT_EQ(w.rc, 0u);
  const HVDPRecordHeaderInfo& info = record.info;
  EXPECT_EQ(info.recordLength, 71u);
  EXPECT_EQ(info.headerLength, 100u);
  EXPECT_EQ(w.counter, 105u);
  EXPECT_EQ(val(info.checkValueLocation), nullptr);
  const std::string first = "09 02 A5 5A 54 " + stamp_hex(info) + " 0B 04 00 00 01 00 09 00";
  EXPECT_EQ(to_hex(w.bytes), first + " " + std::string(to_hex(hex(kExampleSecond))) + " 81 3F 00");

  // The host writes 1000 data bytes and updates the length in place: 1071.
  record.info.recordLength += 1000;
  EXPECT_EQ(HVDPUpdateRecordHeader(&record.info), 0u);
  EXPECT_EQ(to_hex(info.recordLengthLocation, 4), "2F 04 00 00");
  EXPECT_EQ(val(info.recordLengthLocation), w.bytes.data() + 23);

  // The stamp is the present time with this server's zone.
  uint32_t unix_time = 0;
  int32_t zone = 0;
  EXPECT_EQ(HVDPECMAToUnixTime(&info.timeStamp, &unix_time, &zone), 0u);
  EXPECT_LE(static_cast<int64_t>(std::time(nullptr)) - unix_time, 5);
  EXPECT_EQ(info.timeStamp.typeAndTimeZone >> 12, 1);
}

TEST(RecordHeader, ClosesBothSectionsWithCheckValues) {
  RecordDescription d;
  d.byteValue = 7;
  d.checkValues = true;
  RecordInfo record;
  Written w = write_into(d, record);
  ASSERT_EQ(w.rc, 0u);
  const HVDPRecordHeaderInfo& info = record.info;
  // First section: 4 + 17 + 6 + 6 bytes, closing field reserved as FF.
  EXPECT_EQ(to_hex(w.bytes.data() + 27, 6), "09 04 FF FF FF FF");
  EXPECT_EQ(val(info.checkStart), w.bytes.data());
  EXPECT_EQ(info.checkLength, 27u);
  EXPECT_EQ(val(info.checkValueLocation), w.bytes.data() + 29);
  // Second section: the example's members, closed by 81 3F 04 and the check
  // value of everything before its closing field.
  const std::vector<uint8_t> members = hex(kExampleSecond);
  ASSERT_EQ(w.bytes.size(), 33 + members.size() + 7);
  EXPECT_EQ(to_hex(w.bytes.data() + 33, members.size()), to_hex(members));
  const uint8_t* closing = w.bytes.data() + 33 + members.size();
  EXPECT_EQ(to_hex(closing, 3), "81 3F 04");
  EXPECT_EQ(le32(closing + 3), reference_check(w.bytes.data() + 33, members.size()));
  EXPECT_EQ(info.recordLength, members.size() + 7);

  // The update stores the length first, then the check value over head,
  // stamp and length field.
  record.info.recordLength = 0x12345;
  HVDPUpdateRecordHeader(&record.info);
  EXPECT_EQ(to_hex(w.bytes.data() + 21, 6), "0B 04 45 23 01 00");
  EXPECT_EQ(le32(w.bytes.data() + 29), reference_check(w.bytes.data(), 27));
  EXPECT_NE(le32(w.bytes.data() + 29), reference_check(w.bytes.data(), 33));
}

TEST(RecordHeader, WritesShortHeadersWithAndWithoutCheckValues) {
  for (bool checks : {false, true}) {
    RecordDescription d;
    d.shortHeader = true;
    d.checkValues = checks;
    d.byteValue = 9;  // not written: a short header has no second section
    d.names = {{0, {'a', 'b'}}};
    RecordInfo record;
    Written w = write_into(d, record);
    ASSERT_EQ(w.rc, 0u);
    EXPECT_EQ(record.info.recordLength, 0u);
    if (!checks) {
      EXPECT_EQ(to_hex(w.bytes), "80 01 02 A5 5A 0B 04 00 00 01 00 80 01 00");
      EXPECT_EQ(val(record.info.checkValueLocation), nullptr);
    } else {
      EXPECT_EQ(to_hex(w.bytes), "80 01 02 A5 5A 0B 04 00 00 01 00 80 01 04 FF FF FF FF");
      EXPECT_EQ(record.info.checkLength, 11u);
    }
    EXPECT_EQ(record.info.headerLength, w.bytes.size());
    record.info.recordLength += 500;
    HVDPUpdateRecordHeader(&record.info);
    EXPECT_EQ(to_hex(w.bytes.data() + 7, 4), "F4 01 00 00");
    if (checks) {
      EXPECT_EQ(le32(w.bytes.data() + 14), reference_check(w.bytes.data(), 11));
    }
  }
}

// The second section's bytes after the byte value field, up to its closing
// field (without check values): the name pairs.
std::string name_fields(const std::vector<RecordName>& names) {
  RecordDescription d;
  d.names = names;
  RecordInfo record;
  Written w = write_into(d, record, 1 << 20);
  EXPECT_EQ(w.rc, 0u);
  const size_t start = 29 + 68;  // first section, example members up to "50 00"
  return to_hex(w.bytes.data() + start, w.bytes.size() - start - 3);
}

TEST(RecordHeader, WritesNamePairs) {
  const std::vector<uint8_t> wide_ab = {'A', 0, 0, 0, 'B', 0, 0, 0};
  struct Case {
    std::vector<RecordName> names;
    std::string fields;
  } cases[] = {
      {{}, ""},
      {{{0, {'a', 'b'}}}, "11 01 00 12 03 61 62 00"},
      // Name space 0x104: two bytes; 0x10000: four.
      {{{0x104, {'x'}}, {0x10000, {'y'}}}, "11 02 04 01 12 02 78 00 11 04 00 00 01 00 12 02 79 00"},
      // A byte name ends at its first zero byte.
      {{{4, {'a', 0, 'b'}}}, "11 01 04 12 02 61 00"},
      // A wide name is written whole, with a wide terminator.
      {{{0x204, wide_ab}}, "11 02 04 02 12 0C 41 00 00 00 42 00 00 00 00 00 00 00"},
      {{{0x101, {}}}, "11 02 01 01 12 01 00"},
  };
  for (const Case& c : cases) EXPECT_EQ(name_fields(c.names), c.fields);

  // A name of 200 bytes with its zero takes the automatic size form 80 C8.
  const std::string fields = name_fields({{0, std::vector<uint8_t>(199, 'n')}});
  EXPECT_EQ(fields.substr(0, 3 * 5), "11 01 00 12 80 ");
  EXPECT_EQ(fields.substr(3 * 5, 2), "C8");
}

TEST(RecordHeader, WritesTenOfTwelveNames) {
  RecordDescription d;
  for (uint8_t i = 0; i < 12; ++i) d.names.push_back({i, {static_cast<uint8_t>('a' + i)}});
  std::string expected;
  for (uint8_t i = 0; i < 10; ++i) {
    char pair[40];
    std::snprintf(pair, sizeof pair, "%s11 01 %02X 12 02 %02X 00", i ? " " : "", i, 'a' + i);
    expected += pair;
  }
  EXPECT_EQ(name_fields(d.names), expected);
}

TEST(RecordHeader, WritesDatesThatAreSetAndTheExtensionInItsSizeForm) {
  RecordDescription d;
  d.dates[1] = 0x586F6DAF;  // 2024-03-15 13:45:30
  d.dates[3] = 0x00210000;  // 1980-01-01 00:00:00
  d.extension.assign(300, 0xEE);
  RecordInfo record;
  Written w = write_into(d, record);
  ASSERT_EQ(w.rc, 0u);
  const std::string all = to_hex(w.bytes);
  HVDPECMATimeStamp s2{}, s4{};
  HVDPDOSTimeToECMA(d.dates[1], &s2);
  HVDPDOSTimeToECMA(d.dates[3], &s4);
  const std::string dates = "64 " + to_hex(reinterpret_cast<uint8_t*>(&s2), 16) + " 54 " +
                            to_hex(reinterpret_cast<uint8_t*>(&s4), 16);
  EXPECT_NE(all.find("81 F0 FD 00 " + dates + " 81 EF FD 81 2C 01 EE EE"), std::string::npos) << all;
  EXPECT_EQ(all.find(" 44 "), std::string::npos);

  for (size_t length : {127u, 128u}) {
    RecordDescription e;
    e.extension.assign(length, 0x11);
    RecordInfo r;
    Written x = write_into(e, r);
    ASSERT_EQ(x.rc, 0u);
    EXPECT_NE(to_hex(x.bytes).find(length == 127 ? "81 EF FD 7F 11" : "81 EF FD 80 80 11"), std::string::npos);
  }
}

TEST(RecordHeader, RefusesAnExtensionBeyondItsBlock) {
  RecordDescription d;
  d.extension.assign(20, 1);
  RecordInfo record;
  ASSERT_EQ(prepare_record(d, record), 0u);
  record.info.dataSetInfo->bufferSize = 60;  // claims 20 bytes of extension in room for 10
  std::vector<uint8_t> out(512);
  uint8_t* position = out.data();
  uint32_t size = 512, counter = 0;
  EXPECT_EQ(HVDPSetNewRecordHeader(&position, &size, &counter, 0, &record.info), HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(position, out.data());
  EXPECT_EQ(counter, 0u);
}

TEST(RecordHeader, LeavesPositionSizeAndCounterOnOverflow) {
  RecordDescription d;
  d.checkValues = true;
  d.names = {{0, {'a', 'b', 'c'}}, {0x201, {'w', 0, 0, 0}}};
  d.extension.assign(40, 3);
  std::vector<uint8_t> whole;
  ASSERT_EQ(write_record(d, whole), 0u);
  for (bool shortHeader : {false, true}) {
    d.shortHeader = shortHeader;
    const size_t length = shortHeader ? 18 : whole.size();
    for (size_t capacity = 0; capacity < length; ++capacity) {
      RecordInfo record;
      ASSERT_EQ(prepare_record(d, record), 0u);
      std::vector<uint8_t> out(capacity + 1);
      uint8_t* position = out.data();
      auto size = static_cast<uint32_t>(capacity);
      uint32_t counter = 77;
      EXPECT_EQ(HVDPSetNewRecordHeader(&position, &size, &counter, 1, &record.info), HVDPUT_OVERFLOW) << capacity;
      EXPECT_EQ(position, out.data());
      EXPECT_EQ(size, capacity);
      EXPECT_EQ(counter, 77u);
      EXPECT_EQ(out[capacity], 0) << "wrote past the buffer";
    }
  }
}

// ---------------------------------------------------------------------------
// Reading the first section.

struct ReadCase {
  const char* what;
  std::string bytes;
  uint32_t rc;
  size_t consumed;
  uint32_t shortHeader, recordLength, headerLength, state;
};

constexpr const char* kStamp = "01 10 E8 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00";  // 2024-03-15 13:45:30

TEST(RecordHeaderReader, ReadsFirstSectionsAndSkipsWhatComesBefore) {
  const std::string full = std::string("09 02 A5 5A 54 ") + kStamp + " 0B 04 47 00 00 00 09 00";
  const std::string pad14 = "80 80 19 02 A5 5A 01 02 00 00 80 80 19 00";
  const ReadCase cases[] = {
      {"full header", full, 0, 29, 0, 71, 29, 0},
      {"short header", "80 01 02 A5 5A 0B 04 F4 01 00 00 80 01 00", 0, 14, 1, 500, 14, 3},
      {"check value closing", "80 01 02 A5 5A 0B 04 01 00 00 00 80 01 04 AA BB CC DD", 0, 18, 1, 1, 18, 3},
      {"pad section first", pad14 + " " + full, 0, 43, 0, 71, 29, 0},
      {"pad with blank space", "80 80 19 02 A5 5A 01 02 03 00 81 3F 00 80 80 19 00 " + full, 0, 46, 0, 71, 29, 0},
      {"filler zeros first", "00 00 " + full, 0, 31, 0, 71, 29, 0},
      {"other section", "80 80 04 02 A5 5A 50 01 80 80 04 00 " + full, 0, 41, 0, 71, 29, 0},
      {"unknown fields skipped", "09 02 A5 5A 50 01 0C 02 01 02 0B 04 05 00 00 00 09 00", 0, 18, 0, 5, 18, 0},
      {"short length value", "09 02 A5 5A 0B 02 34 12 09 00", 0, 10, 0, 0x1234, 10, 0},
      {"long length value", "09 02 A5 5A 0B 06 78 56 34 12 FF FF 09 00", 0, 14, 0, 0x12345678, 14, 0},
      {"embedded length", "09 02 A5 5A 0B C5 09 00", 0, 8, 0, 0xC5, 8, 0},
      {"empty length", "09 02 A5 5A 0B 00 09 00", 0, 8, 0, 0, 8, 0},
      {"no signature", "09 02 A5 5B 09 00", HVDPUT_INVALID_PARAMETER, 0, 0, 0, 0, 0},
      {"head without data", "09 00 09 00", HVDPUT_INVALID_PARAMETER, 0, 0, 0, 0, 0},
      {"pad without signature", "80 80 19 02 00 00 80 80 19 00 " + full, HVDPUT_INVALID_PARAMETER, 0, 0, 0, 0, 0},
      {"jump beyond the end", "80 80 19 02 A5 5A 01 02 40 00 80 80 19 00", HVDPUT_BUFFER_UNDERFLOW, 0, 0, 0, 0, 0},
      {"empty", "", HVDPUT_BUFFER_UNDERFLOW, 0, 0, 0, 0, 0},
      {"unclosed", "09 02 A5 5A 0B 04 47 00 00 00", HVDPUT_BUFFER_UNDERFLOW, 0, 0, 0, 0, 0},
  };
  for (const ReadCase& c : cases) {
    const std::vector<uint8_t> bytes = hex(c.bytes);
    auto exact = exact_copy(bytes.data(), bytes.size());
    uint8_t* position = exact.get();
    auto size = static_cast<uint32_t>(bytes.size());
    HVDPRecordHeaderInfo info{};
    info.state = 2;
    EXPECT_EQ(HVDPGetRecordHeaderOnly(&position, &size, &info), c.rc) << c.what;
    EXPECT_EQ(static_cast<size_t>(position - exact.get()), c.consumed) << c.what;
    EXPECT_EQ(size, bytes.size() - c.consumed) << c.what;
    if (c.rc != 0) continue;
    EXPECT_EQ(info.shortHeader, c.shortHeader) << c.what;
    EXPECT_EQ(info.recordLength, c.recordLength) << c.what;
    EXPECT_EQ(info.headerLength, c.headerLength) << c.what;
    EXPECT_EQ(info.state, c.state) << c.what;
  }
}

TEST(RecordHeaderReader, TakesTheStampFromEitherForm) {
  const std::vector<uint8_t> bytes = hex(std::string("09 02 A5 5A 54 ") + kStamp + " 09 00");
  HVDPRecordHeaderInfo info{};
  uint8_t* position = const_cast<uint8_t*>(bytes.data());
  auto size = static_cast<uint32_t>(bytes.size());
  ASSERT_EQ(HVDPGetRecordHeaderOnly(&position, &size, &info), 0u);
  EXPECT_EQ(stamp_hex(info), kStamp);

  const std::vector<uint8_t> dos = hex("09 02 A5 5A 42 AF 6D 6F 58 09 00");  // 0x586F6DAF
  position = const_cast<uint8_t*>(dos.data());
  size = static_cast<uint32_t>(dos.size());
  ASSERT_EQ(HVDPGetRecordHeaderOnly(&position, &size, &info), 0u);
  HVDPECMATimeStamp expected{};
  HVDPDOSTimeToECMA(0x586F6DAF, &expected);
  EXPECT_EQ(std::memcmp(&info.timeStamp, &expected, 16), 0);
}

TEST(RecordHeaderReader, KeepsASavedSectionForAShortHeader) {
  const std::vector<uint8_t> bytes = hex("80 01 02 A5 5A 0B 04 00 00 00 00 80 01 00");
  for (uint32_t before : {0u, 1u, 2u, 3u, 4u}) {
    HVDPRecordHeaderInfo info{};
    info.state = before;
    uint8_t* position = const_cast<uint8_t*>(bytes.data());
    auto size = static_cast<uint32_t>(bytes.size());
    ASSERT_EQ(HVDPGetRecordHeaderOnly(&position, &size, &info), 0u);
    EXPECT_EQ(info.state, before == 1 ? 1u : 3u);
  }
}

TEST(RecordHeaderReader, FailsAtEveryCutOfAWrittenHeaderWithoutMoving) {
  RecordDescription d;
  d.checkValues = true;
  std::vector<uint8_t> stream;
  ASSERT_EQ(write_record(d, stream), 0u);
  std::vector<uint8_t> padded(20, 0);
  HVDPPadBlankSpace(padded.data(), 20);
  padded.insert(padded.end(), stream.begin(), stream.begin() + 33);
  for (size_t cut = 0; cut < padded.size(); ++cut) {
    auto exact = exact_copy(padded.data(), cut);
    uint8_t* position = exact.get();
    auto size = static_cast<uint32_t>(cut);
    HVDPRecordHeaderInfo info{};
    EXPECT_EQ(HVDPGetRecordHeaderOnly(&position, &size, &info), HVDPUT_BUFFER_UNDERFLOW) << cut;
    EXPECT_EQ(position, exact.get());
    EXPECT_EQ(size, cut);
  }
  uint8_t* position = padded.data();
  auto size = static_cast<uint32_t>(padded.size());
  HVDPRecordHeaderInfo info{};
  ASSERT_EQ(HVDPGetRecordHeaderOnly(&position, &size, &info), 0u);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(info.headerLength, 33u);
  EXPECT_EQ(info.recordLength, 75u);
}

}  // namespace
}  // namespace dpxut::test
