// sidfpack convert: the parts of the conversion between a stream and the
// archive formats libarchive reads and writes (tar, pax, cpio, zip, ...).
//
// An entry travels as a libarchive archive_entry: an EntrySource fills it
// (the stream through a dpxut_reader, an archive through libarchive) and
// hands its content as blocks at file offsets (what lies between them
// reads as zeros); an EntrySink stores it (the stream through a
// dpxut_writer, an archive through libarchive). convert.cpp tells the
// input's kind and drives them; convert_sidf.cpp holds the stream's source
// and sink, convert_archive.cpp libarchive's, convert_acl.cpp the ACLs
// between the two forms.
#pragma once

#include <archive.h>
#include <archive_entry.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "context.h"

namespace sidfpack {

// The input: bytes read ahead to tell its kind, then the rest of the descriptor.
struct Input {
  int fd = -1;
  std::vector<uint8_t> head;
  size_t given = 0;  // bytes of head handed on

  // Up to size bytes: the count, 0 at the end, -1 on an error (errno set).
  ssize_t read(void* buf, size_t size);
};

// Content of an entry: bytes at a file offset, in ascending order.
using BlockSink = std::function<void(uint64_t offset, const uint8_t* data, size_t size)>;

class EntrySource {
 public:
  virtual ~EntrySource() = default;
  // The next entry into ae; false at the end or when the input cannot go
  // on (reported).
  virtual bool next(archive_entry* ae) = 0;
  // The current entry's content through sink (null: passed over); false
  // when it failed (reported): the bytes given may be short or wrong.
  virtual bool content(const BlockSink* sink) = 0;
};

class EntrySink {
 public:
  virtual ~EntrySink() = default;
  // Starts an entry; false when it is not stored (reported).
  virtual bool add(archive_entry* ae) = 0;
  virtual void data(uint64_t offset, const uint8_t* data, size_t size) = 0;
  // Ends the entry's content; complete: the source gave all of it.
  virtual void end_entry(bool complete) = 0;
  // Ends the output (reported when it fails).
  virtual void finish() = 0;
  // The output failed for good.
  virtual bool lost() const = 0;
};

std::unique_ptr<EntrySource> sidf_source(Context& c, Input& in);
std::unique_ptr<EntrySource> archive_source(Context& c, Input& in);
std::unique_ptr<EntrySink> sidf_sink(Context& c, int fd);
// Null after a message when the format or the output's suffix cannot be used.
std::unique_ptr<EntrySink> archive_sink(Context& c, int fd, const std::string& out);

// ACLs. The stream keeps POSIX ACLs as the Linux attributes
// system.posix_acl_access and system.posix_acl_default hold them; libarchive
// keeps them as ACL entries (pax: SCHILY.acl.*).
extern const char kAclAccess[];   // "system.posix_acl_access"
extern const char kAclDefault[];  // "system.posix_acl_default"
// Adds the ACL an attribute value holds to ae (type: ARCHIVE_ENTRY_ACL_TYPE_ACCESS
// or _DEFAULT); false when the value is no ACL of this system.
bool acl_from_xattr(archive_entry* ae, int type, const void* value, size_t size);
// ae's ACL of the type as an attribute value (empty when ae has none); false
// with `why` when an entry cannot be expressed (a name without a number that
// this system does not know).
bool acl_to_xattr(archive_entry* ae, int type, std::string& value, std::string& why);
// The mask of an access ACL value, or -1 when it has none: the group bits
// of a file's mode are its ACL's mask.
int acl_mask(const std::string& value);

}  // namespace sidfpack
