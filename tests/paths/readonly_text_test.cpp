// The path functions that only inspect a path never write to it: called on
// text in read-only memory (any write faults, even one put back at once)
// and from 8 threads on one shared string (a write would be a data race,
// which ThreadSanitizer reports and which can leave the string changed).
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "charset/charset_test_util.h"
#include "paths/ns_text.h"
#include "support/guard.h"

namespace {

using dpxut::test::each_form;
using dpxut::test::enc;
using dpxut::test::GuardedBytes;
using dpxut::test::NsText;

// The text of path in the encoding of ns, in a guarded block whose pages are
// then made read-only.
class ReadOnlyText {
 public:
  ReadOnlyText(uint32_t ns, const std::string& path) : mem_(enc(ns, path + "|")) {
    const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto at = reinterpret_cast<uintptr_t>(mem_.data()), start = at / page * page;
    if (::mprotect(reinterpret_cast<void*>(start), at + mem_.size() - start, PROT_READ) != 0) std::abort();
  }
  unsigned char* p() { return mem_.data(); }

 private:
  GuardedBytes mem_;
};

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
  for (const Case& c : kCases)
    each_form(c.base, c.path, [&](uint32_t ns, size_t offset) {
      if (offset != 0) return;  // the block ends at a page: one placement
      ReadOnlyText text(ns, c.path);
      EXPECT_EQ(answer(c.op, ns, text.p()), c.want ? enc(ns, c.want) : "null");
    });
}

// Under the normal build a smoke test; under ThreadSanitizer it shows that
// the threads only read the shared path.
TEST(ReadOnlyPaths, InspectsOneSharedPathFromEightThreads) {
  dpxut::test::use_locale("en_US.UTF-8");
  const char* path = "VOL:dir/sub/*/";
  const Op ops[] = {Op::relative, Op::child, Op::volume, Op::fix_directory};
  for (uint32_t ns : {2u, 0x102u, 0x202u}) {
    NsText shared(ns, path);
    std::vector<std::string> want;
    for (Op op : ops) want.push_back(answer(op, ns, shared.p()));  // also sets up the tables before the threads
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
      threads.emplace_back([&] {
        for (int i = 0; i < 500; ++i)
          for (size_t k = 0; k < std::size(ops); ++k)
            if (answer(ops[k], ns, shared.p()) != want[k]) ++wrong;
      });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0) << std::hex << ns;
    EXPECT_EQ(want[1], enc(ns, "*/"));
    EXPECT_EQ(shared.str(), enc(ns, path));
  }
}

}  // namespace
