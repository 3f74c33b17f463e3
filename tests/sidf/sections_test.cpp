// Sections: reading into tables, writing from tables (byte-exact, offset
// fields, value locations, check values, failures), the header writer's
// variant, pad sections, random round trips and corrupted streams.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "common/le.h"
#include "dpxut.h"
#include "hex.h"

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
  EXPECT_EQ(to_hex(b4, 4) + " | " + to_hex(c2, 2) + " | " + to_hex(n4, 4) + " | " + to_hex(e1, 1),
            "01 00 00 00 | 02 03 | 07 00 00 00 | 00");
  std::vector<std::pair<int, uint32_t>> found_and_size;  // the last row: capacity 0, found, nothing stored
  for (int i = 0; i < 6; ++i) found_and_size.emplace_back(+table[i].found, +table[i].dataSize);
  EXPECT_EQ(found_and_size, (std::vector<std::pair<int, uint32_t>>{{1, 4}, {1, 2}, {1, 1}, {0, 0}, {1, 0}, {1, 0}}));
}

TEST(GetFields, FailuresLeaveThePositionAtTheFieldThatFailed) {
  const struct {
    const char* bytes;
    uint32_t rc, consumed;
    bool found;  // the 0x0B row
  } cases[] = {
      {"09 02 A5 5A 09 00", HVDPUT_FIELD_ID_MISMATCH, 0, false},
      {"81 3F 02 A5", HVDPUT_BUFFER_UNDERFLOW, 0, false},                   // head cut
      {"81 3F 02 A5 5A 0B 01 07", HVDPUT_BUFFER_UNDERFLOW, 8, true},        // no closing field
      {"81 3F 02 A5 5A 0B 04 07 08", HVDPUT_BUFFER_UNDERFLOW, 5, false},    // member cut
      {"81 3F 02 A5 5A 0B 01 07 81 3F 04 01 02", HVDPUT_BUFFER_UNDERFLOW, 8, true},
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

// The head's own data is replaced by the signature; the closing field is
// empty, carries the complement of the zlib CRC-32 of head and members
// (here of 81 3F 02 A5 5A 50 07), or FF FF FF FF.
TEST(PutFields, WritesSectionsByteExact) {
  const uint8_t seven = 7;
  const char* closings[] = {"81 3F 00", "81 3F 04 79 AD 5F FC", "81 3F 04 FF FF FF FF"};
  for (uint32_t mode = 0; mode < 3; ++mode) {
    DPDFPutEntry table[] = {put_row(0x813F, "junk", 9, 0x55), put_row(0x50, &seven, 1), put_row(DPDF_END_OF_TABLE)};
    std::vector<uint8_t> out(64, 0xEE);
    uint8_t* pos = out.data();
    uint32_t left = 64;
    ASSERT_EQ(DPDFPutFields(table, &pos, &left, mode), 0u);
    EXPECT_EQ(to_hex(out.data(), pos - out.data()), std::string("81 3F 02 A5 5A 50 07 ") + closings[mode]);
    EXPECT_EQ(left, 64 - (pos - out.data()));
  }
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
  const DPDFPutEntry head = put_row(0x09), end = put_row(DPDF_END_OF_TABLE);
  const struct {
    const char* what;
    std::vector<DPDFPutEntry> rows;
    uint32_t buffer_size, rc, written;
  } cases[] = {
      {"empty table", {end}, 64, HVDPUT_INVALID_PARAMETER, 0},
      {"offset field too narrow", {head, put_row(DPDF_OFFSET_TO_END, nullptr, 2, 2),
       auto_row(0x0C, blank.data(), 70000), end}, 80000, HVDPUT_BUFFER_UNDERFLOW, 4 + 4 + 70006},
      {"offset field shorter than its width, at the end", {head, put_row(DPDF_OFFSET_TO_END, nullptr, 1, 4), end},
       8, HVDPUT_BUFFER_UNDERFLOW, 7},
      {"offset field of automatic form", {head, put_row(DPDF_OFFSET_TO_END, nullptr, 1, 0x80), end}, 64,
       HVDPUT_INVALID_PARAMETER, 4},
      {"member does not fit", {head, put_row(0x0C, two, 2, 2), end}, 5, HVDPUT_OVERFLOW, 4},
      {"closing field does not fit", {head, put_row(0x0C, two, 2, 2), end}, 10, HVDPUT_OVERFLOW, 8},
      {"member data above its size", {head, put_row(0x0C, two, 2, 1), end}, 64, HVDPUT_INVALID_PARAMETER, 4},
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

// Walks a stream of pad sections and filler the way a record header reader
// skips them; returns the bytes covered, or -1 on anything unexpected.
long walk_pad_stream(const uint8_t* p, uint32_t n) {
  uint32_t at = 0;
  while (at < n) {
    DPDFField f;
    if (DPDFGetNextField(p + at, n - at, &f) != 0) return std::count(p + at, p + n, 0) == n - at ? n : -1;
    if (f.fieldId != 0x808019 || f.dataSize.value != 2) return -1;
    at += f.bytesUsed;
    if (DPDFGetNextField(p + at, n - at, &f) != 0 || f.fieldId != DPDF_OFFSET_TO_END) return -1;
    at += f.bytesUsed + dpxut::load_le16(f.data);
    if (DPDFGetNextField(p + at, n - at, &f) != 0 || f.fieldId != 0x808019 || f.dataSize.value != 0) return -1;
    at += f.bytesUsed;
  }
  return at;
}

// Beyond 65549 bytes (the most one pad section's 16-bit blank length
// covers) several sections and filler cover the size.
TEST(PadBlankSpace, FillsExactlyTheSizeWithSectionsReadersSkip) {
  const std::map<uint32_t, const char*> exact = {
      {13, "00 00 00 00 00 00 00 00 00 00 00 00 00"},
      {14, "80 80 19 02 A5 5A 01 02 00 00 80 80 19 00"},
      {20, "80 80 19 02 A5 5A 01 02 06 00 00 00 00 00 00 00 80 80 19 00"}};
  for (uint32_t size : {0u, 1u, 13u, 14u, 20u, 65549u, 65550u, 65562u, 65563u, 65564u, 131098u, 131099u, 1u << 20}) {
    std::vector<uint8_t> buf(size + 1, 0xEE);
    HVDPPadBlankSpace(buf.data(), size);
    EXPECT_EQ(buf[size], 0xEE) << size;
    EXPECT_EQ(walk_pad_stream(buf.data(), size), static_cast<long>(size));
    if (exact.count(size)) {
      EXPECT_EQ(to_hex(buf.data(), size), exact.at(size));
    }
  }
}

// Random sections written with DPDFPutFields after a random pad read back
// with DPDFGetFields; the same streams, corrupted at random and cut to an
// exact size, are read again and must not crash or overread.
TEST(Sections, RandomSectionsRoundTripAndSurviveCorruption) {
  std::mt19937 rng(99);
  std::vector<uint8_t> payload(400);
  for (auto& b : payload) b = static_cast<uint8_t>(rng());
  for (int round = 0; round < 300; ++round) {
    const uint32_t head = 0x808000 + rng() % 0x40;
    const int members = static_cast<int>(rng() % 12);
    std::vector<DPDFPutEntry> put{put_row(head)};
    std::vector<DPDFGetEntry> get;
    std::vector<std::vector<uint8_t>> dest(members);
    for (int i = 0; i < members; ++i) {
      const uint32_t size = rng() % 4 == 0 ? 128 + rng() % 200 : rng() % 128, id = 0x81E000 + i;  // not fixed-size
      put.push_back(size < 128 ? put_row(id, payload.data() + i, size, static_cast<uint8_t>(size))
                               : auto_row(id, payload.data() + i, size));
      dest[i].resize(size);
      get.push_back(get_row(id, dest[i].data(), size));
    }
    put.push_back(put_row(DPDF_END_OF_TABLE));
    get.push_back(get_row(DPDF_END_OF_TABLE, nullptr, 0));
    std::vector<uint8_t> stream(8192);
    const uint32_t pad = rng() % 40;
    HVDPPadBlankSpace(stream.data(), pad);
    uint8_t* pos = stream.data() + pad;
    uint32_t left = static_cast<uint32_t>(stream.size()) - pad;
    const uint32_t mode = rng() % 3;
    ASSERT_EQ(DPDFPutFields(put.data(), &pos, &left, mode), 0u);
    const auto length = static_cast<uint32_t>(pos - stream.data());
    if (mode == 1) {  // the check value covers head and members, from the head on
      EXPECT_EQ(dpxut::load_le32(pos - 4), ~static_cast<uint32_t>(crc32(0, stream.data() + pad, length - pad - 8)));
    }
    uint8_t* rpos = stream.data() + pad;
    uint32_t rleft = length - pad;
    ASSERT_EQ(DPDFGetFields(head, get.data(), &rpos, &rleft), 0u);
    EXPECT_EQ(rleft, 0u);
    for (int i = 0; i < members; ++i) {
      ASSERT_EQ(+get[i].found, 1u);
      ASSERT_EQ(+get[i].dataSize, dest[i].size());
      ASSERT_TRUE(dest[i].empty() || std::memcmp(dest[i].data(), payload.data() + i, dest[i].size()) == 0);
    }
    for (int trial = 0; trial < 20; ++trial) {
      std::vector<uint8_t> bad(stream.begin(), stream.begin() + rng() % (length + 1));  // ASan sees any overread
      for (int flips = bad.empty() ? 0 : 1 + rng() % 4; flips > 0; --flips)
        bad[rng() % bad.size()] = static_cast<uint8_t>(rng());
      for (auto& g : get) g.found = 0;
      uint8_t* p = bad.data();
      uint32_t n = static_cast<uint32_t>(bad.size());
      (void)DPDFGetFields(head, get.data(), &p, &n);
      EXPECT_LE(p, bad.data() + bad.size());
      for (int i = 0; i < members; ++i) EXPECT_LE(+get[i].dataSize, dest[i].size());
    }
  }
}

}  // namespace
