// Field identifiers of a record header and of its data set information
// section, shared by the record header writer and reader and by the data
// set information parser, which read and write the same fields.
#pragma once

#include <cstdint>

#include "dpxut.h"

namespace dpxut::sidf::record {

// First section.
inline constexpr uint32_t kFullHead = HVDP_RECORD_HEADER_ID;         // 9
inline constexpr uint32_t kShortHead = HVDP_SHORT_RECORD_HEADER_ID;  // 0x8001
inline constexpr uint32_t kTimeStamp = 0x54;     // fixed 16: the record's stamp
inline constexpr uint32_t kLength = 0x0B;        // 4 bytes: record bytes after the section
inline constexpr uint32_t kOldDosStamp = 0x42;   // fixed 4: older DOS date and time

// Data set information section.
inline constexpr uint32_t kInfoHead = HVDP_DATA_SET_INFO_ID;  // 0x813F
inline constexpr uint32_t kValueIds[5] = {0x81F2FE, 0x81F2FD, 0x81F2FC, 0x81F2FB, 0x81F2FA};
inline constexpr uint32_t kByteIds[3] = {0x81F0FF, 0x81F0FE, 0x81F0FD};
inline constexpr uint32_t kStampIds[4] = {0x44, 0x64, 0x74, 0x54};          // ECMA stamps
inline constexpr uint32_t kDosIds[4] = {0x81F2F9, 0x81F2F8, 0x81F2F7, 0x81F2F6};  // DOS forms
inline constexpr uint32_t kExtension = 0x81EFFD;
inline constexpr uint32_t kByteValue = 0x50;
inline constexpr uint32_t kNameSpace = 0x11;
inline constexpr uint32_t kName = 0x12;
inline constexpr uint32_t kNameList = 0x813E;

// A record header carries at most this many names.
inline constexpr int kMaxNames = 10;
// Width of the second section's offset field (short-form size 8).
inline constexpr uint8_t kOffsetWidth = 8;

// The description block: fixed part, and the largest extension a block
// whose size is held in 16 bits can take (extensionLength + 51 <= 65535).
inline constexpr uint32_t kInfoFixed = HVDP_DATA_SET_INFO_FIXED;  // 50
inline constexpr uint32_t kInfoCreated = kInfoFixed + 1;          // 51
inline constexpr uint32_t kMaxExtension = 0xFFFF - kInfoCreated;

// Byte count of an identifier: its first byte is never zero, so its value
// has exactly as many significant bytes as the stream spends on it.
constexpr uint32_t id_length(uint32_t id) noexcept {
  return id > 0xFFFFFF ? 4 : id > 0xFFFF ? 3 : id > 0xFF ? 2 : 1;
}

}  // namespace dpxut::sidf::record
