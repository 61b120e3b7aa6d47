// The plotter's frame: scaling points, user scaling, rotation, plot size
// and input window, and the transformation from user units to page points.
#include <algorithm>
#include <cmath>

#include "filter/hpglconv/hpglconv.h"

namespace {

constexpr double kUnitsPerPoint = 1016.0 / 72.0;

// The printable area, in plotter units from its own corner.
void set_default_P1P2(hpgl_state_t& st) {
  st.P1 = {0, 0};
  st.P2 = {(st.page.PageRight - st.page.PageLeft) * kUnitsPerPoint,
           (st.page.PageTop - st.page.PageBottom) * kUnitsPerPoint};
}

void no_params(hpgl_state_t& st, void (*cmd)(hpgl_state_t&, hpgl_params&)) {
  hpgl_params none;
  cmd(st, none);
}

}  // namespace

hpgl_point_t transform_abs(const hpgl_state_t& st, double x, double y) {
  const auto& t = st.Transform;
  return {t[0][0] * x + t[0][1] * y + t[0][2], t[1][0] * x + t[1][1] * y + t[1][2]};
}

hpgl_point_t transform_rel(const hpgl_state_t& st, double x, double y) {
  const auto& t = st.Transform;
  return {t[0][0] * x + t[0][1] * y, t[1][0] * x + t[1][1] * y};
}

void update_transform(hpgl_state_t& st) {
  const vorn_page_t& pg = st.page;
  double width, height;
  if (st.fit_plot) {
    width = pg.PageRight - pg.PageLeft;
    height = pg.PageTop - pg.PageBottom;
  } else {
    width = (st.P2.x - st.P1.x) / kUnitsPerPoint;
    height = (st.P2.y - st.P1.y) / kUnitsPerPoint;
  }
  std::fprintf(st.status, "DEBUG: page_width = %.0f, page_height = %.0f\n", width, height);
  if (width == 0 || height == 0 || !std::isfinite(width) || !std::isfinite(height)) return;

  double left, right, bottom, top;
  switch (st.ScaleMode) {
    case 0:
    case 1:
      left = st.scaling[0];
      right = st.scaling[1];
      bottom = st.scaling[2];
      top = st.scaling[3];
      if (st.ScaleMode == 1) {
        double xr = right - left, yr = top - bottom;
        if (xr == 0 || yr == 0) return;
        if (width * yr != height * xr) {
          const double needed_x = yr * width / height;
          if (std::fabs(needed_x) <= std::fabs(xr)) {
            const double new_y = xr * height / width, mid = (top + bottom) / 2;
            bottom = mid - new_y / 2;
            top = mid + new_y / 2;
          } else {
            const double mid = (left + right) / 2;
            left = mid - needed_x / 2;
            right = mid + needed_x / 2;
          }
        }
      }
      break;
    case 2:
      left = st.scaling[0];
      bottom = st.scaling[2];
      right = left + width * st.scaling[1] * kUnitsPerPoint;
      top = bottom + height * st.scaling[3] * kUnitsPerPoint;
      break;
    default:
      left = st.P1.x;
      bottom = st.P1.y;
      right = st.P2.x;
      top = st.P2.y;
      break;
  }
  const double xr = right - left, yr = top - bottom;
  if (xr == 0 || yr == 0 || !std::isfinite(xr) || !std::isfinite(yr)) return;

  const bool upright = st.rotation == 0 || st.rotation == 180;
  double s = upright ? width / xr : width / yr;
  if (st.fit_plot) s *= std::max(width, height) / std::max(st.PlotArea[0], st.PlotArea[1]);
  if (!std::isfinite(s)) return;
  // The user rectangle's lower left corner lands on P1; P1 and P2 are
  // plotter units from the corner of the printable area, where the page
  // is translated to. Turned plots turn within the drawing area.
  double px = 0, py = 0;
  if (!st.fit_plot) {
    px = st.P1.x / kUnitsPerPoint;
    py = st.P1.y / kUnitsPerPoint;
  }
  auto& t = st.Transform;
  switch (st.rotation) {
    case 0:
      st.turned = 0;
      t[0][0] = s, t[0][1] = 0, t[0][2] = px - s * left;
      t[1][0] = 0, t[1][1] = s, t[1][2] = py - s * bottom;
      break;
    case 90:
      st.turned = 90;
      t[0][0] = 0, t[0][1] = -s, t[0][2] = width + px + s * bottom;
      t[1][0] = s, t[1][1] = 0, t[1][2] = py - s * left;
      break;
    case 180:
      st.turned = 180;
      t[0][0] = -s, t[0][1] = 0, t[0][2] = width + px + s * left;
      t[1][0] = 0, t[1][1] = -s, t[1][2] = height + py + s * bottom;
      break;
    case 270:
      st.turned = 270;
      t[0][0] = 0, t[0][1] = s, t[0][2] = px - s * bottom;
      t[1][0] = -s, t[1][1] = 0, t[1][2] = height + py + s * left;
      break;
    default:
      break;
  }
  std::fprintf(st.status,
               "DEBUG: Transform = [ %.3f %.3f\nDEBUG:               %.3f %.3f\nDEBUG:               %.3f %.3f ]\n",
               t[0][0], t[1][0], t[0][1], t[1][1], t[0][2], t[1][2]);

  if (st.fit_plot) {
    st.PenWidthUnits = std::fabs(upright ? width / st.PlotArea[1] : width / st.PlotArea[0]);
    if (!std::isfinite(st.PenWidthUnits)) st.PenWidthUnits = 1;
  } else {
    st.PenWidthUnits = 1;
  }

  if (st.PageHasInk) {
    std::fprintf(st.out, "%.2f setlinewidth\n", st.pens[size_t(st.pen_number)].width * st.PenWidthUnits);
    write_window_clip(st);
  }
}

void write_window_clip(hpgl_state_t& st) {
  const hpgl_point_t a = st.window[0], b = st.window[1];
  const bool window = a.x != b.x && a.y != b.y;
  if (!window && !st.clip_written) return;
  if (window && st.polygon_live && st.polygon_replays >= kMaxPolygonReplays) {
    // Writing the polygon again each time would let a plot grow the
    // document without end: the change waits for the polygon's end.
    if (st.polygon_replays == kMaxPolygonReplays) {
      std::fputs("DEBUG: HP-GL/2 input window kept back until the polygon ends\n", st.status);
      st.polygon_replays++;
    }
    st.clip_pending = true;
    return;
  }
  st.clip_pending = false;
  if (!window) {
    // Removing the clip leaves the current path alone.
    std::fputs("initclip\n", st.out);
    st.clip_written = false;
    return;
  }
  std::fprintf(st.out, "initclip MP %.3f %.3f MO %.3f %.3f LI %.3f %.3f LI %.3f %.3f LI CP clip\n", ps_coord(a.x),
               ps_coord(a.y), ps_coord(a.x), ps_coord(b.y), ps_coord(b.x), ps_coord(b.y), ps_coord(b.x),
               ps_coord(a.y));
  st.clip_written = true;
  // The clip took the current path: a polygon being built is put back.
  if (st.polygon_live) {
    std::fputs("MP\n", st.out);
    std::fputs(st.polygon_path.c_str(), st.out);
    st.polygon_replays++;
  }
}

void cmd_IP(hpgl_state_t& st, hpgl_params& p) {
  const size_t n = count_numbers(p);
  if (n >= 4) {
    st.P1 = {num(p, 0), num(p, 1)};
    st.P2 = {num(p, 2), num(p, 3)};
  } else if (n >= 2) {
    const double dx = st.P2.x - st.P1.x, dy = st.P2.y - st.P1.y;
    st.P1 = {num(p, 0), num(p, 1)};
    st.P2 = {st.P1.x + dx, st.P1.y + dy};
  } else {
    set_default_P1P2(st);
  }
  st.window[0] = st.window[1] = {};
  update_transform(st);
}

void cmd_IR(hpgl_state_t& st, hpgl_params& p) {
  const size_t n = count_numbers(p);
  auto px = [&](double v) { return v * st.PlotArea[0] * kUnitsPerPoint / 100; };
  auto py = [&](double v) { return v * st.PlotArea[1] * kUnitsPerPoint / 100; };
  if (n >= 4) {
    st.P1 = {px(num(p, 0)), py(num(p, 1))};
    st.P2 = {px(num(p, 2)), py(num(p, 3))};
  } else if (n >= 2) {
    const double dx = st.P2.x - st.P1.x, dy = st.P2.y - st.P1.y;
    st.P1 = {px(num(p, 0)), py(num(p, 1))};
    st.P2 = {st.P1.x + dx, st.P1.y + dy};
  } else {
    set_default_P1P2(st);
  }
  st.window[0] = st.window[1] = {};
  update_transform(st);
}

void cmd_IW(hpgl_state_t& st, hpgl_params& p) {
  const size_t n = count_numbers(p);
  if (n == 0) {
    // The printable area: nothing is drawn outside it anyway.
    st.window[0] = st.window[1] = {};
  } else if (n == 4) {
    // User units (plotter units while no scaling is set) to page points,
    // the frame the clip is written in.
    st.window[0] = transform_abs(st, num(p, 0), num(p, 1));
    st.window[1] = transform_abs(st, num(p, 2), num(p, 3));
    std::fprintf(st.status, "DEBUG: IW%.0f,%.0f,%.0f,%.0f = [ %.0f %.0f %.0f %.0f ]\n", num(p, 0), num(p, 1),
                 num(p, 2), num(p, 3), ps_coord(st.window[0].x) * kUnitsPerPoint,
                 ps_coord(st.window[0].y) * kUnitsPerPoint, ps_coord(st.window[1].x) * kUnitsPerPoint,
                 ps_coord(st.window[1].y) * kUnitsPerPoint);
  } else {
    return;
  }
  update_transform(st);
}

void cmd_SC(hpgl_state_t& st, hpgl_params& p) {
  const size_t n = count_numbers(p);
  if (n == 0) {
    st.ScaleMode = -1;
  } else if (n < 4) {
    return;
  } else {
    for (int i = 0; i < 4; i++) st.scaling[i] = num(p, size_t(i));
    st.ScaleMode = n == 4 ? 1 : int(std::clamp(num(p, 4), -1.0, 3.0));
  }
  update_transform(st);
}

void cmd_RO(hpgl_state_t& st, hpgl_params& p) {
  // Clamped before the conversion: any number read must give an int.
  st.rotation = p.empty() ? 0 : int(std::clamp(num(p, 0), -100000.0, 100000.0));
  update_transform(st);
}

void cmd_PS(hpgl_state_t& st, hpgl_params& p) {
  const size_t n = count_numbers(p);
  const bool upright = st.rotation == 0 || st.rotation == 180;
  if (n == 0) {
    st.PlotArea[0] = upright ? st.page.PageWidth : st.page.PageLength;
    st.PlotArea[1] = upright ? st.page.PageLength : st.page.PageWidth;
    st.plot_size_set = false;
  } else if (n <= 2) {
    double w, l;
    if (n == 1) {
      l = num(p, 0) / kUnitsPerPoint;
      w = 0.75 * l;
    } else {
      w = num(p, 0) / kUnitsPerPoint;
      l = num(p, 1) / kUnitsPerPoint;
    }
    // A page size a printer could be asked for, from an inch to 200 inches:
    // interpreters refuse a page smaller than a device pixel.
    w = std::clamp(std::fabs(w), 72.0, 14400.0);
    l = std::clamp(std::fabs(l), 72.0, 14400.0);
    if (!upright) std::swap(w, l);
    st.PlotArea[0] = w;
    st.PlotArea[1] = l;
    st.plot_size_set = true;
  }
  hpgl_params none;
  cmd_IP(st, none);
}

void cmd_PG(hpgl_state_t& st, hpgl_params&) {
  if (st.PageHasInk) {
    std::fputs("grestore\nshowpage\n", st.out);
    st.PageHasInk = false;
    // The next page starts with an empty path and the window's own clip;
    // a polygon still open goes on there from a new point.
    st.polygon_path.clear();
    st.polygon_live = st.polygon_mode;
    st.polygon_needs_move = true;
    st.clip_written = false;
    st.clip_pending = false;
  }
}

void cmd_DF(hpgl_state_t& st, hpgl_params&) {
  no_params(st, cmd_AD);
  no_params(st, cmd_SD);
  no_params(st, cmd_CF);
  no_params(st, cmd_DI);
  no_params(st, cmd_DT);
  no_params(st, cmd_IW);
  no_params(st, cmd_LA);
  no_params(st, cmd_LT);
  st.pen_motion = 0;
  st.polygon_mode = false;
  no_params(st, cmd_SC);
  no_params(st, cmd_SS);
}

void cmd_IN(hpgl_state_t& st, hpgl_params&) {
  hpgl_params none;
  cmd_DF(st, none);
  st.pen_down = false;
  st.rotation = 0;
  cmd_PS(st, none);
  cmd_WU(st, none);
  cmd_PW(st, none);
  st.default_pen_width = 1.0f;
  st.PenXY = {0, 0};
}
