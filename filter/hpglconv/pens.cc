// Pens and line attributes: selection, count, colours, widths, width
// units, colour ranges, line ends and joins, line types. Every pen number
// and table index is checked before it is used.
#include <algorithm>
#include <cmath>

#include "filter/hpglconv/hpglconv.h"

namespace {

const float kDefaultColours[8][3] = {{1, 1, 1}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0},
                                     {1, 1, 0}, {0, 0, 1}, {1, 0, 1}, {0, 1, 1}};

// A pen number of the table, or -1 (with a DEBUG: line).
int checked_pen(hpgl_state_t& st, const char* cmd, double v) {
  if (v < 0 || v > st.pen_count || v != std::floor(v)) {
    std::fprintf(st.status, "DEBUG: HP-GL/2 '%s' pen %.0f ignored, pens are 0 to %d\n", cmd, v, st.pen_count);
    return -1;
  }
  return int(v);
}

void default_colour(hpgl_state_t& st, int pen) {
  const float* c = kDefaultColours[pen % 8];
  if (pen >= 8) c = kDefaultColours[1];
  std::copy(c, c + 3, st.pens[size_t(pen)].rgb);
}

}  // namespace

bool select_pen(hpgl_state_t& st, int n) {
  if (n < 0 || n > st.pen_count) {
    std::fprintf(st.status, "DEBUG: HP-GL/2 pen %d ignored, pens are 0 to %d\n", n, st.pen_count);
    return false;
  }
  st.pen_number = n;
  if (st.PageHasInk) write_pen_line(st, n);
  return true;
}

void cmd_SP(hpgl_state_t& st, hpgl_params& p) {
  const size_t n = count_numbers(p);
  if (n == 0) {
    select_pen(st, 1);
    return;
  }
  const double v = num(p, 0);
  if (v < 0 || v > st.pen_count || v != std::floor(v)) {
    std::fprintf(st.status, "WARNING: HP-GL/2 'SP' command with invalid number or value of parameters (%d, %.0f)!\n",
                 int(n), std::clamp(v, -1e9, 1e9));
    return;
  }
  select_pen(st, int(v));
}

void cmd_NP(hpgl_state_t& st, hpgl_params& p) {
  const size_t n = count_numbers(p);
  if (n == 0) {
    st.pen_count = 8;
  } else if (num(p, 0) >= 1 && num(p, 0) <= kMaxPens) {
    st.pen_count = int(num(p, 0));
  } else {
    std::fprintf(st.status, "WARNING: HP-GL/2 'NP' command with invalid number of parameters (%d)!\n", int(n));
  }
  for (int i = 0; i <= st.pen_count; i++) st.pens[size_t(i)].width = st.default_pen_width;
  // The selected pen stays in the table.
  if (st.pen_number > st.pen_count) st.pen_number = 1;
  hpgl_params none;
  cmd_PC(st, none);
}

void cmd_PC(hpgl_state_t& st, hpgl_params& p) {
  const size_t n = count_numbers(p);
  if (n == 0) {
    for (int i = 0; i <= st.pen_count; i++) default_colour(st, i);
    if (st.PageHasInk) write_pen_line(st, st.pen_number);
  } else if (n == 1) {
    const int pen = checked_pen(st, "PC", num(p, 0));
    if (pen < 0) return;
    default_colour(st, pen);
    if (st.PageHasInk && pen == st.pen_number) write_pen_line(st, pen);
  } else if (n == 4) {
    const int pen = checked_pen(st, "PC", num(p, 0));
    if (pen < 0) return;
    float rgb[3];
    for (int i = 0; i < 3; i++) {
      const double lo = st.colour_range[i][0], hi = st.colour_range[i][1];
      double v = hi != lo ? (num(p, size_t(i) + 1) - lo) / (hi - lo) : 0.0;
      // Colours outside the range print as its nearest end.
      rgb[i] = float(std::clamp(std::isfinite(v) ? v : 0.0, 0.0, 1.0));
    }
    std::copy(rgb, rgb + 3, st.pens[size_t(pen)].rgb);
    std::fprintf(st.status, "DEBUG: Pen %d %.0f %.0f %.0f = %.3f %.3f %.3f\n", pen, num(p, 1), num(p, 2), num(p, 3),
                 rgb[0], rgb[1], rgb[2]);
    if (st.PageHasInk && pen == st.pen_number) write_pen_line(st, pen);
  } else {
    std::fprintf(st.status, "WARNING: HP-GL/2 'PC' command with invalid number of parameters (%d)!\n", int(n));
  }
}

void cmd_PW(hpgl_state_t& st, hpgl_params& p) {
  const size_t n = count_numbers(p);
  if (n >= 3) {
    std::fprintf(st.status, "WARNING: HP-GL/2 'PW' command with invalid number of parameters (%d)!\n", int(n));
    return;
  }
  double w;
  if (st.width_units == 0) {
    w = n ? num(p, 0) / 25.4 * 72.0 : 0.992126;
  } else {
    const double diagonal = std::hypot(st.PlotArea[0], st.PlotArea[1]) / 1016.0 * 72.0;
    w = diagonal * (n ? num(p, 0) : 0.01);
  }
  // No pen is wider than the largest page.
  w = std::clamp(std::isfinite(w) ? std::fabs(w) : 0.0, 0.0, 14400.0);
  bool current_changed = false;
  if (n == 2) {
    const int pen = checked_pen(st, "PW", num(p, 1));
    if (pen < 0) return;
    st.pens[size_t(pen)].width = float(w);
    current_changed = pen == st.pen_number;
  } else {
    for (int i = 0; i <= st.pen_count; i++) st.pens[size_t(i)].width = float(w);
    current_changed = true;
  }
  if (st.PageHasInk && current_changed) write_pen_line(st, st.pen_number);
}

void cmd_WU(hpgl_state_t& st, hpgl_params& p) {
  const size_t n = count_numbers(p);
  if (n > 1) {
    std::fprintf(st.status, "WARNING: HP-GL/2 'WU' command with invalid number of parameters (%d)!\n", int(n));
    return;
  }
  st.width_units = n ? (num(p, 0) != 0) : 0;
}

void cmd_CR(hpgl_state_t& st, hpgl_params& p) {
  const size_t n = count_numbers(p);
  if (n == 0) {
    for (auto& r : st.colour_range) r[0] = 0, r[1] = 255;
  } else if (n == 6) {
    for (int i = 0; i < 3; i++) {
      st.colour_range[i][0] = float(num(p, size_t(2 * i)));
      st.colour_range[i][1] = float(num(p, size_t(2 * i + 1)));
    }
  } else {
    std::fprintf(st.status, "WARNING: HP-GL/2 'CR' command with invalid number of parameters (%d)!\n", int(n));
  }
}

void cmd_LA(hpgl_state_t& st, hpgl_params& p) {
  const size_t n = count_numbers(p);
  if (n == 0) {
    st.miter_limit = 3.0f;
    st.line_cap = 0;
    st.line_join = 0;
  }
  for (size_t i = 0; i + 1 < n; i += 2) {
    const int kind = int(std::clamp(num(p, i), -1.0, 4.0));
    const double v = num(p, i + 1);
    if (kind == 1) {
      st.line_cap = v == 1 ? 0 : v == 4 ? 1 : 2;
    } else if (kind == 2) {
      st.line_join = (v >= 1 && v <= 3) ? 0 : v == 5 ? 2 : 1;
    } else if (kind == 3) {
      // PostScript refuses a miter limit below 1.
      st.miter_limit = float(std::clamp((v - 1) * 0.5 + 1, 1.0, 1000.0));
    } else {
      std::fprintf(st.status, "DEBUG: HP-GL/2 'LA' kind %.0f ignored\n", num(p, i));
    }
  }
  if (st.PageHasInk) {
    std::fprintf(st.out, "%.1f setmiterlimit\n", st.miter_limit);
    std::fprintf(st.out, "%d setlinecap\n", st.line_cap);
    std::fprintf(st.out, "%d setlinejoin\n", st.line_join);
  }
}

void cmd_LT(hpgl_state_t& st, hpgl_params& p) {
  const size_t n = count_numbers(p);
  if (n == 0) {
    st.line_type = 0;
  } else {
    const double type = num(p, 0);
    if (type != std::floor(type) || std::fabs(type) > 8) {
      std::fprintf(st.status, "DEBUG: HP-GL/2 line type %.0f ignored, types are -8 to 8\n",
                   std::clamp(type, -1e9, 1e9));
      return;
    }
    st.line_type = int(type);
    if (n >= 2) {
      const double length = num(p, 1);
      if (length > 0 && length <= 100)
        st.pattern_length = length;
      else
        std::fprintf(st.status, "DEBUG: HP-GL/2 line pattern length %.0f ignored\n", std::clamp(length, -1e9, 1e9));
    }
  }
  if (st.PageHasInk) write_line_type(st);
}
