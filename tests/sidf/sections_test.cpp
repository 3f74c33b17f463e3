// Sections: reading one into a table of rows, writing one from a table
// (value locations, offset fields, failures), and pad sections. Heads,
// closing fields and check values: the record header tests.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dpxut.h"
#include "sidf/header_reader.h"
#include "sidf/header_writer.h"
#include "support/bytes.h"

namespace dpxut::test {
namespace {

TEST(GetFields, FillsRowsInStreamOrderAndSkipsUnknownFields) {
  auto in = hex_bytes(
      "81 3F 02 A5 5A"     // head
      "50 07"              // 1 byte into a 4-byte row
      "0B 04 01 00 00 00"  // first 0x0B
      "12 01 EE"           // unknown
      "0B 04 02 03 04 05"  // second 0x0B, into a 2-byte row
      "0B 01 09"           // surplus 0x0B: ignored
      "26 00"              // empty value into a 1-byte row
      "81 3F 00"           // closing
      "AA");               // next field, not consumed
  uint8_t b4[4], c2[2], n4[4], e1[1] = {0x55};
  std::memset(b4, 0xEE, 4);
  std::memset(n4, 0xEE, 4);
  DPDFGetEntry table[] = {get_row(0x0B, b4, 4),      get_row(0x0B, c2, 2), get_row(0x50, n4, 4),
                          get_row(0x27, nullptr, 0), get_row(0x26, e1, 1), get_row(0x0B, nullptr, 0), get_end_row()};
  uint8_t* pos = in.data();
  auto left = static_cast<uint32_t>(in.size());
  ASSERT_EQ(DPDFGetFields(0x813F, table, &pos, &left), 0u);
  EXPECT_EQ(left, 1u);
  EXPECT_EQ(to_hex(b4, 4) + " | " + to_hex(c2, 2) + " | " + to_hex(n4, 4) + " | " + to_hex(e1, 1),
            "01 00 00 00 | 02 03 | 07 00 00 00 | 00");
  std::vector<std::pair<int, uint32_t>> found_and_size;  // the last row: capacity 0, found, nothing stored
  for (int i = 0; i < 6; ++i) found_and_size.emplace_back(+table[i].found, +table[i].dataSize);
  EXPECT_EQ(found_and_size, (std::vector<std::pair<int, uint32_t>>{{1, 4}, {1, 2}, {1, 1}, {0, 0}, {1, 0}, {1, 0}}));
}

// A field cut by the buffer's end is not taken: the position stays at it.
TEST(GetFields, FailuresLeaveThePositionAtTheFieldThatFailed) {
  const struct { const char* bytes; uint32_t rc, consumed; bool found; } cases[] = {
      {"09 02 A5 5A 09 00", HVDPUT_FIELD_ID_MISMATCH, 0, false},
      {"81 3F 02 A5", HVDPUT_BUFFER_UNDERFLOW, 0, false},                 // head cut
      {"81 3F 02 A5 5A 0B 01 07", HVDPUT_BUFFER_UNDERFLOW, 8, true},      // no closing field
      {"81 3F 02 A5 5A 0B 04 07 08", HVDPUT_BUFFER_UNDERFLOW, 5, false},  // member cut
      {"81 3F 02 A5 5A 0B 01 07 81 3F 04 01 02", HVDPUT_BUFFER_UNDERFLOW, 8, true},
  };
  for (const auto& c : cases) {
    auto in = hex_bytes(c.bytes);
    uint8_t v[4];
    DPDFGetEntry table[] = {get_row(0x0B, v, 4), get_end_row()};
    uint8_t* pos = in.data();
    auto left = static_cast<uint32_t>(in.size());
    EXPECT_EQ(DPDFGetFields(0x813F, table, &pos, &left), c.rc) << c.bytes;
    EXPECT_EQ(pos - in.data(), c.consumed) << c.bytes;
    EXPECT_EQ(left, in.size() - c.consumed) << c.bytes;
    EXPECT_EQ(+table[0].found, +c.found) << c.bytes;
  }
}

// A row asking for its value's location is written with a placeholder of
// its width (zero-extended beyond 8 bytes) and gets the address of the value.
TEST(PutFields, ReportsValueLocationsInsideTheFieldWritten) {
  const uint8_t big[16] = {};
  DPDFPutEntry table[] = {header_row(0x09, nullptr, 0, 0),       header_row(0x0B, nullptr, 4, 4),
                          header_row(0x80802F, nullptr, 0, 0xC1), header_row(0x808030, big, 16, 16),
                          header_row(0x81EFFE, nullptr, 0, 0x80),  marker_row(DPDF_END_OF_TABLE)};
  for (int i = 1; i <= 4; ++i) table[i].valueLocation = 1;
  table[4].field.dataSize.value = 1;
  std::vector<uint8_t> out(64);
  uint8_t* pos = out.data();
  uint32_t left = 64;
  ASSERT_EQ(DPDFPutFields(table, &pos, &left, 0), 0u);
  EXPECT_EQ(to_hex(out.data(), pos - out.data()),
            "09 02 A5 5A 0B 04 00 00 01 00 80 80 2F C1 "
            "80 80 30 10 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 "
            "81 EF FE 01 00 09 00");
  std::vector<ptrdiff_t> at;
  for (int row = 1; row <= 4; ++row) at.push_back(reinterpret_cast<uint8_t*>(+table[row].valueLocation) - out.data());
  EXPECT_EQ(at, (std::vector<ptrdiff_t>{6, 13, 18, 38}));  // embedded: the descriptor byte itself
  EXPECT_EQ(+table[4].dataBytes, 1u);
}

// The fields written before a failure stay written and passed.
TEST(PutFields, FailuresReturnTheirCodes) {
  std::vector<uint8_t> blank(70000);
  const uint8_t two[2] = {1, 2};
  const DPDFPutEntry head = header_row(0x09, nullptr, 0, 0), end = marker_row(DPDF_END_OF_TABLE);
  DPDFPutEntry wide = header_row(0x0C, blank.data(), 70000, 0x80);
  wide.field.dataSize.value = 70000;
  const struct { std::vector<DPDFPutEntry> rows; uint32_t buffer_size, rc, written; } cases[] = {
      // An offset field too narrow for its distance, or reaching past the members.
      {{head, header_row(DPDF_OFFSET_TO_END, nullptr, 2, 2), wide, end}, 80000, HVDPUT_BUFFER_UNDERFLOW, 70014},
      {{head, header_row(DPDF_OFFSET_TO_END, nullptr, 1, 4), end}, 8, HVDPUT_BUFFER_UNDERFLOW, 7},
      {{head, header_row(DPDF_OFFSET_TO_END, nullptr, 1, 0x80), end}, 64, HVDPUT_INVALID_PARAMETER, 4},
      {{head, header_row(0x0C, two, 2, 2), end}, 5, HVDPUT_OVERFLOW, 4},   // member does not fit
      {{head, header_row(0x0C, two, 2, 2), end}, 10, HVDPUT_OVERFLOW, 8},  // closing field does not fit
      {{head, header_row(0x0C, two, 2, 1), end}, 64, HVDPUT_INVALID_PARAMETER, 4},
  };
  for (auto c : cases) {
    std::vector<uint8_t> out(c.buffer_size);
    uint8_t* pos = out.data();
    uint32_t left = c.buffer_size;
    EXPECT_EQ(DPDFPutFields(c.rows.data(), &pos, &left, 1), c.rc) << c.written;
    EXPECT_EQ(pos - out.data(), c.written);
    EXPECT_EQ(left, c.buffer_size - c.written);
  }
}

// Pad sections of 14..65549 bytes (a 16-bit blank length), several with the
// last at least 14 beyond that, zeros below 14: a record header reader skips
// exactly the size to the short header after it.
TEST(PadBlankSpace, FillsExactlyTheSizeWithSectionsReadersSkip) {
  const std::string exact[] = {"00 00 00 00 00 00 00 00 00 00 00 00 00", "80 80 19 02 A5 5A 01 02 00 00 80 80 19 00",
                               "80 80 19 02 A5 5A 01 02 06 00 00 00 00 00 00 00 80 80 19 00"};
  const std::vector<uint8_t> record = hex_bytes("80 01 02 A5 5A 0B 04 00 00 00 00 80 01 00");
  for (uint32_t size : {0u, 1u, 13u, 14u, 20u, 65549u, 65550u, 65562u, 65563u, 65564u, 131098u, 131099u, 1u << 20}) {
    std::vector<uint8_t> buf(size + 1, 0xEE);
    HVDPPadBlankSpace(buf.data(), size);
    if (size == 13 || size == 14 || size == 20) {
      EXPECT_EQ(to_hex(buf.data(), size), exact[size == 13 ? 0 : size == 14 ? 1 : 2]);
    }
    EXPECT_EQ(buf[size], 0xEE) << size;
    buf.resize(size);
    buf.insert(buf.end(), record.begin(), record.end());
    uint8_t* pos = buf.data();
    auto left = static_cast<uint32_t>(buf.size());
    HVDPRecordHeaderInfo info{};
    EXPECT_EQ(HVDPGetRecordHeaderOnly(&pos, &left, &info), 0u) << size;
    EXPECT_EQ(left, 0u) << size;
  }
}

}  // namespace
}  // namespace dpxut::test
