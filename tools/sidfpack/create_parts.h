// What create hands the writer beside the walk (create.cpp): the content of
// regular files, dense or by data regions, checked for changes while it is
// read (create_content.cpp), and extended attributes (create_xattr.cpp).
#pragma once

#include <dpxut.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "context.h"

namespace sidfpack {

// The writer failed for good (the stream is lost); already reported.
struct StreamLost {};

// Reports the writer's error against the stream and throws StreamLost.
[[noreturn]] void stream_lost(Context& c, const char* why);

struct Region {
  uint64_t offset, length;
};

// The data regions of a file with holes, found with SEEK_DATA/SEEK_HOLE.
// False (and no map) for a file that is one region or whose file system
// cannot tell: it is stored dense. A file all hole gets one region of
// length 0 at its end.
bool find_regions(int fd, uint64_t size, std::vector<Region>& map);

// Hands the writer the content of the entry just added: `before.st_size`
// bytes read from fd, or the bytes of `map`'s regions. A file that shrank
// is padded with zeros by the writer; one whose size, modification or
// change time differ from `before` after reading is marked as changed.
// Both are reported against `path` (exit status 1).
void write_content(Context& c, dpxut_writer* w, std::vector<uint8_t>& buf, int fd, const std::string& path,
                   const struct stat& before, const std::vector<Region>& map);

// A file's extended attributes (ACLs as their system.posix_acl_* values),
// in name order.
struct Xattrs {
  struct Item {
    size_t name, value, size;  // offsets of the name in `names`, of the value in `values`
  };
  std::vector<char> names;
  std::vector<char> values;
  std::vector<Item> items;
};

// Reads them from fd, or, when fd < 0, from path without following a last
// symbolic link. 0, or the errno of the failure; a file system without
// extended attributes has none.
int read_xattrs(int fd, const char* path, Xattrs& x);

}  // namespace sidfpack
