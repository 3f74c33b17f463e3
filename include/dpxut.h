/* dpxut.h -- interface of libdpxut.so.0, the SIDF and name utility library
 * for backup and restore programs.
 *
 * The library encodes and decodes the System Independent Data Format (SIDF)
 * field stream that backup media carry, parses a data set's description out
 * of a record, keeps a data set's names in several name spaces, splits,
 * normalises and matches paths, converts dates, and does all string work in
 * three encodings: locale bytes, UTF-8 and wide characters.
 *
 * Conventions that hold for every function below:
 *  - Functions report through their result: a 32-bit completion code
 *    (0 for success, HVDPUT_* otherwise), a pointer, or a small integer.
 *    Nothing is printed and nothing is thrown.
 *  - The host owns every buffer and record it passes. Blocks the library
 *    hands over are allocated with malloc/calloc/realloc; the comment of each
 *    function says how they are released.
 *  - Records are packed: members follow one another without gaps. Numbers
 *    inside SIDF data and stored records are little-endian.
 *  - Name space numbers: 0, 1, 2 and 4 hold names in locale bytes; adding
 *    0x100 gives the same name space with UTF-8 names, adding 0x200 with
 *    wide-character (32-bit wchar_t) names.
 *  - The library creates no threads. Calls on distinct records, buffers
 *    and handles may run concurrently; the process-wide conversion set-up
 *    is run while no other thread converts text (a first conversion made
 *    without it runs it once, also when threads convert first together,
 *    but it switches the process's LC_CTYPE meanwhile).
 *  - Reading and writing whole streams: see dpxut_stream.h, included at the
 *    end, and FORMAT.md for the stream layout.
 */
#ifndef DPXUT_H
#define DPXUT_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Compile-time checks of the packed layouts, in C99, C11 and C++. */
#if defined(__cplusplus)
#define DPXUT_STATIC_ASSERT(cond, tag) static_assert(cond, #tag)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define DPXUT_STATIC_ASSERT(cond, tag) _Static_assert(cond, #tag)
#else
#define DPXUT_STATIC_ASSERT(cond, tag) \
  typedef char dpxut_assert_##tag[(cond) ? 1 : -1]
#endif

/* ------------------------------------------------------------------------
 * Completion codes
 *
 * Every function that returns a completion code returns 0 on success or
 * one of these.
 * ------------------------------------------------------------------------ */
#define HVDPUT_SUCCESS            0x00000000u
#define HVDPUT_INVALID_HANDLE     0xFFFBFFFFu /* handle null or not live */
#define HVDPUT_INVALID_PARAMETER  0xFFFBFFFDu /* argument null or invalid */
#define HVDPUT_NO_MORE_ENTRIES    0xFFFBFFFCu /* iteration has ended */
#define HVDPUT_OUT_OF_MEMORY      0xFFFBFFFBu /* an allocation failed */
#define HVDPUT_OVERFLOW           0xFFFBFFFAu /* value or output does not fit */
#define HVDPUT_FIELD_ID_MISMATCH  0xFFFBFFF9u /* section head not as expected */
#define HVDPUT_BEYOND_END         0xFFFBFFF8u /* walk position past its area */
#define HVDPUT_BUFFER_UNDERFLOW   0xFFFBFFF0u /* buffer ends inside a field */

#pragma pack(push, 1)

/* ========================================================================
 * 1. Field codec, 64-bit quantities, sections, pad sections and CRC-32
 * ======================================================================== */
/* A SIDF stream is a sequence of fields. Each field is an identifier of one
 * to four bytes (most significant byte first; a zero byte where a field is
 * expected is filler), a size descriptor, and the data:
 *   descriptor 00-7F   the data size itself (short form)
 *   descriptor 80-BF   1, 2, 4 or 8 little-endian size bytes follow
 *                      (2^(descriptor & 3) of them)
 *   descriptor C0-FF   the descriptor byte is the whole value (embedded form;
 *                      read back as 1 data byte, the descriptor itself)
 * Fixed-size identifiers carry their size and have no descriptor: bit 6 of
 * the last identifier byte set (short identifiers), or the high nibble of the
 * second-to-last byte 0xF (long identifiers); the size is 2^(low 3 bits).
 *
 * DPDFGetNextField decodes the field at a read position, DPDFPutNextField
 * encodes one at a write position. Both report a field cut by the end of the
 * buffer through dataOverflow and return 0; the caller advances its position
 * by bytesUsed and continues with the next buffer. Neither allocates nor
 * keeps pointers. Numbers inside data are little-endian. */

/* An unsigned 64-bit quantity (field sizes, overflow counts), in host byte
 * order; half.low and half.high address its two 32-bit halves. */
typedef union UINT64 {
  uint64_t value;
  struct {
    uint32_t low;  /* bits 0-31 */
    uint32_t high; /* bits 32-63 */
  } half;
} UINT64;
DPXUT_STATIC_ASSERT(sizeof(UINT64) == 8, uint64_size);
DPXUT_STATIC_ASSERT(offsetof(UINT64, value) == 0, uint64_value);
DPXUT_STATIC_ASSERT(offsetof(UINT64, half.low) == 0, uint64_low);
DPXUT_STATIC_ASSERT(offsetof(UINT64, half.high) == 4, uint64_high);

/* One field. On reading, data points into the caller's buffer (null for a
 * short-form size of 0); on writing, data is where the bytes come from. */
typedef struct DPDFField {
  uint32_t fieldId;      /* identifier, as the big-endian number of its bytes */
  UINT64 dataSize;       /* declared data size */
  const uint8_t *data;   /* first data byte */
  uint32_t bytesUsed;    /* buffer bytes consumed or written, from its start */
  UINT64 dataOverflow;   /* data bytes beyond the buffer's end, 0 if whole */
} DPDFField;
DPXUT_STATIC_ASSERT(offsetof(DPDFField, fieldId) == 0, dpdffield_fieldid);
DPXUT_STATIC_ASSERT(offsetof(DPDFField, dataSize) == 4, dpdffield_datasize);
DPXUT_STATIC_ASSERT(offsetof(DPDFField, data) == 12, dpdffield_data);
DPXUT_STATIC_ASSERT(offsetof(DPDFField, bytesUsed) == 12 + sizeof(const uint8_t *),
                    dpdffield_bytesused);
DPXUT_STATIC_ASSERT(offsetof(DPDFField, dataOverflow) == 16 + sizeof(const uint8_t *),
                    dpdffield_dataoverflow);
DPXUT_STATIC_ASSERT(sizeof(DPDFField) == 24 + sizeof(const uint8_t *), dpdffield_size);

/* Decodes the field that starts at buffer (zero filler bytes before it are
 * skipped and counted in bytesUsed). Returns 0, or HVDPUT_BUFFER_UNDERFLOW
 * when the buffer is empty, holds only filler, or ends inside the identifier
 * or size descriptor. A field whose data runs past the end returns 0 with
 * bytesUsed = bufferSize and dataOverflow = the missing data bytes. */
uint32_t DPDFGetNextField(const uint8_t *buffer, uint32_t bufferSize, DPDFField *field);

/* Encodes field->fieldId with a size descriptor chosen by sizeForm, then
 * copies dataBytes bytes from field->data:
 *   sizeForm 00-7F  short form: the size is sizeForm (dataBytes <= sizeForm)
 *   sizeForm 80-BF  automatic: field->dataSize in the smallest form
 *   sizeForm C0-FF  embedded: sizeForm is the value; no data is copied
 * Fixed-size identifiers ignore sizeForm and get field->dataSize set to their
 * size. dataBytes may be less than the declared size (the caller writes the
 * rest later). Data that does not fit is counted in dataOverflow. Returns 0,
 * HVDPUT_INVALID_PARAMETER (dataBytes above the declared size, or data
 * needed from a null field->data) or HVDPUT_OVERFLOW (the identifier and
 * descriptor do not fit; nothing is stored). */
uint32_t DPDFPutNextField(uint8_t *buffer, uint32_t bufferSize, DPDFField *field,
                          uint8_t sizeForm, uint32_t dataBytes);

/* *value = the count (0-8) little-endian bytes at bytes, zero-extended.
 * A null bytes or a count of 0 gives 0. count above 8: 0 and HVDPUT_OVERFLOW. */
uint32_t DPDFSetUINT64(UINT64 *value, const uint8_t *bytes, uint16_t count);

/* *out32 = *value when it fits in 32 bits; otherwise HVDPUT_OVERFLOW and
 * *out32 is left alone. */
uint32_t DPDFGetUINT64(const UINT64 *value, uint32_t *out32);

/* *sum = *a + *b (sum may be a or b). HVDPUT_OVERFLOW when the true sum
 * exceeds 2^64 - 1; the wrapped sum is stored all the same. */
uint32_t DPDFAddUINT64(const UINT64 *a, const UINT64 *b, UINT64 *sum);

/* *difference = *a - *b (may alias). HVDPUT_BUFFER_UNDERFLOW when a < b;
 * difference is then left alone. */
uint32_t DPDFSubUINT64(const UINT64 *a, const UINT64 *b, UINT64 *difference);

/* *value += n, with the result and code of DPDFAddUINT64. */
uint32_t DPDFIncrementUINT64(UINT64 *value, uint32_t n);

/* *value -= n; HVDPUT_BUFFER_UNDERFLOW and no change when n exceeds it. */
uint32_t DPDFDecrementUINT64(UINT64 *value, uint32_t n);

/* *out32 = the little-endian number of *dataSize bytes at data (a field's
 * value). Up to 4 bytes always fit; 5 to 8 bytes fit when the value is below
 * 2^32. HVDPUT_OVERFLOW, with *out32 untouched, for a value that does not
 * fit or a size above 8 bytes (nothing is read then). */
uint32_t DPDFSetUINT32Data(const UINT64 *dataSize, const uint8_t *data, uint32_t *out32);

/* Fields are grouped into sections: a head field (the section identifier,
 * short-form size 2, data A5 5A), member fields in any order, and a closing
 * field with the head's identifier again, either empty or holding a 4-byte
 * little-endian check value. A member field with identifier
 * DPDF_OFFSET_TO_END holds the distance from the end of its own data to the
 * start of the closing field, so readers can jump over the section.
 *
 * DPDFGetFields reads a whole section into a table of destinations,
 * DPDFPutFields writes one from a table of fields. Tables are arrays ended
 * by a row whose identifier is DPDF_END_OF_TABLE. */

#define DPDF_END_OF_TABLE   0x20000000u /* ends every table */
#define DPDF_SECTION_MARK   0x10000000u /* header tables: the next row is the head */
#define DPDF_SKIP_ENTRY     0x30000000u /* header tables: row is ignored */
#define DPDF_OFFSET_TO_END  0x00000001u /* field: distance to the closing field */

/* One row of a reading table. The caller sets fieldId, data, dataSize (the
 * capacity of data) and clears found; a matching field sets found to 1 and
 * dataSize to the bytes stored. */
typedef struct DPDFGetEntry {
  uint32_t fieldId;   /* identifier to collect */
  void *data;         /* destination, owned by the caller */
  uint32_t dataSize;  /* in: capacity of data; out: bytes stored */
  uint16_t found;     /* 1 once the row has been filled */
} DPDFGetEntry;
DPXUT_STATIC_ASSERT(offsetof(DPDFGetEntry, fieldId) == 0, dpdfgetentry_fieldid);
DPXUT_STATIC_ASSERT(offsetof(DPDFGetEntry, data) == 4, dpdfgetentry_data);
DPXUT_STATIC_ASSERT(offsetof(DPDFGetEntry, dataSize) == 4 + sizeof(void *),
                    dpdfgetentry_datasize);
DPXUT_STATIC_ASSERT(offsetof(DPDFGetEntry, found) == 8 + sizeof(void *),
                    dpdfgetentry_found);
DPXUT_STATIC_ASSERT(sizeof(DPDFGetEntry) == 10 + sizeof(void *), dpdfgetentry_size);

/* One row of a writing table: the field with its data and (for the
 * automatic size form) dataSize, the number of data bytes to write and the
 * sizeForm selector of DPDFPutNextField. A non-zero valueLocation asks for
 * the address of the field's data in the buffer, stored back there; such a
 * field is written with a placeholder to be overwritten later. */
typedef struct DPDFPutEntry {
  DPDFField field;         /* receives bytesUsed and dataOverflow */
  uint32_t dataBytes;      /* data bytes to write */
  uintptr_t valueLocation; /* in: non-zero asks; out: address of the data */
  uint8_t sizeForm;        /* size descriptor selector, as DPDFPutNextField */
} DPDFPutEntry;
DPXUT_STATIC_ASSERT(offsetof(DPDFPutEntry, field) == 0, dpdfputentry_field);
DPXUT_STATIC_ASSERT(offsetof(DPDFPutEntry, dataBytes) == sizeof(DPDFField),
                    dpdfputentry_databytes);
DPXUT_STATIC_ASSERT(offsetof(DPDFPutEntry, valueLocation) == sizeof(DPDFField) + 4,
                    dpdfputentry_valuelocation);
DPXUT_STATIC_ASSERT(offsetof(DPDFPutEntry, sizeForm) ==
                        sizeof(DPDFField) + 4 + sizeof(uintptr_t),
                    dpdfputentry_sizeform);
DPXUT_STATIC_ASSERT(sizeof(DPDFPutEntry) == sizeof(DPDFField) + 5 + sizeof(uintptr_t),
                    dpdfputentry_size);

/* Reads the section at *buffer whose head has identifier headId. Each member
 * field fills the first row with its identifier not yet found: up to the
 * row's capacity (longer values are cut), the rest of the destination set to
 * zero. Unknown and surplus fields are skipped. *buffer and *bufferSize are
 * advanced past every field consumed, also on failure. Returns 0,
 * HVDPUT_FIELD_ID_MISMATCH (the first field is not headId; nothing consumed)
 * or HVDPUT_BUFFER_UNDERFLOW (the buffer ends before the closing field; a
 * field cut by the end is neither consumed nor stored). */
uint32_t DPDFGetFields(uint32_t headId, DPDFGetEntry *table, uint8_t **buffer,
                       uint32_t *bufferSize);

/* Writes a section at *buffer: row 0 is the head (its data, dataBytes and
 * sizeForm are replaced by the signature), the other rows are the members,
 * then the closing field. crcMode 0: closing field without data; 1: with the
 * check value of the head and members; other: with FF FF FF FF. Rows with
 * DPDF_OFFSET_TO_END or a non-zero valueLocation get a placeholder as data;
 * the library points data at constant storage of its own. Advances *buffer
 * and *bufferSize past what was written, also on failure (the caller then
 * discards the partial section). Returns 0, HVDPUT_OVERFLOW (a field does not
 * fit wholly), HVDPUT_BUFFER_UNDERFLOW (the offset field's width cannot hold
 * its distance), HVDPUT_INVALID_PARAMETER (an empty table, or an offset
 * row whose sizeForm is not a short-form width) or a code of
 * DPDFPutNextField. */
uint32_t DPDFPutFields(DPDFPutEntry *table, uint8_t **buffer, uint32_t *bufferSize,
                       uint32_t crcMode);

/* Fills exactly size bytes at buffer with something every reader skips:
 * 1-13 bytes of zero filler, or pad sections (identifier 0x808019) of 14 to
 * 65549 bytes each, as many as size needs. */
void HVDPPadBlankSpace(uint8_t *buffer, uint32_t size);

/* Continues the CRC-32 register crc (reflected polynomial 0xEDB88320, no
 * final inversion) over length bytes at data and returns it. Check values
 * start the register at 0xFFFFFFFF: the stored value is the complement of
 * the usual CRC-32. A null data or a length of 0 returns crc. Calls chain
 * over consecutive pieces of data. */
uint32_t HVDPGenerateCRC(uint32_t length, uint32_t crc, const uint8_t *data);

/* ========================================================================
 * 2. Dates and times
 * ======================================================================== */
/*
 * Dates travel in three forms. The DOS packed date and time is a 32-bit
 * value: the date in bits 31-16 (year-1980 in 15-9, month in 8-5, day in
 * 4-0) and the time in bits 15-0 (hour in 15-11, minute in 10-5, second/2
 * in 4-0); packed values order like the moments they stand for, and 0
 * means "no date". The ECMA time stamp is the 16-byte record that SIDF
 * time-stamp fields carry. Unix time is an unsigned 32-bit count of seconds
 * since 1970-01-01 00:00 UTC. These functions never allocate; the date
 * functions return 0 or 1 (1: not converted), the compare -1, 0, 1 or
 * HVDP_ECMA_INCOMPARABLE. Fields read from media are never trusted: any
 * bytes convert without fault.
 */

/* typeAndTimeZone: bits 15-12 the type, bits 11-0 the zone in minutes east
 * of UTC as a 12-bit two's complement number. Type 0 (whole word 0): the
 * fields are UTC. Type 1: local time with its zone; zone -2047 (0x801)
 * means "not specified". Bytes 9-15 are written 0 and ignored on reading. */
typedef struct HVDPECMATimeStamp {
  uint16_t typeAndTimeZone;
  int16_t year;                   /* full year, e.g. 2024 */
  uint8_t month;                  /* 1-12 */
  uint8_t day;                    /* 1-31 */
  uint8_t hour;                   /* 0-23 */
  uint8_t minute;                 /* 0-59 */
  uint8_t second;                 /* 0-59 */
  uint8_t centiseconds;
  uint8_t hundredsOfMicroseconds;
  uint8_t microseconds;
  uint8_t reserved[4];
} HVDPECMATimeStamp;
DPXUT_STATIC_ASSERT(sizeof(HVDPECMATimeStamp) == 16, ecma_stamp_size);
DPXUT_STATIC_ASSERT(offsetof(HVDPECMATimeStamp, typeAndTimeZone) == 0, ecma_type_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPECMATimeStamp, year) == 2, ecma_year_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPECMATimeStamp, month) == 4, ecma_month_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPECMATimeStamp, day) == 5, ecma_day_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPECMATimeStamp, hour) == 6, ecma_hour_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPECMATimeStamp, minute) == 7, ecma_minute_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPECMATimeStamp, second) == 8, ecma_second_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPECMATimeStamp, centiseconds) == 9, ecma_centi_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPECMATimeStamp, hundredsOfMicroseconds) == 10, ecma_hmicro_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPECMATimeStamp, microseconds) == 11, ecma_micro_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPECMATimeStamp, reserved) == 12, ecma_reserved_off);

#define HVDP_ECMA_TYPE_LOCAL        0x1000u     /* type 1 in typeAndTimeZone */
#define HVDP_ECMA_ZONE_UNSPECIFIED  (-2047)     /* zone reported when unknown */
#define HVDP_ECMA_INCOMPARABLE      0xFFFFF801u /* HVDPECMATimeCompare */

/* 1 if dateAndTime lies outside [firstDateAndTime, lastDateAndTime], else
 * 0. A bound of 0 is no bound, and a dateAndTime of 0 (no date) is never
 * outside. All three are DOS packed dates and times. */
uint32_t HVDPCheckDateAndTimeRange(uint32_t firstDateAndTime,
                                   uint32_t lastDateAndTime,
                                   uint32_t dateAndTime);

/* Packed DOS date ((year-1980)<<9 | month<<5 | day) and time
 * (hour<<11 | minute<<5 | second/2), taken to 16 bits. Fields are not
 * masked: a month above 15 or a day above 31 spills into its neighbour. */
uint16_t HVDPPackDate(uint16_t year, uint16_t month, uint16_t day);
uint16_t HVDPPackTime(uint16_t hour, uint16_t minute, uint16_t second);

/* Packed DOS date and time. Every field is masked to its width; the year
 * keeps the low 7 bits of year-1980, so 2108 packs as 1980. */
uint32_t HVDPPackDateTime(uint32_t year, uint32_t month, uint32_t day,
                          uint32_t hour, uint32_t minute, uint32_t second);

/* Split a packed date (low 16 bits of packedDate), a packed time (low 16
 * bits of packedTime) or a packed date and time into fields. Nothing is
 * validated; seconds come out even. Null out-pointers are skipped. */
void HVDPUnPackDate(uint32_t packedDate, uint16_t *year, uint16_t *month,
                    uint16_t *day);
void HVDPUnPackTime(uint32_t packedTime, uint16_t *hour, uint16_t *minute,
                    uint16_t *second);
void HVDPUnPackDateTime(uint32_t packedDateTime, uint16_t *year,
                        uint16_t *month, uint16_t *day, uint16_t *hour,
                        uint16_t *minute, uint16_t *second);

/* The present local time, packed; 0 if the clock cannot be read or lies
 * outside 1980-2107. */
uint32_t HVDPGetCurrentDateAndTime(void);

/* Packs the stamp's fields as they stand (no zone shift) into
 * *dosDateTime and returns 0. A year before 1980 or after 2107, which the
 * packed form cannot hold, or a null stamp stores 0 (no date) and
 * returns 1. */
uint32_t HVDPECMAToDOSTime(const HVDPECMATimeStamp *stamp,
                           uint32_t *dosDateTime);

/* Unpacks dosDateTime, a local time, into the stamp's fields unshifted and
 * records the server's standard zone (type 1). Returns 0; 1 for a null
 * stamp. */
uint32_t HVDPDOSTimeToECMA(uint32_t dosDateTime, HVDPECMATimeStamp *stamp);

/* Reads the stamp's fields as UTC and stores the seconds since 1970 in
 * *unixTime and the stamp's zone in *timeZone (minutes east; 0 for a
 * type-0 word; HVDP_ECMA_ZONE_UNSPECIFIED for an unspecified zone or a word
 * of another type). The zone does not shift the seconds. Returns 0; for a
 * year before 1970, a moment past 2106-02-07 06:28:15 or a null stamp,
 * stores 0 and HVDP_ECMA_ZONE_UNSPECIFIED and returns 1. Does not depend on
 * the process time zone. */
uint32_t HVDPECMAToUnixTime(const HVDPECMATimeStamp *stamp,
                            uint32_t *unixTime, int32_t *timeZone);

/* Writes unixTime as UTC fields into the stamp. withTimeZone non-zero
 * records the server's standard zone in the word (type 1), 0 writes word 0;
 * the fields are UTC either way, so HVDPECMAToUnixTime gives unixTime back.
 * Returns 0; 1 for a null stamp. */
uint32_t HVDPUnixTimeToECMA(uint32_t unixTime, HVDPECMATimeStamp *stamp,
                            uint32_t withTimeZone);

/* Orders two stamps by the moments they denote: fields read as UTC minus
 * the zone offset. Returns 0xFFFFFFFF if first is earlier, 0 if equal, 1 if
 * later, or HVDP_ECMA_INCOMPARABLE when either stamp is null, before 1970,
 * or has no specified zone. */
uint32_t HVDPECMATimeCompare(const HVDPECMATimeStamp *first,
                             const HVDPECMATimeStamp *second);

/* The server's standard-time offset in minutes east of UTC (daylight
 * saving time not included), from the process time zone (TZ). Follows a
 * change of TZ at the next call; with TZ unset, a change of /etc/localtime
 * within a second. No system call while neither changes. */
int32_t GenECMATimeZone(void);

/* The server's current offset from UTC in seconds east, daylight saving
 * time included. Follows TZ and /etc/localtime as GenECMATimeZone does and
 * the clock to the second; if the clock cannot be read, the standard
 * offset is fixed for the rest of the process. */
int32_t SetTZOffset(void);

/* ========================================================================
 * 3. Stream headers: media, session and record headers
 * ======================================================================== */
/* Media and session headers are SIDF sections (head, member fields, closing
 * field) that describe a medium (section 0x808000) and a backup session
 * (section 0x808004). The Set functions write only the member fields into
 * the host's buffer, taken by value, and report the bytes written through
 * *bytesWritten (set to 0 first); the host writes the head field (short-form
 * size 2, data A5 5A) before them and the closing field after them with
 * DPDFPutNextField, and advances its own position. The Get functions take
 * the buffer positioned at the head field, read the whole section with
 * DPDFGetFields and fill the host's record; they do not report the section's
 * length. Texts are written with a one-byte size: at most 126 characters,
 * measured within their member (a member without a zero is written whole).
 * Flags are written C0 (false: 0 or 0xC0) or C1 (true: any other value) and
 * read back as that raw byte, so a description read back writes unchanged. */

#define HVDP_MEDIA_HEADER_ID    0x808000u /* media header section */
#define HVDP_SESSION_HEADER_ID  0x808004u /* session header section */
#define HVDP_HEADER_TEXT_MAX    126       /* characters in one header text */

/* Description of a medium. Fields: 0x80F401 and 0x80F400 (stamps), 0x808030
 * (text), 0x80F100 (low 16 bits of number), 0x80802F (flag). */
typedef struct HVDPMediaHeaderInfo {
  HVDPECMATimeStamp firstTimeStamp;
  HVDPECMATimeStamp secondTimeStamp;
  char text[64];   /* zero-terminated unless all 64 bytes are text */
  uint32_t number; /* 16 bits of it are recorded */
  uint32_t flag;   /* read back as 0xC0 or 0xC1 (0 when absent) */
} HVDPMediaHeaderInfo;
DPXUT_STATIC_ASSERT(sizeof(HVDPMediaHeaderInfo) == 104, media_info_size);
DPXUT_STATIC_ASSERT(offsetof(HVDPMediaHeaderInfo, firstTimeStamp) == 0, media_first_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPMediaHeaderInfo, secondTimeStamp) == 16, media_second_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPMediaHeaderInfo, text) == 32, media_text_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPMediaHeaderInfo, number) == 96, media_number_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPMediaHeaderInfo, flag) == 100, media_flag_off);

/* Writes the five member fields of a media header at buffer. Returns 0;
 * HVDPUT_INVALID_PARAMETER (null argument, text above 126 characters;
 * nothing written); HVDPUT_OVERFLOW when a field does not fit (the fields
 * before it stand in the buffer and are counted in *bytesWritten). */
uint32_t HVDPSetMediaHeaderInfo(const HVDPMediaHeaderInfo *info, uint8_t *buffer,
                                uint32_t bufferSize, uint32_t *bytesWritten);

/* Reads the media header section at buffer into *info. Also accepts the
 * older fields: the text in 0x81EFFE, the stamps as Unix times (0x80F20B,
 * 0x80F20C) or as one DOS date and time (0x81F2FF). Members without a field
 * keep their content; number and flag are always set. Returns 0,
 * HVDPUT_INVALID_PARAMETER (null argument), HVDPUT_FIELD_ID_MISMATCH (not a
 * media header) or HVDPUT_BUFFER_UNDERFLOW (the buffer ends before the
 * closing field; *info may hold some members already). */
uint32_t HVDPGetMediaHeaderInfo(const uint8_t *buffer, uint32_t bufferSize,
                                HVDPMediaHeaderInfo *info);

/* Description of a backup session. The operating system is recorded as a
 * code (0 "Halvane", 1 "DOS", 2 "OS/2", 3 "Macintosh", 4 "Unix", 5 "NT",
 * 6 "Lan Manager", 7 "Lan Server", 8 "Vines"; names match without regard to
 * case) and the format family as 1 ("DPX", any case) or 2 (any other family,
 * read back as "common"). shortName is not recorded: the reader derives it
 * from fullName. Fields: 0x80F403 stamp, 0x8072 number, 0x80802D flag,
 * 0x808005..0x808008 text1..text4, 0x02 fullName, 0x03 operating system,
 * 0x04 text5, 0x8009 family. All texts are zero-terminated. */
typedef struct HVDPSessionHeaderInfo {
  HVDPECMATimeStamp timeStamp;
  uint32_t number;
  uint32_t flag;        /* read back as 0xC0 or 0xC1 (0 when absent) */
  char text1[80];
  char text2[80];
  char text3[40];
  char text4[10];
  char shortName[48];
  char osName[40];
  char text5[10];
  char familyName[32];
  char fullName[256];
} HVDPSessionHeaderInfo;
DPXUT_STATIC_ASSERT(sizeof(HVDPSessionHeaderInfo) == 620, session_info_size);
DPXUT_STATIC_ASSERT(offsetof(HVDPSessionHeaderInfo, timeStamp) == 0, session_stamp_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPSessionHeaderInfo, number) == 16, session_number_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPSessionHeaderInfo, flag) == 20, session_flag_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPSessionHeaderInfo, text1) == 24, session_text1_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPSessionHeaderInfo, text2) == 104, session_text2_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPSessionHeaderInfo, text3) == 184, session_text3_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPSessionHeaderInfo, text4) == 224, session_text4_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPSessionHeaderInfo, shortName) == 234, session_short_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPSessionHeaderInfo, osName) == 282, session_os_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPSessionHeaderInfo, text5) == 322, session_text5_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPSessionHeaderInfo, familyName) == 332, session_family_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPSessionHeaderInfo, fullName) == 364, session_full_off);

/* Writes the eleven member fields of a session header at buffer. An
 * operating system missing from the table is written as its name (when it
 * starts with a printable ASCII character) or as code 0xFFFFFFFF. Returns 0;
 * HVDPUT_INVALID_PARAMETER (null argument, a text above 126 characters;
 * nothing written); HVDPUT_OVERFLOW when a field does not fit (the fields
 * before it stand in the buffer and are counted in *bytesWritten). */
uint32_t HVDPSetSessionHeaderInfo(const HVDPSessionHeaderInfo *info, uint8_t *buffer,
                                  uint32_t bufferSize, uint32_t *bytesWritten);

/* Reads the session header section at buffer into *info. osName and
 * familyName receive the name of their code, or the value itself when the
 * field holds text; an unknown code or a missing field leaves them as they
 * were. shortName becomes the part of fullName after its last full stop for
 * the DPX family, the whole fullName when the section has no family field,
 * and is left alone otherwise; names are cut to their members. The older DOS
 * date and time field 0x8042 wins over 0x80F403. Members without a field
 * keep their content; number and flag are always set. Returns 0,
 * HVDPUT_INVALID_PARAMETER (null argument), HVDPUT_FIELD_ID_MISMATCH or
 * HVDPUT_BUFFER_UNDERFLOW. */
uint32_t HVDPGetSessionHeaderInfo(const uint8_t *buffer, uint32_t bufferSize,
                                  HVDPSessionHeaderInfo *info);

/* A data set record starts with a record header of two sections. The first
 * (head 9, or 0x8001 for a short header) holds the record's time stamp
 * (field 0x54, full header only) and its length (field 0x0B: the bytes of
 * the record that follow the first section). The second (head 0x813F, full
 * header only) describes the data set: values, dates, extension, the byte
 * value and up to ten names with their name spaces (0x11/0x12 pairs); see
 * HVDPDataSetInfo and HVDPGetDataSetInfo below.
 *
 * Writing: HVDPSetNewRecordHeader writes both sections with a reserved
 * length and leaves in the description where it stands; the host writes the
 * record's data, adds its byte count to recordLength, and calls
 * HVDPUpdateRecordHeader while the output buffer is still in place. Reading:
 * HVDPGetRecordHeaderOnly reads the first section (skipping pad sections and
 * any other section before it) and sets the parse state; HVDPGetDataSetInfo
 * then reads the second section from the same position.
 *
 * The description, HVDPRecordHeaderInfo, is declared with the data set
 * information below. Position and remaining size are passed by address and
 * advanced past what was consumed or written. */

#define HVDP_RECORD_HEADER_ID        0x09u   /* first section, full header */
#define HVDP_SHORT_RECORD_HEADER_ID  0x8001u /* first section, short header */
#define HVDP_DATA_SET_INFO_ID        0x813Fu /* second section */

typedef struct HVDPRecordHeaderInfo HVDPRecordHeaderInfo;

/* Writes a record header at *buffer: a full one (first and second section)
 * when info->shortHeader is 0, else the short first section only. The first
 * section's length and check value are reserved for HVDPUpdateRecordHeader.
 * withCheckValues non-zero closes both sections with check values. On
 * success *buffer, *bufferSize and *bytesWritten move past the header,
 * headerLength is its size and recordLength the second section's size.
 * Returns 0, HVDPUT_INVALID_PARAMETER (null argument) or HVDPUT_OVERFLOW
 * (does not fit); on failure position, size and counter are as before. */
uint32_t HVDPSetNewRecordHeader(uint8_t **buffer, uint32_t *bufferSize,
                                uint32_t *bytesWritten, uint16_t withCheckValues,
                                HVDPRecordHeaderInfo *info);

/* Stores recordLength into the header written by HVDPSetNewRecordHeader
 * and then the first section's check value, when it has one. The output
 * buffer must still hold the header, unmoved. Returns 0. */
uint32_t HVDPUpdateRecordHeader(HVDPRecordHeaderInfo *info);

/* Reads the first section of the next record header at *buffer, skipping
 * pad sections and any other section before it, and sets shortHeader,
 * headerLength (the first section's length), recordLength, timeStamp and
 * state (0: a data set information section follows; 3: short header, none
 * follows; a state of 1 is kept for a short header). Returns 0,
 * HVDPUT_INVALID_PARAMETER (a section head without the signature A5 5A, or
 * a null argument) or HVDPUT_BUFFER_UNDERFLOW (the buffer ends first); on
 * failure the position and size are as before. */
uint32_t HVDPGetRecordHeaderOnly(uint8_t **buffer, uint32_t *bufferSize,
                                 HVDPRecordHeaderInfo *info);

/* ========================================================================
 * 4. Data set names: name buffer, name lists, targets and extensions
 * ======================================================================== */
/* Data set name buffer.
 *
 * One heap block holds a data set's names, one per name space, each tagged
 * with its name space number, a caller's tag and, when separators are given,
 * tables of where its components and separators lie. The block is also a
 * stored format: SIDF field 0x813E carries it byte for byte from offset 2.
 * Layout (little-endian, unaligned):
 *   0  u16 bufferSize   allocated size (1024 when created, never > 65535)
 *   2  u16 dataSize     bytes in use counted from offset 2
 *   4  u8  nameCount    entries (at most 255)
 *   5  u8  headerExtra  bytes between offset 6 and the first entry
 *   6 + headerExtra     the entries, back to back:
 *      0      u32 nameSpace, 4 u32 nameTag, 8 u8 n (components)
 *      9      u16 x n component positions, then u16 x n separator positions
 *      9+4n   u16 nameLength, then the name's bytes (never reversed, in its
 *             name space's encoding, 4 bytes per wide character) and one
 *             zero byte
 * Positions are byte offsets in the name; 0xFFFF stands for "none" and is
 * also the value of every slot the position walk does not reach.
 *
 * The caller holds an HVDPNameBuffer pointer (null while there is none) and
 * passes its address to the put functions, which create the block (1024
 * bytes) and resize it with realloc, storing the new address there: once
 * 1024 bytes are used up every further name resizes it to exactly the size
 * used. The caller releases the block with free. Walks go through 32-byte
 * handles: first / next / close; a next call that runs out of entries closes
 * its handle and nulls the caller's pointer.
 *
 * Readers never trust the image: an entry is returned only when it lies
 * wholly within the first 2 + dataSize bytes (and within bufferSize) and
 * its name is followed by its zero byte; otherwise the walk ends with
 * HVDPUT_BUFFER_UNDERFLOW and no pointer into the image is handed out.
 */

/* The header of a name buffer; the entries follow it. */
typedef struct HVDPNameBuffer {
  uint16_t bufferSize;
  uint16_t dataSize;
  uint8_t nameCount;
  uint8_t headerExtra;
} HVDPNameBuffer;
DPXUT_STATIC_ASSERT(sizeof(HVDPNameBuffer) == 6, name_buffer_size);
DPXUT_STATIC_ASSERT(offsetof(HVDPNameBuffer, bufferSize) == 0, name_buffer_size_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPNameBuffer, dataSize) == 2, name_buffer_data_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPNameBuffer, nameCount) == 4, name_buffer_count_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPNameBuffer, headerExtra) == 5, name_buffer_extra_off);

/* A walk through a name buffer; opaque, 32 bytes on the heap. */
typedef struct HVDPNameHandle HVDPNameHandle;

/* One name as the get functions return it. The pointers point into the
 * buffer, stay valid while it is neither changed nor freed, and are not
 * aligned: read the position tables with memcpy. The name's zero byte
 * follows its nameLength bytes. */
typedef struct HVDPDataSetName {
  uint32_t nameSpace;
  uint32_t nameTag;
  uint16_t positionCount;         /* n */
  uint16_t *componentPositions;   /* n u16, null when n is 0 */
  uint16_t *separatorPositions;   /* n u16, null when n is 0 */
  uint16_t nameLength;            /* bytes */
  void *name;
} HVDPDataSetName;
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetName, nameSpace) == 0, dsname_ns_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetName, nameTag) == 4, dsname_tag_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetName, positionCount) == 8, dsname_count_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetName, componentPositions) == 10, dsname_comp_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetName, separatorPositions) == 10 + sizeof(void *), dsname_sep_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetName, nameLength) == 10 + 2 * sizeof(void *), dsname_len_off);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetName, name) == 12 + 2 * sizeof(void *), dsname_name_off);
DPXUT_STATIC_ASSERT(sizeof(HVDPDataSetName) == 12 + 3 * sizeof(void *), dsname_size);

/* Starts (or restarts) *buffer with one name and opens a writing handle in
 * *handle. A reused buffer loses its names but keeps its block. `reverse`
 * non-zero: the name's components run from leaf to root, and the positions
 * are found by scanning reversed copies of name and separators.
 * firstSeparator (a volume's ":") and separator ("/") are strings of the
 * name space and may be null; without either no positions are recorded.
 * nameLength is the name's length in bytes (the non-L forms measure it);
 * without separators and reversal exactly nameLength bytes of name are
 * read, so it needs no terminator. Returns 0, HVDPUT_INVALID_PARAMETER
 * (null buffer, handle or name, or a reused block whose bufferSize is below
 * 6), HVDPUT_OUT_OF_MEMORY, or HVDPUT_OVERFLOW (more than 255 components,
 * or a block beyond 65535 bytes; the handle stays open). A failed resize
 * frees the block and sets *buffer to null. Close the handle with
 * HVDPCloseName. */
uint32_t HVDPPutFirstName(HVDPNameBuffer **buffer, uint32_t nameSpace,
                          uint32_t nameTag, uint16_t reverse,
                          const void *firstSeparator, const void *separator,
                          const void *name, HVDPNameHandle **handle);
uint32_t HVDPPutFirstLName(HVDPNameBuffer **buffer, uint32_t nameSpace,
                           uint32_t nameTag, uint16_t reverse,
                           const void *firstSeparator, const void *separator,
                           uint32_t nameLength, const void *name,
                           HVDPNameHandle **handle);

/* Appends one name through the writing handle of HVDPPutFirstName, with
 * the same buffer pointer. Adds HVDPUT_NO_MORE_ENTRIES when the handle
 * already wrote 255 names, and HVDPUT_INVALID_HANDLE for a handle that is
 * not a live writing handle; *buffer must still be the block the handle
 * writes (HVDPUT_INVALID_PARAMETER otherwise). */
uint32_t HVDPPutNextName(HVDPNameBuffer **buffer, HVDPNameHandle **handle,
                         uint32_t nameSpace, uint32_t nameTag,
                         uint16_t reverse, const void *firstSeparator,
                         const void *separator, const void *name);
uint32_t HVDPPutNextLName(HVDPNameBuffer **buffer, HVDPNameHandle **handle,
                          uint32_t nameSpace, uint32_t nameTag,
                          uint16_t reverse, const void *firstSeparator,
                          const void *separator, uint32_t nameLength,
                          const void *name);

/* Writes a buffer that holds exactly this one name; no handle stays open.
 * Returns the put's code, or the close's when the put succeeded. */
uint32_t HVDPPutOneName(HVDPNameBuffer **buffer, uint32_t nameSpace,
                        uint32_t nameTag, uint16_t reverse,
                        const void *firstSeparator, const void *separator,
                        const void *name);
uint32_t HVDPPutOneLName(HVDPNameBuffer **buffer, uint32_t nameSpace,
                         uint32_t nameTag, uint16_t reverse,
                         const void *firstSeparator, const void *separator,
                         uint32_t nameLength, const void *name);

/* Opens a reading handle on nameBuffer and returns its first name in
 * *dataSetName. Returns 0 with the handle open; otherwise the handle is
 * closed (*handle null) and the result is HVDPUT_NO_MORE_ENTRIES for an
 * empty buffer, HVDPUT_BUFFER_UNDERFLOW for an entry that does not lie
 * within the buffer's data, HVDPUT_INVALID_PARAMETER or
 * HVDPUT_OUT_OF_MEMORY. On failure *dataSetName is left as it was. */
uint32_t HVDPGetFirstName(const HVDPNameBuffer *nameBuffer,
                          HVDPDataSetName *dataSetName,
                          HVDPNameHandle **handle);

/* The next name of a reading handle. At the end (HVDPUT_NO_MORE_ENTRIES)
 * and on a damaged entry (HVDPUT_BUFFER_UNDERFLOW) the handle is closed
 * and *handle set to null. HVDPUT_INVALID_PARAMETER for null arguments or
 * a null *handle, HVDPUT_INVALID_HANDLE for a handle that is not live. */
uint32_t HVDPGetNextName(HVDPNameHandle **handle, HVDPDataSetName *dataSetName);

/* The first name of nameBuffer without leaving a handle open; codes as
 * HVDPGetFirstName. */
uint32_t HVDPGetOneName(const HVDPNameBuffer *nameBuffer,
                        HVDPDataSetName *dataSetName);

/* The first name whose name space is nameSpace. HVDPUT_NO_MORE_ENTRIES
 * when there is none (*dataSetName then holds the last name read),
 * HVDPUT_BUFFER_UNDERFLOW when a damaged entry comes first. */
uint32_t HVDPGetDataSetName(const HVDPNameBuffer *nameBuffer,
                            uint32_t nameSpace, HVDPDataSetName *dataSetName);

/* Frees a live handle and sets *handle to null; HVDPUT_INVALID_HANDLE for a
 * null or dead handle. The buffer is never freed here. */
uint32_t HVDPCloseName(HVDPNameHandle **handle);

/* GenericCountPositions(nameSpace, firstSeparator, separator, name, count)
 * with the arguments in another order; `unused` is not read. */
void CountPositions(const void *firstSeparator, const void *separator,
                    const void *name, uint32_t nameSpace, uint32_t unused,
                    uint16_t *count);

/* Name lists. A host keeps names in an HVDPList: a doubly linked list of
 * heap nodes, each carrying one NUL-terminated byte string and a pointer to
 * the host's own data. Nodes stay in the order they were appended; the list
 * owns them and releases them in HVDPDestroyList, which hands each node's
 * data to the list's freeData function. Hosts that build a simpler singly
 * linked list of heap strings themselves release it with HVDPFreeNameList.
 */
typedef struct HVDPListNode {
  uint8_t reserved;            /* 0 when made; free for the host */
  struct HVDPListNode *prev;   /* previous node, null for the first */
  struct HVDPListNode *next;   /* next node, null for the last */
  void *data;                  /* host's data for this name */
  char text[1];                /* the name and its NUL; the node is
                                  26 + strlen(text) bytes long */
} HVDPListNode;
DPXUT_STATIC_ASSERT(offsetof(HVDPListNode, prev) == 1, list_node_prev);
DPXUT_STATIC_ASSERT(offsetof(HVDPListNode, next) == 9, list_node_next);
DPXUT_STATIC_ASSERT(offsetof(HVDPListNode, data) == 17, list_node_data);
DPXUT_STATIC_ASSERT(offsetof(HVDPListNode, text) == 25, list_node_text);
DPXUT_STATIC_ASSERT(sizeof(HVDPListNode) == 26, list_node_size);

typedef struct HVDPList {
  HVDPListNode *head;          /* first node or null; a host may move it
                                  along the list as a cursor */
  HVDPListNode *tail;          /* last node or null */
  int (*compare)(const char *, const char *); /* strcasecmp; for the host */
  void (*freeData)(void *);    /* releases a node's data; may be null */
} HVDPList;
DPXUT_STATIC_ASSERT(offsetof(HVDPList, tail) == 8, list_tail);
DPXUT_STATIC_ASSERT(offsetof(HVDPList, compare) == 16, list_compare);
DPXUT_STATIC_ASSERT(offsetof(HVDPList, freeData) == 24, list_free_data);
DPXUT_STATIC_ASSERT(sizeof(HVDPList) == 32, list_size);

/* A node of a host-built name list: the next node, then a heap string.
 * A host's node may carry further members after these two. */
typedef struct HVDPNameListNode {
  struct HVDPNameListNode *next;
  char *name;
} HVDPNameListNode;
DPXUT_STATIC_ASSERT(offsetof(HVDPNameListNode, name) == 8, name_list_name);

/* Makes *list empty, with compare = strcasecmp and the given freeData. */
void HVDPInitList(HVDPList *list, void (*freeData)(void *));
/* Appends a node holding a copy of text and the pointer data. Returns the
 * node, valid until HVDPDestroyList, or null when out of memory (the list
 * is then unchanged). */
HVDPListNode *HVDPAppendToList(HVDPList *list, const char *text, void *data);
/* Moves head back to the first node and returns it (null when empty). */
HVDPListNode *HVDPGetListHead(HVDPList *list);
/* Frees every node, passing each non-null data to freeData when set, and
 * leaves the list empty; compare and freeData stay for further use. */
void HVDPDestroyList(HVDPList *list);
/* Frees each node of a host-built name list and its name with free, and
 * sets *nameList to null. Returns 0, or HVDPUT_INVALID_PARAMETER when
 * nameList is null. */
uint32_t HVDPFreeNameList(HVDPNameListNode **nameList);

/* Target descriptions and extension areas.
 *
 * A target description names a target and, in parentheses, two items:
 *   [white space] name [spaces] "(" [white space] word " " [white space]
 *   rest [spaces] ")"
 * (white space: space, tab, line feed, carriage return; only spaces are
 * trimmed before "(" and ")"). HVDPGetTargetName splits it in place.
 *
 * An extension area is a block of typed entries back to back, without count
 * or terminator; the area ends where its length says. Each entry
 * (little-endian, unaligned):
 *   0 u32 entryType | 4 u32 entryTag | 8 u32 dataLength | 12 data
 * Type 3 holds three items, each a u16 length and that many bytes; the
 * next entry follows the items or the dataLength bytes, whichever reach
 * further, and an item that runs past the area ends the walk. The
 * extension functions walk an area first/next/close like the name buffer;
 * areas come from media and are never read outside their length, whatever
 * the entries say.
 */

/* An entry as the walk returns it. For types other than 3, data points into
 * the area at the entry's data (null when dataLength is 0); for type 3 it
 * points to an HVDPExtensionStrings record (null when dataLength is 0). The
 * record belongs to the handle: it is reused by the next read and released
 * with the handle. */
typedef struct HVDPExtensionEntry {
  uint32_t entryType;
  uint32_t entryTag;   /* returned unchanged */
  uint32_t dataLength; /* bytes of data */
  const void *data;
} HVDPExtensionEntry;
DPXUT_STATIC_ASSERT(offsetof(HVDPExtensionEntry, entryType) == 0, ext_entry_type);
DPXUT_STATIC_ASSERT(offsetof(HVDPExtensionEntry, entryTag) == 4, ext_entry_tag);
DPXUT_STATIC_ASSERT(offsetof(HVDPExtensionEntry, dataLength) == 8, ext_entry_length);
DPXUT_STATIC_ASSERT(offsetof(HVDPExtensionEntry, data) == 12, ext_entry_data);
DPXUT_STATIC_ASSERT(sizeof(HVDPExtensionEntry) == 12 + sizeof(void *), ext_entry_size);

/* The three items of a type-3 entry: each points into the area at the
 * item's bytes, or is null for an item of length 0. The items are not
 * NUL-terminated; an item's length is the u16 (little-endian) in the two
 * bytes just before it. */
typedef struct HVDPExtensionStrings {
  const char *string1;
  const char *string2;
  const char *string3;
} HVDPExtensionStrings;
DPXUT_STATIC_ASSERT(offsetof(HVDPExtensionStrings, string1) == 0, ext_strings_1);
DPXUT_STATIC_ASSERT(offsetof(HVDPExtensionStrings, string2) == sizeof(char *), ext_strings_2);
DPXUT_STATIC_ASSERT(offsetof(HVDPExtensionStrings, string3) == 2 * sizeof(char *), ext_strings_3);
DPXUT_STATIC_ASSERT(sizeof(HVDPExtensionStrings) == 3 * sizeof(char *), ext_strings_size);

/* A walk through an extension area; opaque, 32 bytes on the heap. */
typedef struct HVDPExtensionHandle HVDPExtensionHandle;

/* Splits the target description `source` in place (NULs are written into
 * it) and copies its parts into the caller's arrays, each of which may be
 * null and must hold strlen(source) + 1 bytes; the first byte of every
 * given array is set to NUL first. Returns null when the text has no "(",
 * or ends before the part asked for. Otherwise returns the last part
 * extracted: parenRest when given; else parenWord when given (the text
 * after the word is only checked for being non-empty); else, when
 * parenWord is not given but parenRest is, a pointer into source at the
 * space after the word; and when only targetName (or nothing) is given,
 * targetName (or a pointer into source at the end of the name). With
 * targetName given and no space before "(", the NUL that ends the name
 * falls on the "(" and the result is null after the name. */
char *HVDPGetTargetName(char *source, char *targetName, char *parenWord,
                        char *parenRest);

/* Opens a walk over the extensionLength bytes at extension and reads the
 * first entry into *entry. Returns 0 with the handle open in *handle.
 * Otherwise the handle is closed (*handle null, *entry null):
 * HVDPUT_BUFFER_UNDERFLOW when fewer than 12 bytes remain (an empty area)
 * or an entry runs past the area, HVDPUT_INVALID_PARAMETER for a null
 * argument, HVDPUT_OUT_OF_MEMORY. The area must stay unchanged while the
 * handle is open. */
uint32_t HVDPGetFirstExtension(const void *extension, uint32_t extensionLength,
                               HVDPExtensionEntry **entry,
                               HVDPExtensionHandle **handle);

/* Reads the next entry into *entry (the handle's record). At the end of
 * the area (HVDPUT_BUFFER_UNDERFLOW) and on every other failure the handle
 * is closed and *handle and *entry set to null. HVDPUT_INVALID_PARAMETER
 * for a null handle or *handle, and for a null entry (a live handle is
 * closed then); HVDPUT_INVALID_HANDLE (handle untouched) for a handle that
 * is not live. */
uint32_t HVDPGetNextExtension(HVDPExtensionHandle **handle,
                              HVDPExtensionEntry **entry);

/* Walks the area to the first entry of type entryType and returns 0 with
 * it in *entry and the handle left open (close it with
 * HVDPCloseExtension). When no entry matches, the handle is closed and the
 * result is that of the last read (normally HVDPUT_BUFFER_UNDERFLOW). */
uint32_t HVDPGetExtension(const void *extension, uint32_t extensionLength,
                          uint32_t entryType, HVDPExtensionEntry **entry,
                          HVDPExtensionHandle **handle);

/* Ends a walk early: frees the handle and its entry record and sets
 * *handle to null. HVDPUT_INVALID_HANDLE for a null or dead handle. Entry
 * pointers obtained from the walk are invalid afterwards. */
uint32_t HVDPCloseExtension(HVDPExtensionHandle **handle);

/* ========================================================================
 * 5. Data set information: description block and parser
 * ======================================================================== */
/* The description of one data set apart from its names: a heap block that
 * the record description points to (dataSetInfo) and the host releases with
 * free. The fixed part is HVDP_DATA_SET_INFO_FIXED bytes; the extension's
 * bytes follow it. extensionLength never exceeds bufferSize - 50: the parser
 * creates a block of 51 bytes and grows it to extensionLength + 51 for a
 * longer extension (storing the new address in the record). A host that
 * writes records may build its block as it likes within that rule. Dates
 * are DOS packed dates and times; 0 means no date (not written, and what
 * the parser stores for a missing date or one before 1980). */
#define HVDP_DATA_SET_INFO_FIXED  50u /* bufferSize through extensionLength */

typedef struct HVDPDataSetInfo {
  uint16_t bufferSize;      /* allocated size of the block in bytes */
  uint16_t dataSize;        /* after a parse: 48 + extensionLength */
  uint32_t value1;          /* field 0x81F2FE */
  uint32_t value2;          /* field 0x81F2FD */
  uint32_t value3;          /* field 0x81F2FC */
  uint32_t value4;          /* field 0x81F2FB */
  uint32_t value5;          /* field 0x81F2FA */
  uint8_t byte1;            /* field 0x81F0FF */
  uint8_t byte2;            /* field 0x81F0FE */
  uint8_t byte3;            /* field 0x81F0FD */
  uint8_t reserved[5];      /* zeroed by the parser, carried by no field */
  uint32_t dateTime1;       /* stamp 0x44 (DOS form 0x81F2F9) */
  uint32_t dateTime2;       /* stamp 0x64 (DOS form 0x81F2F8) */
  uint32_t dateTime3;       /* stamp 0x74 (DOS form 0x81F2F7) */
  uint32_t dateTime4;       /* stamp 0x54 (DOS form 0x81F2F6) */
  uint16_t extensionLength; /* bytes of extensionData, field 0x81EFFD */
  uint8_t extensionData[1]; /* extensionLength bytes, opaque */
} HVDPDataSetInfo;
DPXUT_STATIC_ASSERT(sizeof(HVDPDataSetInfo) == HVDP_DATA_SET_INFO_FIXED + 1, dsinfo_size);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetInfo, bufferSize) == 0, dsinfo_buffersize);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetInfo, dataSize) == 2, dsinfo_datasize);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetInfo, value1) == 4, dsinfo_value1);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetInfo, value2) == 8, dsinfo_value2);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetInfo, value3) == 12, dsinfo_value3);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetInfo, value4) == 16, dsinfo_value4);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetInfo, value5) == 20, dsinfo_value5);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetInfo, byte1) == 24, dsinfo_byte1);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetInfo, byte2) == 25, dsinfo_byte2);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetInfo, byte3) == 26, dsinfo_byte3);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetInfo, reserved) == 27, dsinfo_reserved);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetInfo, dateTime1) == 32, dsinfo_date1);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetInfo, dateTime2) == 36, dsinfo_date2);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetInfo, dateTime3) == 40, dsinfo_date3);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetInfo, dateTime4) == 44, dsinfo_date4);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetInfo, extensionLength) == 48, dsinfo_extlength);
DPXUT_STATIC_ASSERT(offsetof(HVDPDataSetInfo, extensionData) == HVDP_DATA_SET_INFO_FIXED,
                    dsinfo_extdata);

/* The record description shared by the record header functions above and
 * the data set information parser. A host zeroes it once (or sets the
 * pointers to null or to blocks of its own) and may reuse it for every
 * record; when done it releases nameBuffer, dataSetInfo and savedData
 * (each when not null) with free. A copy in savedData left from a record
 * whose section was never completed is released by the next call that
 * starts a new section (state 0). */
struct HVDPRecordHeaderInfo {
  uint32_t shortHeader;      /* 0: full header; else short (reader: 0 or 1) */
  uint32_t headerLength;     /* writer: header bytes; reader: bytes consumed */
  uint32_t recordLength;     /* field 0x0B: record bytes after the first section */
  struct HVDPNameBuffer *nameBuffer; /* the data set's names */
  HVDPDataSetInfo *dataSetInfo;      /* the description block */
  HVDPECMATimeStamp timeStamp;       /* field 0x54 of the first section */
  uint8_t *recordLengthLocation;     /* writer: field 0x0B's value bytes */
  uint8_t *checkValueLocation;       /* writer: first check value, or null */
  uint8_t *checkStart;               /* writer: first byte it covers */
  uint32_t checkLength;              /* writer: bytes it covers */
  uint32_t state;                    /* parse state, see below */
  uint32_t savedLength;              /* bytes at savedData */
  uint8_t *savedData;                /* saved start of a cut section */
  uint32_t byteValue;                /* field 0x50 */
};
#define HVDP_RHI_PTR sizeof(void *)
DPXUT_STATIC_ASSERT(offsetof(HVDPRecordHeaderInfo, shortHeader) == 0, rhi_short);
DPXUT_STATIC_ASSERT(offsetof(HVDPRecordHeaderInfo, headerLength) == 4, rhi_headerlength);
DPXUT_STATIC_ASSERT(offsetof(HVDPRecordHeaderInfo, recordLength) == 8, rhi_recordlength);
DPXUT_STATIC_ASSERT(offsetof(HVDPRecordHeaderInfo, nameBuffer) == 12, rhi_namebuffer);
DPXUT_STATIC_ASSERT(offsetof(HVDPRecordHeaderInfo, dataSetInfo) == 12 + HVDP_RHI_PTR,
                    rhi_datasetinfo);
DPXUT_STATIC_ASSERT(offsetof(HVDPRecordHeaderInfo, timeStamp) == 12 + 2 * HVDP_RHI_PTR,
                    rhi_timestamp);
DPXUT_STATIC_ASSERT(offsetof(HVDPRecordHeaderInfo, recordLengthLocation) ==
                        28 + 2 * HVDP_RHI_PTR, rhi_lengthlocation);
DPXUT_STATIC_ASSERT(offsetof(HVDPRecordHeaderInfo, checkValueLocation) ==
                        28 + 3 * HVDP_RHI_PTR, rhi_checklocation);
DPXUT_STATIC_ASSERT(offsetof(HVDPRecordHeaderInfo, checkStart) == 28 + 4 * HVDP_RHI_PTR,
                    rhi_checkstart);
DPXUT_STATIC_ASSERT(offsetof(HVDPRecordHeaderInfo, checkLength) == 28 + 5 * HVDP_RHI_PTR,
                    rhi_checklength);
DPXUT_STATIC_ASSERT(offsetof(HVDPRecordHeaderInfo, state) == 32 + 5 * HVDP_RHI_PTR, rhi_state);
DPXUT_STATIC_ASSERT(offsetof(HVDPRecordHeaderInfo, savedLength) == 36 + 5 * HVDP_RHI_PTR,
                    rhi_savedlength);
DPXUT_STATIC_ASSERT(offsetof(HVDPRecordHeaderInfo, savedData) == 40 + 5 * HVDP_RHI_PTR,
                    rhi_saveddata);
DPXUT_STATIC_ASSERT(offsetof(HVDPRecordHeaderInfo, byteValue) == 40 + 6 * HVDP_RHI_PTR,
                    rhi_bytevalue);
DPXUT_STATIC_ASSERT(sizeof(HVDPRecordHeaderInfo) == 44 + 6 * HVDP_RHI_PTR, rhi_size);
#undef HVDP_RHI_PTR

/* Reading the data set information section. After HVDPGetRecordHeaderOnly,
 * HVDPGetDataSetInfo is called with the position at the section's opening
 * field. It fills the description block (created when dataSetInfo is
 * null), puts the names into nameBuffer (created when null), sets byteValue,
 * and moves the position past the closing field; headerLength grows and
 * recordLength shrinks by the bytes consumed. When the host's buffer ends
 * inside the section, the call keeps a copy of the section's start, reports
 * the whole buffer consumed (count 0) with state 1, and the next call, given
 * the host's next buffer, completes the section from it. The section must
 * end within that next buffer.
 *
 * state, as the record header reader and this parser set it:
 *   0  a section follows: the next call starts a new data set
 *   1  a cut section's start is saved in savedData (savedLength bytes)
 *   2  the section has been read (a further call reads one more section
 *      at the position without resetting the description)
 *   3  short header, no section: the call does nothing and returns 0
 *   4  a call in state 1 failed and the saved start is gone: every call
 *      returns HVDPUT_BUFFER_UNDERFLOW until the next record header */
#define HVDP_STATE_NEW_SECTION  0u
#define HVDP_STATE_SAVED        1u
#define HVDP_STATE_DONE         2u
#define HVDP_STATE_NO_SECTION   3u
#define HVDP_STATE_LOST         4u

/* Reads the data set information section at *data (see above). Returns 0;
 * HVDPUT_FIELD_ID_MISMATCH (state 0 and the first field is not 0x813F);
 * HVDPUT_BUFFER_UNDERFLOW (the section does not end in the bytes given, a
 * cut field cannot be completed from the next buffer, an offset field
 * beyond 32 bits, or state 4); HVDPUT_INVALID_PARAMETER (a null argument, a
 * host block below 50 bytes, a malformed name list, or a saved start that
 * held the closing field with bytes after it); HVDPUT_OUT_OF_MEMORY;
 * HVDPUT_OVERFLOW (an extension or name beyond the 16-bit sizes of the
 * blocks); or the name buffer's codes. On failure the position, count,
 * headerLength and recordLength are as before; what was already stored in
 * the block and the names stays. recordLength does not go below 0. The
 * names it stores carry no component positions (positionCount 0), and each
 * name's nameLength counts its terminating zero (one zero byte, four for a
 * wide name). */
uint32_t HVDPGetDataSetInfo(uint8_t **data, uint32_t *size, HVDPRecordHeaderInfo *info);

/* Checks that the size bytes at data hold a whole section: passes over an
 * opening 0x813F field and walks the fields, jumping with the offset field,
 * up to the closing 0x813F field. A section cut short is copied with
 * SaveDataSetInfo (state 1). Returns 0 (whole, or saved), the code of a
 * failed save, or HVDPUT_BUFFER_UNDERFLOW (an offset beyond 32 bits). */
uint32_t GetEntireDataSetInfo(const uint8_t *data, uint32_t size, HVDPRecordHeaderInfo *info);

/* Copies the size bytes at data into a new heap block in savedData (a block
 * already there is released), sets savedLength and state 1. Returns 0 or
 * HVDPUT_OUT_OF_MEMORY (savedData null). */
uint32_t SaveDataSetInfo(const uint8_t *data, uint32_t size, HVDPRecordHeaderInfo *info);

/* Replaces the names of *buffer (created or resized as needed; a name
 * buffer never exceeds 65535 bytes) with the stored image at listData: the
 * data of a 0x813E field, which is a name buffer from its dataSize word on.
 * Returns 0, HVDPUT_OUT_OF_MEMORY (*buffer null), HVDPUT_INVALID_PARAMETER
 * (a length word below 4, nothing changed; or entries that do not lie
 * within the length, the buffer is left empty) or HVDPUT_OVERFLOW (an image
 * too long for a name buffer, nothing changed). */
uint32_t SIDFUnpackNameList(struct HVDPNameBuffer **buffer, const uint8_t *listData);

/* ========================================================================
 * 6. Allocated strings, wildcard matching, paths
 * ======================================================================== */
/* Allocated strings. An HVDPStringBuffer is one malloc block that holds a
 * growing string: a 16-bit capacity (the block's size minus 2) and the text
 * right after it, NUL-terminated in the encoding of its name space (one
 * zero byte, or four for wide text, which therefore sits at offset 2 and is
 * never aligned for wchar_t). The host keeps a pointer variable, null at
 * first, and passes its address; the functions create the record, replace
 * it by a larger one when the text would leave fewer than 32 bytes free
 * (asking for the need plus 256 bytes), store the new address in the
 * variable, and return a pointer to the text. Every replacement frees the
 * old block: text pointers obtained before it become invalid. Release the
 * record with HVDPFreeString or HVDPFreeGenericString. All functions return
 * null on a null source or when memory runs out; the record and its text
 * are then as they were.
 *
 * Limits: plain records are sized by a signed 16-bit request, so they hold
 * at most 32,764 bytes of text; generic records hold at most 65,534 bytes
 * of text (65,528 for wide text) in their 16-bit capacity. A copy or join
 * that would need more returns null and leaves the record unchanged.
 */
typedef struct HVDPStringBuffer {
  uint16_t capacity;           /* bytes of text area, terminator included */
  char text[1];                /* `capacity` bytes of text area */
} HVDPStringBuffer;
DPXUT_STATIC_ASSERT(offsetof(HVDPStringBuffer, text) == 2, string_buffer_text);

/* Allocates a record of `size` bytes (capacity size - 2); a size of 0 or
 * less asks for 256 bytes, or for an existing record its capacity + 256.
 * An existing record's text is carried over (cut to fit a smaller block)
 * and the old block freed. The smallest block is 3 bytes. Returns the
 * record, also stored in *buffer; null when buffer is null or on failure. */
HVDPStringBuffer *HVDPAllocString(HVDPStringBuffer **buffer, int16_t size);
/* Copies `length` bytes of string (0xFFFF: all of it; the copy stops early
 * at a NUL) into the record, replacing its text. Returns the text. */
char *HVDPCopyString(HVDPStringBuffer **buffer, const char *string, uint16_t length);
/* Appends `length` bytes of string (0xFFFF: all of it) to the text. */
char *HVDPCatString(HVDPStringBuffer **buffer, const char *string, uint16_t length);
/* Copies first, then appends the count - 1 further strings that follow it
 * (null ones are skipped). Returns the text; null when first is null or a
 * step fails, the strings joined so far staying in the record. */
char *HVDPCatStrings(uint8_t count, HVDPStringBuffer **buffer, const char *first, ...);
/* Frees the record and sets *buffer to null; nothing for null. */
void HVDPFreeString(HVDPStringBuffer **buffer);
/* Joins first and the count - 1 further strings (null ones skipped) into
 * the host's array dest, which must be large enough; dest may be first.
 * Returns dest (null for a null dest). */
char *HVDPStr(uint8_t count, char *dest, const char *first, ...);

/* The generic family: the same for text in the encoding of nameSpace,
 * whole strings only. The size of HVDPAllocGenericString is 32-bit; the
 * new block is cleared. Text pointers are untyped: wide text in a record is
 * unaligned and must be read with memcpy, not through a wchar_t pointer. */
HVDPStringBuffer *HVDPAllocGenericString(uint32_t nameSpace, HVDPStringBuffer **buffer,
                                         int32_t size);
void *HVDPCopyGenericString(uint32_t nameSpace, HVDPStringBuffer **buffer, const void *string);
void *HVDPCatGenericString(uint32_t nameSpace, HVDPStringBuffer **buffer, const void *string);
void *HVDPCatGenericStrings(uint32_t nameSpace, uint8_t count, HVDPStringBuffer **buffer,
                            const void *first, ...);
void HVDPFreeGenericString(HVDPStringBuffer **buffer);
void *HVDPGenericStr(uint32_t nameSpace, uint8_t count, void *dest, const void *first, ...);

/* Wildcard matching. Two families match a name against a pattern; neither
 * changes its arguments or keeps state, and no pattern makes a match take
 * more than polynomial time.
 *
 * HVDPMatchName works on whole characters of any name space with the
 * wildcards '*' (any run of characters) and '?' (one character). A pattern
 * character equal to the name character is taken literally first, so a '*'
 * or '?' facing the same character in the name matches it as itself. A '*'
 * followed by more pattern does not extend over a '.' in the name unless a
 * try at that '.' failed; a '*' ending the pattern matches everything.
 * Results: HVDP_MATCH (0) the name matches; HVDP_NAME_ENDED (1) the name
 * ended while the pattern still required characters; HVDP_PATTERN_ENDED (2)
 * the pattern ended while the name went on (with `partial` non-zero, also
 * when a try after a '*' ran out of pattern first); HVDP_NO_MATCH (-1);
 * HVDPUT_OUT_OF_MEMORY (as a signed value) when working memory cannot be
 * had. Matching ignores case in name spaces 4, 0x104 and 0x204 only.
 *
 * HVDPWildMatch compares locale byte strings on the low seven bits of the
 * first byte of each character, and knows three more wildcards: 0xAA, a
 * '*' that does not pass a '.' in the name; 0xBF, a '?' that also matches
 * nothing at the end of the name or before a '.'; 0xAE, a '.' that also
 * matches the end of the name. HVDPGenericWildMatch applies the same rules
 * to the characters of any name space, except that up to its first star a
 * plain '?' facing a '.' consumes nothing and only plain '*' continue the
 * first star. Both return 1 for a match, else 0.
 */
#define HVDP_MATCH          0
#define HVDP_NAME_ENDED     1
#define HVDP_PATTERN_ENDED  2
#define HVDP_NO_MATCH       (-1)

/* Matches name against pattern, both NUL-terminated in the encoding of
 * nameSpace; case-insensitive in name spaces 4, 0x104 and 0x204. A null
 * argument gives HVDP_NO_MATCH. */
int32_t HVDPMatchName(uint32_t nameSpace, const void *pattern, const void *name, int16_t partial);
/* HVDPMatchName without case folding, in every name space. */
int32_t matchNameEnabled(uint32_t nameSpace, const void *pattern, const void *name,
                         int16_t partial);
/* HVDPMatchName on upper-cased copies, in every name space. */
int32_t matchIName(uint32_t nameSpace, const void *pattern, const void *name, int16_t partial);

/* 1 when name matches pattern by the byte-level rules (locale bytes, or
 * any name space's characters for the generic form), else 0 (also for a
 * null argument). */
int32_t HVDPWildMatch(const char *pattern, const char *name);
int32_t HVDPGenericWildMatch(uint32_t nameSpace, const void *pattern, const void *name);

/* 1 when string holds a plain '*' or '?' character (the enhanced bytes do
 * not count), else 0 (also for an empty or null string). */
int32_t HVDPIsWild(const char *string);
int32_t HVDPGenericIsWild(uint32_t nameSpace, const void *string);

/* Path handling.
 *
 * These functions take a path apart by pointing into it, in the encoding
 * of its name space (locale bytes, UTF-8, or wide characters at any
 * address). Which characters separate components depends on the name space
 * number:
 *   0, 0x100, 0x200                        '\\' or '/'
 *   1, 0x101, 0x201                        ':'
 *   2, 3, 4, 0x102, 0x104, 0x202, 0x204    '/'
 *   any other                              none
 * A volume is the text before the first ':' with that colon (VOL: in
 * VOL:dir/x); name spaces 1, 0x101 and 0x201 write it with a doubled colon
 * (VOL::dir). Functions that only inspect a path never write to it: it may
 * sit in read-only memory and be read by several threads at once. Only the
 * strip functions write into it (their cut stays). Absence is reported as a
 * null pointer or a zero count.
 */

/* Removes a trailing separator by writing the terminator over it; a lone
 * character ("/") or an empty path is never stripped. Returns the name
 * space's form of the removed separator (a constant, not a position in
 * path), or null. *where (if given) receives the position it stood at, null
 * for a path of at most one character, and is left alone otherwise. */
const void *HVDPGenericStripEndSeparator(uint32_t nameSpace, void *path,
                                         void **where);
/* As above; returns the first byte of the removed separator ('\\', '/' or
 * ':'), or 0. */
uint32_t HVDPStripEndSeparator(uint32_t nameSpace, void *path, void **where);

/* Sets *lastSeparator to the last separator of *path (null if none) by the
 * rule of the low 16 bits of nameSpace, and *volume to null (the volume is
 * not filled in). For a name space without separators *path is set to null
 * and *volume is left alone. */
void GetVolumeAndLastSeparator(uint32_t nameSpace, void **path, void **volume,
                               void **lastSeparator);

/* 0 when the name space has separators and path begins with '/' (a
 * trailing separator aside), else 1; a volume does not count as absolute. */
int32_t HVDPPathIsNotFullyQualified(uint32_t nameSpace, void *path);

/* Pointer into path to its last component, which keeps a trailing
 * separator (/usr/lib/ gives lib/); null when path has no separator. The
 * result is also stored in *child when child is not null. */
void *HVDPGetPathChild(uint32_t nameSpace, void *path, void **child);

/* Copies the volume (with its colon, at most 16 characters) of *path into
 * `volume`, which holds 16 characters and a terminator, and advances *path
 * past it (past "::" in name spaces 1, 0x101, 0x201). Returns volume, or
 * null when there is no volume or it is too long (*path unchanged). */
void *HVDPGetVolume(void **path, uint32_t nameSpace, void *volume);

/* Cuts path right after its last separator (a trailing separator does not
 * count) and returns the new end, or null when there is no separator. When
 * child is given, the cut component is copied into it: at most childSize
 * bytes in whole characters of the name space, always terminated (nothing
 * is written when childSize cannot hold one character); it is empty when
 * there is no separator. A trailing separator stays in the string past the
 * new end, unless the cut falls on it (a// becomes a/). */
void *HVDPStripPathChild(uint32_t nameSpace, void *path, void *child,
                         uint32_t childSize);

/* 1 if the byte string `name` has DOS 8.3 form (at most 8 bytes, or at most
 * 8, a dot and at most 3; no leading dot; the empty name passes), else 0.
 * Only lengths and dots are checked. */
int32_t HVDPLegalDOSName(const char *name);

/* Stores in *count the number of components the name buffer records for
 * name (see HVDPPutFirstName): with a non-empty firstSeparator (":") the
 * text before it is one component, each separator after it closes one, and
 * any text after the last is one more; without one, each separator counts
 * once, twice when the name does not begin with it. With ":" and "/":
 * VOL:dir/sub/file 4, VOL: 1, dir/x 0; with "/" only: dir/sub/file 3,
 * /dir/sub 2. Counts beyond 0xFFFF are stored as 0xFFFF. */
void GenericCountPositions(uint32_t nameSpace, const void *firstSeparator,
                           const void *separator, const void *name,
                           uint16_t *count);

/* Path normalisation.
 *
 * The fixers rewrite a path in place into one canonical form: forward
 * slashes, a volume written VOL:dir (no slash after its colon), and, where
 * the caller asks for it, a trailing separator in a new copy. They differ
 * as follows (text in the encoding of nameSpace unless noted):
 *
 *   function                     upper-cases      collapses "//"  separator to
 *   HVDPFixDOSPath (bytes)       no               no              dest
 *   HVDPGenericFixDOSPath        no               yes             dest
 *   HVDPFixGenericDOSPath        whole path       no              dest
 *   HVDPFixDirectoryPath         no               yes             record
 *   HVDPFixGenericDirectoryPath  volume or path   yes             record
 *
 * Characters are removed and written as whole characters of the name
 * space. A rejected path is reported as null (or, in the generic directory
 * fixer, as an emptied path); the caller's path has then been rewritten up
 * to the step that rejected it.
 */

/* 1 when the first character of path is the name space's '/', else 0. */
int32_t IsLinuxNameSpace(uint32_t nameSpace, const void *path);

/* DOS-path fixers: '\\' becomes '/', the '/' of the first ":/" is removed
 * (VOL:/dir -> VOL:dir); HVDPGenericFixDOSPath also makes every run of
 * slashes one, HVDPFixGenericDOSPath first upper-cases the whole path.
 * When dest is given and the path does not end with ':', '/' or '\\', dest
 * receives the path followed by '/' and is returned; otherwise path is
 * returned and dest is untouched. dest needs room for the path, one
 * character and the terminator. An empty path counts as ending with a
 * separator except in the UTF-8 name spaces (where dest becomes "/").
 * HVDPFixDOSPath works on plain bytes. Null for a null path. */
char *HVDPFixDOSPath(char *path, char *dest);
void *HVDPGenericFixDOSPath(uint32_t nameSpace, void *path, void *dest);
void *HVDPFixGenericDOSPath(uint32_t nameSpace, void *path, void *dest);

/* Directory fixer for the locale and UTF-8 name spaces:
 *   0               any path;
 *   3, 4, 0x100,    the path must hold a ':' (else null);
 *   0x104
 *   2, 0x102        the path must hold a ':'; backslashes are kept;
 *   1, 0x101        colon form: path when it holds a ':', else null; with
 *                   a record, the path followed by ':' unless it ends
 *                   with one (also for a path without a colon);
 *   any other       path is returned unchanged.
 * Otherwise '\\' becomes '/', runs of slashes become one, the '/' of the
 * first ":/" is removed, and, when buffer is given and the path does not
 * end with ':', '/' or '\\', the result is the record's text holding the
 * path and '/' (plain string record, see HVDPCatStrings; null when it
 * cannot be made). Wildcards: with wildLastComponent 0 a result holding
 * '*' or '?' is rejected (null); otherwise only wildcards before its last
 * separator are. */
void *HVDPFixDirectoryPath(void *path, uint32_t nameSpace, HVDPStringBuffer **buffer,
                           uint16_t wildLastComponent);

/* Directory fixer for every name space, upper-casing as it goes:
 *   0, 0x100, 0x200      the whole path is upper-cased;
 *   2, 4 and their       a path beginning with '/' (Linux form) is kept as
 *   UTF-8/wide forms     it is; any other must hold a ':' (else null) and
 *                        its volume, the text before it, is upper-cased;
 *                        2, 0x102, 0x202 keep backslashes;
 *   1, 0x101, 0x201      colon form: the volume upper-cased, or, without a
 *                        ':', the path emptied; with a record, the path
 *                        followed by ':' unless it ends with one;
 *   any other            path is returned unchanged.
 * Then runs of slashes become one (before backslashes become slashes, so
 * a "//" they form stays), the '/' of the first ":/" is removed unless the
 * path is in Linux form, and a '/' is appended in a generic string record
 * as in HVDPFixDirectoryPath. A wildcard that wildLastComponent does not
 * allow gives null when it is 0 and an emptied result otherwise. Null for
 * a null path. */
void *HVDPFixGenericDirectoryPath(void *path, uint32_t nameSpace, HVDPStringBuffer **buffer,
                                  uint16_t wildLastComponent);

/* ========================================================================
 * 7. Name spaces, generic characters, name-space string functions,
 *    multibyte measuring
 * ======================================================================== */
/* Name spaces and generic characters.
 *
 * A name space number says how a name's characters are encoded: 0, 1, 2
 * and 4 (and 3) hold locale bytes in the server's code set; adding 0x100
 * gives the UTF-8 form, adding 0x200 the wide form (32-bit wchar_t, 4 bytes
 * per character). The tests work on exact values: 0x103, 0x203 and every
 * other number are locale bytes.
 *
 * Generic characters are the few characters path and wildcard code looks
 * for ('/', '\\', ':', '*', '?', '.' and the terminator), keyed by their
 * locale code and handed out in the encoding of any name space. Generic
 * strings are short separator strings (":/", "/\\", "::" ...) keyed by the
 * locale string. Results point into process-wide tables that are filled on
 * first use (converted from the server's code set, running the conversion
 * set-up if needed) and never change afterwards; do not modify or free them.
 */

/* 1 for the wide name spaces 0x200, 0x201, 0x202, 0x204; else 0. */
uint16_t HVDPIsNameSpaceUnicode(uint32_t nameSpace);
/* 1 for the UTF-8 name spaces 0x100, 0x101, 0x102, 0x104; else 0. */
uint16_t HVDPIsNameSpaceUtf8(uint32_t nameSpace);
/* 1 for the locale name spaces 0 to 4; else 0. */
uint16_t HVDPIsNameSpaceAscii(uint32_t nameSpace);

/* The locale form of a UTF-8 or wide name space (0x201 -> 1, 0x104 -> 4);
 * any other number is returned unchanged. The two names are one function. */
uint32_t MapToKFSNameSpace(uint32_t nameSpace);
uint32_t MapToAsciiNameSpace(uint32_t nameSpace);
/* The wide (+0x200) or UTF-8 (+0x100) form of a base name space 0, 1, 2 or
 * 4; any other number (3, 0x101 ...) is returned unchanged. */
uint32_t MapToUnicodeNameSpace(uint32_t nameSpace);
uint32_t MapToUtf8NameSpace(uint32_t nameSpace);

/* The generic character with locale code `code` (0x2F, 0x5C, 0x3A, 0x2A,
 * 0x3F, 0x2E or 0 for the terminator) as a NUL-terminated string in locale
 * bytes, UTF-8 or wide characters; null for any other code. GenericChar
 * picks the form for the encoding of `nameSpace`. The terminator's form is
 * the empty string. */
const char *GenericMBCSChar(int code);
const char *GenericUtf8Char(int code);
const wchar_t *GenericUniChar(int code);
const void *GenericChar(uint32_t nameSpace, int code);

/* The UTF-8 or wide form of the generic string `key` (one of ":/", ":/\\",
 * "/\\", ":", "/", "::", ">", "<", "|", "//", matched exactly), or null.
 * GenericString hands back `key` itself in a locale name space, whatever
 * it holds. */
const char *GenericUtf8String(const char *key);
const wchar_t *GenericUniString(const char *key);
const void *GenericString(uint32_t nameSpace, const char *key);

/* Copies the one character at `ch` (4 bytes in a wide name space, the
 * length its first byte announces otherwise) to `dst`; writes no
 * terminator and does nothing when `ch` is null. */
void DPsetChar(uint32_t nameSpace, void *dst, const void *ch);
/* 1 if the character at `s` equals the character at `ch`, measured by `ch`
 * (with the generic terminator: 1 exactly when `s` is at the end). */
uint16_t DPcheckChar(uint32_t nameSpace, const void *s, const void *ch);
/* 1 if the character at `s` is the generic '?' (DPisQuestion), or the
 * generic '*' or '?' (DPisWild); else 0. */
uint16_t DPisQuestion(uint32_t nameSpace, const void *s);
uint16_t DPisWild(uint32_t nameSpace, const void *s);

/* Name-space string functions.
 *
 * The string library of the character layer: each function takes a name
 * space number first and works in its encoding -- wide strings when
 * HVDPIsNameSpaceUnicode is 1, UTF-8 when HVDPIsNameSpaceUtf8 is 1, locale
 * bytes otherwise. Strings are NUL-terminated in that encoding; wide strings
 * may sit at any address. Lengths are byte counts (4 per wide character)
 * unless a function says otherwise. Copies are malloc'ed and released by
 * the caller with free. A null string is refused quietly (null, 0, or
 * nothing done; comparisons sort null first); no function checks for room
 * in a destination.
 */

/* 4 in a wide name space, else 1: the size of one character unit. */
uint32_t DPsizeOfChar(uint32_t nameSpace);
/* Length of `s` in bytes (4 per wide character), terminator not counted. */
uint32_t DPstrlen(uint32_t nameSpace, const void *s);
/* Heap copy of `s` (release with free); null when out of memory. */
void *DPstrdup(uint32_t nameSpace, const void *s);
/* strcpy / strcat in the name space's units; always return 0. */
int DPstrcpy(uint32_t nameSpace, void *dst, const void *src);
int DPstrcat(uint32_t nameSpace, void *dst, const void *src);
/* strncpy with `n` wide characters in a wide name space, `n` bytes
 * otherwise; pads with terminators and may leave `dst` unterminated when
 * `src` fills the count. Returns 0. */
int DPstrncpy(uint32_t nameSpace, void *dst, const void *src, uint32_t n);

/* Comparisons: negative, 0 or positive like strcmp. DPstrncmp counts `n`
 * in wide characters in a wide name space and in bytes otherwise; in a
 * UTF-8 name space it compares only the first min(length a, length b, n)
 * bytes, so a string equals each of its prefixes. DPstricmp and DPstrnicmp
 * ignore case; DPstrnicmp counts `n` in bytes in every name space and
 * returns -1 when a working copy cannot be allocated. */
int DPstrcmp(uint32_t nameSpace, const void *a, const void *b);
int DPstrncmp(uint32_t nameSpace, const void *a, const void *b, uint32_t n);
int DPstricmp(uint32_t nameSpace, const void *a, const void *b);
int DPstrnicmp(uint32_t nameSpace, const void *a, const void *b, uint32_t n);
/* 1 if DPstrnicmp(nameSpace, a, b, n) is 0, else 0. */
int StrNIEqu(uint32_t nameSpace, const void *a, const void *b, uint32_t n);
/* 1 if `a` and `b` have the same DPstrlen and are equal ignoring case. */
int StrIEqu(uint32_t nameSpace, const void *a, const void *b);

/* Upper-cases `s` in place; returns `s`. */
void *DPstrupr(uint32_t nameSpace, void *s);
/* Reverses `s` in place: wide characters, UTF-8 characters, or locale
 * bytes. Returns `s`, or null (string unchanged) when the UTF-8 reversal
 * cannot allocate its working buffer. */
void *DPstrrev(uint32_t nameSpace, void *s);

/* First / last occurrence in `s` of the one character at `ch`, or null.
 * In the wide and locale name spaces the generic terminator finds the end
 * of `s`; in the UTF-8 name spaces it is never found. */
void *DPstrchr(uint32_t nameSpace, const void *s, const void *ch);
void *DPstrrchr(uint32_t nameSpace, const void *s, const void *ch);
/* First occurrence of `needle` in `haystack`, or null. */
void *DPstrstr(uint32_t nameSpace, const void *haystack, const void *needle);

/* Character stepping. DPnextChar steps over the character at `p`;
 * DPprevChar steps back by the length of the character AT `p` (not of the
 * one before it). DPlastChar points at the last character of `s`, or at `s`
 * itself when `s` is empty. DPendChar returns the position in `set` of the
 * last character of `s`, or null when `s` does not end with one of them. */
void *DPnextChar(uint32_t nameSpace, const void *p);
void *DPprevChar(uint32_t nameSpace, const void *p);
void *DPlastChar(uint32_t nameSpace, const void *s);
void *DPendChar(uint32_t nameSpace, const void *s, const void *set);

/* Byte-string helpers without a name space. strrev reverses the bytes of
 * `src` in place and returns it (`dst` is not used); strlwr and strupr map
 * every byte through tolower / toupper of the current locale and return
 * `s`. */
char *strrev(char *dst, char *src);
char *strlwr(char *s);
char *strupr(char *s);

/* Multibyte measuring. Locale-name-space text is in the server's multibyte
 * code set (see the conversion set-up below), where one character takes one
 * or more bytes. These functions answer how many bytes the character that
 * begins at a position occupies; every walk over such text uses them. They
 * work on NUL-terminated byte strings and keep no state the caller sees.
 * A byte that begins no valid character, and a sequence cut short by the
 * NUL, measure as one byte, so walks over damaged text never stall.
 */

/* Byte length of the first character of s in the server code set, trying
 * at most n bytes: 0 when s is null or empty (no set-up is run then), -1
 * when the code set has no iconv conversion to UTF-8, otherwise 1 to n.
 * Runs the conversion set-up first while DPInitICONV is 0. */
int dp_mblen(const char *s, size_t n);

/* Byte length (at least 1) of the character at s, looking at no more than
 * MB_CUR_MAX bytes of the current locale and never past the NUL. Measures
 * with mblen when DPUseMbFunctions is non-zero, else with dp_mblen. On the
 * terminating NUL it returns 1: callers stop at the NUL themselves. */
int HVCharType(const char *s);

/* s advanced by HVCharType(s) bytes; null for a null s. */
char *HVNextChar(const char *s);

/* s moved back by HVCharType(s) bytes -- the length of the character that
 * begins AT s, not of the one before it (meant for stepping back over
 * single-byte characters); start is not read. Null for a null s. */
char *HVPrevChar(const char *start, const char *s);

/* ========================================================================
 * 8. Conversion set-up, UTF-8/wide and locale conversions
 * ======================================================================== */
/* Conversion set-up. Before text moves between the server's code set and
 * Unicode the library finds that code set: the first "RC_LC_ALL=" line of
 * /etc/sysconfig/language, else its last valid "RC_LANG=" line before that,
 * else the environment names a locale (a UTF-8 locale such as xx_YY.UTF-8
 * stands for its language's own locale xx_YY), and nl_langinfo(CODESET) of
 * that locale is the code set. The first conversion that needs it runs the
 * set-up; a host may run it itself, and undo its changes to the process
 * locale with DPShutDownUniLibrary. The objects below are process-wide and
 * unsynchronised: run the set-up and shut-down while no thread converts. */

/* Set by the host, never by the library. Non-zero: conversions may use the
 * platform's multibyte functions, so the set-up leaves LC_CTYPE switched to
 * the server's language and sets LC_ALL to it. */
extern int DPUseMbFunctions;
/* 1 once the set-up has run (conversions also set it after running the
 * set-up, whatever its result); 0 before, and again after shut-down. */
extern int DPInitICONV;
/* NUL-terminated iconv name of the server's code set, e.g. "UTF-8" or
 * "EUC-JP". Kept across shut-down. */
extern char dp_current_codeset[128];
/* The host's LC_CTYPE locale name from before the set-up switched it, for
 * the shut-down; malloc'ed and owned by the library (released when
 * replaced and at shut-down). Read only. */
extern char *resetCharSetToThis;
/* The locale name as configured in the language file ("" when none), for
 * the shut-down; owned by the library like resetCharSetToThis. */
extern char *resetLocaleToThis;

/* Runs the set-up. codeSet names the code set to use (at most 127 bytes);
 * null or "" discovers it. Returns 0, or 0xFFFFFFFF when no code set is
 * found, the name is too long, or iconv cannot convert it to and from
 * UTF-8 (dp_current_codeset then already holds the new name, DPInitICONV is
 * unchanged). With a null codeSet it returns 0 at once once set up; with a
 * name it always runs again. */
uint32_t DPInitUniLibrary(const char *codeSet);

/* Undoes the set-up: DPInitICONV = 0, LC_CTYPE back to resetCharSetToThis,
 * and, with DPUseMbFunctions set, LC_ALL to the configured locale name; both
 * saved names are released and set to null. Returns 0. */
uint32_t DPShutDownUniLibrary(void);

/* Discovers the server code set and writes its name into codeSet (at least
 * 128 bytes). Replaces the two saved names. Returns 0 or 0xFFFFFFFF (no
 * current locale, the configured locale cannot be selected, no code set
 * name, or no memory). */
uint32_t GetServerMBCSCodeSet(char *codeSet);

/* Writes the configured locale name (at most 255 bytes and the NUL) into
 * locale (at least 256 bytes). Returns 0, or 0xFFFFFFFF when the file is
 * missing or has no valid value. */
uint32_t GetLocaleFromConfigFile(char *locale);

/* Extracts the value of one KEY=value line: the text after the first "="
 * without the blanks and double quotes around it. line is cut in place
 * after the value; value (at least 256 bytes) receives it. Returns 0, or
 * 0xFFFFFFFF when there is no "=", the value is empty or only blanks and
 * quotes, or it is longer than 255 bytes. */
uint32_t GetValueFromLocaleString(char *line, char *value);

/* ------------------------------------------------------------------------
 * UTF-8 and wide conversion, UTF-8 and wide string primitives
 *
 * UTF-8 text converts to and from wide strings (arrays of 32-bit wchar_t)
 * without iconv. Only 16 bits of each character survive: decoding stores
 * the low 16 bits of the value zero-extended in a wide element, encoding
 * takes the low 16 bits of each element (a wide string still ends at its
 * first all-zero element). Sequences of 4 to 6 bytes are accepted and cut to
 * 16 bits; over-long forms, stray continuation bytes and sequences cut
 * short are rejected.
 *
 * Conversions are done in two calls: with a null destination, DPutf82uni
 * and DPuni2utf8 report in *size the converted length without terminator;
 * the caller allocates that length plus one unit and calls again with *size
 * set to the full capacity, and gets back the length written. Wide strings
 * may sit at any address.
 * ------------------------------------------------------------------------ */

/* One row of the UTF-8 coder table. Row n (from 1) describes sequences of
 * n bytes: a lead byte b starts one when (b & cmask) == cval; the value,
 * masked with lmask, must be at least lval (smaller is an over-long form);
 * the continuation bytes carry `shift` bits. A row with cmask 0 ends the
 * table. */
typedef struct DPutf8TabRow {
  int32_t cmask;
  int32_t cval;
  int32_t shift;
  int64_t lmask;
  int64_t lval;
} DPutf8TabRow;
DPXUT_STATIC_ASSERT(sizeof(DPutf8TabRow) == 28, utf8_tab_row_size);
DPXUT_STATIC_ASSERT(offsetof(DPutf8TabRow, cmask) == 0, utf8_tab_cmask);
DPXUT_STATIC_ASSERT(offsetof(DPutf8TabRow, cval) == 4, utf8_tab_cval);
DPXUT_STATIC_ASSERT(offsetof(DPutf8TabRow, shift) == 8, utf8_tab_shift);
DPXUT_STATIC_ASSERT(offsetof(DPutf8TabRow, lmask) == 12, utf8_tab_lmask);
DPXUT_STATIC_ASSERT(offsetof(DPutf8TabRow, lval) == 20, utf8_tab_lval);

/* The coder table: rows for 1- to 6-byte sequences and the end row. Never
 * written. */
extern const DPutf8TabRow tab[7];

/* Decodes the character at utf and stores its low 16 bits in *uni (when
 * uni is not null). Returns the bytes consumed (1 to 6), 0 when utf is null,
 * -1 for an invalid or over-long sequence (nothing stored). Never reads past
 * a NUL byte. */
int dp_utf2uni(uint16_t *uni, const char *utf);

/* Encodes the 16-bit value uni at utf (room for 6 bytes; no terminator).
 * Returns the bytes written (1 to 3), or 0 when utf is null. */
int dp_uni2utf(char *utf, uint16_t uni);

/* Sizing passes: 0 and the converted length without terminator (wide
 * elements, resp. UTF-8 bytes) in *count / *bytes, or
 * HVDPUT_INVALID_PARAMETER for invalid UTF-8 or a null argument. */
uint32_t dp_utfs2unisize(const char *utf, size_t *count);
uint32_t dp_unis2utfsize(const wchar_t *uni, size_t *bytes);

/* Filling passes into a destination of `capacity` units (elements, resp.
 * bytes) including the terminator. Return the units written without the
 * terminator, or HVDPUT_INVALID_PARAMETER (invalid UTF-8, null argument) or
 * HVDPUT_OVERFLOW (too small; the destination then holds a partial,
 * unterminated result). Nothing is written beyond `capacity` units. */
size_t dp_utfs2unis(wchar_t *uni, const char *utf, size_t capacity);
size_t dp_unis2utfs(char *utf, const wchar_t *uni, size_t capacity);

/* UTF-8 to wide, and wide to UTF-8. With a null destination, *size
 * receives the converted length without terminator. Otherwise *size is the
 * destination's capacity including the terminator (elements, resp. bytes)
 * and receives the length written. Return 0, HVDPUT_INVALID_PARAMETER (null
 * source or size, invalid UTF-8) or HVDPUT_OVERFLOW; on failure *size is
 * left unchanged. */
uint32_t DPutf82uni(wchar_t *uni, const char *utf, size_t *size);
uint32_t DPuni2utf8(char *utf, const wchar_t *uni, size_t *size);

/* Wide-string primitives; s, a and b may sit at any address.
 * DPunirev reverses the elements of s in place, DPuniupr replaces each
 * element by its towupper (current locale); both return s (null for null).
 * DPunidup returns a malloc copy of s (caller frees), null when out of
 * memory. DPuninicmp compares at most n characters (all when n < 0)
 * ignoring case like wcsncasecmp; 0 when n is 0, -1 for a null string. */
wchar_t *DPunirev(wchar_t *s);
wchar_t *DPuniupr(wchar_t *s);
wchar_t *DPunidup(const wchar_t *s);
int DPuninicmp(const wchar_t *a, const wchar_t *b, int32_t n);

/* UTF-8 string primitives, built in. All take NUL-terminated strings.
 * xutf8size: byte length announced by the lead byte at p (1 to 6; 1 for a
 *   continuation byte, 0xFE and 0xFF; 0 for a null p).
 * xutf8next: p + xutf8size(p), but never beyond a NUL byte that cuts the
 *   sequence short. xutf8prev: p - xutf8size(p).
 * xutf8len: number of characters (a sequence cut by the NUL counts as one).
 * xutf8chr / xutf8rchr: first / last character of s whose bytes equal the
 *   character at ch; null if none (the NUL character is never found).
 * xutf8upr: upper-cases s in place (towupper, current locale) and returns
 *   s; invalid UTF-8 is left unchanged, and a character whose upper case
 *   would make the string longer than it was keeps its own form.
 * xutf8rev: reverses the characters of s in place; returns s, or null when
 *   no working buffer can be allocated (s unchanged).
 * xutf8icmp / xutf8nicmp: compare upper-cased copies, the whole strings /
 *   at most n bytes; -1 when a copy cannot be made.
 * xutf8cat, xutf8ncat, xutf8dup, xutf8cmp, xutf8str: strcat, strncat,
 *   strdup (caller frees), strcmp, strstr. */
uint32_t xutf8size(const char *p);
char *xutf8next(const char *p);
char *xutf8prev(const char *p);
size_t xutf8len(const char *s);
char *xutf8ncat(char *dst, const char *src, size_t n);
char *xutf8cat(char *dst, const char *src);
char *xutf8dup(const char *s);
int xutf8cmp(const char *a, const char *b);
char *xutf8str(const char *haystack, const char *needle);
char *xutf8chr(const char *s, const char *ch);
char *xutf8rchr(const char *s, const char *ch);
char *xutf8upr(char *s);
char *xutf8rev(char *s);
int xutf8nicmp(const char *a, const char *b, uint32_t n);
int xutf8icmp(const char *a, const char *b);

/* Hooks. A host may store its own function in any of these variables
 * (null at load); the matching DPutf8* wrapper reads its variable on every
 * call and calls the function there with its own arguments, or the
 * built-in when the variable is null. The library never writes them. */
typedef uint32_t (*DPutf8SizeHook)(const char *p);
typedef char *(*DPutf8NextHook)(const char *p);
typedef size_t (*DPutf8LenHook)(const char *s);
typedef char *(*DPutf8ChrHook)(const char *s, const char *ch);
typedef int (*DPutf8CmpHook)(const char *a, const char *b);
typedef char *(*DPutf8StrHook)(const char *haystack, const char *needle);
typedef char *(*DPutf8InPlaceHook)(char *s);

extern DPutf8SizeHook imp_utf8width;     /* DPutf8Size */
extern DPutf8NextHook imp_utf8next;      /* DPutf8next */
extern DPutf8LenHook imp_utf8len;        /* DPutf8len */
extern DPutf8ChrHook imp_utf8chr;        /* DPutf8chr */
extern DPutf8ChrHook imp_utf8rchr;       /* DPutf8rchr */
extern DPutf8CmpHook imp_utf8cmp;        /* DPutf8cmp */
extern DPutf8StrHook imp_utf8str;        /* DPutf8str */
extern DPutf8InPlaceHook imp_utf8upr;    /* DPutf8upr */
extern DPutf8InPlaceHook imp_utf8rev;    /* DPutf8rev */

/* Public UTF-8 functions: the hooked ones follow their hook variable, the
 * others always call the built-in of the same name (see xutf8* above). */
uint32_t DPutf8Size(const char *p);
char *DPutf8next(const char *p);
size_t DPutf8len(const char *s);
char *DPutf8chr(const char *s, const char *ch);
char *DPutf8rchr(const char *s, const char *ch);
int DPutf8cmp(const char *a, const char *b);
char *DPutf8str(const char *haystack, const char *needle);
char *DPutf8upr(char *s);
char *DPutf8rev(char *s);
char *DPutf8ncat(char *dst, const char *src, size_t n);
char *DPutf8cat(char *dst, const char *src);
char *DPutf8dup(const char *s);
int DPutf8nicmp(const char *a, const char *b, uint32_t n);
int DPutf8icmp(const char *a, const char *b);

/* Locale conversions. Move text between the server's code set (found by
 * the conversion set-up above, which the first call runs while DPInitICONV
 * is 0) and UTF-8 or wide strings, through iconv. Each function takes the
 * destination, the size and the source, and is called twice: with a null
 * destination it stores in *size the size of the converted string with its
 * terminator; then, with a destination whose capacity (terminator
 * included) is in *size, it converts. Sizes count bytes for locale and
 * UTF-8 text and wide characters for wide text. Every function returns 0,
 * HVDPUT_INVALID_PARAMETER (null source or size, text that is invalid or
 * that the code set cannot hold, a code set iconv does not know) or
 * HVDPUT_OVERFLOW (the destination is too small); on failure *size is left
 * as it was and the destination may hold a partial, unterminated result.
 * On success the filling call leaves *size at the capacity, except that
 * DPloc2uni and DPloc2uniNoMap report the characters converted (terminator
 * not counted) when DPUseMbFunctions made them convert with mbsrtowcs.
 * Wide strings may sit at any address.
 *
 * Special sequences. A wide character that the code set cannot hold is
 * written by DPuni2loc as the six bytes "[XXXX]": "[", its code in four
 * upper-case hexadecimal digits, "]"; a character above U+FFFF as two such
 * sequences holding its UTF-16 surrogate pair. DPloc2uni turns every
 * special sequence (digits in either case) back into its character, a
 * surrogate pair into one character, once the text holds at least one. The
 * NoMap variants refuse such characters and leave sequences as text. */

/* UTF-8 to locale text, and back. */
uint32_t DPutf82loc(char *loc, size_t *size, const char *utf);
uint32_t DPloc2utf8(char *utf, size_t *size, const char *loc);
/* Wide to locale text; DPuni2loc writes special sequences for characters
 * the code set cannot hold. These two run the set-up before they look at
 * their arguments. */
uint32_t DPuni2loc(char *loc, size_t *size, const wchar_t *uni);
uint32_t DPuni2locNoMap(char *loc, size_t *size, const wchar_t *uni);
/* Locale text to wide; DPloc2uni decodes special sequences. */
uint32_t DPloc2uni(wchar_t *uni, size_t *size, const char *loc);
uint32_t DPloc2uniNoMap(wchar_t *uni, size_t *size, const char *loc);

/* The passes behind the functions above, for hosts that drive the two
 * steps themselves; they run no set-up. The sizing passes store the size
 * with the terminator in *size and return a completion code. The filling
 * passes take the capacity with the terminator and return it on success
 * (dp_locs2unis through mbsrtowcs: the characters converted), or the
 * completion code HVDPUT_INVALID_PARAMETER or HVDPUT_OVERFLOW. map non-zero
 * selects the special sequences, as in DPuni2loc and DPloc2uni. */
uint32_t dp_utfs2locsize(const char *utf, size_t *size);
uint32_t dp_locs2utfsize(const char *loc, size_t *size);
size_t dp_utfs2locs(char *loc, const char *utf, size_t capacity);
size_t dp_locs2utfs(char *utf, const char *loc, size_t capacity);
uint32_t dp_unis2locsize(const wchar_t *uni, size_t *size, int map);
size_t dp_unis2locs(char *loc, const wchar_t *uni, size_t capacity, int map);
uint32_t dp_locs2unisize(const char *loc, size_t *size, int map);
size_t dp_locs2unis(wchar_t *uni, const char *loc, size_t capacity, int map);

/* 1 if a special sequence starts at s ("[", four hexadecimal digits in
 * either case, "]"), else 0; reads nothing past the NUL. */
int isSpecialSequence(const char *s);

#pragma pack(pop)

#ifdef __cplusplus
}
#endif

/* Reading and writing whole streams, entry by entry. */
#include "dpxut_stream.h"

#endif /* DPXUT_H */
