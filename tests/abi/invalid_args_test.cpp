// Null and invalid arguments across the whole interface, in one table. Each
// row calls functions that share a result with a null record, buffer, string
// or handle, a handle that is not live, or a value they refuse. After every
// row the caller's buffers, counters, records and handles are as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "common/iconv_cache.h"
#include "dpxut.h"
#include "names/extension.h"
#include "names/name_buffer.h"
#include "sidf/header_writer.h"
#include "support/bytes.h"
#include "support/env.h"

namespace {

using dpxut::test::hex_bytes;

constexpr long kDiffer = -0x7000, kChanged = -0x7001;  // the calls of a row disagree; what `kept` names changed

// Every result as a number: codes, counts, flags, and pointers (0 for null).
template <class T>
long as_long(T v) {
  if constexpr (std::is_pointer_v<T>)
    return static_cast<long>(reinterpret_cast<intptr_t>(v));
  else
    return static_cast<long>(v);
}

// The result the calls share, or kDiffer.
template <class T, class... U>
long all(T first, U... rest) {
  return ((as_long(rest) == as_long(first)) && ...) ? as_long(first) : kDiffer;
}

// The call's result when `kept` holds after it, else kChanged.
#define AND(call, kept) [&] { const long r_ = as_long(call); return (kept) ? r_ : kChanged; }()

struct Row {
  const char* calls;
  std::function<long()> run;
  long expected;
};
#define ROW(expected, ...) Row{#__VA_ARGS__, [&] { return all(__VA_ARGS__); }, as_long(expected)}

// f(&position, &size) over the bytes of `text`: its result, or kChanged when the position moved.
long unmoved(const char* text, std::function<uint32_t(uint8_t**, uint32_t*)> f) {
  std::vector<uint8_t> in = hex_bytes(text);
  uint8_t* p = in.data();
  auto n = static_cast<uint32_t>(in.size());
  const long r = f(&p, &n);
  return p == in.data() && n == in.size() ? r : kChanged;
}

DPDFPutEntry put_row(uint32_t id, uint8_t form = 0, uint32_t bytes = 0, const uint8_t* data = nullptr) {
  return DPDFPutEntry{{id, {}, data, 0, {}}, bytes, 0, form};
}

using InvalidArguments = dpxut::testing::CharsetEnv;

TEST_F(InvalidArguments, AreRefusedAndLeaveTheCallersStateAlone) {
  constexpr long kParam = HVDPUT_INVALID_PARAMETER, kHandle = HVDPUT_INVALID_HANDLE, kNull = 0, kFailed = 0xFFFFFFFF,
                 kMismatch = HVDPUT_FIELD_ID_MISMATCH;
  constexpr uint32_t kLive = dpxut::names::kHandleLive, kDead = dpxut::names::kHandleDead;
  // The caller's state that no row may change, and forged handles over buf: dead, live reading, live writing.
  uint8_t buf[64], *pos = buf, *no_bytes = nullptr, out[256], *o = out;
  std::memset(buf, 0xAB, sizeof buf);
  char text[16] = "untouched", line[] = "RC_LANG=xx_YY", child[8] = "x", empty[1] = "", tn[2] = "x", tw[2] = "x";
  uint32_t left = 64, written = 7, u32 = 0, w = 0, o_size = sizeof out;
  size_t size = 5;
  void *slot = text, *last = text, *no_path = nullptr;
  HVDPNameBuffer *nb = nullptr, small{5, 0, 0, 0}, *small_p = &small;  // bufferSize below its own header
  HVDPStringBuffer* sb = nullptr;
  HVDPNameHandle *hn = nullptr, dead{kDead, buf, nullptr, buf, 0, 0}, reader{kLive, buf, nullptr, buf, 0, 0},
                 writer{kLive, buf, buf + 64, buf, 0, 0}, *h_dead = &dead, *h_reader = &reader, *h_writer = &writer;
  unsigned char area[12] = {1};  // one extension entry of type 1, without data
  HVDPExtensionHandle *eh = nullptr, e_dead{kDead, 12, area, area, nullptr}, *x_dead = &e_dead, *walk = nullptr;
  HVDPExtensionEntry* e = nullptr;
  HVDPGetFirstExtension(area, 12, &e, &walk);
  auto *block = reinterpret_cast<HVDPNameBuffer*>(buf), *other = reinterpret_cast<HVDPNameBuffer*>(text);
  HVDPList list{};

  UINT64 v{}, four{4}, cut{7}, none{7};
  int32_t zone = 0;
  uint16_t u16 = 9;
  const uint8_t k16[17] = {}, two[2] = {1, 2};
  // Rows of writing tables: data above its size, an offset field of no short-form width, a mark with no head.
  const DPDFPutEntry head = put_row(9), end = put_row(DPDF_END_OF_TABLE), big = put_row(0x0C, 1, 2, two),
                     auto_offset = put_row(DPDF_OFFSET_TO_END, 0x80, 1), mark = put_row(DPDF_SECTION_MARK);
  DPDFPutEntry table[] = {head, end};
  DPDFGetEntry gets[] = {{0x0B, out, 4, 0}, {DPDF_END_OF_TABLE, nullptr, 0, 0}};
  DPDFField field{};
  HVDPECMATimeStamp ts{};
  HVDPMediaHeaderInfo media{};
  HVDPSessionHeaderInfo session{}, long_text{};
  std::memset(long_text.fullName, 'n', 127);
  HVDPDataSetName d{};
  HVDPDataSetInfo block20{}, past{};  // a host block below 50 bytes; an extension of 40 bytes in room for 10
  block20.bufferSize = 20, past.bufferSize = 60, past.extensionLength = 40;
  HVDPRecordHeaderInfo rec{}, rec20{}, rec_past{};
  rec20.dataSetInfo = &block20, rec_past.dataSetInfo = &past;
  wchar_t wide[8];

  auto put = [&](uint32_t id, uint8_t form, uint32_t n, const uint8_t* data = nullptr, uint64_t declared = 0) {
    DPDFField f{id, {declared}, data, 0, {}};
    return DPDFPutNextField(buf, 64, &f, form, n);
  };
  auto fields = [&](std::vector<DPDFPutEntry> rows, bool header = false) {
    uint8_t* p = out;
    uint32_t n = sizeof out;
    return header ? dpxut::PutHeaderFields(rows.data(), &p, &n, &w, 0) : DPDFPutFields(rows.data(), &p, &n, 1);
  };
  auto first = [&](HVDPNameBuffer** b, const char* s) {
    return all(HVDPPutFirstName(b, 2, 0, 0, nullptr, nullptr, s, &hn),
               HVDPPutFirstLName(b, 2, 0, 0, nullptr, nullptr, 1, s, &hn));
  };
  auto next = [&](HVDPNameBuffer** b, HVDPNameHandle** h) {
    return all(HVDPPutNextName(b, h, 2, 0, 0, nullptr, nullptr, "a"),
               HVDPPutNextLName(b, h, 2, 0, 0, nullptr, nullptr, 1, "a"));
  };

  const Row rows[] = {
      // Field codec: data above the fixed, short-form or declared size, or wanted from null.
      ROW(kParam, DPDFGetNextField(buf, 64, nullptr), DPDFPutNextField(buf, 64, nullptr, 0, 0)),
      ROW(kParam, put(0x54, 0, 17, k16), put(0x0B, 4, 5, k16), put(0x0B, 0x80, 3, k16, 2), put(0x0B, 4, 4)),
      ROW(HVDPUT_BUFFER_UNDERFLOW, DPDFGetNextField(nullptr, 64, &field)),
      ROW(HVDPUT_OVERFLOW, DPDFPutNextField(nullptr, 64, &field, 1, 0), AND(DPDFSetUINT64(&cut, buf, 9), !cut.value)),
      ROW(0, AND(DPDFSetUINT64(&none, nullptr, 4), !none.value)),
      ROW(kParam, DPDFSetUINT64(nullptr, buf, 1), DPDFGetUINT64(&v, nullptr), DPDFAddUINT64(&v, &v, nullptr)),
      ROW(kParam, DPDFSubUINT64(nullptr, &v, &v), DPDFIncrementUINT64(nullptr, 1), DPDFDecrementUINT64(nullptr, 1)),
      ROW(kParam, DPDFSetUINT32Data(&four, buf, nullptr), DPDFSetUINT32Data(&four, nullptr, &u32)),
      // Sections.
      ROW(kParam, DPDFGetFields(0x813F, nullptr, &pos, &left), DPDFPutFields(table, &pos, nullptr, 0)),
      ROW(kParam, fields({end}), fields({head, big, end}), fields({head, auto_offset, end}), fields({mark, end}, true)),
      ROW(kMismatch, unmoved("09 00", [&](auto p, auto n) { return DPDFGetFields(0x813F, gets, p, n); })),
      ROW(0x12345678, (HVDPPadBlankSpace(nullptr, 20), HVDPGenerateCRC(9, 0x12345678, nullptr))),
      // Dates: null outputs are skipped; a null stamp gives 1 and stores "no date".
      ROW(0, (HVDPUnPackDate(0, nullptr, nullptr, nullptr), HVDPUnPackTime(0, nullptr, nullptr, nullptr), 0),
          (HVDPUnPackDateTime(0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0)),
      ROW(1, (u32 = 7, AND(HVDPECMAToDOSTime(nullptr, &u32), !u32)), HVDPECMAToDOSTime(&ts, nullptr)),
      ROW(1, (u32 = 7, AND(HVDPECMAToUnixTime(nullptr, &u32, &zone), !u32 && zone == HVDP_ECMA_ZONE_UNSPECIFIED))),
      ROW(1, HVDPECMAToUnixTime(&ts, nullptr, nullptr), HVDPDOSTimeToECMA(1, nullptr)),
      ROW(1, HVDPUnixTimeToECMA(0, nullptr, 1)),
      ROW(HVDP_ECMA_INCOMPARABLE, HVDPECMATimeCompare(nullptr, &ts), HVDPECMATimeCompare(&ts, nullptr)),
      // Headers: *bytesWritten is cleared first; each reader refuses the other's section.
      ROW(kParam, (w = 9, AND(HVDPSetMediaHeaderInfo(nullptr, buf, 64, &w), !w))),
      ROW(kParam, (w = 9, AND(HVDPSetSessionHeaderInfo(&long_text, buf, 64, &w), !w))),  // 127 characters
      ROW(kParam, HVDPSetMediaHeaderInfo(&media, buf, 9, nullptr), HVDPSetSessionHeaderInfo(&session, nullptr, 9, &w)),
      ROW(kParam, HVDPSetSessionHeaderInfo(&session, buf, 9, nullptr), HVDPSetMediaHeaderInfo(&media, nullptr, 9, &w)),
      ROW(kParam, HVDPGetMediaHeaderInfo(buf, 9, nullptr), HVDPGetSessionHeaderInfo(nullptr, 9, &session)),
      ROW(kMismatch, HVDPGetMediaHeaderInfo(hex_bytes("80 80 04 02 A5 5A 80 80 04 00").data(), 10, &media),
          HVDPGetSessionHeaderInfo(hex_bytes("80 80 00 02 A5 5A 80 80 00 00").data(), 10, &session)),
      // Record headers and the data set information parser: the caller's position never moves.
      ROW(kParam, HVDPSetNewRecordHeader(&no_bytes, &left, &written, 0, &rec), HVDPUpdateRecordHeader(nullptr)),
      ROW(kParam, AND(HVDPSetNewRecordHeader(&o, &o_size, &written, 1, &rec_past), o == out && o_size == sizeof out)),
      ROW(kParam, HVDPGetRecordHeaderOnly(&no_bytes, &left, &rec), HVDPGetDataSetInfo(&no_bytes, &left, &rec)),
      ROW(kParam, unmoved("09 02 A5 5B 09 00", [&](auto p, auto n) { return HVDPGetRecordHeaderOnly(p, n, &rec); })),
      ROW(kParam, unmoved("81 3F 02 A5 5A 81 3F 00", [&](auto p, auto n) { return HVDPGetDataSetInfo(p, n, &rec20); })),
      ROW(kMismatch, unmoved("50 01", [&](auto p, auto n) { return HVDPGetDataSetInfo(p, n, &rec); })),
      ROW(kParam, GetEntireDataSetInfo(buf, 4, nullptr), SaveDataSetInfo(nullptr, 4, &rec)),
      // A name list whose length word is below 4.
      ROW(kParam, SIDFUnpackNameList(&nb, nullptr), SIDFUnpackNameList(&nb, hex_bytes("03 00 00 00").data())),
      // Name buffers: nothing is allocated; forged handles are refused and left as they are.
      ROW(kParam, first(&nb, nullptr), first(&small_p, "a"), HVDPPutOneName(&nb, 2, 0, 0, nullptr, nullptr, nullptr)),
      ROW(kParam, next(&block, &hn), next(&other, &h_writer), HVDPGetNextName(&hn, &d), HVDPGetOneName(block, nullptr)),
      ROW(kParam, HVDPPutOneLName(&nb, 2, 0, 0, nullptr, nullptr, 3, nullptr), HVDPGetDataSetName(block, 2, nullptr)),
      ROW(kParam, HVDPGetFirstName(nullptr, &d, &hn), HVDPFreeNameList(nullptr)),
      ROW(kHandle, next(&block, &h_reader), HVDPGetNextName(&h_dead, &d), HVDPGetNextName(&h_writer, &d)),
      ROW(kHandle, HVDPCloseName(&hn), HVDPCloseName(&h_dead)),
      ROW(0, (CountPositions("", "/", "x", 2, 0, nullptr), GenericCountPositions(2, "", "/", nullptr, &u16), u16)),
      // Name lists, targets, extension areas.
      ROW(kNull, (HVDPInitList(nullptr, nullptr), HVDPDestroyList(nullptr), HVDPGetListHead(nullptr))),
      ROW(kNull, AND(HVDPAppendToList(&list, nullptr, nullptr), !list.head && !list.tail)),
      ROW(kNull, AND(HVDPGetTargetName(nullptr, tn, tw, nullptr), !*tn && !*tw)),  // the destinations emptied
      ROW(kParam, HVDPGetFirstExtension(area, 12, nullptr, &eh), HVDPGetNextExtension(&eh, &e)),
      ROW(kParam, HVDPGetExtension(nullptr, 12, 1, &e, &eh), AND(HVDPGetNextExtension(&walk, nullptr), !walk)),
      ROW(kHandle, HVDPGetNextExtension(&x_dead, &e), HVDPCloseExtension(&eh), HVDPCloseExtension(&x_dead)),
      // Allocated strings: null, the record as it was.
      ROW(kNull, HVDPAllocString(nullptr, 0), HVDPAllocGenericString(0, nullptr, 0), HVDPCopyString(&sb, nullptr, 1)),
      ROW(kNull, HVDPCatString(&sb, nullptr, 1), HVDPCatStrings(2, &sb, nullptr, "b"), HVDPStr(2, nullptr, "a", "b")),
      ROW(kNull, HVDPCopyGenericString(0x200, &sb, nullptr), HVDPCatGenericString(0x200, &sb, nullptr)),
      ROW(kNull, HVDPCatGenericStrings(0x200, 2, &sb, nullptr, L"b"), HVDPGenericStr(0, 2, nullptr, "a", "b")),
      ROW(0, (HVDPFreeString(nullptr), HVDPFreeGenericString(nullptr), 0)),
      // Wildcards and paths: no match, no separator, nothing cut.
      ROW(HVDP_NO_MATCH, HVDPMatchName(0, nullptr, "a", 0), HVDPMatchName(4, "a", nullptr, 0),
          matchNameEnabled(0, "a", nullptr, 0), matchIName(0, "a", nullptr, 0)),
      ROW(0, HVDPWildMatch(nullptr, "a"), HVDPGenericWildMatch(0x200, L"a", nullptr), HVDPIsWild(nullptr)),
      ROW(0, HVDPGenericIsWild(0x100, nullptr), HVDPLegalDOSName(nullptr), IsLinuxNameSpace(2, nullptr)),
      ROW(kNull, HVDPGenericStripEndSeparator(2, nullptr, &slot), HVDPStripEndSeparator(2, nullptr, &slot)),
      ROW(kNull, (GetVolumeAndLastSeparator(2, nullptr, &slot, &last), last)),  // *volume kept
      ROW(kNull, (last = text, AND(HVDPGetPathChild(2, nullptr, &last), !last)), HVDPGetVolume(&no_path, 2, text)),
      ROW(kNull, HVDPFixDOSPath(nullptr, text), HVDPGenericFixDOSPath(0, nullptr, text),
          HVDPFixGenericDOSPath(0, nullptr, text)),
      ROW(kNull, HVDPFixDirectoryPath(nullptr, 0, &sb, 0), HVDPFixGenericDirectoryPath(nullptr, 0x200, &sb, 1)),
      ROW(kNull, AND(HVDPStripPathChild(2, nullptr, child, sizeof child), !*child)),
      ROW(1, HVDPPathIsNotFullyQualified(2, nullptr)),
      // Generic characters: unknown keys and codes, null characters.
      ROW(kNull, GenericUtf8String(nullptr), GenericUniString(nullptr), GenericString(0, nullptr)),
      ROW(kNull, GenericMBCSChar(0xBF), GenericUtf8Char(0xBF), GenericUniChar(0xBF), GenericChar(0x200, 0xBF)),
      ROW(0, (DPsetChar(0, text, nullptr), 0), DPisQuestion(0, nullptr), DPisWild(0, nullptr)),  // through DPcheckChar
      // Name-space strings: null refused quietly, equal to null and before every string.
      ROW(0, DPstrcpy(0, text, nullptr), DPstrcat(0, text, nullptr), DPstrncpy(0, text, nullptr, 4)),
      ROW(0, DPstrlen(0, nullptr), StrIEqu(0, nullptr, "a"), StrNIEqu(0, nullptr, "a", 4)),
      ROW(-1, DPstrcmp(0, nullptr, "a"), DPstrncmp(0, nullptr, "a", 4), DPstrnicmp(0, nullptr, "a", 4)),
      ROW(1, DPstricmp(0x200, L"a", nullptr), StrIEqu(0x200, nullptr, nullptr)),
      ROW(kNull, DPstrdup(0, nullptr), DPstrupr(0, nullptr), DPstrrev(0, nullptr), DPnextChar(0, nullptr)),
      ROW(kNull, DPprevChar(0, nullptr), DPlastChar(0, nullptr), DPstrchr(0, nullptr, "a"), DPstrrchr(0, "a", nullptr)),
      ROW(kNull, DPstrstr(0, "a", nullptr), DPendChar(0, nullptr, "a"), strrev(nullptr, nullptr), strlwr(nullptr)),
      ROW(empty, strrev(nullptr, empty)),  // the destination is not used
      // Multibyte measuring and the conversion set-up.
      ROW(0, AND(dp_mblen(nullptr, 4), DPInitICONV == 0)),  // without running the set-up
      ROW(1, HVCharType(nullptr)),
      ROW(kNull, HVNextChar(nullptr), HVPrevChar("ab", nullptr), strupr(nullptr)),
      ROW(kFailed, GetValueFromLocaleString(line, nullptr), GetLocaleFromConfigFile(nullptr)),
      ROW(kFailed, GetServerMBCSCodeSet(nullptr), AND(DPInitUniLibrary(std::string(128, 'A').c_str()), !DPInitICONV)),
      ROW(false, static_cast<bool>(dpxut::IconvLease(nullptr, "UTF-8"))),  // the descriptor cache
      // UTF-8 and wide text; invalid UTF-8 is refused like a null argument, *size kept.
      ROW(0, dp_utf2uni(nullptr, nullptr), dp_uni2utf(nullptr, 0x41), isSpecialSequence(nullptr)),
      ROW(kParam, dp_utfs2unisize(nullptr, &size), dp_unis2utfsize(L"a", nullptr), dp_utfs2unis(wide, nullptr, 4)),
      ROW(kParam, dp_unis2utfs(nullptr, L"a", 4), DPutf82uni(wide, "a", nullptr), DPuni2utf8(text, nullptr, &size)),
      ROW(kParam, DPutf82uni(nullptr, "a\xC0\x80", &size), DPutf82uni(wide, "a\xC3", &size)),
      ROW(kNull, DPunirev(nullptr), DPuniupr(nullptr), DPunidup(nullptr)),
      ROW(-1, DPuninicmp(nullptr, L"a", 1), xutf8icmp(nullptr, "a"), xutf8nicmp("a", nullptr, 1)),
      ROW(-1, DPutf8icmp(nullptr, "a"), DPutf8nicmp("a", nullptr, 1)),
      ROW(0, xutf8size(nullptr), DPutf8Size(nullptr), xutf8len(nullptr), DPutf8len(nullptr)),
      ROW(kNull, xutf8next(nullptr), DPutf8next(nullptr), xutf8prev(nullptr), xutf8dup(nullptr), DPutf8dup(nullptr)),
      ROW(kNull, xutf8upr(nullptr), DPutf8upr(nullptr), xutf8rev(nullptr), DPutf8rev(nullptr)),
      ROW(kNull, xutf8chr(nullptr, "a"), xutf8rchr("a", nullptr), DPutf8chr(nullptr, "a"), DPutf8rchr("a", nullptr)),
      // Locale conversions: locale and UTF-8 sources are checked before the set-up, wide ones after it.
      ROW(kParam, AND(all(DPutf82loc(text, nullptr, "a"), DPloc2utf8(text, &size, nullptr),
                          DPloc2uni(wide, nullptr, "a"), DPloc2uniNoMap(wide, &size, nullptr)),
                      !DPInitICONV)),
      ROW(kParam, dp_utfs2locsize(nullptr, &size), dp_locs2utfsize("a", nullptr), dp_unis2locsize(nullptr, &size, 1)),
      ROW(kParam, dp_locs2unisize("a", nullptr, 1), dp_utfs2locs(nullptr, "a", 4), dp_locs2utfs(text, nullptr, 4)),
      ROW(kParam, dp_unis2locs(nullptr, L"a", 4, 1), dp_locs2unis(wide, nullptr, 4, 1)),
      ROW(kParam, AND(DPuni2loc(text, nullptr, L"a"), DPInitICONV), DPuni2locNoMap(text, &size, nullptr)),
  };
  for (const Row& r : rows) {
    EXPECT_EQ(r.run(), r.expected) << r.calls;
    ASSERT_TRUE(std::count(buf, buf + 64, 0xAB) == 64 && !std::strcmp(text, "untouched") && pos == buf && left == 64 &&
                written == 7 && size == 5 && slot == text && !nb && !sb && !hn && !eh && h_dead == &dead &&
                h_reader == &reader && h_writer == &writer && x_dead == &e_dead)
        << r.calls << ": changed the caller's state";
  }
  std::free(rec.dataSetInfo);
}

}  // namespace
