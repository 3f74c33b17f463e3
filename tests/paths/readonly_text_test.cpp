// The path functions that only inspect a path never write to it: called on
// text in read-only memory, where any write faults, even one put back at once
// (which would also be a data race on a path that threads share).
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "charset/charset_test_util.h"
#include "paths/ns_text.h"
#include "support/guard.h"

namespace {

using dpxut::test::each_form;
using dpxut::test::enc;
using dpxut::test::GuardedBytes;
using dpxut::test::NsText;

enum class Op { relative, child, volume, fix_directory };

// What op answers for path, in the encoding of ns ("null" for a null
// result; a volume is followed by a terminator and the rest of the path).
std::string answer(Op op, uint32_t ns, void* path) {
  NsText reader(ns, "");
  auto text = [&](const void* q) { return q != nullptr ? reader.str(q) : std::string("null"); };
  switch (op) {
    case Op::relative:
      return enc(ns, std::to_string(HVDPPathIsNotFullyQualified(ns, path)));
    case Op::child:
      return text(HVDPGetPathChild(ns, path, nullptr));
    case Op::volume: {
      std::vector<unsigned char> volume(17 * 4, 0xEE);
      void* rest = path;
      if (HVDPGetVolume(&rest, ns, volume.data()) == nullptr) return "null";
      return text(volume.data()) + enc(ns, "|") + text(rest);
    }
    case Op::fix_directory:  // a path that needs no rewriting, wildcards allowed in its last component
      return text(HVDPFixDirectoryPath(path, ns, nullptr, 1));
  }
  return "";
}

const struct Case {
  Op op;
  uint32_t base;
  const char *path, *want;  // want null: a null result
} kCases[] = {
    {Op::relative, 2, "dir/sub/", "1"},
    {Op::relative, 2, "/dir/sub/", "0"},
    {Op::relative, 0, "/a\\", "0"},
    {Op::relative, 1, "VOL:a:", "1"},
    {Op::child, 2, "dir/sub/", "sub/"},  // the trailing separator is looked past, not cut
    {Op::child, 0, "a\\b/c\\", "c\\"},
    {Op::child, 1, "VOL:a:b:", "b:"},
    {Op::child, 2, "a//", "/"},
    {Op::child, 2, "abc", nullptr},
    {Op::volume, 2, "VOL:dir/x", "VOL:|dir/x"},  // the volume ends where the path would have been cut
    {Op::volume, 1, "VOL::dir", "VOL:|dir"},
    {Op::volume, 2, "ABCDEFGHIJKLMNO:x", "ABCDEFGHIJKLMNO:|x"},
    {Op::volume, 2, "ABCDEFGHIJKLMNOP:x", nullptr},
    {Op::fix_directory, 2, "VOL:dir/sub/*", "VOL:dir/sub/*"},  // its wildcard test cut the path before
};

TEST(ReadOnlyPaths, InspectsTextInReadOnlyMemory) {
  dpxut::test::use_locale("en_US.UTF-8");
  const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  for (const Case& c : kCases)
    each_form(c.base, c.path, [&](uint32_t ns, size_t offset) {
      if (offset != 0) return;  // the block ends at a page: one placement
      GuardedBytes text(enc(ns, std::string(c.path) + "|"));
      const auto at = reinterpret_cast<uintptr_t>(text.data()), start = at / page * page;
      ASSERT_EQ(::mprotect(reinterpret_cast<void*>(start), at + text.size() - start, PROT_READ), 0);
      EXPECT_EQ(answer(c.op, ns, text.data()), c.want ? enc(ns, c.want) : "null");
    });
}

}  // namespace
