// Placing each input page into its slot of the output sheet.
#include <time.h>

#include <cstring>

#include "filter/common/ps-procs.h"
#include "filter/psconv/psconv.h"

namespace {

// The rotation that lays portrait pages along the long side of a sheet for
// 2-up and 6-up.
void write_turn(const psconv_t& job, float pw, float pl, bool odd) {
  FILE* out = job.out;
  if (odd == job.Landscape)
    std::fprintf(out, "0.0 %.1f translate -90 rotate\n", pl);
  else
    std::fprintf(out, "%.1f 0.0 translate 90 rotate\n", pw);
}

// Sends what the printer has waited for longest: the output goes out at
// least once a second, and otherwise a full buffer at a time, not a write
// for every page.
void flush_now_and_then(FILE* out) {
  static timespec last{};
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  if (now.tv_sec != last.tv_sec) {
    std::fflush(out);
    last = now;
  }
}

// The page geometry for the log, before every page. It changes at most a
// few times in a document, so its text is kept rather than formatted anew.
void write_geometry(FILE* status, const vorn_page_t& pg) {
  static float last[6] = {-1, -1, -1, -1, -1, -1};
  static char text[256];
  const float now[6] = {pg.PageLeft, pg.PageRight, pg.PageBottom, pg.PageTop, pg.PageWidth, pg.PageLength};
  if (std::memcmp(now, last, sizeof(now)) != 0) {
    std::snprintf(text, sizeof(text),
                  "DEBUG: pw = %.1f, pl = %.1f\nDEBUG: PageLeft = %.1f, PageRight = %.1f\n"
                  "DEBUG: PageTop = %.1f, PageBottom = %.1f\nDEBUG: PageWidth = %.1f, PageLength = %.1f\n",
                  pg.PageRight - pg.PageLeft, pg.PageTop - pg.PageBottom, pg.PageLeft, pg.PageRight, pg.PageTop,
                  pg.PageBottom, pg.PageWidth, pg.PageLength);
    std::memcpy(last, now, sizeof(now));
  }
  std::fputs(text, status);
}

}  // namespace

void begin_nup_page(const psconv_t& job, int n, bool show_border) {
  FILE* out = job.out;
  const vorn_page_t& pg = job.page;
  const int per = job.PagesPerSheet;

  if (job.Flip || pg.Orientation != 0 || per > 1) std::fputs("userdict/VRNsave save put\n", out);
  if (job.Flip) std::fprintf(out, "%.1f 0.0 translate -1 1 scale\n", pg.PageWidth);

  const int pos = n % per;
  const float pw = pg.PageRight - pg.PageLeft;
  const float pl = pg.PageTop - pg.PageBottom;
  write_geometry(job.status, pg);

  switch (pg.Orientation) {
    case 1: std::fprintf(out, "%.1f 0.0 translate 90 rotate\n", pg.PageLength); break;
    case 2: std::fprintf(out, "%.1f %.1f translate 180 rotate\n", pg.PageWidth, pg.PageLength); break;
    case 3: std::fprintf(out, "0.0 %.1f translate -90 rotate\n", pg.PageWidth); break;
    default: break;
  }

  if (pg.Duplex && per > 1 && ((n / per) & 1))
    std::fprintf(out, "%.1f %.1f translate\n", pg.PageWidth - pg.PageRight, pg.PageBottom);
  else if (per > 1)
    std::fprintf(out, "%.1f %.1f translate\n", pg.PageLeft, pg.PageBottom);

  const bool tb = job.SheetOrder & 1, rl = job.SheetOrder & 2, cols = job.SheetOrder & 4;
  const float W = pg.PageWidth, L = pg.PageLength;
  const bool odd = pg.Orientation & 1;
  float w = W, l = L, tx = 0, ty = 0;
  int x = 0, y = 0;
  bool slot = true;
  switch (per) {
    case 2:
      x = pos % 2;
      if (odd) {
        if (tb) x = 1 - x;
        w = pl;
        l = w * L / W;
        if (l > pw * 0.5f) {
          l = pw * 0.5f;
          w = l * W / L;
        }
        tx = (pw * 0.5f - l) * 0.5f;
        ty = (pl - w) * 0.5f;
        write_turn(job, pw, pl, true);
        std::fprintf(out, "%.1f %.1f translate %.3f %.3f scale\n", ty, tx + x * l, w / W, l / L);
      } else {
        if (rl) x = 1 - x;
        l = pw;
        w = l * W / L;
        if (w > pl * 0.5f) {
          w = pl * 0.5f;
          l = w * L / W;
        }
        tx = (pl * 0.5f - w) * 0.5f;
        ty = (pw - l) * 0.5f;
        write_turn(job, pw, pl, false);
        std::fprintf(out, "%.1f %.1f translate %.3f %.3f scale\n", tx + x * w, ty, w / W, l / L);
      }
      slot = false;
      break;
    case 4:
      if (cols) {
        x = (pos / 2) % 2;
        y = pos % 2;
      } else {
        x = pos % 2;
        y = (pos / 2) % 2;
      }
      if (rl) x = 1 - x;
      if (tb) y = 1 - y;
      w = pw * 0.5f;
      l = w * L / W;
      if (l > pl * 0.5f) {
        l = pl * 0.5f;
        w = l * W / L;
      }
      tx = (pw * 0.5f - w) * 0.5f;
      ty = (pl * 0.5f - l) * 0.5f;
      break;
    case 6:
      if (odd) {
        if (cols) {
          x = pos / 3;
          y = pos % 3;
        } else {
          x = pos % 2;
          y = pos / 2;
        }
        if (rl) x = 1 - x;
        if (tb) y = 2 - y;
        w = pl * 0.5f;
        l = w * L / W;
        if (l > pw * 0.333f) {
          l = pw * 0.333f;
          w = l * W / L;
        }
        tx = (pl - 2 * w) * 0.5f;
        ty = (pw - 3 * l) * 0.5f;
      } else {
        if (cols) {
          x = pos / 2;
          y = pos % 2;
        } else {
          x = pos % 3;
          y = pos / 3;
        }
        if (rl) x = 2 - x;
        if (tb) y = 1 - y;
        l = pw * 0.5f;
        w = l * W / L;
        if (w > pl * 0.333f) {
          w = pl * 0.333f;
          l = w * L / W;
        }
        tx = (pl - 3 * w) * 0.5f;
        ty = (pw - 2 * l) * 0.5f;
      }
      write_turn(job, pw, pl, odd);
      break;
    case 9:
      if (cols) {
        x = (pos / 3) % 3;
        y = pos % 3;
      } else {
        x = pos % 3;
        y = (pos / 3) % 3;
      }
      if (rl) x = 2 - x;
      if (tb) y = 2 - y;
      w = pw * 0.333f;
      l = w * L / W;
      if (l > pl * 0.333f) {
        l = pl * 0.333f;
        w = l * W / L;
      }
      tx = (pw * 0.333f - w) * 0.5f;
      ty = (pl * 0.333f - l) * 0.5f;
      break;
    case 16:
      if (cols) {
        x = (pos / 4) % 4;
        y = pos % 4;
      } else {
        x = pos % 4;
        y = (pos / 4) % 4;
      }
      if (rl) x = 3 - x;
      if (tb) y = 3 - y;
      w = pw * 0.25f;
      l = w * L / W;
      if (l > pl * 0.25f) {
        l = pl * 0.25f;
        w = l * W / L;
      }
      tx = (pw * 0.25f - w) * 0.5f;
      ty = (pl * 0.25f - l) * 0.5f;
      break;
    default:
      slot = false;
      w = W;
      l = L;
      break;
  }
  if (slot) std::fprintf(out, "%.1f %.1f translate %.3f %.3f scale\n", tx + x * w, ty + y * l, w / W, l / L);

  if (job.border && show_border) {
    const float s = W / w;
    std::fputs("gsave\n", out);
    std::fprintf(out, "%.3f setlinewidth 0 setgray newpath\n", (job.border & 1) ? s * 0.5f : s * 0.24f);
    float m = s * 2.25f;
    const int times = (job.border & 4) ? 2 : 1;
    for (int i = 0; i < times; i++) {
      if (per > 1)
        std::fprintf(out, "%.1f %.1f %.1f %.1f VRNrs\n", m, m, W - 2 * m, L - 2 * m);
      else
        std::fprintf(out, "%.1f %.1f %.1f %.1f VRNrs\n", pg.PageLeft + m, pg.PageBottom + m,
                     pg.PageRight - pg.PageLeft - 2 * m, pg.PageTop - pg.PageBottom - 2 * m);
      m += 2 * s;
    }
    std::fputs("grestore\n", out);
  }

  if (per > 1) std::fprintf(out, "0 0 %.1f %.1f VRNrc\n", W, L);
}

void end_nup_page(const psconv_t& job, int n) {
  FILE* out = job.out;
  const vorn_page_t& pg = job.page;
  const int per = job.PagesPerSheet;
  std::fputc('\n', out);
  if (job.Flip || pg.Orientation != 0 || per > 1) std::fputs("userdict /VRNsave get restore\n", out);

  const bool last = (n + 1) % per == 0;
  if (per == 1) {
    if (job.wrap_showpage) {
      write_page_labels(out, pg, pg.Orientation);
      std::fputs("VRNshowpage\n", out);
    }
  } else if (per == 2 || per == 6) {
    if (last && job.wrap_showpage) {
      int o;
      if (pg.Orientation & 1)
        o = pg.Orientation - 1;
      else if (pg.Orientation == 0)
        o = job.Landscape ? 1 : 3;
      else
        o = job.Landscape ? 3 : 1;
      write_page_labels(out, pg, o);
      std::fputs("VRNshowpage\n", out);
    }
  } else if (last && job.wrap_showpage) {
    write_page_labels(out, pg, pg.Orientation);
    std::fputs("VRNshowpage\n", out);
  }
  flush_now_and_then(out);
}
