// extract --incremental: removing what a later level no longer holds (see
// incremental.h). Every call is relative to a folder's descriptor and never
// follows a symbolic link: a tree is removed one folder at a time, going
// down by openat(O_NOFOLLOW) and back up by "..", which must be the folder
// it was, so neither depth nor links lead the removal anywhere else.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "../common/text.h"
#include "incremental.h"
#include "restore_meta.h"

namespace sidfpack {
namespace {

using dpxtool::format;

constexpr int kOpenDir = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The names in folder fd, "." and ".." left out.
bool names_in(int fd, std::vector<std::string>& out) {
  out.clear();
  const int own = openat(fd, ".", kOpenDir);
  DIR* d = own >= 0 ? fdopendir(own) : nullptr;
  if (d == nullptr) {
    if (own >= 0) close(own);
    return false;
  }
  errno = 0;
  while (const struct dirent* de = readdir(d))
    if (std::strcmp(de->d_name, ".") != 0 && std::strcmp(de->d_name, "..") != 0) out.emplace_back(de->d_name);
  const int err = errno;
  closedir(d);
  errno = err;
  return err == 0;
}

// Removes `leaf` of folder `at` and, for a folder, all it holds. Errno of
// the first failure, or 0.
int remove_tree(int at, const std::string& leaf) {
  if (unlinkat(at, leaf.c_str(), 0) == 0) return 0;
  if (errno != EISDIR && errno != EPERM) return errno;
  struct Level {
    std::string name;  // in the level above
    dev_t dev;
    ino_t ino;
  };
  std::vector<Level> down;  // the folders below `at` being emptied, top first
  std::vector<std::string> names;
  int fd = openat(at, leaf.c_str(), kOpenDir);
  if (fd < 0) return errno;
  down.push_back({leaf, 0, 0});
  int err = 0;
  while (err == 0) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !names_in(fd, names)) {
      err = errno;
      break;
    }
    down.back().dev = st.st_dev;
    down.back().ino = st.st_ino;
    std::string sub;  // a folder found in this one
    for (const std::string& n : names) {
      if (unlinkat(fd, n.c_str(), 0) == 0) continue;
      if (errno != EISDIR && errno != EPERM) {
        err = errno;
        break;
      }
      sub = n;
      break;
    }
    if (err != 0) break;
    if (!sub.empty()) {  // down into it
      const int next = openat(fd, sub.c_str(), kOpenDir);
      if (next < 0) {
        err = errno;
        break;
      }
      close(fd);
      fd = next;
      down.push_back({sub, 0, 0});
      continue;
    }
    // Empty: back up and remove it.
    const std::string name = down.back().name;
    down.pop_back();
    if (down.empty()) {
      close(fd);
      fd = -1;
      return unlinkat(at, name.c_str(), AT_REMOVEDIR) == 0 ? 0 : errno;
    }
    const int up = openat(fd, "..", kOpenDir);
    close(fd);
    fd = up;
    if (fd < 0 || fstat(fd, &st) != 0) {
      err = errno;
      break;
    }
    if (st.st_dev != down.back().dev || st.st_ino != down.back().ino) {
      err = ESTALE;  // moved while being removed
      break;
    }
    if (unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0) err = errno;
  }
  if (fd >= 0) close(fd);
  return err;
}

void removed(Context& c, const std::string& name, const std::string& leaf) {
  if (!c.opt.verbose) return;
  progress_clear(c);
  std::printf("removing %s\n", dpxtool::shown(name.empty() ? leaf : name + "/" + leaf).c_str());
}

}  // namespace

void incremental_clear(Context& c, int parent, const std::string& leaf, const std::string& name) {
  struct stat st {};
  if (fstatat(parent, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) return;
  if (const int err = remove_tree(parent, leaf))
    entry_problem(c, name, format("cannot remove the folder in its place: %s", std::strerror(err)));
}

void incremental_prune(Context& c, int parent, const std::string& leaf, const std::string& name,
                       const dpxut_entry* e) {
  size_t size = 0;
  const char* list = dpxut_entry_dirlist(e, &size);
  if (list == nullptr) return;  // not an incremental entry, or its list did not fit
  std::vector<std::string_view> keep;
  for (size_t at = 0; at < size; at += keep.back().size() + 1) keep.emplace_back(list + at);
  const int fd = openat(parent, leaf.c_str(), kOpenDir);
  std::vector<std::string> names;
  if (fd < 0 || !names_in(fd, names)) {
    entry_problem(c, name, format("cannot list the folder: %s", std::strerror(errno)));
    if (fd >= 0) close(fd);
    return;
  }
  for (const std::string& n : names) {
    if (std::binary_search(keep.begin(), keep.end(), std::string_view(n))) continue;
    removed(c, name, n);
    if (const int err = remove_tree(fd, n))
      entry_problem(c, name + "/" + n, format("cannot remove: %s", std::strerror(err)));
  }
  close(fd);
}

}  // namespace sidfpack
