// The matrices are built by the Bayer recursion M(2n) = [4M 4M+2; 4M+3 4M+1].
#include "dither.h"

namespace vorn::raster {
namespace {

template <int N>
struct bayer {
  uint8_t m[N][N] = {};
  constexpr bayer() {
    m[0][0] = 0;
    for (int n = 1; n < N; n *= 2)
      for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++) {
          int v = 4 * m[y][x];
          m[y][x] = uint8_t(v);
          m[y][x + n] = uint8_t(v + 2);
          m[y + n][x] = uint8_t(v + 3);
          m[y + n][x + n] = uint8_t(v + 1);
        }
  }
};

constexpr bayer<16> b16 = [] {
  bayer<16> b;
  b.m[15][0] = 254;  // was 255: no sample may fail against the top entry
  return b;
}();
constexpr bayer<8> b8;
constexpr bayer<4> b4;

}  // namespace

const uint8_t Matrix16[16][16] = {
#define ROW(y) {b16.m[y][0], b16.m[y][1], b16.m[y][2], b16.m[y][3], b16.m[y][4], b16.m[y][5], b16.m[y][6], \
                b16.m[y][7], b16.m[y][8], b16.m[y][9], b16.m[y][10], b16.m[y][11], b16.m[y][12], b16.m[y][13], \
                b16.m[y][14], b16.m[y][15]}
    ROW(0), ROW(1), ROW(2), ROW(3), ROW(4), ROW(5), ROW(6), ROW(7),
    ROW(8), ROW(9), ROW(10), ROW(11), ROW(12), ROW(13), ROW(14), ROW(15)};
#undef ROW
const uint8_t Matrix8[8][8] = {
#define ROW(y) {b8.m[y][0], b8.m[y][1], b8.m[y][2], b8.m[y][3], b8.m[y][4], b8.m[y][5], b8.m[y][6], b8.m[y][7]}
    ROW(0), ROW(1), ROW(2), ROW(3), ROW(4), ROW(5), ROW(6), ROW(7)};
#undef ROW
const uint8_t Matrix4[4][4] = {{b4.m[0][0], b4.m[0][1], b4.m[0][2], b4.m[0][3]},
                               {b4.m[1][0], b4.m[1][1], b4.m[1][2], b4.m[1][3]},
                               {b4.m[2][0], b4.m[2][1], b4.m[2][2], b4.m[2][3]},
                               {b4.m[3][0], b4.m[3][1], b4.m[3][2], b4.m[3][3]}};

level_tables make_level_tables(unsigned bits) {
  level_tables t;
  if (bits != 2 && bits != 4) return t;
  unsigned step = bits == 2 ? 85 : 17, span = bits == 2 ? 64 : 16;
  for (unsigned v = 1; v < 255; v++) {
    t.on[v] = uint8_t(step * (v / step + 1));
    t.off[v] = uint8_t(step * (v / span));
  }
  t.on[255] = t.off[255] = 255;
  return t;
}

}  // namespace vorn::raster
