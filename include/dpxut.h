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

/* ========================================================================
 * 8. Conversion set-up, UTF-8/wide and locale conversions
 * ======================================================================== */
/* @@conversion-setup */

/* @@utf8-wide */

/* @@locale-conversions */

#pragma pack(pop)

#ifdef __cplusplus
}
#endif

#endif /* DPXUT_H */
