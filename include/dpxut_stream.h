/* dpxut_stream.h -- reading and writing whole streams, entry by entry.
 *
 * Included by dpxut.h. A reader turns any byte stream that follows the
 * record layout into entries (names, type, mode, owners, sizes, exact
 * times, link targets) and their content; a writer turns entries and their
 * content into the stream layout sidfpack writes. The layout is described
 * in FORMAT.md.
 *
 *   dpxut_reader *r = dpxut_reader_open_path("backup.sidf");
 *   dpxut_entry *e;
 *   int rc;
 *   while ((rc = dpxut_reader_next(r, &e)) != DPXUT_EOF) {
 *     if (rc == DPXUT_FATAL) break;
 *     if (rc == DPXUT_FAILED) { report(dpxut_reader_error(r)); continue; }
 *     printf("%s %llu\n", dpxut_entry_name_utf8(e),
 *            (unsigned long long)dpxut_entry_size(e));
 *   }
 *   dpxut_reader_free(r);
 *
 * Handles are opaque: everything is reached through functions, so later
 * versions can add to them without breaking hosts. A handle is used by one
 * thread at a time; distinct handles may be used concurrently.
 */
#ifndef DPXUT_STREAM_H
#define DPXUT_STREAM_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * Version
 * ------------------------------------------------------------------------ */
#define DPXUT_VERSION_MAJOR 0
#define DPXUT_VERSION_MINOR 2
#define DPXUT_VERSION_PATCH 0
#define DPXUT_VERSION_STRING "0.2.0"
#define DPXUT_VERSION_NUMBER \
  (DPXUT_VERSION_MAJOR * 10000 + DPXUT_VERSION_MINOR * 100 + DPXUT_VERSION_PATCH)

/* The version of the library actually loaded, as "MAJOR.MINOR.PATCH" and
 * as DPXUT_VERSION_NUMBER would give it. */
const char *dpxut_version(void);
int dpxut_version_number(void);

/* ------------------------------------------------------------------------
 * Results
 *
 * The streaming functions return one of these (functions that return a
 * byte count return a count >= 0 or one of the negative values).
 * ------------------------------------------------------------------------ */
#define DPXUT_OK 0
#define DPXUT_EOF 1      /* no more entries */
#define DPXUT_WARN (-1)  /* done, but with a warning: see the handle's error */
#define DPXUT_FAILED (-2) /* this entry or record failed; the stream goes on */
#define DPXUT_FATAL (-3) /* the handle cannot go on; only _free is useful */

/* Causes of the reader's and writer's own failures, kept with the handle
 * beside the completion codes (HVDPUT_*) of the functions they call. */
#define DPXUT_E_IO         0xFFFA0001u /* the read or write callback failed */
#define DPXUT_E_TRUNCATED  0xFFFA0002u /* the stream ends inside a section */
#define DPXUT_E_CHECK      0xFFFA0003u /* a section's check value is wrong */
#define DPXUT_E_DATA_CHECK 0xFFFA0004u /* the content's check value is wrong */
#define DPXUT_E_DAMAGED    0xFFFA0005u /* a section or field is malformed */
#define DPXUT_E_FORMAT     0xFFFA0006u /* not a stream, or an unknown form */
#define DPXUT_E_STATE      0xFFFA0007u /* a call out of order */
#define DPXUT_E_SIZE       0xFFFA0008u /* content longer or shorter than said */
#define DPXUT_E_PART       0xFFFA0009u /* the parts of a split file disagree */
#define DPXUT_E_NAME       0xFFFA000Au /* a name cannot be stored or converted */

/* A fixed English text for a completion code (HVDPUT_*) or a DPXUT_E_*
 * cause; "unknown error 0x..." style text for other values (kept in
 * thread-local storage, valid until the thread's next call). Never null. */
const char *dpxut_strerror(uint32_t code);

/* ------------------------------------------------------------------------
 * Entries
 *
 * An entry is one file of the stream: names, attributes and, for regular
 * files, content. Entries the reader returns belong to the reader and stay
 * valid until its next dpxut_reader_next or dpxut_reader_free. Entries for
 * the writer are made with dpxut_entry_new and freed by the host.
 * ------------------------------------------------------------------------ */
typedef struct dpxut_entry dpxut_entry;

/* File types, as in the S_IFMT bits of a Linux st_mode. */
#define DPXUT_IFMT   0170000u
#define DPXUT_IFREG  0100000u
#define DPXUT_IFDIR  0040000u
#define DPXUT_IFLNK  0120000u
#define DPXUT_IFIFO  0010000u
#define DPXUT_IFCHR  0020000u
#define DPXUT_IFBLK  0060000u
#define DPXUT_IFSOCK 0140000u

/* Null on allocation failure. */
dpxut_entry *dpxut_entry_new(void);
/* Back to the state of a new entry (keeps the allocations). */
void dpxut_entry_clear(dpxut_entry *e);
void dpxut_entry_free(dpxut_entry *e);

/* The name with '/' between components: in locale bytes (the stream's own
 * when its code set is the host's, else converted from the UTF-8 or wide
 * form), in UTF-8, and in wide characters. Null when the record holds no
 * form that converts. */
const char *dpxut_entry_name(const dpxut_entry *e);
const char *dpxut_entry_name_utf8(const dpxut_entry *e);
const wchar_t *dpxut_entry_name_wide(const dpxut_entry *e);

uint32_t dpxut_entry_mode(const dpxut_entry *e);     /* type and permission bits */
uint32_t dpxut_entry_filetype(const dpxut_entry *e); /* mode & DPXUT_IFMT */
uint32_t dpxut_entry_uid(const dpxut_entry *e);
uint32_t dpxut_entry_gid(const dpxut_entry *e);
const char *dpxut_entry_uname(const dpxut_entry *e); /* "" when not stored */
const char *dpxut_entry_gname(const dpxut_entry *e); /* "" when not stored */
uint32_t dpxut_entry_nlink(const dpxut_entry *e);
uint64_t dpxut_entry_size(const dpxut_entry *e);     /* the whole file */

/* Times in seconds since 1970 (UTC) and nanoseconds. The modification and
 * access times are exact when the stream stores them (times_exact 1);
 * otherwise, and always for the change time, they come from 2-second DOS
 * dates in the writer's local time (0 when none was stored). */
int64_t dpxut_entry_mtime(const dpxut_entry *e);
uint32_t dpxut_entry_mtime_nsec(const dpxut_entry *e);
int64_t dpxut_entry_atime(const dpxut_entry *e);
uint32_t dpxut_entry_atime_nsec(const dpxut_entry *e);
int64_t dpxut_entry_ctime(const dpxut_entry *e);
uint32_t dpxut_entry_ctime_nsec(const dpxut_entry *e);
int dpxut_entry_times_exact(const dpxut_entry *e);

/* The target of a symbolic link, in locale bytes and in UTF-8; null for
 * other entries. */
const char *dpxut_entry_symlink(const dpxut_entry *e);
const char *dpxut_entry_symlink_utf8(const dpxut_entry *e);
/* The name of an earlier entry this one is a hard link to; null if none. */
const char *dpxut_entry_hardlink(const dpxut_entry *e);

/* The device number of a character or block device (0 for others), as
 * the Linux st_rdev (the writer stores it for devices only). */
uint64_t dpxut_entry_rdev(const dpxut_entry *e);

/* Extended attributes, POSIX ACLs included (as the Linux attributes
 * "system.posix_acl_access" and "system.posix_acl_default" hold them),
 * in stored order: index from 0. Returns DPXUT_OK and sets the outputs
 * (valid as the entry), or DPXUT_EOF past the last. */
size_t dpxut_entry_xattr_count(const dpxut_entry *e);
int dpxut_entry_xattr(const dpxut_entry *e, size_t index, const char **name,
                      const void **value, size_t *size);

/* The data regions of a sparse file, in ascending offset order; the rest
 * of its size reads as zeros (holes). A file without a map is dense. The
 * content of a sparse file, as read and written, is its regions' bytes one
 * after the other (dpxut_entry_sparse_data bytes in all). */
size_t dpxut_entry_sparse_count(const dpxut_entry *e);
int dpxut_entry_sparse(const dpxut_entry *e, size_t index, uint64_t *offset,
                       uint64_t *length);
uint64_t dpxut_entry_sparse_data(const dpxut_entry *e);

/* A directory's list of names (what it held when stored, for restoring
 * incremental backups): each name followed by a NUL, in ascending byte
 * order; *size is the whole length. Null (and *size 0) when the entry
 * carries none; an empty directory has a list of size 0 that is not null.
 * The reader refuses a stored list that is not so as damage. */
const char *dpxut_entry_dirlist(const dpxut_entry *e, size_t *size);

/* 1 when the writer marked the file as having changed while it was read
 * (its size, modification or change time differed before and after, or
 * the content fell short): the stored content may be torn. Known once the
 * entry's content has been read or skipped. */
int dpxut_entry_changed(const dpxut_entry *e);

/* Where the reader found the entry: the number of its first record (1 for
 * the first record of the stream) and the stream offset of its header. */
uint64_t dpxut_entry_record(const dpxut_entry *e);
uint64_t dpxut_entry_offset(const dpxut_entry *e);

/* The raw extension entries of the entry's (first) record, in stream
 * order: index from 0. Returns DPXUT_OK and sets the three outputs (data
 * points into the entry, valid as the entry), or DPXUT_EOF past the last. */
int dpxut_entry_extension(const dpxut_entry *e, size_t index, uint32_t *type,
                          const void **data, uint32_t *length);

/* Setters, for entries given to a writer. Texts are copied. Names and link
 * targets are locale bytes; the writer adds the UTF-8 and wide forms.
 * Return DPXUT_OK, or DPXUT_FATAL on a null argument or allocation failure. */
int dpxut_entry_set_name(dpxut_entry *e, const char *name);
int dpxut_entry_set_mode(dpxut_entry *e, uint32_t mode);
int dpxut_entry_set_uid(dpxut_entry *e, uint32_t uid);
int dpxut_entry_set_gid(dpxut_entry *e, uint32_t gid);
int dpxut_entry_set_uname(dpxut_entry *e, const char *uname);
int dpxut_entry_set_gname(dpxut_entry *e, const char *gname);
int dpxut_entry_set_nlink(dpxut_entry *e, uint32_t nlink);
int dpxut_entry_set_size(dpxut_entry *e, uint64_t size);
int dpxut_entry_set_mtime(dpxut_entry *e, int64_t sec, uint32_t nsec);
int dpxut_entry_set_atime(dpxut_entry *e, int64_t sec, uint32_t nsec);
int dpxut_entry_set_ctime(dpxut_entry *e, int64_t sec, uint32_t nsec);
int dpxut_entry_set_symlink(dpxut_entry *e, const char *target);
int dpxut_entry_set_hardlink(dpxut_entry *e, const char *target);
int dpxut_entry_set_rdev(dpxut_entry *e, uint64_t rdev);
/* Adds one extended attribute (name copied with its terminator, value of
 * size bytes copied). DPXUT_FAILED for an empty name, a name already
 * added or a name longer than 65535 bytes. */
int dpxut_entry_add_xattr(dpxut_entry *e, const char *name, const void *value,
                          size_t size);
/* Adds a data region of a sparse file; regions must come in ascending
 * order without overlap and end within the size, which is set first
 * (DPXUT_FAILED otherwise). A region may be empty: a file that is all hole
 * has one of length 0 at its end. Clear them all with dpxut_entry_clear or
 * dpxut_entry_clear_sparse. */
int dpxut_entry_add_sparse(dpxut_entry *e, uint64_t offset, uint64_t length);
int dpxut_entry_clear_sparse(dpxut_entry *e);
/* Sets a directory's list of names: size bytes of names, each followed by
 * a NUL, in ascending byte order (copied). DPXUT_FAILED for a list that is
 * not so (an empty name, a '/', an unterminated or misordered name). The
 * writer stores it with directories only; when it does not fit the record
 * it is left out and dpxut_writer_add returns DPXUT_WARN (DPXUT_E_SIZE). */
int dpxut_entry_set_dirlist(dpxut_entry *e, const char *names, size_t size);

/* ------------------------------------------------------------------------
 * Reader
 * ------------------------------------------------------------------------ */
typedef struct dpxut_reader dpxut_reader;

/* Reads up to size bytes into buf: returns the count (any count from 1 to
 * size will do), 0 at the end of the stream, or -1 on an error (with errno
 * set). */
typedef int64_t (*dpxut_read_fn)(void *ctx, void *buf, size_t size);

/* Null on allocation failure (or, for a path, when it cannot be opened:
 * errno tells). A path of "-" is standard input. A reader opened on a
 * descriptor leaves it open; one opened on a path closes it. */
dpxut_reader *dpxut_reader_new(dpxut_read_fn read, void *ctx);
dpxut_reader *dpxut_reader_open_fd(int fd);
dpxut_reader *dpxut_reader_open_path(const char *path);
void dpxut_reader_free(dpxut_reader *r);

/* The most bytes asked of the read callback at once (default 64 KiB);
 * before the first dpxut_reader_next. */
int dpxut_reader_set_read_size(dpxut_reader *r, size_t size);

/* Whether content the host passes over (by calling dpxut_reader_next or
 * dpxut_reader_skip_data before reading it all) is read and verified
 * (verify 1, the default) or skipped unread (0): a reader opened on a
 * seekable descriptor or path then seeks over it, as a listing does that
 * needs no content. Headers and check sections are verified either way;
 * content read with dpxut_reader_read_data is always verified. */
int dpxut_reader_set_verify_skipped(dpxut_reader *r, int verify);

/* The next entry. DPXUT_OK: *entry is set. DPXUT_EOF: the stream ended
 * where it may end. DPXUT_FAILED: a damaged record or section (or a
 * stream cut short); dpxut_reader_error says what and where; the next call
 * goes on at the next record that verifies. DPXUT_FATAL: the read callback
 * failed or memory ran out. Content not read of the previous entry is
 * skipped (and verified). */
int dpxut_reader_next(dpxut_reader *r, dpxut_entry **entry);

/* The current entry's content: returns the bytes put in buf (1..size), 0
 * at its end once its check values verified, or DPXUT_FAILED (damaged
 * content or check value: the bytes already given may be wrong) or
 * DPXUT_FATAL. Files stored in several records read as one. */
int64_t dpxut_reader_read_data(dpxut_reader *r, void *buf, size_t size);
/* Passes over the rest of the content, verifying it: DPXUT_OK, or as
 * dpxut_reader_read_data. */
int dpxut_reader_skip_data(dpxut_reader *r);

/* The last failure or warning: its cause (a DPXUT_E_* value or HVDPUT_*
 * code; 0 if none) and a text naming the record, its stream offset and the
 * entry when known. The text is valid until the next call on r. */
uint32_t dpxut_reader_errcode(const dpxut_reader *r);
const char *dpxut_reader_error(const dpxut_reader *r);

/* Stream bytes consumed so far; the code set named by the stream's session
 * header ("" when none); the number of records read. */
uint64_t dpxut_reader_offset(const dpxut_reader *r);
const char *dpxut_reader_codeset(const dpxut_reader *r);
uint64_t dpxut_reader_records(const dpxut_reader *r);

/* Compressed streams. A stream that begins with zstd's magic number
 * (28 B5 2F FD) is read as the stream its frames hold, from any callback,
 * pipes included; offsets and error texts count the bytes of that stream.
 * libzstd.so.1 is loaded when the first such stream is met; without it
 * dpxut_reader_next fails (DPXUT_E_FORMAT) and then reports the end. A
 * compressed stream cut short or damaged reads up to that point, then
 * fails with DPXUT_E_TRUNCATED (the text says why), then reports the end.
 * dpxut_reader_compressed: 1 when the stream is compressed (known after the
 * first dpxut_reader_next), else 0. */
int dpxut_reader_compressed(const dpxut_reader *r);

/* ------------------------------------------------------------------------
 * Writer
 * ------------------------------------------------------------------------ */
typedef struct dpxut_writer dpxut_writer;

/* Writes size bytes from buf: returns the count written (1..size; the rest
 * is offered again) or -1 on an error (with errno set). */
typedef int64_t (*dpxut_write_fn)(void *ctx, const void *buf, size_t size);

/* Null on allocation failure (or, for a path, when it cannot be created:
 * errno tells). A path of "-" is standard output. A writer opened on a
 * descriptor leaves it open; one opened on a path closes it. A writer freed
 * before dpxut_writer_finish leaves an incomplete stream. */
dpxut_writer *dpxut_writer_new(dpxut_write_fn write, void *ctx);
dpxut_writer *dpxut_writer_open_fd(int fd);
dpxut_writer *dpxut_writer_open_path(const char *path);
void dpxut_writer_free(dpxut_writer *w);

/* Settings, before the first dpxut_writer_add (DPXUT_FAILED after it, or
 * for a value out of range). Block size: the stream's length and every
 * record's start are multiples of it (1..1 MiB, default 512). Part size:
 * the most content bytes one record holds (1 .. 0xF0000000, default the
 * most); larger files are split. Time: the seconds since 1970 stamped in
 * the media and session headers (default: the time of the first add).
 * Host: the machine named in the session header (default gethostname). */
int dpxut_writer_set_block_size(dpxut_writer *w, uint32_t size);
int dpxut_writer_set_part_size(dpxut_writer *w, uint64_t size);
int dpxut_writer_set_time(dpxut_writer *w, int64_t seconds);
int dpxut_writer_set_host(dpxut_writer *w, const char *host);
/* Compression: level 0 (the default) writes the stream as it is; 1..19
 * hands it to the write callback compressed with zstd at that level, as
 * one frame with a checksum, so `zstd -d` gives the stream back. threads:
 * 0 for one compression worker a processor, 1 to compress in the calling
 * thread, N for N workers (at most 256). libzstd.so.1 is loaded by this
 * call: DPXUT_FAILED (DPXUT_E_FORMAT) when it cannot be. Errors and
 * dpxut_writer_offset count the bytes of the uncompressed stream. */
int dpxut_writer_set_compression(dpxut_writer *w, int level, int threads);

/* Starts an entry. Regular files are followed by exactly
 * dpxut_entry_size bytes of content through dpxut_writer_write_data, or,
 * for a sparse file, dpxut_entry_sparse_data bytes (its regions' bytes).
 * DPXUT_OK; DPXUT_WARN (stored, e.g. with its name in locale form only,
 * or without extended attributes too large for the record: DPXUT_E_SIZE);
 * DPXUT_FAILED (this entry not stored: no name, a name that cannot be
 * stored; the stream goes on); DPXUT_FATAL (write failure: the stream is
 * lost). An entry whose content fell short is finished first (see
 * dpxut_writer_finish_entry). */
int dpxut_writer_add(dpxut_writer *w, const dpxut_entry *e);

/* Content of the current entry: returns size, or DPXUT_FAILED (more than
 * the entry's content left, or no regular file current) or DPXUT_FATAL. */
int64_t dpxut_writer_write_data(dpxut_writer *w, const void *buf, size_t size);

/* Marks the current entry as having changed while it was read (see
 * dpxut_entry_changed): at any time until the next _add, _finish_entry or
 * _finish, also after its last content byte. DPXUT_OK, or DPXUT_FAILED
 * when no regular file with content is current. */
int dpxut_writer_mark_changed(dpxut_writer *w);

/* Ends the current entry's content: DPXUT_OK when all of it was written;
 * DPXUT_WARN when it fell short: the rest is stored as zeros and the entry
 * marked as changed; the error says how many bytes. Called by _add and
 * _finish when the host does not. */
int dpxut_writer_finish_entry(dpxut_writer *w);

/* Ends the stream: the last entry, the trailer, the padding, and every byte
 * handed to the write callback. DPXUT_OK, DPXUT_WARN or DPXUT_FATAL. */
int dpxut_writer_finish(dpxut_writer *w);

/* As for the reader. */
uint32_t dpxut_writer_errcode(const dpxut_writer *w);
const char *dpxut_writer_error(const dpxut_writer *w);
/* Stream bytes handed to the write callback or waiting in the buffer. */
uint64_t dpxut_writer_offset(const dpxut_writer *w);
uint64_t dpxut_writer_records(const dpxut_writer *w);

#ifdef __cplusplus
}
#endif

#endif /* DPXUT_STREAM_H */
