// Internals of the PPD component, shared between its files only.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "vorn/ppd.h"

namespace vorn::ppd_detail {

// ---- Byte sources (ppd_source.cc) -----------------------------------------

class source {
 public:
  virtual ~source() = default;
  // Up to len bytes; 0 at the end, -1 on error with errno set.
  virtual ssize_t read(char* buf, size_t len) = 0;
};

// Reads a stream from its position; gzip data (by its magic bytes) is
// inflated. The stream stays the caller's. nullptr with *status on failure.
std::unique_ptr<source> open_stream_source(FILE* fp, ppd_status_t* status);
// Takes ownership of fd (closed with the source); plain or gzip.
std::unique_ptr<source> open_fd_source(int fd, ppd_status_t* status);

// ---- Lines and entries (ppd_lex.cc) ---------------------------------------

enum class value_kind { quoted, symbol, string };

// One main keyword line with its value.
struct entry {
  int line = 0;          // line of the keyword
  std::string keyword;   // without "*"
  std::string option;    // may be empty
  std::string text;      // translation, decoded and cut
  bool has_text = false;
  std::string value;     // quoted: between the quotes; symbol: the name
                         // after "^"; string: trimmed rest of the line
  value_kind kind = value_kind::string;
};

class lexer {
 public:
  explicit lexer(source& src) : src_(src) {}
  // 1 with the next entry, 0 at the end of the input, -1 on an error (then
  // status() and line() tell which and where).
  int next(entry& e);
  ppd_status_t status() const { return status_; }
  int line() const { return line_; }

 private:
  int read_line(std::string& out, size_t max);
  int fail(ppd_status_t s) { status_ = s; return -1; }
  int parse(std::string_view l, entry& e);
  int read_quoted(std::string_view rest, entry& e);

  source& src_;
  char buf_[65536];
  size_t pos_ = 0, len_ = 0;
  bool eof_ = false, skip_lf_ = false;
  size_t total_ = 0;
  int line_ = 0;
  ppd_status_t status_ = PPD_OK;
  std::string phys_;
};

// Decodes <hex> substrings; false on a bad or unterminated one.
bool decode_hex(std::string_view in, std::string& out);
// s cut to max bytes, never inside a UTF-8 sequence.
void cut_text(std::string& s, size_t max);

// ---- Reading into the record (ppd_read.cc, ppd_keywords.cc, ppd_finish.cc)

struct builder {
  ppd_file_t* ppd = nullptr;
  ppd_group_t* group = nullptr;        // explicitly opened group
  ppd_subgroup_t* subgroup = nullptr;
  ppd_option_t* ui = nullptr;          // open OpenUI/JCLOpenUI option
  bool ui_jcl = false;
  bool seen_header = false;
  int includes = 0;
  int line = 0;                        // where an error was found
  int last_line = 0;                   // last line of the main file

  std::unordered_map<std::string, ppd_option_t*> options;  // lower-case keys
  std::unordered_map<std::string, ppd_size_t*> sizes;
  std::unordered_set<const ppd_size_t*> sizes_with_area;
  std::vector<int> attr_lines;         // line of each attribute

  struct symbol_ref {
    size_t attr = SIZE_MAX;            // attribute index, or
    ppd_choice_t* choice = nullptr;    // a choice
    int line = 0;
  };
  std::vector<symbol_ref> symbols;

  struct order_dep {
    float order;
    ppd_section_t section;
    std::string keyword;
  };
  std::vector<order_dep> orders;
  bool custom_true = false;            // *CustomPageSize True seen
  bool variable_paper = false;         // *VariablePaperSize True
  float max_media[2] = {0, 0};
};

// Reads one file's entries into the builder (depth 0 for the main file).
ppd_status_t read_entries(builder& b, source& src, const std::string& dir, int depth);
// Applies a keyword's meaning to the record from attribute `index`.
ppd_status_t apply_keyword(builder& b, size_t index);
// Checks nesting at the end, resolves what may be written in any order and
// builds the indexes.
ppd_status_t finish(builder& b);

ppd_size_t* find_or_add_size(builder& b, std::string_view name);
// The folder part of a path ("." when there is none), for *Include names.
std::string folder_of(std::string_view path);
void build_indexes(ppd_file_t* ppd);

// ---- Small shared helpers -------------------------------------------------

// Exactly `n` numbers separated by white space; false otherwise or when any
// is not finite.
bool parse_floats(std::string_view s, float* out, size_t n);
bool parse_int(std::string_view s, int* out);
// "True"/"False" in any case.
bool parse_bool(std::string_view s, bool* out);
std::string lower(std::string_view s);

// Calls f(option) for every option, groups in file order, each group's own
// options before its subgroups'.
template <typename F>
void for_each_option(ppd_file_t* ppd, F&& f) {
  for (auto& g : ppd->groups) {
    for (auto& o : g.options) f(o);
    for (auto& s : g.subgroups)
      for (auto& o : s.options) f(o);
  }
}

// Marks one choice as ppdMarkOption does, without counting conflicts.
void mark_option(ppd_file_t* ppd, std::string_view option, std::string_view choice);

// Whether a choice name means "nothing": None, False or Off.
bool is_off_choice(std::string_view choice);

// Parses "Custom.WxH[unit]" into points; false when it is not one.
bool parse_custom_size(std::string_view name, float* width, float* length);
// Sets the "Custom" size to width x length with the *HWMargins; nullptr when
// the file has no variable sizes or the size is out of its range.
ppd_size_t* set_custom_size(ppd_file_t* ppd, float width, float length);

}  // namespace vorn::ppd_detail
