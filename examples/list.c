/* list.c: lists a stream as `sidfpack list` does, without the mode column:
 * size, modification time (local) and UTF-8 name of each entry.
 *   list STREAM|- [READ-SIZE]   (the most bytes read from the stream at once) */
#include <dpxut.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static int64_t read_file(void *ctx, void *buf, size_t size) {
  size_t n = fread(buf, 1, size, (FILE *)ctx);
  return n > 0 ? (int64_t)n : ferror((FILE *)ctx) ? -1 : 0;
}

int main(int argc, char **argv) {
  FILE *f = argc > 1 && argv[1][0] == '-' && !argv[1][1] ? stdin : argc > 1 ? fopen(argv[1], "rb") : NULL;
  dpxut_reader *r = f ? dpxut_reader_new(read_file, f) : NULL;
  dpxut_entry *e;
  int rc, status = 0;
  if (r == NULL) return fprintf(stderr, "usage: list STREAM|- [READ-SIZE]\n"), 2;
  if (argc > 2) dpxut_reader_set_read_size(r, (size_t)strtoul(argv[2], NULL, 10));
  while ((rc = dpxut_reader_next(r, &e)) != DPXUT_EOF && rc != DPXUT_FATAL) {
    const char *name, *to;
    char when[32] = "-";
    time_t t;
    if (rc == DPXUT_FAILED) { /* a damaged record: reported, the next one follows */
      fprintf(stderr, "list: %s\n", dpxut_reader_error(r));
      status = 2;
      continue;
    }
    t = (time_t)dpxut_entry_mtime(e);
    if (localtime(&t)) strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", localtime(&t));
    name = dpxut_entry_name_utf8(e), to = dpxut_entry_symlink_utf8(e);
    printf("%12llu %s %s%s%s\n", (unsigned long long)dpxut_entry_size(e), when, name ? name : "?",
           to ? " -> " : "", to ? to : "");
  }
  if (rc == DPXUT_FATAL) fprintf(stderr, "list: %s\n", dpxut_reader_error(r)), status = 2;
  dpxut_reader_free(r);
  return fclose(f), status;
}
