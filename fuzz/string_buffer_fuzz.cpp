// Fuzzes the allocated string records with input-chosen sequences of
// allocations, copies, joins and releases on a plain, a UTF-8 and a wide
// record, checked against std::string / std::wstring after every step:
// the text, the block size (capacity + 2), and that a failing call leaves
// the record as it was (or, for a join, holding its first part).
#include <malloc.h>

#include "dpxut.h"
#include "fuzz_input.h"

// A text of up to 2^k bytes, k from the input, repeated from a few input
// bytes so that long texts come cheap; a C string ends at its first NUL.
static std::string text(FuzzInput& in) {
  const unsigned shift = in.byte() % 16;
  const size_t len = (size_t{1} << shift) - 1 - (shift != 0 ? in.byte() % (size_t{1} << (shift - 1)) : 0);
  const uint8_t a = in.byte(), b = in.byte();
  std::string s(len, static_cast<char>(a));
  for (size_t i = 1; i < len; i += 7) s[i] = static_cast<char>(b);
  return s.c_str();
}

// One wide unit per byte.
static std::wstring wide(FuzzInput& in) {
  const std::string s = text(in);
  return std::wstring(s.begin(), s.end());
}

// Whether r holds the model's text and terminator inside its block; no
// record stands for no text.
template <typename Model>
static bool holds(HVDPStringBuffer* r, const Model& model) {
  const size_t bytes = (model.size() + 1) * sizeof(model[0]);
  return r == nullptr ? model.empty()
                      : malloc_usable_size(r) >= r->capacity + size_t{2} && bytes <= r->capacity &&
                            std::memcmp(r->text, model.c_str(), bytes) == 0;
}

void fuzz(const uint8_t* data, size_t size) {
  FuzzInput in{data, size};
  HVDPStringBuffer *plain = nullptr, *utf8 = nullptr, *wide_record = nullptr;
  std::string m_plain, m_utf8;
  std::wstring m_wide;
  for (int step = 0; step < 64 && in.left != 0; ++step) {
    const uint8_t op = in.byte(), k = op % 12;
    if (k == 0 || k == 1) {  // copy or append, whole or a length
      const std::string s = text(in);
      const uint16_t len = op & 0x80 ? 0xFFFF : in.number(2, false);
      if ((k == 0 ? HVDPCopyString : HVDPCatString)(&plain, s.c_str(), len))
        m_plain = (k == 0 ? "" : m_plain) + s.substr(0, len);
    } else if (k == 2) {  // join of a copy and two appends, the middle one null
      const std::string a = text(in), b = text(in);
      const bool joined = HVDPCatStrings(3, &plain, a.c_str(), nullptr, b.c_str()) != nullptr;
      // A failed join may leave the copy made before the append failed.
      m_plain = joined ? a + b : holds(plain, m_plain) ? m_plain : a;
    } else if (k == 3) {  // explicit allocation: the text survives, cut to fit
      if (HVDPAllocString(&plain, static_cast<int16_t>(in.number(2, false))) && m_plain.size() >= plain->capacity)
        m_plain.resize(plain->capacity - 1);
    } else if (k == 4) {
      HVDPFreeString(&plain);
      m_plain.clear();
    } else if (k == 5) {  // the record's own text as the source
      if (plain != nullptr && HVDPCatString(&plain, plain->text, 0xFFFF)) m_plain += m_plain;
    } else if (k == 6 || k == 7) {
      const std::string s = text(in);
      if ((k == 6 ? HVDPCopyGenericString : HVDPCatGenericString)(0x100, &utf8, s.c_str()))
        m_utf8 = (k == 6 ? "" : m_utf8) + s;
    } else if (k == 8) {
      const std::wstring s = wide(in);
      if (HVDPCopyGenericString(0x200, &wide_record, s.c_str())) m_wide = s;
    } else if (k == 9) {
      const std::wstring a = wide(in), b = wide(in);
      const bool joined = HVDPCatGenericStrings(0x200, 2, &wide_record, a.c_str(), b.c_str()) != nullptr;
      m_wide = joined ? a + b : holds(wide_record, m_wide) ? m_wide : a;
    } else if (k == 10) {
      const auto req = static_cast<int32_t>(in.number(2, false)) - 0x100 + (op & 0x80 ? 0x10000 : 0);
      if (HVDPAllocGenericString(0x200, &wide_record, req) && (m_wide.size() + 1) * 4 > wide_record->capacity)
        m_wide.resize(wide_record->capacity / 4 - 1);
    } else {  // joins into a host array, at an odd offset for wide text
      const std::string a = text(in).substr(0, 100), b = text(in).substr(0, 100);
      char dest[256];
      check(HVDPStr(2, dest, a.c_str(), b.c_str()) == dest && a + b == dest, "HVDPStr");
      const std::wstring wa(a.begin(), a.end()), wb(b.begin(), b.end());
      const Block area((wa.size() + wb.size() + 1) * 4, 1);
      HVDPGenericStr(0x200, 2, area.at, wa.c_str(), wb.c_str());
      check(std::memcmp(area.at, (wa + wb).c_str(), (wa.size() + wb.size() + 1) * 4) == 0, "HVDPGenericStr");
    }
    check(holds(plain, m_plain) && holds(utf8, m_utf8) && holds(wide_record, m_wide), "every record as its model");
  }
  HVDPFreeString(&plain);
  HVDPFreeGenericString(&utf8);
  HVDPFreeGenericString(&wide_record);
}
