// The record header: HVDPSetNewRecordHeader writes the first section (head,
// stamp, reserved length) and the data set information section through the
// shared header writer, HVDPUpdateRecordHeader fills in the length and the
// first check value, HVDPGetRecordHeaderOnly finds and reads a first section.
#include <cstring>
#include <ctime>

#include "charset/namespace.h"
#include "common/export.h"
#include "common/heap.h"
#include "common/le.h"
#include "names/name_buffer.h"
#include "sidf/crc32.h"
#include "sidf/field_codec.h"
#include "sidf/header_writer.h"
#include "sidf/record.h"
#include "time/time.h"

namespace dpxut::sidf::record {
namespace {

// Placeholder of field 0x0B until the update stores the record's length.
constexpr uint8_t kLengthPlaceholder[4] = {0x00, 0x00, 0x01, 0x00};

const uint8_t* member_bytes(const HVDPDataSetInfo* block, size_t offset) noexcept {
  return reinterpret_cast<const uint8_t*>(block) + offset;
}

// A field whose data the stream sizes: the short form for up to 127 bytes,
// else the automatic form with the count as dataSize.
void set_sized_row(DPDFPutEntry& row, uint32_t id, const void* data, uint32_t count) noexcept {
  set_row(row, id, data, count, count <= 0x7F ? static_cast<uint8_t>(count) : 0x80);
  row.field.dataSize.value = count;
}

// The names a header carries, taken from the name buffer before anything is
// written. A name of a wide-character name space holds zero bytes inside its
// characters, so it is written whole: its nameLength bytes and a wide
// terminator, assembled in `wide`. Other names are written up to and
// including their first zero byte, which the buffer keeps after every name.
class HeaderNames {
 public:
  // Reads up to kMaxNames names, in the order of the first / next walk and
  // stopping where it would stop, without the walk's heap handle. Returns 0
  // or HVDPUT_OUT_OF_MEMORY.
  uint32_t collect(const HVDPNameBuffer* buffer) noexcept {
    if (buffer == nullptr) return HVDPUT_SUCCESS;
    names::Reader reader(buffer);
    names::Entry entry;
    size_t wide_bytes = 0;
    while (count_ < kMaxNames && reader.next(&entry) == HVDPUT_SUCCESS) {
      names_[count_++] = {entry.nameSpace, entry.nameLength, entry.name};
      if (charset::is_wide_ns(entry.nameSpace)) wide_bytes += entry.nameLength + size_t{4};
    }
    if (wide_bytes == 0) return HVDPUT_SUCCESS;
    wide_ = heap_alloc(wide_bytes);
    return wide_ ? HVDPUT_SUCCESS : HVDPUT_OUT_OF_MEMORY;
  }

  // Fills the pair of rows for name i.
  void rows(int i, DPDFPutEntry& ns_row, DPDFPutEntry& name_row) noexcept {
    const Name& name = names_[i];
    const uint32_t ns = name.nameSpace;
    store_le32(ns_bytes_[i], ns);
    const uint8_t width = ns >= 0x10000 ? 4 : ns >= 0x100 ? 2 : 1;
    set_row(ns_row, kNameSpace, ns_bytes_[i], width, width);
    const uint8_t* bytes = name.name;
    uint32_t count;
    if (charset::is_wide_ns(ns)) {
      uint8_t* whole = wide_.get() + wide_used_;
      std::memcpy(whole, bytes, name.nameLength);
      std::memset(whole + name.nameLength, 0, 4);
      count = name.nameLength + 4u;
      wide_used_ += count;
      bytes = whole;
    } else {
      // The zero byte after nameLength bytes is part of the entry.
      count = static_cast<uint32_t>(strnlen(reinterpret_cast<const char*>(bytes), name.nameLength)) + 1;
    }
    set_sized_row(name_row, kName, bytes, count);
  }

  int count() const noexcept { return count_; }

 private:
  struct Name {
    uint32_t nameSpace;
    uint16_t nameLength;
    const uint8_t* name;  // nameLength bytes and a zero byte
  };
  Name names_[kMaxNames];  // the first count_ are set
  uint8_t ns_bytes_[kMaxNames][4];
  int count_ = 0;
  HeapPtr<uint8_t> wide_;
  size_t wide_used_ = 0;
};

// Writes the data set information section from the description. Rows:
// mark, head, offset, 5 values, 3 bytes, the dates that are set, extension,
// byte value, a pair per name (at most 10), end. A date or name left out
// gets no row at all (a skipped row would write nothing either).
uint32_t put_info_section(HVDPRecordHeaderInfo* info, uint16_t withCheckValues, uint16_t zone_word,
                          uint8_t** buffer, uint32_t* bufferSize, uint32_t* written) noexcept {
  static const HVDPDataSetInfo kEmpty{};
  const HVDPDataSetInfo* block = info->dataSetInfo != nullptr ? info->dataSetInfo : &kEmpty;
  const uint32_t extension = block->extensionLength;
  // The extension must lie within the block.
  if (extension != 0 && (block->bufferSize < kInfoFixed || extension > block->bufferSize - kInfoFixed))
    return HVDPUT_INVALID_PARAMETER;

  HeaderNames names;
  if (const uint32_t rc = names.collect(info->nameBuffer)) return rc;

  constexpr int kRows = 2 + 1 + 5 + 3 + 4 + 1 + 1 + 2 * kMaxNames + 1;
  DPDFPutEntry table[kRows];
  int r = 0;
  set_row(table[r++], DPDF_SECTION_MARK, nullptr, 0, 0);
  set_row(table[r++], kInfoHead, nullptr, 0, 0);
  set_row(table[r++], DPDF_OFFSET_TO_END, nullptr, kOffsetWidth, kOffsetWidth);
  for (int i = 0; i < 5; ++i)
    set_row(table[r++], kValueIds[i], member_bytes(block, offsetof(HVDPDataSetInfo, value1) + 4 * i), 4, 0);
  for (int i = 0; i < 3; ++i)
    set_row(table[r++], kByteIds[i], member_bytes(block, offsetof(HVDPDataSetInfo, byte1) + i), 1, 0);
  const uint32_t dates[4] = {block->dateTime1, block->dateTime2, block->dateTime3, block->dateTime4};
  HVDPECMATimeStamp stamps[4];
  for (int i = 0; i < 4; ++i) {
    if (dates[i] == 0) continue;
    stamps[i] = time::stamp_from_dos(dates[i], zone_word);
    set_row(table[r++], kStampIds[i], &stamps[i], sizeof stamps[i], 0);
  }
  set_sized_row(table[r++], kExtension, member_bytes(block, kInfoFixed), extension);
  const uint8_t byte_value = static_cast<uint8_t>(info->byteValue);
  set_row(table[r++], kByteValue, &byte_value, 1, 0);
  for (int i = 0; i < names.count(); ++i, r += 2) names.rows(i, table[r], table[r + 1]);
  set_row(table[r++], DPDF_END_OF_TABLE, nullptr, 0, 0);
  return PutHeaderFields(table, buffer, bufferSize, written, withCheckValues ? 1 : 0);
}

}  // namespace
}  // namespace dpxut::sidf::record

using namespace dpxut;
using namespace dpxut::sidf;
using namespace dpxut::sidf::record;

// First section: head 9 (or 0x8001), stamp 0x54 (full header only), length
// 0x0B with a placeholder, closing field (FF FF FF FF with check values).
// The first check value covers the section but its closing field; the
// update computes it once field 0x0B holds its final value.
DPXUT_EXPORT uint32_t HVDPSetNewRecordHeader(uint8_t** buffer, uint32_t* bufferSize, uint32_t* bytesWritten,
                                             uint16_t withCheckValues, HVDPRecordHeaderInfo* info) {
  if (buffer == nullptr || bufferSize == nullptr || bytesWritten == nullptr || info == nullptr ||
      *buffer == nullptr)
    return HVDPUT_INVALID_PARAMETER;
  uint8_t* position = *buffer;
  uint32_t remaining = *bufferSize;
  info->recordLength = 0;

  const bool full = info->shortHeader == 0;
  const uint32_t head = full ? kFullHead : kShortHead;
  // Every stamp of the header records the same zone: it is looked up once.
  const uint16_t zone_word = full ? time::local_zone_word() : 0;
  HVDPECMATimeStamp stamp{};
  if (full) {
    stamp = time::stamp_from_unix(static_cast<uint32_t>(std::time(nullptr)), zone_word);
    info->timeStamp = stamp;
  }
  DPDFPutEntry first[] = {
      marker_row(DPDF_SECTION_MARK),
      header_row(head, nullptr, 0, 0),
      full ? header_row(kTimeStamp, &stamp, sizeof stamp, 0) : marker_row(DPDF_SKIP_ENTRY),
      header_row(kLength, kLengthPlaceholder, 4, 4),
      marker_row(DPDF_END_OF_TABLE),
  };
  first[3].valueLocation = 1;
  uint8_t* const start = position;
  uint32_t first_length = 0;
  if (const uint32_t rc = PutHeaderFields(first, &position, &remaining, &first_length, withCheckValues ? 2 : 0))
    return rc;

  info->recordLengthLocation = reinterpret_cast<uint8_t*>(first[3].valueLocation);
  if (withCheckValues) {
    const uint32_t closing = id_length(head) + 1 + 4;
    info->checkStart = start;
    info->checkValueLocation = start + first_length - 4;
    info->checkLength = first_length - closing;
  } else {
    info->checkValueLocation = nullptr;
  }

  uint32_t second_length = 0;
  if (full) {
    if (const uint32_t rc = put_info_section(info, withCheckValues, zone_word, &position, &remaining, &second_length))
      return rc;
    info->recordLength = second_length;
  }
  info->headerLength = first_length + second_length;
  *buffer = position;
  *bufferSize = remaining;
  *bytesWritten += first_length + second_length;
  return HVDPUT_SUCCESS;
}

DPXUT_EXPORT uint32_t HVDPUpdateRecordHeader(HVDPRecordHeaderInfo* info) {
  if (info == nullptr) return HVDPUT_INVALID_PARAMETER;
  if (info->recordLengthLocation != nullptr) store_le32(info->recordLengthLocation, info->recordLength);
  if (info->checkValueLocation != nullptr)
    store_le32(info->checkValueLocation, sidf::check_value(info->checkStart, info->checkStart + info->checkLength));
  return HVDPUT_SUCCESS;
}

namespace {

// The little-endian number in the first bytes of a field's data, at most
// `max` of them and never more than the field has.
uint64_t leading_value(const DPDFField& field, size_t max) noexcept {
  const uint64_t size = field.dataSize.value;
  return field.data == nullptr ? 0 : load_le(field.data, size < max ? static_cast<size_t>(size) : max);
}

// A field decoded from the reader's bytes and lying wholly in them.
uint32_t next_whole_field(const uint8_t* position, uint32_t remaining, DPDFField& field) noexcept {
  if (const uint32_t rc = sidf::decode_field(position, remaining, field)) return rc;
  return field.dataOverflow.value != 0 ? HVDPUT_BUFFER_UNDERFLOW : HVDPUT_SUCCESS;
}

}  // namespace

// Sections before the record header (pad sections, or any other) are read
// field by field up to their closing field; an offset field jumps straight
// to it. The record header's first section gives the record's length (its
// first four bytes; a shorter value is taken zero-extended) and stamp (0x54,
// or the older DOS form 0x42).
DPXUT_EXPORT uint32_t HVDPGetRecordHeaderOnly(uint8_t** buffer, uint32_t* bufferSize, HVDPRecordHeaderInfo* info) {
  if (buffer == nullptr || bufferSize == nullptr || info == nullptr || (*buffer == nullptr && *bufferSize != 0))
    return HVDPUT_INVALID_PARAMETER;
  info->recordLength = 0;
  const uint8_t* position = *buffer;
  uint32_t remaining = *bufferSize;
  auto advance = [&](uint32_t n) {
    position += n;
    remaining -= n;
  };

  for (;;) {
    while (remaining != 0 && *position == 0) advance(1);  // filler before a head
    const uint8_t* const section = position;
    DPDFField field{};
    if (const uint32_t rc = next_whole_field(position, remaining, field)) return rc;
    if (field.data == nullptr || field.dataSize.value < 2 || field.data[0] != 0xA5 || field.data[1] != 0x5A)
      return HVDPUT_INVALID_PARAMETER;
    const uint32_t head = field.fieldId;
    advance(field.bytesUsed);
    const bool record_header = head == kFullHead || head == kShortHead;
    uint32_t length = 0;
    HVDPECMATimeStamp stamp = info->timeStamp;
    for (;;) {
      if (const uint32_t rc = next_whole_field(position, remaining, field)) return rc;
      advance(field.bytesUsed);
      const uint32_t id = field.fieldId;
      const uint64_t size = field.dataSize.value;
      if (id == head) break;
      if (record_header) {
        if (id == kLength) {
          length = static_cast<uint32_t>(leading_value(field, 4));
        } else if (id == kOldDosStamp && size >= 4) {
          HVDPDOSTimeToECMA(load_le32(field.data), &stamp);
        } else if (id == kTimeStamp && size >= time::kStampBytes) {
          stamp = time::load_stamp(field.data);
        }
      } else if (id == DPDF_OFFSET_TO_END) {
        const uint64_t jump = leading_value(field, 4);
        if (jump > remaining) return HVDPUT_BUFFER_UNDERFLOW;
        advance(static_cast<uint32_t>(jump));
      }
    }
    if (!record_header) continue;

    info->recordLength = length;
    info->timeStamp = stamp;
    info->headerLength = static_cast<uint32_t>(position - section);
    if (head == kFullHead) {
      info->shortHeader = 0;
      info->state = HVDP_STATE_NEW_SECTION;
    } else {
      info->shortHeader = 1;
      if (info->state != HVDP_STATE_SAVED) info->state = HVDP_STATE_NO_SECTION;
    }
    *buffer = const_cast<uint8_t*>(position);
    *bufferSize = remaining;
    return HVDPUT_SUCCESS;
  }
}
