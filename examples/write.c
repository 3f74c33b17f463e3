/* write.c: writes a stream holding the regular files named on the command
 * line, each under its name as given, with its mode, owner and times.
 *   write STREAM|- FILE... */
#define _POSIX_C_SOURCE 200809L
#include <dpxut.h>
#include <stdio.h>
#include <sys/stat.h>

/* Stores one file: its description, then its content. */
static int add_file(dpxut_writer *w, dpxut_entry *e, const char *path) {
  char buf[65536];
  size_t n;
  struct stat st;
  int rc;
  FILE *f = fopen(path, "rb");
  if (f == NULL || fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
    fprintf(stderr, "write: %s: not a readable regular file\n", path);
    if (f != NULL) fclose(f);
    return DPXUT_FAILED;
  }
  dpxut_entry_clear(e);
  dpxut_entry_set_name(e, path);
  dpxut_entry_set_mode(e, (uint32_t)st.st_mode);
  dpxut_entry_set_uid(e, (uint32_t)st.st_uid);
  dpxut_entry_set_gid(e, (uint32_t)st.st_gid);
  dpxut_entry_set_size(e, (uint64_t)st.st_size);
  dpxut_entry_set_mtime(e, (int64_t)st.st_mtim.tv_sec, (uint32_t)st.st_mtim.tv_nsec);
  dpxut_entry_set_atime(e, (int64_t)st.st_atim.tv_sec, (uint32_t)st.st_atim.tv_nsec);
  rc = dpxut_writer_add(w, e);
  while (rc >= DPXUT_WARN && (n = fread(buf, 1, sizeof buf, f)) > 0)
    if (dpxut_writer_write_data(w, buf, n) < 0) rc = DPXUT_FATAL;
  /* A file that changed size meanwhile is stored with zeros for the rest. */
  if (rc >= DPXUT_WARN && dpxut_writer_finish_entry(w) != DPXUT_OK) rc = DPXUT_WARN;
  if (rc < DPXUT_OK) fprintf(stderr, "write: %s: %s\n", path, dpxut_writer_error(w));
  fclose(f);
  return rc;
}

int main(int argc, char **argv) {
  dpxut_writer *w = argc > 2 ? dpxut_writer_open_path(argv[1]) : NULL;
  dpxut_entry *e = dpxut_entry_new();
  int i, rc = DPXUT_OK, status = 0;
  if (w == NULL || e == NULL) {
    fprintf(stderr, "usage: write STREAM|- FILE...\n");
    return 2;
  }
  for (i = 2; i < argc && rc != DPXUT_FATAL; ++i)
    if ((rc = add_file(w, e, argv[i])) != DPXUT_OK) status = 1;
  if (rc != DPXUT_FATAL && (rc = dpxut_writer_finish(w)) != DPXUT_OK)
    fprintf(stderr, "write: %s: %s\n", argv[1], dpxut_writer_error(w));
  if (rc == DPXUT_FATAL) status = 2;
  dpxut_entry_free(e);
  dpxut_writer_free(w);
  return status;
}
