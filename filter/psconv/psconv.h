// psconv: PostScript in, printer-ready PostScript out. Page selection, N-up,
// copies, collation and order done by the filter where the printer cannot,
// the printer's PPD code inserted, banners drawn, and the printer's binary
// protocol applied to the document bytes.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "filter/common/page-setup.h"
#include "vorn/options.h"
#include "vorn/ppd.h"

// One range of selected input pages, both ends included.
struct psconv_range_t {
  int first, last;
};

struct psconv_t {
  vorn_page_t page;
  ppd_file_t* ppd = nullptr;  // owned by the caller of psconv_setup

  int Copies = 1;
  bool Collate = false;
  bool reverse = false;  // OutputOrder=Reverse
  int PagesPerSheet = 1;
  int border = 0;        // 0 none, 2 single, 3 single-thick, 4 double, 5 double-thick
  int SheetOrder = 1;    // bit 1 top-to-bottom, bit 2 right-to-left, bit 4 columns first
  bool Flip = false;     // mirror
  bool Landscape = false;  // the PPD's landscape orientation turns +90 degrees
  bool has_ranges = false;
  std::vector<psconv_range_t> ranges;
  std::string page_set;  // "", "even" or "odd"
  float gamma = 1.0f, brightness = 1.0f;
  int bcp = 0;           // 0 none, 1 BCP, 2 TBCP
  bool wrap_showpage = false;
  bool emulate_collate = false, emulate_reverse = false, emulate_duplex = false;
  std::string label;     // page-label, empty when none
  bool has_label = false;

  int job_id = 0;
  std::string user, title;

  FILE* out = nullptr;     // the document
  FILE* status = nullptr;  // status lines
};

// Fills `job` from the copies and options arguments of the command line:
// the page set-up (opening the PPD named by the environment), then the
// options of psconv. The record returned is job.ppd.
vorn::ppd_file_ptr psconv_prepare(psconv_t& job, const char* copies, const char* options);

// Reads the options into `job` after page_setup_from_options has filled
// job.page and opened job.ppd. Values out of range keep the default and say
// so in a DEBUG: line.
void psconv_read_options(psconv_t& job, const vorn_options_t& options);

// Parses a page-ranges value; false when it holds no usable range.
bool parse_page_ranges(std::string_view text, std::vector<psconv_range_t>& ranges);

// Whether input page p (from 1) is printed.
bool page_selected(const psconv_t& job, int p);

// Writes `size` bytes of document data in the printer's protocol.
void write_bcp(const psconv_t& job, const char* data, size_t size);

// Placing input pages on a sheet: before and after the text of the page in
// slot n (n counts the pages placed in the document from 0).
void begin_nup_page(const psconv_t& job, int n, bool show_border);
void end_nup_page(const psconv_t& job, int n);

// The PPD's patch file and Prolog code.
void write_prolog(const psconv_t& job);
// Document set-up: PPD code, copies, transfer function, rectangle procedures.
void write_setup(const psconv_t& job, int copies, bool collate, bool slow_collate);
// Switches a BCP printer into binary mode before the job.
void write_bcp_setup_job(const psconv_t& job);

// Converts the document read from `in`. Returns the exit status: 0, or 1 on
// the errors that end the job (empty document, truncated binary data).
int psconv_run(psconv_t& job, FILE* in);

// Writes "DEBUG: <depth> <line>" for an echoed comment, cut and cleaned so
// that it stays one status line whatever the document holds.
void echo_comment(FILE* status, int depth, std::string_view line);
