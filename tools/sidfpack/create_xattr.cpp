// Extended attributes of the files create stores (see create_parts.h).
// Every namespace the caller may read is kept: user, trusted (root only),
// security (file capabilities among them) and the raw POSIX ACL values.
#include <sys/xattr.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "create_parts.h"

namespace sidfpack {
namespace {

ssize_t list(int fd, const char* path, char* buf, size_t size) {
  return fd >= 0 ? flistxattr(fd, buf, size) : llistxattr(path, buf, size);
}

ssize_t get(int fd, const char* path, const char* name, void* buf, size_t size) {
  return fd >= 0 ? fgetxattr(fd, name, buf, size) : lgetxattr(path, name, buf, size);
}

}  // namespace

int read_xattrs(int fd, const char* path, Xattrs& x) {
  x.items.clear();
  x.values.clear();
  if (x.names.size() < 4096) x.names.resize(4096);
  // One call for the common file without attributes; the list is asked
  // for its size only when it did not fit.
  ssize_t n;
  while ((n = list(fd, path, x.names.data(), x.names.size())) < 0) {
    if (errno == ENOTSUP || errno == ENOSYS) return 0;
    if (errno != ERANGE) return errno;
    const ssize_t need = list(fd, path, nullptr, 0);
    if (need < 0 && errno != ERANGE) return errno;
    x.names.resize(std::max<size_t>(x.names.size() * 2, static_cast<size_t>(need) + 1));
  }
  for (size_t at = 0; at < static_cast<size_t>(n); at += std::strlen(x.names.data() + at) + 1) {
    if (x.names[at] != '\0') x.items.push_back({at, 0, 0});
  }
  std::sort(x.items.begin(), x.items.end(), [&](const Xattrs::Item& a, const Xattrs::Item& b) {
    return std::strcmp(x.names.data() + a.name, x.names.data() + b.name) < 0;
  });
  size_t kept = 0;
  for (Xattrs::Item& item : x.items) {
    const char* name = x.names.data() + item.name;
    ssize_t got;
    for (;;) {
      const ssize_t need = get(fd, path, name, nullptr, 0);
      if (need < 0) {
        got = -1;
        break;
      }
      item.value = x.values.size();
      x.values.resize(item.value + static_cast<size_t>(need) + 1);
      got = get(fd, path, name, x.values.data() + item.value, static_cast<size_t>(need) + 1);
      if (got >= 0 || errno != ERANGE) break;
      x.values.resize(item.value);  // grew in between: ask again
    }
    if (got < 0) {
      if (errno == ENODATA) continue;  // removed since it was listed
      return errno;
    }
    item.size = static_cast<size_t>(got);
    x.values.resize(item.value + item.size);
    x.items[kept++] = item;
  }
  x.items.resize(kept);
  return 0;
}

}  // namespace sidfpack
