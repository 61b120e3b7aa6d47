#include "filter/pcldrv/pcl-driver.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "filter/driver-common/driver.h"

namespace vorn::pcl {

namespace {

// Paper size command by page length in points.
int paper_code(unsigned length) {
  switch (length) {
    case 540: return 80;
    case 624: return 90;
    case 649: return 91;
    case 684: return 81;
    case 709: return 100;
    case 756: return 1;
    case 792: return 2;
    case 842: return 26;
    case 1008: return 3;
    case 1191: return 27;
    case 1224: return 6;
    default: return -1;
  }
}

struct page {
  const vorn_page_header_t& h;
  FILE* out;
  unsigned planes = 1;
  unsigned bits = 1;
  unsigned pending_feed = 0;
  size_t plane_bytes = 0;  // input bytes of one plane
  size_t bit_row = 0;      // bytes of one bit row: (width + 7) / 8
  std::vector<uint8_t> row, lo, hi, packed;

  explicit page(const vorn_page_header_t& hdr, FILE* o) : h(hdr), out(o) {}

  void send(const uint8_t* data, size_t len, char letter) {
    size_t n = len;
    const uint8_t* p = data;
    if (h.vornCompression == 1) {
      n = 0;
      for (size_t i = 0; i < len;) {
        size_t run = 1;
        while (i + run < len && run < 256 && data[i + run] == data[i]) run++;
        packed[n++] = uint8_t(run - 1);
        packed[n++] = data[i];
        i += run;
      }
      p = packed.data();
    } else if (h.vornCompression == 2) {
      n = drv::pack_bits(data, len, packed.data());
      p = packed.data();
    }
    std::fprintf(out, "\033*b%zu%c", n, letter);
    std::fwrite(p, 1, n, out);
  }

  // Splits 2-bit pixels into a low-order and a high-order bit row.
  void split(const uint8_t* in) {
    for (size_t o = 0, i = 0; o < bit_row; o++, i += 2) {
      unsigned a = i < plane_bytes ? in[i] : 0, b = i + 1 < plane_bytes ? in[i + 1] : 0;
      unsigned l = 0, m = 0;
      for (int k = 3; k >= 0; k--) {
        l = l << 1 | ((a >> (2 * k)) & 1);
        m = m << 1 | ((a >> (2 * k + 1)) & 1);
      }
      for (int k = 3; k >= 0; k--) {
        l = l << 1 | ((b >> (2 * k)) & 1);
        m = m << 1 | ((b >> (2 * k + 1)) & 1);
      }
      lo[o] = uint8_t(l);
      hi[o] = uint8_t(m);
    }
  }

  void output_row() {
    if (pending_feed > 0) {
      std::fprintf(out, "\033*b%uY", pending_feed);
      pending_feed = 0;
    }
    for (unsigned p = 0; p < planes; p++) {
      char letter = p + 1 < planes ? 'V' : 'W';
      const uint8_t* data = row.data() + p * plane_bytes;
      if (bits == 1) {
        send(data, bit_row, letter);
      } else {
        split(data);
        send(lo.data(), bit_row, 'V');
        send(hi.data(), bit_row, letter);
      }
    }
  }
};

void start_page(page& pg, const printer& pr, unsigned page_no) {
  const vorn_page_header_t& h = pg.h;
  FILE* out = pg.out;
  drv::catch_term();
  if (!h.Duplex || (page_no & 1)) {
    std::fputs("\033&l6D\033&k12H\033&l0O", out);
    unsigned length = h.PageSize[1];
    if (int code = paper_code(length); code >= 0) std::fprintf(out, "\033&l%dA", code);
    std::fprintf(out, "\033&l%uP\033&l0E\033&l%uX", length / 12, h.NumCopies);
    if (h.MediaPosition) std::fprintf(out, "\033&l%uH", h.MediaPosition);
    if (h.vornMediaType) std::fprintf(out, "\033&l%uM", h.vornMediaType);
    if (h.Duplex) std::fprintf(out, "\033&l%dS", int(h.Duplex) + int(h.Tumble));
    std::fputs("\033&l0L", out);
    if (pr.have_ppd && pr.model == 2) std::fputs("\033&l-2H", out);
  } else {
    std::fputs("\033&a2G", out);
  }
  std::fprintf(out, "\033*t%uR", h.HWResolution[0]);
  if (pr.model == 2) {
    // Configure raster data: format 2, the plane count, then for each of
    // four colour components its resolution and number of levels.
    uint8_t block[26] = {2, uint8_t(pg.planes)};
    for (int c = 0; c < 4; c++) {
      uint8_t* b = block + 2 + 6 * c;
      b[0] = uint8_t(h.HWResolution[0] >> 8);
      b[1] = uint8_t(h.HWResolution[0]);
      b[2] = uint8_t(h.HWResolution[1] >> 8);
      b[3] = uint8_t(h.HWResolution[1]);
      b[4] = 0;
      b[5] = uint8_t(1u << pg.bits);
    }
    std::fputs("\033*g26W", out);
    std::fwrite(block, 1, sizeof block, out);
  } else if (h.vornColorSpace == 8) {
    std::fputs("\033*r-4U", out);
  } else if (h.vornColorSpace == 4) {
    std::fputs("\033*r-3U", out);
  }
  std::fprintf(out, "\033*r%uS\033*r%uT", h.vornWidth, h.vornHeight);
  std::fputs("\033&a0H", out);
  if (pr.have_ppd) std::fprintf(out, "\033&a%.0fV", 10.0 * (pr.first_length - pr.first_top));
  else std::fputs("\033&a0V", out);
  std::fputs("\033*r1A", out);
  if (h.vornCompression) std::fprintf(out, "\033*b%uM", h.vornCompression);
  pg.plane_bytes = h.vornBytesPerLine / pg.planes;
  pg.bit_row = (size_t(h.vornWidth) + 7) / 8;
  pg.row.assign(h.vornBytesPerLine, 0);
  if (pg.bits > 1) {
    pg.lo.assign(pg.bit_row, 0);
    pg.hi.assign(pg.bit_row, 0);
  }
  if (h.vornCompression) pg.packed.assign(std::max(2 * pg.bit_row, drv::pack_bits_bound(pg.bit_row)), 0);
}

void end_page(page& pg, unsigned page_no) {
  bool eject = !pg.h.Duplex || !(page_no & 1);
  if (pg.planes > 1) {
    std::fputs("\033*rC", pg.out);
    if (eject) std::fputs("\033&l0H", pg.out);
  } else {
    std::fputs("\033*r0B", pg.out);
    if (eject) std::fputc('\f', pg.out);
  }
  std::fflush(pg.out);
  drv::ignore_term();
}

// The plane count for the header, or a reason to refuse the page.
std::string page_problem(const vorn_page_header_t& h, const printer& pr, unsigned& planes) {
  if (h.vornBitsPerColor != 1 && h.vornBitsPerColor != 2)
    return "pcldrv prints 1 or 2 bits per colour, not " + std::to_string(h.vornBitsPerColor);
  switch (h.vornColorSpace) {
    case 3: planes = 1; break;
    case 4: planes = 3; break;
    case 8: planes = 4; break;
    default: return "pcldrv prints colour spaces 3 (K), 4 (CMY) and 8 (KCMY), not " +
                    std::to_string(h.vornColorSpace);
  }
  if (pr.model == 2 && planes == 3) return "this printer takes K or KCMY pages, not CMY";
  if (planes > 1 && h.vornColorOrder != 1) return "colour pages must be banded (vornColorOrder 1)";
  if (h.vornCompression > 2)
    return "unknown compression " + std::to_string(h.vornCompression) + " (0 none, 1 run-length, 2 PackBits)";
  return drv::check_layout(h, planes, h.vornBitsPerColor, {.max_resolution = 4800, .max_width = 65535});
}

}  // namespace

int print_job(vorn_raster_t* ras, const printer& pr, FILE* out) {
  std::fputs("\033E", out);
  unsigned page_no = 0;
  vorn_page_header_t h;
  drv::header_result res;
  bool failed = false;
  while ((res = drv::read_header(ras, h)) == drv::header_result::page) {
    page pg(h, out);
    pg.bits = h.vornBitsPerColor;
    if (std::string why = page_problem(h, pr, pg.planes); !why.empty()) {
      std::fprintf(stderr, "ERROR: Unable to print page %u - %s\n", page_no + 1, why.c_str());
      failed = true;
      break;
    }
    page_no++;
    std::fprintf(stderr, "PAGE: %u %u\n", page_no, h.NumCopies);
    start_page(pg, pr, page_no);
    for (unsigned y = 0; y < h.vornHeight && !drv::term_requested(); y++) {
      if (y % 128 == 0)
        std::fprintf(stderr, "INFO: Printing page %u, %u%% complete...\n", page_no,
                     unsigned(100ull * y / h.vornHeight));
      if (vornRasterReadPixels(ras, pg.row.data(), h.vornBytesPerLine) == 0) break;
      if (drv::row_blank(pg.row.data(), pg.row.size())) pg.pending_feed++;
      else pg.output_row();
    }
    end_page(pg, page_no);
    if (drv::term_requested()) break;
  }
  if (res == drv::header_result::refused) failed = true;
  std::fputs("\033E", out);
  std::fflush(out);
  if (drv::term_requested()) return 0;
  return drv::job_status(failed, page_no);
}

}  // namespace vorn::pcl
