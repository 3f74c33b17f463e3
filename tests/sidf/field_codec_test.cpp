// Field codec: byte-exact decode and encode tables, fields cut at every
// position (also flush against an unmapped page), random round trips, and
// the UINT64 arithmetic.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "dpxut.h"
#include "hex.h"

namespace {

using dpxut::test::hex;
using dpxut::test::to_hex;

constexpr uint64_t k4G = 0x100000000ull;
constexpr int kNull = -1;  // data pointer expected null

struct DecodeCase {
  const char* bytes;
  uint32_t rc, id;
  uint64_t size;
  int data_at;  // offset of data in the buffer, or kNull
  uint32_t used;
  uint64_t overflow;
};

TEST(FieldCodec, DecodesEveryIdentifierAndSizeForm) {
  const DecodeCase cases[] = {
      {"0B 04 00 00 01 00", 0, 0x0B, 4, 2, 6, 0},                    // short form size 4
      {"50 07", 0, 0x50, 1, 1, 2, 0},                                // fixed 1
      {"80 72 05 00 00 00", 0, 0x8072, 4, 2, 6, 0},                  // 2-byte, fixed 4
      {"80 80 30 04 58 59 5A 00", 0, 0x808030, 4, 4, 8, 0},          // 3-byte long, text XYZ
      {"80 80 2F C1", 0, 0x80802F, 1, 3, 4, 0},                      // embedded: value is C1
      {"80 2F FF", 0, 0x802F, 1, 2, 3, 0},                           // embedded after 2-byte id
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
      {"0B 80 02 AA BB", 0, 0x0B, 2, 3, 5, 0},                       // 1 size byte
      {"0B BD 03 00 AA BB CC", 0, 0x0B, 3, 4, 7, 0},                 // bits 2-5 of BD ignored
      {"0B 82 01 00 00 00 AA", 0, 0x0B, 1, 6, 7, 0},                 // 4 size bytes
      {"0B 83 00 00 00 00 01 00 00 00", 0, 0x0B, k4G, 10, 10, k4G},  // 2^32: always cut
      {"C1 02 03 02 AA BB", 0, 0xC10203, 2, 4, 6, 0},                // 3-byte short
      {"C1 02 41 AA BB", 0, 0xC10241, 2, 3, 5, 0},                   // 3-byte short, fixed 2
      {"C1 02 83 04 01 AA", 0, 0xC1028304, 1, 5, 6, 0},              // 4-byte long
      {"C1 02 F2 05 01 02 03 04", 0, 0xC102F205, 4, 4, 8, 0},        // 4-byte long, fixed 4
      {"7F AA", 0, 0x7F, 128, 1, 2, 127},                            // fixed 128, cut
      {"", HVDPUT_BUFFER_UNDERFLOW, 0, 0, 0, 0, 0},
      {"00 00 00", HVDPUT_BUFFER_UNDERFLOW, 0, 0, 0, 0, 0},                         // only filler
      {"80", HVDPUT_BUFFER_UNDERFLOW, 0, 0, 0, 0, 0},                               // inside identifier
      {"C0 01", HVDPUT_BUFFER_UNDERFLOW, 0, 0, 0, 0, 0},
      {"C0 01 80", HVDPUT_BUFFER_UNDERFLOW, 0, 0, 0, 0, 0},
      {"0B", HVDPUT_BUFFER_UNDERFLOW, 0, 0, 0, 0, 0},                               // no descriptor
      {"0B 81 2C", HVDPUT_BUFFER_UNDERFLOW, 0, 0, 0, 0, 0},                         // 1 of 2 size bytes
      {"0B 83 01 02 03 04 05 06 07", HVDPUT_BUFFER_UNDERFLOW, 0, 0, 0, 0, 0},
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
    if (c.data_at == kNull) {
      EXPECT_EQ(+f.data, nullptr);
    } else {
      EXPECT_EQ(+f.data, in.data() + c.data_at);
    }
  }
}

struct EncodeCase {
  uint32_t id;
  uint8_t form;
  uint64_t data_size;
  const char* data;
  uint32_t data_bytes, buffer_size, rc;
  const char* expect;  // bytes written (buffer untouched on failure except where noted)
  uint64_t overflow;
};

TEST(FieldCodec, EncodesEverySizeFormByteExact) {
  const char* k16 = "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F";
  const EncodeCase cases[] = {
      {0x0B, 4, 0, "00 00 01 00", 4, 32, 0, "0B 04 00 00 01 00", 0},
      {0x50, 0x33, 0, "07", 1, 32, 0, "50 07", 0},                          // fixed: form ignored
      {0x8072, 0, 0, "05 00 00 00", 4, 32, 0, "80 72 05 00 00 00", 0},
      {0x808030, 4, 0, "58 59 5A 00", 4, 32, 0, "80 80 30 04 58 59 5A 00", 0},
      {0x80802F, 0xC1, 0, "", 5, 32, 0, "80 80 2F C1", 0},                  // embedded: no data
      {0x80802F, 0xC0, 0, "", 99, 32, 0, "80 80 2F C0", 0},
      {0x80F401, 0, 0, k16, 16, 32, 0, "80 F4 01 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F", 0},
      {0xC10241, 0, 0, "AA BB", 2, 32, 0, "C1 02 41 AA BB", 0},
      {0x0B, 0x80, 0x7F, "", 0, 32, 0, "0B 7F", 0},                         // automatic forms
      {0x0B, 0x80, 0x80, "", 0, 32, 0, "0B 80 80", 0},
      {0x0B, 0xBF, 0x1234, "", 0, 32, 0, "0B 81 34 12", 0},
      {0x0B, 0x80, 0x10000, "", 0, 32, 0, "0B 82 00 00 01 00", 0},
      {0x0B, 0x80, k4G, "", 0, 32, 0, "0B 83 00 00 00 00 01 00 00 00", 0},
      {0x0B, 0x80, k4G, "AA BB CC", 3, 32, 0, "0B 83 00 00 00 00 01 00 00 00 AA BB CC", 0},
      {0x54, 0, 0, k16, 16, 10, 0, "54 00 01 02 03 04 05 06 07 08", 7}, // cut by the end
      {0x0B, 4, 0, "AA BB CC DD", 4, 2, 0, "0B 04", 4},
      {0x0B, 4, 0, "AA BB", 2, 32, 0, "0B 04 AA BB", 0},                   // rest written later
      {0xC1028304, 0x80, k4G, "", 0, 13, 0, "C1 02 83 04 83 00 00 00 00 01 00 00 00", 0},
      {0xC1028304, 0x80, k4G, "", 0, 12, HVDPUT_OVERFLOW, "", 0},            // 13-byte header
      {0x808030, 4, 0, "", 0, 2, HVDPUT_OVERFLOW, "", 0},
      {0x54, 0, 0, k16, 17, 32, HVDPUT_INVALID_PARAMETER, "", 0},           // above fixed 16
      {0x0B, 4, 0, "01 02 03 04", 5, 32, HVDPUT_INVALID_PARAMETER, "", 0},  // above short form
      {0x0B, 0x80, 2, "01 02", 3, 32, HVDPUT_INVALID_PARAMETER, "", 0},     // above dataSize
      {0x0B, 4, 0, nullptr, 4, 32, HVDPUT_INVALID_PARAMETER, "", 0},        // data needed, null
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(to_hex(hex(c.expect)));
    const auto src = c.data ? hex(c.data) : std::vector<uint8_t>{};
    std::vector<uint8_t> src_padded(src);
    src_padded.resize(64, 0xDD);  // dataBytes may exceed the listed bytes on failure paths
    std::vector<uint8_t> out(c.buffer_size, 0xEE);
    DPDFField f{};
    f.fieldId = c.id;
    f.dataSize.value = c.data_size;
    f.data = c.data ? src_padded.data() : nullptr;
    f.dataOverflow.value = 12345;
    ASSERT_EQ(DPDFPutNextField(out.data(), c.buffer_size, &f, c.form, c.data_bytes), c.rc);
    EXPECT_EQ(+f.dataOverflow.value, c.overflow);
    if (c.rc != 0) {
      EXPECT_EQ(out, std::vector<uint8_t>(c.buffer_size, 0xEE));
      continue;
    }
    const auto want = hex(c.expect);
    ASSERT_EQ(+f.bytesUsed, want.size());
    EXPECT_EQ(to_hex(out.data(), +f.bytesUsed), to_hex(want));
  }
}

TEST(FieldCodec, FixedSizeIdentifierGetsItsSizeWhenEncoded) {
  uint8_t out[8];
  DPDFField f{};
  f.fieldId = 0x8072;
  const uint8_t v[4] = {5, 0, 0, 0};
  f.data = v;
  ASSERT_EQ(DPDFPutNextField(out, sizeof out, &f, 0x80, 4), 0u);
  EXPECT_EQ(+f.dataSize.value, 4u);
}

// Whole fields of every shape, with the bytes a decoder needs before it
// can report the field (identifier and descriptor, all of an embedded one).
struct WholeField {
  const char* bytes;
  size_t header;
};
const WholeField kWholeFields[] = {
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

// Decodes every prefix of a whole field placed so that its last byte is the
// last byte before `limit`; the decoder may touch nothing at or past it.
void decode_every_prefix(const WholeField& w, uint8_t* limit) {
  const auto whole = hex(w.bytes);
  DPDFField full;
  ASSERT_EQ(DPDFGetNextField(whole.data(), static_cast<uint32_t>(whole.size()), &full), 0u);
  ASSERT_EQ(+full.bytesUsed, whole.size());
  for (size_t len = 0; len <= whole.size(); ++len) {
    SCOPED_TRACE(len);
    uint8_t* at = limit - len;
    std::memcpy(at, whole.data(), len);
    DPDFField f;
    const uint32_t rc = DPDFGetNextField(at, static_cast<uint32_t>(len), &f);
    EXPECT_EQ(+f.dataOverflow.value, len < w.header ? 0u : whole.size() - len);
    if (len < w.header) {
      EXPECT_EQ(rc, HVDPUT_BUFFER_UNDERFLOW);
      continue;
    }
    ASSERT_EQ(rc, 0u);
    EXPECT_EQ(+f.fieldId, +full.fieldId);
    EXPECT_EQ(+f.dataSize.value, +full.dataSize.value);
    EXPECT_EQ(+f.bytesUsed, len);
  }
}

TEST(FieldCodec, ReadsFieldCutAtEveryPosition) {
  for (const auto& w : kWholeFields) {
    SCOPED_TRACE(w.bytes);
    std::vector<uint8_t> room(hex(w.bytes).size());
    decode_every_prefix(w, room.data() + room.size());
  }
}

TEST(FieldCodec, NeverReadsPastABufferEndingAtAnUnmappedPage) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* map = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(map, MAP_FAILED);
  auto* base = static_cast<uint8_t*>(map);
  ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);
  for (const auto& w : kWholeFields) {
    SCOPED_TRACE(w.bytes);
    decode_every_prefix(w, base + page);
  }
  munmap(map, 2 * page);
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

TEST(FieldCodec, RandomFieldsReadBackEqual) {
  std::mt19937 rng(20240601);
  std::vector<uint8_t> payload(70000);
  for (auto& x : payload) x = static_cast<uint8_t>(rng());
  struct Written {
    uint32_t id;
    uint64_t size;
    uint32_t offset;  // into payload, or the embedded value
    bool embedded;
  };
  std::vector<uint8_t> stream(1 << 22);
  for (int round = 0; round < 50; ++round) {
    std::vector<Written> written;
    uint32_t pos = 0;
    for (int i = 0; i < 200; ++i) {
      DPDFField f{};
      f.fieldId = random_id(rng);
      const int kind = static_cast<int>(rng() % 8);
      uint8_t form = static_cast<uint8_t>(rng() % 0x80);
      uint64_t size = form;
      if (kind == 0) form = static_cast<uint8_t>(0xC0 + rng() % 0x40);
      if (kind >= 5) {
        form = static_cast<uint8_t>(0x80 + rng() % 0x40);
        size = kind == 7 ? rng() % payload.size() : rng() % 600;
      }
      f.dataSize.value = size;
      const uint32_t offset = static_cast<uint32_t>(rng() % 64);
      f.data = payload.data() + offset;
      // A fixed-size identifier has no descriptor: probing it with an empty
      // short form writes the identifier alone and reports its size.
      DPDFField probe = f;
      uint8_t tiny[8];
      ASSERT_EQ(DPDFPutNextField(tiny, sizeof tiny, &probe, 0, 0), 0u);
      const uint32_t id_len = f.fieldId > 0xFFFFFF ? 4 : f.fieldId > 0xFFFF ? 3 : f.fieldId > 0xFF ? 2 : 1;
      const bool fixed = probe.bytesUsed == id_len;
      const bool embedded = form >= 0xC0 && !fixed;
      if (fixed) size = probe.dataSize.value;
      if (fixed || size + offset > payload.size()) size = std::min<uint64_t>(size, payload.size() - offset);
      const uint32_t bytes = embedded ? 0 : static_cast<uint32_t>(size);
      ASSERT_EQ(DPDFPutNextField(stream.data() + pos, static_cast<uint32_t>(stream.size() - pos), &f, form, bytes), 0u);
      ASSERT_EQ(+f.dataOverflow.value, 0u);
      written.push_back({f.fieldId, embedded ? 1 : size, embedded ? form : offset, embedded});
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
      if (w.embedded) {
        ASSERT_EQ(+f.data[0], w.offset);
      } else if (w.size) {
        ASSERT_EQ(std::memcmp(+f.data, payload.data() + w.offset, w.size), 0);
      }
      at += f.bytesUsed;
    }
    DPDFField rest;
    EXPECT_EQ(DPDFGetNextField(stream.data() + at, pos - at, &rest), HVDPUT_BUFFER_UNDERFLOW);
  }
}

TEST(Uint64, BuildsAndNarrowsWithOverflowChecks) {
  UINT64 v;
  const uint8_t bytes[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(DPDFSetUINT64(&v, bytes, 3), 0u);
  EXPECT_EQ(+v.value, 0x030201u);
  EXPECT_EQ(+v.half.low, 0x030201u);
  EXPECT_EQ(DPDFSetUINT64(&v, bytes, 8), 0u);
  EXPECT_EQ(+v.half.high, 0x08070605u);
  EXPECT_EQ(DPDFSetUINT64(&v, bytes, 9), HVDPUT_OVERFLOW);
  EXPECT_EQ(+v.value, 0u);
  v.value = 7;
  EXPECT_EQ(DPDFSetUINT64(&v, nullptr, 4), 0u);
  EXPECT_EQ(+v.value, 0u);

  uint32_t out = 99;
  v.value = 0xFFFFFFFFu;
  EXPECT_EQ(DPDFGetUINT64(&v, &out), 0u);
  EXPECT_EQ(out, 0xFFFFFFFFu);
  v.value = k4G;
  out = 99;
  EXPECT_EQ(DPDFGetUINT64(&v, &out), HVDPUT_OVERFLOW);
  EXPECT_EQ(out, 99u);
}

TEST(Uint64, AddsAndSubtractsWithCarryAndBorrowChecks) {
  struct Case {
    uint64_t a, b;
    uint32_t add_rc;
    uint64_t sum;
    uint32_t sub_rc;
    uint64_t diff;
  };
  const Case cases[] = {
      {3, 4, 0, 7, HVDPUT_BUFFER_UNDERFLOW, 0},
      {4, 3, 0, 7, 0, 1},
      {UINT64_MAX, 1, HVDPUT_OVERFLOW, 0, 0, UINT64_MAX - 1},
      {0xFFFFFFFFu, 1, 0, k4G, 0, 0xFFFFFFFEu},
      {k4G, k4G, 0, 2 * k4G, 0, 0},
  };
  for (const auto& c : cases) {
    UINT64 a, b, r;
    a.value = c.a;
    b.value = c.b;
    r.value = 0x5555;
    EXPECT_EQ(DPDFAddUINT64(&a, &b, &r), c.add_rc);
    EXPECT_EQ(+r.value, c.sum);
    r.value = 0x5555;
    EXPECT_EQ(DPDFSubUINT64(&a, &b, &r), c.sub_rc);
    EXPECT_EQ(+r.value, c.sub_rc ? 0x5555 : c.diff);
    EXPECT_EQ(DPDFAddUINT64(&a, &b, &a), c.add_rc);  // sum may be an operand
    EXPECT_EQ(+a.value, c.sum);
  }
  UINT64 v;
  v.value = 0xFFFFFFFFu;
  EXPECT_EQ(DPDFIncrementUINT64(&v, 2), 0u);
  EXPECT_EQ(+v.value, k4G + 1);
  EXPECT_EQ(DPDFDecrementUINT64(&v, 0xFFFFFFFFu), 0u);
  EXPECT_EQ(+v.value, 2u);
  EXPECT_EQ(DPDFDecrementUINT64(&v, 3), HVDPUT_BUFFER_UNDERFLOW);
  EXPECT_EQ(+v.value, 2u);
  v.value = UINT64_MAX;
  EXPECT_EQ(DPDFIncrementUINT64(&v, 1), HVDPUT_OVERFLOW);
  EXPECT_EQ(+v.value, 0u);
}

TEST(Uint64, ConvertsFieldValuesOfUpToEightBytes) {
  struct Case {
    uint64_t size;
    const char* bytes;
    uint32_t rc, value;
  };
  const Case cases[] = {
      {3, "01 02 03", 0, 0x030201},
      {0, "", 0, 0},
      {4, "FF FF FF FF", 0, 0xFFFFFFFF},
      {8, "01 02 03 04 00 00 00 00", 0, 0x04030201},
      {8, "01 00 00 00 01 00 00 00", HVDPUT_OVERFLOW, 77},
      {5, "00 00 00 00 01", HVDPUT_OVERFLOW, 77},
      {9, "01 00 00 00 00 00 00 00 00", HVDPUT_OVERFLOW, 77},  // longer values refused
      {k4G + 1, "01", HVDPUT_OVERFLOW, 77},                    // upper half set
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    const auto data = hex(c.bytes);
    UINT64 size;
    size.value = c.size;
    uint32_t out = 77;
    EXPECT_EQ(DPDFSetUINT32Data(&size, data.data(), &out), c.rc);
    EXPECT_EQ(out, +c.value);
  }
}

}  // namespace
