// The session header, SIDF section 0x808004: its eleven member fields
// written from an HVDPSessionHeaderInfo (the host writes head and closing
// field), and the whole section read back with the operating system and
// format family turned from codes into names and the short name derived.
#include <array>
#include <cstring>

#include "common/export.h"
#include "common/le.h"
#include "dpxut.h"
#include "sidf/header_reader.h"
#include "sidf/header_writer.h"

namespace dpxut {
namespace {

constexpr uint32_t kSessionHeaderId = 0x808004;
constexpr uint32_t kNumberId = 0x8072;      // fixed 4
constexpr uint32_t kStampId = 0x80F403;     // fixed 16
constexpr uint32_t kFlagId = 0x80802D;      // embedded C0/C1
constexpr uint32_t kText1Id = 0x808005;     // texts: short form, text and zero
constexpr uint32_t kText2Id = 0x808006;
constexpr uint32_t kText3Id = 0x808007;
constexpr uint32_t kText4Id = 0x808008;
constexpr uint32_t kFamilyId = 0x8009;      // 4-byte code (or, from older writers, text)
constexpr uint32_t kFullNameId = 0x02;
constexpr uint32_t kOsId = 0x03;            // 4-byte code or the name as text
constexpr uint32_t kText5Id = 0x04;
constexpr uint32_t kOldDosTimeId = 0x8042;  // older form of the stamp, DOS date and time

// Operating system names by code; names compare without regard to case on
// writing and are read back exactly as listed here.
constexpr std::array<const char*, 9> kOsNames = {
    "Halvane", "DOS", "OS/2", "Macintosh", "Unix", "NT", "Lan Manager", "Lan Server", "Vines"};

// Code written for an operating system that is not in the table and cannot
// be written as text: a code that readers leave unnamed (outside 0..8) and
// that cannot be mistaken for text (its first byte is not printable).
constexpr uint32_t kOsUnknownCode = 0xFFFFFFFF;

constexpr uint32_t kFamilyDpx = 1;
constexpr uint32_t kFamilyCommon = 2;
constexpr const char* kFamilyDpxName = "DPX";
constexpr const char* kFamilyCommonName = "common";

// A code field's stored value is text when its first byte is 0x20..0x7F;
// codes are small little-endian numbers, so their first byte is not.
bool is_text_value(const uint8_t* value) noexcept { return value[0] >= 0x20 && value[0] <= 0x7F; }

// Field 0x03 for osName: the table code of a known name; an unknown name
// that starts with a printable character as the name itself (readers take
// such a value as the name); anything else as kOsUnknownCode.
class OsField {
 public:
  bool assign(const char* member, size_t memberSize) noexcept {
    for (uint32_t code = 0; code < kOsNames.size(); ++code) {
      if (text_equals_nocase(member, memberSize, kOsNames[code])) return set_code(code);
    }
    if (is_text_value(reinterpret_cast<const uint8_t*>(member))) {
      is_text_ = true;
      return text_.assign(member, memberSize);
    }
    return set_code(kOsUnknownCode);
  }
  DPDFPutEntry row() const noexcept {
    return is_text_ ? text_.row(kOsId) : header_row(kOsId, code_, 4, 4);
  }

 private:
  bool set_code(uint32_t code) noexcept {
    store_le32(code_, code);
    return true;
  }
  HeaderText text_;
  uint8_t code_[4] = {};
  bool is_text_ = false;
};

// Puts the text of a found text field into its member: the field's stored
// bytes (the row's capacity is the member's size less one) are terminated.
void terminate_text(const DPDFGetEntry& row, char* member) noexcept {
  if (row.found) member[row.dataSize] = 0;
}

}  // namespace
}  // namespace dpxut

using namespace dpxut;

// Member fields, in order: 0x8072 number (4 bytes), 0x80F403 stamp,
// 0x80802D flag (C0/C1), texts 0x808005..0x808008, 0x8009 family code (1 for
// "DPX" in any case, else 2), 0x02 fullName, 0x03 operating system, 0x04
// text5. Nothing is written when an argument is invalid or a text is too long.
DPXUT_EXPORT uint32_t HVDPSetSessionHeaderInfo(const HVDPSessionHeaderInfo* info, uint8_t* buffer,
                                               uint32_t bufferSize, uint32_t* bytesWritten) {
  if (bytesWritten == nullptr) return HVDPUT_INVALID_PARAMETER;
  *bytesWritten = 0;
  if (info == nullptr || buffer == nullptr) return HVDPUT_INVALID_PARAMETER;
  HeaderText text1, text2, text3, text4, fullName, text5;
  OsField os;
  if (!text1.assign(info->text1, sizeof info->text1) ||
      !text2.assign(info->text2, sizeof info->text2) ||
      !text3.assign(info->text3, sizeof info->text3) ||
      !text4.assign(info->text4, sizeof info->text4) ||
      !fullName.assign(info->fullName, sizeof info->fullName) ||
      !text5.assign(info->text5, sizeof info->text5) ||
      !os.assign(info->osName, sizeof info->osName))
    return HVDPUT_INVALID_PARAMETER;
  uint8_t number[4];
  store_le32(number, info->number);
  uint8_t family[4];
  store_le32(family, text_equals_nocase(info->familyName, sizeof info->familyName, kFamilyDpxName)
                         ? kFamilyDpx
                         : kFamilyCommon);

  DPDFPutEntry table[] = {
      header_row(kNumberId, number, 4, 4),
      header_row(kStampId, &info->timeStamp, 16, 16),
      flag_row(kFlagId, info->flag),
      text1.row(kText1Id),
      text2.row(kText2Id),
      text3.row(kText3Id),
      text4.row(kText4Id),
      header_row(kFamilyId, family, 4, 4),
      fullName.row(kFullNameId),
      os.row(),
      text5.row(kText5Id),
      marker_row(DPDF_END_OF_TABLE),
  };
  return PutMemberFields(table, buffer, bufferSize, bytesWritten);
}

// Texts arrive terminated within their members. The stamp comes from the
// older DOS date and time 0x8042 when present, else from 0x80F403. osName
// and familyName are set only from a 0x03 or 0x8009 field that carries a
// value (an empty field counts as absent): the value itself when it is text,
// else the name of its code; an unknown operating system code leaves osName
// alone. Copies are cut to their members (osName 39, familyName 31,
// shortName 47 characters). Members without a field keep the caller's
// content, except number and flag (0 when absent).
DPXUT_EXPORT uint32_t HVDPGetSessionHeaderInfo(const uint8_t* buffer, uint32_t bufferSize,
                                               HVDPSessionHeaderInfo* info) {
  if (buffer == nullptr || info == nullptr) return HVDPUT_INVALID_PARAMETER;
  info->number = 0;
  info->flag = 0;
  uint8_t number[4] = {};
  uint8_t flag[4] = {};
  uint8_t family[32] = {};
  uint8_t os[40] = {};
  uint8_t dosTime[4] = {};
  enum { kNumber, kStamp, kFlag, kText1, kText2, kText3, kText4, kFamily, kFull, kOs, kText5, kDos };
  DPDFGetEntry table[] = {
      get_row(kNumberId, number, sizeof number),
      get_row(kStampId, &info->timeStamp, 16),
      get_row(kFlagId, flag, sizeof flag),
      get_row(kText1Id, info->text1, sizeof info->text1 - 1),
      get_row(kText2Id, info->text2, sizeof info->text2 - 1),
      get_row(kText3Id, info->text3, sizeof info->text3 - 1),
      get_row(kText4Id, info->text4, sizeof info->text4 - 1),
      get_row(kFamilyId, family, sizeof family),
      get_row(kFullNameId, info->fullName, sizeof info->fullName - 1),
      get_row(kOsId, os, sizeof os),
      get_row(kText5Id, info->text5, sizeof info->text5 - 1),
      get_row(kOldDosTimeId, dosTime, sizeof dosTime),
      get_end_row(),
  };
  const uint32_t rc = get_header_section(kSessionHeaderId, table, buffer, bufferSize);
  info->number = load_le32(number);
  info->flag = load_le32(flag);
  if (rc != HVDPUT_SUCCESS) return rc;

  terminate_text(table[kText1], info->text1);
  terminate_text(table[kText2], info->text2);
  terminate_text(table[kText3], info->text3);
  terminate_text(table[kText4], info->text4);
  terminate_text(table[kFull], info->fullName);
  terminate_text(table[kText5], info->text5);
  if (table[kDos].found) HVDPDOSTimeToECMA(load_le32(dosTime), &info->timeStamp);

  if (table[kOs].found && table[kOs].dataSize != 0) {
    if (is_text_value(os)) {
      copy_text_cut(info->osName, sizeof info->osName, os, table[kOs].dataSize);
    } else if (const uint32_t code = load_le32(os); code < kOsNames.size()) {
      copy_text_cut(info->osName, sizeof info->osName, kOsNames[code], std::strlen(kOsNames[code]));
    }
  }

  const bool haveFamily = table[kFamily].found && table[kFamily].dataSize != 0;
  if (haveFamily) {
    const char* name = load_le32(family) == kFamilyDpx ? kFamilyDpxName : kFamilyCommonName;
    if (is_text_value(family)) {
      copy_text_cut(info->familyName, sizeof info->familyName, family, table[kFamily].dataSize);
    } else {
      copy_text_cut(info->familyName, sizeof info->familyName, name, std::strlen(name));
    }
  }

  // Short name: for the DPX family the part of fullName after its last full
  // stop (when it has one); without a family field the whole of fullName.
  const size_t fullLength = strnlen(info->fullName, sizeof info->fullName);
  if (!haveFamily) {
    copy_text_cut(info->shortName, sizeof info->shortName, info->fullName, fullLength);
  } else if (text_equals_nocase(info->familyName, sizeof info->familyName, kFamilyDpxName)) {
    const void* stop = memrchr(info->fullName, '.', fullLength);
    if (stop != nullptr) {
      const char* tail = static_cast<const char*>(stop) + 1;
      copy_text_cut(info->shortName, sizeof info->shortName, tail,
                    fullLength - static_cast<size_t>(tail - info->fullName));
    }
  }
  return HVDPUT_SUCCESS;
}
