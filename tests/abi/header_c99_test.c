/* A host of the public header, built here as strict C99 and by the hosts of
 * the installed package as C99 and as C++: packed records, completion codes,
 * calls through the shared library, and memory the library allocates freed
 * by the host. Exits with the number of the first check that fails. */
#include <dpxut.h>
#include <stdlib.h>
#include <string.h>

int main(void) {
  static const uint8_t text[4] = {'X', 'Y', 'Z', 0};
  static const uint8_t field[8] = {0x80, 0x80, 0x30, 0x04, 'X', 'Y', 'Z', 0};
  uint8_t buffer[128];
  uint8_t *pos = buffer;
  uint32_t left = sizeof buffer, written = 0, value = 0;
  DPDFField out, in;
  HVDPRecordHeaderInfo info;

  /* Identifier 0x808030 with the text XYZ, written and read back. */
  memset(&out, 0, sizeof out);
  out.fieldId = 0x808030u;
  out.data = text;
  if (DPDFPutNextField(buffer, sizeof buffer, &out, 4, 4) != HVDPUT_SUCCESS) return 1;
  if (out.bytesUsed != 8 || memcmp(buffer, field, 8) != 0) return 2;
  if (DPDFGetNextField(buffer, out.bytesUsed, &in) != HVDPUT_SUCCESS || in.dataSize.half.high != 0) return 3;
  if (in.fieldId != 0x808030u || in.dataSize.value != 4 || in.data != buffer + 4) return 4;
  if (DPDFSetUINT32Data(&in.dataSize, in.data, &value) != HVDPUT_SUCCESS || value != 0x005A5958u) return 5;
  if (HVDPGenerateCRC(9, 0xFFFFFFFFu, (const uint8_t *)"123456789") != 0x340BC6D9u) return 6;

  /* A record header for an empty data set, written and read back. */
  memset(&info, 0, sizeof info);
  info.byteValue = 7;
  if (HVDPSetNewRecordHeader(&pos, &left, &written, 0, &info) != HVDPUT_SUCCESS) return 7;
  if (written != 100 || info.recordLength != 71 || HVDPUpdateRecordHeader(&info) != 0) return 8;
  memset(&info, 0, sizeof info);
  pos = buffer;
  left = written;
  if (HVDPGetRecordHeaderOnly(&pos, &left, &info) != 0 || info.state != HVDP_STATE_NEW_SECTION) return 9;
  if (HVDPGetDataSetInfo(&pos, &left, &info) != 0 || left != 0 || info.byteValue != 7) return 10;
  if (info.dataSetInfo == NULL || info.dataSetInfo->bufferSize != 51 || info.dataSetInfo->dataSize != 48) return 11;
  free(info.dataSetInfo);
  free(info.nameBuffer);
  return 0;
}
