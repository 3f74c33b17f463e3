// Field codec rates on the fields a record header is made of: a short
// number, a fixed-size time stamp, a text, a flag and a 300-byte value with
// two size bytes; encoding and decoding one field per iteration, and a whole
// section read with DPDFGetFields. A host would otherwise hand-roll these
// with memcpy, shown as the baseline for the copy work.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "dpxut.h"

namespace {

struct Sample {
  const char* name;
  uint32_t id;
  uint8_t form;
  uint32_t bytes;
};
const Sample kSamples[] = {
    {"number 0x0B", 0x0B, 4, 4},        {"stamp 0x80F401", 0x80F401, 0, 16},
    {"text 0x808030", 0x808030, 32, 32}, {"flag 0x80802F", 0x80802F, 0xC1, 0},
    {"value 0x81EFFD", 0x81EFFD, 0x80, 300},
};
uint8_t g_src[512];

DPDFField sample_field(const Sample& s) {
  DPDFField f{};
  f.fieldId = s.id;
  f.data = g_src;
  f.dataSize.value = s.bytes;
  return f;
}

void BM_Encode(benchmark::State& state) {
  const Sample& s = kSamples[state.range(0)];
  state.SetLabel(s.name);
  uint8_t out[512];
  DPDFField f = sample_field(s);
  for (auto _ : state) {
    benchmark::DoNotOptimize(DPDFPutNextField(out, sizeof out, &f, s.form, s.bytes));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Decode(benchmark::State& state) {
  const Sample& s = kSamples[state.range(0)];
  state.SetLabel(s.name);
  uint8_t buf[512];
  DPDFField f = sample_field(s);
  DPDFPutNextField(buf, sizeof buf, &f, s.form, s.bytes);
  const uint32_t used = f.bytesUsed;
  for (auto _ : state) {
    DPDFField r;
    benchmark::DoNotOptimize(DPDFGetNextField(buf, used, &r));
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_MemcpyBaseline(benchmark::State& state) {
  const Sample& s = kSamples[state.range(0)];
  state.SetLabel(s.name);
  uint8_t out[512];
  for (auto _ : state) {
    std::memcpy(out, g_src, s.bytes);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

// A data-set-like section of 12 members read into a table of 8 rows.
void BM_GetFieldsSection(benchmark::State& state) {
  std::vector<DPDFPutEntry> put(14);
  put[0].field.fieldId = 0x813F;
  for (int i = 1; i <= 12; ++i) {
    put[i].field.fieldId = 0x81F2F0 + i;  // fixed size 4
    put[i].field.data = g_src;
    put[i].dataBytes = 4;
  }
  put[13].field.fieldId = DPDF_END_OF_TABLE;
  uint8_t buf[256];
  uint8_t* pos = buf;
  uint32_t left = sizeof buf;
  DPDFPutFields(put.data(), &pos, &left, 1);
  const auto length = static_cast<uint32_t>(pos - buf);
  uint32_t dest[8];
  for (auto _ : state) {
    DPDFGetEntry get[9] = {};
    for (int i = 0; i < 8; ++i) get[i] = DPDFGetEntry{0x81F2F1u + i, &dest[i], 4, 0};
    get[8].fieldId = DPDF_END_OF_TABLE;
    uint8_t* p = buf;
    uint32_t n = length;
    benchmark::DoNotOptimize(DPDFGetFields(0x813F, get, &p, &n));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_Encode)->DenseRange(0, 4);
BENCHMARK(BM_Decode)->DenseRange(0, 4);
BENCHMARK(BM_MemcpyBaseline)->DenseRange(0, 4);
BENCHMARK(BM_GetFieldsSection);
