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
  uint32_t byteValue = 0;
  std::vector<RecordName> names;
  bool operator==(const RecordDescription&) const = default;
};

// What a reader got out of a record: the codes and lengths, and the record
// as a description (checkValues false).
struct RecordRead {
  uint32_t rc = 0, headerLength = 0, recordLength = 0, state = 0, dataSize = 0;
  size_t consumed = 0;  // bytes of the stream behind the section
  RecordDescription got;
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

// Fills the name buffer and block of `record` from `d`. Returns the first
// failing code of the name buffer, or 0.
inline uint32_t prepare_record(const RecordDescription& d, RecordInfo& record) {
  HVDPRecordHeaderInfo& info = record.info;
  info.shortHeader = d.shortHeader;
  info.byteValue = d.byteValue;
  const size_t block_size = HVDP_DATA_SET_INFO_FIXED + d.extension.size();  // just room for the extension
  info.dataSetInfo = static_cast<HVDPDataSetInfo*>(std::calloc(1, block_size + 1));
  info.dataSetInfo->bufferSize = static_cast<uint16_t>(block_size);
  info.dataSetInfo->extensionLength = static_cast<uint16_t>(d.extension.size());
  // The values, bytes and dates lie at fixed offsets.
  auto* at = reinterpret_cast<uint8_t*>(info.dataSetInfo);
  std::memcpy(at + offsetof(HVDPDataSetInfo, value1), d.values, sizeof d.values);
  std::memcpy(at + offsetof(HVDPDataSetInfo, byte1), d.bytes, sizeof d.bytes);
  std::memcpy(at + offsetof(HVDPDataSetInfo, dateTime1), d.dates, sizeof d.dates);
  std::copy(d.extension.begin(), d.extension.end(), info.dataSetInfo->extensionData);
  // The name functions take the address of a pointer variable, which a
  // packed member is not: the buffer is built in a local and stored after.
  HVDPNameBuffer* names = nullptr;
  HVDPNameHandle* handle = nullptr;
  uint32_t rc = 0;
  for (auto n = d.names.begin(); rc == 0 && n != d.names.end(); ++n) {
    const void* bytes = n->bytes.empty() ? "" : static_cast<const void*>(n->bytes.data());
    const auto length = static_cast<uint32_t>(n->bytes.size());
    rc = handle == nullptr ? HVDPPutFirstLName(&names, n->nameSpace, 0, 0, nullptr, nullptr, length, bytes, &handle)
                           : HVDPPutNextLName(&names, &handle, n->nameSpace, 0, 0, nullptr, nullptr, length, bytes);
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
  if (const uint32_t rc = HVDPSetNewRecordHeader(&position, &size, &written, d.checkValues, &record.info)) return rc;
  HVDPUpdateRecordHeader(&record.info);
  out.resize(written);
  return 0;
}

// The names of a name buffer in order, each as its nameLength bytes.
inline std::vector<RecordName> names_of(const HVDPNameBuffer* buffer) {
  std::vector<RecordName> names;
  HVDPNameHandle* handle = nullptr;
  HVDPDataSetName name{};
  for (uint32_t rc = HVDPGetFirstName(buffer, &name, &handle); rc == 0; rc = HVDPGetNextName(&handle, &name)) {
    const auto* p = static_cast<const uint8_t*>(name.name);
    names.push_back({name.nameSpace, std::vector<uint8_t>(p, p + name.nameLength)});
  }
  if (handle != nullptr) HVDPCloseName(&handle);
  return names;
}

// The lengths, state and description that `info` holds after a read.
inline void take_description(const HVDPRecordHeaderInfo& info, RecordRead& r) {
  r.headerLength = info.headerLength;
  r.recordLength = info.recordLength;
  r.state = info.state;
  r.got.shortHeader = info.shortHeader != 0;
  r.got.byteValue = info.byteValue;
  r.got.names = names_of(info.nameBuffer);
  if (const HVDPDataSetInfo* b = info.dataSetInfo) {
    const auto* at = reinterpret_cast<const uint8_t*>(b);
    std::memcpy(r.got.values, at + offsetof(HVDPDataSetInfo, value1), sizeof r.got.values);
    std::memcpy(r.got.bytes, at + offsetof(HVDPDataSetInfo, byte1), sizeof r.got.bytes);
    std::memcpy(r.got.dates, at + offsetof(HVDPDataSetInfo, dateTime1), sizeof r.got.dates);
    r.got.extension.assign(b->extensionData, b->extensionData + b->extensionLength);
    r.dataSize = b->dataSize;
  }
}

// Reads the record header at the start of `stream` as a host does, the
// stream given in two buffers: [0, split) and [split, end). A first section
// cut by the split is read again from its start joined with the second
// buffer (the host keeps the bytes the reader did not take). A section saved
// by the first call (state 1, whole buffer taken) is completed from the
// second buffer. `record` may come from an earlier read (reused).
inline RecordRead read_record(const std::vector<uint8_t>& stream, size_t split, RecordInfo& record) {
  RecordRead r;
  auto first = exact_copy(stream.data(), split), second = exact_copy(stream.data() + split, stream.size() - split);
  uint8_t* position = first.get();
  auto size = static_cast<uint32_t>(split);
  r.rc = HVDPGetRecordHeaderOnly(&position, &size, &record.info);
  if (r.rc == HVDPUT_BUFFER_UNDERFLOW) {  // the whole stream as the first buffer, with none after it
    split = stream.size();
    position = (first = exact_copy(stream.data(), split)).get();
    size = static_cast<uint32_t>(split);
    r.rc = HVDPGetRecordHeaderOnly(&position, &size, &record.info);
  }
  if (r.rc == 0) r.rc = HVDPGetDataSetInfo(&position, &size, &record.info);
  r.consumed = static_cast<size_t>(position - first.get());
  if (r.rc == 0 && record.info.state == HVDP_STATE_SAVED && split < stream.size()) {
    position = second.get();
    size = static_cast<uint32_t>(stream.size() - split);
    r.rc = HVDPGetDataSetInfo(&position, &size, &record.info);
    r.consumed = split + static_cast<size_t>(position - second.get());
  }
  if (r.rc != 0) return RecordRead{r.rc};
  take_description(record.info, r);
  return r;
}

// True when `r`, read from a whole stream of `size` bytes written from `d`,
// holds what `d` described: of a short header nothing more; of names the
// first ten, a wide-character name whole with a wide terminator, any other
// up to its first zero byte and that byte (the 0x12 field's data).
inline bool reads_back(const RecordDescription& d, const RecordRead& r, size_t size) {
  RecordDescription want = d;
  want.checkValues = false;
  want.names.resize(std::min<size_t>(d.names.size(), 10));
  for (RecordName& n : want.names) {
    const bool wide = charset::is_wide_ns(n.nameSpace);
    n.bytes.erase(wide ? n.bytes.end() : std::find(n.bytes.begin(), n.bytes.end(), 0), n.bytes.end());
    n.bytes.insert(n.bytes.end(), wide ? 4 : 1, 0);
  }
  if (d.shortHeader) want = RecordDescription{.shortHeader = true};
  return r.rc == 0 && r.consumed == size && r.headerLength == size && r.recordLength == 0 && r.got == want &&
         (d.shortHeader || (r.state == HVDP_STATE_DONE && r.dataSize == 48 + d.extension.size()));
}

}  // namespace dpxut::test
