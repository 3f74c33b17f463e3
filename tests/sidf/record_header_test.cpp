// Record headers: the writer byte for byte (full and short headers, with and
// without check values), the update, refusals that leave the caller's
// position alone, and the reader of the first section with the sections it
// skips. Names, dates and extensions: the record round trips.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "sidf/record_test_support.h"
#include "support/bytes.h"

namespace dpxut::test {
namespace {

// A check value: the complement of zlib's CRC-32, little-endian.
std::string check_hex(const uint8_t* p, size_t n) {
  const auto crc = ~static_cast<uint32_t>(crc32(0, p, static_cast<uInt>(n)));
  return to_hex(&crc, 4);
}

// Writes `d` through `record` into a buffer of `capacity` bytes, without the
// update; the caller's counter goes on from 5.
std::vector<uint8_t> write_into(const RecordDescription& d, RecordInfo& record, size_t capacity = 4096) {
  EXPECT_EQ(prepare_record(d, record), 0u);
  std::vector<uint8_t> out(capacity, 0xAB);
  uint8_t* position = out.data();
  auto size = static_cast<uint32_t>(capacity);
  uint32_t counter = 5;
  EXPECT_EQ(HVDPSetNewRecordHeader(&position, &size, &counter, d.checkValues, &record.info), 0u);
  EXPECT_EQ(position - out.data(), counter - 5);
  EXPECT_EQ(size, capacity - (counter - 5));
  out.resize(counter - 5);
  return out;
}

// The second section of a record with no names, dates or extension and byte
// value 7, up to its closing field.
constexpr const char* kExampleSecond =
    "81 3F 02 A5 5A"                   // head 0x813F
    " 01 08 35 00 00 00 00 00 00 00"  // offset field: 53 bytes to the closing field
    " 81 F2 FE 00 00 00 00  81 F2 FD 00 00 00 00  81 F2 FC 00 00 00 00"
    " 81 F2 FB 00 00 00 00  81 F2 FA 00 00 00 00"  // value1..value5
    " 81 F0 FF 00  81 F0 FE 00  81 F0 FD 00"        // byte1..byte3
    " 81 EF FD 00"                                   // empty extension
    " 50 07";                                        // byte value

// First section: head 09 (80 01 short), stamp 54 (full only), length 0B with
// a placeholder, closing field (FF FF FF FF with check values). The update
// stores the length, then the check value over the first section up to its
// closing field. The second section's check value covers it up to its own.
TEST(RecordHeader, WritesTheWorkedExampleAndUpdatesLengthAndCheckValue) {
  for (bool shortHeader : {false, true}) {
    for (bool checks : {false, true}) {
      SCOPED_TRACE(::testing::Message() << shortHeader << checks);
      RecordDescription d;
      d.shortHeader = shortHeader;
      d.checkValues = checks;
      d.byteValue = 7;
      if (shortHeader) d.names = {{0, {'a', 'b'}}};  // a short header has no second section
      RecordInfo record;
      const std::vector<uint8_t> out = write_into(d, record);
      const HVDPRecordHeaderInfo& info = record.info;
      const std::string head = shortHeader ? "80 01" : "09";
      const std::string stamp = shortHeader ? "" : " 54 " + to_hex(&info.timeStamp, 16);
      const std::string first = hex(head + " 02 A5 5A" + stamp + " 0B 04 00 00 01 00 " + head +
                                    (checks ? " 04 FF FF FF FF" : " 00"));
      std::string second = shortHeader ? "" : hex(kExampleSecond);
      const auto* second_at = reinterpret_cast<const uint8_t*>(second.data());
      if (!shortHeader) second += hex(checks ? "81 3F 04 " + check_hex(second_at, second.size()) : "81 3F 00");
      EXPECT_EQ(to_hex(out), to_hex(first + second));
      EXPECT_EQ(info.timeStamp.typeAndTimeZone >> 12, shortHeader ? 0 : 1);  // local time with its zone
      EXPECT_EQ(info.headerLength, out.size());
      EXPECT_EQ(info.recordLength, second.size());
      const size_t length_at = shortHeader ? 7 : 23, check_at = first.size() - 4;
      EXPECT_EQ(+info.recordLengthLocation, out.data() + length_at);
      EXPECT_EQ(+info.checkValueLocation, checks ? out.data() + check_at : nullptr);
      record.info.recordLength += 1000;
      EXPECT_EQ(HVDPUpdateRecordHeader(&record.info), 0u);
      const uint32_t length = 1000 + static_cast<uint32_t>(second.size());
      EXPECT_EQ(to_hex(out.data() + length_at, 4), to_hex(&length, 4));
      EXPECT_EQ(checks ? to_hex(out.data() + check_at, 4) : "", checks ? check_hex(out.data(), length_at + 4) : "");
    }
  }
}

// An extension the block does not hold (40 bytes in a block of 89) is
// refused with the caller's position, size and counter alone.
TEST(RecordHeader, RefusesAnExtensionBeyondItsBlock) {
  RecordDescription d;
  d.extension.assign(40, 3);
  for (uint16_t bufferSize : {89, 90}) {
    RecordInfo record;
    ASSERT_EQ(prepare_record(d, record), 0u);
    record.info.dataSetInfo->bufferSize = bufferSize;
    std::vector<uint8_t> out(512);
    uint8_t* position = out.data();
    uint32_t size = 512, counter = 77;
    const uint32_t rc = HVDPSetNewRecordHeader(&position, &size, &counter, 0, &record.info);
    EXPECT_EQ(rc, bufferSize == 89 ? HVDPUT_INVALID_PARAMETER : 0u);
    EXPECT_EQ(position == out.data() && size == 512 && counter == 77, rc != 0);
  }
}

constexpr const char* kStamp = "01 10 E8 07 03 0F 0D 2D 1E 00 00 00 00 00 00 00";  // 2024-03-15 13:45:30

// Sections before the record header are skipped (an offset field jumps to
// the closing field); the length is the first four bytes of field 0B.
TEST(RecordHeaderReader, ReadsFirstSectionsAndSkipsWhatComesBefore) {
  const std::string full = std::string("09 02 A5 5A 54 ") + kStamp + " 0B 04 47 00 00 00 09 00";
  // The code, bytes taken, and shortHeader, recordLength, headerLength and state (2 before the call).
  const struct { std::string bytes; uint32_t rc, consumed, shortHeader, recordLength, headerLength, state; } cases[] = {
      {full, 0, 29, 0, 71, 29, 0},
      {"80 01 02 A5 5A 0B 04 F4 01 00 00 80 01 00", 0, 14, 1, 500, 14, 3},
      {"80 80 19 02 A5 5A 01 02 03 00 81 3F 00 80 80 19 00 " + full, 0, 46, 0, 71, 29, 0},  // pad section
      {"00 00 " + full, 0, 31, 0, 71, 29, 0},                                          // filler
      {"80 80 04 02 A5 5A 50 01 80 80 04 00 " + full, 0, 41, 0, 71, 29, 0},           // any other section
      {"09 02 A5 5A 50 01 0C 02 01 02 0B 04 05 00 00 00 09 00", 0, 18, 0, 5, 18, 0},  // unknown fields
      {"09 02 A5 5A 0B 02 34 12 09 00", 0, 10, 0, 0x1234, 10, 0},
      {"09 02 A5 5A 0B 06 78 56 34 12 FF FF 09 00", 0, 14, 0, 0x12345678, 14, 0},
      {"09 02 A5 5A 0B 00 09 00", 0, 8, 0, 0, 8, 0},
      {"09 02 A5 5B 09 00", HVDPUT_INVALID_PARAMETER, 0, 0, 0, 0, 2},  // no signature
      {"09 00 09 00", HVDPUT_INVALID_PARAMETER, 0, 0, 0, 0, 2},
      {"80 80 19 02 A5 5A 01 02 40 00 80 80 19 00", HVDPUT_BUFFER_UNDERFLOW, 0, 0, 0, 0, 2},  // jump beyond
      {"09 02 A5 5A 0B 04 47 00 00 00", HVDPUT_BUFFER_UNDERFLOW, 0, 0, 0, 0, 2},              // unclosed
  };
  for (const auto& c : cases) {
    const std::vector<uint8_t> bytes = hex_bytes(c.bytes);
    auto exact = exact_copy(bytes.data(), bytes.size());
    uint8_t* position = exact.get();
    auto size = static_cast<uint32_t>(bytes.size());
    HVDPRecordHeaderInfo info{};
    info.state = HVDP_STATE_DONE;
    const uint32_t rc = HVDPGetRecordHeaderOnly(&position, &size, &info);
    EXPECT_EQ(size + (position - exact.get()), bytes.size());
    EXPECT_EQ((std::vector<uint32_t>{rc, static_cast<uint32_t>(position - exact.get()), info.shortHeader,
                                     info.recordLength, info.headerLength, info.state}),
              (std::vector<uint32_t>{c.rc, c.consumed, c.shortHeader, c.recordLength, c.headerLength, c.state}))
        << c.bytes;
  }
}

TEST(RecordHeaderReader, TakesTheStampFromEitherForm) {
  HVDPECMATimeStamp dos{};
  HVDPDOSTimeToECMA(0x586F6DAF, &dos);
  for (const auto& [field, stamp] : {std::pair<std::string, std::string>{std::string("54 ") + kStamp, kStamp},
                                     {"42 AF 6D 6F 58", to_hex(&dos, 16)}}) {
    std::vector<uint8_t> bytes = hex_bytes("09 02 A5 5A " + field + " 09 00");
    uint8_t* position = bytes.data();
    auto size = static_cast<uint32_t>(bytes.size());
    HVDPRecordHeaderInfo info{};
    ASSERT_EQ(HVDPGetRecordHeaderOnly(&position, &size, &info), 0u);
    EXPECT_EQ(to_hex(&info.timeStamp, 16), stamp);
  }
}

}  // namespace
}  // namespace dpxut::test
