// Record header writing rate, in records per second: one data set with its
// name in three forms (locale bytes, UTF-8, wide characters), all values,
// four dates and an extension, written with HVDPSetNewRecordHeader and
// completed with HVDPUpdateRecordHeader, as a backup program does for every
// file. The zone comes from an unset TZ (the system's zone file) or from
// TZ=UTC. Beside it, the date work alone done the way a host would without
// the library: the record's stamp and its four dates, each through tzset()
// and localtime_r. Last, the current offset of SetTZOffset beside the
// same through tzset() and localtime_r.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>

#include "dpxut.h"

namespace {

constexpr uint32_t kDates[4] = {0x586F6DAF, 0x586F6DB0, 0x58AF6DAF, 0x58EF0000};  // 2024 local times

void use_tz(const benchmark::State& state) {
  if (state.range(0) == 0) {
    ::unsetenv("TZ");
  } else {
    ::setenv("TZ", "UTC", 1);
  }
  ::tzset();
}

const char* tz_label(const benchmark::State& state) { return state.range(0) == 0 ? "TZ unset" : "TZ=UTC"; }

// The description and its name buffer, built once as the host builds them
// before the header is written.
struct Record {
  HVDPRecordHeaderInfo info{};

  Record() {
    const size_t extension = 24;
    auto* block = static_cast<HVDPDataSetInfo*>(std::calloc(1, HVDP_DATA_SET_INFO_FIXED + extension + 1));
    block->bufferSize = HVDP_DATA_SET_INFO_FIXED + extension;
    block->value1 = 0x20;
    block->value2 = 4096;
    block->value3 = 1000;
    block->value4 = 100;
    block->value5 = 0x1A4;
    block->byte1 = 1;
    block->dateTime1 = kDates[0];
    block->dateTime2 = kDates[1];
    block->dateTime3 = kDates[2];
    block->dateTime4 = kDates[3];
    block->extensionLength = extension;
    std::memset(block->extensionData, 0x5A, extension);
    info.dataSetInfo = block;
    info.byteValue = 7;

    HVDPNameBuffer* names = nullptr;
    HVDPNameHandle* handle = nullptr;
    HVDPPutFirstName(&names, 0, 0, 0, "VOL:", "/", "VOL:home/user/docs/report-2024.txt", &handle);
    HVDPPutNextName(&names, &handle, 0x100, 0, 0, "VOL:", "/", "VOL:home/user/docs/r\xC3\xA9sum\xC3\xA9.txt");
    HVDPPutNextName(&names, &handle, 0x200, 0, 0, L"VOL:", L"/", L"VOL:home/user/docs/report-2024.txt");
    HVDPCloseName(&handle);
    info.nameBuffer = names;
  }
  ~Record() {
    std::free(info.nameBuffer);
    std::free(info.dataSetInfo);
  }
};

void BM_WriteRecord(benchmark::State& state) {
  use_tz(state);
  state.SetLabel(tz_label(state));
  Record record;
  uint8_t out[1024];
  for (auto _ : state) {
    uint8_t* position = out;
    uint32_t size = sizeof out, written = 0;
    if (HVDPSetNewRecordHeader(&position, &size, &written, 1, &record.info) != 0) {
      state.SkipWithError("record not written");
      break;
    }
    record.info.recordLength += 4096;  // the data the host writes after the header
    HVDPUpdateRecordHeader(&record.info);
    benchmark::DoNotOptimize(written);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

// The baseline: the present time and the four dates broken down as local
// time, each after tzset() so that a changed zone is followed.
void BM_DatesThroughTzset(benchmark::State& state) {
  use_tz(state);
  state.SetLabel(tz_label(state));
  for (auto _ : state) {
    struct tm t {};
    time_t moments[5] = {::time(nullptr), 1710510330, 1710510332, 1715780730, 1717545600};
    long sum = 0;
    for (time_t m : moments) {
      ::tzset();
      localtime_r(&m, &t);
      sum += t.tm_gmtoff + t.tm_hour;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations());
}

// The server's current offset, asked for as a host asks before it writes
// a session (SetTZOffset), beside the tzset() and localtime_r it stands for.
void BM_CurrentOffset(benchmark::State& state) {
  use_tz(state);
  state.SetLabel(tz_label(state));
  for (auto _ : state) benchmark::DoNotOptimize(SetTZOffset());
  state.SetItemsProcessed(state.iterations());
}

void BM_CurrentOffsetThroughTzset(benchmark::State& state) {
  use_tz(state);
  state.SetLabel(tz_label(state));
  for (auto _ : state) {
    ::tzset();
    const time_t now = ::time(nullptr);
    struct tm t {};
    localtime_r(&now, &t);
    benchmark::DoNotOptimize(t.tm_gmtoff);
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_WriteRecord)->Arg(0)->Arg(1);
BENCHMARK(BM_DatesThroughTzset)->Arg(0)->Arg(1);
BENCHMARK(BM_CurrentOffset)->Arg(0)->Arg(1);
BENCHMARK(BM_CurrentOffsetThroughTzset)->Arg(0)->Arg(1);
