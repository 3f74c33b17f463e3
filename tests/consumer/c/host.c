/* A C99 host built against an installed libdpxut through pkg-config: writes
 * a field too long for the short size form and reads it back whole and cut
 * by a buffer end, checks the CRC-32 check value and blank-space padding.
 * Exits non-zero naming the first check that fails. */
#include <dpxut.h>
#include <stdio.h>
#include <string.h>

#define CHECK(cond)                                                      \
  do {                                                                   \
    if (!(cond)) {                                                       \
      fprintf(stderr, "host_c:%d: check failed: %s\n", __LINE__, #cond); \
      return 1;                                                          \
    }                                                                    \
  } while (0)

/* Identifier 80 80 30, 300 data bytes: automatic form 81 2C 01 (two size
 * bytes, little-endian). */
static int check_long_field(void) {
  static const uint8_t head[6] = {0x80, 0x80, 0x30, 0x81, 0x2C, 0x01};
  uint8_t data[300], buffer[320];
  DPDFField out, in;
  unsigned i;
  for (i = 0; i < sizeof data; i++) data[i] = (uint8_t)(i * 7u);
  memset(&out, 0, sizeof out);
  out.fieldId = 0x808030u;
  out.dataSize.value = sizeof data;
  out.data = data;
  CHECK(DPDFPutNextField(buffer, sizeof buffer, &out, 0x80, sizeof data) == HVDPUT_SUCCESS);
  CHECK(out.bytesUsed == 306 && out.dataOverflow.value == 0);
  CHECK(memcmp(buffer, head, sizeof head) == 0 && memcmp(buffer + 6, data, sizeof data) == 0);

  CHECK(DPDFGetNextField(buffer, out.bytesUsed, &in) == HVDPUT_SUCCESS);
  CHECK(in.fieldId == 0x808030u && in.dataSize.value == 300);
  CHECK(in.data == buffer + 6 && in.bytesUsed == 306 && in.dataOverflow.value == 0);

  /* The host's buffer ends 200 bytes into the data. */
  CHECK(DPDFGetNextField(buffer, 206, &in) == HVDPUT_SUCCESS);
  CHECK(in.bytesUsed == 206 && in.dataOverflow.value == 100);
  return 0;
}

static int check_crc_and_padding(void) {
  static const uint8_t pad14[14] = {0x80, 0x80, 0x19, 0x02, 0xA5, 0x5A, 0x01,
                                    0x02, 0x00, 0x00, 0x80, 0x80, 0x19, 0x00};
  uint8_t buffer[16];
  unsigned i;
  CHECK(HVDPGenerateCRC(9, 0xFFFFFFFFu, (const uint8_t *)"123456789") == 0x340BC6D9u);

  memset(buffer, 0xEE, sizeof buffer);
  HVDPPadBlankSpace(buffer, 13); /* below a pad section: zero filler */
  for (i = 0; i < 13; i++) CHECK(buffer[i] == 0);
  CHECK(buffer[13] == 0xEE);

  memset(buffer, 0xEE, sizeof buffer);
  HVDPPadBlankSpace(buffer, 14); /* the smallest pad section */
  CHECK(memcmp(buffer, pad14, sizeof pad14) == 0 && buffer[14] == 0xEE);
  return 0;
}

int main(void) {
  if (check_long_field() != 0) return 1;
  if (check_crc_and_padding() != 0) return 2;
  return 0;
}
