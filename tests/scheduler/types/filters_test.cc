// The filter table, the .convs reader and the chain search, including a
// check of the search against a plain depth-first search on many small
// graphs, and chains over the shipped data/*.convs.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "scheduler/types/types.h"

namespace {

namespace fs = std::filesystem;

std::string Name(const TypeRecord* t) { return t ? t->super + "/" + t->type : "(none)"; }

// "src>dst" steps joined by ",", the types named by their type part only.
std::string Steps(const std::vector<FilterRecord>& chain) {
  std::string s;
  for (const FilterRecord& f : chain) s += (s.empty() ? "" : ",") + f.src->type + ">" + f.dst->type;
  return s.empty() ? "(none)" : s;
}

int64_t Cost(const std::vector<FilterRecord>& chain) {
  int64_t c = 0;
  for (const FilterRecord& f : chain) c += f.cost;
  return c;
}

class FiltersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vorn-filters-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& data, mode_t mode = 0644) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << data;
    chmod(path.c_str(), mode);
    return path;
  }

  std::string dir_;
};

// A database of types "t/<name>" and filters written "a>b:cost".
struct Graph {
  TypeDatabase db;
  TypeRecord* T(const std::string& n) { return AddType(&db, "t", n); }
  void Add(const std::string& edge) {
    size_t gt = edge.find('>'), colon = edge.find(':');
    ASSERT_NE(AddFilter(&db, T(edge.substr(0, gt)), T(edge.substr(gt + 1, colon - gt - 1)),
                        std::stoi(edge.substr(colon + 1)), "prog"),
              nullptr);
  }
};

// ---- The filter table ----

TEST_F(FiltersTest, AddFilterKeepsTheCheaperAndStaysSorted) {
  Graph g;
  TypeRecord *a = g.T("a"), *b = g.T("b"), *c = g.T("c");
  FilterRecord* f = AddFilter(&g.db, a, b, 50, "first");
  ASSERT_NE(f, nullptr);
  const struct {
    int cost;
    const char* program;
    int kept_cost;
    const char* kept_program;
  } steps[] = {
      {60, "dearer", 50, "first"},
      {50, "same", 50, "first"},
      {20, "cheaper", 20, "cheaper"},
      {20000000, "huge", 20, "cheaper"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.program);
    f = AddFilter(&g.db, a, b, s.cost, s.program);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->cost, s.kept_cost);
    EXPECT_EQ(f->program, s.kept_program);
    EXPECT_EQ(g.db.filters.size(), 1u);
  }

  // Bad arguments add nothing.
  EXPECT_EQ(AddFilter(&g.db, a, c, -1, "p"), nullptr);
  EXPECT_EQ(AddFilter(&g.db, a, c, 1, ""), nullptr);
  EXPECT_EQ(AddFilter(&g.db, a, c, 1, std::string(256, 'p')), nullptr);
  EXPECT_EQ(AddFilter(&g.db, nullptr, c, 1, "p"), nullptr);
  EXPECT_EQ(AddFilter(&g.db, a, nullptr, 1, "p"), nullptr);
  EXPECT_EQ(AddFilter(nullptr, a, c, 1, "p"), nullptr);
  EXPECT_EQ(g.db.filters.size(), 1u);
  ASSERT_NE(AddFilter(&g.db, a, c, 1, std::string(255, 'p')), nullptr);
  EXPECT_EQ(AddFilter(&g.db, c, a, 20000000, "p")->cost, kMaxFilterCost);

  // Added out of order, the table is ordered by source, then destination.
  g.Add("c>b:1");
  g.Add("b>c:1");
  g.Add("b>a:1");
  std::vector<std::string> order;
  for (const FilterRecord& r : g.db.filters) order.push_back(r.src->type + ">" + r.dst->type);
  EXPECT_EQ(order, (std::vector<std::string>{"a>b", "a>c", "b>a", "b>c", "c>a", "c>b"}));

  EXPECT_EQ(RemoveFilters(&g.db, a), 2);
  order.clear();
  for (const FilterRecord& r : g.db.filters) order.push_back(r.src->type + ">" + r.dst->type);
  EXPECT_EQ(order, (std::vector<std::string>{"a>b", "a>c", "b>c", "c>b"}));
}

TEST_F(FiltersTest, ConvsLines) {
  fs::create_directory(dir_ + "/filter");
  Write("filter/good", "#!/bin/sh\n", 0755);
  Write("filter/noexec", "#!/bin/sh\n", 0644);
  fs::create_directory(dir_ + "/filter/adir");
  const std::string abs = Write("elsewhere", "#!/bin/sh\n", 0755);
  const std::string filterdir = dir_ + "/filter";
  const std::string wide =
      "application/pdf" + std::string(1000, ' ') + "application/postscript 33 good";
  const struct {
    std::string line;
    std::vector<std::string> added;  // "src dst cost program"
  } cases[] = {
      {"application/pdf application/postscript 33 good",
       {"application/pdf application/postscript 33 good"}},
      {"application/pdf\tapplication/postscript\t33\tgood \t ",
       {"application/pdf application/postscript 33 good"}},
      {"Application/PDF application/PostScript 33 good",
       {"application/pdf application/postscript 33 good"}},
      {"application/pdf application/postscript 33 -",
       {"application/pdf application/postscript 33 -"}},
      {"application/pdf application/postscript 33 " + abs,
       {"application/pdf application/postscript 33 " + abs}},
      {"application/pdf application/postscript 33abc good",
       {"application/pdf application/postscript 33 good"}},
      {"application/pdf application/postscript 99999999999 good",
       {"application/pdf application/postscript 9999999 good"}},
      {"application/pdf application/postscript 33 missing", {}},
      {"application/pdf application/postscript 33 noexec", {}},
      {"application/pdf application/postscript 33 adir", {}},
      {"application/pdf application/postscript 33 /nonexistent/good", {}},
      {"application/pdf application/unknown 33 good", {}},
      {"application/pdf application/postscript x33 good", {}},
      {"application/pdf application/postscript -1 good", {}},
      {"application/pdf application/postscript 33", {}},
      {"application/pdf application/postscript 33    ", {}},
      {"application/pdf application/postscript", {}},
      {"application-pdf application/postscript 33 good", {}},
      {"application/pdf /postscript 33 good", {}},
      {"applicationxxxxxx/pdf application/postscript 33 good", {}},
      {"application/pdf application/postscript 33 " + std::string(256, 'p'), {}},
      {"# application/pdf application/postscript 33 good", {}},
      {"", {}},
      {wide, {}},  // longer than a line may be
      {"*/* application/postscript 10 good",
       {"application/octet-stream application/postscript 10 good"}},
      {"image/* application/postscript 10 good",
       {"image/gif application/postscript 10 good", "image/png application/postscript 10 good"}},
      {"*/plain application/postscript 10 good", {"text/plain application/postscript 10 good"}},
      {"application/* text/plain 10 good",
       {"application/octet-stream text/plain 10 good", "application/pdf text/plain 10 good",
        "application/postscript text/plain 10 good"}},
      {"application/pdf application/postscript 40 good\n"
       "application/pdf application/postscript 30 -\n"
       "application/pdf application/postscript 35 good\n",
       {"application/pdf application/postscript 30 -"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    TypeDatabase db;
    for (const char* n : {"application/octet-stream", "application/pdf", "application/postscript",
                          "image/gif", "image/png", "text/plain"}) {
      std::string s = n;
      AddType(&db, s.substr(0, s.find('/')), s.substr(s.find('/') + 1));
    }
    // The line is followed by one that must still be read.
    std::string path = Write("x.convs", c.line + "\ntext/plain image/png 1 -\n");
    ASSERT_EQ(LoadConvsFile(&db, path.c_str(), filterdir.c_str()), 1);
    std::vector<std::string> added;
    for (const FilterRecord& f : db.filters) {
      if (Name(f.src) == "text/plain" && Name(f.dst) == "image/png") continue;
      added.push_back(Name(f.src) + " " + Name(f.dst) + " " + std::to_string(f.cost) + " " +
                      f.program);
    }
    EXPECT_EQ(added, c.added);
    EXPECT_NE(FindFilterChain(&db, FindType(&db, "text", "plain"), FindType(&db, "image", "png"),
                              nullptr, 1)
                  .size(),
              0u);
  }
  TypeDatabase db;
  EXPECT_EQ(LoadConvsFile(&db, (dir_ + "/missing.convs").c_str(), filterdir.c_str()), 0);
}

// ---- The chain search ----

TEST_F(FiltersTest, ChainSearch) {
  const struct {
    const char* what;
    std::vector<std::string> filters;
    const char *src, *dst;
    int depth;
    const char* chain;
    int64_t cost;
  } cases[] = {
      {"two steps", {"pdf>ps:33", "ps>vps:66"}, "pdf", "vps", 19, "pdf>ps,ps>vps", 99},
      {"90 beats a direct 100", {"a>d:100", "a>b:40", "b>d:50"}, "a", "d", 19, "a>b,b>d", 90},
      {"100 is kept against 50+50", {"a>d:100", "a>b:50", "b>d:50"}, "a", "d", 19, "a>d", 100},
      {"depth 1: direct only", {"a>d:100", "a>b:1", "b>d:1"}, "a", "d", 1, "a>d", 100},
      {"depth 1: no direct", {"a>b:1", "b>d:1"}, "a", "d", 1, "(none)", 0},
      {"depth 2 too short", {"a>b:1", "b>c:1", "c>d:1"}, "a", "d", 2, "(none)", 0},
      {"depth 3 enough", {"a>b:1", "b>c:1", "c>d:1"}, "a", "d", 3, "a>b,b>c,c>d", 3},
      {"depth 0", {"a>d:1"}, "a", "d", 0, "(none)", 0},
      {"negative depth", {"a>d:1"}, "a", "d", -1, "(none)", 0},
      {"longer but cheaper", {"a>d:10", "a>b:1", "b>c:1", "c>d:1"}, "a", "d", 19, "a>b,b>c,c>d", 3},
      {"tie: direct first", {"a>d:20", "a>b:10", "b>d:10"}, "a", "d", 19, "a>d", 20},
      {"tie: table order", {"a>c:10", "c>d:10", "a>b:10", "b>d:10"}, "a", "d", 19, "a>b,b>d", 20},
      {"tie deeper: table order",
       {"a>b:1", "b>y:1", "b>x:1", "x>d:1", "y>d:1"},
       "a",
       "d",
       19,
       "a>b,b>x,x>d",
       3},
      {"tie: direct at the second step",
       {"a>b:1", "b>d:2", "b>c:1", "c>d:1"},
       "a",
       "d",
       19,
       "a>b,b>d",
       3},
      {"zero-cost detour is not taken",
       {"a>b:0", "b>a:0", "a>c:1", "c>d:1"},
       "a",
       "d",
       19,
       "a>c,c>d",
       2},
      {"zero-cost loop at the end", {"a>d:1", "d>e:0", "e>d:0"}, "a", "d", 19, "a>d", 1},
      {"cycle, no way out", {"a>b:1", "b>a:1", "b>c:1", "c>b:1"}, "a", "d", 19, "(none)", 0},
      {"no filter from the source", {"b>d:1"}, "a", "d", 19, "(none)", 0},
      {"self: a filter to itself", {"a>a:5", "a>b:1", "b>a:1"}, "a", "a", 19, "a>a", 5},
      {"self: no such filter", {"a>b:1", "b>a:1"}, "a", "a", 19, "(none)", 0},
      {"a total above 9999999 is still a chain",
       {"a>b:9999999", "b>d:9999999"},
       "a",
       "d",
       19,
       "a>b,b>d",
       19999998},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Graph g;
    for (const std::string& f : c.filters) g.Add(f);
    int n = -1;
    std::vector<FilterRecord> chain = FindFilterChain(&g.db, g.T(c.src), g.T(c.dst), &n, c.depth);
    EXPECT_EQ(Steps(chain), c.chain);
    EXPECT_EQ(n, int(chain.size()));
    EXPECT_EQ(Cost(chain), c.cost);
  }
  Graph g;
  g.Add("a>b:1");
  EXPECT_TRUE(FindFilterChain(nullptr, g.T("a"), g.T("b"), nullptr, 19).empty());
  EXPECT_TRUE(FindFilterChain(&g.db, nullptr, g.T("b"), nullptr, 19).empty());
  EXPECT_TRUE(FindFilterChain(&g.db, g.T("a"), nullptr, nullptr, 19).empty());
}

// Plain depth-first searches to check the chain search against: the order of
// candidates and the strict comparison are those of FindFilterChain's
// contract. `simple` keeps types from repeating; without it the search walks
// every path up to the depth, cycles included, with 9999999 as "no chain".
struct Found {
  std::vector<const FilterRecord*> chain;
  int64_t cost = 0;
  bool ok = false;
};

Found DepthFirst(const TypeDatabase& db, const TypeRecord* src, const TypeRecord* dst, int depth,
                 bool simple, std::vector<const TypeRecord*>& path) {
  Found best;
  if (depth < 1) return best;
  for (const FilterRecord& f : db.filters) {
    if (f.src == src && f.dst == dst) {
      best.chain = {&f};
      best.cost = f.cost;
      best.ok = true;
    }
  }
  int64_t best_cost = best.ok ? best.cost : 9999999;
  for (const FilterRecord& f : db.filters) {
    if (f.src != src) continue;
    if (simple) {
      if (f.dst == dst) continue;
      bool seen = false;
      for (const TypeRecord* t : path) seen |= t == f.dst;
      if (seen) continue;
    }
    path.push_back(f.dst);
    Found sub = DepthFirst(db, f.dst, dst, depth - 1, simple, path);
    path.pop_back();
    if (sub.ok && f.cost + sub.cost < best_cost) {
      best.chain = {&f};
      best.chain.insert(best.chain.end(), sub.chain.begin(), sub.chain.end());
      best.cost = best_cost = f.cost + sub.cost;
      best.ok = true;
    }
  }
  return best;
}

std::string Steps(const Found& f) {
  if (!f.ok) return "(none)";
  std::string s;
  for (const FilterRecord* r : f.chain)
    s += (s.empty() ? "" : ",") + r->src->type + ">" + r->dst->type;
  return s;
}

// Random small graphs, cycles included. With positive costs no cheapest walk
// repeats a type, so the result must equal the unrestricted walk search; with
// zero costs (many ties) it must equal the search over simple paths.
TEST_F(FiltersTest, ChainSearchAgreesWithDepthFirstSearch) {
  std::mt19937 rng(20240611);
  const char* names[] = {"a", "b", "c", "d", "e", "f"};
  int compared = 0, found = 0;
  for (int round = 0; round < 300; round++) {
    bool positive = round % 2 == 0;
    Graph g;
    for (const char* n : names) g.T(n);
    std::uniform_int_distribution<int> cost(positive ? 1 : 0, positive ? 20 : 2);
    for (const char* s : names) {
      for (const char* d : names) {
        if (std::string(s) != d && rng() % 100 < 40)
          g.Add(std::string(s) + ">" + d + ":" + std::to_string(cost(rng)));
      }
    }
    for (int q = 0; q < 8; q++) {
      TypeRecord* src = g.T(names[rng() % 6]);
      TypeRecord* dst = g.T(names[rng() % 6]);
      int depth = int(rng() % 6);
      if (src == dst) continue;  // only a filter to itself counts: see ChainSearch
      SCOPED_TRACE("round " + std::to_string(round) + " " + src->type + ">" + dst->type +
                   " depth " + std::to_string(depth));
      std::vector<const TypeRecord*> path{src};
      Found want = DepthFirst(g.db, src, dst, depth, !positive, path);
      std::vector<FilterRecord> got = FindFilterChain(&g.db, src, dst, nullptr, depth);
      ASSERT_EQ(Steps(got), Steps(want));
      compared++;
      found += want.ok;
    }
  }
  // The graphs were not all trivially empty or all trivially connected.
  EXPECT_GT(found, compared / 4);
  EXPECT_LT(found, compared);
}

// A large graph with cycles everywhere: a search without memory would not
// finish; this one must, with the right answer.
TEST_F(FiltersTest, LargeCyclicGraphStaysFast) {
  Graph g;
  const int n = 160;
  std::vector<TypeRecord*> t;
  for (int i = 0; i < n; i++) {
    char name[8];
    snprintf(name, sizeof(name), "n%03d", i);
    t.push_back(g.T(name));
  }
  TypeRecord* unreachable = g.T("zz-unreachable");
  TypeRecord* target = g.T("zz-target");
  // Every type to every other: cost 1000, except a cheap ring i -> i+1.
  for (int i = 0; i < n; i++) {
    for (int j = 0; j < n; j++) {
      if (i == j) continue;
      ASSERT_NE(AddFilter(&g.db, t[i], t[j], j == i + 1 ? 1 : 1000, "p"), nullptr);
    }
  }
  ASSERT_NE(AddFilter(&g.db, t[18], target, 1, "p"), nullptr);
  ASSERT_NE(AddFilter(&g.db, unreachable, target, 1, "p"), nullptr);
  ASSERT_NE(AddFilter(&g.db, t[n - 1], target, 5000, "p"), nullptr);

  auto start = std::chrono::steady_clock::now();
  // 18 ring steps and the exit: 19 filters, cost 19.
  std::vector<FilterRecord> chain =
      FindFilterChain(&g.db, t[0], target, nullptr, kFilterChainDepth);
  EXPECT_EQ(chain.size(), 19u);
  EXPECT_EQ(Cost(chain), 19);
  // One step less allowed: the ring is too long, a jump of 1000 replaces it.
  chain = FindFilterChain(&g.db, t[0], target, nullptr, 18);
  EXPECT_EQ(Cost(chain), 1000 + 1);
  EXPECT_EQ(Steps(chain), "n000>n018,n018>zz-target");
  // Nothing leads to this one: every path up to the depth is hopeless.
  EXPECT_TRUE(FindFilterChain(&g.db, t[0], unreachable, nullptr, kFilterChainDepth).empty());
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 60.0);  // a sanity bound only
}

// ---- The shipped rules ----

class ShippedConvsTest : public FiltersTest {
 protected:
  void SetUp() override {
    FiltersTest::SetUp();
    fs::create_directory(dir_ + "/filter");
    for (const char* p :
         {"pdfconv", "psconv", "textconv", "hpglconv", "imgconv", "imgraster", "psraster"})
      Write(std::string("filter/") + p, "#!/bin/sh\nexit 0\n", 0755);
  }
  std::unique_ptr<TypeDatabase> Load() {
    return LoadTypeDatabase(VORN_SOURCE_DIR "/data", (dir_ + "/filter").c_str());
  }
  static TypeRecord* Type(TypeDatabase* db, const std::string& n) {
    return FindType(db, n.substr(0, n.find('/')), n.substr(n.find('/') + 1));
  }
};

TEST_F(ShippedConvsTest, EveryLineIsLoaded) {
  std::unique_ptr<TypeDatabase> db = Load();
  ASSERT_TRUE(db);
  std::ifstream in(VORN_SOURCE_DIR "/data/vorn.convs");
  std::string line;
  size_t lines = 0;
  while (std::getline(in, line))
    if (!line.empty() && line[0] != '#') lines++;
  EXPECT_GT(lines, 20u);
  EXPECT_EQ(db->filters.size(), lines);
}

TEST_F(ShippedConvsTest, Chains) {
  std::unique_ptr<TypeDatabase> db = Load();
  ASSERT_TRUE(db);
  TypeRecord* printer = AddType(db.get(), "printer", "lab");
  ASSERT_NE(AddFilter(db.get(), Type(db.get(), "application/vnd.vorn-postscript"), printer, 0, "-"),
            nullptr);
  const struct {
    const char *src, *dst;
    const char* programs;
    int cost;
  } cases[] = {
      {"application/pdf", "application/vnd.vorn-postscript", "pdfconv psconv", 99},
      {"application/pdf", "printer/lab", "pdfconv psconv -", 99},
      {"application/postscript", "printer/lab", "psconv -", 66},
      {"text/plain", "printer/lab", "textconv psconv -", 99},
      {"application/x-shell", "printer/lab", "textconv psconv -", 99},
      {"application/vnd.hp-hpgl", "printer/lab", "hpglconv psconv -", 132},
      {"image/png", "printer/lab", "imgconv -", 66},
      {"image/png", "application/vnd.vorn-raster", "imgraster", 100},
      {"application/pdf", "application/vnd.vorn-raster", "pdfconv psconv psraster", 199},
      {"text/html", "printer/lab", "", 0},
      {"application/octet-stream", "printer/lab", "", 0},
      {"application/vnd.vorn-raw", "printer/lab", "", 0},
      {"image/x-icon", "printer/lab", "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.src) + " -> " + c.dst);
    TypeRecord *src = Type(db.get(), c.src), *dst = Type(db.get(), c.dst);
    ASSERT_NE(src, nullptr);
    ASSERT_NE(dst, nullptr);
    int n = -1;
    std::vector<FilterRecord> chain = FindFilterChain(db.get(), src, dst, &n, kFilterChainDepth);
    std::string programs;
    for (const FilterRecord& f : chain) programs += (programs.empty() ? "" : " ") + f.program;
    EXPECT_EQ(programs, c.programs);
    EXPECT_EQ(Cost(chain), c.cost);
    EXPECT_EQ(n, int(chain.size()));
  }
  EXPECT_TRUE(
      FindFilterChain(db.get(), Type(db.get(), "application/pdf"), printer, nullptr, 2).empty());
}

TEST_F(ShippedConvsTest, MissingProgramsLeaveNoChain) {
  fs::remove(dir_ + "/filter/psraster");
  fs::remove(dir_ + "/filter/imgraster");
  std::unique_ptr<TypeDatabase> db = Load();
  ASSERT_TRUE(db);
  EXPECT_TRUE(FindFilterChain(db.get(), Type(db.get(), "application/pdf"),
                              Type(db.get(), "application/vnd.vorn-raster"), nullptr,
                              kFilterChainDepth)
                  .empty());
  EXPECT_TRUE(FindFilterChain(db.get(), Type(db.get(), "image/gif"),
                              Type(db.get(), "application/vnd.vorn-raster"), nullptr,
                              kFilterChainDepth)
                  .empty());
}

}  // namespace
