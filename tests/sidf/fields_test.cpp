// Fields and sections: byte-exact decode and encode tables with fields cut
// at every length flush against an unmapped page, the UINT64 arithmetic,
// sections read into and written from tables of rows (value locations,
// offset fields, failures), pad sections, and the CRC-32 of check values.
// Heads and closing fields with check values: the record header tests.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "dpxut.h"
#include "sidf/crc32.h"
#include "sidf/header_reader.h"
#include "sidf/header_writer.h"
#include "support/bytes.h"
#include "support/guard.h"

namespace dpxut::test {
namespace {

constexpr uint64_t k4G = 0x100000000ull;
constexpr int kNull = -1;  // data pointer expected null

// Each field also cut to every length, flush against an unmapped page:
// underflow until the `header` bytes a decoder needs before it can report
// the field (identifier, size bytes, filler before it), then the field with
// the rest as overflow. data_at: offset of the data, or kNull.
TEST(FieldCodec, DecodesEveryIdentifierAndSizeFormAlsoWhenCut) {
  const struct { const char* bytes; uint32_t id; uint64_t size; int data_at; uint64_t overflow; size_t header; }
      cases[] = {
      {"80 72 05 00 00 00", 0x8072, 4, 2, 0, 2},                       // 2-byte, fixed 4
      {"80 80 30 04 58 59 5A 00", 0x808030, 4, 4, 0, 4},               // 3-byte long, text XYZ
      {"80 80 2F C1", 0x80802F, 1, 3, 0, 4},                           // embedded: value is C1
      {"81 F0 FF C5", 0x81F0FF, 1, 3, 0, 3},                           // fixed 1, value like a descriptor
      {"C1 02 41 AA BB", 0xC10241, 2, 3, 0, 3},                        // 3-byte short, fixed 2
      {"00 00 C1 02 83 04 82 03 00 00 00 AA BB CC", 0xC1028304, 3, 11, 0, 11},  // filler, 4-byte long
      {"80 F9 00 01 02", 0x80F900, 2, 3, 0, 3},                        // long fixed 2, bit 3 of F9 ignored
      {"80 80 19 00", 0x808019, 0, kNull, 0, 4},                       // size 0: no data
      {"0B 80 00", 0x0B, 0, 3, 0, 3},                                  // size 0, data not null
      {"0B BD 03 00 AA BB CC", 0x0B, 3, 4, 0, 4},                      // bits 2-5 of BD ignored
      {"0B 83 00 00 00 00 01 00 00 00", 0x0B, k4G, 10, k4G, 10},       // 2^32: always cut
      {"7F AA", 0x7F, 128, 1, 127, 1},                                 // fixed 128, cut
  };
  for (const auto& c : cases) {
    const std::string whole = hex(c.bytes);
    for (uint32_t len = 0; len <= whole.size(); ++len) {
      SCOPED_TRACE(::testing::Message() << c.bytes << " cut to " << len);
      GuardedBytes in(std::string_view(whole).substr(0, len));
      DPDFField f;
      std::memset(&f, 0xEE, sizeof f);
      ASSERT_EQ(DPDFGetNextField(in.data(), len, &f), len < c.header ? HVDPUT_BUFFER_UNDERFLOW : 0u);
      EXPECT_EQ(+f.dataOverflow.value, len < c.header ? 0 : c.overflow + whole.size() - len);
      if (len >= c.header)
        EXPECT_EQ(std::tuple(+f.fieldId, +f.dataSize.value, +f.bytesUsed, +f.data),
                  std::tuple(c.id, c.size, len, c.data_at == kNull ? nullptr : in.data() + c.data_at));
    }
  }
}

// Form: short-form size below 0x80, automatic (smallest descriptor for
// dataSize) 0x80-0xBF, embedded value 0xC0-0xFF. A failed encode leaves the
// buffer untouched.
TEST(FieldCodec, EncodesEverySizeFormByteExact) {
  const struct { uint32_t id; uint8_t form; uint64_t data_size; const char* data; uint32_t data_bytes, buffer_size, rc;
                 const char* expect; uint64_t overflow; } cases[] = {
      {0x50, 0x33, 0, "07", 1, 32, 0, "50 07", 0},  // fixed: form ignored
      {0x8072, 0, 0, "05 00 00 00", 4, 32, 0, "80 72 05 00 00 00", 0},
      {0xC10241, 0, 0, "AA BB", 2, 32, 0, "C1 02 41 AA BB", 0},  // 3-byte short identifier, fixed 2
      {0x808030, 4, 0, "58 59 5A 00", 4, 32, 0, "80 80 30 04 58 59 5A 00", 0},
      {0x80802F, 0xC0, 0, "", 99, 32, 0, "80 80 2F C0", 0},  // embedded: no data
      {0x0B, 0x80, 0x7F, "", 0, 32, 0, "0B 7F", 0},
      {0x0B, 0x80, 0x80, "", 0, 32, 0, "0B 80 80", 0},
      {0x0B, 0xBF, 0x100, "", 0, 32, 0, "0B 81 00 01", 0},
      {0x0B, 0x80, 0x10000, "", 0, 32, 0, "0B 82 00 00 01 00", 0},
      {0x0B, 0x80, 0xFFFFFFFF, "", 0, 32, 0, "0B 82 FF FF FF FF", 0},
      {0x0B, 0x80, k4G, "AA BB CC", 3, 32, 0, "0B 83 00 00 00 00 01 00 00 00 AA BB CC", 0},
      {0x54, 0, 0, "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F", 16, 10, 0, "54 00 01 02 03 04 05 06 07 08", 7},
      {0xC1028304, 0x80, k4G, "", 0, 13, 0, "C1 02 83 04 83 00 00 00 00 01 00 00 00", 0},
      {0xC1028304, 0x80, k4G, "", 0, 12, HVDPUT_OVERFLOW, "", 0},  // 13-byte header
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expect);
    auto src = hex_bytes(c.data);
    src.resize(64, 0xDD);
    std::vector<uint8_t> out(c.buffer_size, 0xEE);
    DPDFField f{c.id, {c.data_size}, src.data(), 0, {12345}};
    ASSERT_EQ(DPDFPutNextField(out.data(), c.buffer_size, &f, c.form, c.data_bytes), c.rc);
    EXPECT_EQ(+f.dataOverflow.value, c.overflow);
    EXPECT_EQ(to_hex(out.data(), c.rc ? c.buffer_size : +f.bytesUsed),
              c.rc ? to_hex(std::string(c.buffer_size, '\xEE')) : to_hex(hex(c.expect)));
  }
}

// Each step as its code and the value afterwards.
TEST(Uint64, BuildsNarrowsAddsAndSubtractsWithOverflowChecks) {
  using Step = std::pair<uint32_t, uint64_t>;
  const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  UINT64 v, one{1};
  const auto step = [&](uint32_t rc) { return Step(rc, v.value); };
  EXPECT_EQ(step(DPDFSetUINT64(&v, bytes, 8)), Step(0, 0x0807060504030201u));
  v.value = 0xFFFFFFFFu;
  uint32_t out = 0;
  EXPECT_EQ(step(DPDFGetUINT64(&v, &out)), Step(0, 0xFFFFFFFFu));
  EXPECT_EQ(step(DPDFIncrementUINT64(&v, 2)), Step(0, k4G + 1));
  EXPECT_EQ(step(DPDFGetUINT64(&v, &out)), Step(HVDPUT_OVERFLOW, k4G + 1));
  EXPECT_EQ(out, 0xFFFFFFFFu);
  EXPECT_EQ(step(DPDFSubUINT64(&v, &v, &v)), Step(0, 0));  // the difference may be an operand
  EXPECT_EQ(step(DPDFDecrementUINT64(&v, 1)), Step(HVDPUT_BUFFER_UNDERFLOW, 0));
  v.value = UINT64_MAX;
  EXPECT_EQ(step(DPDFAddUINT64(&v, &one, &v)), Step(HVDPUT_OVERFLOW, 0));
  const struct { uint64_t size; const char* bytes; uint32_t rc, value; } values[] = {
      {3, "01 02 03", 0, 0x030201},
      {8, "01 02 03 04 00 00 00 00", 0, 0x04030201},
      {8, "01 00 00 00 01 00 00 00", HVDPUT_OVERFLOW, 77},
      {9, "01 00 00 00 00 00 00 00 00", HVDPUT_OVERFLOW, 77},  // longer values refused
      {0, "", 0, 0},
  };
  for (const auto& c : values) {
    const auto data = hex_bytes(c.bytes);
    v.value = c.size;
    out = 77;
    EXPECT_EQ(DPDFSetUINT32Data(&v, data.data(), &out), c.rc) << c.bytes;
    EXPECT_EQ(out, c.value) << c.bytes;
  }
}

// Rows: 0x0B into 4 bytes, 0x0B into 2, 0x50 into 4, 0x27 (absent), 0x26
// into 1, 0x0B into none. Read: each row's found flag, then the size it
// stored, then the bytes of all, as far as a case gives them. A field cut by
// the buffer's end is not taken: the position stays at it.
TEST(GetFields, FillsRowsInStreamOrderAndStopsAtAFieldThatFails) {
  const struct { const char* bytes; uint32_t rc, consumed; std::string read; } cases[] = {
      // 1 byte into a 4-byte row, a surplus 0x0B and an unknown field, an empty value; AA is not taken.
      {"81 3F 02 A5 5A 50 07 0B 04 01 00 00 00 12 01 EE 0B 04 02 03 04 05 0B 01 09 26 00 81 3F 00 AA", 0, 30,
       "111011 4 2 1 0 0 0 | 01 00 00 00 02 03 07 00 00 00 00"},
      {"81 3F 02 A5", HVDPUT_BUFFER_UNDERFLOW, 0, "0"},                  // head cut
      {"81 3F 02 A5 5A 0B 01 07", HVDPUT_BUFFER_UNDERFLOW, 8, "1"},      // no closing field
      {"81 3F 02 A5 5A 0B 04 07 08", HVDPUT_BUFFER_UNDERFLOW, 5, "0"},   // member cut
      {"81 3F 02 A5 5A 0B 01 07 81 3F 04 01 02", HVDPUT_BUFFER_UNDERFLOW, 8, "1"},
  };
  for (const auto& c : cases) {
    auto in = hex_bytes(c.bytes);
    std::vector<uint8_t> d(11, 0xEE);
    DPDFGetEntry table[] = {get_row(0x0B, &d[0], 4),   get_row(0x0B, &d[4], 2),   get_row(0x50, &d[6], 4),
                            get_row(0x27, nullptr, 0), get_row(0x26, &d[10], 1), get_row(0x0B, nullptr, 0),
                            get_end_row()};
    uint8_t* pos = in.data();
    auto left = static_cast<uint32_t>(in.size());
    EXPECT_EQ(DPDFGetFields(0x813F, table, &pos, &left), c.rc) << c.bytes;
    EXPECT_EQ(pos - in.data(), c.consumed) << c.bytes;
    EXPECT_EQ(left, in.size() - c.consumed) << c.bytes;
    std::string read;
    for (int i = 0; i < 6; ++i) read += std::to_string(table[i].found);
    for (int i = 0; i < 6; ++i) read += " " + std::to_string(table[i].dataSize);
    read += " | " + to_hex(d);
    EXPECT_EQ(read.substr(0, c.read.size()), c.read) << c.bytes;
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
  uint8_t out[64], *pos = out;
  uint32_t left = 64;
  ASSERT_EQ(DPDFPutFields(table, &pos, &left, 0), 0u);
  EXPECT_EQ(to_hex(out, pos - out),
            "09 02 A5 5A 0B 04 00 00 01 00 80 80 2F C1 "
            "80 80 30 10 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 "
            "81 EF FE 01 00 09 00");
  std::vector<ptrdiff_t> at;
  for (int row = 1; row <= 4; ++row) at.push_back(reinterpret_cast<uint8_t*>(+table[row].valueLocation) - out);
  EXPECT_EQ(at, (std::vector<ptrdiff_t>{6, 13, 18, 38}));  // embedded: the descriptor byte itself
  EXPECT_EQ(+table[4].dataBytes, 1u);
}

// The fields written before a failure stay written and passed.
TEST(PutFields, FailuresReturnTheirCodes) {
  std::vector<uint8_t> blank(70000);
  const uint8_t two[2] = {1, 2};
  const DPDFPutEntry head = header_row(0x09, nullptr, 0, 0), end = marker_row(DPDF_END_OF_TABLE);
  const DPDFPutEntry wide = {{0x0C, {70000}, blank.data(), 0, {0}}, 70000, 0, 0x80};
  const struct { std::vector<DPDFPutEntry> rows; uint32_t buffer_size, rc, written; } cases[] = {
      // An offset field too narrow for its distance, or reaching past the members.
      {{head, header_row(DPDF_OFFSET_TO_END, nullptr, 2, 2), wide, end}, 80000, HVDPUT_BUFFER_UNDERFLOW, 70014},
      {{head, header_row(DPDF_OFFSET_TO_END, nullptr, 1, 4), end}, 8, HVDPUT_BUFFER_UNDERFLOW, 7},
      {{head, header_row(0x0C, two, 2, 2), end}, 5, HVDPUT_OVERFLOW, 4},   // member does not fit
      {{head, header_row(0x0C, two, 2, 2), end}, 10, HVDPUT_OVERFLOW, 8},  // closing field does not fit
  };
  for (auto c : cases) {
    std::vector<uint8_t> out(c.buffer_size);
    uint8_t* pos = out.data();
    uint32_t left = c.buffer_size;
    EXPECT_EQ(DPDFPutFields(c.rows.data(), &pos, &left, 1), c.rc) << c.written;
    EXPECT_EQ(pos - out.data(), c.written);
    EXPECT_EQ(left + c.written, c.buffer_size);
  }
}

// Pad sections of 14..65549 bytes (a 16-bit blank length), several with the
// last at least 14 beyond that, zeros below 14: a record header reader skips
// exactly the size to the short header after it.
TEST(PadBlankSpace, FillsExactlyTheSizeWithSectionsReadersSkip) {
  const std::map<uint32_t, std::string> exact = {{13, "00 00 00 00 00 00 00 00 00 00 00 00 00"},
                                                 {14, "80 80 19 02 A5 5A 01 02 00 00 80 80 19 00"},
                                                 {20, "80 80 19 02 A5 5A 01 02 06 00 00 00 00 00 00 00 80 80 19 00"}};
  const std::string record = hex("80 01 02 A5 5A 0B 04 00 00 00 00 80 01 00");
  for (uint32_t size : {0u, 1u, 13u, 14u, 20u, 65549u, 65550u, 65562u, 65563u, 65564u, 131098u, 131099u, 1u << 20}) {
    std::vector<uint8_t> buf(size + record.size(), 0xEE);
    HVDPPadBlankSpace(buf.data(), size);
    if (exact.count(size)) EXPECT_EQ(to_hex(buf.data(), size), exact.at(size));
    EXPECT_EQ(buf[size], 0xEE) << size;
    std::memcpy(buf.data() + size, record.data(), record.size());
    uint8_t* pos = buf.data();
    auto left = static_cast<uint32_t>(buf.size());
    HVDPRecordHeaderInfo info{};
    EXPECT_EQ(HVDPGetRecordHeaderOnly(&pos, &left, &info), 0u) << size;
    EXPECT_EQ(left, 0u) << size;
  }
}

// Every length class of the kernels (tails, 8- and 64-byte blocks, the
// 65536-byte pieces), at unaligned starts, from any register value, and two
// calls chained over a split that give what one call gives.
TEST(Crc32, AgreesWithZlibAndEveryKernelAndChainsOverSplits) {
  EXPECT_EQ(HVDPGenerateCRC(9, 0xFFFFFFFFu, reinterpret_cast<const uint8_t*>("123456789")), 0x340BC6D9u);
  std::mt19937 rng(11);
  std::vector<uint8_t> data(1 << 20);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  std::vector<uint32_t> lengths = {0, 1, 7, 8, 15, 16, 63, 64, 65, 127, 128, 4096, 65536, 65537, (1 << 20) - 3};
  for (int i = 0; i < 200; ++i) lengths.push_back(rng() % 5000);
  for (uint32_t len : lengths) {
    const uint8_t* p = data.data() + rng() % 3;
    const uint32_t seed = static_cast<uint32_t>(rng()), ref = sidf::crc32_bytewise(seed, p, len), split = len / 3;
    const uint32_t whole = HVDPGenerateCRC(len, 0xFFFFFFFFu, p);
    EXPECT_EQ(whole, ~static_cast<uint32_t>(crc32(0, p, len))) << len;
    EXPECT_EQ(sidf::crc32_slice8(seed, p, len), ref) << len;
    EXPECT_EQ(sidf::crc32_clmul_usable() ? sidf::crc32_clmul(seed, p, len) : ref, ref) << len;
    EXPECT_EQ(sidf::crc32_vclmul_usable() ? sidf::crc32_vclmul(seed, p, len) : ref, ref) << len;
    EXPECT_EQ(HVDPGenerateCRC(len - split, HVDPGenerateCRC(split, 0xFFFFFFFFu, p), p + split), whole) << len;
  }
}

}  // namespace
}  // namespace dpxut::test
