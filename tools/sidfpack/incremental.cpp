// The snapshot file and the change test of create -g (see incremental.h).
#include "incremental.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

#include "../common/text.h"
#include "walk.h"

namespace sidfpack {
namespace {

using dpxtool::shown;

constexpr char kHeader[] = "sidfpack-snapshot 1";

char type_of(mode_t mode) {
  switch (mode & S_IFMT) {
    case S_IFDIR: return 'd';
    case S_IFLNK: return 'l';
    case S_IFIFO: return 'p';
    case S_IFCHR: return 'c';
    case S_IFBLK: return 'b';
    case S_IFSOCK: return 's';
    default: return 'f';
  }
}

void escape(const std::string& name, std::string& out) {
  for (const unsigned char ch : name) {
    if (ch == '\\' || ch < 0x20 || ch == 0x7f) {
      char b[5];
      std::snprintf(b, sizeof b, "\\%03o", ch);
      out += b;
    } else {
      out += static_cast<char>(ch);
    }
  }
}

bool unescape(const char* p, const char* end, std::string& out) {
  out.clear();
  while (p < end) {
    const unsigned char ch = static_cast<unsigned char>(*p++);
    if (ch < 0x20 || ch == 0x7f) return false;
    if (ch != '\\') {
      out += static_cast<char>(ch);
      continue;
    }
    if (end - p < 3) return false;
    unsigned v = 0;
    for (int i = 0; i < 3; ++i, ++p) {
      if (*p < '0' || *p > '7') return false;
      v = v * 8 + static_cast<unsigned>(*p - '0');
    }
    if (v == 0 || v > 0xff) return false;
    out += static_cast<char>(v);
  }
  return !out.empty();
}

// One decimal number within T's range (digits only, a '-' first where
// signed) and the space after it.
template <class T>
bool number(const char*& p, T& v) {
  const bool minus = std::is_signed_v<T> && *p == '-';
  if (p[minus] < '0' || p[minus] > '9') return false;
  char* end = nullptr;
  errno = 0;
  if constexpr (std::is_signed_v<T>) {
    const long long x = std::strtoll(p, &end, 10);
    if (x < std::numeric_limits<T>::min() || x > std::numeric_limits<T>::max()) return false;
    v = static_cast<T>(x);
  } else {
    const unsigned long long x = std::strtoull(p, &end, 10);
    if (x > std::numeric_limits<T>::max()) return false;
    v = static_cast<T>(x);
  }
  if (errno != 0 || *end != ' ') return false;
  p = end + 1;
  return true;
}

}  // namespace

Incremental::~Incremental() {
  if (dir_ >= 0) close(dir_);
}

Incremental::State Incremental::state_of(const struct stat& st) {
  State s;
  s.type = type_of(st.st_mode);
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = S_ISREG(st.st_mode) || S_ISLNK(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
  s.mtime = st.st_mtim.tv_sec;
  s.mtime_ns = static_cast<uint32_t>(st.st_mtim.tv_nsec);
  s.ctime = st.st_ctim.tv_sec;
  s.ctime_ns = static_cast<uint32_t>(st.st_ctim.tv_nsec);
  return s;
}

bool Incremental::load(Context& c, const std::string& path) {
  path_ = path;
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  base_ = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base_.empty()) {
    message(c, "%s: not a snapshot file name", shown(path).c_str());
    return false;
  }
  dir_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_ < 0) {
    message(c, "%s: %s", shown(folder).c_str(), std::strerror(errno));
    return false;
  }
  const int fd = openat(dir_, base_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) return true;  // level 0
  FILE* f = fd >= 0 ? fdopen(fd, "r") : nullptr;
  if (f == nullptr) {
    message(c, "%s: %s", shown(path).c_str(), std::strerror(errno));
    if (fd >= 0) close(fd);
    return false;
  }
  char* line = nullptr;
  size_t cap = 0;
  ssize_t n;
  uint64_t number_of = 0;
  const char* why = nullptr;
  std::string name;
  states_.reserve(16384);
  while (why == nullptr && (n = getline(&line, &cap, f)) > 0) {
    ++number_of;
    if (line[n - 1] != '\n') {
      why = "line not ended";
      break;
    }
    line[--n] = '\0';
    if (number_of == 1) {
      if (static_cast<size_t>(n) != sizeof kHeader - 1 || std::strcmp(line, kHeader) != 0)
        why = "not a sidfpack snapshot file (or of another version)";
      continue;
    }
    State s;
    const char* p = line + 2;
    s.type = line[0];
    if (n < 2 || std::strchr("fdlpcbs", s.type) == nullptr || s.type == '\0' || line[1] != ' ' ||
        !number(p, s.dev) || !number(p, s.ino) || !number(p, s.size) || !number(p, s.mtime) ||
        !number(p, s.mtime_ns) || !number(p, s.ctime) || !number(p, s.ctime_ns) || s.mtime_ns > 999999999 ||
        s.ctime_ns > 999999999 ||
        !unescape(p, line + n, name) || !states_.emplace(name, Slot{s, false}).second)
      why = "damaged line";
  }
  if (why == nullptr && std::ferror(f) != 0) why = "read error";
  if (why == nullptr && number_of == 0) why = "empty file";
  std::free(line);
  std::fclose(f);
  if (why != nullptr) {
    message(c, "%s: line %" PRIu64 ": %s; refusing the snapshot file (nothing written)", shown(path).c_str(),
            number_of, why);
    return false;
  }
  return true;
}

bool Incremental::wanted(const std::string& member, const struct stat& st) {
  // A file of several names is stored under all of them at every level:
  // a new or moved name alone would be restored as a file of its own.
  if (S_ISREG(st.st_mode) && st.st_nlink > 1) return true;
  const auto it = states_.find(member);
  if (it == states_.end() || !(it->second.state == state_of(st))) return true;
  it->second.seen = true;
  return false;
}

bool Incremental::set_dirlist(Context& c, const std::vector<DirChild>* children, const std::string& member,
                              const std::string& path, dpxut_entry* e) {
  if (children == nullptr) return false;
  list_.clear();
  std::string full;
  for (const DirChild& child : *children) {
    if (!exclusion_.empty()) {
      full = member.empty() ? child.name : member + "/" + child.name;
      if (exclusion_.excludes(full)) continue;
    }
    list_.append(child.name.c_str(), child.name.size() + 1);
  }
  if (dpxut_entry_set_dirlist(e, list_.data(), list_.size()) != DPXUT_OK) {
    message(c, "%s: cannot keep its list of names", shown(path).c_str());
    c.fail(1);
    return false;
  }
  return true;
}

bool Incremental::save(Context& c) {
  std::string text = kHeader;
  text += '\n';
  std::vector<const std::pair<const std::string, Slot>*> order;
  order.reserve(states_.size());
  for (const auto& kv : states_)
    if (kv.second.seen) order.push_back(&kv);
  std::sort(order.begin(), order.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
  text.reserve(order.size() * 96);
  char b[200];
  for (const auto* kv : order) {
    const State& s = kv->second.state;
    char* p = b;
    *p++ = s.type;
    const auto put = [&](auto v) {
      *p++ = ' ';
      p = std::to_chars(p, b + sizeof b, v).ptr;
    };
    put(s.dev), put(s.ino), put(s.size), put(s.mtime), put(s.mtime_ns), put(s.ctime), put(s.ctime_ns);
    *p++ = ' ';
    text.append(b, p);
    escape(kv->first, text);
    text += '\n';
  }
  const std::string temp = dpxtool::format(".%s.%ld.tmp", base_.c_str(), static_cast<long>(getpid()));
  const int fd = openat(dir_, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  int err = fd < 0 ? errno : 0;
  for (size_t at = 0; err == 0 && at < text.size();) {
    const ssize_t w = write(fd, text.data() + at, text.size() - at);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) err = w == 0 ? ENOSPC : errno;
    else at += static_cast<size_t>(w);
  }
  if (err == 0 && fsync(fd) != 0) err = errno;
  if (fd >= 0 && close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && renameat(dir_, temp.c_str(), dir_, base_.c_str()) != 0) err = errno;
  if (err != 0) {
    message(c, "%s: cannot write the snapshot file: %s", shown(path_).c_str(), std::strerror(err));
    if (fd >= 0) unlinkat(dir_, temp.c_str(), 0);
    c.fail(2);
    return false;
  }
  fsync(dir_);
  return true;
}

}  // namespace sidfpack
