// The data set information parser: HVDPGetDataSetInfo reads the second
// section of a record header (head 0x813F) into the description block and
// the name buffer. A section cut by the end of the host's buffer is copied
// (GetEntireDataSetInfo, SaveDataSetInfo) and finished in the next call,
// which completes the one field that straddles the two buffers.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "common/export.h"
#include "common/heap.h"
#include "common/le.h"
#include "names/name_buffer.h"
#include "sidf/field_codec.h"
#include "sidf/record.h"
#include "time/time.h"

namespace dpxut::sidf::record {
namespace {

constexpr uint32_t kNoNameSpace = 0xFFFFFFFF;
// A field completed across two buffers is assembled here when its data is
// this long or shorter, else in a heap block that lives for the call.
constexpr size_t kWorkArea = 4096;

// A field whose data lies whole in memory (data is null when size is 0).
struct Field {
  uint32_t id = 0;
  const uint8_t* data = nullptr;
  uint32_t size = 0;
};

// Bytes still to be parsed.
struct Bytes {
  const uint8_t* at;
  uint32_t left;
  void skip(uint32_t n) noexcept {
    at += n;
    left -= n;
  }
};

// Decodes the field at `bytes`; false when the bytes end before it is whole
// (in its identifier, its size, its data, or in filler).
bool read_whole(const Bytes& bytes, Field& out, uint32_t& used) noexcept {
  DPDFField f{};
  if (decode_field(bytes.at, bytes.left, f) != HVDPUT_SUCCESS || f.dataOverflow.value != 0) return false;
  // A whole field's data lies in the buffer, so its size fits 32 bits.
  out.id = f.fieldId;
  out.size = static_cast<uint32_t>(f.dataSize.value);
  out.data = out.size != 0 ? f.data : nullptr;
  used = f.bytesUsed;
  return true;
}

// Completes the field that begins in the last `r` bytes of the saved copy
// (`tail`) and ends in the host's next buffer. Its header (at most 13 bytes)
// is assembled from both, then its data is used where it lies whole, or
// joined in `work` (or in `heap` when longer than the work area). `used`
// receives the bytes it takes from the next buffer, which must hold them.
uint32_t complete_field(const uint8_t* tail, uint32_t r, const Bytes& next, Field& out, uint32_t& used,
                        uint8_t* work, HeapPtr<uint8_t>& heap) noexcept {
  while (r != 0 && *tail == 0) {  // filler at the end of the copy
    ++tail;
    --r;
  }
  if (r == 0) return read_whole(next, out, used) ? HVDPUT_SUCCESS : HVDPUT_BUFFER_UNDERFLOW;

  uint8_t head[kMaxHeaderBytes];
  const uint32_t from_tail = std::min<uint32_t>(r, kMaxHeaderBytes);
  const uint32_t from_next = std::min<uint32_t>(kMaxHeaderBytes - from_tail, next.left);
  std::memcpy(head, tail, from_tail);
  if (from_next != 0) std::memcpy(head + from_tail, next.at, from_next);
  DPDFField f{};
  if (const uint32_t rc = decode_field(head, from_tail + from_next, f)) return rc;
  if (f.dataSize.value > UINT32_MAX) return HVDPUT_BUFFER_UNDERFLOW;
  const auto size = static_cast<uint32_t>(f.dataSize.value);
  // Offset of the data from the field's first byte; the embedded form's
  // data is its descriptor byte, a size of 0 has none.
  const uint64_t data_at = f.data != nullptr ? static_cast<uint64_t>(f.data - head) : f.bytesUsed;
  const uint64_t total = data_at + size;
  if (total <= r) return HVDPUT_BUFFER_UNDERFLOW;  // whole in the copy: not a cut field
  if (total - r > next.left) return HVDPUT_BUFFER_UNDERFLOW;
  used = static_cast<uint32_t>(total - r);

  out.id = f.fieldId;
  out.size = size;
  if (size == 0) {
    out.data = nullptr;
  } else if (data_at >= r) {
    out.data = next.at + (data_at - r);
  } else {
    uint8_t* joined = work;
    if (size > kWorkArea) {
      heap = heap_alloc(size);
      if (!heap) return HVDPUT_OUT_OF_MEMORY;
      joined = heap.get();
    }
    const auto in_tail = static_cast<uint32_t>(r - data_at);
    std::memcpy(joined, tail + data_at, in_tail);
    std::memcpy(joined + in_tail, next.at, size - in_tail);
    out.data = joined;
  }
  return HVDPUT_SUCCESS;
}

uint8_t* block_bytes(HVDPDataSetInfo* block) noexcept { return reinterpret_cast<uint8_t*>(block); }

// Makes sure the record has a description block: one of 51 bytes is created
// when it has none. `reset` zeroes the fixed part and the first extension
// byte, keeping bufferSize. A host block smaller than the fixed part is
// refused.
uint32_t ensure_block(HVDPRecordHeaderInfo* info, bool reset) noexcept {
  HVDPDataSetInfo* block = info->dataSetInfo;
  if (block == nullptr) {
    block = static_cast<HVDPDataSetInfo*>(heap_calloc(1, kInfoCreated));
    if (block == nullptr) return HVDPUT_OUT_OF_MEMORY;
    block->bufferSize = kInfoCreated;
    info->dataSetInfo = block;
    return HVDPUT_SUCCESS;
  }
  const uint16_t allocated = block->bufferSize;
  if (allocated < kInfoFixed) return HVDPUT_INVALID_PARAMETER;
  if (reset) {
    std::memset(block, 0, std::min<uint32_t>(allocated, kInfoCreated));
    block->bufferSize = allocated;
  }
  return HVDPUT_SUCCESS;
}

// A writing handle that appends after the names already in `buffer`, for
// names that follow a stored name list. Its count starts at the buffer's
// name count, so the buffer never holds more than 255 names.
uint32_t open_append_handle(HVDPNameBuffer* buffer, HVDPNameHandle** handle) noexcept {
  names::Reader reader(buffer);
  names::Entry entry;
  uint32_t rc;
  while ((rc = reader.next(&entry)) == HVDPUT_SUCCESS) {
  }
  if (rc != HVDPUT_NO_MORE_ENTRIES) return rc;
  auto* h = static_cast<HVDPNameHandle*>(heap_calloc(1, sizeof(HVDPNameHandle)));
  if (h == nullptr) return HVDPUT_OUT_OF_MEMORY;
  auto* start = reinterpret_cast<unsigned char*>(buffer);
  h->signature = names::kHandleLive;
  h->start = start;
  h->end = start + buffer->bufferSize;
  h->cursor = start + reader.offset();
  h->count = static_cast<uint16_t>(reader.count());
  *handle = h;
  return HVDPUT_SUCCESS;
}

// Stored name list (field 0x813E): a name buffer image from its dataSize
// word on: u16 len (bytes in use from this word), u8 nameCount, u8
// headerExtra, then len - 4 bytes of entries. The image lands at offset 2
// of the buffer, which is created or resized to len + 1024 bytes (at most
// 65535) when it cannot hold it. `size` bounds what may be read of
// listData; the image's entries must lie within len, else the buffer is left
// empty.
uint32_t unpack_name_list(HVDPNameBuffer** buffer, const uint8_t* listData, uint32_t size) noexcept {
  if (size < 2) return HVDPUT_INVALID_PARAMETER;
  const uint32_t len = load_le16(listData);
  if (len < 4 || len > size) return HVDPUT_INVALID_PARAMETER;
  if (len > names::kMaxBufferSize - 2) return HVDPUT_OVERFLOW;
  HVDPNameBuffer* block = load_ptr(buffer);
  if (block == nullptr || len + 1 >= block->bufferSize) {
    const auto grown = static_cast<uint32_t>(std::min<size_t>(len + size_t{1024}, names::kMaxBufferSize));
    auto* moved = static_cast<HVDPNameBuffer*>(heap_realloc(block, grown));
    if (moved == nullptr) {
      std::free(block);
      store_ptr<HVDPNameBuffer>(buffer, nullptr);
      return HVDPUT_OUT_OF_MEMORY;
    }
    block = moved;
    block->bufferSize = static_cast<uint16_t>(grown);
    store_ptr(buffer, block);
  }
  block->dataSize = static_cast<uint16_t>(len);
  block->nameCount = listData[2];
  block->headerExtra = listData[3];
  std::memcpy(reinterpret_cast<uint8_t*>(block) + names::kHeaderSize, listData + 4, len - 4);
  if (names::check_image(block) != HVDPUT_SUCCESS) {
    block->dataSize = 0;
    block->nameCount = 0;
    block->headerExtra = 0;
    return HVDPUT_INVALID_PARAMETER;
  }
  return HVDPUT_SUCCESS;
}

// One parse of the section's fields. The first 0x813F field met opens the
// section, the next one closes it. Names go into the record's name buffer
// through a writing handle of the parse, closed when the parse ends.
class SectionParser {
 public:
  explicit SectionParser(HVDPRecordHeaderInfo* info) noexcept : info_(info) {}
  ~SectionParser() {
    if (handle_ != nullptr) HVDPCloseName(&handle_);
  }
  SectionParser(const SectionParser&) = delete;
  SectionParser& operator=(const SectionParser&) = delete;

  bool closed() const noexcept { return closed_; }

  // Parses whole fields from `bytes` until the closing field or the first
  // field that the bytes do not hold whole; `bytes` stays at that field.
  uint32_t parse(Bytes& bytes) noexcept {
    while (!closed_) {
      Field field;
      uint32_t used = 0;
      if (!read_whole(bytes, field, used)) return HVDPUT_SUCCESS;
      bytes.skip(used);
      if (const uint32_t rc = dispatch(field)) return rc;
    }
    return HVDPUT_SUCCESS;
  }

  uint32_t dispatch(const Field& f) noexcept {
    HVDPDataSetInfo* block = info_->dataSetInfo;
    switch (f.id) {
      case kInfoHead:
        if (opening_) {
          opening_ = false;
        } else {
          closed_ = true;
        }
        return HVDPUT_SUCCESS;
      case kNameSpace:
        name_space_ = static_cast<uint32_t>(leading(f, 4));
        return HVDPUT_SUCCESS;
      case kName:
        return put_name(f);
      case kNameList:
        return put_list(f);
      case kExtension:
        return put_extension(f);
      case kByteValue:
        if (f.size >= 1) info_->byteValue = f.data[0];
        return HVDPUT_SUCCESS;
      default:
        break;
    }
    for (int i = 0; i < 4; ++i) {
      if (f.id == kStampIds[i] && f.size >= time::kStampBytes)
        set_date(block, i, time::dos_from_stamp_bytes(f.data));
      else if (f.id == kDosIds[i] && f.size >= 4)
        set_date(block, i, load_le32(f.data));
    }
    for (int i = 0; i < 5; ++i)
      if (f.id == kValueIds[i] && f.size >= 4)
        std::memcpy(block_bytes(block) + offsetof(HVDPDataSetInfo, value1) + 4 * i, f.data, 4);
    for (int i = 0; i < 3; ++i)
      if (f.id == kByteIds[i] && f.size >= 1) block_bytes(block)[offsetof(HVDPDataSetInfo, byte1) + i] = f.data[0];
    return HVDPUT_SUCCESS;
  }

  // The closing field was read: the block's extension length and size.
  void finish() noexcept {
    HVDPDataSetInfo* block = info_->dataSetInfo;
    block->extensionLength = static_cast<uint16_t>(extension_);
    block->dataSize = static_cast<uint16_t>(extension_ + kInfoFixed - 2);
    info_->state = HVDP_STATE_DONE;
  }

 private:
  static uint64_t leading(const Field& f, size_t max) noexcept {
    return f.data == nullptr ? 0 : load_le(f.data, std::min<size_t>(f.size, max));
  }
  static void set_date(HVDPDataSetInfo* block, int i, uint32_t value) noexcept {
    store_le32(block_bytes(block) + offsetof(HVDPDataSetInfo, dateTime1) + 4 * i, value);
  }

  // A name (0x12) in the name space of the 0x11 field before it; without
  // one the field is ignored. The name's bytes are the field's data.
  uint32_t put_name(const Field& f) noexcept {
    if (name_space_ == kNoNameSpace) return HVDPUT_SUCCESS;
    static const uint8_t kEmptyName[1] = {0};
    const void* name = f.data != nullptr ? f.data : kEmptyName;
    HVDPNameBuffer* buffer = info_->nameBuffer;
    uint32_t rc;
    if (first_name_ || buffer == nullptr) {
      rc = HVDPPutFirstLName(&buffer, name_space_, 0, 0, nullptr, nullptr, f.size, name, &handle_);
    } else {
      rc = handle_ != nullptr ? HVDPUT_SUCCESS : open_append_handle(buffer, &handle_);
      if (rc == HVDPUT_SUCCESS)
        rc = HVDPPutNextLName(&buffer, &handle_, name_space_, 0, 0, nullptr, nullptr, f.size, name);
    }
    info_->nameBuffer = buffer;
    if (rc != HVDPUT_SUCCESS) return rc;
    name_space_ = kNoNameSpace;
    first_name_ = false;
    return HVDPUT_SUCCESS;
  }

  // A stored name list replaces the names read so far. The writing handle
  // points into the block the list may move, so it is closed first; names
  // after the list are appended to it through a new handle.
  uint32_t put_list(const Field& f) noexcept {
    if (handle_ != nullptr) HVDPCloseName(&handle_);
    HVDPNameBuffer* buffer = info_->nameBuffer;
    const uint32_t rc = unpack_name_list(&buffer, f.data, f.size);
    info_->nameBuffer = buffer;
    if (rc != HVDPUT_SUCCESS) return rc;
    first_name_ = false;
    return HVDPUT_SUCCESS;
  }

  // The extension (0x81EFFD): the block grows to length + 51 bytes when it
  // cannot hold it; an extension beyond what a block of 65535 bytes holds is
  // refused. A failed growth releases the block (dataSetInfo null).
  uint32_t put_extension(const Field& f) noexcept {
    extension_ = f.size;
    if (extension_ == 0) return HVDPUT_SUCCESS;
    if (extension_ > kMaxExtension) return HVDPUT_OVERFLOW;
    HVDPDataSetInfo* block = info_->dataSetInfo;
    if (extension_ > static_cast<uint32_t>(block->bufferSize) - kInfoFixed) {
      auto* grown = static_cast<HVDPDataSetInfo*>(heap_realloc(block, extension_ + kInfoCreated));
      if (grown == nullptr) {
        std::free(block);
        info_->dataSetInfo = nullptr;
        return HVDPUT_OUT_OF_MEMORY;
      }
      block = grown;
      block->bufferSize = static_cast<uint16_t>(extension_ + kInfoCreated);
      info_->dataSetInfo = block;
    }
    block->extensionLength = static_cast<uint16_t>(extension_);
    std::memcpy(block_bytes(block) + kInfoFixed, f.data, extension_);
    return HVDPUT_SUCCESS;
  }

  HVDPRecordHeaderInfo* info_;
  HVDPNameHandle* handle_ = nullptr;
  uint32_t name_space_ = kNoNameSpace;
  uint32_t extension_ = 0;
  bool first_name_ = true;
  bool opening_ = true;
  bool closed_ = false;
};

// The parse of one call by state, on the host's `bytes`. `consumed` gets
// the host bytes the call takes on success.
uint32_t parse_call(HVDPRecordHeaderInfo* info, Bytes bytes, uint32_t& consumed) noexcept {
  const uint32_t state = info->state;
  const uint32_t size = bytes.left;
  if (state == HVDP_STATE_NEW_SECTION) {
    if (HVDPNameBuffer* names = info->nameBuffer) {
      names->dataSize = 0;
      names->nameCount = 0;
    }
    if (const uint32_t rc = ensure_block(info, true)) return rc;
    // A copy left from a record that was not finished belongs to no one else.
    std::free(info->savedData);
    info->savedData = nullptr;
    info->savedLength = 0;
    DPDFField first{};
    if (decode_field(bytes.at, size, first) == HVDPUT_SUCCESS && first.fieldId != kInfoHead)
      return HVDPUT_FIELD_ID_MISMATCH;
    if (const uint32_t rc = GetEntireDataSetInfo(bytes.at, size, info)) return rc;
    if (info->state == HVDP_STATE_SAVED) {
      consumed = size;
      return HVDPUT_SUCCESS;
    }
  } else if (const uint32_t rc = ensure_block(info, false)) {
    return rc;
  }

  SectionParser parser(info);
  uint8_t work[kWorkArea];
  HeapPtr<uint8_t> heap;
  if (state == HVDP_STATE_SAVED) {
    Bytes saved{info->savedData, info->savedData != nullptr ? info->savedLength : 0};
    if (const uint32_t rc = parser.parse(saved)) return rc;
    if (parser.closed()) {
      // The copy held the whole section after all (an offset field sent the
      // completeness walk past the closing field): fine when nothing
      // follows it there, but bytes after it were record data that the host
      // has already moved past.
      if (saved.left != 0) return HVDPUT_INVALID_PARAMETER;
    } else {
      Field field;
      uint32_t used = 0;
      if (const uint32_t rc = complete_field(saved.at, saved.left, bytes, field, used, work, heap)) return rc;
      bytes.skip(used);
      if (const uint32_t rc = parser.dispatch(field)) return rc;
    }
  }
  if (!parser.closed()) {
    if (const uint32_t rc = parser.parse(bytes)) return rc;
    if (!parser.closed()) return HVDPUT_BUFFER_UNDERFLOW;
  }
  parser.finish();
  consumed = size - bytes.left;
  return HVDPUT_SUCCESS;
}

}  // namespace
}  // namespace dpxut::sidf::record

using namespace dpxut;
using namespace dpxut::sidf;
using namespace dpxut::sidf::record;

DPXUT_EXPORT uint32_t HVDPGetDataSetInfo(uint8_t** data, uint32_t* size, HVDPRecordHeaderInfo* info) {
  if (data == nullptr || size == nullptr || info == nullptr || (*data == nullptr && *size != 0))
    return HVDPUT_INVALID_PARAMETER;
  const uint32_t state = info->state;
  // A short header's record has no section: nothing is consumed, so the
  // record's data that follows in the buffer stays where it is.
  if (state == HVDP_STATE_NO_SECTION) return HVDPUT_SUCCESS;
  if (state == HVDP_STATE_LOST) return HVDPUT_BUFFER_UNDERFLOW;

  uint32_t consumed = 0;
  const uint32_t rc = parse_call(info, Bytes{*data, *size}, consumed);
  if (info->savedData != nullptr && !(rc == HVDPUT_SUCCESS && info->state == HVDP_STATE_SAVED)) {
    std::free(info->savedData);
    info->savedData = nullptr;
    info->savedLength = 0;
  }
  if (rc != HVDPUT_SUCCESS) {
    // The saved start is gone: the section can no longer be read.
    if (state == HVDP_STATE_SAVED) info->state = HVDP_STATE_LOST;
    return rc;
  }
  *data += consumed;
  *size -= consumed;
  info->headerLength += consumed;
  // A section longer than the record's length says leaves no record bytes.
  info->recordLength = info->recordLength > consumed ? info->recordLength - consumed : 0;
  return HVDPUT_SUCCESS;
}

// The first field, when it is the 0x813F opening field, is passed over; the
// section is whole once the next 0x813F field (its closing field) has been
// read. An offset field jumps to the closing field.
DPXUT_EXPORT uint32_t GetEntireDataSetInfo(const uint8_t* data, uint32_t size, HVDPRecordHeaderInfo* info) {
  if (info == nullptr || (data == nullptr && size != 0)) return HVDPUT_INVALID_PARAMETER;
  const uint8_t* position = data;
  uint32_t left = size;
  bool first = true;
  for (;;) {
    DPDFField f{};
    if (decode_field(position, left, f) != HVDPUT_SUCCESS || f.dataOverflow.value != 0)
      return SaveDataSetInfo(data, size, info);
    position += f.bytesUsed;
    left -= f.bytesUsed;
    if (f.fieldId == DPDF_OFFSET_TO_END) {
      uint32_t width = 0;
      UINT64 jump{};
      if (DPDFGetUINT64(&f.dataSize, &width) != HVDPUT_SUCCESS || width > 8 ||
          DPDFSetUINT64(&jump, f.data, static_cast<uint16_t>(width)) != HVDPUT_SUCCESS || jump.half.high != 0)
        return HVDPUT_BUFFER_UNDERFLOW;
      if (jump.half.low > left) return SaveDataSetInfo(data, size, info);
      position += jump.half.low;
      left -= jump.half.low;
    } else if (f.fieldId == kInfoHead && !first) {
      return HVDPUT_SUCCESS;
    }
    first = false;
  }
}

DPXUT_EXPORT uint32_t SaveDataSetInfo(const uint8_t* data, uint32_t size, HVDPRecordHeaderInfo* info) {
  if (info == nullptr || (data == nullptr && size != 0)) return HVDPUT_INVALID_PARAMETER;
  std::free(info->savedData);
  info->savedData = nullptr;
  info->savedLength = 0;
  HeapPtr<uint8_t> copy = heap_alloc(size);
  if (!copy) return HVDPUT_OUT_OF_MEMORY;
  if (size != 0) std::memcpy(copy.get(), data, size);
  info->savedData = copy.release();
  info->savedLength = size;
  info->state = HVDP_STATE_SAVED;
  return HVDPUT_SUCCESS;
}

// The host's list data carries its own length in its first word.
DPXUT_EXPORT uint32_t SIDFUnpackNameList(HVDPNameBuffer** buffer, const uint8_t* listData) {
  if (buffer == nullptr || listData == nullptr) return HVDPUT_INVALID_PARAMETER;
  return unpack_name_list(buffer, listData, load_le16(listData));
}
