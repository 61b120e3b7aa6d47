// unzipconv as the scheduler runs it: plain bytes out for good input, an
// ERROR: line and a failing status whenever data would be lost.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/filter/imgraster/run_filter.h"
#include "tests/fixtures/file/gzip_member.h"

namespace {

using rastertest::FilterResult;
using rastertest::RunFilter;
using rastertest::TempDir;

std::string Text(size_t n) {
  std::string s;
  for (size_t i = 0; s.size() < n; i++) s += "line " + std::to_string(i) + " of the document\n";
  s.resize(n);
  return s;
}

FilterResult Unzip(const TempDir& dir, const std::string& file) {
  return RunFilter(UNZIPCONV_PATH, {"1", "user", "title", "1", "", file}, {}, "", dir);
}

struct GoodCase {
  const char* name;
  std::string file;      // bytes on disk
  std::string expected;  // bytes on standard output
};

TEST(UnzipconvProgram, ExpandsOrPassesOn) {
  const std::string big = Text(300000), small = Text(100);
  std::vector<GoodCase> cases = {
      {"gzip text", vorn_test::GzipMember(big), big},
      {"gzip with name and comment", vorn_test::GzipMember(small, vorn_test::kGzipName | vorn_test::kGzipComment),
       small},
      {"two members", vorn_test::GzipMember(small) + vorn_test::GzipMember(big), small + big},
      {"empty compressed", vorn_test::GzipMember(""), ""},
      {"empty file", "", ""},
      {"not gzip", "%!PS\nshowpage\n", "%!PS\nshowpage\n"},
  };
  TempDir dir;
  for (const GoodCase& c : cases) {
    SCOPED_TRACE(c.name);
    FilterResult r = Unzip(dir, dir.write("doc", c.file));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.size(), c.expected.size());
    EXPECT_TRUE(r.out == c.expected);
    EXPECT_EQ(r.err.find("ERROR:"), std::string::npos) << r.err;
  }
}

struct BadCase {
  const char* name;
  std::string file;
  const char* message;
};

TEST(UnzipconvProgram, DamagedDataFails) {
  const std::string big = Text(200000);
  const std::string good = vorn_test::GzipMember(big);
  std::string bad_crc = good;
  bad_crc[bad_crc.size() - 6] ^= 0x55;
  std::string bad_length = good;
  bad_length[bad_length.size() - 2] ^= 0x01;
  std::string bad_deflate = good;
  bad_deflate[10] = 0x07;  // final block of the reserved type 3
  std::vector<BadCase> cases = {
      {"cut in the data", good.substr(0, good.size() / 2), "cut short or damaged"},
      {"cut in the trailer", good.substr(0, good.size() - 3), "cut short or damaged"},
      {"cut after the header", good.substr(0, 12), "cut short or damaged"},
      {"cut inside the header", good.substr(0, 6), "cut short or damaged"},
      {"only the magic", good.substr(0, 2), "cut short or damaged"},
      {"wrong CRC", bad_crc, "cut short or damaged"},
      {"wrong length", bad_length, "cut short or damaged"},
      {"bad deflate block", bad_deflate, "cut short or damaged"},
  };
  TempDir dir;
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.name);
    FilterResult r = Unzip(dir, dir.write("doc", c.file));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ERROR: Unable to read compressed document data: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    // What was produced is a prefix of the document, never other bytes.
    EXPECT_LE(r.out.size(), big.size());
  }
}

TEST(UnzipconvProgram, CommandLineAndOutputErrors) {
  TempDir dir;
  FilterResult r = RunFilter(UNZIPCONV_PATH, {"1", "user", "title", "1", ""}, {}, dir.write("in", "x"), dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: unzipconv job-id user title copies options file\n"), std::string::npos);
  EXPECT_TRUE(r.out.empty());

  r = Unzip(dir, dir.file("missing.gz"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: Unable to open GZIP file: No such file or directory"), std::string::npos) << r.err;

  // A full output device: the write error ends the filter.
  std::string doc = dir.write("doc.gz", vorn_test::GzipMember(Text(100000)));
  FilterResult full = RunFilter(UNZIPCONV_PATH, {"1", "u", "t", "1", "", doc}, {}, "", dir, "/dev/full");
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("ERROR: Unable to write uncompressed document data: No space left"), std::string::npos)
      << full.err;
}

}  // namespace
