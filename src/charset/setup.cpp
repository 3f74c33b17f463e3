// Conversion set-up: finds the server's multibyte code set (language
// configuration file, then the environment), checks that iconv converts it
// to and from UTF-8, and undoes its changes to the process locale at
// shut-down. Owns the process-wide conversion state exported to hosts.
#include "charset/setup.h"

#include <langinfo.h>
#include <strings.h>

#include <cctype>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "common/export.h"
#include "common/heap.h"
#include "common/iconv_cache.h"
#include "dpxut.h"

// Exported data: C linkage comes from the declarations in dpxut.h.
extern "C" {
__attribute__((visibility("default"))) int DPUseMbFunctions = 0;
__attribute__((visibility("default"))) int DPInitICONV = 0;
__attribute__((visibility("default"))) char dp_current_codeset[dpxut::charset::kCodeSetSize] = {};
__attribute__((visibility("default"))) char* resetCharSetToThis = nullptr;
__attribute__((visibility("default"))) char* resetLocaleToThis = nullptr;
}

namespace dpxut::charset {
namespace {

constexpr uint32_t kFailed = 0xFFFFFFFFu;
constexpr const char* kSystemLanguageFile = "/etc/sysconfig/language";
// A configured value fills at most a 256-byte slot, the NUL included.
constexpr size_t kValueSlot = 256;
// Configuration lines are read 1022 bytes at a time.
constexpr size_t kLineMax = 1022;
// The discovery reads the configured name into an area of this size.
constexpr size_t kLocaleArea = 4096;

const char* g_language_file = kSystemLanguageFile;

// True while a discovery has left LC_CTYPE switched to the server's
// language (DPUseMbFunctions set): resetCharSetToThis then holds the
// host's own locale and a later discovery must not replace it by ours.
bool g_ctype_switched = false;

// Serialises the set-up that conversions run on first use, so that threads
// converting for the first time at once run it once.
std::mutex g_first_setup;

// DPInitICONV is read by every conversion, so the set-up publishes it with
// release and readers take it with acquire: a thread that sees 1 also sees
// the code set name stored before it.
int init_flag() noexcept { return __atomic_load_n(&DPInitICONV, __ATOMIC_ACQUIRE); }
void set_init_flag(int value) noexcept { __atomic_store_n(&DPInitICONV, value, __ATOMIC_RELEASE); }

bool is_blank_or_quote(char c) noexcept {
  return std::isspace(static_cast<unsigned char>(c)) != 0 || c == '"';
}

// Reads one physical line, keeping its first kLineMax bytes (newline
// included when it fits) and dropping the rest, so that the tail of an
// over-long line is never taken for a line of its own. False at the end.
bool read_line(std::FILE* f, char (&line)[kLineMax + 1]) noexcept {
  size_t n = 0;
  bool any = false;
  int c;
  while ((c = std::getc(f)) != EOF) {
    any = true;
    if (n < kLineMax) line[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  line[n] = '\0';
  return any;
}

// Replaces one of the exported saved names, releasing the one it held.
void replace_saved(char*& slot, char* name) noexcept {
  std::free(slot);
  slot = name;
}

// Configured names that select a UTF-8 locale; the language part before
// the first "." then names the locale whose code set the server uses.
void cut_utf8_suffix(char* name) noexcept {
  static constexpr const char* kUtf8Names[] = {"utf8", "utf-8", "UTF8", "UTF-8"};
  for (const char* tag : kUtf8Names) {
    if (std::strstr(name, tag) != nullptr) {
      if (char* dot = std::strchr(name, '.')) *dot = '\0';
      return;
    }
  }
}

}  // namespace

bool current_codeset(char (&out)[kCodeSetSize]) noexcept {
  const size_t len = strnlen(dp_current_codeset, kCodeSetSize);
  if (len >= kCodeSetSize) {
    out[0] = '\0';
    return false;
  }
  std::memcpy(out, dp_current_codeset, len + 1);
  return true;
}

void run_first_setup() noexcept {
  std::lock_guard<std::mutex> lock(g_first_setup);
  if (init_flag() != 0) return;  // another thread ran it meanwhile
  DPInitUniLibrary(nullptr);
  set_init_flag(1);
}

void set_language_file_for_testing(const char* path) noexcept {
  g_language_file = path != nullptr ? path : kSystemLanguageFile;
}

}  // namespace dpxut::charset

using namespace dpxut::charset;

// Value of a KEY=value line: after the first "=", without the blanks and
// double quotes around it. The line is cut in place after the value.
DPXUT_EXPORT uint32_t GetValueFromLocaleString(char* line, char* value) {
  if (line == nullptr || value == nullptr) return kFailed;
  char* p = std::strchr(line, '=');
  if (p == nullptr) return kFailed;
  ++p;
  // A value that runs out while its leading blanks and quotes are skipped
  // is no value; the test is on the character reached, so a one-character
  // value such as "C" is kept.
  while (is_blank_or_quote(*p)) {
    ++p;
    if (*p == '\n' || *p == '\0') return kFailed;
  }
  // *p is now the value's first character (or the end); the backward scan
  // stops at it at the latest.
  char* end = p + std::strlen(p);
  while (end > p && is_blank_or_quote(end[-1])) --end;
  *end = '\0';
  const size_t len = static_cast<size_t>(end - p);
  if (len == 0 || len >= kValueSlot) return kFailed;
  std::memcpy(value, p, len + 1);
  return 0;
}

// The configured locale: the first RC_LC_ALL= line (reading stops there,
// whatever its value) wins over the last valid RC_LANG= line before it.
DPXUT_EXPORT uint32_t GetLocaleFromConfigFile(char* locale) {
  if (locale == nullptr) return kFailed;
  std::FILE* f = std::fopen(g_language_file, "re");
  if (f == nullptr) return kFailed;
  char lang[kValueSlot] = {};
  char lc_all[kValueSlot] = {};
  char line[kLineMax + 1];
  while (read_line(f, line)) {
    if (strncasecmp(line, "RC_LC_ALL=", 10) == 0) {
      GetValueFromLocaleString(line, lc_all);
      break;
    }
    if (strncasecmp(line, "RC_LANG=", 8) == 0) GetValueFromLocaleString(line, lang);
  }
  std::fclose(f);
  const char* chosen = lc_all[0] != '\0' ? lc_all : lang;
  if (chosen[0] == '\0') return kFailed;
  std::memcpy(locale, chosen, std::strlen(chosen) + 1);
  return 0;
}

// Discovers the server code set into codeSet (128 bytes): the configured
// locale (or the environment's) is selected for LC_CTYPE just long enough
// to ask for its code set, unless the host wants the multibyte functions.
DPXUT_EXPORT uint32_t GetServerMBCSCodeSet(char* codeSet) {
  if (codeSet == nullptr) return kFailed;
  char name[kLocaleArea] = {};
  GetLocaleFromConfigFile(name);  // a missing file or key leaves it empty

  // Both saved names are copied before anything changes, so a heap failure
  // leaves the locale and the saved names as they were.
  dpxut::HeapPtr<char> configured(dpxut::heap_strdup(name));
  if (!configured) return kFailed;
  const char* current = std::setlocale(LC_CTYPE, nullptr);
  if (current == nullptr) return kFailed;
  const bool keep_saved = g_ctype_switched && resetCharSetToThis != nullptr;
  dpxut::HeapPtr<char> saved(keep_saved ? nullptr : dpxut::heap_strdup(current));
  if (!keep_saved && !saved) return kFailed;

  replace_saved(resetLocaleToThis, configured.release());
  cut_utf8_suffix(name);
  if (!keep_saved) replace_saved(resetCharSetToThis, saved.release());

  if (std::setlocale(LC_CTYPE, name) == nullptr) return kFailed;
  const char* codeset = nl_langinfo(CODESET);
  const size_t len = codeset != nullptr ? std::strlen(codeset) : kCodeSetSize;
  if (len == 0 || len >= kCodeSetSize) {
    // No name iconv could take: give the host its locale back.
    std::setlocale(LC_CTYPE, resetCharSetToThis);
    g_ctype_switched = false;
    return kFailed;
  }
  std::memcpy(codeSet, codeset, len + 1);

  if (DPUseMbFunctions != 0) {
    // An empty name means the environment chose the locale: its LC_ALL, if
    // any, already says so and is left alone.
    if (name[0] != '\0') setenv("LC_ALL", name, 1);
    g_ctype_switched = true;
  } else {
    std::setlocale(LC_CTYPE, resetCharSetToThis);
    g_ctype_switched = false;
  }
  return 0;
}

DPXUT_EXPORT uint32_t DPInitUniLibrary(const char* codeSet) {
  if (init_flag() != 0 && codeSet == nullptr) return 0;
  char name[kCodeSetSize] = {};
  if (codeSet == nullptr || codeSet[0] == '\0') {
    if (GetServerMBCSCodeSet(name) != 0) return kFailed;
  } else {
    // A longer name would be cut into the name of another code set.
    const size_t len = strnlen(codeSet, kCodeSetSize);
    if (len >= kCodeSetSize) return kFailed;
    std::memcpy(name, codeSet, len + 1);
  }
  std::memcpy(dp_current_codeset, name, kCodeSetSize);
  dpxut::iconv_cache_invalidate();

  if (std::strcmp(name, "UTF-8") != 0) {
    // Both directions must open. The probes go through the cache, which
    // closes them at once or keeps them warm for the first conversions.
    dpxut::IconvLease to_utf8("UTF-8", name);
    if (!to_utf8) return kFailed;
    dpxut::IconvLease from_utf8(name, "UTF-8");
    if (!from_utf8) return kFailed;
  }
  set_init_flag(1);
  return 0;
}

DPXUT_EXPORT uint32_t DPShutDownUniLibrary(void) {
  set_init_flag(0);
  if (resetCharSetToThis != nullptr) {
    std::setlocale(LC_CTYPE, resetCharSetToThis);
    replace_saved(resetCharSetToThis, nullptr);
  }
  g_ctype_switched = false;
  if (resetLocaleToThis != nullptr) {
    if (DPUseMbFunctions != 0 && resetLocaleToThis[0] != '\0') {
      setenv("LC_ALL", resetLocaleToThis, 1);
    }
    replace_saved(resetLocaleToThis, nullptr);
  }
  dpxut::iconv_cache_invalidate();
  return 0;
}
