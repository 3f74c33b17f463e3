// The content of regular files for create (see create_parts.h): holes found
// with SEEK_DATA/SEEK_HOLE, content read in large chunks, and the check
// that the file did not change while it was read.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "../common/text.h"
#include "create_parts.h"

namespace sidfpack {
namespace {

using dpxtool::shown;

bool same_time(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Size, modification or change time differ from `before` (as tar checks).
bool changed_since(int fd, const struct stat& before) {
  struct stat now {};
  if (fstat(fd, &now) != 0) return true;
  return now.st_size != before.st_size || !same_time(now.st_mtim, before.st_mtim) ||
         !same_time(now.st_ctim, before.st_ctim);
}

void mark_changed(Context& c, dpxut_writer* w, const std::string& path) {
  if (dpxut_writer_mark_changed(w) == DPXUT_FATAL) stream_lost(c, dpxut_writer_error(w));
  message(c, "%s: file changed as we read it", shown(path).c_str());
  c.fail(1);
}

}  // namespace

void stream_lost(Context& c, const char* why) {
  message(c, "%s: %s", shown(c.opt.stream).c_str(), why);
  throw StreamLost{};
}

bool find_regions(int fd, uint64_t size, std::vector<Region>& map) {
  map.clear();
  const auto end = static_cast<off_t>(size);
  off_t at = 0;
  while (at < end) {
    const off_t data = lseek(fd, at, SEEK_DATA);
    if (data < 0 && errno == ENXIO) break;  // nothing but hole up to the end
    off_t hole = data < 0 ? -1 : data >= end ? end : lseek(fd, data, SEEK_HOLE);
    if (hole < 0) {  // the file system cannot tell
      map.clear();
      return false;
    }
    if (data >= end) break;
    hole = std::min(hole, end);
    map.push_back({static_cast<uint64_t>(data), static_cast<uint64_t>(hole - data)});
    at = hole;
  }
  if (map.size() == 1 && map[0].offset == 0 && map[0].length == size) map.clear();
  else if (map.empty()) map.push_back({size, 0});
  return !map.empty();
}

void write_content(Context& c, dpxut_writer* w, std::vector<uint8_t>& buf, int fd, const std::string& path,
                   const struct stat& before, const std::vector<Region>& map) {
  const auto size = static_cast<uint64_t>(before.st_size);
  const std::vector<Region> dense{{0, size}};
  const std::vector<Region>& regions = map.empty() ? dense : map;
  uint64_t total = 0;
  for (const Region& r : regions) total += r.length;
  if (total == 0) {  // no content: the writer ended the record already
    if (changed_since(fd, before)) mark_changed(c, w, path);
    return;
  }
  uint64_t done = 0;
  for (const Region& r : regions) {
    for (uint64_t at = r.offset, left = r.length; left > 0;) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(left, buf.size()));
      ssize_t got;
      // At its offset: looking for holes moved the descriptor's position.
      do got = pread(fd, buf.data(), want, static_cast<off_t>(at));
      while (got < 0 && errno == EINTR);
      if (got <= 0) {
        const unsigned long long missing = total - done;
        if (got < 0) message(c, "%s: read error: %s; the rest is stored as zeros", shown(path).c_str(),
                             std::strerror(errno));
        else message(c, "%s: file shrank by %llu bytes; the rest is stored as zeros", shown(path).c_str(), missing);
        c.fail(1);
        // The writer stores the rest as zeros and marks the entry.
        if (dpxut_writer_finish_entry(w) == DPXUT_FATAL) stream_lost(c, dpxut_writer_error(w));
        progress_tick(c, missing);
        return;
      }
      const auto n = static_cast<uint64_t>(got);
      done += n;
      at += n;
      left -= n;
      // Checked before the last bytes go, while the entry can still be marked.
      if (done == total && changed_since(fd, before)) mark_changed(c, w, path);
      if (dpxut_writer_write_data(w, buf.data(), static_cast<size_t>(n)) < 0) stream_lost(c, dpxut_writer_error(w));
      progress_tick(c, n);
    }
  }
}

}  // namespace sidfpack
