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

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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
  std::vector<uint8_t> pixels;    // rows top to bottom, ImageDepth samples a pixel
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
