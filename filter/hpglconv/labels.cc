// Fonts and labels: the standard and alternate font, the label direction,
// character fill, character plot, the label terminator and the labels
// themselves, drawn as character outlines.
#include <algorithm>
#include <cmath>

#include "filter/common/ps-procs.h"
#include "filter/hpglconv/hpglconv.h"

namespace {

void define_font(hpgl_state_t& st, hpgl_params& p, int which) {
  hpgl_font_t& f = st.fonts[which];
  f.typeface = 48;
  f.posture = 0;
  f.weight = 0;
  f.height = 11.5f;
  if (which == 0) f.run = 1, f.rise = 0;
  const size_t n = count_numbers(p);
  for (size_t i = 0; i + 1 < n; i += 2) {
    const double v = num(p, i + 1);
    switch (int(std::clamp(num(p, i), -1.0, 100.0))) {
      case 4:
        // A height a page can show: from a hair to the largest page.
        if (v > 0 && v <= 14400)
          f.height = float(v);
        else
          std::fprintf(st.status, "DEBUG: HP-GL/2 font height %.0f ignored\n", std::clamp(v, -1e9, 1e9));
        break;
      case 5:
        f.posture = v != 0;
        break;
      case 6:
        f.weight = v != 0;
        break;
      case 7:
        f.typeface = int(std::clamp(v, -1.0, 100000.0));
        break;
      default:
        break;
    }
  }
  if (st.PageHasInk) write_font_proc(st, which);
}

}  // namespace

void cmd_AD(hpgl_state_t& st, hpgl_params& p) { define_font(st, p, 1); }
void cmd_SD(hpgl_state_t& st, hpgl_params& p) { define_font(st, p, 0); }

void cmd_DI(hpgl_state_t& st, hpgl_params& p) {
  hpgl_font_t& f = st.fonts[st.current_font];
  if (count_numbers(p) >= 2) {
    // A direction, not a size: (0, 0) has none and other lengths would
    // scale the text.
    const double run = num(p, 0), rise = num(p, 1), length = std::hypot(run, rise);
    if (length == 0 || !std::isfinite(length)) {
      std::fputs("DEBUG: HP-GL/2 'DI' without a direction ignored\n", st.status);
      return;
    }
    f.run = float(run / length);
    f.rise = float(rise / length);
  } else if (p.empty()) {
    f.run = 1;
    f.rise = 0;
  } else {
    return;
  }
  if (st.PageHasInk) {
    write_font_proc(st, st.current_font);
    std::fputs(st.current_font ? "SA\n" : "SS\n", st.out);
  }
}

void cmd_SA(hpgl_state_t& st, hpgl_params&) {
  st.current_font = 1;
  if (st.PageHasInk) std::fputs("SA\n", st.out);
}

void cmd_SS(hpgl_state_t& st, hpgl_params&) {
  st.current_font = 0;
  if (st.PageHasInk) std::fputs("SS\n", st.out);
}

void cmd_CF(hpgl_state_t& st, hpgl_params& p) {
  const size_t n = count_numbers(p);
  const int mode = n ? int(std::clamp(num(p, 0), -1.0, 4.0)) : 0;
  if (mode < 0 || mode > 3) {
    std::fprintf(st.status, "DEBUG: HP-GL/2 character fill mode %.0f ignored\n", std::clamp(num(p, 0), -1e9, 1e9));
    return;
  }
  st.char_fill_mode = mode;
  if (n >= 2) {
    const double pen = num(p, 1);
    if (pen >= 0 && pen <= st.pen_count && pen == std::floor(pen))
      st.edge_pen = int(pen);
    else
      std::fprintf(st.status, "DEBUG: HP-GL/2 'CF' edge pen %.0f ignored\n", std::clamp(pen, -1e9, 1e9));
  }
}

void cmd_CP(hpgl_state_t& st, hpgl_params& p) {
  if (count_numbers(p) < 2) return;
  const double spaces = num(p, 0), lines = num(p, 1);
  const double h = st.fonts[st.current_font].height;
  // A space is the advance of the fixed-pitch font labels use (0.6 of its
  // size), a line its height.
  const double w = 0.6 * h;
  switch (st.turned) {
    case 90:
      st.PenXY.x -= lines * h;
      st.PenXY.y += spaces * w;
      break;
    case 180:
      st.PenXY.x -= spaces * w;
      st.PenXY.y -= lines * h;
      break;
    case 270:
      st.PenXY.x += lines * h;
      st.PenXY.y -= spaces * w;
      break;
    default:
      st.PenXY.x += spaces * w;
      st.PenXY.y += lines * h;
      break;
  }
}

void cmd_DT(hpgl_state_t& st, hpgl_params& p) {
  st.label_terminator = (!p.empty() && p[0].type == 2 && !p[0].text.empty()) ? (unsigned char)p[0].text[0] : 3;
}

void cmd_LB(hpgl_state_t& st, hpgl_params& p) {
  if (p.empty() || p[0].type != 2) return;
  write_page_start(st);
  FILE* out = st.out;
  // The miter limit is set for the outlines and restored with the state.
  std::fputs("gsave\n1.0 setmiterlimit\nMP\n", out);
  if (st.turned == 0) {
    write_point(st, st.PenXY, "MO");
  } else {
    // A turned plot turns its labels too: the text runs along the plot's
    // x axis from the pen.
    std::fprintf(out, "%.3f %.3f translate %d rotate\n", ps_coord(st.PenXY.x), ps_coord(st.PenXY.y), st.turned);
    write_point(st, {0, 0}, "MO");
  }
  std::fprintf(out, "(%s) true charpath\n", ps_string_escape(p[0].text).c_str());
  // Filled and edged (3): the fill keeps the outline for the edge.
  if (st.char_fill_mode == 3)
    std::fputs("gsave FI grestore\n", out);
  else if (st.char_fill_mode != 1)
    std::fputs("FI\n", out);
  if (st.char_fill_mode == 1 || st.char_fill_mode == 3) {
    const hpgl_pen_t& e = st.pens[size_t(std::clamp(st.edge_pen, 0, st.pen_count))];
    std::fprintf(out, "%.3f %.3f %.3f %.2f SP ST\n", e.rgb[0], e.rgb[1], e.rgb[2], e.width * st.PenWidthUnits);
    write_pen_line(st, st.pen_number);
  }
  std::fputs("grestore\n", out);
}
