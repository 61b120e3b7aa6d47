// PostScript Printer Description files (Adobe PPD 4.3): reading, the record
// model, marking choices, conflicts, page sizes and emitting feature code.
//
// Ownership: ppdOpen* returns a record allocated for the caller, released with
// ppdClose (or held by a vorn::ppd_file_ptr). Every pointer the functions below
// return (options, choices, sizes, attributes) points into that record and
// stays valid until ppdClose; marking never adds or removes elements.
// A record must not be used by two threads at once; the last-error state is
// kept per thread.
// Every function accepts a null record and then does nothing or answers "not
// found" (0, nullptr), so callers need not test for a missing PPD first.
//
// Limits of the reader (what happens past them):
//   - a line that carries no quoted value: PPD_MAX_LINE bytes, else the error
//     PPD_LINE_TOO_LONG. A quoted value may span any number of lines of any
//     length, up to PPD_MAX_VALUE bytes in all, else PPD_VALUE_TOO_LONG;
//   - main keywords and option (choice) keywords: PPD_MAX_NAME bytes, else
//     PPD_ILLEGAL_MAIN_KEYWORD or PPD_ILLEGAL_OPTION_KEYWORD;
//   - translation strings: cut to PPD_MAX_TEXT bytes after their hex
//     substrings are decoded (never inside a UTF-8 sequence);
//   - default choice names (*Default<Option>) are cut to PPD_MAX_NAME bytes;
//   - *Include: nested at most PPD_MAX_INCLUDE_DEPTH deep and PPD_MAX_INCLUDES
//     files per record, else PPD_INCLUDE_TOO_DEEP;
//   - one file, after decompression: PPD_MAX_FILE bytes, else
//     PPD_FILE_OPEN_ERROR with errno EFBIG.
//
// Value kinds: a quoted value ("...", ended by the closing quote; a following
// *End line is optional) keeps its bytes as written, lines joined with "\n".
// Hex substrings <41 42> are decoded only where the PPD format gives them that
// meaning: in translation strings, in *JCLBegin, *JCLToPSInterpreter, *JCLEnd,
// in the code of choices of *JCLOpenUI options and in the record's text fields
// (manufacturer, modelname, nickname, shortnickname, product). Elsewhere the
// value is PostScript code, where "<" has its PostScript meaning, and is kept
// as written (ppd_attr_t::value is always as written). A symbol value ^Name is
// replaced by the value of *SymbolValue ^Name (defined anywhere in the file).
// A string value is the rest of the line without surrounding white space.
#pragma once

#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vorn/options.h"

inline constexpr size_t PPD_MAX_LINE = 255;
inline constexpr size_t PPD_MAX_NAME = 40;
inline constexpr size_t PPD_MAX_TEXT = 80;
inline constexpr size_t PPD_MAX_VALUE = 256 * 1024;
inline constexpr int PPD_MAX_INCLUDE_DEPTH = 8;
inline constexpr int PPD_MAX_INCLUDES = 64;
inline constexpr size_t PPD_MAX_FILE = 32 * 1024 * 1024;

// Reader results. Codes below 4 mean the file could not be read at all (errno
// tells why); 4 and above mean it is not a valid PPD file.
enum ppd_status_t {
  PPD_OK = 0,
  PPD_FILE_OPEN_ERROR = 1,      // open or read failed (errno)
  PPD_NULL_FILE = 2,            // no file given (null FILE*, fd < 0, null path)
  PPD_ALLOC_ERROR = 3,          // zlib could not allocate its state
  PPD_MISSING_PPDADOBE = 4,     // first keyword line is not *PPD-Adobe
  PPD_BAD_VALUE = 5,            // missing, unterminated or malformed value
  PPD_INTERNAL_ERROR = 6,
  PPD_BAD_OPEN_GROUP = 7,       // bad name, close without open, unclosed group
  PPD_NESTED_OPEN_GROUP = 8,    // group opened inside a group or an option
  PPD_BAD_OPEN_UI = 9,          // bad OpenUI/JCLOpenUI, mismatched or unclosed
  PPD_NESTED_OPEN_UI = 10,      // OpenUI inside an open OpenUI
  PPD_BAD_ORDER_DEPENDENCY = 11,
  PPD_BAD_UI_CONSTRAINTS = 12,
  PPD_MISSING_ASTERISK = 13,    // a non-blank line not starting with "*"
  PPD_LINE_TOO_LONG = 14,
  PPD_ILLEGAL_CHARACTER = 15,   // control character outside a quoted value
  PPD_ILLEGAL_MAIN_KEYWORD = 16,
  PPD_ILLEGAL_OPTION_KEYWORD = 17,  // missing or malformed option keyword
  PPD_ILLEGAL_TRANSLATION = 18,
  PPD_BAD_INCLUDE = 19,         // *Include file cannot be opened
  PPD_INCLUDE_TOO_DEEP = 20,
  PPD_VALUE_TOO_LONG = 21,
};

enum ppd_ui_t { PPD_UI_BOOLEAN, PPD_UI_PICKONE, PPD_UI_PICKMANY };

// Where an option's code goes, from *OrderDependency ("AnySetup" etc.).
enum ppd_section_t {
  PPD_ORDER_ANY,       // AnySetup
  PPD_ORDER_DOCUMENT,  // DocumentSetup
  PPD_ORDER_EXIT,      // ExitServer
  PPD_ORDER_JCL,       // JCLSetup
  PPD_ORDER_PAGE,      // PageSetup
  PPD_ORDER_PROLOG,    // Prolog
};

// *DefaultColorSpace; the values match the image library's colour spaces.
enum ppd_cs_t {
  PPD_CS_CMYK = -4,
  PPD_CS_CMY = -3,
  PPD_CS_GRAY = 1,
  PPD_CS_RGB = 3,
  PPD_CS_RGBK = 4,
  PPD_CS_N = 5,
};

struct ppd_option_t;

struct ppd_choice_t {
  bool marked = false;
  std::string choice;   // choice keyword
  std::string text;     // translation, or the keyword when there is none
  std::string code;     // code sent to the printer
  ppd_option_t* option = nullptr;
};

struct ppd_option_t {
  bool conflicted = false;  // set by ppdConflicts
  std::string keyword;      // without the "*"
  std::string defchoice;    // from *Default<keyword>, may be empty
  std::string text;         // translation, or the keyword
  ppd_ui_t ui = PPD_UI_PICKONE;
  ppd_section_t section = PPD_ORDER_ANY;  // PPD_ORDER_JCL for *JCLOpenUI
  float order = 10.0f;
  std::deque<ppd_choice_t> choices;
};

struct ppd_subgroup_t {
  std::string name;
  std::string text;
  std::deque<ppd_option_t> options;
};

// Options declared outside any *OpenGroup go into a group named "General",
// created where the first such option appears.
struct ppd_group_t {
  std::string name;
  std::string text;
  std::deque<ppd_option_t> options;
  std::deque<ppd_subgroup_t> subgroups;
};

// *UIConstraints / *NonUIConstraints: choice1 or choice2 empty means "any
// choice of that option but None, False or Off". opt1..ch2 are resolved when
// the file is read (nullptr when the option or choice does not exist).
struct ppd_const_t {
  std::string option1, choice1, option2, choice2;
  ppd_option_t* opt1 = nullptr;
  ppd_choice_t* ch1 = nullptr;
  ppd_option_t* opt2 = nullptr;
  ppd_choice_t* ch2 = nullptr;
};

// A page size in points. left, bottom, right, top are the corners of the
// imageable area (*ImageableArea), measured from the lower left corner of the
// media; without an *ImageableArea line they are the whole media.
struct ppd_size_t {
  bool marked = false;
  std::string name;
  float width = 0, length = 0;
  float left = 0, bottom = 0, right = 0, top = 0;
};

// Every main keyword line that is not part of the file's structure (groups,
// OpenUI/CloseUI, *Include, *End) nor a choice of an open option.
struct ppd_attr_t {
  std::string name;    // main keyword without "*"
  std::string option;  // option keyword, may be empty
  std::string text;    // translation (decoded), may be empty
  std::string value;   // as written; a symbol value is replaced by its text
};

struct ppd_emul_t {
  std::string name, start, stop;  // *Emulators, *StartEmulator_, *StopEmulator_
};

// *vornColorProfile Resolution/MediaType: "density gamma m00 m01 ... m22"
struct ppd_profile_t {
  std::string resolution, media_type;
  float density = 1, gamma = 1;
  float matrix[3][3] = {};
};

// *ParamCustomPageSize Name: order type min max (min and max in points for
// the lengths), for Width, Height, WidthOffset, HeightOffset, Orientation.
struct ppd_param_t {
  int order = 0;
  std::string type;
  float min = 0, max = 0;
};
enum { PPD_CUSTOM_WIDTH, PPD_CUSTOM_HEIGHT, PPD_CUSTOM_WIDTH_OFFSET,
       PPD_CUSTOM_HEIGHT_OFFSET, PPD_CUSTOM_ORIENTATION, PPD_CUSTOM_PARAMS };

struct ppd_file_t {
  ppd_file_t() = default;
  ppd_file_t(const ppd_file_t&) = delete;  // holds pointers into itself
  ppd_file_t& operator=(const ppd_file_t&) = delete;

  int language_level = 1;     // *LanguageLevel
  bool color_device = false;  // *ColorDevice
  bool variable_sizes = false;  // *VariablePaperSize or *CustomPageSize True
  bool accurate_screens = false;
  bool contone_only = false;
  bool manual_copies = false;  // *vornManualCopies
  int landscape = 90;          // *LandscapeOrientation: 90 (Plus90, Any) or -90
  int model_number = 0;        // *vornModelNumber
  int throughput = 0;          // *Throughput, pages per minute
  ppd_cs_t colorspace = PPD_CS_GRAY;
  std::string format_version, file_version, lang_encoding, lang_version;
  std::string modelname, nickname, shortnickname, manufacturer, product;
  std::string psversion, pcfilename, ttrasterizer, protocols, file_system;
  std::string patches;         // *JobPatchFile code, in file order
  std::string jcl_begin, jcl_ps, jcl_end;
  std::vector<ppd_emul_t> emulations;
  std::deque<ppd_group_t> groups;
  std::deque<ppd_size_t> sizes;  // file order; "Custom" last when variable
  float custom_min[2] = {0, 0};  // width, length in points
  float custom_max[2] = {0, 0};
  float custom_margins[4] = {0, 0, 0, 0};  // *HWMargins: left bottom right top
  ppd_param_t custom_params[PPD_CUSTOM_PARAMS];
  std::vector<ppd_const_t> consts;
  std::vector<std::string> fonts;      // *Font names
  std::vector<ppd_profile_t> profiles;
  std::vector<std::string> filters;    // *vornFilter values
  std::vector<ppd_attr_t> attrs;       // file order

  // Lookup indexes built when the file has been read (not for callers).
  std::vector<ppd_option_t*> option_index;
  std::vector<size_t> attr_index;
};

// Opening. Each returns the record, or nullptr with the reason kept for
// ppdLastError. ppdOpen reads from the stream's position (plain or gzip);
// ppdOpenFd reads from the descriptor's position and leaves it open (the
// caller keeps it); ppdOpenFile opens the file itself. Relative *Include names
// are resolved against the including file's folder, or against the current
// directory for ppdOpen and ppdOpenFd.
ppd_file_t* ppdOpen(FILE* fp);
ppd_file_t* ppdOpenFd(int fd);
ppd_file_t* ppdOpenFile(const char* filename);
void ppdClose(ppd_file_t* ppd);

// The status of the last open on this thread and, in *line, the line where
// reading stopped (0 when no line was read); the line is counted in the file
// that held the error, which is an included file for errors inside one.
ppd_status_t ppdLastError(int* line);
// Text for a status; never null.
const char* ppdErrorString(ppd_status_t status);

// Marking. ppdMarkDefaults unmarks everything, then marks every option's
// default choice (PageSize wins over PageRegion when they differ).
// ppdMarkOption marks one choice: for PickOne and Boolean options the other
// choices are unmarked; for PickMany a None/False/Off choice unmarks the
// others and any other choice unmarks those. PageSize and PageRegion move
// together. A PageSize or PageRegion value "Custom.WIDTHxHEIGHT[unit]" (unit
// pt, in, cm or mm; points by default) marks the "Custom" choice and sets the
// "Custom" size when the file allows variable sizes and the size lies within
// its custom minimum and maximum. Unknown options or choices change nothing.
// Both return ppdConflicts().
int ppdMarkDefaults(ppd_file_t* ppd);
int ppdMarkOption(ppd_file_t* ppd, std::string_view option, std::string_view choice);
bool ppdIsMarked(const ppd_file_t* ppd, std::string_view option, std::string_view choice);
// Number of options in conflict under the constraints, setting each option's
// `conflicted` flag.
int ppdConflicts(ppd_file_t* ppd);

// Lookups: keywords, choices, attribute names and options are compared without
// regard to ASCII case.
ppd_option_t* ppdFindOption(const ppd_file_t* ppd, std::string_view keyword);
ppd_choice_t* ppdFindChoice(const ppd_option_t* option, std::string_view choice);
ppd_choice_t* ppdFindMarkedChoice(const ppd_file_t* ppd, std::string_view keyword);
// The first attribute `name` (with that option keyword, when `option` is not
// null) in file order; ppdFindNextAttr the next one after `prev`.
const ppd_attr_t* ppdFindAttr(const ppd_file_t* ppd, std::string_view name, const char* option);
const ppd_attr_t* ppdFindNextAttr(const ppd_file_t* ppd, std::string_view name, const char* option,
                                  const ppd_attr_t* prev);

// Page sizes. With a name: that size, or for "Custom.WxH[unit]" the "Custom"
// size set to those dimensions (imageable area from *HWMargins; this changes
// the one "Custom" size, marked or not), or nullptr when the file has no such
// size or the custom size is not allowed. With a null or empty name: the
// marked size, or nullptr.
ppd_size_t* ppdPageSize(ppd_file_t* ppd, const char* name);
float ppdPageWidth(ppd_file_t* ppd, const char* name);   // 0 when unknown
float ppdPageLength(ppd_file_t* ppd, const char* name);  // 0 when unknown

// The marked choices of the options of exactly that section, ordered by their
// *OrderDependency order value (file order among equal values). AnySetup is a
// section of its own. PageRegion is left out while a PageSize choice is
// marked (both always name the same size). Returns the count.
int ppdCollect(ppd_file_t* ppd, ppd_section_t section, std::vector<ppd_choice_t*>& choices);

// Writes the code of the collected choices. Returns 0, or -1 on a write error.
// ExitServer and Prolog: each choice's code as written, then "\n" unless it
// is empty or already ends with one. JCLSetup: each code exactly as decoded.
// DocumentSetup, PageSetup, AnySetup: for each choice
//   [{
//   %%BeginFeature: *Keyword Choice
//   code (then "\n" unless empty or already ending in one)
//   %%EndFeature
//   } stopped cleartomark
// A marked custom page size writes "*CustomPageSize True" as the feature, and
// first a line with the five parameters in the order of their
// *ParamCustomPageSize order values: width and height in points, both offsets
// 0 and orientation 0 (raised to a parameter's minimum when that is above 0);
// numbers are written with at most two decimals, without trailing zeros.
// A custom choice without code writes, after that line,
//   pop pop pop
//   <</PageSize[5 -2 roll]/ImagingBBox null>>setpagedevice
// A marked "Custom" choice whose size was never given writes nothing.
int ppdEmit(ppd_file_t* ppd, FILE* fp, ppd_section_t section);
int ppdEmitFd(ppd_file_t* ppd, int fd, ppd_section_t section);
// The same text, for callers that want it in memory.
std::string ppdEmitString(ppd_file_t* ppd, ppd_section_t section);

// Job control: nothing when the file has no *JCLBegin. Otherwise *JCLBegin,
// the JCLSetup choices, then *JCLToPSInterpreter. When *JCLBegin is PJL and
// ends with the line "@PJL JOB", that line is written as
//   @PJL JOB NAME = "title" DISPLAY = "job_id user title"
// with double quotes in user and title turned into ' and control characters
// dropped, each cut to 80 bytes. Returns 0, or -1 on a write error.
int ppdEmitJCL(ppd_file_t* ppd, FILE* fp, int job_id, const char* user, const char* title);

// Marks the PPD choices the job options name and returns ppdConflicts():
//   - an option named like a PPD option (any case) marks that choice;
//   - "media": comma-separated values, each marking the PageSize (a size
//     name or "Custom.WxH[unit]"), InputSlot or MediaType choice of that name,
//     first match in this order;
//   - "sides": one-sided, two-sided-long-edge, two-sided-short-edge mark
//     None, DuplexNoTumble, DuplexTumble of Duplex (or JCLDuplex, EFDuplex,
//     KD03Duplex, whichever the file has);
//   - "multiple-document-handling": separate-documents-collated-copies marks
//     Collate True, separate-documents-uncollated-copies Collate False;
//   - "output-bin" marks the OutputBin choice of that name;
//   - any other option is left alone (orientation and the like are the
//     filters' own business and have no PPD choice).
int vornMarkOptions(ppd_file_t* ppd, const vorn_options_t& options);

namespace vorn {
struct ppd_closer {
  void operator()(ppd_file_t* p) const { ppdClose(p); }
};
using ppd_file_ptr = std::unique_ptr<ppd_file_t, ppd_closer>;
}  // namespace vorn
