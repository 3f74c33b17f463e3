// The header writer: bare member rows, sections opened by a section mark,
// skipped rows, the offset field, value locations, the three closing forms
// and fields that do not fit.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/le.h"
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
  uint32_t remaining;
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
  return {rc, std::vector<uint8_t>(buffer.begin(), buffer.begin() + used), counted, remaining};
}

std::vector<DPDFPutEntry> with_end(std::vector<DPDFPutEntry> rows) {
  rows.push_back(marker_row(DPDF_END_OF_TABLE));
  return rows;
}

TEST(HeaderWriter, WritesTablesByteExact) {
  struct Case {
    const char* what;
    std::vector<DPDFPutEntry> rows;
    uint32_t crcMode;
    const char* expected;
  };
  const Case cases[] = {
      {"bare members, skipped row passed over",
       {header_row(0x50, kSeven, 1, 0), marker_row(DPDF_SKIP_ENTRY), header_row(0x808030, kXyz, 4, 4)},
       0,
       "50 07  80 80 30 04 58 59 5A 00"},
      {"flags in the embedded form",
       {flag_row(0x80802F, 0), flag_row(0x80802F, 1), flag_row(0x80802F, 0xC0), flag_row(0x80802F, 0xC1)},
       0,
       "80 80 2F C0  80 80 2F C1  80 80 2F C0  80 80 2F C1"},
      {"section mark: head with signature, empty closing field",
       {marker_row(DPDF_SECTION_MARK), header_row(0x813F, nullptr, 0, 0), header_row(0x50, kSeven, 1, 0)},
       0,
       "81 3F 02 A5 5A  50 07  81 3F 00"},
      {"closing field FF FF FF FF for any other mode",
       {marker_row(DPDF_SECTION_MARK), header_row(0x8001, nullptr, 0, 0)},
       2,
       "80 01 02 A5 5A  80 01 04 FF FF FF FF"},
      {"closing field with check value: complement of CRC-32 of 81 3F 02 A5 5A 50 07",
       {marker_row(DPDF_SECTION_MARK), header_row(0x813F, nullptr, 0, 0), header_row(0x50, kSeven, 1, 0)},
       1,
       nullptr},
      {"caller's head data replaced by the signature",
       {marker_row(DPDF_SECTION_MARK), header_row(9, kXyz, 4, 4), marker_row(DPDF_SKIP_ENTRY)},
       0,
       "09 02 A5 5A  09 00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Written w = write(with_end(c.rows), 256, c.crcMode);
    ASSERT_EQ(w.rc, 0u);
    EXPECT_EQ(w.counted, w.bytes.size());
    if (c.expected != nullptr) {
      EXPECT_EQ(to_hex(w.bytes), to_hex(hex(c.expected)));
    } else {
      const auto covered = hex("81 3F 02 A5 5A 50 07");
      uint8_t check[4];
      store_le32(check, HVDPGenerateCRC(static_cast<uint32_t>(covered.size()), 0xFFFFFFFF, covered.data()));
      auto expected = covered;
      for (uint8_t b : hex("81 3F 04")) expected.push_back(b);
      expected.insert(expected.end(), check, check + 4);
      EXPECT_EQ(to_hex(w.bytes), to_hex(expected));
    }
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

TEST(HeaderWriter, RefusesOffsetWidthTooSmallForDistance) {
  std::vector<uint8_t> blob(300, 0x55);
  // 0x81EFFD in the automatic size form: 81 EF FD 81 2C 01 and 300 bytes.
  DPDFPutEntry extension = header_row(0x81EFFD, blob.data(), 300, 0x80);
  extension.field.dataSize.value = 300;
  for (uint8_t width : {1, 2}) {
    const Written w = write(with_end({marker_row(DPDF_SECTION_MARK), header_row(0x813F, nullptr, 0, 0),
                                      header_row(DPDF_OFFSET_TO_END, nullptr, width, width), extension}),
                            400, 0);
    if (width == 1) {
      EXPECT_EQ(w.rc, HVDPUT_BUFFER_UNDERFLOW);
    } else {
      ASSERT_EQ(w.rc, 0u);
      EXPECT_EQ(to_hex(w.bytes.data(), 9), "81 3F 02 A5 5A 01 02 32 01");  // 306 = 0x132
    }
  }
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

TEST(HeaderWriter, StopsAtFirstFieldThatDoesNotFit) {
  const std::vector<DPDFPutEntry> rows =
      with_end({marker_row(DPDF_SECTION_MARK), header_row(0x808000, nullptr, 0, 0), header_row(0x50, kSeven, 1, 0),
                header_row(0x808030, kXyz, 4, 4), flag_row(0x80802F, 0)});
  const auto whole = hex("80 80 00 02 A5 5A  50 07  80 80 30 04 58 59 5A 00  80 80 2F C0  80 80 00 00");
  const uint32_t ends[] = {6, 8, 16, 20, 24};  // end of each field
  for (uint32_t size = 0; size < whole.size(); ++size) {
    SCOPED_TRACE(size);
    const Written w = write(rows, size, 0);
    EXPECT_EQ(w.rc, HVDPUT_OVERFLOW);
    uint32_t complete = 0;
    for (uint32_t end : ends)
      if (end <= size) complete = end;
    EXPECT_EQ(w.bytes.size(), complete);
    EXPECT_EQ(w.counted, complete);
    EXPECT_EQ(to_hex(w.bytes), to_hex(whole.data(), complete));
  }
  const Written w = write(rows, static_cast<uint32_t>(whole.size()), 0);
  EXPECT_EQ(w.rc, 0u);
  EXPECT_EQ(w.remaining, 0u);
}

TEST(HeaderWriter, RefusesSectionMarkWithoutHead) {
  EXPECT_EQ(write(with_end({marker_row(DPDF_SECTION_MARK)}), 64, 0).rc, HVDPUT_INVALID_PARAMETER);
  const Written w = write(with_end({}), 64, 1);  // an empty bare table writes nothing
  EXPECT_EQ(w.rc, 0u);
  EXPECT_TRUE(w.bytes.empty());
}

TEST(HeaderWriter, PassesOnCodecRefusals) {
  // More data bytes than the short-form size declares.
  const Written w = write(with_end({header_row(0x50, kSeven, 1, 0), header_row(0x808030, kXyz, 4, 3)}), 64, 0);
  EXPECT_EQ(w.rc, HVDPUT_INVALID_PARAMETER);
  EXPECT_EQ(w.counted, 2u);
}

TEST(HeaderText, MeasuresWithinTheMember) {
  struct Case {
    std::vector<char> member;
    bool accepted;
    size_t length;
  };
  const Case cases[] = {
      {{0}, true, 0},
      {{'a', 'b', 0, 'c'}, true, 2},
      {{'a', 'b', 'c', 'd'}, true, 4},  // full member: written whole, terminated
      {std::vector<char>(126, 'x'), true, 126},
      {std::vector<char>(127, 'x'), false, 0},
  };
  for (const Case& c : cases) {
    HeaderText text;
    ASSERT_EQ(text.assign(c.member.data(), c.member.size()), c.accepted);
    if (!c.accepted) continue;
    EXPECT_EQ(text.length(), c.length);
    const DPDFPutEntry row = text.row(0x02);
    EXPECT_EQ(test::copy(row.dataBytes), c.length + 1);
    EXPECT_EQ(test::copy(row.sizeForm), c.length + 1);
    EXPECT_EQ(row.field.data[c.length], 0);
    EXPECT_EQ(std::memcmp(row.field.data, c.member.data(), c.length), 0);
  }
}

}  // namespace
}  // namespace dpxut
