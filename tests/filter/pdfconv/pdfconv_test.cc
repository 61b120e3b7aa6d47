// pdfconv as a child process on PDFs written here: the PostScript renders
// in the WebAssembly Ghostscript with the document's pages; unreadable PDFs
// and write errors fail the job with an ERROR: line.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "tests/filter/imgraster/run_filter.h"
#include "tests/filter/pdfconv/pdf_writer.h"

namespace {

using namespace std::chrono_literals;
using rastertest::FilterResult;
using rastertest::RunFilter;
using rastertest::TempDir;

const std::string kRunner = std::string(VORN_SOURCE_DIR) + "/tests/fixtures/render/gs-run.mjs";

int RenderedPages(const std::string& ps) {
  e2e::RunResult r = e2e::RunProgram(
      {e2e::FindProgram("node"), kRunner, "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=bbox", ps}, 300s);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err.find("Error"), std::string::npos) << r.err.substr(0, 2000);
  int pages = 0;
  std::istringstream lines(r.err);
  std::string line;
  while (std::getline(lines, line))
    if (line.starts_with("%%BoundingBox: ") && line != "%%BoundingBox: 0 0 0 0") pages++;
  return pages;
}

TEST(PdfconvProgram, RendersEveryPage) {
  struct Case {
    const char* name;
    int pages;
    bool from_stdin;
    const char* options;
  };
  const Case cases[] = {
      {"one page", 1, false, ""},
      {"one page from standard input", 1, true, ""},
      {"200 pages", 200, false, "sides=two-sided-long-edge"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::string pdf = dir.write("doc.pdf", pdftest::MakePdf(c.pages));
    std::vector<std::string> args = {"1", "ann", "doc", "1", c.options};
    if (!c.from_stdin) args.push_back(pdf);
    FilterResult r = RunFilter(PDFCONV_PATH, args, {}, c.from_stdin ? pdf : "", dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with("%!PS-Adobe-3.0"));
    EXPECT_NE(r.out.find("%%Pages: " + std::to_string(c.pages)), std::string::npos);
    EXPECT_EQ(RenderedPages(dir.write("out.ps", r.out)), c.pages);
    // The copy of standard input is gone.
    for (const auto& e : std::filesystem::directory_iterator(dir.path)) {
      std::string n = e.path().filename().string();
      EXPECT_TRUE(n == "doc.pdf" || n == "stdout" || n == "stderr" || n == "out.ps") << n;
    }
  }
}

TEST(PdfconvProgram, UnreadableDocumentsFail) {
  const std::string good = pdftest::MakePdf(3);
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"empty file", ""},
      {"not a PDF", "hello, world\n"},
      {"only the header", good.substr(0, 9)},
      {"cut in the first object", good.substr(0, 60)},
      {"no pages", "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n2 0 obj\n<< /Type /Pages /Kids [] "
                   "/Count 0 >>\nendobj\ntrailer\n<< /Root 1 0 R >>\n%%EOF\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    FilterResult r = RunFilter(PDFCONV_PATH, {"1", "ann", "doc", "1", "", dir.write("bad.pdf", c.bytes)}, {}, "", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ERROR: Unable to print this document"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("showpage"), std::string::npos);
  }
  TempDir dir;
  FilterResult r = RunFilter(PDFCONV_PATH, {"1", "ann"}, {}, "", dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Usage: pdfconv job user title copies options [filename]\n"), std::string::npos);

  // A full output device: the job fails instead of passing for printed.
  std::string pdf = dir.write("doc.pdf", pdftest::MakePdf(50));
  FilterResult full = RunFilter(PDFCONV_PATH, {"1", "u", "t", "1", "", pdf}, {}, "", dir, "/dev/full");
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("ERROR: Unable to write print data: No space left"), std::string::npos) << full.err;
}

}  // namespace
