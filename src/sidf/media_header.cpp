// The media header, SIDF section 0x808000: its five member fields written
// from an HVDPMediaHeaderInfo (the host writes head and closing field), and
// the whole section read back, older field forms included.
#include <cstring>

#include "common/export.h"
#include "common/le.h"
#include "dpxut.h"
#include "sidf/header_reader.h"
#include "sidf/header_writer.h"

namespace dpxut {
namespace {

constexpr uint32_t kMediaHeaderId = 0x808000;
constexpr uint32_t kFirstStampId = 0x80F401;   // fixed 16
constexpr uint32_t kSecondStampId = 0x80F400;  // fixed 16
constexpr uint32_t kTextId = 0x808030;         // short form, text and zero
constexpr uint32_t kNumberId = 0x80F100;       // fixed 2
constexpr uint32_t kFlagId = 0x80802F;         // embedded C0/C1
// Older forms, still read.
constexpr uint32_t kOldTextId = 0x81EFFE;        // text, up to 63 bytes kept
constexpr uint32_t kOldFirstUnixId = 0x80F20B;   // fixed 4, Unix seconds
constexpr uint32_t kOldSecondUnixId = 0x80F20C;  // fixed 4, Unix seconds
constexpr uint32_t kOldUnusedId = 0x80F200;      // fixed 4, carries nothing used
constexpr uint32_t kOldDosTimeId = 0x81F2FF;     // fixed 4, DOS date and time

constexpr uint32_t kOldTextCapacity = 63;

}  // namespace
}  // namespace dpxut

using namespace dpxut;

// Member fields, in order: 0x80F401 and 0x80F400 (the 16 stamp bytes each),
// 0x808030 (text and zero, short-form size), 0x80F100 (low 16 bits of
// number), 0x80802F (C0 for a zero flag, C1 otherwise). Nothing is written
// when an argument is invalid or the text is too long.
DPXUT_EXPORT uint32_t HVDPSetMediaHeaderInfo(const HVDPMediaHeaderInfo* info, uint8_t* buffer,
                                             uint32_t bufferSize, uint32_t* bytesWritten) {
  if (bytesWritten == nullptr) return HVDPUT_INVALID_PARAMETER;
  *bytesWritten = 0;
  if (info == nullptr || buffer == nullptr) return HVDPUT_INVALID_PARAMETER;
  HeaderText text;
  if (!text.assign(info->text, sizeof info->text)) return HVDPUT_INVALID_PARAMETER;
  uint8_t number[2];
  store_le16(number, static_cast<uint16_t>(info->number));

  DPDFPutEntry table[] = {
      header_row(kFirstStampId, &info->firstTimeStamp, 16, 16),
      header_row(kSecondStampId, &info->secondTimeStamp, 16, 16),
      text.row(kTextId),
      header_row(kNumberId, number, 2, 2),
      flag_row(kFlagId, info->flag),
      marker_row(DPDF_END_OF_TABLE),
  };
  return PutMemberFields(table, buffer, bufferSize, bytesWritten);
}

// Stamps come from 0x80F401/0x80F400; without 0x80F401 they come from the
// older Unix-time fields (0x80F20B, 0x80F20C; a missing second one counts as
// 0), else from the older DOS date and time (0x81F2FF, both stamps). The
// text comes from 0x808030, or from the older 0x81EFFE when that is the only
// text. Members without a field keep the caller's content, except number and
// flag, which are always set (0 when absent).
DPXUT_EXPORT uint32_t HVDPGetMediaHeaderInfo(const uint8_t* buffer, uint32_t bufferSize,
                                             HVDPMediaHeaderInfo* info) {
  if (buffer == nullptr || info == nullptr) return HVDPUT_INVALID_PARAMETER;
  uint8_t number[2] = {};
  uint8_t flag[4] = {};
  char oldText[kOldTextCapacity] = {};
  uint8_t firstUnix[4] = {};
  uint8_t secondUnix[4] = {};
  uint8_t unused[4] = {};
  uint8_t dosTime[4] = {};
  enum { kFirst, kSecond, kText, kNumber, kFlag, kOldText, kFirstUnix, kSecondUnix, kUnused, kDos };
  DPDFGetEntry table[] = {
      get_row(kFirstStampId, &info->firstTimeStamp, 16),
      get_row(kSecondStampId, &info->secondTimeStamp, 16),
      get_row(kTextId, info->text, sizeof info->text),
      get_row(kNumberId, number, sizeof number),
      get_row(kFlagId, flag, sizeof flag),
      get_row(kOldTextId, oldText, sizeof oldText),
      get_row(kOldFirstUnixId, firstUnix, sizeof firstUnix),
      get_row(kOldSecondUnixId, secondUnix, sizeof secondUnix),
      get_row(kOldUnusedId, unused, sizeof unused),
      get_row(kOldDosTimeId, dosTime, sizeof dosTime),
      get_end_row(),
  };
  if (const uint32_t rc = get_header_section(kMediaHeaderId, table, buffer, bufferSize)) return rc;

  // The current text field wins over the older one whatever their order.
  if (table[kOldText].found && !table[kText].found) {
    std::memset(info->text, 0, sizeof info->text);
    std::memcpy(info->text, oldText, table[kOldText].dataSize);
  }
  info->number = load_le16(number);
  info->flag = load_le32(flag);
  if (table[kFirst].found) return HVDPUT_SUCCESS;

  // Older stamps never replace a 0x80F400 stamp that came directly.
  const bool keepSecond = table[kSecond].found != 0;
  if (table[kFirstUnix].found) {
    HVDPUnixTimeToECMA(load_le32(firstUnix), &info->firstTimeStamp, 1);
    if (!keepSecond) HVDPUnixTimeToECMA(load_le32(secondUnix), &info->secondTimeStamp, 1);
  } else if (table[kDos].found) {
    HVDPDOSTimeToECMA(load_le32(dosTime), &info->firstTimeStamp);
    if (!keepSecond) info->secondTimeStamp = info->firstTimeStamp;
  }
  return HVDPUT_SUCCESS;
}
