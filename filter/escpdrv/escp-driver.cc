#include "filter/escpdrv/escp-driver.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "filter/driver-common/driver.h"

namespace vorn::escp {

namespace {

// Colour codes by plane: black, cyan, magenta, yellow, light cyan, light
// magenta. Three-plane (CMY) pages start at cyan.
constexpr uint8_t kColour[6] = {0x00, 0x02, 0x01, 0x04, 0x12, 0x11};

struct page {
  const vorn_page_header_t& h;
  const printer& pr;
  FILE* out;
  unsigned planes = 1;
  bool form_feed = false;
  unsigned pending_feed = 0;
  size_t plane_bytes = 0;
  // Dot-matrix state: eight rows are gathered into one byte per column
  // (comp), bytes into a band of head_bytes per column (line buffers).
  unsigned head_bytes = 0, head_columns = 0;
  bool interleave = false, first_band = true;
  unsigned mask = 128, line_counter = 0, even_off = 0, odd_off = 0;
  std::vector<uint8_t> row, comp, line[2];

  page(const vorn_page_header_t& hdr, const printer& p, FILE* o) : h(hdr), pr(p), out(o) {}

  void put(uint8_t b) { std::fputc(b, out); }
  void put16(unsigned v) {
    put(uint8_t(v));
    put(uint8_t(v >> 8));
  }
  void esc(const char* s, size_t n) {
    put(0x1B);
    std::fwrite(s, 1, n, out);
  }

  // ---- dot-matrix ----

  uint8_t density() const {
    bool wide = head_bytes == 3;
    switch (h.HWResolution[0]) {
      case 60: return wide ? 32 : 0;
      case 120: return wide ? 33 : 1;
      case 180: return 39;
      case 240: return 3;
      default:  // 360: the first band holds a full-width byte row
        if (h.HWResolution[1] == 180) return interleave && !first_band ? 0x28 : 0x29;
        return interleave && !first_band ? 'H' : 'I';
    }
  }

  void print_line(int b, bool at_end) {
    std::vector<uint8_t>& buf = line[b];
    const size_t hb = head_bytes, len = buf.size(), g = size_t(head_columns) * hb;
    if (g == 0) return;  // refused before a page starts; never loop on it
    bool blank = drv::row_blank(buf.data(), len);
    // A blank band still moves the paper, except at the end of the page.
    if (blank && at_end) return;
    if (!blank) {
      size_t start = 0;
      unsigned s = 0;
      while (start + g <= len && drv::row_blank(buf.data() + start, g)) {
        start += g;
        s++;
      }
      size_t end = len;
      while (end > start) {
        size_t gs = (end - 1) / g * g;
        if (!drv::row_blank(buf.data() + gs, end - gs)) break;
        end = gs;
      }
      const unsigned cols = unsigned((end - start) / hb);
      const uint8_t d = density();
      const unsigned xres = h.HWResolution[0];
      esc("$", 1);
      put16(s);
      esc("*", 1);
      put(d);
      put16(cols);
      if (xres == 120 || xres == 240) {
        // Adjacent dots cannot be fired in one pass at these densities:
        // even columns first, then the odd ones from the same position.
        for (int pass = 0; pass < 2; pass++) {
          if (pass == 1) {
            esc("$", 1);
            put16(s);
            esc("*", 1);
            put(d);
            put16(cols);
          }
          for (unsigned c = 0; c < cols; c++)
            for (size_t k = 0; k < hb; k++) put(c % 2 == unsigned(pass) ? buf[start + c * hb + k] : 0);
        }
      } else {
        std::fwrite(buf.data() + start, 1, end - start, out);
      }
      if (b == 0) first_band = false;
    }
    put('\n');
    if (interleave && b == 1)
      for (int i = h.HWResolution[1] == 360 ? 4 : 1; i > 0; i--) put('\n');
    std::fill(buf.begin(), buf.end(), 0);
  }

  void store_byte_row() {
    const size_t hb = head_bytes, w = h.vornWidth;
    if (interleave && line_counter > 0) {
      const unsigned even_buf = line_counter & 1;
      for (size_t x = 0; x < w; x++) {
        unsigned b = (x & 1) ? 1 - even_buf : even_buf;
        line[b][x * hb + (b ? odd_off : even_off)] = comp[x];
      }
      even_off++;
      odd_off++;
      if (even_off == hb) {
        even_off = 0;
        print_line(0, false);
      }
      if (odd_off == hb) {
        odd_off = 0;
        print_line(1, false);
      }
    } else {
      for (size_t x = 0; x < w; x++) line[0][x * hb + even_off] = comp[x];
      if (++even_off == hb) {
        even_off = 0;
        print_line(0, false);
      }
    }
    mask = 128;
    line_counter++;
    std::fill(comp.begin(), comp.end(), 0);
  }

  void dot_matrix_row() {
    const uint8_t* r = row.data();
    for (size_t x = 0; x < h.vornWidth; x++)
      if (r[x >> 3] & (0x80 >> (x & 7))) comp[x] |= uint8_t(mask);
    if (mask > 1) {
      mask >>= 1;
      return;
    }
    store_byte_row();
  }

  // ---- inkjet ----

  void send_plane(uint8_t* data, size_t len, unsigned p, unsigned xstep, unsigned ystep) {
    if (ystep == 5) {
      // At 720 dpi neighbouring dots would run together: keep every other.
      bool left = false;
      for (size_t i = 0; i < len; i++) {
        uint8_t v = data[i];
        for (int bit = 7; bit >= 0; bit--) {
          bool set = v & (1 << bit);
          if (set && left) v &= uint8_t(~(1 << bit));
          left = set && !left ? true : false;
        }
        data[i] = v;
      }
    }
    const uint8_t type = h.vornCompression ? 1 : 0;
    const uint8_t* bytes = data;
    size_t n = len;
    if (type) {
      n = drv::pack_bits(data, len, comp.data());
      bytes = comp.data();
    }
    const uint8_t colour = kColour[planes == 3 ? p + 1 : p];
    put('\r');
    if (pr.model > 3) {
      esc("i", 1);
      put(colour);
      put(type);
      put(1);
      put16(unsigned(len));
      put16(1);
    } else {
      if (planes > 1) {
        if (p >= 4) {
          esc("(r\x02\x00\x01", 5);
          put(colour & 0x0F);
        } else {
          esc("r", 1);
          put(colour);
        }
      }
      esc(".", 1);
      put(type);
      put(uint8_t(ystep));
      put(uint8_t(xstep));
      put(1);
      put16(unsigned(len * 8));
    }
    std::fwrite(bytes, 1, n, out);
  }

  void inkjet_row() {
    const unsigned xstep = 3600 / h.HWResolution[0], ystep = 3600 / h.HWResolution[1];
    for (unsigned p = 0; p < planes; p++) {
      uint8_t* data = row.data() + p * plane_bytes;
      if (drv::row_blank(data, plane_bytes)) continue;
      while (pending_feed > 0) {
        // The move is a 16-bit count: longer gaps take several.
        unsigned step = std::min(pending_feed, 65535u);
        esc("(v\x02\x00", 4);
        put16(step);
        pending_feed -= step;
      }
      send_plane(data, plane_bytes, p, xstep, ystep);
    }
    pending_feed++;
  }
};

unsigned cut(double v, unsigned max) { return v <= 0 ? 0 : v >= max ? max : unsigned(v); }

void start_page(page& pg) {
  const vorn_page_header_t& h = pg.h;
  const printer& pr = pg.pr;
  drv::catch_term();
  if (pr.okidata) pg.esc("{A", 2);
  pg.esc("@", 1);
  pg.form_feed = h.Margins[0] != 0 || h.Margins[1] != 0;
  const unsigned xres = h.HWResolution[0], yres = h.HWResolution[1];
  if (dot_matrix(pr.model)) {
    pg.esc("P", 1);
    if (xres == 360 || xres == 240) pg.esc("x1\033U1", 5);
    else pg.esc("x0\033U0", 5);
    pg.esc("l\0\033Q", 4);
    pg.put(uint8_t(cut(h.PageSize[0] * 10.0 / 72 + 0.5, 255)));
    pg.esc("C\0", 2);
    pg.put(uint8_t(cut(h.PageSize[1] / 72.0 + 0.5, 255)));
    pg.esc("N\0", 2);
    pg.head_bytes = h.vornRowCount / 8;
    pg.head_columns = xres / 60;
    // Bands of rows are 24/216 (model 0) or 24/180 inch apart; at 180 and
    // 360 dpi the two column passes advance 8/180 or 8/360 inch each.
    if (pr.model == 0 || xres == 60 || xres == 120 || xres == 240) {
      pg.esc("3\x18", 2);
    } else {
      pg.interleave = true;
      pg.esc(yres == 180 ? "3\x08" : "+\x08", 2);
    }
  } else {
    pg.esc("(G\x01\x00\x01", 5);
    if (pr.model < 4) {
      pg.esc("(U\x01\x00", 4);
      pg.put(uint8_t(3600 / yres));
    } else {
      pg.esc("(U\x05\x00", 4);
      pg.put(uint8_t(1440 / yres));
      pg.put(uint8_t(1440 / yres));
      pg.put(uint8_t(1440 / xres));
      pg.put16(1440);
    }
    unsigned n = cut(double(yres) * h.PageSize[1] / 72, 65535);
    pg.esc("(C\x02\x00", 4);
    pg.put16(n);
    unsigned t = cut(double(pr.margin_length - pr.margin_top) * yres / 72, 65535);
    pg.esc("(c\x04\x00", 4);
    pg.put16(t);
    pg.put16(n);
    if (yres == 720) pg.esc("(i\x01\x00\x01\033(e\x02\x00\x00\x01", 12);
    pg.esc("(V\x02\x00\x00\x00", 6);
  }
  pg.plane_bytes = h.vornBytesPerLine / pg.planes;
  pg.row.assign(h.vornBytesPerLine, 0);
  if (pg.head_bytes) {
    pg.comp.assign(h.vornWidth, 0);
    for (auto& l : pg.line) l.assign(size_t(pg.head_bytes) * h.vornWidth, 0);
  } else if (h.vornCompression) {
    pg.comp.assign(drv::pack_bits_bound(pg.plane_bytes), 0);
  }
}

void end_page(page& pg) {
  if (pg.head_bytes) {
    // Rows gathered into a byte that is not yet full are printed too.
    if (pg.mask != 128) pg.store_byte_row();
    if (!pg.interleave) {
      pg.print_line(0, true);
    } else if (pg.even_off < pg.odd_off) {
      pg.print_line(1, true);
      pg.print_line(0, true);
    } else {
      pg.print_line(0, true);
      pg.print_line(1, true);
    }
  }
  if (pg.form_feed) pg.put('\f');
  std::fflush(pg.out);
  drv::ignore_term();
}

std::string page_problem(const vorn_page_header_t& h, const printer& pr, unsigned& planes) {
  if (h.vornBitsPerColor != 1) return "escpdrv prints 1 bit per colour, not " + std::to_string(h.vornBitsPerColor);
  switch (h.vornColorSpace) {
    case 3: planes = 1; break;
    case 4: planes = 3; break;
    case 8: planes = 4; break;
    case 9: planes = 6; break;
    default:
      return "escpdrv prints colour spaces 3 (K), 4 (CMY), 8 (KCMY) and 9 (KCMYcm), not " +
             std::to_string(h.vornColorSpace);
  }
  if (planes > 1 && h.vornColorOrder != 1) return "colour pages must be banded (vornColorOrder 1)";
  if (h.vornCompression > 1) return "unknown compression " + std::to_string(h.vornCompression) + " (0 none, 1 PackBits)";
  std::string why = drv::check_layout(h, planes, 1, {.max_resolution = 1440, .max_width = 65528});
  if (!why.empty()) return why;
  const unsigned xres = h.HWResolution[0], yres = h.HWResolution[1], rows = h.vornRowCount;
  char buf[160];
  if (dot_matrix(pr.model)) {
    if (planes != 1) return "dot-matrix pages must be black (colour space 3)";
    // The head's rows and the line spacing must agree, or bands overlap or
    // leave gaps; and each head has its own bit-image densities.
    bool ok;
    if (pr.model == 0) ok = (rows == 8 && yres == 72) || (rows == 24 && yres == 216);
    else if (xres == 180 || xres == 360) ok = rows == 24 && (yres == 180 || (xres == 360 && yres == 360));
    else ok = (rows == 24 && yres == 180) || (rows == 8 && yres == 60);
    // Bit images exist only at these densities; any other width would
    // make a column group of no bytes.
    if (ok) ok = xres == 60 || xres == 120 || xres == 180 || xres == 240 || xres == 360;
    if (ok) ok = rows == 8 ? (xres == 60 || xres == 120 || xres == 240) : (xres != 240);
    if (!ok) {
      std::snprintf(buf, sizeof buf, "dot-matrix model %d cannot print %ux%u dpi with %u head rows", pr.model, xres,
                    yres, rows);
      return buf;
    }
  } else {
    // Steps and units are whole 3600ths (models 2 and 3) or 1440ths (the
    // raster command models) of an inch, one byte each.
    const unsigned base = pr.model > 3 ? 1440 : 3600;
    for (unsigned r : {xres, yres})
      if (base % r != 0 || base / r > 255 || r > 1440) {
        std::snprintf(buf, sizeof buf, "inkjet resolution %ux%u dpi (each a whole part of %u)", xres, yres, base);
        return buf;
      }
  }
  return {};
}

}  // namespace

int print_job(vorn_raster_t* ras, const printer& pr, FILE* out) {
  if (pr.usb && pr.model > 3) {
    static const char exit_packet_mode[] = "\0\0\0\033\001@EJL 1284.4\n@EJL     \n\033@";
    std::fwrite(exit_packet_mode, 1, sizeof exit_packet_mode - 1, out);
  }
  unsigned page_no = 0;
  vorn_page_header_t h;
  drv::header_result res;
  bool failed = false;
  while ((res = drv::read_header(ras, h)) == drv::header_result::page) {
    page pg(h, pr, out);
    if (std::string why = page_problem(h, pr, pg.planes); !why.empty()) {
      std::fprintf(stderr, "ERROR: Unable to print page %u - %s\n", page_no + 1, why.c_str());
      failed = true;
      break;
    }
    page_no++;
    std::fprintf(stderr, "PAGE: %u %u\n", page_no, h.NumCopies);
    start_page(pg);
    for (unsigned y = 0; y < h.vornHeight && !drv::term_requested(); y++) {
      if (y % 128 == 0)
        std::fprintf(stderr, "INFO: Printing page %u, %u%% complete...\n", page_no,
                     unsigned(100ull * y / h.vornHeight));
      if (vornRasterReadPixels(ras, pg.row.data(), h.vornBytesPerLine) == 0) break;
      if (pg.head_bytes) pg.dot_matrix_row();
      else pg.inkjet_row();
    }
    end_page(pg);
    if (drv::term_requested()) break;
  }
  if (res == drv::header_result::refused) failed = true;
  std::fputs("\033@", out);
  std::fflush(out);
  if (drv::term_requested()) return 0;
  return drv::job_status(failed, page_no);
}

}  // namespace vorn::escp
