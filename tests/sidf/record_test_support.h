// Records written and read back as a host does it, for the record tests and
// the record fuzz targets: a description (values, dates, extension, names)
// written with HVDPSetNewRecordHeader, and a reader that feeds the bytes in
// two buffers split anywhere, each an exact-size heap copy so the sanitizers
// see any read beyond it. No test framework here: the fuzz targets use it.
#pragma once

#include <dpxut.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "charset/namespace.h"

namespace dpxut::test {

struct RecordName {
  uint32_t nameSpace = 0;
  std::vector<uint8_t> bytes;  // nameLength bytes as put into the buffer
  bool operator==(const RecordName&) const = default;
};

struct RecordDescription {
  bool shortHeader = false;
  bool checkValues = false;
  uint32_t values[5] = {};
  uint8_t bytes[3] = {};
  uint32_t dates[4] = {};
  std::vector<uint8_t> extension;
  uint8_t byteValue = 0;
  std::vector<RecordName> names;
};

// What a reader got out of a record.
struct RecordRead {
  uint32_t rc = 0;
  uint32_t shortHeader = 0;
  uint32_t headerLength = 0;
  uint32_t recordLength = 0;
  uint32_t state = 0;
  uint32_t values[5] = {};
  uint8_t bytes[3] = {};
  uint32_t dates[4] = {};
  std::vector<uint8_t> extension;
  uint16_t dataSize = 0;
  uint32_t byteValue = 0;
  std::vector<RecordName> names;
  size_t consumed = 0;  // bytes of the stream behind the section
  bool operator==(const RecordRead&) const = default;
};

// A copy of a member of a packed record: gtest's comparisons bind
// references, which a packed pointer member cannot take.
template <typename T>
T val(T member) {
  return member;
}

// Owns what a record description points to and releases it.
struct RecordInfo {
  HVDPRecordHeaderInfo info{};
  RecordInfo() = default;
  RecordInfo(const RecordInfo&) = delete;
  RecordInfo& operator=(const RecordInfo&) = delete;
  ~RecordInfo() {
    std::free(info.nameBuffer);
    std::free(info.dataSetInfo);
    std::free(info.savedData);
  }
};

// Exactly n bytes on the heap.
inline std::unique_ptr<uint8_t[]> exact_copy(const uint8_t* p, size_t n) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[n ? n : 1]);
  if (n != 0) std::memcpy(copy.get(), p, n);
  return copy;
}

// Fills the name buffer and block of `record` from `d`. Returns the first
// failing code of the name buffer, or 0.
inline uint32_t prepare_record(const RecordDescription& d, RecordInfo& record) {
  HVDPRecordHeaderInfo& info = record.info;
  info.shortHeader = d.shortHeader ? 1 : 0;
  info.byteValue = d.byteValue;
  const size_t block_size = HVDP_DATA_SET_INFO_FIXED + d.extension.size() + 1;
  auto* block = static_cast<HVDPDataSetInfo*>(std::calloc(1, block_size));
  if (block == nullptr) return HVDPUT_OUT_OF_MEMORY;
  info.dataSetInfo = block;
  block->bufferSize = static_cast<uint16_t>(block_size);
  block->value1 = d.values[0];
  block->value2 = d.values[1];
  block->value3 = d.values[2];
  block->value4 = d.values[3];
  block->value5 = d.values[4];
  block->byte1 = d.bytes[0];
  block->byte2 = d.bytes[1];
  block->byte3 = d.bytes[2];
  block->dateTime1 = d.dates[0];
  block->dateTime2 = d.dates[1];
  block->dateTime3 = d.dates[2];
  block->dateTime4 = d.dates[3];
  block->extensionLength = static_cast<uint16_t>(d.extension.size());
  if (!d.extension.empty())
    std::memcpy(reinterpret_cast<uint8_t*>(block) + HVDP_DATA_SET_INFO_FIXED, d.extension.data(),
                d.extension.size());
  // The name functions take the address of a pointer variable, which a
  // packed member is not: the buffer is built in a local and stored after.
  HVDPNameBuffer* names = nullptr;
  HVDPNameHandle* handle = nullptr;
  uint32_t rc = 0;
  for (size_t i = 0; i < d.names.size() && rc == 0; ++i) {
    const RecordName& n = d.names[i];
    static const uint8_t kEmpty[1] = {0};
    const void* bytes = n.bytes.empty() ? kEmpty : n.bytes.data();
    const auto length = static_cast<uint32_t>(n.bytes.size());
    rc = i == 0 ? HVDPPutFirstLName(&names, n.nameSpace, 0, 0, nullptr, nullptr, length, bytes, &handle)
                : HVDPPutNextLName(&names, &handle, n.nameSpace, 0, 0, nullptr, nullptr, length, bytes);
  }
  if (handle != nullptr) HVDPCloseName(&handle);
  info.nameBuffer = names;
  return rc;
}

// Writes the record header of `d` (without data: recordLength is the second
// section's length) and updates it. Returns the writer's code.
inline uint32_t write_record(const RecordDescription& d, std::vector<uint8_t>& out) {
  RecordInfo record;
  if (const uint32_t rc = prepare_record(d, record)) return rc;
  size_t bound = 256 + d.extension.size();
  for (size_t i = 0; i < d.names.size() && i < 10; ++i) bound += d.names[i].bytes.size() + 32;
  out.assign(bound, 0);
  uint8_t* position = out.data();
  auto size = static_cast<uint32_t>(out.size());
  uint32_t written = 0;
  const uint32_t rc = HVDPSetNewRecordHeader(&position, &size, &written, d.checkValues ? 1 : 0, &record.info);
  if (rc != 0) return rc;
  HVDPUpdateRecordHeader(&record.info);
  out.resize(written);
  return 0;
}

// The names of a name buffer in order, each as its nameLength bytes.
inline std::vector<RecordName> names_of(const HVDPNameBuffer* buffer) {
  std::vector<RecordName> names;
  if (buffer == nullptr) return names;
  HVDPNameHandle* handle = nullptr;
  HVDPDataSetName name{};
  for (uint32_t rc = HVDPGetFirstName(buffer, &name, &handle); rc == 0; rc = HVDPGetNextName(&handle, &name)) {
    const auto* p = static_cast<const uint8_t*>(name.name);
    names.push_back({name.nameSpace, std::vector<uint8_t>(p, p + name.nameLength)});
  }
  if (handle != nullptr) HVDPCloseName(&handle);
  return names;
}

inline void take_description(const HVDPRecordHeaderInfo& info, RecordRead& r) {
  r.shortHeader = info.shortHeader;
  r.headerLength = info.headerLength;
  r.recordLength = info.recordLength;
  r.state = info.state;
  r.byteValue = info.byteValue;
  r.names = names_of(info.nameBuffer);
  const HVDPDataSetInfo* b = info.dataSetInfo;
  if (b == nullptr) return;
  const uint32_t values[5] = {b->value1, b->value2, b->value3, b->value4, b->value5};
  std::memcpy(r.values, values, sizeof values);
  r.bytes[0] = b->byte1;
  r.bytes[1] = b->byte2;
  r.bytes[2] = b->byte3;
  const uint32_t dates[4] = {b->dateTime1, b->dateTime2, b->dateTime3, b->dateTime4};
  std::memcpy(r.dates, dates, sizeof dates);
  const auto* ext = reinterpret_cast<const uint8_t*>(b) + HVDP_DATA_SET_INFO_FIXED;
  r.extension.assign(ext, ext + b->extensionLength);
  r.dataSize = b->dataSize;
}

// Reads the record header at the start of `stream` as a host does, the
// stream given in two buffers: [0, split) and [split, end). A first section
// cut by the split is read again from its start joined with the second
// buffer (the host keeps the bytes the reader did not take). A section saved
// by the first call (state 1, whole buffer taken) is completed from the
// second buffer. `record` may come from an earlier read (reused).
inline RecordRead read_record(const std::vector<uint8_t>& stream, size_t split, RecordInfo& record) {
  RecordRead r;
  HVDPRecordHeaderInfo& info = record.info;
  auto first = exact_copy(stream.data(), split);
  auto second = exact_copy(stream.data() + split, stream.size() - split);
  uint8_t* position = first.get();
  auto size = static_cast<uint32_t>(split);
  std::unique_ptr<uint8_t[]> joined;
  r.rc = HVDPGetRecordHeaderOnly(&position, &size, &info);
  bool in_second = false;
  if (r.rc == HVDPUT_BUFFER_UNDERFLOW) {
    joined = exact_copy(stream.data(), stream.size());
    position = joined.get();
    size = static_cast<uint32_t>(stream.size());
    r.rc = HVDPGetRecordHeaderOnly(&position, &size, &info);
    in_second = true;
  }
  if (r.rc != 0) return r;
  const uint8_t* base = in_second ? joined.get() : first.get();
  r.rc = HVDPGetDataSetInfo(&position, &size, &info);
  size_t consumed = static_cast<size_t>(position - base);
  if (r.rc == 0 && info.state == HVDP_STATE_SAVED && !in_second) {
    position = second.get();
    size = static_cast<uint32_t>(stream.size() - split);
    r.rc = HVDPGetDataSetInfo(&position, &size, &info);
    consumed = split + static_cast<size_t>(position - second.get());
  }
  if (r.rc != 0) return r;
  r.consumed = consumed;
  take_description(info, r);
  return r;
}

// What a record written from `d` reads back as. Names: the first ten; a
// wide-character name whole with a wide terminator, any other up to its first
// zero byte and that byte (the 0x12 field's data).
inline std::vector<RecordName> expected_names(const RecordDescription& d) {
  std::vector<RecordName> out;
  for (size_t i = 0; i < d.names.size() && i < 10; ++i) {
    RecordName n = d.names[i];
    if (charset::is_wide_ns(n.nameSpace)) {
      n.bytes.insert(n.bytes.end(), 4, 0);
    } else {
      const auto zero = std::find(n.bytes.begin(), n.bytes.end(), 0);
      n.bytes.erase(zero, n.bytes.end());
      n.bytes.push_back(0);
    }
    out.push_back(std::move(n));
  }
  return out;
}

// True when `r`, read from a whole stream of `size` bytes written from `d`,
// holds what `d` described.
inline bool reads_back(const RecordDescription& d, const RecordRead& r, size_t size) {
  if (r.rc != 0 || r.consumed != size || r.headerLength != size || r.recordLength != 0 ||
      r.shortHeader != (d.shortHeader ? 1u : 0u))
    return false;
  if (d.shortHeader) return true;
  return r.state == HVDP_STATE_DONE && std::memcmp(r.values, d.values, sizeof d.values) == 0 &&
         std::memcmp(r.bytes, d.bytes, sizeof d.bytes) == 0 && std::memcmp(r.dates, d.dates, sizeof d.dates) == 0 &&
         r.extension == d.extension && r.dataSize == 48 + d.extension.size() && r.byteValue == d.byteValue &&
         r.names == expected_names(d);
}

}  // namespace dpxut::test
