// Sections: reading into tables, writing from tables (byte-exact, offset
// fields, value locations, check values, failures), the header writer's
// variant, pad sections, random round trips and corrupted streams.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

#include "common/le.h"
#include "dpxut.h"
#include "hex.h"
#include "sidf/sections.h"

namespace {

using dpxut::test::hex;
using dpxut::test::to_hex;

DPDFGetEntry get_row(uint32_t id, void* data, uint32_t capacity) {
  DPDFGetEntry e{};
  e.fieldId = id;
  e.data = data;
  e.dataSize = capacity;
  return e;
}

DPDFPutEntry put_row(uint32_t id, const void* data = nullptr, uint32_t bytes = 0, uint8_t form = 0) {
  DPDFPutEntry e{};
  e.field.fieldId = id;
  e.field.data = static_cast<const uint8_t*>(data);
  e.dataBytes = bytes;
  e.sizeForm = form;
  return e;
}

DPDFPutEntry auto_row(uint32_t id, const void* data, uint32_t size) {
  DPDFPutEntry e = put_row(id, data, size, 0x80);
  e.field.dataSize.value = size;
  return e;
}

TEST(GetFields, FillsRowsInStreamOrderAndSkipsUnknownFields) {
  const auto in = hex(
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
  DPDFGetEntry table[] = {get_row(0x0B, b4, 4), get_row(0x0B, c2, 2), get_row(0x50, n4, 4),
                          get_row(0x27, nullptr, 0), get_row(0x26, e1, 1), get_row(0x0B, nullptr, 0),
                          get_row(DPDF_END_OF_TABLE, nullptr, 0)};
  auto* pos = const_cast<uint8_t*>(in.data());
  uint32_t left = static_cast<uint32_t>(in.size());
  ASSERT_EQ(DPDFGetFields(0x813F, table, &pos, &left), 0u);
  EXPECT_EQ(left, 1u);
  EXPECT_EQ(to_hex(b4, 4), "01 00 00 00");
  EXPECT_EQ(+table[0].dataSize, 4u);
  EXPECT_EQ(to_hex(c2, 2), "02 03");
  EXPECT_EQ(+table[1].dataSize, 2u);
  EXPECT_EQ(to_hex(n4, 4), "07 00 00 00");
  EXPECT_EQ(+table[2].dataSize, 1u);
  EXPECT_EQ(+table[3].found, 0u);
  EXPECT_EQ(+table[4].found, 1u);
  EXPECT_EQ(e1[0], 0u);
  EXPECT_EQ(+table[4].dataSize, 0u);
  EXPECT_EQ(+table[5].found, 1u);  // capacity 0: found, nothing stored
  EXPECT_EQ(+table[5].dataSize, 0u);
}

TEST(GetFields, FailuresLeaveThePositionAtTheFieldThatFailed) {
  struct Case {
    const char* bytes;
    uint32_t rc;
    uint32_t consumed;
    bool found;  // the 0x0B row
  };
  const Case cases[] = {
      {"09 02 A5 5A 09 00", HVDPUT_FIELD_ID_MISMATCH, 0, false},
      {"81 3F 02 A5", HVDPUT_BUFFER_UNDERFLOW, 0, false},                   // head cut
      {"81 3F 02 A5 5A 0B 01 07", HVDPUT_BUFFER_UNDERFLOW, 8, true},        // no closing field
      {"81 3F 02 A5 5A 0B 01 07 81", HVDPUT_BUFFER_UNDERFLOW, 8, true},
      {"81 3F 02 A5 5A 0B 04 07 08", HVDPUT_BUFFER_UNDERFLOW, 5, false},    // member cut
      {"81 3F 02 A5 5A 0B 01 07 81 3F 04 01 02", HVDPUT_BUFFER_UNDERFLOW, 8, true},
      {"81", HVDPUT_BUFFER_UNDERFLOW, 0, false},
      {"", HVDPUT_BUFFER_UNDERFLOW, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    auto in = hex(c.bytes);
    uint8_t v[4];
    DPDFGetEntry table[] = {get_row(0x0B, v, 4), get_row(DPDF_END_OF_TABLE, nullptr, 0)};
    uint8_t* pos = in.data();
    uint32_t left = static_cast<uint32_t>(in.size());
    EXPECT_EQ(DPDFGetFields(0x813F, table, &pos, &left), c.rc);
    EXPECT_EQ(pos - in.data(), c.consumed);
    EXPECT_EQ(left, in.size() - c.consumed);
    EXPECT_EQ(+table[0].found, +c.found);
  }
}

TEST(PutFields, WritesSectionsByteExact) {
  const uint8_t seven = 7;
  struct Case {
    uint32_t crc_mode;
    const char* expect;
  };
  const Case cases[] = {
      {0, "81 3F 02 A5 5A 50 07 81 3F 00"},
      {1, "81 3F 02 A5 5A 50 07 81 3F 04 XX XX XX XX"},
      {2, "81 3F 02 A5 5A 50 07 81 3F 04 FF FF FF FF"},
  };
  for (const auto& c : cases) {
    DPDFPutEntry table[] = {put_row(0x813F, "junk", 9, 0x55), put_row(0x50, &seven, 1),
                            put_row(DPDF_END_OF_TABLE)};
    std::vector<uint8_t> out(64, 0xEE);
    uint8_t* pos = out.data();
    uint32_t left = 64;
    ASSERT_EQ(DPDFPutFields(table, &pos, &left, c.crc_mode), 0u);
    std::string want = c.expect;
    if (c.crc_mode == 1) {
      uint8_t v[4];
      dpxut::store_le32(v, ~static_cast<uint32_t>(crc32(0, out.data(), 7)));
      want.replace(want.find("XX XX XX XX"), 11, to_hex(v, 4));
    }
    EXPECT_EQ(to_hex(out.data(), pos - out.data()), want);
    EXPECT_EQ(left, 64 - (pos - out.data()));
  }
}

TEST(PutFields, FillsAnEightByteOffsetFieldWithTheDistanceToTheClosingField) {
  // The data set section of a record header with no dates, names or extension.
  const uint8_t v4[4] = {0, 0, 0, 0}, v1 = 0, seven = 7;
  DPDFPutEntry table[] = {
      put_row(0x813F),         put_row(DPDF_OFFSET_TO_END, nullptr, 8, 8),
      put_row(0x81F2FE, v4, 4), put_row(0x81F2FD, v4, 4), put_row(0x81F2FC, v4, 4),
      put_row(0x81F2FB, v4, 4), put_row(0x81F2FA, v4, 4), put_row(0x81F0FF, &v1, 1),
      put_row(0x81F0FE, &v1, 1), put_row(0x81F0FD, &v1, 1), put_row(0x81EFFD),
      put_row(0x50, &seven, 1), put_row(DPDF_END_OF_TABLE)};
  std::vector<uint8_t> out(71);
  uint8_t* pos = out.data();
  uint32_t left = 71;
  ASSERT_EQ(DPDFPutFields(table, &pos, &left, 0), 0u);
  EXPECT_EQ(left, 0u);
  EXPECT_EQ(to_hex(out.data(), 15), "81 3F 02 A5 5A 01 08 35 00 00 00 00 00 00 00");
  EXPECT_EQ(+table[1].valueLocation, reinterpret_cast<uintptr_t>(out.data() + 7));
}

TEST(PutFields, ReportsValueLocationsInsideTheFieldWritten) {
  const uint8_t big[16] = {};
  DPDFPutEntry table[] = {put_row(0x09), put_row(0x0B, nullptr, 4, 4), put_row(0x80802F, nullptr, 0, 0xC1),
                          put_row(0x808030, big, 16, 16), put_row(0x81EFFE, nullptr, 0, 0x80),
                          put_row(DPDF_END_OF_TABLE)};
  for (int i = 1; i <= 4; ++i) table[i].valueLocation = 1;
  table[4].field.dataSize.value = 1;
  std::vector<uint8_t> out(64);
  uint8_t* pos = out.data();
  uint32_t left = 64;
  ASSERT_EQ(DPDFPutFields(table, &pos, &left, 0), 0u);
  EXPECT_EQ(to_hex(out.data(), pos - out.data()),
            "09 02 A5 5A 0B 04 00 00 01 00 80 80 2F C1 "
            "80 80 30 10 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 "  // 8-byte placeholder, zero-extended
            "81 EF FE 01 00 09 00");
  auto at = [&](int row) { return reinterpret_cast<uint8_t*>(table[row].valueLocation) - out.data(); };
  EXPECT_EQ(at(1), 6);
  EXPECT_EQ(at(2), 13);  // the embedded value byte itself
  EXPECT_EQ(at(3), 18);
  EXPECT_EQ(at(4), 38);
  EXPECT_EQ(+table[4].dataBytes, 1u);
}

TEST(PutFields, FailuresReturnTheirCodes) {
  std::vector<uint8_t> blank(70000);
  const uint8_t two[2] = {1, 2};
  struct Case {
    const char* what;
    std::vector<DPDFPutEntry> rows;
    uint32_t buffer_size, rc, written;
  };
  const Case cases[] = {
      {"empty table", {put_row(DPDF_END_OF_TABLE)}, 64, HVDPUT_INVALID_PARAMETER, 0},
      {"offset field too narrow",
       {put_row(0x09), put_row(DPDF_OFFSET_TO_END, nullptr, 2, 2), auto_row(0x0C, blank.data(), 70000),
        put_row(DPDF_END_OF_TABLE)},
       80000, HVDPUT_BUFFER_UNDERFLOW, 4 + 4 + 70006},
      {"offset field shorter than its width, at the end",
       {put_row(0x09), put_row(DPDF_OFFSET_TO_END, nullptr, 1, 4), put_row(DPDF_END_OF_TABLE)},
       8, HVDPUT_BUFFER_UNDERFLOW, 7},
      {"offset field of automatic form",
       {put_row(0x09), put_row(DPDF_OFFSET_TO_END, nullptr, 1, 0x80), put_row(DPDF_END_OF_TABLE)},
       64, HVDPUT_INVALID_PARAMETER, 4},
      {"member does not fit",
       {put_row(0x09), put_row(0x0C, two, 2, 2), put_row(DPDF_END_OF_TABLE)}, 5, HVDPUT_OVERFLOW, 4},
      {"closing field does not fit",
       {put_row(0x09), put_row(0x0C, two, 2, 2), put_row(DPDF_END_OF_TABLE)}, 10, HVDPUT_OVERFLOW, 8},
      {"member data above its size",
       {put_row(0x09), put_row(0x0C, two, 2, 1), put_row(DPDF_END_OF_TABLE)}, 64, HVDPUT_INVALID_PARAMETER, 4},
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> out(c.buffer_size);
    uint8_t* pos = out.data();
    uint32_t left = c.buffer_size;
    EXPECT_EQ(DPDFPutFields(c.rows.data(), &pos, &left, 1), c.rc);
    EXPECT_EQ(pos - out.data(), c.written);
    EXPECT_EQ(left, c.buffer_size - c.written);
  }
}

TEST(HeaderTables, HonourSectionMarkSkipRowsAndCountBytes) {
  uint8_t stamp[16] = {};
  DPDFPutEntry table[] = {put_row(DPDF_SECTION_MARK), put_row(0x09), put_row(DPDF_SKIP_ENTRY),
                          put_row(0x54, stamp, 16), put_row(0x0B, nullptr, 4, 4), put_row(DPDF_END_OF_TABLE)};
  const uint8_t length[4] = {0, 0, 1, 0};
  table[4].field.data = length;
  table[4].valueLocation = 1;
  std::vector<uint8_t> out(64);
  uint8_t* pos = out.data();
  uint32_t left = 64, counter = 5;
  ASSERT_EQ(dpxut::sidf::put_table(table, &pos, &left, 2, dpxut::sidf::TableStyle::kHeader, &counter), 0u);
  EXPECT_EQ(to_hex(out.data(), pos - out.data()),
            "09 02 A5 5A 54 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0B 04 00 00 01 00 09 04 FF FF FF FF");
  EXPECT_EQ(counter, 5u + 33u);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(+table[4].valueLocation), out.data() + 23);

  DPDFPutEntry bare[] = {put_row(0x80802F, nullptr, 0, 0xC0), put_row(DPDF_END_OF_TABLE)};
  pos = out.data();
  ASSERT_EQ(dpxut::sidf::put_table(bare, &pos, &left, 1, dpxut::sidf::TableStyle::kHeader, nullptr), 0u);
  EXPECT_EQ(to_hex(out.data(), pos - out.data()), "80 80 2F C0");
}

// Walks a stream of pad sections and filler the way a record header reader
// skips them; returns the bytes covered, or -1 on anything unexpected.
long walk_pad_stream(const uint8_t* p, uint32_t n) {
  uint32_t at = 0;
  while (at < n) {
    DPDFField f;
    if (DPDFGetNextField(p + at, n - at, &f) != 0) return std::all_of(p + at, p + n, [](uint8_t b) { return b == 0; }) ? n : -1;
    if (f.fieldId != 0x808019 || f.dataSize.value != 2) return -1;
    at += f.bytesUsed;
    if (DPDFGetNextField(p + at, n - at, &f) != 0 || f.fieldId != DPDF_OFFSET_TO_END) return -1;
    at += f.bytesUsed + dpxut::load_le16(f.data);
    if (DPDFGetNextField(p + at, n - at, &f) != 0 || f.fieldId != 0x808019 || f.dataSize.value != 0) return -1;
    at += f.bytesUsed;
  }
  return at;
}

TEST(PadBlankSpace, FillsExactlyTheSizeWithSectionsReadersSkip) {
  EXPECT_EQ(to_hex(hex("80 80 19 02 A5 5A 01 02 00 00 80 80 19 00")), [] {
    uint8_t b[14];
    HVDPPadBlankSpace(b, 14);
    return to_hex(b, 14);
  }());
  const uint32_t sizes[] = {0, 1, 13, 14, 20, 65549, 65550, 65562, 65563, 65564, 131098, 131099, 1u << 20};
  for (uint32_t size : sizes) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> buf(size + 1, 0xEE);
    HVDPPadBlankSpace(buf.data(), size);
    EXPECT_EQ(buf[size], 0xEE);
    EXPECT_EQ(walk_pad_stream(buf.data(), size), static_cast<long>(size));
    if (size == 20) {
      EXPECT_EQ(to_hex(buf.data() + 6, 14), "01 02 06 00 00 00 00 00 00 00 80 80 19 00");
    }
    if (size > 0 && size < 14) {
      EXPECT_EQ(std::count(buf.begin(), buf.end() - 1, 0), size);
    }
  }
}

// Random sections written with DPDFPutFields read back with DPDFGetFields;
// the same streams, corrupted at random, are read again and must not crash.
TEST(Sections, RandomSectionsRoundTripAndSurviveCorruption) {
  std::mt19937 rng(99);
  std::vector<uint8_t> payload(400);
  for (auto& b : payload) b = static_cast<uint8_t>(rng());
  for (int round = 0; round < 300; ++round) {
    const uint32_t head = 0x808000 + rng() % 0x40;
    std::vector<DPDFPutEntry> put{put_row(head)};
    std::vector<uint32_t> sizes;
    const int members = static_cast<int>(rng() % 12);
    for (int i = 0; i < members; ++i) {
      const uint32_t size = rng() % 4 == 0 ? 128 + rng() % 200 : rng() % 128;
      // 3-byte long identifiers that are not fixed-size.
      auto row = size < 128 ? put_row(0x81E000 + i, payload.data() + i, size, static_cast<uint8_t>(size))
                            : auto_row(0x81E000 + i, payload.data() + i, size);
      put.push_back(row);
      sizes.push_back(size);
    }
    put.push_back(put_row(DPDF_END_OF_TABLE));
    std::vector<uint8_t> stream(8192);
    const uint32_t pad = rng() % 40;
    HVDPPadBlankSpace(stream.data(), pad);
    uint8_t* pos = stream.data() + pad;
    uint32_t left = static_cast<uint32_t>(stream.size()) - pad;
    const uint32_t mode = rng() % 3;
    ASSERT_EQ(DPDFPutFields(put.data(), &pos, &left, mode), 0u);
    const auto length = static_cast<uint32_t>(pos - stream.data());
    if (mode == 1) {
      const uint8_t* closing = pos - 4;
      EXPECT_EQ(dpxut::load_le32(closing),
                ~static_cast<uint32_t>(crc32(0, stream.data() + pad, static_cast<uInt>(closing - 4 - stream.data() - pad))));
    }

    std::vector<std::vector<uint8_t>> dest(members);
    std::vector<DPDFGetEntry> get;
    for (int i = 0; i < members; ++i) {
      dest[i].resize(sizes[i]);
      get.push_back(get_row(0x81E000 + i, dest[i].data(), sizes[i]));
    }
    get.push_back(get_row(DPDF_END_OF_TABLE, nullptr, 0));
    uint8_t* rpos = stream.data() + pad;
    uint32_t rleft = length - pad;
    ASSERT_EQ(DPDFGetFields(head, get.data(), &rpos, &rleft), 0u);
    EXPECT_EQ(rleft, 0u);
    for (int i = 0; i < members; ++i) {
      ASSERT_EQ(+get[i].found, 1u);
      ASSERT_EQ(+get[i].dataSize, sizes[i]);
      if (sizes[i] != 0) {
        ASSERT_EQ(std::memcmp(dest[i].data(), payload.data() + i, sizes[i]), 0);
      }
    }

    for (int trial = 0; trial < 20; ++trial) {
      std::vector<uint8_t> bad(stream.begin(), stream.begin() + length);
      for (int flips = 1 + rng() % 4; flips > 0; --flips) bad[rng() % bad.size()] = static_cast<uint8_t>(rng());
      bad.resize(rng() % (bad.size() + 1));  // exact size: ASan sees any overread
      for (auto& g : get) g.found = 0;
      uint8_t* p = bad.data();
      uint32_t n = static_cast<uint32_t>(bad.size());
      (void)DPDFGetFields(head, get.data(), &p, &n);
      EXPECT_LE(p, bad.data() + bad.size());
      for (int i = 0; i < members; ++i) EXPECT_LE(+get[i].dataSize, sizes[i]);
    }
  }
}

}  // namespace
