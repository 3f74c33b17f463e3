/* A host built without position independence (-fno-pie -no-pie): the
 * library's writable data that it names are copied into the executable
 * (copy relocations), and the library must read and write those copies.
 * Checks that the host's stores to DPUseMbFunctions, dp_current_codeset
 * and the imp_utf8* hooks steer the library as the header documents, and
 * that the library's own stores (DPInitICONV, dp_current_codeset, the
 * saved locale names) reach the host. Needs the test locale en_US.UTF-8
 * (LOCPATH). Prints each check that fails and exits with their number. */
#include <dpxut.h>
#include <locale.h>
#include <stdio.h>
#include <string.h>

extern char __executable_start[], _end[];

static int failed = 0;

static void check(int ok, const char *what) {
  if (!ok) {
    printf("FAILED: %s\n", what);
    ++failed;
  }
}

static int in_executable(const void *p) {
  return (const char *)p >= __executable_start && (const char *)p < _end;
}

static char marker[] = "hook";
static uint32_t width(const char *p) { return p != NULL ? 7 : 0; }
static char *next(const char *p) { return p != NULL ? marker : NULL; }
static size_t len(const char *s) { return s != NULL ? 42 : 0; }
static char *chr(const char *s, const char *ch) { return s != NULL && ch != NULL ? marker : NULL; }
static int cmp(const char *a, const char *b) { return a != NULL && b != NULL ? 5 : 0; }
static char *str(const char *h, const char *n) { return h != NULL && n != NULL ? marker : NULL; }
static char *in_place(char *s) { return s != NULL ? marker : NULL; }

/* DPloc2utf8 of loc: the result or "" on failure. */
static const char *to_utf8(const char *loc) {
  static char out[16];
  size_t size = sizeof out;
  return DPloc2utf8(out, &size, loc) == HVDPUT_SUCCESS ? out : "";
}

int main(void) {
  char s[] = "abc", codeset[128];
  check(in_executable(&DPUseMbFunctions) && in_executable(dp_current_codeset) && in_executable(&imp_utf8len) &&
            in_executable(&DPInitICONV) && in_executable(&resetCharSetToThis),
        "the exported data are copied into the executable");
  check(setlocale(LC_ALL, "en_US.UTF-8") != NULL, "the test locale en_US.UTF-8 (LOCPATH)");

  /* The library's stores reach the host's copies. */
  check(DPInitUniLibrary("ISO-8859-1") == 0, "set-up for ISO-8859-1");
  check(DPInitICONV == 1 && strcmp(dp_current_codeset, "ISO-8859-1") == 0, "the set-up's state is seen by the host");
  check(strcmp(to_utf8("\xE9"), "\xC3\xA9") == 0, "Latin-1 text converts to UTF-8");

  /* DPUseMbFunctions: mblen of the locale measures, not the code set. */
  DPUseMbFunctions = 0;
  check(HVCharType("\xC3\xA9") == 1, "without DPUseMbFunctions a Latin-1 byte is one character");
  DPUseMbFunctions = 1;
  check(HVCharType("\xC3\xA9") == 2, "with DPUseMbFunctions the UTF-8 locale's mblen measures");
  DPUseMbFunctions = 0;

  /* dp_current_codeset written by the host selects the code set. */
  strcpy(dp_current_codeset, "UTF-8");
  check(HVCharType("\xC3\xA9") == 2, "the code set the host wrote measures");
  check(strcmp(to_utf8("\xE9"), "") == 0, "a lone 0xE9 is no UTF-8 text");
  strcpy(dp_current_codeset, "ISO-8859-1");

  /* Every hook the host stores is called; null brings back the built-in. */
  imp_utf8width = width, imp_utf8next = next, imp_utf8len = len, imp_utf8chr = chr, imp_utf8rchr = chr;
  imp_utf8cmp = cmp, imp_utf8str = str, imp_utf8upr = in_place, imp_utf8rev = in_place;
  check(DPutf8Size("a") == 7 && DPutf8next("a") == marker && DPutf8len("a") == 42, "the size, next and len hooks");
  check(DPutf8chr("a", "a") == marker && DPutf8rchr("a", "a") == marker, "the chr and rchr hooks");
  check(DPutf8cmp("a", "b") == 5 && DPutf8str("a", "a") == marker, "the cmp and str hooks");
  check(DPutf8upr(s) == marker && DPutf8rev(s) == marker && strcmp(s, "abc") == 0, "the upr and rev hooks");
  imp_utf8width = NULL, imp_utf8next = NULL, imp_utf8len = NULL, imp_utf8chr = NULL, imp_utf8rchr = NULL;
  imp_utf8cmp = NULL, imp_utf8str = NULL, imp_utf8upr = NULL, imp_utf8rev = NULL;
  check(DPutf8len("abc") == 3 && DPutf8upr(s) == s && strcmp(s, "ABC") == 0, "the built-ins once the hooks are null");

  /* The saved locale names the discovery keeps for the shut-down. */
  GetServerMBCSCodeSet(codeset); /* the outcome depends on the machine; the names are saved first */
  check(resetCharSetToThis != NULL && strcmp(resetCharSetToThis, "en_US.UTF-8") == 0 && resetLocaleToThis != NULL,
        "the saved locale names are seen by the host");
  check(DPShutDownUniLibrary() == 0 && DPInitICONV == 0 && resetCharSetToThis == NULL && resetLocaleToThis == NULL,
        "the shut-down's state is seen by the host");
  return failed;
}
