// The document pass of psconv: the set-up before the document, the path for
// documents without page structure, and the DSC path (header, pages, the
// replay of recorded pages for reverse order and collated copies, trailer).
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "filter/common/ps-procs.h"
#include "filter/psconv/page-store.h"
#include "filter/psconv/ps-reader.h"
#include "filter/psconv/psconv.h"

namespace {

bool starts(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

struct run_t {
  psconv_t& job;
  ps_reader_t rd;
  page_store_t store;
  bool failed = false;   // a counted binary section ended early
  bool saw_eof = false;
  int depth = 0;
  int out_page = 1;      // the number of the next output sheet
  int num_pages = 0;     // selected input pages recorded
  long first_at = 0;     // where the line that decides the document kind starts
  bool paged = false;    // a sheet has been opened: showpage is the filter's

  run_t(psconv_t& j, FILE* in) : job(j), rd(in) {}

  bool no_filters() const { return !job.ppd || job.ppd->filters.empty(); }

  void put(std::string_view s) { std::fwrite(s.data(), 1, s.size(), job.out); }
  void putl(const char* s) {
    std::fputs(s, job.out);
    std::fputc('\n', job.out);
  }

  // Document bytes: to the printer unless they are only recorded, and to the
  // page store when one is in use.
  void data(const char* p, size_t n, bool to_output) {
    if (to_output) write_bcp(job, p, n);
    store.put(p, n);
  }

  // Copies the counted bytes of a binary section. False (after the error
  // message) when the document ends first.
  bool copy_binary(std::string_view line, bool to_output, bool keep) {
    size_t colon = line.find(':');
    long count = colon == std::string_view::npos ? 0 : std::strtol(std::string(line.substr(colon + 1)).c_str(), nullptr, 10);
    char block[8192];
    while (count > 0) {
      size_t want = count > long(sizeof(block)) ? sizeof(block) : size_t(count);
      size_t got = rd.read_bytes(block, want);
      if (got == 0) {
        std::fprintf(job.status, "ERROR: Early end-of-file while reading binary data - %s\n",
                     std::strerror(errno ? errno : EIO));
        failed = true;
        return false;
      }
      if (keep) data(block, got, to_output);
      count -= long(got);
    }
    return true;
  }

  static bool is_binary_start(std::string_view l) {
    if (starts(l, "%%BeginBinary:")) return true;
    return starts(l, "%%BeginData:") && l.find("ASCII") == std::string_view::npos &&
           l.find("Hex") == std::string_view::npos;
  }
  static bool is_begin_document(std::string_view l) {
    return starts(l, "%%BeginDocument:") || starts(l, "%%BeginDocument ");
  }
  static bool is_eot(std::string_view l) { return strip_eol(l) == "\x04"; }

  // The document's showpage gives way to the filter's, which ends each
  // sheet. Until the first sheet is opened (VRNpaged), and in documents
  // without pages, showpage still ends a page, with its banners: a document
  // whose pages the filter cannot see loses none of them.
  void showpage_redefinition(bool with_procs) {
    // In a DSC header the document's code may run before our prolog and
    // set-up: the banner needs its procedures defined already.
    if (with_procs) {
      write_rect_procs(job.out);
      write_sheet_label_proc();
    }
    putl("userdict/VRNshowpage/showpage load put");
    putl("userdict/VRNpaged false put userdict/VRNshown false put");
    put("userdict/showpage{VRNpaged not{");
    write_page_labels(job.out, job.page, job.page.Orientation);
    putl("VRNshowpage userdict/VRNshown true put}if}put");
  }
  // The banner procedure for the sheets of this job: along the long side of
  // the sheet for 2-up and 6-up.
  void write_sheet_label_proc() {
    const vorn_page_t& pg = job.page;
    const char* label = job.has_label ? job.label.c_str() : nullptr;
    if (job.PagesPerSheet == 2 || job.PagesPerSheet == 6) {
      if (pg.Orientation & 1)
        write_label_proc(job.out, label, pg.PageBottom, pg.PageWidth - pg.PageLength + pg.PageTop, pg.PageLength);
      else
        write_label_proc(job.out, label, pg.PageLeft, pg.PageRight, pg.PageLength);
    } else {
      write_label_proc(job.out, label, pg.PageBottom, pg.PageTop, pg.PageWidth);
    }
  }

  // The banners and the end of the page, unless the document's showpage
  // has ended it already.
  void end_unpaged() {
    put("VRNshown not{");
    write_page_labels(job.out, job.page, job.page.Orientation);
    putl("VRNshowpage}if userdict/VRNshown false put");
  }

  // "PAGE:", "%%Page:" and the PPD's page set-up for a new sheet.
  void open_sheet(int count) {
    if (job.wrap_showpage && !paged) {
      putl("userdict/VRNpaged true put");
      paged = true;
    }
    if (no_filters()) std::fprintf(job.status, "PAGE: %d %d\n", out_page, count);
    std::fprintf(job.out, "%%%%Page: %d %d\n", out_page, out_page);
    out_page++;
    ppdEmit(job.ppd, job.out, PPD_ORDER_PAGE);
  }

  int sheet_count() const { return job.emulate_collate ? 1 : job.Copies; }

  void close_partial_sheet(int pages) {
    const int per = job.PagesPerSheet;
    if (per > 1 && pages % per != 0) {
      begin_nup_page(job, per - 1, false);
      end_nup_page(job, per - 1);
    }
  }

  void blank_sheet(int count) {
    const int per = job.PagesPerSheet;
    open_sheet(count);
    begin_nup_page(job, per - 1, false);
    putl("showpage");
    end_nup_page(job, per - 1);
  }

  void copy_page_from_store(int i) {
    store.copy(size_t(i), [this](const char* p, size_t n) { write_bcp(job, p, n); });
  }

  // Where the page that is being read ends: at the current line, or at the
  // end of the document.
  long page_end() const { return store.position(rd.length > 0 ? rd.line_offset : rd.consumed); }

  void non_conforming(std::string_view first);
  void conforming();
  bool header();
  void pages();
  void after_pages();
  void trailer();
};

void run_t::non_conforming(std::string_view first) {
  if (job.emulate_collate && job.Copies > 1)
    std::fprintf(job.out, "%%%%Pages: %d\n", job.Copies);
  else
    putl("%%Pages: 1");
  if (job.wrap_showpage) showpage_redefinition(false);
  putl("%%BeginProlog");
  write_label_proc(job.out, job.has_label ? job.label.c_str() : nullptr, job.page.PageBottom, job.page.PageTop,
                   job.page.PageWidth);
  write_prolog(job);
  putl("%%EndProlog");
  putl("%%BeginSetup");
  write_setup(job, job.Copies, job.Collate, job.emulate_collate);
  putl("%%EndSetup");

  const bool collate = job.emulate_collate && job.Copies > 1 && store.active();
  if (no_filters()) std::fprintf(job.status, "PAGE: 1 %d\n", sheet_count());
  ppdEmit(job.ppd, job.out, PPD_ORDER_PAGE);
  // The first line went out before the header; the copies need it too.
  if (collate) {
    store.open_span(store.position(first_at));
    store.put(first.data(), first.size());
  }
  char block[8192];
  size_t got;
  while ((got = rd.read_bytes(block, sizeof(block))) > 0) {
    write_bcp(job, block, got);
    if (collate) store.put(block, got);
  }
  if (job.wrap_showpage) end_unpaged();
  if (collate) {
    store.close_span(store.position(rd.consumed));
    store.map_all();
    for (int c = 1; c < job.Copies; c++) {
      if (no_filters()) std::fputs("PAGE: 1 1\n", job.status);
      ppdEmit(job.ppd, job.out, PPD_ORDER_PAGE);
      copy_page_from_store(0);
      if (job.wrap_showpage) end_unpaged();
    }
  }
}

// The header up to the first page. True when a "%%Page:" line is held in
// the reader for the page part.
bool run_t::header() {
  putl("%%Pages: (atend)");
  bool saw_prolog = false, saw_setup = false, redefined = false;
  while (rd.read_line() >= 0) {
    std::string_view l = rd.view();
    if (depth == 0 && starts(l, "%%Page:")) break;
    if (starts(l, "%%")) echo_comment(job.status, depth, l);
    if (job.wrap_showpage && !redefined && !strip_eol(l).empty() && l[0] != '%') {
      showpage_redefinition(true);
      redefined = true;
    }
    if (is_begin_document(l)) {
      put(l);
      depth++;
    } else if (starts(l, "%%EndDocument") && depth > 0) {
      put(l);
      depth--;
    } else if (depth == 0 && starts(l, kRotationPrefix)) {
      long degrees = std::strtol(std::string(l.substr(kRotationPrefix.size())).c_str(), nullptr, 10);
      int r = int((degrees % 360) / 90) & 3;
      if (r != job.page.Orientation) {
        job.page.Orientation = (r - job.page.Orientation) & 3;
        rotate_page_frame(job.page);
        job.page.Orientation = r;
      }
    } else if (depth == 0 && starts(l, "%%BeginProlog")) {
      put(l);
      if (!saw_prolog) write_prolog(job);
      saw_prolog = true;
    } else if (depth == 0 && starts(l, "%%BeginSetup")) {
      put(l);
      if (!saw_setup) write_setup(job, job.Copies, job.Collate, job.emulate_collate);
      saw_setup = true;
    } else if (is_binary_start(l)) {
      put(l);
      if (!copy_binary(l, true, true)) return false;
    } else if (!starts(l, "%%Pages:")) {
      write_bcp(job, l.data(), l.size());
    }
  }
  const bool held = rd.length > 0 && starts(rd.view(), "%%Page:") && depth == 0;

  if (!saw_prolog) {
    putl("%%BeginProlog");
    write_prolog(job);
    putl("%%EndProlog");
  }
  if (!saw_setup) {
    putl("%%BeginSetup");
    write_setup(job, job.Copies, job.Collate, job.emulate_collate);
    putl("%%EndSetup");
  }
  if (!redefined && job.wrap_showpage) showpage_redefinition(false);

  write_sheet_label_proc();
  return held;
}

void run_t::pages() {
  int p = 1;
  bool have = true;  // the held "%%Page:" line is in the reader
  const bool out_now = !job.emulate_reverse;
  while (have || rd.read_line() >= 0) {
    have = false;
    std::string_view l = rd.view();
    // Most lines are page content: only comments and a lone 0x04 are looked
    // at more closely.
    if (l[0] != '%') {
      if (l[0] == 0x04 && is_eot(l)) return store.close_span(page_end());
      data(l.data(), l.size(), out_now);
      continue;
    }
    if (starts(l, "%%")) echo_comment(job.status, depth, l);
    if (is_begin_document(l)) {
      depth++;
      continue;
    }
    if (starts(l, "%%EndDocument") && depth > 0) {
      depth--;
      continue;
    }
    if (depth == 0 && starts(l, "%%EOF")) {
      std::fputs("DEBUG: Saw EOF!\n", job.status);
      saw_eof = true;
      return store.close_span(page_end());
    }
    if (depth == 0 && starts(l, "%%Trailer")) {
      std::fputs("DEBUG: Saw Trailer!\n", job.status);
      return store.close_span(page_end());
    }
    if (depth == 0 && starts(l, "%%Page:")) {
      store.close_span(page_end());
      if (!page_selected(job, p)) {
        // Skip to the next page; the trailer and the end of the document
        // still count, so that what follows the pages is not lost.
        p++;
        while (rd.read_line() >= 0) {
          std::string_view s = rd.view();
          if (s[0] != '%' && s[0] != 0x04) continue;
          if (is_begin_document(s)) {
            depth++;
          } else if (starts(s, "%%EndDocument") && depth > 0) {
            depth--;
          } else if (is_binary_start(s)) {
            if (!copy_binary(s, false, false)) return store.close_span(page_end());
          } else if (depth == 0 &&
                     (starts(s, "%%Page:") || starts(s, "%%Trailer") || starts(s, "%%EOF") || is_eot(s))) {
            have = true;
            break;
          }
        }
        if (!have) return;
        continue;  // the held line is handled as page p, already counted on
      }
      if (out_now && num_pages > 0) end_nup_page(job, num_pages - 1);
      if (store.active()) store.open_span(store.position(rd.consumed));
      if (out_now) {
        if (job.PagesPerSheet == 1 || num_pages % job.PagesPerSheet == 0) open_sheet(sheet_count());
        begin_nup_page(job, num_pages, true);
      }
      num_pages++;
      p++;
      continue;
    }
    if (is_binary_start(l)) {
      data(l.data(), l.size(), out_now);
      if (!copy_binary(l, out_now, true)) return store.close_span(page_end());
      continue;
    }
    data(l.data(), l.size(), out_now);
  }
  store.close_span(page_end());
}

void run_t::after_pages() {
  const int per = job.PagesPerSheet;
  if (num_pages == 0) {
    std::fputs("DEBUG: No page of the document was selected\n", job.status);
  } else if (!job.emulate_reverse) {
    end_nup_page(job, num_pages - 1);
    close_partial_sheet(num_pages);
    if (job.page.Duplex && out_page % 2 == 0) blank_sheet(sheet_count());
  }
  if (!store.active() || num_pages == 0) return;
  store.map_all();

  if (job.emulate_reverse) {
    const int sheets = (num_pages + per - 1) / per;
    std::fprintf(job.status, "DEBUG: page_count=%d\n", sheets);
    const int passes = job.emulate_collate ? job.Copies : 1;
    for (int c = 0; c < passes; c++) {
      const int first = (job.page.Duplex && (sheets & 1)) ? sheets : sheets - 1;
      for (int s = first; s >= 0; s--) {
        open_sheet(sheet_count());
        if (s == sheets) {
          begin_nup_page(job, per - 1, false);
          putl("showpage");
          end_nup_page(job, per - 1);
          continue;
        }
        int i = s * per;
        for (; i < (s + 1) * per && i < num_pages; i++) {
          begin_nup_page(job, i, true);
          copy_page_from_store(i);
          end_nup_page(job, i);
        }
        close_partial_sheet(i);
      }
    }
  } else if (job.emulate_collate && job.Copies > 1) {
    for (int c = 1; c < job.Copies; c++) {
      for (int i = 0; i < num_pages; i++) {
        if (per == 1 || i % per == 0) open_sheet(1);
        begin_nup_page(job, i, true);
        copy_page_from_store(i);
        end_nup_page(job, i);
      }
      close_partial_sheet(num_pages);
      // Each copy starts on a front side.
      if (job.page.Duplex && out_page % 2 == 0) blank_sheet(1);
    }
  }
}

void run_t::trailer() {
  putl("%%Trailer");
  std::fprintf(job.out, "%%%%Pages: %d\n", out_page - 1);
  if (job.wrap_showpage) {
    putl("userdict/showpage/VRNshowpage load put");
    putl("");
  }
  if (saw_eof) return;
  while (rd.read_line() >= 0) {
    std::string_view l = rd.view();
    if (is_eot(l) || starts(l, "%%Pages:")) continue;
    if (starts(l, "%%EOF")) {
      std::fputs("DEBUG: Saw EOF!\n", job.status);
      saw_eof = true;
      break;
    }
    write_bcp(job, l.data(), l.size());
  }
}

void run_t::conforming() {
  const bool held = header();
  if (failed) return;
  if (held) pages();
  // Without page comments the document's own showpage ended its pages.
  if (!held && job.wrap_showpage) end_unpaged();
  if (failed) return;
  after_pages();
  trailer();
}

bool begins_uel(std::string_view l) { return starts(l, "\x1b%-12345X"); }

}  // namespace

int psconv_run(psconv_t& job, FILE* in) {
  run_t run(job, in);
  FILE* out = job.out;
  ppd_file_t* ppd = job.ppd;

  job.emulate_duplex = ppd && ppd->manual_copies && job.page.Duplex && job.Copies > 1;
  if (job.emulate_duplex) job.Collate = true;
  job.emulate_collate = job.Collate && job.Copies > 1 && !ppdFindOption(ppd, "Collate");
  job.emulate_reverse = job.reverse && !ppdFindOption(ppd, "OutputOrder");

  if (job.emulate_reverse || job.emulate_collate) {
    if (!run.store.use_source(in) && !run.store.open_temp()) {
      std::fprintf(job.status, "ERROR: Unable to open temp file - %s\n", std::strerror(errno));
      job.emulate_reverse = job.emulate_collate = false;
    }
  }

  if (const ppd_attr_t* a = ppdFindAttr(ppd, "vornProtocol", nullptr)) {
    if (a->value == "TBCP") {
      job.bcp = 2;
    } else if (a->value == "BCP") {
      job.bcp = 1;
      write_bcp_setup_job(job);
    }
  }

  ppdEmit(ppd, out, PPD_ORDER_EXIT);
  ppdEmitJCL(ppd, out, job.job_id, job.user.c_str(), job.title.c_str());

  if (run.rd.read_line() < 0) {
    std::fputs("ERROR: Empty print file!\n", job.status);
    return 1;
  }
  run.put(run.rd.view());
  if (begins_uel(run.rd.view())) {
    std::fputs("DEBUG: Skipping PJL header...\n", job.status);
    do {
      while (run.rd.view().find("ENTER LANGUAGE") == std::string_view::npos) {
        if (run.rd.read_line() < 0) break;
        run.put(run.rd.view());
      }
      if (run.rd.read_line() < 0) break;
      run.put(run.rd.view());
    } while (begins_uel(run.rd.view()));
  }
  const std::string first(run.rd.length > 0 ? run.rd.view() : std::string_view());
  run.first_at = run.rd.line_offset;

  if (job.bcp == 2) std::fwrite("\x01M", 1, 2, out);

  const vorn_page_t& pg = job.page;
  if (job.Copies == 1 || (job.Collate && job.emulate_collate)) {
    if (pg.Duplex) run.putl("%%Requirements: duplex");
    run.putl("%RBINumCopies: 1");
  } else {
    std::fprintf(out, "%%%%Requirements: numcopies(%d)%s%s\n", job.Copies, job.Collate ? " collate" : "",
                 pg.Duplex ? " duplex" : "");
    std::fprintf(out, "%%RBINumCopies: %d\n", job.Copies);
  }

  job.wrap_showpage = job.has_label || std::getenv("CLASSIFICATION") || job.PagesPerSheet > 1 || job.border ||
                      first.find("EPS") != std::string::npos;
  std::fprintf(job.status, "DEBUG: slowcollate=%d, slowduplex=%d, sloworder=%d\n", int(job.emulate_collate),
               int(job.emulate_duplex), int(job.emulate_reverse));

  const bool conforming = starts(first, "%!PS-Adobe-") && first.find("EPSF") == std::string::npos;
  if (conforming)
    run.conforming();
  else
    run.non_conforming(first);
  if (run.failed) return 1;

  // The document's own "%%EOF" was consumed where it ended the pages or the
  // trailer; the output always ends with one.
  if (conforming) run.putl("%%EOF");
  if (ppd) {
    if (!ppd->jcl_end.empty())
      std::fputs(ppd->jcl_end.c_str(), out);
    else if (ppd->filters.empty())
      std::fputc(0x04, out);
  }
  std::fflush(out);
  return 0;
}
