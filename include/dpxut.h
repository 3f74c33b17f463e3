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
 *  - The library creates no threads and takes no locks. Calls on distinct
 *    records, buffers and handles may run concurrently; the process-wide
 *    conversion set-up is run while no other thread converts text.
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
/* @@field-codec */

/* @@sections-crc */

/* ========================================================================
 * 2. Dates and times
 * ======================================================================== */
/* @@dates */
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
 * saving time not included), from the process time zone (TZ). */
int32_t GenECMATimeZone(void);

/* The server's current offset from UTC in seconds east, daylight saving
 * time included. Recomputed on each call; if the clock cannot be read, the
 * standard offset is fixed for the rest of the process. */
int32_t SetTZOffset(void);

/* ========================================================================
 * 3. Stream headers: media, session and record headers
 * ======================================================================== */
/* @@header-writer-media */

/* @@session-header */

/* @@record-header */

/* ========================================================================
 * 4. Data set names: name buffer, name lists, targets and extensions
 * ======================================================================== */
/* @@name-buffer */

/* @@name-lists */

/* @@targets-extensions */

/* ========================================================================
 * 5. Data set information: description block and parser
 * ======================================================================== */
/* @@description-block */

/* @@dataset-info-parser */

/* ========================================================================
 * 6. Allocated strings, wildcard matching, paths
 * ======================================================================== */
/* @@allocated-strings */

/* @@wildcards */

/* @@path-handling */

/* @@path-normalisation */

/* ========================================================================
 * 7. Name spaces, generic characters, name-space string functions,
 *    multibyte measuring
 * ======================================================================== */
/* @@namespaces-generic */

/* @@namespace-strings */

/* @@multibyte */
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
/* @@conversion-setup */
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

/* @@utf8-wide */

/* @@locale-conversions */

#pragma pack(pop)

#ifdef __cplusplus
}
#endif

#endif /* DPXUT_H */
