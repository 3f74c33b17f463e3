/* The public header compiled as strict C99 and used from C: packed records,
 * completion codes and a few calls through the shared library. */
#include <dpxut.h>
#include <stdlib.h>
#include <string.h>

static int check_field_round_trip(void) {
  static const uint8_t text[4] = {'X', 'Y', 'Z', 0};
  static const uint8_t expect[8] = {0x80, 0x80, 0x30, 0x04, 'X', 'Y', 'Z', 0};
  uint8_t buffer[16];
  DPDFField out, in;
  uint32_t value = 0;
  memset(&out, 0, sizeof out);
  out.fieldId = 0x808030u;
  out.data = text;
  if (DPDFPutNextField(buffer, sizeof buffer, &out, 4, 4) != HVDPUT_SUCCESS) return 1;
  if (out.bytesUsed != 8 || memcmp(buffer, expect, 8) != 0) return 2;
  if (DPDFGetNextField(buffer, out.bytesUsed, &in) != HVDPUT_SUCCESS) return 3;
  if (in.fieldId != 0x808030u || in.dataSize.value != 4 || in.dataSize.half.high != 0) return 4;
  if (in.data != buffer + 4 || in.dataOverflow.value != 0) return 5;
  if (DPDFSetUINT32Data(&in.dataSize, in.data, &value) != HVDPUT_SUCCESS || value != 0x005A5958u) return 6;
  return 0;
}

static int check_section(void) {
  static const uint8_t seven = 7;
  static const uint8_t expect[10] = {0x81, 0x3F, 0x02, 0xA5, 0x5A, 0x50, 0x07, 0x81, 0x3F, 0x00};
  uint8_t buffer[32];
  uint8_t *pos = buffer;
  uint32_t left = sizeof buffer;
  uint8_t got = 0;
  DPDFPutEntry put[3];
  DPDFGetEntry get[2];
  memset(put, 0, sizeof put);
  put[0].field.fieldId = 0x813F;
  put[1].field.fieldId = 0x50;
  put[1].field.data = &seven;
  put[1].dataBytes = 1;
  put[2].field.fieldId = DPDF_END_OF_TABLE;
  if (DPDFPutFields(put, &pos, &left, 0) != HVDPUT_SUCCESS) return 10;
  if (pos - buffer != 10 || memcmp(buffer, expect, 10) != 0) return 11;
  memset(get, 0, sizeof get);
  get[0].fieldId = 0x50;
  get[0].data = &got;
  get[0].dataSize = 1;
  get[1].fieldId = DPDF_END_OF_TABLE;
  pos = buffer;
  left = 10;
  if (DPDFGetFields(0x813F, get, &pos, &left) != HVDPUT_SUCCESS) return 12;
  if (!get[0].found || got != 7 || left != 0) return 13;
  return 0;
}

/* A full record header for an empty data set, read back from C. */
static int check_record(void) {
  uint8_t buffer[128];
  uint8_t *pos = buffer;
  uint32_t left = sizeof buffer, written = 0;
  HVDPRecordHeaderInfo info;
  memset(&info, 0, sizeof info);
  info.byteValue = 7;
  if (HVDPSetNewRecordHeader(&pos, &left, &written, 0, &info) != HVDPUT_SUCCESS) return 30;
  if (written != 100 || info.recordLength != 71 || HVDPUpdateRecordHeader(&info) != 0) return 31;
  memset(&info, 0, sizeof info);
  pos = buffer;
  left = written;
  if (HVDPGetRecordHeaderOnly(&pos, &left, &info) != 0 || info.state != HVDP_STATE_NEW_SECTION) return 32;
  if (HVDPGetDataSetInfo(&pos, &left, &info) != 0 || left != 0 || info.byteValue != 7) return 33;
  if (info.dataSetInfo == NULL || info.dataSetInfo->bufferSize != 51 || info.dataSetInfo->dataSize != 48) return 34;
  free(info.dataSetInfo);
  free(info.nameBuffer);
  return 0;
}

int main(void) {
  UINT64 a, b;
  int rc = check_field_round_trip();
  if (rc == 0) rc = check_section();
  if (rc == 0) rc = check_record();
  if (rc == 0 && HVDPGenerateCRC(9, 0xFFFFFFFFu, (const uint8_t *)"123456789") != 0x340BC6D9u) rc = 20;
  a.value = 3;
  b.value = 4;
  if (rc == 0 && DPDFSubUINT64(&a, &b, &a) != HVDPUT_BUFFER_UNDERFLOW) rc = 21;
  return rc;
}
