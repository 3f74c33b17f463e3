// sidfpack list: one line per selected entry (mode, owner and group with
// -v, size, modification time, name, link target), and with -vv the name
// in each of its forms.
#include <dpxut.h>

#include "../common/text.h"
#include "read.h"
#include "select.h"

namespace sidfpack {
namespace {

using dpxtool::shown;

void list_entry(Context& c, const dpxut_entry* e, const std::string& name) {
  progress_clear(c);
  std::string line = dpxtool::mode_text(dpxut_entry_mode(e));
  if (c.opt.verbose) {
    const std::string owner = dpxut_entry_uname(e), group = dpxut_entry_gname(e);
    line += ' ';
    line += owner.empty() ? std::to_string(dpxut_entry_uid(e)) : shown(owner);
    line += '/';
    line += group.empty() ? std::to_string(dpxut_entry_gid(e)) : shown(group);
  }
  line += dpxtool::format(" %12llu %s %s", static_cast<unsigned long long>(dpxut_entry_size(e)),
                          dpxtool::date_text(dpxut_entry_mtime(e)).c_str(), shown(name).c_str());
  if (dpxut_entry_filetype(e) == DPXUT_IFLNK) {
    const char* target = dpxut_entry_symlink(e);
    line += " -> " + shown(target != nullptr ? target : "");
  } else if (const char* to = dpxut_entry_hardlink(e)) {
    line += " link to " + shown(to);
  }
  std::printf("%s\n", line.c_str());
  if (c.opt.verbose > 1) {
    // The name as each form gives it, shown as locale text.
    std::string forms[3];
    bool has[3] = {dpxut_entry_name(e) != nullptr, false, false};
    if (has[0]) forms[0] = dpxut_entry_name(e);
    if (const char* utf = dpxut_entry_name_utf8(e)) has[1] = dpxtool::utf8_to_locale(utf, forms[1]);
    if (const wchar_t* wide = dpxut_entry_name_wide(e)) has[2] = dpxtool::wide_to_locale(wide, forms[2]);
    static const char* const kSpace[3] = {"0x000", "0x100", "0x200"};
    for (int i = 0; i < 3; ++i)
      std::printf("    name space %s: %s\n", kSpace[i], has[i] ? shown(forms[i]).c_str() : "(none)");
  }
}

}  // namespace

int run_list(Context& c, int fd) {
  StreamIn in(c, fd);
  Selection selection(c.opt.operands, c.opt.dos_wildcards);
  progress_begin(c, "listed");
  const dpxut_entry* e = nullptr;
  std::string name;
  while (in.next(e, name)) {
    if (selection.selects(name)) list_entry(c, e, name);
    in.read_content(nullptr);
  }
  progress_clear(c);
  selection.report_unused(c);
  return c.status;
}

}  // namespace sidfpack
