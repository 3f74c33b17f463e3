/* Globals of a host that happen to carry the names of library exports, with
 * contents and behaviour of their own (ported code often brings its own
 * strupr or a table called tab). Deliberately without dpxut.h: the types
 * differ from the library's. */
#include <stddef.h>
#include <stdint.h>

int tab[64];

char *strupr(char *s) { return s; }
char *strrev(char *dst, char *src) { return dst != NULL ? dst : src; }

void CountPositions(const void *f, const void *s, const void *name, uint32_t ns, uint32_t unused, uint16_t *count) {
  (void)f, (void)s, (void)name, (void)ns, (void)unused;
  if (count != NULL) *count = 99;
}
void GenericCountPositions(uint32_t ns, const void *f, const void *s, const void *name, uint16_t *count) {
  (void)ns, (void)f, (void)s, (void)name;
  if (count != NULL) *count = 99;
}
size_t xutf8len(const char *s) { return s != NULL ? 999 : 0; }
char *xutf8upr(char *s) { return s; }
