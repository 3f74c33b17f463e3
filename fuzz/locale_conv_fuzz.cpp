// Fuzzes the locale conversions with any bytes as locale text and any wide
// values as wide text, in the ISO-8859-1 and EUC-JP code sets. Every
// conversion is sized and then filled into a heap block of exactly the
// reported size (so ASan sees any write past it), and again with one unit
// less; the sizing pass must agree with the filling pass on every input.
//
// Input: byte 0 chooses the set-up -- bit 0 the code set (ISO-8859-1 or
// EUC-JP), bit 1 DPUseMbFunctions, bit 2 the ASCII fast path off, bits 3-4
// the misalignment (0..3 bytes) of wide buffers. The rest up to the first
// NUL is locale text; the bytes after it, 4 at a time, are wide text (all
// of the rest when it holds no NUL).
#include <clocale>
#include <filesystem>
#include <optional>

#include "charset/locale_conv.h"
#include "dpxut.h"
#include "fuzz_input.h"

static void use_codeset(bool euc_jp) {
  static int current = -1;
  if (current == euc_jp) return;
  current = euc_jp;
  check(std::setlocale(LC_CTYPE, euc_jp ? "ja_JP.EUC-JP" : "en_US.ISO-8859-1") != nullptr, "test locale");
  // Naming the code set directly keeps both sets' descriptors cached.
  std::strcpy(dp_current_codeset, euc_jp ? "EUC-JP" : "ISO-8859-1");
  DPInitICONV = 1;
}

// Sizes f's conversion of `in`, then fills a block of exactly that many
// units (`shift` bytes off alignment): 0, the size kept (the mbsrtowcs
// route to wide text counts without the terminator), a zero last unit; one
// unit less overflows and keeps the size. A failed sizing fails alike with
// ample room. Gives the text without its terminator, nothing on failure.
template <typename Out, typename In>
static std::optional<std::basic_string<Out>> convert(uint32_t (*f)(Out*, size_t*, const In*), const In* in,
                                                     size_t shift) {
  size_t size = 0, cap = (size_t{1} << 16) / sizeof(Out);
  const uint32_t sizing = f(nullptr, &size, in);
  check(sizing == 0 || f(Block(cap * sizeof(Out), shift).as<Out>(), &cap, in) == sizing, "failing alike with room");
  if (sizing != 0) return std::nullopt;
  check(size >= 1, "the size counts the terminator");
  const Block exact(size * sizeof(Out), shift), small((size - 1) * sizeof(Out), shift);
  check(f(exact.as<Out>(), &(cap = size), in) == 0 &&
            (cap == size || (sizeof(Out) == 4 && DPUseMbFunctions && cap == size - 1)) &&
            std::memcmp(exact.at + (size - 1) * sizeof(Out), "\0\0\0", sizeof(Out)) == 0,
        "filling as sized, terminated");
  check(f(small.as<Out>(), &(cap = size - 1), in) == HVDPUT_OVERFLOW && cap == size - 1, "one unit short");
  return std::basic_string<Out>(exact.as<Out>(), size - 1);
}

void fuzz(const uint8_t* data, size_t size) {
  // The replay test sets LOCPATH; a fuzzing run uses the normal build's
  // test locales next to this source tree.
  [[maybe_unused]] static const int locales =
      setenv("LOCPATH", (std::filesystem::path(__FILE__).parent_path().parent_path() / "build/locales").c_str(), 0);
  if (size == 0 || size > 2048) return;
  FuzzInput in{data, size};
  const uint8_t mode = in.byte();
  use_codeset(mode & 1);
  DPUseMbFunctions = (mode & 2) != 0 ? 1 : 0;
  dpxut::charset::set_ascii_fast_path((mode & 4) == 0);
  const size_t shift = (mode >> 3) & 3;
  const FuzzInput body = in;
  const std::string text = in.until_nul();
  if (text.size() == body.left) in = body;
  const Block loc = c_string(text);
  const Block uni((in.left / 4 + 1) * 4, shift, in.p, in.left / 4 * 4);

  for (auto to_wide : {DPloc2uni, DPloc2uniNoMap}) convert(to_wide, loc.as<char>(), shift);
  const auto utf = convert(DPloc2utf8, loc.as<char>(), 0), back = convert(DPutf82loc, loc.as<char>(), 0);
  for (const auto* t : {&utf, &back}) check(!*t || (*t)->find('\0') == std::string::npos, "no NUL inside the text");
  // Back to the code set: the text as it was.
  if (utf) check(convert(DPutf82loc, utf->c_str(), 0) == text, "locale text through UTF-8 and back");
  for (auto to_locale : {DPuni2loc, DPuni2locNoMap}) convert(to_locale, uni.as<wchar_t>(), 0);
}
