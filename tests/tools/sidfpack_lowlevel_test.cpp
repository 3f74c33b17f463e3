// sidfpack on streams another host wrote with the record functions alone:
// no media or session header, no data check sections, no trailer.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "dpxut.h"

namespace {

// One full record header (a locale name, mode, size, a DOS date) and the
// content after it, appended to out.
void put_record(std::string& out, const char* name, uint32_t mode, const std::string& content) {
  HVDPRecordHeaderInfo info{};
  HVDPNameBuffer* names = nullptr;
  HVDPNameHandle* handle = nullptr;
  ASSERT_EQ(HVDPPutFirstName(&names, 0, 0, 0, nullptr, nullptr, name, &handle), 0u);
  HVDPCloseName(&handle);
  auto* block = static_cast<HVDPDataSetInfo*>(std::calloc(1, HVDP_DATA_SET_INFO_FIXED));
  block->bufferSize = HVDP_DATA_SET_INFO_FIXED;
  block->value1 = mode;
  block->value4 = static_cast<uint32_t>(content.size());
  block->dateTime1 = HVDPPackDateTime(2024, 6, 1, 12, 0, 0);
  info.nameBuffer = names;
  info.dataSetInfo = block;
  std::string buf(4096, '\0');
  auto* pos = reinterpret_cast<uint8_t*>(buf.data());
  uint32_t left = static_cast<uint32_t>(buf.size()), written = 0;
  ASSERT_EQ(HVDPSetNewRecordHeader(&pos, &left, &written, 1, &info), 0u);
  std::memcpy(pos, content.data(), content.size());
  info.recordLength += static_cast<uint32_t>(content.size());
  ASSERT_EQ(HVDPUpdateRecordHeader(&info), 0u);
  out += buf.substr(0, written + content.size());
  std::free(info.nameBuffer);
  std::free(info.dataSetInfo);
}

TEST(SidfpackLowLevel, ListsAndExtractsRecordsWithoutToolSections) {
  std::string stream;
  put_record(stream, "low/a.txt", 0100640, "hello");
  put_record(stream, "low/b", 0100600, std::string(300, 'b'));
  const std::string dir = ::testing::TempDir() + "sidfpack_low.";
  auto slurp = [](const std::string& path) { return (std::stringstream() << std::ifstream(path).rdbuf()).str(); };
  auto run = [&](const std::string& input, const std::string& args, std::string& out) {
    std::ofstream(dir + "in", std::ios::binary) << input;
    const int raw = std::system((std::string(SIDFPACK) + " " + args + " -f " + dir + "in >" + dir + "out 2>" +
                                 dir + "err").c_str());
    out = slurp(dir + "out") + slurp(dir + "err");
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  };
  std::string out;
  EXPECT_EQ(run(stream, "list", out), 0) << out;
  EXPECT_EQ(out, "-rw-r-----            5 2024-06-01 12:00:00 low/a.txt\n"
                 "-rw-------          300 2024-06-01 12:00:00 low/b\n");
  std::system(("rm -rf " + dir + "x && mkdir " + dir + "x").c_str());
  EXPECT_EQ(run(stream, "extract -C " + dir + "x", out), 0) << out;
  EXPECT_EQ(slurp(dir + "x/low/a.txt"), "hello");
  EXPECT_EQ(slurp(dir + "x/low/b"), std::string(300, 'b'));
  // Cut inside the second record's content: the first entry stands, the
  // cut is reported.
  EXPECT_EQ(run(stream.substr(0, stream.size() - 100), "list", out), 2);
  EXPECT_NE(out.find("low/a.txt\n"), std::string::npos) << out;
  EXPECT_NE(out.find("sidfpack: "), std::string::npos) << out;
}

// Small files are made on a thread of their own: a name given twice ends
// with the later content, a file that cannot be made is told and the run
// goes on, and all of it in the stream's order.
TEST(SidfpackLowLevel, SmallFilesKeepTheStreamsOrder) {
  std::string stream;
  put_record(stream, "d/x", 0100644, "one");
  put_record(stream, "d/x", 0100644, "two");
  put_record(stream, ("d/" + std::string(300, 'n')).c_str(), 0100644, "long");
  put_record(stream, "d/y", 0100644, "after");
  const std::string dir = ::testing::TempDir() + "sidfpack_order.";
  std::ofstream(dir + "in", std::ios::binary) << stream;
  std::system(("rm -rf " + dir + "x && mkdir " + dir + "x").c_str());
  const int raw = std::system((std::string(SIDFPACK) + " extract -C " + dir + "x -f " + dir + "in 2>" + dir + "err").c_str());
  auto slurp = [](const std::string& path) { return (std::stringstream() << std::ifstream(path).rdbuf()).str(); };
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 1);
  EXPECT_NE(slurp(dir + "err").find(": cannot create: File name too long"), std::string::npos) << slurp(dir + "err");
  EXPECT_EQ(slurp(dir + "x/d/x"), "two");
  EXPECT_EQ(slurp(dir + "x/d/y"), "after");
}

}  // namespace
