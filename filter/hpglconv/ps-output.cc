// The PostScript document: header and prolog (with the HPGLprolog data
// file), the set-up of each page, the pen, font and line-type lines, and
// the trailer.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

#include "filter/common/ps-procs.h"
#include "filter/hpglconv/hpglconv.h"
#include "vorn/strings.h"

double ps_coord(double v) {
  if (!std::isfinite(v)) return 0;
  if (v > kMaxCoord) return kMaxCoord;
  if (v < -kMaxCoord) return -kMaxCoord;
  return v;
}

std::string_view point_text(char (&buf)[kPointText], hpgl_point_t p, const char* op) {
  const int n = std::snprintf(buf, sizeof(buf), "%.3f %.3f %s\n", ps_coord(p.x), ps_coord(p.y), op);
  return {buf, n > 0 ? std::min(size_t(n), sizeof(buf) - 1) : 0};
}

void write_point(hpgl_state_t& st, hpgl_point_t p, const char* op) {
  char buf[kPointText];
  const std::string_view text = point_text(buf, p, op);
  std::fwrite(text.data(), 1, text.size(), st.out);
}

bool write_prolog(hpgl_state_t& st) {
  const std::string path = st.datadir + "/data/HPGLprolog";
  FILE* prolog = std::fopen(path.c_str(), "r");
  if (!prolog) {
    std::fprintf(st.status, "ERROR: Unable to open HPGL prolog \"%s\" for reading - %s\n", path.c_str(),
                 std::strerror(errno));
    return false;
  }
  const vorn_page_t& pg = st.page;
  FILE* out = st.out;
  if (st.date.empty()) {
    char buf[256];
    time_t now = std::time(nullptr);
    struct tm tm_now;
    localtime_r(&now, &tm_now);
    // The date in the user's locale, whatever its form of the year.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-y2k"
    std::strftime(buf, sizeof(buf), "%c", &tm_now);
#pragma GCC diagnostic pop
    st.date = buf;
  }
  std::fputs("%!PS-Adobe-3.0\n", out);
  std::fprintf(out, "%%%%BoundingBox: %.0f %.0f %.0f %.0f\n", pg.PageLeft, pg.PageBottom, pg.PageRight, pg.PageTop);
  std::fputs("%%Pages: (atend)\n", out);
  std::fprintf(out, "%%%%LanguageLevel: %d\n", pg.LanguageLevel);
  std::fputs("%%DocumentData: Clean7Bit\n", out);
  std::fputs("%%DocumentSuppliedResources: procset hpglconv 1.1 0\n", out);
  std::fputs("%%DocumentNeededResources: font Courier Helvetica\n", out);
  std::fputs("%%Creator: hpglconv/VORN v1.1\n", out);
  // Header comments are one line each: a title or user name with a line
  // break in it must not end the comment.
  auto one_line = [](std::string s) {
    for (char& c : s)
      if (c == '\n' || c == '\r') c = ' ';
    return s.substr(0, 255);
  };
  std::fprintf(out, "%%%%CreationDate: %s\n", one_line(st.date).c_str());
  std::fprintf(out, "%%%%Title: %s\n", one_line(st.title).c_str());
  std::fprintf(out, "%%%%For: %s\n", one_line(st.user).c_str());
  std::fprintf(out, kRotationComment, (pg.Orientation & 3) * 90);
  std::fputs("%%EndComments\n%%BeginProlog\n", out);
  std::fprintf(out, "/DefaultPenWidth %.2f def\n", st.default_width_option * 72.0 / 25.4);
  std::fputs("3.0 setmiterlimit\n", out);
  if (st.black_plot)
    std::fputs("/setrgbcolor { pop pop pop } bind def\n", out);
  else if (!pg.ColourCapable)
    std::fputs("/setrgbcolor { 0.08 mul exch 0.61 mul add exch 0.31 mul add setgray } bind def\n\n", out);
  char line[1024];
  while (std::fgets(line, sizeof(line), prolog)) std::fputs(line, out);
  std::fclose(prolog);
  std::fputs("%%EndProlog\n", out);
  return true;
}

void write_pen_line(hpgl_state_t& st, int pen) {
  const hpgl_pen_t& p = st.pens[size_t(pen)];
  std::fprintf(st.out, "%.3f %.3f %.3f %.2f SP\n", p.rgb[0], p.rgb[1], p.rgb[2], p.width * st.PenWidthUnits);
}

void write_font_proc(hpgl_state_t& st, int which) {
  const hpgl_font_t& f = st.fonts[which];
  const char* family = f.typeface == 48 ? "Courier" : "Helvetica";
  const double h = f.height;
  std::fprintf(st.out, "/%s {\n\t/%s%s%s%s findfont\n\t[ %f %f %f %f 0.0 0.0 ] makefont\n\tsetfont\n} bind def\n",
               which ? "SA" : "SS", family, (f.weight || f.posture) ? "-" : "", f.weight ? "Bold" : "",
               f.posture ? "Oblique" : "", f.run * h, f.rise * h, -f.rise * h, f.run * h);
}

namespace {

// Dash and gap lengths of the fixed line types 1 to 8, in percent of the
// pattern length (a dash of 0 is a dot).
struct line_pattern_t {
  int count;
  double part[6];
};
const line_pattern_t kLinePatterns[8] = {
    {2, {0, 100}},                  // 1 dots
    {2, {50, 50}},                  // 2
    {2, {70, 30}},                  // 3
    {4, {80, 10, 0, 10}},           // 4 dash dot
    {4, {70, 10, 10, 10}},          // 5
    {6, {50, 10, 10, 10, 10, 10}},  // 6
    {6, {70, 10, 0, 10, 0, 10}},    // 7
    {6, {50, 10, 0, 10, 20, 10}},   // 8
};

}  // namespace

void write_line_type(hpgl_state_t& st) {
  if (st.line_type == 0) {
    std::fputs("[] 0 setdash\n", st.out);
    return;
  }
  const line_pattern_t& lp = kLinePatterns[std::abs(st.line_type) - 1];
  const double dx = (st.P2.x - st.P1.x) * 72.0 / 1016.0, dy = (st.P2.y - st.P1.y) * 72.0 / 1016.0;
  double length = std::hypot(dx, dy) * st.pattern_length / 100.0;
  if (!std::isfinite(length) || length < 0.5) length = 0.5;
  if (length > 1000) length = 1000;
  std::fputs("[", st.out);
  for (int i = 0; i < lp.count; i++) std::fprintf(st.out, "%s%.2f", i ? " " : "", lp.part[i] * length / 100.0);
  std::fputs("] 0 setdash\n", st.out);
}

namespace {

// The page size feature for a plot size set by PS. True when the size
// chosen is the plot turned by a quarter.
bool write_page_size(hpgl_state_t& st) {
  vorn_page_t& pg = st.page;
  const double w = st.PlotArea[0], l = st.PlotArea[1];
  std::fprintf(st.status, "DEBUG: hpglconv setting page size (%.0f x %.0f)\n", w, l);
  FILE* out = st.out;
  if (!st.ppd) {
    std::fputs("DEBUG: hpglconv does not have a PPD file!\n", st.status);
    std::fputs("%%BeginPageSetup\n", out);
    std::fprintf(out, "%%%%BeginFeature: PageSize w%.0fh%.0f\n", w, l);
    std::fprintf(out, "<</PageSize[%.0f %.0f]/ImageBBox null>>setpagedevice\n", w, l);
    std::fputs("%%EndFeature\n%%EndPageSetup\n", out);
    pg.PageLeft = 0;
    pg.PageRight = float(w);
    pg.PageBottom = 0;
    pg.PageTop = float(l);
    pg.PageWidth = float(w);
    pg.PageLength = float(l);
    return false;
  }
  std::fputs("DEBUG: hpglconv has a PPD file!\n", st.status);
  const ppd_size_t* chosen = nullptr;
  bool turned = false;
  for (const ppd_size_t& s : st.ppd->sizes) {
    if (vorn::iequals(s.name, "custom")) continue;
    if (std::fabs(l - s.length) < 36 && s.width >= w) {
      chosen = &s;
      break;
    }
    if (std::fabs(l - s.width) < 36 && s.length >= w) {
      chosen = &s;
      turned = true;
      break;
    }
  }
  if (!chosen && st.ppd->variable_sizes) {
    for (const ppd_size_t& s : st.ppd->sizes)
      if (vorn::iequals(s.name, "custom")) chosen = &s;
  }
  if (!chosen) return false;

  const ppd_option_t* option = ppdFindOption(st.ppd, "PageSize");
  const ppd_choice_t* choice = option ? ppdFindChoice(option, chosen->name) : nullptr;
  std::fputs("%%BeginPageSetup\n", out);
  std::fprintf(out, "%%%%BeginFeature: PageSize %s\n", chosen->name.c_str());
  if (vorn::iequals(chosen->name, "custom")) {
    const float* m = st.ppd->custom_margins;
    pg.PageLeft = m[0];
    pg.PageRight = float(w) - m[2];
    pg.PageBottom = m[1];
    pg.PageTop = float(l) - m[3];
    pg.PageWidth = float(w);
    pg.PageLength = float(l);
    std::fprintf(out, "%.0f %.0f 0 0 0\n", w, l);
    if (choice && !choice->code.empty())
      std::fprintf(out, "%s\n", choice->code.c_str());
    else
      std::fputs("pop pop pop\n<</PageSize[5 -2 roll]/ImagingBBox null>>setpagedevice\n", out);
  } else {
    if (choice && !choice->code.empty()) std::fprintf(out, "%s\n", choice->code.c_str());
    if (turned) {
      pg.PageLeft = chosen->bottom;
      pg.PageRight = chosen->top;
      pg.PageBottom = chosen->left;
      pg.PageTop = chosen->right;
      pg.PageWidth = chosen->length;
      pg.PageLength = chosen->width;
    } else {
      pg.PageLeft = chosen->left;
      pg.PageRight = chosen->right;
      pg.PageBottom = chosen->bottom;
      pg.PageTop = chosen->top;
      pg.PageWidth = chosen->width;
      pg.PageLength = chosen->length;
    }
  }
  std::fputs("%%EndFeature\n%%EndPageSetup\n", out);
  return turned;
}

}  // namespace

void write_page_start(hpgl_state_t& st) {
  if (st.PageHasInk) return;
  st.PageHasInk = true;
  st.page_count++;
  FILE* out = st.out;
  std::fprintf(out, "%%%%Page: %d %d\n", st.page_count, st.page_count);
  bool turned_size = false;
  if (!st.fit_plot && st.plot_size_set) turned_size = write_page_size(st);
  write_font_proc(st, 1);
  write_font_proc(st, 0);
  std::fputs(st.current_font ? "SA\n" : "SS\n", out);
  std::fprintf(out, "%.1f setmiterlimit\n", st.miter_limit);
  std::fprintf(out, "%d setlinecap\n", st.line_cap);
  std::fprintf(out, "%d setlinejoin\n", st.line_join);
  write_pen_line(st, 1);
  std::fputs("gsave\n", out);

  const vorn_page_t& pg = st.page;
  const bool even = (st.page_count % 2) == 0;
  if (!even || !pg.Duplex) {
    if (turned_size) {
      std::fprintf(out, "%.0f 0 translate 90 rotate\n", pg.PageLength);
      std::fprintf(out, "%.1f %.1f translate\n", pg.PageBottom, pg.PageWidth - pg.PageRight);
    } else {
      std::fprintf(out, "%.1f %.1f translate\n", pg.PageLeft, pg.PageBottom);
    }
  } else if (turned_size) {
    std::fprintf(out, "%.0f 0 translate 90 rotate\n", pg.PageLength);
    std::fprintf(out, "%.1f %.1f translate\n", pg.PageLength - pg.PageTop, pg.PageWidth - pg.PageRight);
  } else {
    std::fprintf(out, "%.1f %.1f translate\n", pg.PageWidth - pg.PageRight, pg.PageBottom);
  }
  write_window_clip(st);
  // The selected pen and line type are in force from the first line on.
  if (st.pen_number != 1) write_pen_line(st, st.pen_number);
  if (st.line_type != 0) write_line_type(st);
}

void write_trailer(hpgl_state_t& st) {
  hpgl_params none;
  cmd_PG(st, none);
  std::fputs("%%Trailer\n", st.out);
  std::fprintf(st.out, "%%%%Pages: %d\n", st.page_count);
  std::fputs("%%EOF\n", st.out);
}
