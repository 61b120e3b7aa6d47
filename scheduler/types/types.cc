// The type table of the type database: adding and finding types, reading the
// .types files and loading a whole database from the server root.

#include "scheduler/types/types.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "scheduler/buffile.h"
#include "scheduler/types/types-private.h"
#include "vorn/strings.h"

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = vorn::tolower(c);
  return out;
}

// Order of the type table: super-type, then type, without regard to case.
int CompareType(const TypeRecord& t, std::string_view super, std::string_view type) {
  int d = vorn::strcasecmp(t.super, super);
  return d != 0 ? d : vorn::strcasecmp(t.type, type);
}

// First position whose type does not sort before super/type.
std::vector<std::unique_ptr<TypeRecord>>::const_iterator LowerBound(const TypeDatabase* db,
                                                                    std::string_view super,
                                                                    std::string_view type) {
  return std::lower_bound(
      db->types.begin(), db->types.end(), 0,
      [&](const std::unique_ptr<TypeRecord>& t, int) { return CompareType(*t, super, type) < 0; });
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Names of the directory's .types and .convs files (names longer than the
// suffix alone), in directory order; false when it cannot be opened.
bool ListDirectory(const char* directory, std::vector<std::string>& types,
                   std::vector<std::string>& convs) {
  int fd = ::open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  vorn::unique_dir dir(fdopendir(fd));
  if (!dir) {
    ::close(fd);
    return false;
  }
  while (dirent* e = readdir(dir.get())) {
    std::string_view name = e->d_name;
    if (name.size() <= 6) continue;
    if (EndsWith(name, ".types"))
      types.emplace_back(name);
    else if (EndsWith(name, ".convs"))
      convs.emplace_back(name);
  }
  return true;
}

}  // namespace

std::unique_ptr<TypeDatabase> TypeDB;
std::vector<std::string> SupportedFormats;

TypesLineResult ReadTypesLine(TypesLineReader& in, std::string& line, size_t max,
                              bool join_continued) {
  line.clear();
  bool any = false, too_long = false;
  for (;;) {
    int c = BufFileGetChar(in.fp);
    if (c == '\n' && in.skip_lf) {
      // The second half of a "\r\n" line end.
      in.skip_lf = false;
      continue;
    }
    in.skip_lf = false;
    if (c < 0) {
      if (!any) return TYPES_LINE_END;
      break;
    }
    any = true;
    if (c == '\r' || c == '\n') {
      in.skip_lf = c == '\r';
      if (join_continued && !line.empty() && line.back() == '\\') {
        line.pop_back();
        continue;
      }
      break;
    }
    if (too_long) {
      // Keep only the last byte, so that a continuation is still seen.
      line.assign(1, char(c));
      continue;
    }
    if (line.size() >= max) {
      too_long = true;
      line.assign(1, char(c));
      continue;
    }
    line.push_back(char(c));
  }
  if (too_long) {
    line.clear();
    return TYPES_LINE_TOO_LONG;
  }
  return TYPES_LINE_OK;
}

int ParseTypeName(std::string_view text, TypeName* name) {
  if (!name) return 0;
  text = text.substr(0, text.find(';'));
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  size_t slash = text.find('/');
  if (slash == std::string_view::npos) return 0;
  std::string_view super = text.substr(0, slash), type = text.substr(slash + 1);
  if (super.empty() || type.empty() || super.size() > kMaxSuperLength || type.size() > kMaxTypeLength) return 0;
  for (unsigned char c : text)
    if (c <= ' ' || c == 0x7f) return 0;
  name->super = super;
  name->type = type;
  return 1;
}

TypeRecord* AddType(TypeDatabase* db, std::string_view super, std::string_view type) {
  if (!db || super.empty() || type.empty() || super.size() > kMaxSuperLength ||
      type.size() > kMaxTypeLength)
    return nullptr;
  auto pos = LowerBound(db, super, type);
  if (pos != db->types.end() && CompareType(**pos, super, type) == 0) return pos->get();
  auto t = std::make_unique<TypeRecord>();
  t->super = Lower(super);
  t->type = Lower(type);
  TypeRecord* added = t.get();
  db->types.insert(pos, std::move(t));
  return added;
}

TypeRecord* FindType(const TypeDatabase* db, std::string_view super, std::string_view type) {
  if (!db) return nullptr;
  auto pos = LowerBound(db, super, type);
  if (pos != db->types.end() && CompareType(**pos, super, type) == 0) return pos->get();
  return nullptr;
}

int LoadTypesFile(TypeDatabase* db, const char* path) {
  if (!db || !path) return 0;
  std::unique_ptr<BufFile> fp = BufFileOpen(path, "r");
  if (!fp) return 0;
  TypesLineReader in{fp.get()};
  std::string line;
  for (;;) {
    TypesLineResult r = ReadTypesLine(in, line, kMaxTypesLine, true);
    if (r == TYPES_LINE_END) break;
    if (r != TYPES_LINE_OK || line.empty() || line[0] == '#') continue;

    // super/type, then the rules.
    size_t end = line.find_first_of(" \t");
    if (end == std::string::npos) end = line.size();
    std::string_view text = line;
    TypeName name;
    if (!ParseTypeName(text.substr(0, end), &name)) continue;
    TypeRecord* t = AddType(db, name.super, name.type);
    if (!t) continue;
    AddTypeRule(t, text.substr(end));
  }
  return 1;
}

int LoadTypeDatabase(TypeDatabase* db, const char* directory, const char* filterdir) {
  if (!db || !directory) return 0;
  std::vector<std::string> types, convs;
  if (!ListDirectory(directory, types, convs)) return 0;
  std::string dir = directory;
  for (const std::string& name : types) LoadTypesFile(db, (dir + "/" + name).c_str());
  for (const std::string& name : convs)
    LoadConvsFile(db, (dir + "/" + name).c_str(), filterdir ? filterdir : "");
  return 1;
}

std::unique_ptr<TypeDatabase> LoadTypeDatabase(const char* directory, const char* filterdir) {
  auto db = std::make_unique<TypeDatabase>();
  if (!LoadTypeDatabase(db.get(), directory, filterdir)) return nullptr;
  return db;
}

void FreeTypeDatabase(std::unique_ptr<TypeDatabase> db) { db.reset(); }
