// The raster page stream: pages of pixel rows that imgraster and psraster
// write and the raster drivers read. Each page is a header followed by its
// rows, vornBytesPerLine bytes each.
//
// Byte layout (all integers unsigned 32-bit, most significant byte first):
//
//   offset  size  field
//        0     4  sync word "VRST", repeated before every page header so a
//                 reader notices a stream that lost its place
//        4    64  MediaClass   texts, NUL-padded; at most 63 bytes are
//       68    64  MediaColor    kept, the 64th is always NUL
//      132    64  MediaType
//      196    64  OutputType
//      260     4  Collate (0 or 1)
//      264     4  Duplex (0 or 1)
//      268     4  Tumble (0 or 1)
//      272     4  CutMedia
//      276     8  HWResolution[2], dots per inch
//      284    16  ImagingBoundingBox[4], points: left, bottom, right, top
//      300     8  Margins[2], points: left, bottom
//      308     4  MediaPosition
//      312     4  NumCopies
//      316     8  PageSize[2], points
//      324     4  vornWidth, pixels per row
//      328     4  vornHeight, rows
//      332     4  vornMediaType
//      336     4  vornBitsPerColor (1, 2, 4, 8)
//      340     4  vornBitsPerPixel
//      344     4  vornBytesPerLine
//      348     4  vornColorOrder (0 chunky, 1 banded, 2 planar)
//      352     4  vornColorSpace (0 to 15, see vornRasterPlanes)
//      356     4  vornCompression  these four are for the driver;
//      360     4  vornRowCount     the stream does not interpret
//      364     4  vornRowFeed      them
//      368     4  vornRowStep
//      372        end of header (VORN_RASTER_HEADER_SIZE)
//
// Then the page's data: vornBytesPerLine × vornHeight bytes, times the
// number of planes in planar order (the page is written once per plane).
//
// A header is accepted only when its fields describe a page that can be
// held: bits per colour 1, 2, 4 or 8, a known colour space and order, width,
// height and resolution above zero, bytes per line large enough for the
// width at the bits per pixel, and no more than VORN_RASTER_MAX_PAGE bytes
// of data. A reader refuses anything else (ReadHeader answers false), so a
// driver never computes sizes from a hostile header.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t VORN_RASTER_HEADER_SIZE = 372;
inline constexpr uint64_t VORN_RASTER_MAX_PAGE = uint64_t(2) << 30;  // 2 GiB
inline constexpr unsigned VORN_RASTER_MAX_DIM = 1u << 20;            // pixels or rows

struct vorn_page_header_t {
  char MediaClass[64] = {};
  char MediaColor[64] = {};
  char MediaType[64] = {};
  char OutputType[64] = {};
  bool Collate = false;
  bool Duplex = false;
  bool Tumble = false;
  unsigned CutMedia = 0;
  unsigned HWResolution[2] = {0, 0};
  unsigned ImagingBoundingBox[4] = {0, 0, 0, 0};
  unsigned Margins[2] = {0, 0};
  unsigned MediaPosition = 0;
  unsigned NumCopies = 0;
  unsigned PageSize[2] = {0, 0};
  unsigned vornWidth = 0;
  unsigned vornHeight = 0;
  unsigned vornMediaType = 0;
  unsigned vornBitsPerColor = 0;
  unsigned vornBitsPerPixel = 0;
  unsigned vornBytesPerLine = 0;
  unsigned vornColorOrder = 0;
  unsigned vornColorSpace = 0;
  unsigned vornCompression = 0;
  unsigned vornRowCount = 0;
  unsigned vornRowFeed = 0;
  unsigned vornRowStep = 0;
};

enum vorn_raster_mode_t { VORN_RASTER_READ, VORN_RASTER_WRITE };

struct vorn_raster_t;

// Colour planes of a colour space (0 to 15): 1, 3, 4 or 6 (space 9 at one
// bit per colour; four at other depths). 0 for an unknown space.
unsigned vornRasterPlanes(const vorn_page_header_t& h);

// Bytes of one page's data: vornBytesPerLine × vornHeight × (planes in
// planar order, else 1).
uint64_t vornRasterPageBytes(const vorn_page_header_t& h);

// Why a header cannot describe a page, or nullptr when it can.
const char* vornRasterHeaderProblem(const vorn_page_header_t& h);

// The stream on a descriptor, which stays the caller's. nullptr for a bad
// descriptor or mode. A reader reads ahead of what it hands out, so the
// descriptor must carry the stream only.
vorn_raster_t* vornRasterOpen(int fd, vorn_raster_mode_t mode);
// Closes the stream, not the descriptor. A writer first pads an unfinished
// page with zero bytes so the stream stays readable.
void vornRasterClose(vorn_raster_t* r);

// Writes a page header; false when the header is refused
// (vornRasterHeaderProblem) or the write fails. An unfinished previous page
// is padded with zeros first.
bool vornRasterWriteHeader(vorn_raster_t* r, const vorn_page_header_t& h);
// Writes pixel bytes of the current page; returns the count written, fewer
// than `len` meaning failure (a write error, or bytes past the page's end).
size_t vornRasterWritePixels(vorn_raster_t* r, const uint8_t* p, size_t len);

// Reads the next page header, skipping what is left of the previous page;
// false at the end of the stream or on a damaged or refused header.
bool vornRasterReadHeader(vorn_raster_t* r, vorn_page_header_t& h);
// After ReadHeader answered false: nullptr when the stream simply ended,
// else why the header was refused (damaged or describing no holdable page).
const char* vornRasterReadProblem(const vorn_raster_t* r);
// Reads exactly `len` bytes of the current page; returns `len`, or 0 at the
// end of the page's data, at the end of the stream, or on a read error.
size_t vornRasterReadPixels(vorn_raster_t* r, uint8_t* p, size_t len);
