// sidfdump end to end: the built tool on its sample, on a stream larger
// than its input window, and on damaged streams.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dpxut.h"

namespace {

struct DumpRun {
  int status;
  std::string out, err;
};

DumpRun run_dump(const std::string& args) {
  const std::string dir = ::testing::TempDir() + ::testing::UnitTest::GetInstance()->current_test_info()->name();
  const std::string cmd = std::string(DPXUT_BINARY_DIR) + "/sidfdump " + args + " >" + dir + "dump.out 2>" + dir + "dump.err";
  const int raw = std::system(cmd.c_str());
  auto slurp = [](const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  };
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(dir + "dump.out"), slurp(dir + "dump.err")};
}

std::string write_file(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path =
      ::testing::TempDir() + ::testing::UnitTest::GetInstance()->current_test_info()->name() + name;
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return path;
}

// A section of 300 fields of 1000 bytes each, closed with its check value:
// larger than the tool's input window, so fields are cut at refills.
std::vector<uint8_t> large_section() {
  std::vector<uint8_t> data(1000, 'a');
  std::vector<DPDFPutEntry> rows(302);
  rows[0].field.fieldId = 0x813F;
  for (size_t i = 1; i <= 300; ++i) {
    rows[i].field.fieldId = 0x12;
    rows[i].field.data = data.data();
    rows[i].field.dataSize.value = 1000;
    rows[i].dataBytes = 1000;
    rows[i].sizeForm = 0x80;
  }
  rows[301].field.fieldId = DPDF_END_OF_TABLE;
  std::vector<uint8_t> out(310000);
  uint8_t* pos = out.data() + 3;  // filler first
  uint32_t left = static_cast<uint32_t>(out.size() - 3);
  EXPECT_EQ(DPDFPutFields(rows.data(), &pos, &left, 1), 0u);
  out.resize(out.size() - left);
  return out;
}

TEST(Sidfdump, DumpsItsSampleWithEveryFormAndCheckValue) {
  const DumpRun r = run_dump("");
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* want : {"pad section", "6 bytes jumped", "embedded", "fixed", "size-of-size:1", "size-of-size:2",
                           "size-of-size:4", "\"hello\"", "ok", "check value not computed"})
    EXPECT_NE(r.out.find(want), std::string::npos) << want;
  EXPECT_TRUE(r.err.empty());
}

TEST(Sidfdump, ReadsStreamsLargerThanItsWindowFromFileAndStdin) {
  const std::string path = write_file("large.sidf", large_section());
  DumpRun r = run_dump(path);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("filler: 3 zero bytes"), std::string::npos);
  EXPECT_NE(r.out.find("section 813F ends, check value"), std::string::npos);
  EXPECT_NE(r.out.find(" ok"), std::string::npos);
  r = run_dump("- <" + path);
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST(Sidfdump, ReportsDamagedStreamsOnStderrWithoutCrashing) {
  auto bytes = large_section();
  struct Case {
    const char* name;
    std::vector<uint8_t> data;
    const char* message;
  };
  auto flipped = bytes;
  flipped[5000] ^= 1;  // inside a field's data: only the check value notices
  const Case cases[] = {
      {"cut.sidf", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 150001), "cut by the end of input"},
      {"header.sidf", std::vector<uint8_t>(bytes.begin(), bytes.end() - 6), "inside its header"},
      {"crc.sidf", flipped, "check value of section 813F"},
      {"open.sidf", {0x81, 0x3F, 0x02, 0xA5, 0x5A, 0x50, 0x07}, "is not closed"},
  };
  for (const auto& c : cases) {
    const DumpRun r = run_dump(write_file(c.name, c.data));
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
  }
  EXPECT_EQ(run_dump(::testing::TempDir() + "does-not-exist").status, 2);
}

TEST(Sidfdump, DecodesMediaAndSessionHeaders) {
  const DumpRun sample = run_dump("");
  for (const char* want : {"media header", "= text               \"Weekly full backup, set 3\"",
                           "= flag               C1 (true)", "# first time stamp", "session header",
                           "= short name         \"VOL1\"", "= operating system   \"Unix\" (code 4)",
                           "= format family      \"DPX\" (code 1)", "# operating system"})
    EXPECT_NE(sample.out.find(want), std::string::npos) << want;

  // Older field forms with the zone of the server, and a session header cut
  // by the end of input.
  const std::vector<uint8_t> bytes = {
      0x80, 0x80, 0x00, 0x02, 0xA5, 0x5A,        // media header
      0x81, 0xF2, 0xFF, 0xAF, 0x6D, 0x6F, 0x58,  // DOS date and time 2024-03-15 13:45:30
      0x81, 0xEF, 0xFE, 0x02, 0x6F, 0x6C,        // older text "ol"
      0x80, 0x80, 0x00, 0x00,                    // closing field
      0x80, 0x80, 0x04, 0x02, 0xA5, 0x5A,        // session header
      0x03, 0x04, 0x4F, 0x53, 0x39, 0x00,        // operating system given as text "OS9"
  };
  setenv("TZ", "IST-5:30", 1);
  const DumpRun old = run_dump(write_file("old.sidf", bytes));
  for (const char* want : {"= first time stamp   2024-03-15 13:45:30 local time, UTC+05:30",
                           "= text               \"ol\"", "# text, older form",
                           "(cannot be decoded: the section is not whole)", "# operating system"})
    EXPECT_NE(old.out.find(want), std::string::npos) << want << "\n" << old.out;
  EXPECT_EQ(old.status, 1);
}

TEST(Sidfdump, DecodesRecordHeadersAndPassesOverTheirData) {
  const DumpRun sample = run_dump("");
  EXPECT_EQ(sample.status, 0) << sample.err;
  for (const char* want : {"section 09 begins: record header", "= record length      286 bytes after this section",
                           "= date 2             2024-03-15 13:45:30", "= extension          8 bytes",
                           "= name, space 0      \"VOL1:docs/report.txt\" (locale bytes)",
                           "= name, space 100    \"VOL1/docs/r\xC3\xA9sum\xC3\xA9.txt\" (UTF-8)",
                           "= name, space 200    \"VOL1/docs/\xC3\xBC" "ber.txt\" (wide)", "# value1",
                           "(32 bytes of record data)", "(10 bytes of record data)", "section 8001 ends, check value"})
    EXPECT_NE(sample.out.find(want), std::string::npos) << want;

  // A short record whose data runs past the end of input, and a full first
  // section followed by data instead of its data set information.
  const std::vector<uint8_t> cut = {0x80, 0x01, 0x02, 0xA5, 0x5A, 0x0B, 0x04, 0x10, 0x00, 0x00, 0x00,
                                    0x80, 0x01, 0x00, 'a', 'b'};
  DumpRun r = run_dump(write_file("cut.sidf", cut));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("record data of 16 bytes"), std::string::npos) << r.err;
  const std::vector<uint8_t> bare = {0x09, 0x02, 0xA5, 0x5A, 0x0B, 0x04, 0x03, 0x00, 0x00, 0x00,
                                     0x09, 0x00, 'x', 'y', 'z', 0x50, 0x01};
  r = run_dump(write_file("bare.sidf", bare));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("(3 bytes of record data)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("0000000F  50"), std::string::npos) << r.out;
}

}  // namespace
