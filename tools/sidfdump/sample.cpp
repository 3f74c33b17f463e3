// sidfdump's sample stream, written with the library.
#include <dpxut.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <cstdlib>

#include "../common/sections.h"
#include "dump.h"

namespace sidfdump {
namespace {

// The sample stream: a pad section, a media header and a session header,
// then a section with a field of every identifier length and size form and a
// closing check value, a short record header whose check value is left to be
// filled in later, and two records written by the library's record header
// writer, each followed by its data.

DPDFPutEntry row(uint32_t id, const void* data = nullptr, uint32_t bytes = 0, uint8_t form = 0) {
  DPDFPutEntry e{};
  e.field.fieldId = id;
  e.field.data = static_cast<const uint8_t*>(data);
  e.field.dataSize.value = bytes;
  e.dataBytes = bytes;
  e.sizeForm = form;
  return e;
}

// A header section as a backup program writes one: the head, the member
// fields from the library's header writer, the empty closing field.
template <typename Info>
bool put_header(uint32_t id, const Info& info,
                uint32_t (*set)(const Info*, uint8_t*, uint32_t, uint32_t*), uint8_t*& pos,
                uint32_t& left) {
  DPDFField head{};
  head.fieldId = id;
  head.data = dpxtool::kSignature;
  if (DPDFPutNextField(pos, left, &head, 2, 2) != 0 || head.dataOverflow.value != 0) return false;
  pos += head.bytesUsed;
  left -= head.bytesUsed;
  uint32_t written = 0;
  if (set(&info, pos, left, &written) != 0) return false;
  pos += written;
  left -= written;
  DPDFField closing{};
  closing.fieldId = id;
  if (DPDFPutNextField(pos, left, &closing, 0, 0) != 0 || closing.dataOverflow.value != 0) return false;
  pos += closing.bytesUsed;
  left -= closing.bytesUsed;
  return true;
}

bool put_sample_headers(uint8_t*& pos, uint32_t& left) {
  HVDPMediaHeaderInfo media{};
  HVDPUnixTimeToECMA(1717243200, &media.firstTimeStamp, 0);  // 2024-06-01 12:00:00 UTC
  HVDPDOSTimeToECMA(0x58C16000, &media.secondTimeStamp);     // 2024-06-01 12:00:00 local
  std::strcpy(media.text, "Weekly full backup, set 3");
  media.number = 3;
  media.flag = 1;
  HVDPSessionHeaderInfo session{};
  HVDPUnixTimeToECMA(1717243200, &session.timeStamp, 1);
  session.number = 17;
  std::strcpy(session.text1, "nightly");
  std::strcpy(session.text2, "all volumes");
  std::strcpy(session.osName, "unix");
  std::strcpy(session.familyName, "dpx");
  std::strcpy(session.fullName, "fs1.example.backup.VOL1");
  return put_header(HVDP_MEDIA_HEADER_ID, media, HVDPSetMediaHeaderInfo, pos, left) &&
         put_header(HVDP_SESSION_HEADER_ID, session, HVDPSetSessionHeaderInfo, pos, left);
}

// Records as a backup program writes them: a full record header with names
// in all three encodings, dates and an extension, then the record's data;
// a short record header with its data. Both with check values.
bool put_record(HVDPRecordHeaderInfo& info, uint8_t*& pos, uint32_t& left, uint32_t data_bytes) {
  uint32_t written = 0;
  if (HVDPSetNewRecordHeader(&pos, &left, &written, 1, &info) != 0 || left < data_bytes) return false;
  std::memset(pos, 'D', data_bytes);
  pos += data_bytes;
  left -= data_bytes;
  info.recordLength += data_bytes;
  return HVDPUpdateRecordHeader(&info) == 0;
}

bool put_sample_records(uint8_t*& pos, uint32_t& left) {
  HVDPRecordHeaderInfo info{};
  HVDPNameBuffer* names = nullptr;  // a variable of its own: the record's member is packed
  HVDPNameHandle* handle = nullptr;
  static const wchar_t kWide[] = L"VOL1/docs/\u00fcber.txt";
  bool ok = HVDPPutFirstName(&names, 0, 0, 0, nullptr, nullptr, "VOL1:docs/report.txt", &handle) == 0 &&
            HVDPPutNextName(&names, &handle, 0x100, 0, 0, nullptr, nullptr, "VOL1/docs/r\xC3\xA9sum\xC3\xA9.txt") == 0 &&
            HVDPPutNextName(&names, &handle, 0x200, 0, 0, nullptr, nullptr, kWide) == 0;
  if (handle != nullptr) HVDPCloseName(&handle);
  info.nameBuffer = names;
  auto* block = static_cast<HVDPDataSetInfo*>(std::calloc(1, HVDP_DATA_SET_INFO_FIXED + 8));
  if (block != nullptr) {
    block->bufferSize = HVDP_DATA_SET_INFO_FIXED + 8;
    block->value1 = 0x1ED;
    block->value2 = 4096;
    block->byte1 = 0x20;
    block->dateTime1 = 0x58C16000;  // 2024-06-01 12:00:00
    block->dateTime2 = 0x586F6DAF;  // 2024-03-15 13:45:30
    block->extensionLength = 8;
    std::memcpy(reinterpret_cast<uint8_t*>(block) + HVDP_DATA_SET_INFO_FIXED, "EXTENDED", 8);
  }
  info.dataSetInfo = block;
  info.byteValue = 1;
  ok = ok && block != nullptr && put_record(info, pos, left, 32);
  info.shortHeader = 1;
  ok = ok && put_record(info, pos, left, 10);
  std::free(info.nameBuffer);
  std::free(info.dataSetInfo);
  return ok;
}

}  // namespace

std::vector<uint8_t> build_sample() {
  std::vector<uint8_t> out(128 * 1024);
  std::vector<uint8_t> big(70000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7);
  const uint8_t number[4] = {0x70, 0x11, 0x01, 0x00}, seven = 7, version[4] = {5, 0, 0, 0};
  const uint8_t two[2] = {0xAB, 0xCD};
  const uint8_t stamp[16] = {0x01, 0x10, 0xE8, 0x07, 6, 1, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  uint8_t* pos = out.data();
  uint32_t left = static_cast<uint32_t>(out.size());
  HVDPPadBlankSpace(pos, 20);
  pos += 20;
  left -= 20;
  if (!put_sample_headers(pos, left)) return {};
  DPDFPutEntry sample[] = {
      row(0x808100),                           // head, 3-byte long identifier
      row(DPDF_OFFSET_TO_END, nullptr, 4, 4),  // distance to the closing field
      row(0x0B, number, 4, 4),                 // 1-byte identifier, short form
      row(0x50, &seven, 1),                    // fixed size 1
      row(0x8072, version, 4),                 // 2-byte identifier, fixed size 4
      row(0x8030, "hello", 6, 6),              // 2-byte identifier, short form text
      row(0x808030, "XYZ", 4, 4),              // 3-byte long identifier, text
      row(0x80F401, stamp, 16),                // 3-byte long identifier, fixed size 16
      row(0xC10203, two, 2, 2),                // 3-byte short identifier
      row(0xC1028304, big.data(), 300, 0x80),  // 4-byte identifier, 2 size bytes
      row(0x81EFFD, big.data(), 200, 0x80),    // 1 size byte
      row(0x80802F, nullptr, 0, 0xC1),         // embedded flag: true
      row(0x12, big.data(), 70000, 0x80),      // 4 size bytes, larger than the input window
      row(DPDF_END_OF_TABLE),
  };
  if (DPDFPutFields(sample, &pos, &left, 1) != 0) return {};
  const uint8_t no_data[4] = {0, 0, 0, 0};
  DPDFPutEntry record[] = {row(0x8001), row(0x0B, no_data, 4, 4), row(DPDF_END_OF_TABLE)};
  if (DPDFPutFields(record, &pos, &left, 2) != 0) return {};
  if (!put_sample_records(pos, left)) return {};
  out.resize(out.size() - left);
  return out;
}

}  // namespace sidfdump
