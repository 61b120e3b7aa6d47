// The rule language of the .types files: parsing one line of rules into a
// type's rule tree.
//
// Each line becomes one OR group at the top level of the type (lines are
// alternatives). Inside a group, "+" binds tighter than "," and rules written
// side by side take the operator last written in that group. A run of rules
// joined by "+" is held in an AND group that takes the place of its first
// rule, so "a b+c" means a OR (b AND c).

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "scheduler/types/types.h"

namespace {

// Parentheses nest at most this deep; it bounds the evaluator's recursion.
constexpr size_t kMaxGroupDepth = 32;

struct RuleFunction {
  std::string_view name;
  uint16_t op;
  size_t args;
};

constexpr RuleFunction kFunctions[] = {
    {"match", TYPE_RULE_MATCH, 1},         {"ascii", TYPE_RULE_ASCII, 2},
    {"printable", TYPE_RULE_PRINTABLE, 2}, {"string", TYPE_RULE_STRING, 2},
    {"istring", TYPE_RULE_ISTRING, 2},     {"char", TYPE_RULE_CHAR, 2},
    {"short", TYPE_RULE_SHORT, 2},         {"int", TYPE_RULE_INT, 2},
    {"locale", TYPE_RULE_LOCALE, 1},       {"contains", TYPE_RULE_CONTAINS, 3},
};

bool IsWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A whole argument as a number (strtol, base 0) within [lo, hi].
bool ParseNumber(const std::string& s, long lo, long hi, long* out) {
  if (s.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 0);
  if (errno != 0 || end == s.c_str() || size_t(end - s.c_str()) != s.size()) return false;
  if (v < lo || v > hi) return false;
  *out = v;
  return true;
}

bool ParseOffset(const std::string& s, int32_t* out) {
  long v;
  if (!ParseNumber(s, 0, INT32_MAX, &v)) return false;
  *out = int32_t(v);
  return true;
}

// A byte count such as ascii's length or contains' region: at most one window.
bool ParseSpan(const std::string& s, int32_t* out) {
  long v;
  if (!ParseNumber(s, 0, INT32_MAX, &v)) return false;
  *out = int32_t(v > kTypeWindowSize ? kTypeWindowSize : v);
  return true;
}

bool SetBytes(TypeRule* r, const std::string& bytes, size_t max, bool text) {
  if (bytes.empty() || bytes.size() > max) return false;
  if (text && bytes.find('\0') != std::string::npos) return false;
  std::copy(bytes.begin(), bytes.end(), r->value);
  r->length = int32_t(bytes.size());
  return true;
}

// Stores the arguments of a rule function in `r`; false when they do not fit.
bool FillFunction(TypeRule* r, const std::vector<std::string>& a) {
  long v;
  switch (r->op) {
    case TYPE_RULE_MATCH:
    case TYPE_RULE_LOCALE:
      return SetBytes(r, a[0], kMaxRuleText, true);
    case TYPE_RULE_ASCII:
    case TYPE_RULE_PRINTABLE:
      return ParseOffset(a[0], &r->offset) && ParseSpan(a[1], &r->length);
    case TYPE_RULE_STRING:
    case TYPE_RULE_ISTRING:
      return ParseOffset(a[0], &r->offset) && SetBytes(r, a[1], kMaxRuleValue, false);
    case TYPE_RULE_CONTAINS:
      return ParseOffset(a[0], &r->offset) && ParseSpan(a[1], &r->region) &&
             SetBytes(r, a[2], kMaxRuleValue, false);
    case TYPE_RULE_CHAR:
      if (!ParseOffset(a[0], &r->offset)) return false;
      // One character stands for itself: char(3,4) is the digit 4.
      if (a[1].size() == 1)
        v = static_cast<unsigned char>(a[1][0]);
      else if (!ParseNumber(a[1], 0, 255, &v))
        return false;
      r->value[0] = static_cast<unsigned char>(v);
      r->length = 1;
      return true;
    case TYPE_RULE_SHORT:
      if (!ParseOffset(a[0], &r->offset) || !ParseNumber(a[1], INT16_MIN, UINT16_MAX, &v))
        return false;
      r->value[0] = static_cast<unsigned char>(v >> 8);
      r->value[1] = static_cast<unsigned char>(v);
      r->length = 2;
      return true;
    case TYPE_RULE_INT:
      if (!ParseOffset(a[0], &r->offset) || !ParseNumber(a[1], INT32_MIN, UINT32_MAX, &v))
        return false;
      for (int i = 0; i < 4; i++) r->value[i] = static_cast<unsigned char>(v >> (24 - 8 * i));
      r->length = 4;
      return true;
    default:
      return false;
  }
}

// One group being filled while a line is parsed.
struct Level {
  TypeRule* group;
  TypeRule* last = nullptr;       // last child of `group`
  TypeRule* and_group = nullptr;  // `last` when it is the AND run still open
  TypeRule* and_last = nullptr;   // last child of `and_group`
  uint16_t logic = TYPE_RULE_OR;  // operator of rules written side by side
};

class RuleParser {
 public:
  RuleParser(TypeRecord* type, std::string_view text) : t_(type), s_(text) {}

  int Parse() {
    int status = ParseTokens();
    if (status != 0) DropEmptyGroups();
    return status;
  }

 private:
  int ParseTokens() {
    while (pos_ < s_.size()) {
      char c = s_[pos_];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        pos_++;
      } else if (c == '(') {
        pos_++;
        if (levels_.size() > kMaxGroupDepth) return -1;
        TypeRule* g = NewNode(TYPE_RULE_OR);
        Insert(g);
        levels_.push_back(Level{g});
      } else if (c == ')') {
        pos_++;
        if (levels_.size() < 2 || !levels_.back().last || pending_op_ || pending_invert_) return -1;
        levels_.pop_back();
      } else if (c == '+' || c == ',') {
        pos_++;
        if (levels_.empty() || !levels_.back().last || pending_op_ || pending_invert_) return -1;
        pending_op_ = c == '+' ? TYPE_RULE_AND : TYPE_RULE_OR;
        levels_.back().logic = pending_op_;
      } else if (c == '!') {
        pos_++;
        pending_invert_ = !pending_invert_;
      } else if (IsWordChar(c)) {
        TypeRule* r = ParseWord();
        if (!r) return -1;
        Insert(r);
      } else {
        return -1;
      }
    }
    // A dangling operator, negation or an unclosed group is malformed.
    if (pending_op_ || pending_invert_ || levels_.size() > 1) return -1;
    return 0;
  }

  TypeRule* NewNode(uint16_t op) {
    TypeRule* r = &t_->nodes.emplace_back();
    r->op = op;
    return r;
  }

  static void LinkAfter(TypeRule* group, TypeRule* last, TypeRule* r) {
    r->parent = group;
    r->prev = last;
    if (last)
      last->next = r;
    else
      group->child = r;
  }

  // Adds a rule to the current group with the pending (or running) operator;
  // a pending "!" applies to it.
  void Insert(TypeRule* r) {
    if (pending_invert_) r->invert = 1;
    pending_invert_ = false;
    if (levels_.empty()) {
      // The line's own group, appended to the type's alternatives.
      TypeRule* line = NewNode(TYPE_RULE_OR);
      if (!t_->rules) {
        t_->rules = line;
      } else {
        TypeRule* top = t_->rules;
        while (top->next) top = top->next;
        top->next = line;
        line->prev = top;
      }
      levels_.push_back(Level{line});
    }
    Level& l = levels_.back();
    uint16_t op = pending_op_ ? pending_op_ : l.logic;
    pending_op_ = TYPE_RULE_NONE;
    if (op == TYPE_RULE_AND && l.last) {
      if (!l.and_group) {
        // The AND run takes the place of its first rule.
        TypeRule* a = NewNode(TYPE_RULE_AND);
        TypeRule* first = l.last;
        a->parent = l.group;
        a->prev = first->prev;
        if (a->prev)
          a->prev->next = a;
        else
          l.group->child = a;
        first->prev = first->next = nullptr;
        first->parent = a;
        a->child = first;
        l.last = l.and_group = a;
        l.and_last = first;
      }
      LinkAfter(l.and_group, l.and_last, r);
      l.and_last = r;
      return;
    }
    LinkAfter(l.group, l.last, r);
    l.last = r;
    l.and_group = l.and_last = nullptr;
  }

  // A word at pos_: an extension, or a function with its arguments.
  TypeRule* ParseWord() {
    size_t start = pos_;
    while (pos_ < s_.size() && IsWordChar(s_[pos_])) pos_++;
    std::string_view word = s_.substr(start, pos_ - start);
    if (word.size() > kMaxRuleWord) return nullptr;
    if (pos_ >= s_.size() || s_[pos_] != '(') {
      std::string pattern = "*.";
      pattern += word;
      TypeRule* r = NewNode(TYPE_RULE_MATCH);
      if (!SetBytes(r, pattern, kMaxRuleText, true)) return nullptr;
      return r;
    }
    pos_++;
    const RuleFunction* fn = nullptr;
    for (const RuleFunction& f : kFunctions)
      if (f.name == word) fn = &f;
    if (!fn) return nullptr;
    std::vector<std::string> args;
    if (!ParseArguments(args) || args.size() != fn->args) return nullptr;
    TypeRule* r = NewNode(fn->op);
    if (!FillFunction(r, args)) {
      r->op = TYPE_RULE_NONE;  // never linked: the node is just left unused
      return nullptr;
    }
    return r;
  }

  // Arguments up to the closing ")": quoted text literally, <hex> as bytes,
  // white space outside quotes dropped.
  bool ParseArguments(std::vector<std::string>& args) {
    args.emplace_back();
    while (pos_ < s_.size()) {
      char c = s_[pos_++];
      std::string& arg = args.back();
      if (c == ')') return true;
      if (c == ',') {
        if (args.size() == 3) return false;
        args.emplace_back();
        continue;
      }
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
      if (c == '"' || c == '\'') {
        size_t close = s_.find(c, pos_);
        if (close == std::string_view::npos) return false;
        arg.append(s_.substr(pos_, close - pos_));
        pos_ = close + 1;
      } else if (c == '<') {
        int high = -1;
        for (;;) {
          if (pos_ >= s_.size()) return false;
          char h = s_[pos_++];
          if (h == '>') break;
          if (h == ' ' || h == '\t') continue;
          int v = HexValue(h);
          if (v < 0) return false;
          if (high < 0) {
            high = v;
          } else {
            arg.push_back(char(high << 4 | v));
            high = -1;
          }
        }
        if (high >= 0) return false;  // an odd number of digits
      } else {
        arg.push_back(c);
      }
      if (arg.size() > kMaxRuleArgument) return false;
    }
    return false;
  }

  // After an error: groups opened on this line that got no rule would
  // evaluate as false (and, negated, match every file); unlink them.
  void DropEmptyGroups() {
    while (!levels_.empty()) {
      TypeRule* g = levels_.back().group;
      levels_.pop_back();
      if (g->child) break;
      if (g->next) g->next->prev = g->prev;
      if (g->prev)
        g->prev->next = g->next;
      else if (g->parent)
        g->parent->child = g->next;
      else
        t_->rules = g->next;
      // Its place in the enclosing level is gone with it. (An AND group
      // always keeps the rule it was opened with.)
      if (!levels_.empty()) {
        Level& l = levels_.back();
        if (l.and_last == g)
          l.and_last = g->prev;
        else if (l.last == g)
          l.last = g->prev;
      }
    }
  }

  TypeRecord* t_;
  std::string_view s_;
  size_t pos_ = 0;
  std::vector<Level> levels_;
  uint16_t pending_op_ = TYPE_RULE_NONE;
  bool pending_invert_ = false;
};

}  // namespace

int AddTypeRule(TypeRecord* type, std::string_view rule) {
  if (!type) return -1;
  return RuleParser(type, rule).Parse();
}
