// psconv in-process: page selection, sheets, order, copies, the printer's
// code and protocol, documents without structure, and what reaches the
// status stream.
#include <gtest/gtest.h>

#include "psconv_fixture.h"

namespace {

using namespace filter_test;

TEST(Psconv, PageSelection) {
  const struct {
    const char* options;
    int pages;
    std::vector<int> shown;
  } cases[] = {
      {"", 3, {1, 2, 3}},
      {"page-ranges=1,3-4,6-", 7, {1, 3, 4, 6, 7}},
      {"page-ranges=-2", 7, {1, 2}},
      {"page-ranges=2,5 x,7", 7, {2, 5}},  // parsing stops at an item without a comma
      {"page-set=odd", 6, {1, 3, 5}},
      {"page-set=EVEN", 6, {2, 4, 6}},
      {"page-set=even number-up=2", 9, {3, 4, 7, 8}},
      {"page-set=odd number-up=2", 9, {1, 2, 5, 6, 9}},
      {"page-set=odd page-ranges=2-5", 6, {3, 5}},
      {"page-ranges=6-9", 7, {6, 7}},
      {"page-ranges=8-20", 7, {}},                // past the end: no page
      {"page-ranges=abc", 3, {1, 2, 3}},          // no range at all: every page
      {"page-ranges=0", 3, {1, 2, 3}},
      {"page-ranges=99999999999999999999", 3, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    PsconvResult r = RunPsconv({DscDoc(c.pages), c.options});
    ASSERT_EQ(r.rc, 0) << r.status;
    EXPECT_EQ(PagesShown(r.out), c.shown);
    // Sheets are numbered from 1 and counted in the trailer.
    const int per = std::string(c.options).find("number-up=2") != std::string::npos ? 2 : 1;
    const int sheets = int(c.shown.size() + per - 1) / per;
    EXPECT_EQ(CountOf(r.out, "\n%%Page: "), sheets);
    EXPECT_NE(r.out.find("%%Trailer\n%%Pages: " + std::to_string(sheets) + "\n"), std::string::npos);
    if (sheets == 0) {
      EXPECT_NE(r.status.find("DEBUG: No page of the document was selected\n"), std::string::npos);
    }
  }
}

TEST(Psconv, SheetsCopiesAndOrder) {
  const std::string demo = DemoPpd(), tbcp = FixturePpd("tbcp.ppd");
  const struct {
    const char* what;
    int pages;
    std::string ppd;
    const char* options;
    const char* copies;
    std::vector<int> shown;
    const char* page_lines;  // nullptr: none written (the PPD lists filters)
    int blank_sheets;
  } cases[] = {
      {"5 pages 2-up make 3 sheets", 5, "", "number-up=2", "1", {1, 2, 3, 4, 5}, "1 1|2 1|3 1", 0},
      {"two-sided adds a blank back", 5, demo, "number-up=2 sides=two-sided-long-edge", "1", {1, 2, 3, 4, 5},
       "1 1|2 1|3 1|4 1", 1},
      {"even sheets need no blank", 4, demo, "sides=two-sided-long-edge", "1", {1, 2, 3, 4}, "1 1|2 1|3 1|4 1", 0},
      {"reverse order by the filter", 3, demo, "OutputOrder=Reverse", "1", {3, 2, 1}, "1 1|2 1|3 1", 0},
      {"reverse 2-up keeps pages together", 5, demo, "OutputOrder=Reverse number-up=2", "1", {5, 3, 4, 1, 2},
       "1 1|2 1|3 1", 0},
      {"reverse two-sided starts with a blank", 5, demo, "OutputOrder=reverse number-up=2 sides=two-sided-long-edge",
       "1", {5, 3, 4, 1, 2}, "1 1|2 1|3 1|4 1", 1},
      {"the printer reverses itself", 3, tbcp, "OutputOrder=Reverse", "1", {1, 2, 3}, nullptr, 0},
      {"collated copies by the filter", 2, demo, "Collate=True", "3", {1, 2, 1, 2, 1, 2},
       "1 1|2 1|3 1|4 1|5 1|6 1", 0},
      {"collated reversed copies", 2, demo, "multiple-document-handling=separate-documents-collated-copies "
       "OutputOrder=Reverse", "2", {2, 1, 2, 1}, "1 1|2 1|3 1|4 1", 0},
      {"uncollated copies are the printer's", 2, demo, "", "3", {1, 2}, "1 3|2 3", 0},
      {"the printer collates itself", 2, tbcp, "Collate=True", "3", {1, 2}, nullptr, 0},
      {"collated two-sided copies each start on a front", 3, demo, "Collate=True sides=two-sided-long-edge", "2",
       {1, 2, 3, 1, 2, 3}, "1 1|2 1|3 1|4 1|5 1|6 1|7 1|8 1", 2},
  };
  for (const auto& c : cases) {
    for (bool from_file : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (from_file ? ", from a file" : ", from a stream"));
      PsconvCall call{DscDoc(c.pages), c.options, c.ppd};
      call.copies = c.copies;
      call.from_file = from_file;
      PsconvResult r = RunPsconv(call);
      ASSERT_EQ(r.rc, 0) << r.status;
      EXPECT_EQ(PagesShown(r.out), c.shown);
      EXPECT_EQ(PageLines(r.status), c.page_lines ? c.page_lines : "");
      // A blank sheet is a lone showpage between the slot's save and restore.
      EXPECT_EQ(CountOf(r.out, "\nshowpage\n"), c.blank_sheets) << r.out;
    }
  }
}

TEST(Psconv, CopyRequirementsAndNumCopies) {
  const std::string demo = DemoPpd(), tbcp = FixturePpd("tbcp.ppd");
  const struct {
    std::string ppd;
    const char* options;
    const char* copies;
    const char* header;  // after the first line
    bool num_copies_code;
  } cases[] = {
      {"", "", "1", "%RBINumCopies: 1\n%%Pages: (atend)\n", false},
      {demo, "sides=two-sided-long-edge", "1", "%%Requirements: duplex\n%RBINumCopies: 1\n", false},
      {demo, "Collate=True", "2", "%RBINumCopies: 1\n", false},
      {demo, "", "4", "%%Requirements: numcopies(4)\n%RBINumCopies: 4\n", true},
      {tbcp, "Collate=True", "2", "\x01M%%Requirements: numcopies(2) collate\n%RBINumCopies: 2\n", true},
      {demo, "sides=two-sided-short-edge", "3", "%%Requirements: numcopies(3) duplex\n%RBINumCopies: 3\n", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.options) + " copies " + c.copies);
    PsconvCall call{DscDoc(1), c.options, c.ppd};
    call.copies = c.copies;
    PsconvResult r = RunPsconv(call);
    ASSERT_EQ(r.rc, 0);
    EXPECT_NE(r.out.find(std::string("%!PS-Adobe-3.0\n") + c.header), std::string::npos) << r.out.substr(0, 200);
    const std::string code = std::string("%%RBIBeginNonPPDFeature: *NumCopies ") + c.copies +
                             "\n" + c.copies +
                             "/languagelevel where{pop languagelevel 2 ge}{false}ifelse{1 dict begin/NumCopies exch "
                             "def currentdict end setpagedevice}{userdict/#copies 3 -1 roll put}ifelse\n"
                             "%%RBIEndNonPPDFeature\n";
    EXPECT_EQ(r.out.find(code) != std::string::npos, c.num_copies_code);
  }
}

TEST(Psconv, PrinterCodeAroundTheDocument) {
  PsconvResult r = RunPsconv({DscDoc(2), "gamma=2200 brightness=120", FixturePpd("bcp.ppd")});
  ASSERT_EQ(r.rc, 0) << r.status;
  const std::string& o = r.out;
  // A BCP printer is switched to binary mode first, in a job of its own.
  const std::string bcp_job =
      "\x1b%-12345X@PJL JOB\n@PJL ENTER LANGUAGE = POSTSCRIPT\n"
      "%!PS-Adobe-3.0 ExitServer\n%%Title: (BCP - Level 1)\n%%EndComments\n%%BeginExitServer: 0\n"
      "serverdict begin 0 exitserver\n%%EndExitServer\nstatusdict begin\n"
      "/setsoftwareiomode known {100 setsoftwareiomode}\nend\n%EOF\n"
      "\x1b%-12345X@PJL EOJ\n\x1b%-12345X";
  EXPECT_EQ(o.find(bcp_job), 0u) << o.substr(0, 400);
  // Then the exit-server code, the job's own PJL and the document.
  const size_t exit_at = o.find("% exit server code\n", bcp_job.size());
  const size_t jcl_at = o.find("@PJL JOB NAME = \"report\" DISPLAY = \"42 ann report\"", bcp_job.size());
  const size_t doc_at = o.find("%!PS-Adobe-3.0\n%RBINumCopies: 1\n");
  EXPECT_LT(exit_at, jcl_at);
  EXPECT_LT(jcl_at, doc_at);
  EXPECT_NE(doc_at, std::string::npos);
  EXPECT_NE(o.find("%%BeginProlog\n%%BeginFeature: *JobPatchFile 1\n% patch code\n%%EndFeature\n% smoothing on\n"),
            std::string::npos);
  EXPECT_NE(o.find("%%BeginSetup\n"
                   "[{\n%%BeginFeature: *PageSize Letter\nletter\n%%EndFeature\n} stopped cleartomark\n"
                   "{ neg 1 add dup 0 lt { pop 1 } { 2.200 exp neg 1 add } ifelse 1.200 mul } bind settransfer\n"
                   "% x y w h VRNrc"),
            std::string::npos);
  EXPECT_EQ(CountOf(o, "%%BeginFeature: *Economy True\n% economy\n"), 2);  // every sheet
  // The job ends with the PPD's job-control end, after "%%EOF".
  EXPECT_TRUE(o.ends_with("%%EOF\n\x1b%-12345X@PJL EOJ\n\x1b%-12345X")) << o.substr(o.size() - 60);
}

TEST(Psconv, BinaryProtocolQuotesDocumentBytes) {
  const std::string data = std::string("(\x01\x03\x04\x05\x11\x13\x14\x1c\x1b\x7f)", 12);
  const struct {
    std::string ppd;
    std::string quoted;
    std::string start;  // right after the first line
  } cases[] = {
      {"", data, "%RBINumCopies"},
      {FixturePpd("bcp.ppd"), "(\x01\x41\x01\x43\x01\x44\x01\x45\x01\x51\x01\x53\x01\x54\x01\x5c\x1b\x7f)",
       "%RBINumCopies"},
      {FixturePpd("tbcp.ppd"), "(\x01\x41\x01\x43\x01\x44\x01\x45\x01\x51\x01\x53\x01\x54\x01\x5c\x01\x5b\x7f)",
       "\x01M%RBINumCopies"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ppd);
    PsconvResult r = RunPsconv({DscDoc(1, data + " pop\n"), "", c.ppd});
    ASSERT_EQ(r.rc, 0);
    EXPECT_NE(r.out.find(c.quoted + " pop\n"), std::string::npos);
    EXPECT_NE(r.out.find("%!PS-Adobe-3.0\n" + c.start), std::string::npos);
  }
}

// What stands in for the document's showpage while the filter draws
// banners, and the end of a document whose pages the filter cannot see.
const char kShowpageWrap[] =
    "userdict/VRNshowpage/showpage load put\n"
    "userdict/VRNpaged false put userdict/VRNshown false put\n"
    "userdict/showpage{VRNpaged not{gsave\nVRNwl\ngrestore\nVRNshowpage userdict/VRNshown true put}if}put\n";
const char kUnpagedEnd[] = "VRNshown not{gsave\nVRNwl\ngrestore\nVRNshowpage}if userdict/VRNshown false put\n";

TEST(Psconv, DocumentsWithoutPageStructure) {
  const std::string demo = DemoPpd();
  const struct {
    const char* what;
    std::string doc;
    const char* options;
    const char* copies;
    const char* pages_line;
    int shown;
    const char* page_lines;
    bool wrapped;
  } cases[] = {
      {"plain PostScript is one page", "%!\n72 500 moveto (Page 1) show showpage\n", "", "1", "%%Pages: 1\n", 1,
       "1 1", false},
      {"EPS is one page with the filter's showpage",
       "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 100 100\n(Page 1) show\n", "", "1", "%%Pages: 1\n", 1, "1 1",
       true},
      {"a label keeps every page of plain PostScript", "%!\n(Page 1) show showpage (Page 2) show showpage\n",
       "page-label=x", "1", "%%Pages: 1\n", 2, "1 1", true},
      {"collated copies repeat the document", "%!\n(Page 1) show showpage\n", "Collate=True", "3",
       "%%Pages: 3\n", 3, "1 1|1 1|1 1", false},
      {"collated copies with banners", "%!\n(Page 1) show showpage\n", "Collate=True number-up=2", "2",
       "%%Pages: 2\n", 2, "1 1|1 1", true},
      {"uncollated copies are counted once", "%!\n(Page 1) show showpage\n", "", "3", "%%Pages: 1\n", 1, "1 3",
       false},
  };
  for (const auto& c : cases) {
    for (bool from_file : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (from_file ? ", from a file" : ", from a stream"));
      PsconvCall call{c.doc, c.options, demo};
      call.copies = c.copies;
      call.from_file = from_file;
      PsconvResult r = RunPsconv(call);
      ASSERT_EQ(r.rc, 0) << r.status;
      EXPECT_NE(r.out.find(c.pages_line), std::string::npos);
      EXPECT_EQ(int(PagesShown(r.out).size()), c.shown);
      EXPECT_EQ(PageLines(r.status), c.page_lines);
      EXPECT_EQ(r.out.find(kShowpageWrap) != std::string::npos, c.wrapped);
      // Each copy ends with the page the document may not have ended.
      EXPECT_EQ(CountOf(r.out, kUnpagedEnd), c.wrapped ? std::atoi(c.copies) : 0);
      EXPECT_EQ(r.out.find("%%EOF"), std::string::npos);  // only DSC documents get one
    }
  }
}

// A DSC header without page comments: the filter never sees a page, so the
// document's showpage keeps ending pages, with their banners.
TEST(Psconv, DscDocumentWithoutPageComments) {
  const std::string doc = "%!PS-Adobe-3.0\n%%Title: x\n%%EndComments\n(Page 1) show showpage\n"
                          "(Page 2) show showpage\n%%EOF\n";
  PsconvResult r = RunPsconv({doc, "page-label=Draft"});
  ASSERT_EQ(r.rc, 0);
  EXPECT_NE(r.out.find(std::string(kShowpageWrap) + "(Page 1)"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("userdict/VRNpaged true put"), std::string::npos);
  EXPECT_NE(r.out.find(std::string(kUnpagedEnd) + "%%Trailer\n%%Pages: 0\n"), std::string::npos) << r.out;
  EXPECT_NE(r.status.find("DEBUG: No page of the document was selected\n"), std::string::npos);
}

TEST(Psconv, PjlHeaderIsSkipped) {
  const std::string pjl = "\x1b%-12345X@PJL JOB NAME=\"x\"\r\n@PJL SET RESOLUTION=600\r\n"
                          "@PJL ENTER LANGUAGE=POSTSCRIPT\r\n";
  PsconvResult r = RunPsconv({pjl + DscDoc(3), "page-ranges=2"});
  ASSERT_EQ(r.rc, 0);
  EXPECT_NE(r.status.find("DEBUG: Skipping PJL header...\n"), std::string::npos);
  EXPECT_EQ(r.out.find(pjl + "%!PS-Adobe-3.0\n%RBINumCopies: 1\n%%Pages: (atend)\n"), 0u) << r.out.substr(0, 200);
  EXPECT_EQ(PagesShown(r.out), std::vector<int>{2});  // the DSC path
  // Two PJL blocks in a row.
  r = RunPsconv({pjl + pjl + DscDoc(2), ""});
  EXPECT_EQ(PagesShown(r.out), (std::vector<int>{1, 2}));
  EXPECT_EQ(r.out.find(pjl + pjl + "%!PS-Adobe-3.0\n"), 0u);
}

TEST(Psconv, CountedBinaryDataIsNotParsed) {
  const std::string binary = "%%Page: 9 9\n\x04\n%%EOF";  // 19 bytes that look like structure
  std::string doc = DscDoc(2, "%%BeginData: 19 Binary Bytes\n" + binary + "\n%%EndData\n");
  PsconvResult r = RunPsconv({doc, "page-ranges=2"});
  ASSERT_EQ(r.rc, 0) << r.status;
  EXPECT_EQ(PagesShown(r.out), std::vector<int>{2});
  EXPECT_EQ(CountOf(r.out, binary), 1);
  EXPECT_NE(r.out.find("%%Trailer\n%%Pages: 1\n"), std::string::npos);

  // Hex data is text and is parsed as lines.
  doc = DscDoc(2, "%%BeginData: 1 Hex Lines\n%%Page: 3 3\n%%EndData\n");
  r = RunPsconv({doc, ""});
  EXPECT_EQ(CountOf(r.out, "\n%%Page: "), 4);

  // The document ends inside the counted bytes.
  doc = "%!PS-Adobe-3.0\n%%Page: 1 1\n%%BeginBinary: 5000\nshort";
  r = RunPsconv({doc, ""});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.status.find("ERROR: Early end-of-file while reading binary data"), std::string::npos);
}

TEST(Psconv, EmbeddedDocumentsKeepTheirPages) {
  const std::string inner = "%%BeginDocument: inner.ps\n%!PS-Adobe-3.0\n%%Page: 1 1\n(inner) pop\n%%EOF\n"
                            "%%EndDocument\n";
  PsconvResult r = RunPsconv({DscDoc(2, inner), ""});
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(PagesShown(r.out), (std::vector<int>{1, 2}));
  EXPECT_EQ(CountOf(r.out, "(inner) pop\n"), 2);
  // The inner page comments travel inside the outer pages.
  EXPECT_EQ(CountOf(r.out, "\n%%Page: 1 1\n(inner) pop\n"), 2);
  EXPECT_NE(r.out.find("%%Trailer\n%%Pages: 2\n"), std::string::npos);
  EXPECT_TRUE(r.out.ends_with("%%EOF\n"));
}

TEST(Psconv, TrailerAndEndOfDocument) {
  const struct {
    const char* what;
    const char* options;
  } cases[] = {{"every page", ""}, {"the last page left out", "page-ranges=1"}, {"reversed", "OutputOrder=Reverse"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PsconvResult r = RunPsconv({DscDoc(2, "", "%%Pages: 2\n(trailer code) pop\n"), c.options, DemoPpd()});
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(CountOf(r.out, "(trailer code) pop\n"), 1);
    EXPECT_EQ(CountOf(r.out, "%%Pages: "), 2);  // "(atend)" and ours: the document's count is dropped
    EXPECT_EQ(CountOf(r.out, "%%EOF\n"), 1);
    EXPECT_TRUE(r.out.ends_with("%%EOF\n\x04")) << r.out.substr(r.out.size() - 40);
  }
}

TEST(Psconv, BannersWrapShowpage) {
  const struct {
    const char* options;
    const char* classification;
    const char* label_line;
    int showpages;
  } cases[] = {
      {"", nullptr, nullptr, 0},
      {"page-label=Draft", nullptr, "userdict/VRNpl(Draft)put\n", 3},
      {"", "secret", "userdict/VRNpl(SECRET)put\n", 3},
      {"", "none", nullptr, 3},  // set at all, it wraps showpage; the banner is empty
      {"page-border=single", nullptr, nullptr, 3},
      {"number-up=2 page-label=x", nullptr, "userdict/VRNpl(x)put\n", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.options) + " " + (c.classification ? c.classification : ""));
    PsconvCall call{DscDoc(3), c.options};
    call.classification = c.classification;
    PsconvResult r = RunPsconv(call);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(CountOf(r.out, "VRNshowpage\n"), c.showpages);
    if (c.label_line)
      EXPECT_NE(r.out.find(c.label_line), std::string::npos);
    else
      EXPECT_NE(r.out.find("userdict/VRNwl{}bind put\n"), std::string::npos);
    if (c.showpages) {
      // The document's showpage gives way before its first code line, the
      // filter's takes over at the first sheet, and it is given back in the
      // trailer.
      EXPECT_LT(r.out.find(kShowpageWrap), r.out.find("/F {"));
      EXPECT_LT(r.out.find("userdict/VRNpaged true put\n%%Page: 1 1\n"), r.out.find("(Page 1)"));
      EXPECT_NE(r.out.find("%%Trailer\n%%Pages: " + std::to_string(c.showpages) +
                           "\nuserdict/showpage/VRNshowpage load put\n\n"),
                std::string::npos);
    }
  }
}

TEST(Psconv, RotationCommentTurnsTheFrame) {
  std::string doc = DscDoc(1);
  doc.insert(doc.find("%%EndComments"), "%vornRotation: 90\n");
  PsconvResult r = RunPsconv({doc, "number-up=4"});
  ASSERT_EQ(r.rc, 0);
  EXPECT_EQ(r.out.find("%vornRotation"), std::string::npos);
  // The sheet is now 792 wide and the page is placed turned.
  EXPECT_NE(r.out.find("userdict/VRNsave save put\n612.0 0.0 translate 90 rotate\n36.0 18.0 translate\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("0 0 792.0 612.0 VRNrc\n"), std::string::npos);
  // Already landscape: nothing changes.
  r = RunPsconv({doc, "landscape number-up=4"});
  EXPECT_NE(r.out.find("0 0 792.0 612.0 VRNrc\n"), std::string::npos);
}

TEST(Psconv, OutOfRangeOptionsFallBack) {
  const struct {
    const char* options;
    const char* copies;
    const char* debug;
    int sheets;  // of a 4-page document
  } cases[] = {
      {"number-up=3", "1", "DEBUG: number-up 3 is not supported, printing 1 page per sheet\n", 4},
      {"number-up=0", "1", "DEBUG: number-up 0 is not supported", 4},
      {"number-up=-4", "1", "DEBUG: number-up -4 is not supported", 4},
      {"number-up=4x", "1", "", 1},  // the leading number counts
      {"gamma=0", "1", "DEBUG: gamma 0 is out of range, ignoring it\n", 4},
      {"brightness=-5", "1", "DEBUG: brightness -5 is out of range, ignoring it\n", 4},
      {"", "0", "DEBUG: copies 0 is out of range, printing 1 copy\n", 4},
      {"", "-3", "DEBUG: copies -3 is out of range", 4},
      {"", "99999999999999999999", "DEBUG: copies 99999999999999999999 is out of range", 4},
      {"number-up=99999999999999999999", "1", "DEBUG: number-up 99999999999999999999 is not supported", 4},
      {"page-left=500 page-right=500", "1", "DEBUG: Margins leave no imageable area, ignoring them\n", 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.options) + " copies " + c.copies);
    PsconvCall call{DscDoc(4), c.options};
    call.copies = c.copies;
    PsconvResult r = RunPsconv(call);
    ASSERT_EQ(r.rc, 0);
    EXPECT_NE(r.status.find(c.debug), std::string::npos) << r.status;
    EXPECT_EQ(CountOf(r.out, "\n%%Page: "), c.sheets);
    EXPECT_EQ(r.out.find("settransfer"), std::string::npos);
    EXPECT_EQ(r.out.find("*NumCopies"), std::string::npos);
  }
}

// Whatever a document's comments hold, each echo is one status line that
// the scheduler reads as a DEBUG: message.
TEST(Psconv, CommentsCannotForgeStatusLines) {
  const std::string long_title = "%%Title: " + std::string(1100, 'A') + "PAGE: 99 99\n";
  const std::string control = std::string("%%For: ann\x01\x7f\0ERROR: no\n", 23);
  const std::string cr = "%%Creator: x\rERROR: after a carriage return\n";
  const std::string huge = "%%Subject: " + std::string(20000, 'B') + "STATE: +forged\n";
  std::string doc = DscDoc(1);
  doc.insert(doc.find("%%EndComments"), long_title + control + cr + huge);
  PsconvResult r = RunPsconv({doc, ""});
  ASSERT_EQ(r.rc, 0);
  size_t at = 0;
  int lines = 0;
  while (at < r.status.size()) {
    size_t end = r.status.find('\n', at);
    ASSERT_NE(end, std::string::npos) << "the status stream ends inside a line";
    const std::string line = r.status.substr(at, end - at);
    SCOPED_TRACE(line.substr(0, 80));
    EXPECT_LT(line.size(), 1023u);
    EXPECT_TRUE(line.starts_with("DEBUG: ") || line == "PAGE: 1 1");
    EXPECT_EQ(line.find_first_of(std::string("\r\0", 2)), std::string::npos);
    at = end + 1;
    lines++;
  }
  EXPECT_GT(lines, 5);
  EXPECT_EQ(PageLines(r.status), "1 1");
  // The document itself keeps the comments whole.
  EXPECT_NE(r.out.find(long_title), std::string::npos);
  EXPECT_NE(r.out.find(huge.substr(0, 8191)), std::string::npos);
}

TEST(Psconv, EmptyDocument) {
  PsconvResult r = RunPsconv({"", ""});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.status.find("ERROR: Empty print file!\n"), std::string::npos);
}

}  // namespace
