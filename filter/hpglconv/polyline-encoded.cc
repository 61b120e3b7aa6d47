// PE: polylines encoded as base-64 (or base-32) numbers, with flags for
// pen selection, moves, absolute points, seven-bit mode and fractions.
#include <cmath>

#include "filter/hpglconv/hpglconv.h"

namespace {

// Digits past this many cannot give a plotter coordinate; they are read
// and the value is clamped.
constexpr int kMaxDigits = 8;

struct decoder_t {
  bool seven_bit = false;
  double fraction = 1;  // 1 / 2^n after ">" n
  enum { COORD, PEN, FRACTION } next = COORD;
  bool move = false, absolute = false;
  bool have_x = false;
  double x = 0;
};

void point(hpgl_state_t& st, decoder_t& d, double x, double y) {
  if (!d.absolute && x == 0 && y == 0) {
    d.move = d.absolute = false;
    return;
  }
  hpgl_point_t q;
  if (d.absolute) {
    q = transform_abs(st, x, y);
  } else {
    const hpgl_point_t r = transform_rel(st, x, y);
    q = {st.PenXY.x + r.x, st.PenXY.y + r.y};
  }
  if (d.move) {
    path_move(st, q);
    if (st.polygon_mode) st.polygon_needs_move = false;
  } else if (std::fabs(q.x - st.PenXY.x) > 0.001 || std::fabs(q.y - st.PenXY.y) > 0.001) {
    path_line(st, q);
  }
  st.PenXY = q;
  d.move = d.absolute = false;
}

void number(hpgl_state_t& st, decoder_t& d, double value) {
  switch (d.next) {
    case decoder_t::PEN: {
      d.next = decoder_t::COORD;
      select_pen(st, int(std::fmax(-1.0, std::fmin(value, 1e9))));
      return;
    }
    case decoder_t::FRACTION: {
      d.next = decoder_t::COORD;
      // At most 26 fraction bits: the precision of a float anyway.
      const double n = std::fmax(0.0, std::fmin(value, 26.0));
      d.fraction = 1.0 / std::ldexp(1.0, int(n));
      return;
    }
    case decoder_t::COORD:
      break;
  }
  if (!d.have_x) {
    d.x = value * d.fraction;
    d.have_x = true;
  } else {
    d.have_x = false;
    point(st, d, d.x, value * d.fraction);
  }
}

}  // namespace

void cmd_PE(hpgl_state_t& st, hpgl_params& p) {
  if (p.empty() || p[0].type != 2) return;
  const std::string& s = p[0].text;
  path_begin(st);
  decoder_t d;
  double acc = 0, weight = 1;
  int digits = 0;
  for (unsigned char c : s) {
    const int first_term = d.seven_bit ? 95 : 191, last_term = d.seven_bit ? 126 : 254;
    const double base = d.seven_bit ? 32 : 64;
    if (c >= 63 && c < first_term) {
      if (digits < kMaxDigits) acc += (c - 63) * weight;
      weight *= digits < kMaxDigits ? base : 1;
      digits++;
    } else if (c >= first_term && c <= last_term) {
      if (digits < kMaxDigits) acc += (c - first_term) * weight;
      const double v = std::fmin(std::floor(acc / 2), kMaxNumber);
      number(st, d, (std::fmod(acc, 2) == 1 ? -v : v));
      acc = 0;
      weight = 1;
      digits = 0;
    } else if (c == '\r' || c == '\n') {
      continue;
    } else if (digits) {
      std::fprintf(st.status, "zuru2ru: Bad PE character '%c'!\n", c >= 32 && c < 127 ? c : '?');
    } else if (c == '7') {
      d.seven_bit = true;
    } else if (c == ':') {
      d.next = decoder_t::PEN;
    } else if (c == '<') {
      d.move = true;
    } else if (c == '=') {
      d.absolute = true;
    } else if (c == '>') {
      d.next = decoder_t::FRACTION;
    } else {
      std::fprintf(st.status, "WARNING: ignoring illegal PE char '%c'...\n", c >= 32 && c < 127 ? c : '?');
    }
  }
  path_end(st, "ST");
}
