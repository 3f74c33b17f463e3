// Records written and read back as a host does it, for the record tests and
// the record fuzz targets: a description (values, dates, extension, names)
// written with HVDPSetNewRecordHeader, and a reader that feeds the bytes in
// two buffers split anywhere, each an exact-size heap copy so the sanitizers
// see any read beyond it. No test framework here: the fuzz targets use it.
#pragma once

#include <dpxut.h>

#include <algorithm>
#include <cstddef>
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
  bool shortHeader = false, checkValues = false;
  uint32_t values[5] = {};
  uint8_t bytes[3] = {};
  uint32_t dates[4] = {};
  std::vector<uint8_t> extension;
  uint8_t byteValue = 0;
  std::vector<RecordName> names;
};

// What a reader got out of a record.
struct RecordRead {
  uint32_t rc = 0, shortHeader = 0, headerLength = 0, recordLength = 0, state = 0;
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

// Owns what a record description points to and releases it.
struct RecordInfo {
  HVDPRecordHeaderInfo info{};
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

// The values, bytes and dates of a block lie at fixed offsets.
inline uint8_t* block_at(const HVDPDataSetInfo* block, size_t offset) {
  return reinterpret_cast<uint8_t*>(const_cast<HVDPDataSetInfo*>(block)) + offset;
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
  std::memcpy(block_at(block, offsetof(HVDPDataSetInfo, value1)), d.values, sizeof d.values);
  std::memcpy(block_at(block, offsetof(HVDPDataSetInfo, byte1)), d.bytes, sizeof d.bytes);
  std::memcpy(block_at(block, offsetof(HVDPDataSetInfo, dateTime1)), d.dates, sizeof d.dates);
  block->extensionLength = static_cast<uint16_t>(d.extension.size());
  std::copy(d.extension.begin(), d.extension.end(), block_at(block, HVDP_DATA_SET_INFO_FIXED));
  // The name functions take the address of a pointer variable, which a
  // packed member is not: the buffer is built in a local and stored after.
  HVDPNameBuffer* names = nullptr;
  HVDPNameHandle* handle = nullptr;
  uint32_t rc = 0;
  for (const RecordName& n : d.names) {
    const void* bytes = n.bytes.empty() ? "" : static_cast<const void*>(n.bytes.data());
    const auto length = static_cast<uint32_t>(n.bytes.size());
    if (rc == 0)
      rc = handle == nullptr ? HVDPPutFirstLName(&names, n.nameSpace, 0, 0, nullptr, nullptr, length, bytes, &handle)
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
  out.assign(256 + d.extension.size() + 320 * d.names.size(), 0);  // names of at most 280 bytes
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
  std::memcpy(r.values, block_at(b, offsetof(HVDPDataSetInfo, value1)), sizeof r.values);
  std::memcpy(r.bytes, block_at(b, offsetof(HVDPDataSetInfo, byte1)), sizeof r.bytes);
  std::memcpy(r.dates, block_at(b, offsetof(HVDPDataSetInfo, dateTime1)), sizeof r.dates);
  const uint8_t* ext = block_at(b, HVDP_DATA_SET_INFO_FIXED);
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
  if (r.rc == HVDPUT_BUFFER_UNDERFLOW) {
    joined = exact_copy(stream.data(), stream.size());
    position = joined.get();
    size = static_cast<uint32_t>(stream.size());
    r.rc = HVDPGetRecordHeaderOnly(&position, &size, &info);
  }
  if (r.rc != 0) return r;
  const uint8_t* base = joined ? joined.get() : first.get();
  r.rc = HVDPGetDataSetInfo(&position, &size, &info);
  size_t consumed = static_cast<size_t>(position - base);
  if (r.rc == 0 && info.state == HVDP_STATE_SAVED && !joined) {
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
      n.bytes.erase(std::find(n.bytes.begin(), n.bytes.end(), 0), n.bytes.end());
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
