// The formatting loop: characters read one at a time and placed in the
// cells of the page buffer.
#include <cstring>

#include "filter/textconv/textconv.h"

namespace {

// Buffered input with the decoding of the text's character set.
class char_reader {
 public:
  char_reader(FILE* in, bool utf8) : in_(in), utf8_(utf8) {}
  // The next character code, or -1 at the end of the text.
  int next() {
    int c = byte();
    if (c < 0xc0 || !utf8_) return c;
    if ((c & 0xe0) == 0xc0) {
      int c1 = byte();
      if (c1 < 0) return -1;
      return ((c & 0x1f) << 6) | (c1 & 0x3f);
    }
    if ((c & 0xf0) == 0xe0) {
      int c1 = byte();
      int c2 = c1 < 0 ? -1 : byte();
      if (c2 < 0) return -1;
      return ((c & 0x0f) << 12) | ((c1 & 0x3f) << 6) | (c2 & 0x3f);
    }
    // Codes beyond 16 bits cannot be printed: the text ends here.
    return -1;
  }

 private:
  int byte() {
    if (pos_ == len_) {
      len_ = std::fread(buf_, 1, sizeof(buf_), in_);
      pos_ = 0;
      if (len_ == 0) return -1;
    }
    return buf_[pos_++];
  }
  FILE* in_;
  bool utf8_;
  unsigned char buf_[65536];
  size_t pos_ = 0, len_ = 0;
};

bool is_word(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'; }

// Columns past the right edge keep counting (without wrapping) only this far,
// so a text of one endless line cannot overflow the count.
constexpr int kColumnLimit = 1 << 20;

struct formatter {
  textconv_t& job;
  keyword_list_t keywords;
  int column = 0, line = 0, page_column = 0;
  uint16_t attr = 0;
  int prev = 0;
  char keyword[64];
  int keylen = 0, keycol = 0;
  bool keyword_too_long = false;
  int comment = 0;  // 0 none, 1 block, 2 to the end of the line
  bool string = false;

  explicit formatter(textconv_t& j) : job(j), keywords(keywords_for(j.PrettyMode, j.csh)) {}

  lchar_t* cell(int col) {
    return job.buffer.data() + size_t(line) * size_t(job.CharsPerLine) +
           size_t(col + (job.ColumnChars + job.GutterWidth) * page_column);
  }

  void clear_line_attributes() {
    if (comment != 1 && !string) {
      attr &= ATTR_UNDERLINE | ATTR_RAISED | ATTR_LOWERED;
      comment = 0;
    }
  }

  // A finished word: bold when it is a keyword of the language.
  void check_keyword(bool look_at_comment) {
    if (keylen > 0 && !keyword_too_long && !(look_at_comment && comment) &&
        is_keyword(keywords, std::string_view(keyword, size_t(keylen)))) {
      for (int c = keycol; c < column && c < job.ColumnChars; c++) cell(c)->attr |= ATTR_BOLD;
    }
    keylen = 0;
    keyword_too_long = false;
  }

  void next_text_column() {
    line = 0;
    if (++page_column >= job.TextColumns) {
      write_page(job);
      page_column = 0;
    }
  }

  void new_line() {
    column = 0;
    if (++line >= job.LinesPerPage) next_text_column();
  }

  void printable(int ch) {
    const bool pretty = job.PrettyMode != 0;
    bool opened_comment = false, opened_string = false;
    if (pretty) {
      if (ch == ' ' && (attr & ATTR_BOLD)) {
        attr &= uint16_t(~ATTR_BOLD);
      } else if (!is_word(ch) || comment || string) {
        if (!is_word(ch)) check_keyword(true);
        if (ch == '"' && prev != '\\' && !comment && !string) {
          string = opened_string = true;
          attr |= ATTR_BLUE;
        } else if (ch == '*' && prev == '/' && !string && !comment && job.PrettyMode != 2) {
          comment = 1;
          opened_comment = true;
          attr |= ATTR_ITALIC | ATTR_GREEN;
        } else if (!string && !comment &&
                   ((ch == '/' && prev == '/' && job.PrettyMode == 1) || (ch == '#' && job.PrettyMode > 1))) {
          comment = 2;
          opened_comment = ch == '/';
          attr |= ATTR_ITALIC | ATTR_GREEN;
        } else if (ch == '#' && column == 0 && job.PrettyMode == 1 && !comment && !string) {
          attr |= ATTR_BOLD | ATTR_RED;
        }
      } else if (!comment && !string) {
        if (keylen == 0) keycol = column;
        if (keylen < 63)
          keyword[keylen++] = char(ch);
        else
          keyword_too_long = true;
      }
    }

    if (column >= job.ColumnChars && job.WrapMode) new_line();

    if (column < job.ColumnChars) {
      job.row_used[size_t(line)] = 1;
      lchar_t* c = cell(column);
      if (pretty) {
        c->attr = attr;
        c->ch = uint16_t(ch);
      } else if (ch == ' ' && c->ch) {
        // a space over a character leaves it
      } else if (c->ch == ch) {
        c->attr |= ATTR_BOLD;
      } else if (c->ch == '_') {
        c->attr |= ATTR_UNDERLINE;
        c->ch = uint16_t(ch);
      } else if (ch == '_' && c->ch) {
        c->attr |= ATTR_UNDERLINE;
      } else {
        c->attr = attr;
        c->ch = uint16_t(ch);
      }
      if (pretty) {
        if ((ch == '{' || ch == '}') && !comment && !string) c->attr |= ATTR_BOLD;
        if (opened_comment && column > 0) cell(column - 1)->attr = attr;
      }
    }
    if (pretty) {
      if (ch == '"' && string && !opened_string && prev != '\\') {
        string = false;
        attr &= uint16_t(~ATTR_BLUE);
      } else if (ch == '/' && prev == '*' && comment == 1 && !opened_comment && !just_opened) {
        comment = 0;
        attr &= uint16_t(~(ATTR_ITALIC | ATTR_GREEN));
      }
      // "/*/" does not close the comment it opens.
      just_opened = opened_comment && comment == 1;
    }
    if (column < kColumnLimit) column++;
  }

  bool just_opened = false;

  int run(char_reader& in) {
    int ch;
    int pending = -1;
    while ((ch = pending >= 0 ? pending : in.next()) >= 0) {
      pending = -1;
      switch (ch) {
        case 8:
          keylen = 0;
          keyword_too_long = false;
          if (column > 0) column--;
          break;
        case 9:
          check_keyword(false);
          column = (column + 8) & ~7;
          if (column > kColumnLimit) column = kColumnLimit;
          if (column >= job.ColumnChars && job.WrapMode) new_line();
          break;
        case 10:
          check_keyword(false);
          clear_line_attributes();
          new_line();
          break;
        case 11:
          if (line > 0) line--;
          keylen = 0;
          keyword_too_long = false;
          clear_line_attributes();
          break;
        case 12:
          check_keyword(false);
          column = 0;
          clear_line_attributes();
          next_text_column();
          break;
        case 13:
          column = 0;
          break;
        case 27: {
          int c = in.next();
          if (c == '7') {
            if (line > 0) line--;
          } else if (c == '8') {
            if ((attr & ATTR_RAISED) && line > 0) {
              attr &= uint16_t(~ATTR_RAISED);
              line--;
            } else if (attr & ATTR_LOWERED) {
              attr &= uint16_t(~ATTR_LOWERED);
            } else {
              attr |= ATTR_RAISED;
            }
          } else if (c == '9') {
            if ((attr & ATTR_LOWERED) && line < job.LinesPerPage - 1) {
              attr &= uint16_t(~ATTR_LOWERED);
              line++;
            } else if (attr & ATTR_RAISED) {
              attr &= uint16_t(~ATTR_RAISED);
            } else {
              attr |= ATTR_LOWERED;
            }
          } else {
            // Not an escape we know: the next character is text again.
            pending = c;
          }
          break;
        }
        default:
          if (ch >= 32) printable(ch);
          break;
      }
      prev = ch;
    }
    if (line || column || page_column) write_page(job);
    return 0;
  }
};

}  // namespace

int textconv_run(textconv_t& job, FILE* in) {
  if (!write_prolog(job)) return 1;
  char_reader reader(in, job.cs.utf8);
  formatter f(job);
  f.run(reader);
  write_trailer(job);
  return 0;
}
