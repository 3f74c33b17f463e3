// Fuzzes the allocated string records with input-chosen sequences of
// allocations, copies, joins and releases on a plain, a UTF-8 and a wide
// record, checked against std::string / std::wstring after every step:
// the text, the block size (capacity + 2), and that a failing call leaves
// the record as it was.
#include "fuzz_input.h"
#include <malloc.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dpxut.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

// The fuzz input, with texts drawn from it.
struct Reader : dpxut::fuzz::FuzzInput {
  // A text of up to 2^k bytes, k from the input, repeated from a few
  // input bytes so that long texts come cheap.
  std::string text() {
    const unsigned shift = byte() % 16;
    const size_t len = (size_t{1} << shift) - 1 - (shift != 0 ? byte() % (size_t{1} << (shift - 1)) : 0);
    const uint8_t a = byte(), b = byte();
    std::string s(len, static_cast<char>(a));
    for (size_t i = 1; i < len; i += 7) s[i] = static_cast<char>(b);
    s.resize(std::strlen(s.c_str()));  // a C string ends at its first NUL
    return s;
  }
};

std::wstring widen(const std::string& s) {
  std::wstring w;
  for (unsigned char c : s) w.push_back(c == 0 ? 0x4E2D : static_cast<wchar_t>(c));
  return w;
}

std::wstring wide_text(const HVDPStringBuffer* r) {
  std::wstring out;
  const auto* b = reinterpret_cast<const unsigned char*>(r->text);
  for (size_t i = 0; i + 4 <= r->capacity; i += 4) {
    wchar_t c;
    std::memcpy(&c, b + i, 4);
    if (c == 0) return out;
    out.push_back(c);
  }
  __builtin_trap();  // no terminator inside the record
}

void check_record(const HVDPStringBuffer* r, const std::string* bytes, const std::wstring* wide) {
  if (r == nullptr) {
    check((bytes == nullptr || bytes->empty()) && (wide == nullptr || wide->empty()));
    return;
  }
  check(malloc_usable_size(const_cast<HVDPStringBuffer*>(r)) >= size_t{r->capacity} + 2);
  if (bytes != nullptr) {
    check(strnlen(r->text, r->capacity) < r->capacity);
    check(*bytes == r->text);
  } else {
    check(*wide == wide_text(r));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  HVDPStringBuffer* plain = nullptr;
  HVDPStringBuffer* utf8 = nullptr;
  HVDPStringBuffer* wide = nullptr;
  std::string m_plain, m_utf8;
  std::wstring m_wide;

  for (int step = 0; step < 64 && in.left != 0; ++step) {
    const uint8_t op = in.byte();
    switch (op % 12) {
      case 0: {  // copy, whole or a length
        std::string s = in.text();
        const uint16_t len = op & 0x80 ? 0xFFFF : in.u16();
        const std::string expect = s.substr(0, len == 0xFFFF ? s.size() : len);
        if (HVDPCopyString(&plain, s.c_str(), len) != nullptr) m_plain = expect;
        break;
      }
      case 1: {
        std::string s = in.text();
        const uint16_t len = op & 0x80 ? 0xFFFF : in.u16();
        const std::string add = s.substr(0, len == 0xFFFF ? s.size() : len);
        if (HVDPCatString(&plain, s.c_str(), len) != nullptr) m_plain += add;
        break;
      }
      case 2: {  // join of a copy and two appends, the middle one null
        const std::string a = in.text(), b = in.text();
        if (HVDPCatStrings(3, &plain, a.c_str(), nullptr, b.c_str()) != nullptr) {
          m_plain = a + b;
        } else if (plain != nullptr && plain->text != m_plain) {
          check(plain->text == a);  // the copy was made, the append failed
          m_plain = a;
        }
        break;
      }
      case 3: {  // explicit allocation: the text survives, cut to fit
        const auto req = static_cast<int16_t>(in.u16());
        if (HVDPAllocString(&plain, req) != nullptr) {
          if (m_plain.size() >= plain->capacity) m_plain.resize(plain->capacity - 1);
        }
        break;
      }
      case 4:
        HVDPFreeString(&plain);
        m_plain.clear();
        break;
      case 5: {  // the record's own text as the source
        if (plain != nullptr && HVDPCatString(&plain, plain->text, 0xFFFF) != nullptr) m_plain += m_plain;
        break;
      }
      case 6: {
        const std::string s = in.text();
        if (HVDPCopyGenericString(0x100, &utf8, s.c_str()) != nullptr) m_utf8 = s;
        break;
      }
      case 7: {
        const std::string s = in.text();
        if (HVDPCatGenericString(0x100, &utf8, s.c_str()) != nullptr) m_utf8 += s;
        break;
      }
      case 8: {
        const std::wstring s = widen(in.text());
        if (HVDPCopyGenericString(0x200, &wide, s.c_str()) != nullptr) m_wide = s;
        break;
      }
      case 9: {
        const std::wstring a = widen(in.text()), b = widen(in.text());
        if (HVDPCatGenericStrings(0x200, 2, &wide, a.c_str(), b.c_str()) != nullptr) {
          m_wide = a + b;
        } else if (wide != nullptr) {
          m_wide = wide_text(wide);
        }
        break;
      }
      case 10: {
        const auto req = static_cast<int32_t>(in.u16()) - 0x100 + (op & 0x80 ? 0x10000 : 0);
        if (HVDPAllocGenericString(0x200, &wide, req) != nullptr) {
          if ((m_wide.size() + 1) * 4 > wide->capacity) m_wide.resize(wide->capacity / 4 - 1);
        }
        break;
      }
      case 11: {  // joins into a host array, at an odd offset for wide text
        const std::string a = in.text().substr(0, 100), b = in.text().substr(0, 100);
        char dest[256];
        check(HVDPStr(2, dest, a.c_str(), b.c_str()) == dest && a + b == dest);
        const std::wstring wa = widen(a), wb = widen(b);
        std::vector<unsigned char> area((wa.size() + wb.size() + 1) * 4 + 1);
        HVDPGenericStr(0x200, 2, area.data() + 1, wa.c_str(), wb.c_str());
        HVDPStringBuffer* r = nullptr;
        HVDPCopyGenericString(0x200, &r, area.data() + 1);
        check(r == nullptr || wide_text(r) == wa + wb);
        HVDPFreeGenericString(&r);
        break;
      }
    }
    check_record(plain, &m_plain, nullptr);
    check_record(utf8, &m_utf8, nullptr);
    check_record(wide, nullptr, &m_wide);
  }
  HVDPFreeString(&plain);
  HVDPFreeGenericString(&utf8);
  HVDPFreeGenericString(&wide);
  return 0;
}
