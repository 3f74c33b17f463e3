// Null and invalid arguments across the whole interface, in one table. Each
// row calls functions that share a result with a null record, buffer, string
// or handle, a handle that is not live, or a value they refuse; a check that
// a wrapper reaches is tested through the wrapper alone. After every row the
// caller's buffers, counters, records and handles are as they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
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

// The result the calls share as a number (pointers too, null as 0), or kDiffer.
template <class T, class... U>
long all(T first, U... rest) {
  return ((long(rest) == long(first)) && ...) ? long(first) : kDiffer;
}

// The call's result when `kept` holds after it, else kChanged.
#define AND(call, kept) [&] { const long r_ = long(call); return (kept) ? r_ : kChanged; }()

using Row = std::tuple<const char*, std::function<long()>, long>;  // the calls' text, the calls, their result
#define ROW(expected, ...) Row{#__VA_ARGS__, [&] { return all(__VA_ARGS__); }, long(expected)}
// Functions called with the same arguments, e.g. EACH(0, (0, nullptr), DPstrlen, DPisWild).
#define EACH(expected, args, ...) \
  Row{#__VA_ARGS__, [&] { return [](auto... f) { return all(std::apply(f, std::tuple args)...); }(__VA_ARGS__); }, \
      long(expected)}

// Zeroed room for any record, or null pointer variable, that a call is handed but must not change.
struct Blank {
  alignas(8) uint8_t bytes[1024] = {};
  template <class T>
  operator T*() { return reinterpret_cast<T*>(bytes); }
} blank;

// f(&position, &size) over the bytes of `text`: its result, or kChanged when the position moved.
long unmoved(const char* text, std::function<uint32_t(uint8_t**, uint32_t*)> f) {
  std::vector<uint8_t> in = hex_bytes(text);
  uint8_t* p = in.data();
  auto n = static_cast<uint32_t>(in.size());
  return AND(f(&p, &n), p == in.data() && n == in.size());
}

DPDFPutEntry put_row(uint32_t id, uint8_t form = 0, uint32_t bytes = 0, const uint8_t* data = nullptr) {
  return DPDFPutEntry{{id, {}, data, 0, {}}, bytes, 0, form};
}

using InvalidArguments = dpxut::testing::CharsetEnv;

TEST_F(InvalidArguments, AreRefusedAndLeaveTheCallersStateAlone) {
  constexpr long kParam = HVDPUT_INVALID_PARAMETER, kHandle = HVDPUT_INVALID_HANDLE, kNull = 0;
  constexpr uint32_t kLive = dpxut::names::kHandleLive, kDead = dpxut::names::kHandleDead;
  // The caller's state that no row may change, and forged handles over buf: dead, live reading, live writing.
  uint8_t buf[64], *pos = buf, *no_bytes = nullptr, out[256], *o = out;
  std::memset(buf, 0xAB, sizeof buf);
  char text[16] = "untouched", child[8] = "x", empty[1] = "", tn[2] = "x", tw[2] = "x";
  uint32_t left = 64, written = 7, u32 = 0, w = 0, o_size = sizeof out;
  size_t size = 5;
  void *slot = text, *last = text, *found = text;
  // A name buffer whose bufferSize is below its own header, and one no handle points into.
  HVDPNameBuffer small{5, 0, 0, 0}, *small_p = &small, *other = reinterpret_cast<HVDPNameBuffer*>(text);
  HVDPNameHandle dead{kDead, buf, nullptr, buf, 0, 0}, reader{kLive, buf, nullptr, buf, 0, 0},
                 writer{kLive, buf, buf + 64, buf, 0, 0}, *h_dead = &dead, *h_reader = &reader, *h_writer = &writer;
  HVDPExtensionHandle e_dead{kDead, 12, buf, buf, nullptr}, *x_dead = &e_dead, *walk = nullptr;
  HVDPExtensionEntry* e = nullptr;
  HVDPGetFirstExtension(blank, 12, &e, &walk);  // one entry of type 0
  UINT64 cut{7};  // a size of 7 bytes, until a row sets it (which clears it first)
  int32_t zone = 0;
  uint16_t u16 = 9;
  // Rows of writing tables: data above its size, an offset field of no short-form width, a mark with no head.
  const DPDFPutEntry head = put_row(9), end = put_row(DPDF_END_OF_TABLE), big = put_row(0x0C, 1, 2, buf),
                     auto_offset = put_row(DPDF_OFFSET_TO_END, 0x80, 1), mark = put_row(DPDF_SECTION_MARK);
  HVDPSessionHeaderInfo long_text{};  // a full name of 127 characters, one too many
  std::memset(long_text.fullName, 'n', 127);
  // A host block below 50 bytes; an extension of 40 bytes in room for 10.
  HVDPDataSetInfo block20{}, past{};
  block20.bufferSize = 20, past.bufferSize = 60, past.extensionLength = 40;
  HVDPRecordHeaderInfo rec{}, rec20{}, rec_past{};
  rec20.dataSetInfo = &block20, rec_past.dataSetInfo = &past;

  auto put = [&](uint32_t id, uint8_t form, uint32_t n, const uint8_t* data = nullptr, uint64_t declared = 0) {
    DPDFField f{id, {declared}, data, 0, {}};
    return DPDFPutNextField(buf, 64, &f, form, n);
  };
  auto fields = [&](std::vector<DPDFPutEntry> rows, bool header = false) {
    uint8_t scratch[256], *p = scratch;  // may hold the rows before the one refused
    uint32_t n = sizeof scratch;
    return header ? dpxut::PutHeaderFields(rows.data(), &p, &n, &w, 0) : DPDFPutFields(rows.data(), &p, &n, 1);
  };

  const Row rows[] = {
      // Field codec and sections: data above the fixed, short-form or declared size, or wanted from null.
      ROW(kParam, DPDFGetNextField(buf, 64, nullptr), DPDFPutNextField(buf, 64, nullptr, 0, 0), put(0x54, 0, 17, blank),
          put(0x0B, 4, 5, blank), put(0x0B, 0x80, 3, blank, 2), put(0x0B, 4, 4), DPDFSetUINT64(nullptr, buf, 1),
          DPDFGetUINT64(blank, nullptr), DPDFIncrementUINT64(nullptr, 1), DPDFDecrementUINT64(nullptr, 1),
          DPDFSetUINT32Data(blank, buf, nullptr), DPDFSetUINT32Data(&cut, nullptr, &u32),
          DPDFGetFields(0x813F, nullptr, &pos, &left), DPDFPutFields(blank, &pos, nullptr, 0), fields({end}),
          fields({head, big, end}), fields({head, auto_offset, end}), fields({mark, end}, true)),
      ROW(HVDPUT_BUFFER_UNDERFLOW, DPDFGetNextField(nullptr, 64, blank)),
      ROW(HVDPUT_OVERFLOW, DPDFPutNextField(nullptr, 64, blank, 1, 0), AND(DPDFSetUINT64(&cut, buf, 9), !cut.value)),
      ROW(0x12345678, (HVDPPadBlankSpace(nullptr, 20), HVDPGenerateCRC(9, 0x12345678, nullptr))),
      // A value from no bytes is 0; null outputs are skipped, a null record is not freed.
      ROW(0, (cut.value = 7, AND(DPDFSetUINT64(&cut, nullptr, 4), !cut.value)),
          (HVDPUnPackDateTime(0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), HVDPFreeString(nullptr), 0)),
      // A null stamp gives 1 and stores "no date", and compares with nothing; a null wide string sorts after
      // a string and equals null; a null path is not fully qualified; a null character counts as one byte.
      ROW(1, (w = 7, AND(HVDPECMAToDOSTime(nullptr, &w), !w)), HVDPECMAToDOSTime(blank, nullptr),
          (u32 = 7, AND(HVDPECMAToUnixTime(nullptr, &u32, &zone), !u32 && zone == HVDP_ECMA_ZONE_UNSPECIFIED)),
          HVDPECMAToUnixTime(blank, nullptr, nullptr), HVDPDOSTimeToECMA(1, nullptr), HVDPUnixTimeToECMA(0, nullptr, 1),
          HVDPECMATimeCompare(nullptr, blank) == HVDP_ECMA_INCOMPARABLE, DPstricmp(0x200, L"a", nullptr),
          StrIEqu(0x200, nullptr, nullptr), HVDPPathIsNotFullyQualified(2, nullptr), HVCharType(nullptr)),
      // Headers and the data set information parser: *bytesWritten is cleared first, the position never moves.
      ROW(kParam, unmoved("81 3F 02 A5 5A 81 3F 00", [&](auto p, auto n) { return HVDPGetDataSetInfo(p, n, &rec20); }),
          AND(HVDPSetNewRecordHeader(&o, &o_size, &written, 1, &rec_past), o == out && o_size == sizeof out),
          unmoved("09 02 A5 5B 09 00", [&](auto p, auto n) { return HVDPGetRecordHeaderOnly(p, n, blank); }),
          (u32 = 9, AND(HVDPSetSessionHeaderInfo(&long_text, buf, 64, &u32), !u32)),
          HVDPGetMediaHeaderInfo(buf, 9, nullptr), (w = 9, AND(HVDPSetMediaHeaderInfo(nullptr, buf, 64, &w), !w)),
          HVDPGetSessionHeaderInfo(nullptr, 9, blank), HVDPSetNewRecordHeader(&no_bytes, &left, &written, 0, blank),
          HVDPSetSessionHeaderInfo(blank, nullptr, 9, &w), HVDPSetSessionHeaderInfo(blank, buf, 9, nullptr),
          HVDPGetRecordHeaderOnly(&no_bytes, &left, blank), HVDPSetMediaHeaderInfo(blank, buf, 9, nullptr),
          HVDPGetDataSetInfo(&no_bytes, &left, blank), GetEntireDataSetInfo(buf, 4, nullptr),
          SaveDataSetInfo(nullptr, 4, blank), HVDPUpdateRecordHeader(nullptr)),
      // Each reader refuses the other's section, and a section of the wrong kind.
      ROW(HVDPUT_FIELD_ID_MISMATCH, unmoved("50 01", [&](auto p, auto n) { return HVDPGetDataSetInfo(p, n, &rec); }),
          HVDPGetSessionHeaderInfo(hex_bytes("80 80 00 02 A5 5A 80 80 00 00").data(), 10, blank),
          unmoved("09 00", [&](auto p, auto n) { return DPDFGetFields(0x813F, blank, p, n); }),
          HVDPGetMediaHeaderInfo(hex_bytes("80 80 04 02 A5 5A 80 80 04 00").data(), 10, blank)),
      // Name buffers and lists (a length word below 4): nothing is allocated; forged handles are left as they are.
      ROW(kParam, SIDFUnpackNameList(blank, nullptr), HVDPPutOneLName(blank, 2, 0, 0, nullptr, nullptr, 3, nullptr),
          HVDPPutFirstName(blank, 2, 0, 0, nullptr, nullptr, nullptr, blank), HVDPGetDataSetName(blank, 2, nullptr),
          HVDPPutFirstName(&small_p, 2, 0, 0, nullptr, nullptr, "a", blank), HVDPGetFirstName(nullptr, blank, blank),
          HVDPPutOneName(blank, 2, 0, 0, nullptr, nullptr, nullptr), HVDPGetOneName(blank, nullptr),
          HVDPPutNextName(&other, blank, 2, 0, 0, nullptr, nullptr, "a"), HVDPGetNextName(blank, blank),
          HVDPPutNextLName(&other, blank, 2, 0, 0, nullptr, nullptr, 1, "a"), HVDPFreeNameList(nullptr),
          HVDPPutNextName(&other, &h_writer, 2, 0, 0, nullptr, nullptr, "a"),
          SIDFUnpackNameList(blank, hex_bytes("03 00 00 00").data())),
      ROW(kHandle, HVDPPutNextName(&other, &h_reader, 2, 0, 0, nullptr, nullptr, "a"), HVDPGetNextName(&h_dead, blank),
          HVDPGetNextName(&h_writer, blank), HVDPCloseName(blank), HVDPCloseName(&h_dead)),
      // Lists, targets (the destinations emptied), extension areas.
      ROW(kNull, (HVDPInitList(nullptr, nullptr), HVDPDestroyList(nullptr), HVDPGetListHead(nullptr)),
          HVDPAppendToList(blank, nullptr, nullptr), AND(HVDPGetTargetName(nullptr, tn, tw, nullptr), !*tn && !*tw)),
      ROW(kParam, HVDPGetFirstExtension(blank, 12, nullptr, blank), HVDPGetNextExtension(blank, blank),
          HVDPGetExtension(nullptr, 12, 1, blank, blank), AND(HVDPGetNextExtension(&walk, nullptr), !walk)),
      ROW(kHandle, HVDPGetNextExtension(&x_dead, blank), HVDPCloseExtension(blank), HVDPCloseExtension(&x_dead)),
      // Allocated strings: null, the record as it was.
      ROW(kNull, HVDPCatGenericStrings(0x200, 2, blank, nullptr, L"b"), HVDPCatGenericString(0x200, blank, nullptr),
          HVDPGenericStr(0, 2, nullptr, "a", "b"), HVDPCatStrings(2, blank, nullptr, "b"), HVDPAllocString(nullptr, 0),
          HVDPAllocGenericString(0, nullptr, 0), HVDPCatString(blank, nullptr, 1), HVDPStr(2, nullptr, "a", "b")),
      // Wildcards and paths: no match, no separator, nothing cut.
      ROW(HVDP_NO_MATCH, HVDPMatchName(0, nullptr, "a", 0), HVDPMatchName(4, "a", nullptr, 0)),
      ROW(0, HVDPWildMatch(nullptr, "a"), HVDPGenericWildMatch(0x200, L"a", nullptr), HVDPIsWild(nullptr),
          HVDPGenericIsWild(0x100, nullptr), HVDPLegalDOSName(nullptr), IsLinuxNameSpace(2, nullptr),
          (CountPositions("", "/", "x", 2, 0, nullptr), GenericCountPositions(2, "", "/", nullptr, &u16), u16)),
      ROW(kNull, AND(HVDPGetPathChild(2, nullptr, &found), !found), HVDPGetVolume(blank, 2, text),
          (GetVolumeAndLastSeparator(2, nullptr, &slot, &last), last), HVDPFixDirectoryPath(nullptr, 0, blank, 0),
          AND(HVDPStripPathChild(2, nullptr, child, 8), !*child), HVDPFixGenericDirectoryPath(nullptr, 0x200, blank, 1),
          HVDPStripEndSeparator(2, nullptr, &slot), HVDPFixDOSPath(nullptr, text)),
      // Characters and name-space strings: unknown keys and codes; null refused quietly, before every string.
      ROW(kNull, GenericString(0x200, nullptr), GenericMBCSChar(0xBF), GenericChar(0x200, 0xBF),
          DPstrchr(0, nullptr, "a"), DPstrrchr(0, "a", nullptr), DPstrstr(0, "a", nullptr), DPendChar(0, nullptr, "a"),
          strrev(nullptr, nullptr), HVPrevChar("ab", nullptr), DPutf8chr(nullptr, "a"), DPutf8rchr("a", nullptr)),
      EACH(kNull, (0, nullptr), DPstrdup, DPstrupr, DPstrrev, DPnextChar, DPprevChar, DPlastChar),
      EACH(kNull, (nullptr), strlwr, strupr, HVNextChar, DPunirev, DPuniupr, DPunidup, DPutf8next, xutf8prev, DPutf8dup,
           DPutf8upr, DPutf8rev),
      ROW(0, (DPsetChar(0, text, nullptr), 0), DPisWild(0, nullptr), DPstrcpy(0, text, nullptr),
          DPstrcat(0, text, nullptr), DPstrncpy(0, text, nullptr, 4), DPstrlen(0, nullptr), StrIEqu(0, nullptr, "a")),
      ROW(-1, DPstrcmp(0, nullptr, "a"), DPuninicmp(nullptr, L"a", 1), DPutf8icmp(nullptr, "a")),
      ROW(empty, strrev(nullptr, empty)),  // the destination is not used
      // The conversion set-up, and the descriptor cache.
      ROW(0xFFFFFFFF, GetValueFromLocaleString(text, nullptr), GetLocaleFromConfigFile(nullptr),
          GetServerMBCSCodeSet(nullptr), AND(DPInitUniLibrary(std::string(128, 'A').c_str()), !DPInitICONV)),
      ROW(false, static_cast<bool>(dpxut::IconvLease(nullptr, "UTF-8"))),  // the descriptor cache
      // UTF-8 and wide text; invalid UTF-8 is refused like a null argument, *size kept.
      ROW(0, dp_utf2uni(nullptr, nullptr), dp_uni2utf(nullptr, 0x41), isSpecialSequence(nullptr), DPutf8Size(nullptr),
          DPutf8len(nullptr), AND(dp_mblen(nullptr, 4), DPInitICONV == 0)),  // measuring without the set-up
      ROW(kParam, dp_utfs2unisize(nullptr, &size), dp_utfs2unis(blank, nullptr, 4),
          DPutf82uni(nullptr, "a\xC0\x80", &size), DPutf82uni(reinterpret_cast<wchar_t*>(out), "a\xC3", &size)),
      // Locale conversions: locale and UTF-8 sources are checked before the set-up, wide ones after it.
      ROW(kParam, AND(DPutf82loc(text, nullptr, "a"), !DPInitICONV), dp_utfs2locsize(nullptr, &size),
          dp_locs2utfsize("a", nullptr), dp_unis2locsize(nullptr, &size, 1), dp_locs2unisize("a", nullptr, 1),
          dp_utfs2locs(nullptr, "a", 4), dp_locs2utfs(text, nullptr, 4), dp_unis2locs(nullptr, L"a", 4, 1),
          dp_locs2unis(blank, nullptr, 4, 1)),
      ROW(kParam, AND(DPuni2loc(text, nullptr, L"a"), DPInitICONV)),
  };
  for (const auto& [calls, run, expected] : rows) {
    EXPECT_EQ(run(), expected) << calls;
    ASSERT_TRUE(std::count(buf, buf + 64, 0xAB) == 64 && !std::strcmp(text, "untouched") && pos == buf && left == 64 &&
                written == 7 && size == 5 && slot == text && h_dead == &dead && h_reader == &reader &&
                h_writer == &writer && x_dead == &e_dead && *std::max_element(blank.bytes, std::end(blank.bytes)) == 0)
        << calls << ": changed the caller's state";
  }
  std::free(rec.dataSetInfo);
}

}  // namespace
