// The raster page stream (layout in vorn/raster.h).
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "vorn/fd.h"
#include "vorn/raster.h"

struct vorn_raster_t {
  int fd = -1;
  vorn_raster_mode_t mode = VORN_RASTER_READ;
  uint64_t remaining = 0;  // data bytes of the current page not yet moved
  bool failed = false;
  const char* problem = nullptr;  // why the last header read failed, if not the end
  // Read-ahead: drivers ask for one row at a time, and a read call per row
  // costs more than the row's conversion. The stream owns what it reads
  // ahead, so its descriptor carries nothing else.
  std::vector<uint8_t> ahead;
  size_t ahead_pos = 0, ahead_len = 0;
};

namespace {

constexpr char kSync[4] = {'V', 'R', 'S', 'T'};

void put32(uint8_t*& p, unsigned v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
  p += 4;
}

unsigned get32(const uint8_t*& p) {
  unsigned v = unsigned(p[0]) << 24 | unsigned(p[1]) << 16 | unsigned(p[2]) << 8 | p[3];
  p += 4;
  return v;
}

void put_text(uint8_t*& p, const char (&text)[64]) {
  size_t n = strnlen(text, 63);
  std::memset(p, 0, 64);
  std::memcpy(p, text, n);
  p += 64;
}

void get_text(const uint8_t*& p, char (&text)[64]) {
  std::memcpy(text, p, 63);
  text[63] = 0;
  p += 64;
}

// Reads exactly len bytes; the count read (short only at end or error).
size_t read_full(int fd, uint8_t* p, size_t len) {
  size_t got = 0;
  while (got < len) {
    ssize_t n = vorn::read_retry(fd, p + got, len - got);
    if (n <= 0) break;
    got += size_t(n);
  }
  return got;
}

// read_full through the stream's read-ahead buffer.
size_t read_buffered(vorn_raster_t* r, uint8_t* p, size_t len) {
  constexpr size_t kAhead = 64 * 1024;
  size_t got = 0;
  while (got < len) {
    if (r->ahead_pos == r->ahead_len) {
      if (len - got >= kAhead) return got + read_full(r->fd, p + got, len - got);
      if (r->ahead.empty()) r->ahead.resize(kAhead);
      ssize_t n = vorn::read_retry(r->fd, r->ahead.data(), kAhead);
      if (n <= 0) break;
      r->ahead_pos = 0;
      r->ahead_len = size_t(n);
    }
    size_t take = std::min(len - got, r->ahead_len - r->ahead_pos);
    std::memcpy(p + got, r->ahead.data() + r->ahead_pos, take);
    r->ahead_pos += take;
    got += take;
  }
  return got;
}

bool pad_page(vorn_raster_t* r) {
  static const uint8_t zeros[4096] = {};
  while (r->remaining > 0) {
    size_t n = r->remaining < sizeof(zeros) ? size_t(r->remaining) : sizeof(zeros);
    if (vorn::write_all(r->fd, zeros, n) != 0) {
      r->failed = true;
      return false;
    }
    r->remaining -= n;
  }
  return true;
}

}  // namespace

unsigned vornRasterPlanes(const vorn_page_header_t& h) {
  switch (h.vornColorSpace) {
    case 0: case 3: case 12: case 13: case 14: return 1;
    case 1: case 4: case 5: case 15: return 3;
    case 2: case 6: case 7: case 8: case 10: case 11: return 4;
    case 9: return h.vornBitsPerColor == 1 ? 6 : 4;
    default: return 0;
  }
}

uint64_t vornRasterPageBytes(const vorn_page_header_t& h) {
  uint64_t bytes = uint64_t(h.vornBytesPerLine) * h.vornHeight;
  if (h.vornColorOrder == 2) bytes *= vornRasterPlanes(h);
  return bytes;
}

const char* vornRasterHeaderProblem(const vorn_page_header_t& h) {
  unsigned b = h.vornBitsPerColor;
  if (b != 1 && b != 2 && b != 4 && b != 8) return "bits per colour not 1, 2, 4 or 8";
  if (vornRasterPlanes(h) == 0) return "unknown colour space";
  if (h.vornColorOrder > 2) return "unknown colour order";
  if (h.vornWidth == 0 || h.vornHeight == 0) return "empty page";
  if (h.vornWidth > VORN_RASTER_MAX_DIM || h.vornHeight > VORN_RASTER_MAX_DIM) return "page too large";
  if (h.HWResolution[0] == 0 || h.HWResolution[1] == 0) return "zero resolution";
  if (h.vornBitsPerPixel == 0 || h.vornBitsPerPixel > 64) return "bad bits per pixel";
  // Every row must at least hold its pixels, one band or plane each.
  uint64_t row_bytes = (uint64_t(h.vornWidth) * h.vornBitsPerPixel + 7) / 8;
  if (h.vornBytesPerLine < row_bytes) return "bytes per line too small for the width";
  if (vornRasterPageBytes(h) > VORN_RASTER_MAX_PAGE) return "page data too large";
  return nullptr;
}

vorn_raster_t* vornRasterOpen(int fd, vorn_raster_mode_t mode) {
  if (fd < 0 || (mode != VORN_RASTER_READ && mode != VORN_RASTER_WRITE)) return nullptr;
  auto* r = new vorn_raster_t;
  r->fd = fd;
  r->mode = mode;
  return r;
}

void vornRasterClose(vorn_raster_t* r) {
  if (!r) return;
  if (r->mode == VORN_RASTER_WRITE && !r->failed) pad_page(r);
  delete r;
}

bool vornRasterWriteHeader(vorn_raster_t* r, const vorn_page_header_t& h) {
  if (!r || r->mode != VORN_RASTER_WRITE || r->failed) return false;
  if (vornRasterHeaderProblem(h)) return false;
  if (!pad_page(r)) return false;
  uint8_t buf[VORN_RASTER_HEADER_SIZE];
  uint8_t* p = buf;
  std::memcpy(p, kSync, 4);
  p += 4;
  put_text(p, h.MediaClass);
  put_text(p, h.MediaColor);
  put_text(p, h.MediaType);
  put_text(p, h.OutputType);
  put32(p, h.Collate);
  put32(p, h.Duplex);
  put32(p, h.Tumble);
  put32(p, h.CutMedia);
  for (unsigned v : h.HWResolution) put32(p, v);
  for (unsigned v : h.ImagingBoundingBox) put32(p, v);
  for (unsigned v : h.Margins) put32(p, v);
  put32(p, h.MediaPosition);
  put32(p, h.NumCopies);
  for (unsigned v : h.PageSize) put32(p, v);
  for (unsigned v : {h.vornWidth, h.vornHeight, h.vornMediaType, h.vornBitsPerColor, h.vornBitsPerPixel,
                     h.vornBytesPerLine, h.vornColorOrder, h.vornColorSpace, h.vornCompression,
                     h.vornRowCount, h.vornRowFeed, h.vornRowStep})
    put32(p, v);
  if (vorn::write_all(r->fd, buf, sizeof(buf)) != 0) {
    r->failed = true;
    return false;
  }
  r->remaining = vornRasterPageBytes(h);
  return true;
}

size_t vornRasterWritePixels(vorn_raster_t* r, const uint8_t* p, size_t len) {
  if (!r || r->mode != VORN_RASTER_WRITE || r->failed || !p) return 0;
  size_t n = len <= r->remaining ? len : size_t(r->remaining);
  if (n > 0 && vorn::write_all(r->fd, p, n) != 0) {
    r->failed = true;
    return 0;
  }
  r->remaining -= n;
  return n;
}

bool vornRasterReadHeader(vorn_raster_t* r, vorn_page_header_t& h) {
  if (!r || r->mode != VORN_RASTER_READ || r->failed) return false;
  // Skip the unread part of the previous page.
  uint8_t skip[4096];
  while (r->remaining > 0) {
    size_t want = r->remaining < sizeof(skip) ? size_t(r->remaining) : sizeof(skip);
    if (read_buffered(r, skip, want) != want) {
      r->failed = true;
      return false;
    }
    r->remaining -= want;
  }
  uint8_t buf[VORN_RASTER_HEADER_SIZE];
  size_t got = read_buffered(r, buf, sizeof(buf));
  if (got != sizeof(buf) || std::memcmp(buf, kSync, 4) != 0) {
    // Nothing at all is the end of the stream; anything else is damage.
    if (got == 0) r->problem = nullptr;
    else if (got != sizeof(buf)) r->problem = "truncated page header";
    else r->problem = "no page header where one was expected";
    r->failed = true;
    return false;
  }
  const uint8_t* p = buf + 4;
  vorn_page_header_t n;
  get_text(p, n.MediaClass);
  get_text(p, n.MediaColor);
  get_text(p, n.MediaType);
  get_text(p, n.OutputType);
  n.Collate = get32(p) != 0;
  n.Duplex = get32(p) != 0;
  n.Tumble = get32(p) != 0;
  n.CutMedia = get32(p);
  for (unsigned& v : n.HWResolution) v = get32(p);
  for (unsigned& v : n.ImagingBoundingBox) v = get32(p);
  for (unsigned& v : n.Margins) v = get32(p);
  n.MediaPosition = get32(p);
  n.NumCopies = get32(p);
  for (unsigned& v : n.PageSize) v = get32(p);
  for (unsigned* v : {&n.vornWidth, &n.vornHeight, &n.vornMediaType, &n.vornBitsPerColor, &n.vornBitsPerPixel,
                      &n.vornBytesPerLine, &n.vornColorOrder, &n.vornColorSpace, &n.vornCompression,
                      &n.vornRowCount, &n.vornRowFeed, &n.vornRowStep})
    *v = get32(p);
  if (const char* why = vornRasterHeaderProblem(n)) {
    r->problem = why;
    r->failed = true;
    return false;
  }
  h = n;
  r->remaining = vornRasterPageBytes(n);
  return true;
}

size_t vornRasterReadPixels(vorn_raster_t* r, uint8_t* p, size_t len) {
  if (!r || r->mode != VORN_RASTER_READ || r->failed || !p || len == 0) return 0;
  if (len > r->remaining) return 0;
  size_t got = read_buffered(r, p, len);
  if (got != len) {
    r->failed = true;
    return 0;
  }
  r->remaining -= len;
  return len;
}

const char* vornRasterReadProblem(const vorn_raster_t* r) { return r ? r->problem : nullptr; }
