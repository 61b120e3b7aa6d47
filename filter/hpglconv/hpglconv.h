// hpglconv: HP-GL/2 plots to PostScript. The reader turns the input into
// commands with their parameters; the handlers keep the plotter's state
// (scaling, rotation, pens, fonts) and write PostScript paths through the
// procedures of the HPGLprolog data file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "filter/common/page-setup.h"
#include "vorn/options.h"
#include "vorn/ppd.h"

// Limits that keep any plot bounded in time and memory.
inline constexpr size_t kMaxParams = 16384;        // parameters of one command
inline constexpr size_t kMaxLabel = 262143;        // bytes of a label or PE string
inline constexpr int kMaxPens = 1024;              // highest pen count (NP)
inline constexpr double kMaxNumber = 1073741823.0; // |value| of any number read
inline constexpr double kMaxCoord = 100000.0;      // |coordinate| written, points
inline constexpr double kMinChord = 0.5;           // degrees: at most 720 steps a turn
inline constexpr double kMaxChord = 180.0;
inline constexpr size_t kMaxPathPoints = 100000;   // points of one polygon path
inline constexpr size_t kStrokeSplit = 4096;       // a long polyline is stroked in pieces
inline constexpr int kMaxPolygonReplays = 16;      // times one polygon is written again after a clip

struct hpgl_param_t {
  int type = 0;  // 0 unsigned number, 1 signed number, 2 string
  double value = 0;
  std::string text;
};

struct hpgl_pen_t {
  float rgb[3] = {0, 0, 0};
  float width = 1.0f;  // points
};

struct hpgl_font_t {
  int typeface = 48, posture = 0, weight = 0;
  float height = 11.5f;  // points
  float run = 1, rise = 0;
};

struct hpgl_point_t {
  double x = 0, y = 0;
};

struct hpgl_state_t {
  vorn_page_t page;
  ppd_file_t* ppd = nullptr;  // owned by the caller
  FILE* out = nullptr;
  FILE* status = nullptr;
  std::string user, title, date, datadir;

  // Frame and coordinates.
  hpgl_point_t P1, P2;
  int ScaleMode = -1;
  double scaling[4] = {0, 0, 0, 0};
  int rotation = 0;
  int turned = 0;  // the quarter turn `Transform` was last built with (0, 90, 180, 270)
  double PlotArea[2] = {612, 792};
  bool plot_size_set = false;
  hpgl_point_t window[2];  // input window in page points; equal corners: none
  double Transform[2][3] = {{1, 0, 0}, {0, 1, 0}};
  double PenWidthUnits = 1.0;
  bool fit_plot = false, black_plot = false;
  double default_width_option = 1.0;  // penwidth option, for the prolog

  // Pen and path.
  hpgl_point_t PenXY;
  int pen_motion = 0;  // 0 absolute, 1 relative
  bool pen_down = false;
  bool polygon_mode = false;
  bool polygon_needs_move = true;  // the next drawn point starts a subpath
  size_t path_points = 0;          // points of the path being written
  bool path_capped = false;        // points beyond kMaxPathPoints were dropped
  // The polygon as written since PM 0 (without its MP), kept so that a clip,
  // which takes the current path, can be followed by the polygon again.
  std::string polygon_path;
  bool polygon_live = false;       // the current path is that polygon
  int polygon_replays = 0;         // times it was written again
  bool clip_written = false;       // the page has the input window's clip
  bool clip_pending = false;       // a window change waits for the polygon to end
  hpgl_point_t last_point;         // the path's current point
  int pen_number = 1;
  int pen_count = 8;
  float default_pen_width = 1.0f;
  int width_units = 0;
  int line_cap = 0, line_join = 0;
  float miter_limit = 3.0f;
  float colour_range[3][2] = {{0, 255}, {0, 255}, {0, 255}};
  std::vector<hpgl_pen_t> pens = std::vector<hpgl_pen_t>(kMaxPens + 1);
  int line_type = 0;          // 0 solid
  double pattern_length = 4;  // percent of the P1-P2 diagonal

  // Characters.
  int char_fill_mode = 0, edge_pen = 0, current_font = 0;
  hpgl_font_t fonts[2];  // standard, alternate
  unsigned char label_terminator = 3;

  bool PageHasInk = false;
  int page_count = 0;
};

// The reader: commands with their parameters, handed to `dispatch`.
using hpgl_dispatch_t = void (*)(hpgl_state_t&, const char name[2], std::vector<hpgl_param_t>&);
void hpgl_read(hpgl_state_t& st, FILE* in, hpgl_dispatch_t dispatch);

// Runs one command by the table of mnemonics; unknown ones are ignored.
void hpgl_dispatch(hpgl_state_t& st, const char name[2], std::vector<hpgl_param_t>& params);
// True for the two-letter names of the command table (any case).
bool hpgl_known_command(const char name[2]);

using hpgl_params = std::vector<hpgl_param_t>;

// The numbers before the first string of a command's parameters, and
// number i (0 when it is missing or a string).
inline size_t count_numbers(const hpgl_params& p) {
  size_t n = 0;
  while (n < p.size() && p[n].type != 2) n++;
  return n;
}
inline double num(const hpgl_params& p, size_t i) { return i < p.size() && p[i].type != 2 ? p[i].value : 0.0; }

// Frame and coordinates (frame.cc).
void update_transform(hpgl_state_t& st);
// The input window's clip on the open page (or "initclip" when the window
// was removed); a polygon being built is the current path again after it.
void write_window_clip(hpgl_state_t& st);
hpgl_point_t transform_abs(const hpgl_state_t& st, double x, double y);
hpgl_point_t transform_rel(const hpgl_state_t& st, double x, double y);
void cmd_IN(hpgl_state_t& st, hpgl_params& p);
void cmd_DF(hpgl_state_t& st, hpgl_params& p);
void cmd_IP(hpgl_state_t& st, hpgl_params& p);
void cmd_IR(hpgl_state_t& st, hpgl_params& p);
void cmd_IW(hpgl_state_t& st, hpgl_params& p);
void cmd_PG(hpgl_state_t& st, hpgl_params& p);
void cmd_PS(hpgl_state_t& st, hpgl_params& p);
void cmd_RO(hpgl_state_t& st, hpgl_params& p);
void cmd_SC(hpgl_state_t& st, hpgl_params& p);

// Drawing (drawing.cc).
void cmd_PA(hpgl_state_t& st, hpgl_params& p);
void cmd_PR(hpgl_state_t& st, hpgl_params& p);
void cmd_PD(hpgl_state_t& st, hpgl_params& p);
void cmd_PU(hpgl_state_t& st, hpgl_params& p);
void cmd_PE(hpgl_state_t& st, hpgl_params& p);
void cmd_AA(hpgl_state_t& st, hpgl_params& p);
void cmd_AR(hpgl_state_t& st, hpgl_params& p);
void cmd_AT(hpgl_state_t& st, hpgl_params& p);
void cmd_RT(hpgl_state_t& st, hpgl_params& p);
void cmd_CI(hpgl_state_t& st, hpgl_params& p);
void cmd_EA(hpgl_state_t& st, hpgl_params& p);
void cmd_ER(hpgl_state_t& st, hpgl_params& p);
void cmd_RA(hpgl_state_t& st, hpgl_params& p);
void cmd_RR(hpgl_state_t& st, hpgl_params& p);
void cmd_EW(hpgl_state_t& st, hpgl_params& p);
void cmd_WG(hpgl_state_t& st, hpgl_params& p);
void cmd_PM(hpgl_state_t& st, hpgl_params& p);
void cmd_EP(hpgl_state_t& st, hpgl_params& p);
void cmd_FP(hpgl_state_t& st, hpgl_params& p);

// Pens and line attributes (pens.cc).
void cmd_SP(hpgl_state_t& st, hpgl_params& p);
void cmd_NP(hpgl_state_t& st, hpgl_params& p);
void cmd_PC(hpgl_state_t& st, hpgl_params& p);
void cmd_PW(hpgl_state_t& st, hpgl_params& p);
void cmd_WU(hpgl_state_t& st, hpgl_params& p);
void cmd_CR(hpgl_state_t& st, hpgl_params& p);
void cmd_LA(hpgl_state_t& st, hpgl_params& p);
void cmd_LT(hpgl_state_t& st, hpgl_params& p);
// Selects pen `n` when it is in the table (else false, with a DEBUG: line).
bool select_pen(hpgl_state_t& st, int n);

// Characters and labels (labels.cc).
void cmd_AD(hpgl_state_t& st, hpgl_params& p);
void cmd_SD(hpgl_state_t& st, hpgl_params& p);
void cmd_DI(hpgl_state_t& st, hpgl_params& p);
void cmd_SA(hpgl_state_t& st, hpgl_params& p);
void cmd_SS(hpgl_state_t& st, hpgl_params& p);
void cmd_CF(hpgl_state_t& st, hpgl_params& p);
void cmd_CP(hpgl_state_t& st, hpgl_params& p);
void cmd_DT(hpgl_state_t& st, hpgl_params& p);
void cmd_LB(hpgl_state_t& st, hpgl_params& p);

// PostScript output (ps-output.cc).
// Writes the document header and prolog; false (with an ERROR: line) when
// the prolog data file cannot be read.
bool write_prolog(hpgl_state_t& st);
// Opens a page when none is open; every piece of drawing text follows it.
void write_page_start(hpgl_state_t& st);
void write_trailer(hpgl_state_t& st);
void write_pen_line(hpgl_state_t& st, int pen);
void write_font_proc(hpgl_state_t& st, int which);
void write_line_type(hpgl_state_t& st);
// A coordinate as written: never NaN or infinite, never beyond kMaxCoord.
double ps_coord(double v);
// "x y MO\n" / "x y LI\n" for page point `p`.
inline constexpr size_t kPointText = 64;  // "x y MO\n" with coordinates within kMaxCoord
std::string_view point_text(char (&buf)[kPointText], hpgl_point_t p, const char* op);
void write_point(hpgl_state_t& st, hpgl_point_t p, const char* op);

// Path bookkeeping shared by the drawing commands (drawing.cc).
void path_begin(hpgl_state_t& st);                  // "MP" + move at the pen, outside polygon mode
void path_new(hpgl_state_t& st);                    // "MP", outside polygon mode
void path_move(hpgl_state_t& st, hpgl_point_t p);   // MO
void path_close(hpgl_state_t& st);                  // "CP"
void path_line(hpgl_state_t& st, hpgl_point_t p);   // LI, bounded
void path_end(hpgl_state_t& st, const char* op);    // "ST"/"FI", outside polygon mode

// The filter as a whole (run.cc).
vorn::ppd_file_ptr hpglconv_prepare(hpgl_state_t& st, const char* options);
int hpglconv_run(hpgl_state_t& st, FILE* in);
