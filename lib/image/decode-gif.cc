// GIF through giflib: the first image of the file placed on its logical
// screen, transparent and uncovered parts white.
#include <gif_lib.h>

#include <cstring>
#include <vector>

#include "vorn/image.h"

#include "decode.h"

namespace vorn::image {
namespace {

int mem_read(GifFileType* gif, GifByteType* buf, int n) {
  auto* m = static_cast<mem_file*>(gif->UserData);
  if (n <= 0 || m->pos >= m->len) return 0;
  size_t k = std::min(size_t(n), m->len - m->pos);
  std::memcpy(buf, m->data + m->pos, k);
  m->pos += k;
  return int(k);
}

}  // namespace

bool decode_gif(const uint8_t* data, size_t len, raw_image& img, std::string& err) {
  mem_file m{data, len, 0};
  int code = 0;
  GifFileType* gif = DGifOpen(&m, mem_read, &code);
  if (!gif) {
    err = std::string("GIF: ") + (GifErrorString(code) ? GifErrorString(code) : "cannot open");
    return false;
  }
  struct closer {
    GifFileType* g;
    ~closer() {
      int e;
      DGifCloseFile(g, &e);
    }
  } close_gif{gif};
  // Record by record, so that the frame's size is checked before any pixel
  // memory is taken.
  int transparent = NO_TRANSPARENT_COLOR;
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif, &type) != GIF_OK) {
      err = "GIF: damaged file";
      return false;
    }
    if (type == TERMINATE_RECORD_TYPE) {
      err = "GIF: no image";
      return false;
    }
    if (type == EXTENSION_RECORD_TYPE) {
      int ext_code;
      GifByteType* ext = nullptr;
      if (DGifGetExtension(gif, &ext_code, &ext) != GIF_OK) {
        err = "GIF: damaged extension";
        return false;
      }
      if (ext_code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4 && (ext[1] & 1)) transparent = ext[4];
      while (ext) {
        if (DGifGetExtensionNext(gif, &ext) != GIF_OK) {
          err = "GIF: damaged extension";
          return false;
        }
      }
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) continue;
    if (DGifGetImageDesc(gif) != GIF_OK) {
      err = "GIF: damaged image descriptor";
      return false;
    }
    break;
  }
  const GifImageDesc& d = gif->Image;
  const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
  if (!map || !map->Colors || map->ColorCount <= 0) {
    err = "GIF: no colour map";
    return false;
  }
  if (d.Width <= 0 || d.Height <= 0) {
    err = "GIF: image has no pixels";
    return false;
  }
  bool grey = true;
  for (int i = 0; i < map->ColorCount; i++) {
    const GifColorType& c = map->Colors[i];
    if (c.Red != c.Green || c.Green != c.Blue) grey = false;
  }
  // Some writers leave the screen size 0; the frame's own size then counts.
  uint64_t sw = gif->SWidth, sh = gif->SHeight;
  if (sw == 0 || sh == 0) {
    sw = uint64_t(d.Left) + unsigned(d.Width);
    sh = uint64_t(d.Top) + unsigned(d.Height);
  }
  if (!alloc_raw(img, sw, sh, grey ? 1 : 3, err)) return false;
  // The frame may be larger than the screen; its rows are still decoded,
  // so it counts against the limit too.
  if (uint64_t(d.Width) * unsigned(d.Height) > ImageMaxBytes() / 4) {
    err = "GIF: frame too large";
    return false;
  }
  std::memset(img.pixels.data(), 255, img.pixels.size());
  std::vector<GifPixelType> line(size_t(d.Width));
  // Interlaced frames arrive in four passes: every 8th row from 0, every 8th
  // from 4, every 4th from 2, every 2nd from 1.
  static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
  int passes = d.Interlace ? 4 : 1;
  int ch = img.channels;
  for (int pass = 0; pass < passes; pass++) {
    for (int y = d.Interlace ? start[pass] : 0; y < d.Height; y += d.Interlace ? step[pass] : 1) {
      if (DGifGetLine(gif, line.data(), d.Width) != GIF_OK) {
        err = "GIF: damaged image data";
        return false;
      }
      uint64_t py = uint64_t(d.Top) + unsigned(y);
      if (py >= img.height) continue;
      for (int x = 0; x < d.Width; x++) {
        uint64_t px = uint64_t(d.Left) + unsigned(x);
        if (px >= img.width) break;
        int index = line[size_t(x)];
        if (index == transparent) continue;
        if (index >= map->ColorCount) index = 0;  // out of the map: damaged file
        const GifColorType& c = map->Colors[index];
        uint8_t* o = img.pixels.data() + (py * img.width + px) * unsigned(ch);
        if (grey) {
          o[0] = c.Red;
        } else {
          o[0] = c.Red, o[1] = c.Green, o[2] = c.Blue;
        }
      }
    }
  }
  return true;
}

}  // namespace vorn::image
