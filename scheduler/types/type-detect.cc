// Detecting a file's type: evaluating the rule trees against the file's name
// and content. Content comes from one window of kTypeWindowSize bytes, read
// through the buffered file layer (so gzip files are seen uncompressed).

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "scheduler/buffile.h"
#include "scheduler/types/types.h"

namespace {

struct Window {
  BufFile* fp = nullptr;
  std::string_view name;  // file name without its directory
  int64_t start = 0;      // file offset of data[0]
  int64_t size = 0;       // bytes held
  bool loaded = false;
  bool at_end = false;  // the file has no data after the window
  unsigned char data[kTypeWindowSize];
};

// Fills the window from `offset`; false when the file cannot be read there.
bool Load(Window& w, int64_t offset) {
  w.loaded = true;
  w.start = offset;
  w.size = 0;
  w.at_end = true;
  if (BufFileSeek(w.fp, offset) < 0) return false;
  while (w.size < kTypeWindowSize) {
    long n = BufFileRead(w.fp, w.data + w.size, size_t(kTypeWindowSize - w.size));
    if (n <= 0) return true;
    w.size += n;
  }
  w.at_end = false;
  return true;
}

// Points `*p` at the file's bytes from `offset` and returns how many of the
// `need` bytes the file has there (0 when none). The window is moved to
// `offset` only when it lacks bytes the file may have.
int64_t Bytes(Window& w, int64_t offset, int64_t need, const unsigned char** p) {
  int64_t end = w.start + w.size;
  bool inside =
      w.loaded && offset >= w.start && (offset + need <= end || (w.at_end && offset <= end));
  if (!inside) Load(w, offset);
  end = w.start + w.size;
  if (offset < w.start || offset >= end) return 0;
  *p = w.data + (offset - w.start);
  return std::min(need, end - offset);
}

bool IsTextByte(unsigned char c, bool eight_bit) {
  return (c >= 32 && c <= 126) || (c >= 8 && c <= 13) || c == 26 || c == 27 ||
         (eight_bit && c >= 128);
}

bool SameIgnoringCase(const unsigned char* a, const unsigned char* b, size_t n) {
  for (size_t i = 0; i < n; i++) {
    unsigned char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = x + 32;
    if (y >= 'A' && y <= 'Z') y = y + 32;
    if (x != y) return false;
  }
  return true;
}

// The message locale as the environment gives it.
std::string_view MessageLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(name);
    if (v && *v) return v;
  }
  return "C";
}

std::string_view RuleText(const TypeRule* r) {
  return std::string_view(reinterpret_cast<const char*>(r->value), size_t(r->length));
}

bool EvalList(const TypeRule* first, uint16_t logic, Window& w);

bool EvalRule(const TypeRule* r, Window& w) {
  const unsigned char* p = nullptr;
  int64_t n;
  switch (r->op) {
    case TYPE_RULE_AND:
    case TYPE_RULE_OR:
      return EvalList(r->child, r->op, w);
    case TYPE_RULE_MATCH:
      return MatchTypePattern(w.name, RuleText(r)) == 1;
    case TYPE_RULE_LOCALE:
      return MessageLocale() == RuleText(r);
    case TYPE_RULE_ASCII:
    case TYPE_RULE_PRINTABLE:
      n = Bytes(w, r->offset, r->length, &p);
      if (n <= 0) return false;
      for (int64_t i = 0; i < n; i++)
        if (!IsTextByte(p[i], r->op == TYPE_RULE_PRINTABLE)) return false;
      return true;
    case TYPE_RULE_STRING:
    case TYPE_RULE_CHAR:
    case TYPE_RULE_SHORT:
    case TYPE_RULE_INT:
      n = Bytes(w, r->offset, r->length, &p);
      return n == r->length && std::memcmp(p, r->value, size_t(n)) == 0;
    case TYPE_RULE_ISTRING:
      n = Bytes(w, r->offset, r->length, &p);
      return n == r->length && SameIgnoringCase(p, r->value, size_t(n));
    case TYPE_RULE_CONTAINS:
      // Every start position from which the bytes fit in the region.
      n = Bytes(w, r->offset, r->region, &p);
      for (int64_t i = 0; i + r->length <= n; i++)
        if (std::memcmp(p + i, r->value, size_t(r->length)) == 0) return true;
      return false;
    default:
      return false;
  }
}

// One level of the tree: OR stops at the first true rule, AND at the first
// false one; otherwise the last rule decides (an empty list is false).
bool EvalList(const TypeRule* first, uint16_t logic, Window& w) {
  bool result = false;
  for (const TypeRule* r = first; r; r = r->next) {
    result = EvalRule(r, w);
    if (r->invert) result = !result;
    if (logic == TYPE_RULE_OR && result) return true;
    if (logic == TYPE_RULE_AND && !result) return false;
  }
  return result;
}

// One pattern item at `pi` against the character `c`; `*next` gets the index
// after the item.
bool MatchItem(std::string_view pat, size_t pi, char c, size_t* next) {
  if (pat[pi] == '\\' && pi + 1 < pat.size()) {
    *next = pi + 2;
    return pat[pi + 1] == c;
  }
  if (pat[pi] == '[') {
    size_t close = pat.find(']', pi + 1);
    if (close != std::string_view::npos) {
      *next = close + 1;
      return pat.substr(pi + 1, close - pi - 1).find(c) != std::string_view::npos;
    }
  }
  *next = pi + 1;
  return pat[pi] == '?' || pat[pi] == c;
}

}  // namespace

int MatchTypePattern(std::string_view name, std::string_view pat) {
  // Each item other than "*" takes exactly one character, so backing up to
  // the last "*" is enough: linear in name times pattern, never exponential.
  size_t s = 0, p = 0;
  size_t star_p = std::string_view::npos, star_s = 0;
  while (s < name.size()) {
    size_t next;
    if (p < pat.size() && pat[p] == '*') {
      star_p = ++p;
      star_s = s;
    } else if (p < pat.size() && MatchItem(pat, p, name[s], &next)) {
      p = next;
      s++;
    } else if (star_p != std::string_view::npos) {
      p = star_p;
      s = ++star_s;
    } else {
      return 0;
    }
  }
  // Name and pattern must end together: a "*" left over matches nothing,
  // so "abc*" does not match "abc".
  return p == pat.size() ? 1 : 0;
}

TypeRecord* DetectFileType(const TypeDatabase* db, const char* path, int* compressed) {
  if (compressed) *compressed = 0;
  if (!db || !path) return nullptr;
  std::unique_ptr<BufFile> fp = BufFileOpen(path, "r");
  if (!fp) return nullptr;
  auto w = std::make_unique<Window>();
  w->fp = fp.get();
  std::string_view name = path;
  size_t slash = name.rfind('/');
  w->name = slash == std::string_view::npos ? name : name.substr(slash + 1);
  // The first read also tells whether the file is compressed.
  if (!Load(*w, 0)) return nullptr;
  if (compressed) *compressed = fp->compressed ? 1 : 0;
  for (const auto& t : db->types)
    if (t->rules && EvalList(t->rules, TYPE_RULE_OR, *w)) return t.get();
  return nullptr;
}
