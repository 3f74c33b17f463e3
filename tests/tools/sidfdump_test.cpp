// sidfdump end to end: the built tool on its sample, on a stream larger than
// its input window, on older field forms, on damaged streams and on input
// that is no stream.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dpxut.h"
#include "support/bytes.h"

namespace {

using dpxut::test::hex;

// A section of 300 fields of 1000 bytes each after 3 filler bytes, closed
// with its check value: larger than the tool's input window, so fields are
// cut at refills.
std::string large_section() {
  static const std::vector<uint8_t> data(1000, 'a');
  std::vector<DPDFPutEntry> rows(302);
  rows[0].field.fieldId = 0x813F;
  for (size_t i = 1; i <= 300; ++i) {
    rows[i].field.fieldId = 0x12;
    rows[i].field.data = data.data();
    rows[i].field.dataSize.value = rows[i].dataBytes = 1000;
    rows[i].sizeForm = 0x80;
  }
  rows[301].field.fieldId = DPDF_END_OF_TABLE;
  std::string out(310000, '\0');
  uint8_t* pos = reinterpret_cast<uint8_t*>(out.data()) + 3;
  uint32_t left = static_cast<uint32_t>(out.size() - 3);
  EXPECT_EQ(DPDFPutFields(rows.data(), &pos, &left, 1), 0u);
  out.resize(out.size() - left);
  return out;
}

// Each row runs the tool once: on its sample (no input), on the input as a
// file or on standard input, or on a missing file. Every listed text must
// appear in the output (out) or in the messages (err).
TEST(Sidfdump, DumpsSampleLargeOldAndDamagedStreams) {
  const std::string large = large_section();
  std::string flipped = large;
  flipped[5000] ^= 1;  // inside a field's data: only the check value notices
  enum How { kSample, kFile, kStdin, kMissing };
  const struct { How how; std::string input; int status; std::vector<std::string> out, err; } cases[] = {
      {kSample, "", 0,
       {"pad section", "6 bytes jumped", "embedded", "fixed", "size-of-size:1", "size-of-size:2", "size-of-size:4",
        "\"hello\"", "ok", "check value not computed", "media header", "\"Weekly full backup, set 3\"", "C1 (true)",
        "# first time stamp", "session header", "\"VOL1\"", "\"Unix\" (code 4)", "\"DPX\" (code 1)",
        "section 09 begins: record header", "286 bytes after this section", "= date 2             2024-03-15 13:45:30",
        "= extension          8 bytes", "\"VOL1:docs/report.txt\" (locale bytes)",
        "\"VOL1/docs/r\xC3\xA9sum\xC3\xA9.txt\" (UTF-8)", "\"VOL1/docs/\xC3\xBC" "ber.txt\" (wide)", "# value1",
        "(32 bytes of record data)", "(10 bytes of record data)", "section 8001 ends, check value"},
       {}},
      {kFile, large, 0, {"filler: 3 zero bytes", "section 813F ends, check value", " ok"}, {}},
      {kStdin, large, 0, {"section 813F ends, check value", " ok"}, {}},
      {kFile, large.substr(0, 150001), 1, {}, {"cut by the end of input"}},
      {kFile, large.substr(0, large.size() - 6), 1, {}, {"inside its header"}},
      {kFile, flipped, 1, {}, {"check value of section 813F"}},
      {kFile, hex("81 3F 02 A5 5A 50 07"), 1, {}, {"is not closed"}},
      // Older field forms with the zone of the server, and a session header
      // cut by the end of input.
      {kFile,
       hex("80 80 00 02 A5 5A  81 F2 FF AF 6D 6F 58  81 EF FE 02 6F 6C  80 80 00 00 "  // media header: DOS date, text
           "80 80 04 02 A5 5A  03 04 4F 53 39 00"),  // session header: operating system as text "OS9"
       1,
       {"= first time stamp   2024-03-15 13:45:30 local time, UTC+05:30", "= text               \"ol\"",
        "# text, older form", "(cannot be decoded: the section is not whole)", "# operating system"},
       {}},
      // A short record whose data runs past the end of input, and a full
      // first section followed by data instead of its data set information.
      {kFile, hex("80 01 02 A5 5A 0B 04 10 00 00 00 80 01 00 61 62"), 1, {}, {"record data of 16 bytes"}},
      {kFile, hex("09 02 A5 5A 0B 04 03 00 00 00 09 00 78 79 7A 50 01"), 0,
       {"(3 bytes of record data)", "0000000F  50"}, {}},
      // Input that holds no stream at all.
      {kFile, "", 1, {}, {"no SIDF stream: 0 bytes"}},
      {kFile, std::string(5000, '\0'), 1, {"filler: 5000 zero bytes"}, {"no SIDF stream"}},
      {kStdin, "plain text, no stream\n", 1, {}, {"no SIDF stream"}},
      {kMissing, "", 2, {}, {}},
  };
  ::setenv("TZ", "IST-5:30", 1);
  const std::string dir = ::testing::TempDir() + "sidfdump.";
  auto slurp = [](const std::string& path) { return (std::stringstream() << std::ifstream(path).rdbuf()).str(); };
  for (const auto& c : cases) {
    std::ofstream(dir + "in", std::ios::binary) << c.input;
    const std::string args[] = {"", dir + "in", "- <" + dir + "in", dir + "missing"};
    const int raw = std::system((SIDFDUMP " " + args[c.how] + " >" + dir + "out 2>" + dir + "err").c_str());
    const std::string out = slurp(dir + "out"), err = slurp(dir + "err");
    SCOPED_TRACE(dpxut::test::to_hex(c.input.substr(0, 24)) + "\n" + out.substr(0, 4000) + err);
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status);
    for (const auto& want : c.out) EXPECT_NE(out.find(want), std::string::npos) << want;
    for (const auto& want : c.err) EXPECT_NE(err.find(want), std::string::npos) << want;
    EXPECT_TRUE(c.status != 0 || err.empty()) << "messages after a clean run";
  }
}

}  // namespace
