// Field codec: byte-exact decode and encode tables, fields cut at every
// length flush against an unmapped page, and the UINT64 arithmetic.
#include <gtest/gtest.h>

#include <cstring>

#include "dpxut.h"
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
      {"0B 04 00 00 01 00", 0x0B, 4, 2, 0, 2},                         // short form size 4
      {"50 07", 0x50, 1, 1, 0, 1},                                     // fixed 1
      {"80 72 05 00 00 00", 0x8072, 4, 2, 0, 2},                       // 2-byte, fixed 4
      {"80 80 30 04 58 59 5A 00", 0x808030, 4, 4, 0, 4},               // 3-byte long, text XYZ
      {"80 80 2F C1", 0x80802F, 1, 3, 0, 4},                           // embedded: value is C1
      {"81 F0 FF C5", 0x81F0FF, 1, 3, 0, 3},                           // fixed 1, value like a descriptor
      {"C1 02 41 AA BB", 0xC10241, 2, 3, 0, 3},                        // 3-byte short, fixed 2
      {"00 00 C1 02 83 04 82 03 00 00 00 AA BB CC", 0xC1028304, 3, 11, 0, 11},  // filler, 4-byte long
      {"81 EF FD 81 2C 01", 0x81EFFD, 300, 6, 300, 6},                 // 2 size bytes, data cut
      {"80 F9 00 01 02", 0x80F900, 2, 3, 0, 3},                        // long fixed 2, bit 3 of F9 ignored
      {"80 80 19 00", 0x808019, 0, kNull, 0, 4},                       // size 0: no data
      {"0B 80 00", 0x0B, 0, 3, 0, 3},                                  // size 0, data not null
      {"0B BD 03 00 AA BB CC", 0x0B, 3, 4, 0, 4},                      // bits 2-5 of BD ignored
      {"0B 83 00 00 00 00 01 00 00 00", 0x0B, k4G, 10, k4G, 10},       // 2^32: always cut
      {"7F AA", 0x7F, 128, 1, 127, 1},                                 // fixed 128, cut
  };
  for (const auto& c : cases) {
    const std::string whole = hex(c.bytes);
    for (size_t len = 0; len <= whole.size(); ++len) {
      SCOPED_TRACE(::testing::Message() << c.bytes << " cut to " << len);
      GuardedBytes in(std::string_view(whole).substr(0, len));
      DPDFField f;
      std::memset(&f, 0xEE, sizeof f);
      const uint32_t rc = DPDFGetNextField(in.data(), static_cast<uint32_t>(len), &f);
      ASSERT_EQ(rc, len < c.header ? HVDPUT_BUFFER_UNDERFLOW : 0u);
      EXPECT_EQ(+f.dataOverflow.value, len < c.header ? 0 : c.overflow + whole.size() - len);
      if (len < c.header) continue;
      EXPECT_EQ(+f.fieldId, c.id);
      EXPECT_EQ(+f.dataSize.value, c.size);
      EXPECT_EQ(+f.bytesUsed, len);
      EXPECT_EQ(+f.data, c.data_at == kNull ? nullptr : in.data() + c.data_at);
    }
  }
}

// Form: short-form size below 0x80, automatic (smallest descriptor for
// dataSize) 0x80-0xBF, embedded value 0xC0-0xFF. A failed encode leaves the
// buffer untouched.
TEST(FieldCodec, EncodesEverySizeFormByteExact) {
  const char* k16 = "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F";
  const struct { uint32_t id; uint8_t form; uint64_t data_size; const char* data; uint32_t data_bytes, buffer_size, rc;
                 const char* expect; uint64_t overflow; } cases[] = {
      {0x0B, 4, 0, "00 00 01 00", 4, 32, 0, "0B 04 00 00 01 00", 0},
      {0x50, 0x33, 0, "07", 1, 32, 0, "50 07", 0},  // fixed: form ignored
      {0x8072, 0, 0, "05 00 00 00", 4, 32, 0, "80 72 05 00 00 00", 0},
      {0xC10241, 0, 0, "AA BB", 2, 32, 0, "C1 02 41 AA BB", 0},  // 3-byte short identifier, fixed 2
      {0x808030, 4, 0, "58 59 5A 00", 4, 32, 0, "80 80 30 04 58 59 5A 00", 0},
      {0x80802F, 0xC0, 0, "", 99, 32, 0, "80 80 2F C0", 0},  // embedded: no data
      {0x80F401, 0, 0, k16, 16, 32, 0, "80 F4 01 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F", 0},
      {0x0B, 0x80, 0x7F, "", 0, 32, 0, "0B 7F", 0},
      {0x0B, 0x80, 0x80, "", 0, 32, 0, "0B 80 80", 0},
      {0x0B, 0xBF, 0x100, "", 0, 32, 0, "0B 81 00 01", 0},
      {0x0B, 0x80, 0x10000, "", 0, 32, 0, "0B 82 00 00 01 00", 0},
      {0x0B, 0x80, 0xFFFFFFFF, "", 0, 32, 0, "0B 82 FF FF FF FF", 0},
      {0x0B, 0x80, k4G, "AA BB CC", 3, 32, 0, "0B 83 00 00 00 00 01 00 00 00 AA BB CC", 0},
      {0x54, 0, 0, k16, 16, 10, 0, "54 00 01 02 03 04 05 06 07 08", 7},  // cut by the end
      {0xC1028304, 0x80, k4G, "", 0, 13, 0, "C1 02 83 04 83 00 00 00 00 01 00 00 00", 0},
      {0xC1028304, 0x80, k4G, "", 0, 12, HVDPUT_OVERFLOW, "", 0},  // 13-byte header
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expect);
    auto src = hex_bytes(c.data);
    src.resize(64, 0xDD);
    std::vector<uint8_t> out(c.buffer_size, 0xEE);
    DPDFField f{};
    f.fieldId = c.id;
    f.dataSize.value = c.data_size;
    f.data = src.data();
    f.dataOverflow.value = 12345;
    ASSERT_EQ(DPDFPutNextField(out.data(), c.buffer_size, &f, c.form, c.data_bytes), c.rc);
    EXPECT_EQ(+f.dataOverflow.value, c.overflow);
    EXPECT_EQ(to_hex(out.data(), c.rc ? c.buffer_size : +f.bytesUsed),
              c.rc ? to_hex(std::string(c.buffer_size, '\xEE')) : to_hex(hex(c.expect)));
  }
}

TEST(Uint64, BuildsNarrowsAddsAndSubtractsWithOverflowChecks) {
  UINT64 v, one;
  const uint8_t bytes[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(DPDFSetUINT64(&v, bytes, 8), 0u);
  EXPECT_EQ(+v.value, 0x0807060504030201u);
  EXPECT_EQ(DPDFSetUINT64(&v, bytes, 9), HVDPUT_OVERFLOW);
  EXPECT_EQ(+v.value, 0u);
  uint32_t out = 99;
  v.value = 0xFFFFFFFFu;
  EXPECT_EQ(DPDFGetUINT64(&v, &out), 0u);
  v.value = k4G;
  EXPECT_EQ(DPDFGetUINT64(&v, &out), HVDPUT_OVERFLOW);
  EXPECT_EQ(out, 0xFFFFFFFFu);
  const struct { uint64_t size; const char* bytes; uint32_t rc, value; } values[] = {
      {3, "01 02 03", 0, 0x030201},
      {8, "01 02 03 04 00 00 00 00", 0, 0x04030201},
      {8, "01 00 00 00 01 00 00 00", HVDPUT_OVERFLOW, 77},
      {9, "01 00 00 00 00 00 00 00 00", HVDPUT_OVERFLOW, 77},  // longer values refused
  };
  for (const auto& c : values) {
    const auto data = hex_bytes(c.bytes);
    v.value = c.size;
    out = 77;
    EXPECT_EQ(DPDFSetUINT32Data(&v, data.data(), &out), c.rc) << c.bytes;
    EXPECT_EQ(out, c.value) << c.bytes;
  }
  v.value = 0xFFFFFFFFu;
  one.value = 1;
  EXPECT_EQ(DPDFIncrementUINT64(&v, 2), 0u);
  EXPECT_EQ(DPDFDecrementUINT64(&v, 0xFFFFFFFFu), 0u);
  EXPECT_EQ(DPDFDecrementUINT64(&v, 3), HVDPUT_BUFFER_UNDERFLOW);
  EXPECT_EQ(DPDFSubUINT64(&v, &one, &v), 0u);  // the difference may be an operand
  EXPECT_EQ(+v.value, 1u);
  v.value = UINT64_MAX;
  EXPECT_EQ(DPDFAddUINT64(&v, &one, &v), HVDPUT_OVERFLOW);
  EXPECT_EQ(+v.value, 0u);
}

}  // namespace
}  // namespace dpxut::test
