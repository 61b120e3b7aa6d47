// The filter table of the type database: adding and removing filters,
// reading the .convs files, and the search for the cheapest filter chain.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

#include "scheduler/buffile.h"
#include "scheduler/types/types-private.h"
#include "scheduler/types/types.h"
#include "vorn/strings.h"

namespace {

// Table order: source super/type, then destination super/type; names are
// stored in lower case, so a plain byte comparison is enough.
int ComparePair(const TypeRecord* s1, const TypeRecord* d1, const TypeRecord* s2,
                const TypeRecord* d2) {
  if (int c = s1->super.compare(s2->super)) return c;
  if (int c = s1->type.compare(s2->type)) return c;
  if (int c = d1->super.compare(d2->super)) return c;
  return d1->type.compare(d2->type);
}

// Position of the (src, dst) filter, or where it belongs.
size_t FilterPosition(const TypeDatabase* db, const TypeRecord* src, const TypeRecord* dst) {
  auto pos = std::lower_bound(
      db->filters.begin(), db->filters.end(), 0,
      [&](const FilterRecord& f, int) { return ComparePair(f.src, f.dst, src, dst) < 0; });
  return size_t(pos - db->filters.begin());
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The next field of a .convs line: text up to a space or tab.
std::string_view NextField(std::string_view line, size_t& i) {
  while (i < line.size() && IsBlank(line[i])) i++;
  size_t start = i;
  while (i < line.size() && !IsBlank(line[i])) i++;
  return line.substr(start, i - start);
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// One .convs line; lines that do not qualify are ignored.
void AddConvsLine(TypeDatabase* db, std::string_view line, const char* filterdir) {
  size_t i = 0;
  TypeName src_name, dst_name;
  if (!ParseTypeName(NextField(line, i), &src_name)) return;
  if (!ParseTypeName(NextField(line, i), &dst_name)) return;
  std::string_view src_super = src_name.super, src_type = src_name.type;
  TypeRecord* dst = FindType(db, dst_name.super, dst_name.type);
  if (!dst) return;

  std::string_view cost_text = NextField(line, i);
  if (cost_text.empty() || !vorn::isdigit(cost_text[0])) return;
  long cost = 0;
  for (char c : cost_text) {
    if (!vorn::isdigit(c)) break;
    cost = std::min<long>(cost * 10 + (c - '0'), kMaxFilterCost);
  }

  while (i < line.size() && IsBlank(line[i])) i++;
  std::string_view program = line.substr(i);
  if (program.empty() || program.size() > kMaxProgramLength) return;
  if (program != "-") {
    std::string path(program);
    if (program[0] != '/') {
      if (!*filterdir) return;  // nowhere to look for it
      path = std::string(filterdir) + "/" + path;
    }
    if (!IsExecutableFile(path)) return;
  }

  // "*/*" stands for untyped data only, not for every type.
  if (src_super == "*" && src_type == "*") {
    if (TypeRecord* src = FindType(db, "application", "octet-stream"))
      AddFilter(db, src, dst, int(cost), program);
    return;
  }
  for (const auto& t : db->types) {
    if ((src_super == "*" || vorn::iequals(t->super, src_super)) &&
        (src_type == "*" || vorn::iequals(t->type, src_type)))
      AddFilter(db, t.get(), dst, int(cost), program);
  }
}

}  // namespace

FilterRecord* AddFilter(TypeDatabase* db, TypeRecord* src, TypeRecord* dst, int cost,
                        std::string_view program) {
  if (!db || !src || !dst || cost < 0 || program.empty() || program.size() > kMaxProgramLength)
    return nullptr;
  cost = std::min(cost, kMaxFilterCost);
  size_t pos = FilterPosition(db, src, dst);
  if (pos < db->filters.size() && db->filters[pos].src == src && db->filters[pos].dst == dst) {
    FilterRecord& f = db->filters[pos];
    if (cost < f.cost) {
      f.cost = cost;
      f.program = program;
    }
    return &f;
  }
  auto added = db->filters.insert(db->filters.begin() + ptrdiff_t(pos),
                                  FilterRecord{src, dst, cost, std::string(program)});
  return &*added;
}

int RemoveFilters(TypeDatabase* db, const TypeRecord* dst) {
  if (!db || !dst) return 0;
  return int(std::erase_if(db->filters, [&](const FilterRecord& f) { return f.dst == dst; }));
}

int LoadConvsFile(TypeDatabase* db, const char* path, const char* filterdir) {
  if (!db || !path) return 0;
  std::unique_ptr<BufFile> fp = BufFileOpen(path, "r");
  if (!fp) return 0;
  TypesLineReader in{fp.get()};
  std::string line;
  for (;;) {
    TypesLineResult r = ReadTypesLine(in, line, kMaxConvsLine, false);
    if (r == TYPES_LINE_END) break;
    if (r != TYPES_LINE_OK) continue;
    while (!line.empty() && vorn::isspace(line.back())) line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    AddConvsLine(db, line, filterdir ? filterdir : "");
  }
  return 1;
}

// The chain search.
//
// The answer is the chain a plain depth-first search would keep: at each
// type the direct filter is the first candidate, then each filter from that
// type in table order followed by the best chain from its destination that
// does not return to a type already on the chain; a candidate replaces the
// best so far only when strictly cheaper. Such a search visits every path up
// to the depth limit, which is exponential in the depth once the graph has
// cycles or many parallel routes.
//
// The same chain is built here one step at a time instead. For every type,
// k rounds of relaxation over the table give the cost of the cheapest chain
// of at most k steps to the destination that avoids the types already on
// the chain (costs are never negative, so going round a loop never makes a
// chain cheaper). With those costs, the first candidate in the search order
// above whose cost plus the cheapest remainder equals the best total is the
// step the depth-first search keeps. Each step costs O(depth * filters), so
// the whole search is O(depth^2 * (types + filters)).
namespace {

constexpr int64_t kNoChain = INT64_MAX / 4;

struct ChainGraph {
  std::vector<int> first_out;   // filters from type i: out[first_out[i] .. first_out[i+1])
  std::vector<int> out;         // filter indexes, in table order
  std::vector<int> filter_dst;  // destination type index of each filter
};

int TypeIndex(const TypeDatabase* db, const TypeRecord* t) {
  auto pos = std::lower_bound(db->types.begin(), db->types.end(), t,
                              [](const std::unique_ptr<TypeRecord>& a, const TypeRecord* b) {
                                int c = vorn::strcasecmp(a->super, b->super);
                                return (c != 0 ? c : vorn::strcasecmp(a->type, b->type)) < 0;
                              });
  return pos != db->types.end() && pos->get() == t ? int(pos - db->types.begin()) : -1;
}

bool BuildGraph(const TypeDatabase* db, ChainGraph& g) {
  size_t ntypes = db->types.size(), nfilters = db->filters.size();
  std::vector<int> src(nfilters);
  g.filter_dst.assign(nfilters, -1);
  g.first_out.assign(ntypes + 1, 0);
  for (size_t f = 0; f < nfilters; f++) {
    src[f] = TypeIndex(db, db->filters[f].src);
    g.filter_dst[f] = TypeIndex(db, db->filters[f].dst);
    if (src[f] < 0 || g.filter_dst[f] < 0) return false;  // not this database's types
    g.first_out[size_t(src[f]) + 1]++;
  }
  for (size_t i = 0; i < ntypes; i++) g.first_out[i + 1] += g.first_out[i];
  g.out.assign(nfilters, 0);
  std::vector<int> fill(g.first_out.begin(), g.first_out.end() - 1);
  for (size_t f = 0; f < nfilters; f++) g.out[size_t(fill[size_t(src[f])]++)] = int(f);
  return true;
}

// cost[v]: the cheapest chain of at most `steps` filters from v to `dst`
// that enters no type marked in `on_chain` (kNoChain when there is none).
void CheapestRemainders(const TypeDatabase* db, const ChainGraph& g, int dst,
                        const std::vector<char>& on_chain, int steps, std::vector<int64_t>& cost) {
  size_t ntypes = db->types.size();
  cost.assign(ntypes, kNoChain);
  cost[size_t(dst)] = 0;
  std::vector<int64_t> next;
  for (int k = 0; k < steps; k++) {
    next = cost;
    bool changed = false;
    for (size_t v = 0; v < ntypes; v++) {
      if (int(v) == dst || on_chain[v]) continue;
      for (int i = g.first_out[v]; i < g.first_out[v + 1]; i++) {
        int f = g.out[size_t(i)];
        int w = g.filter_dst[size_t(f)];
        if (on_chain[size_t(w)] || cost[size_t(w)] == kNoChain) continue;
        int64_t c = db->filters[size_t(f)].cost + cost[size_t(w)];
        if (c < next[v]) {
          next[v] = c;
          changed = true;
        }
      }
    }
    cost.swap(next);
    if (!changed) break;
  }
}

}  // namespace

std::vector<FilterRecord> FindFilterChain(const TypeDatabase* db, TypeRecord* src, TypeRecord* dst,
                                          int* num_filters, int max_depth) {
  if (num_filters) *num_filters = 0;
  std::vector<FilterRecord> chain;
  if (!db || !src || !dst || max_depth < 1) return chain;

  auto direct = [&](const TypeRecord* from) -> const FilterRecord* {
    size_t pos = FilterPosition(db, from, dst);
    if (pos < db->filters.size() && db->filters[pos].src == from && db->filters[pos].dst == dst)
      return &db->filters[pos];
    return nullptr;
  };
  if (src == dst) {
    if (const FilterRecord* f = direct(src)) chain.push_back(*f);
  } else {
    ChainGraph g;
    int s = TypeIndex(db, src), d = TypeIndex(db, dst);
    if (s < 0 || d < 0 || !BuildGraph(db, g)) return chain;

    // A chain without repeated types has fewer steps than there are types.
    int steps = int(std::min<size_t>(size_t(max_depth), db->types.size()));
    std::vector<char> on_chain(db->types.size(), 0);
    std::vector<int64_t> rest;
    on_chain[size_t(s)] = 1;
    int v = s;
    int64_t target = -1;  // the best total, still to be paid
    for (;;) {
      const TypeRecord* from = db->types[size_t(v)].get();
      const FilterRecord* first = direct(from);
      CheapestRemainders(db, g, d, on_chain, steps - 1, rest);
      auto candidate_cost = [&](int f) {
        int w = g.filter_dst[size_t(f)];
        if (w == d || on_chain[size_t(w)] || rest[size_t(w)] == kNoChain) return kNoChain;
        return db->filters[size_t(f)].cost + rest[size_t(w)];
      };
      if (target < 0) {
        target = first ? first->cost : kNoChain;
        for (int i = g.first_out[size_t(v)]; i < g.first_out[size_t(v) + 1]; i++)
          target = std::min(target, candidate_cost(g.out[size_t(i)]));
        if (target == kNoChain) return chain;
      }
      if (first && first->cost == target) {
        chain.push_back(*first);
        break;
      }
      int pick = -1;
      for (int i = g.first_out[size_t(v)]; i < g.first_out[size_t(v) + 1] && pick < 0; i++)
        if (candidate_cost(g.out[size_t(i)]) == target) pick = g.out[size_t(i)];
      if (pick < 0) {  // cannot happen while the costs above hold
        chain.clear();
        return chain;
      }
      const FilterRecord& f = db->filters[size_t(pick)];
      chain.push_back(f);
      target -= f.cost;
      v = g.filter_dst[size_t(pick)];
      on_chain[size_t(v)] = 1;
      steps--;
    }
  }
  if (num_filters) *num_filters = int(chain.size());
  return chain;
}
