// Drawing: plotted points, encoded polylines, arcs, circles, rectangles,
// wedges and polygons, written as paths of the prolog's MP/MO/LI/CP
// procedures and finished with ST (stroke) or FI (fill).
#include <algorithm>
#include <cmath>

#include "filter/hpglconv/hpglconv.h"

namespace {

constexpr double kDegrees = M_PI / 180.0;

// A chord angle usable as a step: 0, tiny or huge angles would draw
// forever or nothing.
double sane_chord(double chord) {
  chord = std::fabs(chord);
  if (chord == 0) return 5;
  return std::clamp(chord, kMinChord, kMaxChord);
}

// The page point of (x, y): absolute user units, or relative to the pen.
hpgl_point_t target(const hpgl_state_t& st, double x, double y, bool relative) {
  if (!relative) return transform_abs(st, x, y);
  const hpgl_point_t d = transform_rel(st, x, y);
  return {st.PenXY.x + d.x, st.PenXY.y + d.y};
}

void plot(hpgl_state_t& st, hpgl_params& p) {
  const size_t n = count_numbers(p) & ~size_t(1);
  if (n < 2) return;
  const bool relative = st.pen_motion == 1;
  if (st.pen_down) path_begin(st);
  for (size_t i = 0; i < n; i += 2) {
    const hpgl_point_t q = target(st, p[i].value, p[i + 1].value, relative);
    if (st.pen_down) {
      if (st.polygon_mode || std::fabs(q.x - st.PenXY.x) > 0.001 || std::fabs(q.y - st.PenXY.y) > 0.001)
        path_line(st, q);
    } else if (st.polygon_mode) {
      st.polygon_needs_move = true;
    }
    st.PenXY = q;
  }
  if (st.pen_down) path_end(st, "ST");
}

// Points on the arc about `c` of `radius` from `start` through `sweep`
// degrees (page angles), every `chord` degrees, ending exactly at the end.
void arc_points(hpgl_state_t& st, hpgl_point_t c, double radius, double start, double sweep, double chord) {
  const double dir = sweep < 0 ? -1 : 1;
  const double drawn = std::min(std::fabs(sweep), 360.0);
  for (int i = 1;; i++) {
    const double a = i * chord;
    if (a >= drawn) break;
    const double ang = (start + dir * a) * kDegrees;
    path_line(st, {c.x + radius * std::cos(ang), c.y + radius * std::sin(ang)});
  }
  const double end = (start + sweep) * kDegrees;
  path_line(st, {c.x + radius * std::cos(end), c.y + radius * std::sin(end)});
}

double transform_sign(const hpgl_state_t& st) {
  const auto& t = st.Transform;
  return t[0][0] * t[1][1] - t[0][1] * t[1][0] < 0 ? -1 : 1;
}

void arc(hpgl_state_t& st, hpgl_params& p, bool relative) {
  if (count_numbers(p) < 3) return;
  const hpgl_point_t c = target(st, num(p, 0), num(p, 1), relative);
  // Sweeps are counter-clockwise in user units; a mirrored scale turns
  // them on the page.
  const double sweep = std::fmod(num(p, 2), 3600.0) * transform_sign(st);
  const double dx = st.PenXY.x - c.x, dy = st.PenXY.y - c.y;
  const double radius = std::hypot(dx, dy);
  const double start = std::atan2(dy, dx) / kDegrees;
  if (st.pen_down) {
    const double chord = num(p, 3) > 0 ? sane_chord(num(p, 3)) : 5;
    path_begin(st);
    arc_points(st, c, radius, start, sweep, chord);
    path_end(st, "ST");
  }
  const double end = (start + sweep) * kDegrees;
  st.PenXY = {c.x + radius * std::cos(end), c.y + radius * std::sin(end)};
}

void three_point_arc(hpgl_state_t& st, hpgl_params& p, bool relative) {
  if (count_numbers(p) < 4) return;
  const hpgl_point_t a = st.PenXY;
  const hpgl_point_t b = target(st, num(p, 0), num(p, 1), relative);
  hpgl_point_t e;
  if (relative) {
    const hpgl_point_t d = transform_rel(st, num(p, 2), num(p, 3));
    e = {b.x + d.x, b.y + d.y};
  } else {
    e = transform_abs(st, num(p, 2), num(p, 3));
  }
  if (st.pen_down) {
    path_begin(st);
    // The circle through the three points; on one line they are two
    // straight segments.
    const double d = 2 * (a.x * (b.y - e.y) + b.x * (e.y - a.y) + e.x * (a.y - b.y));
    const double a2 = a.x * a.x + a.y * a.y, b2 = b.x * b.x + b.y * b.y, e2 = e.x * e.x + e.y * e.y;
    const hpgl_point_t c = {(a2 * (b.y - e.y) + b2 * (e.y - a.y) + e2 * (a.y - b.y)) / d,
                            (a2 * (e.x - b.x) + b2 * (a.x - e.x) + e2 * (b.x - a.x)) / d};
    const double radius = std::hypot(a.x - c.x, a.y - c.y);
    if (std::fabs(d) < 1e-9 || !std::isfinite(radius) || radius > kMaxCoord) {
      path_line(st, b);
      path_line(st, e);
    } else {
      const double sa = std::atan2(a.y - c.y, a.x - c.x) / kDegrees;
      const double sb = std::atan2(b.y - c.y, b.x - c.x) / kDegrees;
      const double se = std::atan2(e.y - c.y, e.x - c.x) / kDegrees;
      // Counter-clockwise from a to e; the other way round when b is not on it.
      double ccw = std::fmod(se - sa + 720.0, 360.0);
      const double to_b = std::fmod(sb - sa + 720.0, 360.0);
      const double sweep = to_b <= ccw ? ccw : ccw - 360.0;
      arc_points(st, c, radius, sa, sweep, 5);
    }
    path_end(st, "ST");
  }
  st.PenXY = e;
}

void rectangle(hpgl_state_t& st, hpgl_params& p, bool relative, const char* finish) {
  if (count_numbers(p) < 2) return;
  const hpgl_point_t c = target(st, num(p, 0), num(p, 1), relative);
  const hpgl_point_t q = st.PenXY;
  write_page_start(st);
  path_new(st);
  path_move(st, q);
  path_line(st, {q.x, c.y});
  path_line(st, c);
  path_line(st, {c.x, q.y});
  path_close(st);
  st.polygon_needs_move = true;
  path_end(st, finish);
}

void wedge(hpgl_state_t& st, hpgl_params& p, const char* finish) {
  if (count_numbers(p) < 3) return;
  const double radius = num(p, 0), start = num(p, 1);
  const double sweep = std::clamp(num(p, 2), -360.0, 360.0);
  const double chord = sane_chord(num(p, 3));
  const hpgl_point_t c = st.PenXY;
  write_page_start(st);
  path_new(st);
  path_move(st, c);
  auto at = [&](double deg) {
    const hpgl_point_t d = transform_rel(st, std::cos(deg * kDegrees) * radius, std::sin(deg * kDegrees) * radius);
    return hpgl_point_t{c.x + d.x, c.y + d.y};
  };
  const double dir = sweep < 0 ? -1 : 1;
  for (int i = 1; i * chord < std::fabs(sweep); i++) path_line(st, at(start + dir * i * chord));
  path_line(st, at(start + sweep));
  path_close(st);
  st.polygon_needs_move = true;
  path_end(st, finish);
}

}  // namespace

// The text of one path element, written, and kept while it belongs to a
// polygon.
static void path_text(hpgl_state_t& st, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), st.out);
  if (st.polygon_mode) st.polygon_path += text;
}

static void path_point(hpgl_state_t& st, hpgl_point_t p, const char* op) {
  char buf[kPointText];
  path_text(st, point_text(buf, p, op));
}

// A polygon keeps at most kMaxPathPoints points; the rest are dropped.
static bool polygon_full(hpgl_state_t& st) {
  if (!st.polygon_mode || st.path_points < kMaxPathPoints) return false;
  if (!st.path_capped)
    std::fprintf(st.status, "WARNING: HP-GL/2 polygon of more than %zu points cut\n", kMaxPathPoints);
  st.path_capped = true;
  return true;
}

void path_new(hpgl_state_t& st) {
  if (st.polygon_mode) return;
  // The polygon is given up; a window change kept back for it takes
  // effect now.
  st.polygon_live = false;
  st.polygon_path.clear();
  if (st.clip_pending) write_window_clip(st);
  std::fputs("MP\n", st.out);
  st.path_points = 0;
  st.path_capped = false;
}

void path_move(hpgl_state_t& st, hpgl_point_t p) {
  if (polygon_full(st)) return;
  path_point(st, p, "MO");
  st.path_points++;
  st.last_point = p;
}

void path_close(hpgl_state_t& st) { path_text(st, "CP\n"); }

void path_begin(hpgl_state_t& st) {
  write_page_start(st);
  if (!st.polygon_mode) {
    path_new(st);
    path_move(st, st.PenXY);
  } else if (st.polygon_needs_move) {
    path_move(st, st.PenXY);
    st.polygon_needs_move = false;
  }
  st.last_point = st.PenXY;
}

void path_line(hpgl_state_t& st, hpgl_point_t p) {
  if (polygon_full(st)) return;
  if (!st.polygon_mode && st.path_points >= kStrokeSplit) {
    // A long polyline is stroked in pieces, which draw the same lines.
    std::fputs("ST\nMP\n", st.out);
    st.path_points = 0;
    path_move(st, st.last_point);
  }
  path_point(st, p, "LI");
  st.path_points++;
  st.last_point = p;
}

void path_end(hpgl_state_t& st, const char* op) {
  if (st.polygon_mode) return;
  std::fprintf(st.out, "%s\n", op);
  st.path_points = 0;
  st.path_capped = false;
}

void cmd_PA(hpgl_state_t& st, hpgl_params& p) {
  st.pen_motion = 0;
  plot(st, p);
}
void cmd_PR(hpgl_state_t& st, hpgl_params& p) {
  st.pen_motion = 1;
  plot(st, p);
}
void cmd_PD(hpgl_state_t& st, hpgl_params& p) {
  st.pen_down = true;
  plot(st, p);
}
void cmd_PU(hpgl_state_t& st, hpgl_params& p) {
  st.pen_down = false;
  if (st.polygon_mode) st.polygon_needs_move = true;
  plot(st, p);
}

void cmd_AA(hpgl_state_t& st, hpgl_params& p) { arc(st, p, false); }
void cmd_AR(hpgl_state_t& st, hpgl_params& p) { arc(st, p, true); }
void cmd_AT(hpgl_state_t& st, hpgl_params& p) { three_point_arc(st, p, false); }
void cmd_RT(hpgl_state_t& st, hpgl_params& p) { three_point_arc(st, p, true); }

void cmd_CI(hpgl_state_t& st, hpgl_params& p) {
  // A circle is drawn whether the pen is up or down; the pen does not move.
  if (count_numbers(p) < 1) return;
  const double radius = num(p, 0);
  const double chord = sane_chord(num(p, 1));
  const hpgl_point_t c = st.PenXY;
  write_page_start(st);
  path_new(st);
  for (int i = 0; i * chord < 360.0; i++) {
    const double a = i * chord * kDegrees;
    const hpgl_point_t d = transform_rel(st, std::cos(a) * radius, std::sin(a) * radius);
    const hpgl_point_t q = {c.x + d.x, c.y + d.y};
    if (i == 0) {
      path_move(st, q);
    } else {
      path_line(st, q);
    }
  }
  path_close(st);
  st.polygon_needs_move = true;
  path_end(st, "ST");
}

void cmd_EA(hpgl_state_t& st, hpgl_params& p) { rectangle(st, p, false, "ST"); }
void cmd_ER(hpgl_state_t& st, hpgl_params& p) { rectangle(st, p, true, "ST"); }
void cmd_RA(hpgl_state_t& st, hpgl_params& p) { rectangle(st, p, false, "FI"); }
void cmd_RR(hpgl_state_t& st, hpgl_params& p) { rectangle(st, p, true, "FI"); }
void cmd_EW(hpgl_state_t& st, hpgl_params& p) { wedge(st, p, "ST"); }
void cmd_WG(hpgl_state_t& st, hpgl_params& p) { wedge(st, p, "FI"); }

void cmd_PM(hpgl_state_t& st, hpgl_params& p) {
  const int mode = count_numbers(p) ? int(std::clamp(num(p, 0), -1.0, 3.0)) : 0;
  if (mode == 0) {
    write_page_start(st);
    // A new polygon replaces one being built.
    st.polygon_mode = false;
    path_new(st);
    st.polygon_mode = true;
    st.polygon_needs_move = true;
    st.polygon_path.clear();
    st.polygon_live = true;
    st.polygon_replays = 0;
  } else if ((mode == 1 || mode == 2) && st.polygon_mode) {
    // A subpolygon ends closed; the next point starts the next one.
    if (!st.polygon_needs_move) path_close(st);
    st.polygon_needs_move = true;
    if (mode == 2) st.polygon_mode = false;
  }
}

// The polygon stays the current path, so that FP and EP may follow each
// other on the same polygon. Without one the current path is not theirs
// (it may be the input window's clip).
void cmd_EP(hpgl_state_t& st, hpgl_params&) {
  if (!st.PageHasInk || !st.polygon_live) return;
  std::fputs("gsave ST grestore\n", st.out);
}
void cmd_FP(hpgl_state_t& st, hpgl_params&) {
  if (!st.PageHasInk || !st.polygon_live) return;
  std::fputs("gsave FI grestore\n", st.out);
}
