// The header writer: bare member rows, sections opened by a section mark,
// skipped rows, the offset field, value locations and closing fields. The
// parts it shares with DPDFPutFields (check values, offset widths, fields
// that do not fit) are tested with sections; every short buffer with the
// media and session headers.
#include <gtest/gtest.h>

#include <vector>

#include "sidf/header_test_support.h"
#include "sidf/header_writer.h"

namespace dpxut {
namespace {

using test::hex;
using test::to_hex;

const uint8_t kSeven[] = {0x07};
const uint8_t kXyz[] = {'X', 'Y', 'Z', 0};
const uint8_t kZero4[4] = {};
const uint8_t kPlaceholder4[4] = {0x00, 0x00, 0x01, 0x00};

struct Written {
  uint32_t rc;
  std::vector<uint8_t> bytes;  // the bytes the position advanced over
  uint32_t counted;            // *bytesWritten
};

// Runs the writer over a buffer of `size` bytes followed by a guard area
// that must stay untouched.
Written write(std::vector<DPDFPutEntry> table, uint32_t size, uint32_t crcMode) {
  std::vector<uint8_t> buffer(size + 32, 0xAB);
  uint8_t* position = buffer.data();
  uint32_t remaining = size;
  uint32_t counted = 0;
  const uint32_t rc = PutHeaderFields(table.data(), &position, &remaining, &counted, crcMode);
  for (size_t i = size; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xAB) << "write past the end at " << i;
  const auto used = static_cast<size_t>(position - buffer.data());
  EXPECT_EQ(used + remaining, size);
  return {rc, std::vector<uint8_t>(buffer.begin(), buffer.begin() + used), counted};
}

std::vector<DPDFPutEntry> with_end(std::vector<DPDFPutEntry> rows) {
  rows.push_back(marker_row(DPDF_END_OF_TABLE));
  return rows;
}

TEST(HeaderWriter, WritesTablesByteExact) {
  const struct {
    const char* what;
    std::vector<DPDFPutEntry> rows;
    uint32_t crcMode;
    const char* expected;
  } cases[] = {
      {"bare members, skipped row passed over", {header_row(0x50, kSeven, 1, 0), marker_row(DPDF_SKIP_ENTRY),
       header_row(0x808030, kXyz, 4, 4)}, 0, "50 07  80 80 30 04 58 59 5A 00"},
      {"flags in the embedded form", {flag_row(0x80802F, 0), flag_row(0x80802F, 1), flag_row(0x80802F, 0xC0),
       flag_row(0x80802F, 0xC1)}, 0, "80 80 2F C0  80 80 2F C1  80 80 2F C0  80 80 2F C1"},
      {"section mark: head with signature, empty closing field", {marker_row(DPDF_SECTION_MARK),
       header_row(0x813F, nullptr, 0, 0), header_row(0x50, kSeven, 1, 0)}, 0, "81 3F 02 A5 5A  50 07  81 3F 00"},
      {"closing field FF FF FF FF for any other mode", {marker_row(DPDF_SECTION_MARK),
       header_row(0x8001, nullptr, 0, 0)}, 2, "80 01 02 A5 5A  80 01 04 FF FF FF FF"},
      {"caller's head data replaced by the signature", {marker_row(DPDF_SECTION_MARK), header_row(9, kXyz, 4, 4),
       marker_row(DPDF_SKIP_ENTRY)}, 0, "09 02 A5 5A  09 00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Written w = write(with_end(c.rows), 256, c.crcMode);
    ASSERT_EQ(w.rc, 0u);
    EXPECT_EQ(w.counted, w.bytes.size());
    EXPECT_EQ(to_hex(w.bytes), to_hex(hex(c.expected)));
  }
}

// The second section of a full record header with no names, dates or
// extension and byte value 7: the offset field counts the 53 bytes after it.
TEST(HeaderWriter, FillsOffsetFieldWithDistanceToClosingField) {
  std::vector<DPDFPutEntry> rows = {marker_row(DPDF_SECTION_MARK), header_row(0x813F, nullptr, 0, 0),
                                    header_row(DPDF_OFFSET_TO_END, nullptr, 8, 8)};
  for (uint32_t id : {0x81F2FE, 0x81F2FD, 0x81F2FC, 0x81F2FB, 0x81F2FA}) rows.push_back(header_row(id, kZero4, 4, 4));
  for (uint32_t id : {0x81F0FF, 0x81F0FE, 0x81F0FD}) rows.push_back(header_row(id, kZero4, 1, 1));
  for (int i = 0; i < 4; ++i) rows.push_back(marker_row(DPDF_SKIP_ENTRY));
  rows.push_back(header_row(0x81EFFD, nullptr, 0, 0));
  rows.push_back(header_row(0x50, kSeven, 1, 1));
  const Written w = write(with_end(rows), 200, 0);
  ASSERT_EQ(w.rc, 0u);
  EXPECT_EQ(to_hex(w.bytes), to_hex(hex("81 3F 02 A5 5A  01 08 35 00 00 00 00 00 00 00"
                                        "  81 F2 FE 00 00 00 00  81 F2 FD 00 00 00 00  81 F2 FC 00 00 00 00"
                                        "  81 F2 FB 00 00 00 00  81 F2 FA 00 00 00 00"
                                        "  81 F0 FF 00  81 F0 FE 00  81 F0 FD 00"
                                        "  81 EF FD 00  50 07  81 3F 00")));
  EXPECT_EQ(w.counted, 71u);
}

TEST(HeaderWriter, ReportsValueLocationsInsideTheBuffer) {
  std::vector<DPDFPutEntry> rows = with_end({marker_row(DPDF_SECTION_MARK), header_row(9, nullptr, 0, 0),
                                             header_row(0x0B, kPlaceholder4, 4, 4), flag_row(0x80802F, 1)});
  rows[2].valueLocation = 1;
  rows[3].valueLocation = 1;
  std::vector<uint8_t> buffer(64);
  uint8_t* position = buffer.data();
  uint32_t remaining = 64;
  ASSERT_EQ(PutHeaderFields(rows.data(), &position, &remaining, nullptr, 2), 0u);
  EXPECT_EQ(to_hex(buffer.data(), 64 - remaining),
            to_hex(hex("09 02 A5 5A  0B 04 00 00 01 00  80 80 2F C1  09 04 FF FF FF FF")));
  // Field 0x0B keeps the caller's data; its location is its four value bytes.
  EXPECT_EQ(test::copy(rows[2].valueLocation), reinterpret_cast<uintptr_t>(buffer.data() + 6));
  EXPECT_EQ(test::copy(rows[2].field.data), kPlaceholder4);
  // An embedded-form value is the descriptor byte.
  EXPECT_EQ(test::copy(rows[3].valueLocation), reinterpret_cast<uintptr_t>(buffer.data() + 13));
}

TEST(HeaderWriter, RefusesSectionMarkWithoutHeadAndPassesOnCodecRefusals) {
  EXPECT_EQ(write(with_end({marker_row(DPDF_SECTION_MARK)}), 64, 0).rc, HVDPUT_INVALID_PARAMETER);
  const Written empty = write(with_end({}), 64, 1);  // an empty bare table writes nothing
  EXPECT_EQ(empty.rc, 0u);
  EXPECT_TRUE(empty.bytes.empty());
  // More data bytes than the short-form size declares: the field before stays counted.
  const Written w = write(with_end({header_row(0x50, kSeven, 1, 0), header_row(0x808030, kXyz, 4, 3)}), 64, 0);
  EXPECT_EQ(w.rc, HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(w.counted, 2u);
}

}  // namespace
}  // namespace dpxut
