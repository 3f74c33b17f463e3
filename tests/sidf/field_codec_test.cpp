// Field codec: byte-exact decode and encode tables, fields cut at every
// position flush against an unmapped page, random round trips, and the
// UINT64 arithmetic.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "dpxut.h"
#include "support/guard_page.h"

namespace {

// "80 80 30" <-> bytes, as vectors of uint8_t.
std::vector<uint8_t> hex(std::string_view s) {
  const std::string b = dpxut::test::hex(s);
  return {b.begin(), b.end()};
}
std::string to_hex(const uint8_t* p, size_t n) {
  return dpxut::test::to_hex(std::string_view(reinterpret_cast<const char*>(p), n));
}
std::string to_hex(const std::vector<uint8_t>& v) { return to_hex(v.data(), v.size()); }

constexpr uint64_t k4G = 0x100000000ull;
constexpr int kNull = -1;  // data pointer expected null

// Buffers cut inside an identifier or descriptor are covered at every
// position by ReadsFieldCutAtEveryPosition, further identifier lengths and
// size forms by the random round trip.
TEST(FieldCodec, DecodesEveryIdentifierAndSizeForm) {
  const struct {
    const char* bytes;
    uint32_t rc, id;
    uint64_t size;
    int data_at;  // offset of data in the buffer, or kNull
    uint32_t used;
    uint64_t overflow;
  } cases[] = {
      {"0B 04 00 00 01 00", 0, 0x0B, 4, 2, 6, 0},                    // short form size 4
      {"50 07", 0, 0x50, 1, 1, 2, 0},                                // fixed 1
      {"80 72 05 00 00 00", 0, 0x8072, 4, 2, 6, 0},                  // 2-byte, fixed 4
      {"80 80 30 04 58 59 5A 00", 0, 0x808030, 4, 4, 8, 0},          // 3-byte long, text XYZ
      {"80 80 2F C1", 0, 0x80802F, 1, 3, 4, 0},                      // embedded: value is C1
      {"81 EF FD 81 2C 01", 0, 0x81EFFD, 300, 6, 6, 300},            // 2 size bytes, data cut
      {"80 F4 01 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F", 0, 0x80F401, 16, 3, 19, 0},
      {"80 F9 00 01 02", 0, 0x80F900, 2, 3, 5, 0},                   // bit 3 of F9 ignored
      {"81 F0 FF 09", 0, 0x81F0FF, 1, 3, 4, 0},                      // long fixed 1
      {"81 F2 FE 01 02 03 04", 0, 0x81F2FE, 4, 3, 7, 0},             // long fixed 4
      {"80 80 19 00", 0, 0x808019, 0, kNull, 4, 0},                  // size 0: no data
      {"00 00 0B 04 01 02 03 04", 0, 0x0B, 4, 4, 8, 0},              // filler skipped
      {"80 80 30 10 01 02 03 04 05 06", 0, 0x808030, 16, 4, 10, 10}, // cut by the end
      {"0B 00", 0, 0x0B, 0, kNull, 2, 0},
      {"0B 80 00", 0, 0x0B, 0, 3, 3, 0},                             // size 0, data not null
      {"0B BD 03 00 AA BB CC", 0, 0x0B, 3, 4, 7, 0},                 // bits 2-5 of BD ignored
      {"0B 83 00 00 00 00 01 00 00 00", 0, 0x0B, k4G, 10, 10, k4G},  // 2^32: always cut
      {"7F AA", 0, 0x7F, 128, 1, 2, 127},                            // fixed 128, cut
      {"00 00 00", HVDPUT_BUFFER_UNDERFLOW, 0, 0, 0, 0, 0},          // only filler
      {"80", HVDPUT_BUFFER_UNDERFLOW, 0, 0, 0, 0, 0},                // inside identifier
      {"0B 81 2C", HVDPUT_BUFFER_UNDERFLOW, 0, 0, 0, 0, 0},          // 1 of 2 size bytes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    const auto in = hex(c.bytes);
    DPDFField f;
    std::memset(&f, 0xEE, sizeof f);
    ASSERT_EQ(DPDFGetNextField(in.data(), static_cast<uint32_t>(in.size()), &f), c.rc);
    EXPECT_EQ(+f.dataOverflow.value, c.overflow);
    if (c.rc != 0) continue;
    EXPECT_EQ(+f.fieldId, c.id);
    EXPECT_EQ(+f.dataSize.value, c.size);
    EXPECT_EQ(+f.bytesUsed, c.used);
    EXPECT_EQ(+f.data, c.data_at == kNull ? nullptr : in.data() + c.data_at);
  }
}

// A failed encode leaves the buffer untouched, also for parameter errors.
TEST(FieldCodec, EncodesEverySizeFormByteExact) {
  const char* k16 = "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F";
  const struct {
    uint32_t id;
    uint8_t form;
    uint64_t data_size;
    const char* data;
    uint32_t data_bytes, buffer_size, rc;
    const char* expect;
    uint64_t overflow;
  } cases[] = {
      {0x0B, 4, 0, "00 00 01 00", 4, 32, 0, "0B 04 00 00 01 00", 0},
      {0x50, 0x33, 0, "07", 1, 32, 0, "50 07", 0},                          // fixed: form ignored
      {0x8072, 0, 0, "05 00 00 00", 4, 32, 0, "80 72 05 00 00 00", 0},
      {0x808030, 4, 0, "58 59 5A 00", 4, 32, 0, "80 80 30 04 58 59 5A 00", 0},
      {0x80802F, 0xC0, 0, "", 99, 32, 0, "80 80 2F C0", 0},                 // embedded: no data
      {0x80F401, 0, 0, k16, 16, 32, 0, "80 F4 01 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F", 0},
      {0x0B, 0x80, 0x7F, "", 0, 32, 0, "0B 7F", 0},                         // automatic forms
      {0x0B, 0x80, 0x80, "", 0, 32, 0, "0B 80 80", 0},
      {0x0B, 0xBF, 0x1234, "", 0, 32, 0, "0B 81 34 12", 0},
      {0x0B, 0x80, 0x10000, "", 0, 32, 0, "0B 82 00 00 01 00", 0},
      {0x0B, 0x80, k4G, "AA BB CC", 3, 32, 0, "0B 83 00 00 00 00 01 00 00 00 AA BB CC", 0},
      {0x54, 0, 0, k16, 16, 10, 0, "54 00 01 02 03 04 05 06 07 08", 7},     // cut by the end
      {0x0B, 4, 0, "AA BB CC DD", 4, 2, 0, "0B 04", 4},
      {0x0B, 4, 0, "AA BB", 2, 32, 0, "0B 04 AA BB", 0},                   // rest written later
      {0xC1028304, 0x80, k4G, "", 0, 13, 0, "C1 02 83 04 83 00 00 00 00 01 00 00 00", 0},
      {0xC1028304, 0x80, k4G, "", 0, 12, HVDPUT_OVERFLOW, "", 0},            // 13-byte header
      {0x54, 0, 0, k16, 17, 32, HVDPUT_INVALID_PARAMETER, "", 0},           // above fixed 16
      {0x0B, 4, 0, "01 02 03 04", 5, 32, HVDPUT_INVALID_PARAMETER, "", 0},  // above short form
      {0x0B, 0x80, 2, "01 02", 3, 32, HVDPUT_INVALID_PARAMETER, "", 0},     // above dataSize
      {0x0B, 4, 0, nullptr, 4, 32, HVDPUT_INVALID_PARAMETER, "", 0},        // data needed, null
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expect);
    auto src = c.data ? hex(c.data) : std::vector<uint8_t>{};
    src.resize(64, 0xDD);  // dataBytes may exceed the listed bytes on failure paths
    std::vector<uint8_t> out(c.buffer_size, 0xEE);
    DPDFField f{};
    f.fieldId = c.id;
    f.dataSize.value = c.data_size;
    f.data = c.data ? src.data() : nullptr;
    f.dataOverflow.value = 12345;
    ASSERT_EQ(DPDFPutNextField(out.data(), c.buffer_size, &f, c.form, c.data_bytes), c.rc);
    EXPECT_EQ(+f.dataOverflow.value, c.overflow);
    const auto want = hex(c.expect);
    EXPECT_EQ(to_hex(out.data(), c.rc ? c.buffer_size : +f.bytesUsed),
              c.rc ? to_hex(std::vector<uint8_t>(c.buffer_size, 0xEE)) : to_hex(want));
  }
}

// Every prefix of whole fields of every shape, ending flush against an
// unmapped page: underflow until the bytes a decoder needs before it can
// report the field (`header`), then the field with the rest as overflow.
TEST(FieldCodec, ReadsFieldCutAtEveryPosition) {
  const struct { const char* bytes; size_t header; } fields[] = {
      {"0B 04 00 00 01 00", 2},
      {"80 80 30 04 58 59 5A 00", 4},
      {"80 80 2F C1", 4},
      {"81 F0 FF C5", 3},  // fixed 1 whose value looks like an embedded descriptor
      {"80 F4 01 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F", 3},
      {"00 00 C1 02 83 04 82 03 00 00 00 AA BB CC", 11},
      {"C1 02 41 AA BB", 3},
      {"0B 83 02 00 00 00 00 00 00 00 AA BB", 10},
      {"80 80 19 00", 4},
  };
  for (const auto& w : fields) {
    const auto whole = hex(w.bytes);
    DPDFField full;
    ASSERT_EQ(DPDFGetNextField(whole.data(), static_cast<uint32_t>(whole.size()), &full), 0u);
    ASSERT_EQ(+full.bytesUsed, whole.size());
    for (size_t len = 0; len <= whole.size(); ++len) {
      SCOPED_TRACE(::testing::Message() << w.bytes << " cut to " << len);
      dpxut::test::GuardedBytes at(len);
      if (len) std::memcpy(at.data(), whole.data(), len);
      DPDFField f;
      const uint32_t rc = DPDFGetNextField(at.data(), static_cast<uint32_t>(len), &f);
      ASSERT_EQ(rc, len < w.header ? HVDPUT_BUFFER_UNDERFLOW : 0u);
      EXPECT_EQ(+f.dataOverflow.value, len < w.header ? 0u : whole.size() - len);
      if (rc != 0) continue;
      EXPECT_EQ(+f.fieldId, +full.fieldId);
      EXPECT_EQ(+f.dataSize.value, +full.dataSize.value);
      EXPECT_EQ(+f.bytesUsed, len);
    }
  }
}

// A random identifier that follows the length table.
uint32_t random_id(std::mt19937& rng) {
  auto b = [&](int lo, int hi) { return static_cast<uint32_t>(std::uniform_int_distribution<int>(lo, hi)(rng)); };
  switch (b(0, 4)) {
    case 0: return b(1, 0x7F);
    case 1: return b(0x80, 0xBF) << 8 | b(0, 0x7F);
    case 2: return b(0x80, 0xBF) << 16 | b(0x80, 0xFF) << 8 | b(0, 0xFF);
    case 3: return b(0xC0, 0xFF) << 16 | b(0, 0xFF) << 8 | b(0, 0x7F);
    default: return b(0xC0, 0xFF) << 24 | b(0, 0xFF) << 16 | b(0x80, 0xFF) << 8 | b(0, 0xFF);
  }
}

// Streams of random fields of every identifier length and size form, with
// filler between them, read back field by field.
TEST(FieldCodec, RandomFieldsReadBackEqual) {
  std::mt19937 rng(20240601);
  std::vector<uint8_t> payload(70000), stream(1 << 22);
  for (auto& x : payload) x = static_cast<uint8_t>(rng());
  struct Written {
    uint32_t id;
    uint64_t size;
    const uint8_t* data;  // null for the embedded form
    uint8_t form;
  };
  for (int round = 0; round < 50; ++round) {
    std::vector<Written> written;
    uint32_t pos = 0;
    for (int i = 0; i < 200; ++i) {
      DPDFField f{};
      f.fieldId = random_id(rng);
      f.data = payload.data() + rng() % 64;
      // A fixed-size identifier sets dataSize when it is written.
      f.dataSize.value = 999;
      DPDFField probe = f;
      uint8_t tiny[8];
      ASSERT_EQ(DPDFPutNextField(tiny, sizeof tiny, &probe, 0, 0), 0u);
      const bool fixed = probe.dataSize.value != 999;
      const uint32_t kind = fixed ? 3 : rng() % 8;
      uint8_t form = static_cast<uint8_t>(rng() % 0x80);  // short form
      uint32_t bytes = form;
      if (kind == 0) form = static_cast<uint8_t>(0xC0 + rng() % 0x40), bytes = 0;      // embedded
      if (kind >= 5) form = 0x80, bytes = rng() % (kind == 7 ? 69000 : 600);          // automatic
      if (kind == 3 && fixed) bytes = static_cast<uint32_t>(probe.dataSize.value);
      f.dataSize.value = bytes;
      ASSERT_EQ(DPDFPutNextField(stream.data() + pos, static_cast<uint32_t>(stream.size() - pos), &f, form, bytes), 0u);
      ASSERT_EQ(+f.dataOverflow.value, 0u);
      written.push_back({f.fieldId, kind == 0 ? 1u : bytes, kind == 0 ? nullptr : f.data, form});
      pos += f.bytesUsed;
      if (rng() % 4 == 0) stream[pos++] = 0;  // filler between fields
    }
    uint32_t at = 0;
    for (const auto& w : written) {
      DPDFField f;
      ASSERT_EQ(DPDFGetNextField(stream.data() + at, pos - at, &f), 0u);
      ASSERT_EQ(+f.fieldId, w.id);
      ASSERT_EQ(+f.dataSize.value, w.size);
      ASSERT_EQ(+f.dataOverflow.value, 0u);
      if (w.data == nullptr) {
        ASSERT_EQ(+f.data[0], w.form);
      } else if (w.size) {
        ASSERT_EQ(std::memcmp(+f.data, w.data, w.size), 0);
      }
      at += f.bytesUsed;
    }
    DPDFField rest;
    EXPECT_EQ(DPDFGetNextField(stream.data() + at, pos - at, &rest), HVDPUT_BUFFER_UNDERFLOW);
  }
}

TEST(Uint64, BuildsNarrowsAndConvertsWithOverflowChecks) {
  UINT64 v;
  const uint8_t bytes[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(DPDFSetUINT64(&v, bytes, 8), 0u);
  EXPECT_EQ(+v.half.low, 0x04030201u);
  EXPECT_EQ(+v.half.high, 0x08070605u);
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
      {k4G + 1, "01", HVDPUT_OVERFLOW, 77},                    // upper half set
  };
  for (const auto& c : values) {
    const auto data = hex(c.bytes);
    v.value = c.size;
    out = 77;
    EXPECT_EQ(DPDFSetUINT32Data(&v, data.data(), &out), c.rc) << c.bytes;
    EXPECT_EQ(out, c.value) << c.bytes;
  }
}

TEST(Uint64, AddsAndSubtractsWithCarryAndBorrowChecks) {
  const struct { uint64_t a, b; uint32_t add_rc; uint64_t sum; uint32_t sub_rc; uint64_t diff; } cases[] = {
      {3, 4, 0, 7, HVDPUT_BUFFER_UNDERFLOW, 0x5555},
      {UINT64_MAX, 1, HVDPUT_OVERFLOW, 0, 0, UINT64_MAX - 1},
      {0xFFFFFFFFu, 1, 0, k4G, 0, 0xFFFFFFFEu},
  };
  for (const auto& c : cases) {
    UINT64 a, b, r;
    a.value = c.a;
    b.value = c.b;
    r.value = 0x5555;
    EXPECT_EQ(DPDFSubUINT64(&a, &b, &r), c.sub_rc);
    EXPECT_EQ(+r.value, c.diff);
    EXPECT_EQ(DPDFAddUINT64(&a, &b, &a), c.add_rc);  // sum may be an operand
    EXPECT_EQ(+a.value, c.sum);
  }
  UINT64 v;
  v.value = 0xFFFFFFFFu;
  EXPECT_EQ(DPDFIncrementUINT64(&v, 2), 0u);
  EXPECT_EQ(DPDFDecrementUINT64(&v, 0xFFFFFFFFu), 0u);
  EXPECT_EQ(DPDFDecrementUINT64(&v, 3), HVDPUT_BUFFER_UNDERFLOW);
  EXPECT_EQ(+v.value, 2u);
  v.value = UINT64_MAX;
  EXPECT_EQ(DPDFIncrementUINT64(&v, 1), HVDPUT_OVERFLOW);
  EXPECT_EQ(+v.value, 0u);
}

}  // namespace
