// The type and conversion database: document types (super/type) with the
// rules that recognise a file's format by its name and content, and the
// filters that convert one type into another at a cost.
//
// The database is built from the *.types and *.convs files of the server root
// at a full reload and then changed only by the printer code (printer pseudo
// types and their filters). Everything runs in the scheduler's one thread.
//
// Ownership: a TypeDatabase owns its types, their rules and its filters.
// Type pointers stay valid until the database is freed (types are never
// removed one by one). Filter pointers returned by AddFilter stay valid only
// until the filter table changes again (AddFilter, RemoveFilters).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Field limits of the type database. Longer names, patterns and byte strings
// are refused rather than cut into a different name or rule; the byte counts
// of ascii, printable and contains are capped at one window.
constexpr size_t kMaxSuperLength = 15;     // super-type name
constexpr size_t kMaxTypeLength = 255;     // type name
constexpr size_t kMaxRuleValue = 64;       // bytes of string/istring/contains
constexpr size_t kMaxRuleText = 63;        // match patterns and locale names
constexpr size_t kMaxRuleArgument = 254;   // one function argument, in bytes
constexpr size_t kMaxRuleWord = 254;       // a function name or extension
constexpr int32_t kTypeWindowSize = 8192;  // content seen by one rule
constexpr size_t kMaxTypesLine = 65535;    // a (joined) line of a .types file
constexpr size_t kMaxConvsLine = 1023;     // a line of a .convs file
constexpr size_t kMaxProgramLength = 255;  // a filter's program name
constexpr int kMaxFilterCost = 9999999;    // larger costs are cut to this
constexpr int kFilterChainDepth = 19;      // the depth jobs search with

// Rule operators. The values are fixed: never renumber them.
enum TypeRuleOp : uint16_t {
  TYPE_RULE_NONE = 0,
  TYPE_RULE_AND = 1,    // group: every child is true
  TYPE_RULE_OR = 2,     // group: some child is true
  TYPE_RULE_MATCH = 3,  // file name matches a pattern
  TYPE_RULE_ASCII = 4,
  TYPE_RULE_PRINTABLE = 5,
  TYPE_RULE_STRING = 6,
  TYPE_RULE_CHAR = 7,
  TYPE_RULE_SHORT = 8,
  TYPE_RULE_INT = 9,
  TYPE_RULE_LOCALE = 10,
  TYPE_RULE_CONTAINS = 11,
  TYPE_RULE_ISTRING = 12,
};

// One node of a type's rule tree. Nodes are owned by their TypeRecord; the
// links are plain pointers into it.
struct TypeRule {
  TypeRule* prev = nullptr;    // previous sibling
  TypeRule* next = nullptr;    // next sibling
  TypeRule* parent = nullptr;  // enclosing group, none at the top level
  TypeRule* child = nullptr;   // first child (groups only)
  uint16_t op = TYPE_RULE_NONE;
  uint16_t invert = 0;  // non-zero negates the node's result
  int32_t offset = 0;   // first byte looked at
  int32_t region = 0;   // contains: bytes searched from offset
  int32_t length = 0;   // bytes of `value` used, or bytes checked
  // match/locale: text (terminated); string/istring/contains: raw bytes;
  // char: one byte; short/int: the number, big-endian as in the file.
  unsigned char value[kMaxRuleValue] = {};
};

struct TypeRecord {
  std::string super;           // lower case, at most kMaxSuperLength
  std::string type;            // lower case, at most kMaxTypeLength
  TypeRule* rules = nullptr;   // first top-level rule; none: never detected
  std::deque<TypeRule> nodes;  // owns every rule node (stable addresses)

  TypeRecord() = default;
  TypeRecord(const TypeRecord&) = delete;
  TypeRecord& operator=(const TypeRecord&) = delete;
};

// A conversion step. Chains returned by FindFilterChain are copies, so a job
// can edit its chain (drop "-" steps, put the decompression step in front).
struct FilterRecord {
  TypeRecord* src = nullptr;
  TypeRecord* dst = nullptr;
  int cost = 0;         // 0 .. kMaxFilterCost
  std::string program;  // as written; "-" runs nothing; relative names are
                        // found in the filter directory by the job runner
};

struct TypeDatabase {
  // Sorted by super-type, then type (ASCII case-insensitive); detection tries
  // them in this order.
  std::vector<std::unique_ptr<TypeRecord>> types;
  // Sorted by source super/type, then destination super/type; at most one
  // filter per (source, destination) pair.
  std::vector<FilterRecord> filters;
};

// Reads every file of `directory` whose name ends in ".types" (and is longer
// than 6 characters), then every one ending in ".convs", in directory order.
// Program names of .convs lines are checked against `filterdir`. Unreadable
// files and malformed lines are skipped without a message. Returns the new
// database, or nullptr when the directory cannot be opened.
std::unique_ptr<TypeDatabase> LoadTypeDatabase(const char* directory, const char* filterdir);
// The same into an existing database; 1, or 0 (nothing changed) when the
// directory cannot be opened.
int LoadTypeDatabase(TypeDatabase* db, const char* directory, const char* filterdir);

// Releases the database with its types, rules and filters.
void FreeTypeDatabase(std::unique_ptr<TypeDatabase> db);

// One .types file: lines "super/type rules..." (a line ending in a backslash
// continues on the next; "#" starts a comment line). 1, or 0 when the file
// cannot be opened.
int LoadTypesFile(TypeDatabase* db, const char* path);

// One .convs file: lines "source destination cost program". Programs other
// than "-" must be executable files (relative names under `filterdir`).
// 1, or 0 when the file cannot be opened.
int LoadConvsFile(TypeDatabase* db, const char* path, const char* filterdir);

// A type name as documents, printers and the .types and .convs files write
// it: "super/type", optionally followed by ";" and parameters that are not
// part of the name (document-format's "text/plain; charset=utf-8"), with
// white space around it ignored. The super-type has 1 to kMaxSuperLength
// characters and no "/", the type 1 to kMaxTypeLength; neither holds white
// space, a control character or ";". A longer name is refused, never cut
// into another one. The views point into `text`. 1, or 0 when it is not such a
// name.
struct TypeName {
  std::string_view super;
  std::string_view type;
};
int ParseTypeName(std::string_view text, TypeName* name);

// The type super/type, added in sorted place when new; an existing type is
// returned unchanged. nullptr when a name is empty or too long.
TypeRecord* AddType(TypeDatabase* db, std::string_view super, std::string_view type);

// The type super/type (ASCII case-insensitive), or nullptr.
TypeRecord* FindType(const TypeDatabase* db, std::string_view super, std::string_view type);

// Parses one line of rules and adds it to the type as a further alternative
// (ORed with the type's earlier lines). Syntax:
//   term      word            file name extension: match("*.word")
//             name(args)      a rule function (match, ascii, printable,
//                             string, istring, char, short, int, locale,
//                             contains); arguments may be quoted ('..' or
//                             "..") or hex bytes in <..>
//             (rules)         a group
//   !term     negation
//   a + b     AND; binds tighter than OR
//   a , b     OR
//   a b       the operator last written in the same group (OR at the start)
// Returns 0, or -1 on a syntax error; the rules before the error stay.
int AddTypeRule(TypeRecord* type, std::string_view rule);

// The first type, in database order, whose rules match the file, or nullptr
// when none does or the file cannot be opened. gzip-compressed files are read
// uncompressed; `*compressed` (may be null) tells whether the file was.
TypeRecord* DetectFileType(const TypeDatabase* db, const char* path, int* compressed);

// The pattern language of match(): "*" any run of characters (also none,
// but not at the end of the pattern once the name has ended: name and
// pattern must end together, so "abc*" does not match "abc"), "?" one
// character, "[set]" one character of the set, "\c" the character c;
// case-sensitive. 1 or 0.
int MatchTypePattern(std::string_view name, std::string_view pattern);

// Adds the filter src -> dst. An existing filter for the pair is changed only
// when `cost` is lower (cost and program are replaced). Costs above
// kMaxFilterCost are cut to it. Returns the pair's filter, or nullptr for a
// missing type, a negative cost, or an empty or too long program name.
FilterRecord* AddFilter(TypeDatabase* db, TypeRecord* src, TypeRecord* dst, int cost,
                        std::string_view program);

// Removes every filter whose destination is `dst`; returns how many.
int RemoveFilters(TypeDatabase* db, const TypeRecord* dst);

// The cheapest chain of at most `max_depth` filters converting src into dst,
// in execution order; `*num_filters` (may be null) gets its length. Among
// chains of equal cost the direct filter wins, then the chain whose first
// differing step comes first in the filter table. A chain never passes
// through the same type twice. Returns an empty vector (count 0) when no
// chain exists, for a depth below 1 or a missing argument. For src == dst
// only a filter from the type to itself counts.
std::vector<FilterRecord> FindFilterChain(const TypeDatabase* db, TypeRecord* src, TypeRecord* dst,
                                          int* num_filters, int max_depth);

// The scheduler's database, loaded by a full reload from ServerRoot with the
// filters under ServerBin "/filter", and the document formats it can take
// ("super/type" per type in database order, ending with
// "application/octet-stream").
extern std::unique_ptr<TypeDatabase> TypeDB;
extern std::vector<std::string> SupportedFormats;
