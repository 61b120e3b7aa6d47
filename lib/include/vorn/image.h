// libvornimage: image files read into memory in the colour space a filter
// asks for, colour conversion, and scaling of source rectangles.
//
// Formats (recognised by content, not by name): PNG (libpng), JPEG
// (libjpeg), TIFF (libtiff), GIF (giflib), PBM/PGM/PPM plain and raw,
// SGI (verbatim and run-length, 8 and 16 bits), Sun raster (1, 8, 24 and
// 32 bits, standard, run-length and RGB types), Photo CD (the 768 × 512
// base image) and Windows icons (the largest picture, PNG or bitmap).
// Transparent parts are laid over white.
//
// Every size in a file is checked before anything is allocated from it:
// a zero width or height, or an image whose pixels in the requested space
// would need more than ImageMaxBytes() bytes, is refused with a reason in
// ImageLastError().
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace vorn {

// Memory for picture buffers: small blocks from the heap, large ones as
// their own mappings backed by huge pages where the system offers them, so
// the first touch of a large picture costs a few faults instead of one a
// page. Failure to allocate is reported as by operator new.
void* image_memory_allocate(size_t bytes);
void image_memory_free(void* p, size_t bytes) noexcept;

// The allocator of picture buffers. Its value-less construction leaves the
// value unset, so a buffer resized with it is not zero-filled first: every
// reader writes each sample it allocates (or asks for zeros), and on large
// pictures the fill was a whole extra pass over memory.
template <class T>
struct image_allocator {
  using value_type = T;
  image_allocator() = default;
  template <class U>
  image_allocator(const image_allocator<U>&) noexcept {}
  T* allocate(size_t n) { return static_cast<T*>(image_memory_allocate(n * sizeof(T))); }
  void deallocate(T* p, size_t n) noexcept { image_memory_free(p, n * sizeof(T)); }
  template <class U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
  friend bool operator==(const image_allocator&, const image_allocator&) noexcept { return true; }
};

// Samples of a picture. Compares equal to a plain byte vector of the same
// samples.
using image_pixels = std::vector<uint8_t, image_allocator<uint8_t>>;

inline bool operator==(const image_pixels& a, const std::vector<uint8_t>& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

}  // namespace vorn

// Image colour spaces: the sign tells additive (light) from subtractive
// (ink), the magnitude is the number of 8-bit samples a pixel.
enum {
  IMAGE_CMYK = -4,
  IMAGE_CMY = -3,
  IMAGE_BLACK = -1,
  IMAGE_WHITE = 1,
  IMAGE_RGB = 3,
};

inline int ImageDepth(int colorspace) { return colorspace < 0 ? -colorspace : colorspace; }

struct image_t {
  int colorspace = IMAGE_WHITE;
  unsigned xsize = 0, ysize = 0;  // pixels
  unsigned xppi = 0, yppi = 0;    // natural resolution; 0 when the file has none
  vorn::image_pixels pixels;      // rows top to bottom, ImageDepth samples a pixel
};

// Opens an image file. Colour images come out in `primary`, grey ones in
// `secondary`. Saturation (percent, 100 leaves colours alone) and hue
// (degrees) adjust colour images; `lut`, when not null, maps every sample
// (256 entries) after conversion. nullptr when the file cannot be read or
// decoded (see ImageLastError).
image_t* ImageOpen(const char* filename, int primary, int secondary, int saturation, int hue,
                   const uint8_t* lut);
// The same for an image already in memory.
image_t* ImageOpenMemory(const uint8_t* data, size_t len, int primary, int secondary, int saturation,
                         int hue, const uint8_t* lut);
void ImageClose(image_t* img);

// Why the last ImageOpen on this thread failed.
const char* ImageLastError();

// Largest pixel buffer an open may allocate (default 1 GiB).
size_t ImageMaxBytes();
void ImageSetMaxBytes(size_t bytes);

// Copies `width` pixels of row y starting at column x into `row`; the part
// outside the image is clipped. Returns the pixels copied, -1 for a row
// outside the image.
int ImageGetRow(const image_t* img, int x, int y, int width, uint8_t* row);

// Colour profile for ink output: density and gamma shape each ink, the
// 3 × 3 matrix (row = output ink C, M, Y; column = input) mixes them. Applied
// by later opens when the raster colour space is an ink space.
void ImageSetProfile(float density, float gamma, const float matrix[3][3]);
void ImageClearProfile();
// The raster colour space the converted pixels are for (0 to 15).
void ImageSetColorSpace(int raster_colorspace);

// Scaler over a source rectangle x0..x1, y0..y1 (inclusive) giving output
// rows of |xsize| pixels (negative: mirrored left to right), ysize rows. In
// rotated mode the output rows run along the image's columns, from the
// right-most column, each row from the top of the image to the bottom (the
// picture turned a quarter counter-clockwise). `rotated` counts quarter
// turns, 0 to 3: 2 and 3 turn the picture a further half turn, so the
// reverse orientations need no second pass.
struct image_zoom_t {
  const image_t* img = nullptr;
  int xorig = 0, yorig = 0, width = 0, height = 0;  // source rectangle
  int depth = 1;
  bool rotated = false, half_turn = false, mirror = false;
  int xsize = 0, ysize = 0;  // output row width and row count
  int rows = 0;              // source rows along the output's vertical axis
  int cols = 0;              // source pixels along an output row
  int ystep = 0, ymod = 0;   // rows ÷ ysize and rows mod ysize: source rows a
                             // output row advances, and its error term
  int row_at[2] = {-1, -1};  // source row held in rowbuf[0] and rowbuf[1]
  std::vector<uint8_t> rowbuf[2];
};
// nullptr when the rectangle is not inside the image or a size is zero,
// negative (but for mirroring) or too large.
image_zoom_t* ImageZoomAlloc(const image_t* img, int x0, int y0, int x1, int y1, int xsize, int ysize,
                             int rotated);
// Makes rowbuf[0] the scaled source row iy and rowbuf[1] the one after it
// (the last row again at the bottom edge). ImageZoomFill interpolates
// between neighbouring source pixels; ImageZoomQFill takes the nearest.
void ImageZoomFill(image_zoom_t* z, int iy);
void ImageZoomQFill(image_zoom_t* z, int iy);
void ImageZoomFree(image_zoom_t* z);
