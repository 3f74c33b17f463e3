/* A host whose own globals share names with the library's exports. Built
 * twice: alone, and with interpose_defs.c, which defines tab, strupr,
 * strrev, CountPositions and the built-ins that the library calls
 * itself with wrong contents and behaviour. Both builds must see the same
 * results: the library binds its calls to its own functions and its reads
 * of its own tables to its own definitions. Prints each check that fails
 * and exits with their number. Library functions that the host shadows are
 * reached through dlsym(RTLD_NEXT). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <dpxut.h>
#include <stdio.h>
#include <string.h>

static int failed = 0;

static void check(int ok, const char *what) {
  if (!ok) {
    printf("FAILED: %s\n", what);
    ++failed;
  }
}

typedef void (*CountPositionsFn)(const void *, const void *, const void *, uint32_t, uint32_t, uint16_t *);

int main(void) {
  uint16_t u = 0, n = 0;
  char utf[8] = {0}, s[8];
  CountPositionsFn count = (CountPositionsFn)dlsym(RTLD_NEXT, "CountPositions");

  check(dp_utf2uni(&u, "\xC3\xA9") == 2 && u == 0xE9, "dp_utf2uni decodes U+00E9 through the coder table");
  check(dp_uni2utf(utf, 0x20AC) == 3 && memcmp(utf, "\xE2\x82\xAC", 3) == 0, "dp_uni2utf encodes U+20AC");
  check(DPutf8len("h\xC3\xA9llo") == 5, "DPutf8len counts with the built-in xutf8len");
  strcpy(s, "abc");
  check(DPutf8upr(s) == s && strcmp(s, "ABC") == 0, "DPutf8upr upper-cases with the built-in xutf8upr");
  strcpy(s, "abc");
  check(DPstrupr(0, s) == s && strcmp(s, "ABC") == 0, "DPstrupr upper-cases locale bytes");
  check(DPstrrev(0, s) == s && strcmp(s, "CBA") == 0, "DPstrrev reverses locale bytes");
  check(count != NULL, "the library's CountPositions is found");
  if (count != NULL) count(":", "/", "VOL:dir/sub/file", 2, 0, &n);
  check(n == 4, "CountPositions counts VOL:dir/sub/file as 4 components");
  return failed;
}
