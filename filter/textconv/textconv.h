// textconv: plain text and program source to PostScript. The text is laid
// out in a grid of character cells (pitch, lines per inch, text columns,
// wrapping), with the line-printer conventions for bold and underline by
// overstriking and for half and reverse line feeds, optional pretty-printing
// of source code, and character sets read from data files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "filter/common/page-setup.h"
#include "vorn/options.h"
#include "vorn/ppd.h"

// Cell attributes.
enum : uint16_t {
  ATTR_BOLD = 1,
  ATTR_ITALIC = 2,
  ATTR_UNDERLINE = 4,
  ATTR_RAISED = 8,
  ATTR_LOWERED = 16,
  ATTR_RED = 32,
  ATTR_GREEN = 64,
  ATTR_BLUE = 128,
};

struct lchar_t {
  uint16_t ch = 0;    // character code, 0 = empty cell
  uint16_t attr = 0;
};

struct textconv_font_t {
  int direction = 1;  // +1 left to right, -1 right to left
  int width = 1;      // 1 single, 2 double
  std::string names[4];  // normal, bold, italic, bold-italic
};

// The character set: fonts, code to glyph slot, slot to Unicode value, and
// Unicode value to glyph name.
struct textconv_charset_t {
  bool utf8 = false;
  std::vector<textconv_font_t> fonts;
  std::vector<uint16_t> chars;     // 65536 entries: code -> slot (font * 256 + position)
  std::vector<uint16_t> codes;     // 65536 entries: slot -> Unicode value
  std::unordered_map<uint32_t, std::string> glyphs;  // Unicode value -> glyph name
};

// Limits on the numeric options, so that no value sizes a buffer beyond
// reason or divides by zero. A page of 1000 x 1000 cells is far more than
// any printer can show legibly.
inline constexpr float kMinPitch = 1.0f, kMaxPitch = 100.0f;
inline constexpr int kMaxTextColumns = 16;
inline constexpr int kMaxCells = 1000;

struct textconv_t {
  vorn_page_t page;
  ppd_file_t* ppd = nullptr;  // owned by the caller

  float Cpi = 10, Lpi = 6;
  int TextColumns = 1, GutterWidth = 0, ColumnChars = 80;
  int CharsPerLine = 80, LinesPerPage = 60;
  bool WrapMode = true;
  int PrettyMode = 0;  // 0 off, 1 C/C++, 2 shell, 3 perl
  bool csh = false;    // shell keywords of the C shell
  int NumPages = 0;

  std::string label;   // page-label
  bool has_label = false;
  std::string user, title;
  std::string datadir;  // VORN_DATADIR or the compiled-in one
  std::string charset_name;  // CHARSET as used ("" for the built-in set)
  std::string date;     // set by write_prolog; tests may preset it

  textconv_charset_t cs;
  std::vector<lchar_t> buffer;  // LinesPerPage rows of CharsPerLine cells
  std::vector<uint8_t> row_used;  // per row: a cell of it was written
  std::string page_text;        // the text of the page being written

  FILE* out = nullptr;
  FILE* status = nullptr;
};

// Fills `job` from the options argument and the environment (PPD,
// CHARSET, CONTENT_TYPE, VORN_DATADIR). Out-of-range numbers keep their
// default and say so in a DEBUG: line. The record returned is job.ppd.
vorn::ppd_file_ptr textconv_prepare(textconv_t& job, const char* options);

// Whether `name` may name a file of the charsets folder: letters, digits,
// "-" and "_" only, not empty, not too long.
bool charset_name_is_safe(std::string_view name);

// Loads the glyph names and the character set. On failure an ERROR: line
// has been written and false is returned.
bool load_glyph_names(textconv_t& job);
bool load_charset(textconv_t& job);

// The sorted keyword list of the pretty-print language (empty when off).
struct keyword_list_t {
  const char* const* words;
  size_t count;
};
keyword_list_t keywords_for(int pretty_mode, bool csh);
bool is_keyword(const keyword_list_t& list, std::string_view word);

// Sizes the grid from the page and writes the document header and prolog.
// False (with an ERROR: line) when the data files cannot be read.
bool write_prolog(textconv_t& job);
// Writes the current page buffer as a page and clears it.
void write_page(textconv_t& job);
// Appends one row of the buffer to job.page_text.
void write_line(textconv_t& job, int row, const lchar_t* line);
void write_trailer(textconv_t& job);

// Converts the text read from `in`. Returns the exit status.
int textconv_run(textconv_t& job, FILE* in);
