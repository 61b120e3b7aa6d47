// Destinations: the server's printers and classes merged with the saved
// settings of a system-wide and a per-user file in temporary folders, the
// default destination, instances, writing the user's file back, and files
// that are damaged or not files at all.

#include "vorn/dests.h"
#include "vorn/fd.h"

#include "vorn/client.h"
#include "vorn/request.h"

#include "tests/fixtures/dests/ipp_server.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using ippserver::Ipp;
using ippserver::Reply;
using ippserver::Request;
using ippserver::Server;

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void spill(const std::string& path, const std::string& data) { std::ofstream(path, std::ios::binary) << data; }

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> out;
  if (vorn::unique_dir d{::opendir(dir.c_str())}) {
    while (dirent* e = ::readdir(d.get()))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") out.push_back(e->d_name);
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Answers the three queries of vornGetDests.
struct Directory {
  std::vector<std::string> printers;
  std::vector<std::string> classes;
  std::string default_dest;  // empty: the server has none (0x0406)
  Reply operator()(const Request& r) const {
    Ipp req = ippserver::decode(r.body);
    if (!req) return ippserver::ok(ippserver::ipp_response(IPP_BAD_REQUEST));
    const std::vector<std::string>* list = nullptr;
    if (req->op_status == VORN_GET_PRINTERS) list = &printers;
    if (req->op_status == VORN_GET_CLASSES) list = &classes;
    if (list) {
      Ipp resp = ippserver::ipp_response(IPP_OK_SUBST);
      for (const auto& name : *list) {
        ippAddString(resp.get(), IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", "", name);
        ippAddSeparator(resp.get());
      }
      return ippserver::ok(std::move(resp));
    }
    if (req->op_status == VORN_GET_DEFAULT) {
      if (default_dest.empty()) return ippserver::ok(ippserver::ipp_response(IPP_NOT_FOUND));
      Ipp resp = ippserver::ipp_response(IPP_OK);
      ippAddString(resp.get(), IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", "", default_dest);
      return ippserver::ok(std::move(resp));
    }
    return ippserver::ok(ippserver::ipp_response(IPP_OPERATION_NOT_SUPPORTED));
  }
};

// "*" for the default, name[/instance], then " name=value" per option.
std::vector<std::string> describe(const vorn_dests_t& dests) {
  std::vector<std::string> out;
  for (const auto& d : dests) {
    std::string s = (d.is_default ? "*" : "") + d.name + (d.instance.empty() ? "" : "/" + d.instance);
    for (const auto& o : d.options) s += " " + o.name + "=" + o.value;
    out.push_back(s);
  }
  return out;
}

class DestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vorn-dests-XXXXXX";
    ASSERT_TRUE(::mkdtemp(tmpl));
    root_ = tmpl;
    home_ = root_ + "/home";
    server_root_ = root_ + "/etc";
    ASSERT_EQ(::mkdir(home_.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(server_root_.c_str(), 0755), 0);
    for (const char* var : {"HOME", "VORN_SERVERROOT"})
      saved_.emplace_back(var, getenv(var) ? std::optional<std::string>(getenv(var)) : std::nullopt);
    setenv("HOME", home_.c_str(), 1);
    setenv("VORN_SERVERROOT", server_root_.c_str(), 1);
    vornSetEncryption(HTTP_ENCRYPT_IF_REQUESTED);
  }
  void TearDown() override {
    for (auto& [var, value] : saved_) {
      if (value) setenv(var, value->c_str(), 1);
      else unsetenv(var);
    }
    vornSetServer(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  // Starts the server and points the client settings at it.
  void serve(Directory dir) {
    server_ = std::make_unique<Server>([dir](const Request& r) { return dir(r); });
    vornSetServer(("127.0.0.1:" + std::to_string(server_->port())).c_str());
  }
  std::string user_file() const { return home_ + "/.vorndests"; }
  std::string system_file() const { return server_root_ + "/dests.conf"; }

  vorn_dests_t get() {
    vorn_dests_t dests;
    int count = vornGetDests(dests);
    EXPECT_EQ(count, int(dests.size()));
    return dests;
  }

  std::string root_, home_, server_root_;
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
  std::unique_ptr<Server> server_;
};

TEST_F(DestsTest, MergesTheServerListWithTheUserFile) {
  serve({{"laser", "Inkjet"}, {"office"}, "inkjet"});
  spill(user_file(),
        "# my settings\n"
        "Dest laser/duplex sides=two-sided-long-edge\n"
        "dest LASER cpi=12\n"
        "Default office/draft copies=2 page-label='Draft copy'\n"
        "Dest gone media=A4\n"
        "Dest inkjet/crlf\r\n");
  vorn_dests_t dests = get();
  EXPECT_EQ(describe(dests), (std::vector<std::string>{
                                 "gone media=A4",  // saved, though the server does not list it now
                                 "Inkjet",
                                 "inkjet/crlf",
                                 "laser cpi=12",  // the server's spelling
                                 "laser/duplex sides=two-sided-long-edge",
                                 "office",
                                 "*office/draft copies=2 page-label=Draft copy",
                             }));
  EXPECT_EQ(vornLastError(), IPP_OK_SUBST);

  std::vector<int> ops;
  for (const auto& r : server_->requests()) {
    Ipp req = ippserver::decode(r.body);
    ASSERT_TRUE(req);
    ops.push_back(req->op_status);
    EXPECT_EQ(r.resource, "/");
    EXPECT_EQ(ippserver::text(req.get(), "requested-attributes"), "printer-name");
  }
  EXPECT_EQ(ops, (std::vector<int>{VORN_GET_PRINTERS, VORN_GET_CLASSES, VORN_GET_DEFAULT}));
  EXPECT_EQ(server_->connections(), 1);
}

TEST_F(DestsTest, DefaultDestination) {
  static const struct {
    const char* label;
    const char* server_default;  // "" none
    const char* system_file;     // nullptr: no file
    const char* user_file;
    const char* expected;  // name[/instance], "" none
  } cases[] = {
      {"server", "laser", nullptr, nullptr, "laser"},
      {"system file over server", "laser", "Default inkjet\n", nullptr, "inkjet"},
      {"user file over both", "laser", "Default inkjet\n", "Default laser/duplex\n", "laser/duplex"},
      {"user file without Default", "laser", "Default inkjet\n", "Dest laser x=1\n", "inkjet"},
      {"none anywhere", "", nullptr, nullptr, ""},
      {"user file, no server default", "", nullptr, "Default inkjet\n", "inkjet"},
      {"last Default line wins", "", nullptr, "Default laser\nDefault inkjet\n", "inkjet"},
      {"a destination the server lacks", "laser", nullptr, "Default remote@far\n", "remote@far"},
      {"server default with other case", "LASER", nullptr, nullptr, "laser"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    serve({{"laser", "inkjet"}, {}, c.server_default});
    ::unlink(system_file().c_str());
    ::unlink(user_file().c_str());
    if (c.system_file) spill(system_file(), c.system_file);
    if (c.user_file) spill(user_file(), c.user_file);
    vorn_dests_t dests = get();
    // A server without a default is no failure of the list.
    EXPECT_EQ(vornLastError(), IPP_OK_SUBST);
    const vorn_dest_t* def = vornGetDest(nullptr, nullptr, dests);
    EXPECT_EQ(def, vornGetDest("", "", dests));
    std::string got = def ? def->name + (def->instance.empty() ? "" : "/" + def->instance) : "";
    EXPECT_EQ(got, c.expected);
    int marked = 0;
    for (const auto& d : dests) marked += d.is_default;
    EXPECT_EQ(marked, *c.expected ? 1 : 0);
  }
}

TEST_F(DestsTest, UserLineReplacesTheSystemLine) {
  serve({{"laser", "inkjet"}, {}, ""});
  spill(system_file(), "Dest laser cpi=10 lpi=6\nDest inkjet media=A4\n");
  spill(user_file(), "Dest laser cpi=12\n");
  // lpi=6 is gone for laser: the user removed it, and the user's line is
  // the whole of what was saved.
  EXPECT_EQ(describe(get()), (std::vector<std::string>{"inkjet media=A4", "laser cpi=12"}));
}

TEST_F(DestsTest, ServerThatCannotBeReachedStillGivesTheSavedDestinations) {
  serve({{"laser"}, {}, "laser"});
  server_.reset();  // nobody listens there any more
  spill(user_file(), "Dest laser cpi=12\nDefault laser/duplex\n");
  EXPECT_EQ(describe(get()), (std::vector<std::string>{"laser cpi=12", "*laser/duplex"}));
  EXPECT_EQ(vornLastError(), IPP_INTERNAL_ERROR);
}

TEST_F(DestsTest, SavedDestinationsAloneAskTheServerNothing) {
  serve({{"laser", "inkjet"}, {}, "inkjet"});
  spill(system_file(), "Dest laser cpi=10 lpi=6\nDest inkjet media=A4\nDefault laser\n");
  spill(user_file(), "Dest laser cpi=12\nDest laser/duplex sides=two-sided-long-edge\n");
  vorn_dests_t saved;
  EXPECT_EQ(vornGetSavedDests(saved), 3);
  EXPECT_TRUE(server_->requests().empty());
  EXPECT_EQ(describe(saved), (std::vector<std::string>{"inkjet media=A4", "*laser cpi=12",
                                                         "laser/duplex sides=two-sided-long-edge"}));
  // Every saved destination has the same options in the whole list.
  vorn_dests_t all = get();
  for (const vorn_dest_t& d : saved) {
    const vorn_dest_t* full = vornGetDest(d.name.c_str(), d.instance.c_str(), all);
    ASSERT_TRUE(full) << d.name;
    EXPECT_EQ(describe({*full}), describe({d}));
  }
}

TEST_F(DestsTest, GetDestFindsNameAndInstanceWithoutRegardToCase) {
  vorn_dests_t dests;
  vornAddDest("laser", nullptr, dests);
  vornAddDest("laser", "Duplex", dests);
  vornAddDest("inkjet", "", dests);
  static const struct {
    const char* name;
    const char* instance;
    const char* found;  // nullptr: none
  } cases[] = {
      {"laser", nullptr, "laser"},   {"LASER", "", "laser"},         {"laser", "duplex", "laser/Duplex"},
      {"Laser", "DUPLEX", "laser/Duplex"}, {"laser", "draft", nullptr}, {"lase", nullptr, nullptr},
      {"inkjet", nullptr, "inkjet"}, {nullptr, nullptr, nullptr},      {"", "", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name ? c.name : "(null)") + "/" + (c.instance ? c.instance : "(null)"));
    const vorn_dest_t* d = vornGetDest(c.name, c.instance, std::as_const(dests));
    std::string got = d ? d->name + (d->instance.empty() ? "" : "/" + d->instance) : "";
    EXPECT_EQ(got, c.found ? c.found : "");
  }
}

TEST_F(DestsTest, AddDestKeepsOrderAndCopiesTheOptionsOfItsDestination) {
  vorn_dests_t dests;
  EXPECT_EQ(vornAddDest("printer", nullptr, dests), 1);
  vornGetDest("printer", nullptr, dests)->options = {{"cpi", "12"}, {"sides", "one-sided"}};
  EXPECT_EQ(vornAddDest("printer", "econ", dests), 2);
  EXPECT_EQ(vornAddDest("Printer", "ECON", dests), 2);  // already there
  EXPECT_EQ(vornAddDest("alpha", nullptr, dests), 3);
  EXPECT_EQ(vornAddDest("printer", "alpha", dests), 4);
  EXPECT_EQ(vornAddDest("zeta", "one", dests), 5);  // no destination to copy from
  const std::string too_long(VORN_MAX_DEST_NAME + 1, 'n');
  for (const char* bad : {"", "a b", "a/b", "tab\there", "del\x7f", too_long.c_str()}) {
    EXPECT_EQ(vornAddDest(bad, nullptr, dests), 5) << bad;
    EXPECT_EQ(vornAddDest("printer", bad[0] ? bad : "x y", dests), 5) << bad;
  }
  EXPECT_EQ(vornAddDest(nullptr, nullptr, dests), 5);
  const std::string longest(VORN_MAX_DEST_NAME, 'n');
  EXPECT_EQ(vornAddDest(longest.c_str(), "\xc3\xa9t\xc3\xa9", dests), 6);
  EXPECT_EQ(describe(dests), (std::vector<std::string>{"alpha", longest + "/\xc3\xa9t\xc3\xa9",
                                                       "printer cpi=12 sides=one-sided",
                                                       "printer/alpha cpi=12 sides=one-sided",
                                                       "printer/econ cpi=12 sides=one-sided", "zeta/one"}));
}

TEST_F(DestsTest, SetDestsWritesWhatGetDestsReadsBack) {
  serve({{"laser", "inkjet"}, {}, "inkjet"});
  vorn_dests_t dests = get();
  vornAddDest("laser", "odd", dests);
  vorn_dest_t* odd = vornGetDest("laser", "odd", dests);
  ASSERT_TRUE(odd);
  // Values that need quoting or escaping in a line, and the empty one.
  odd->options = {{"page-label", "it's a \"test\""},
                  {"note", "two\nlines\\n and a tab\t"},
                  {"path", "C:\\temp\\"},
                  {"eq", "a=b"},
                  {"blank", ""},
                  {"utf", "gr\xc3\xbc\xc3\x9f"},
                  {"cr", "x\r"},
                  {"nul", std::string("a\0b", 3)},
                  {"bad name", "dropped"},
                  {"x=y", "dropped"}};
  for (auto& d : dests) d.is_default = false;
  odd->is_default = true;
  ASSERT_EQ(vornSetDests(dests), 0);

  vorn_dests_t again = get();
  odd->options.resize(odd->options.size() - 2);  // names that cannot be written
  EXPECT_EQ(describe(again), describe(dests));
  ASSERT_EQ(again.size(), dests.size());
  for (size_t i = 0; i < dests.size(); i++) {
    SCOPED_TRACE(dests[i].name);
    ASSERT_EQ(again[i].options.size(), dests[i].options.size());
    for (size_t j = 0; j < dests[i].options.size(); j++) {
      EXPECT_EQ(again[i].options[j].name, dests[i].options[j].name);
      EXPECT_TRUE(again[i].options[j].value == dests[i].options[j].value) << dests[i].options[j].name;
    }
  }
  // Only the file itself is left: no temporary file beside it.
  EXPECT_EQ(names_in(home_), std::vector<std::string>{".vorndests"});
  struct stat st;
  ASSERT_EQ(::stat(user_file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST_F(DestsTest, SetDestsLineFormat) {
  vorn_dests_t dests;
  vornAddDest("laser", nullptr, dests);
  vornAddDest("laser", "duplex", dests);
  vornAddDest("inkjet", nullptr, dests);
  vornAddDest("plain", nullptr, dests);  // nothing saved: no line
  vornGetDest("laser", "duplex", dests)->options = {{"sides", "two-sided-long-edge"}, {"copies", "2"}};
  vornGetDest("laser", "duplex", dests)->is_default = true;  // only the first default counts
  vornGetDest("inkjet", nullptr, dests)->options = {{"page-label", "Draft copy"}};
  vornGetDest("inkjet", nullptr, dests)->is_default = true;
  spill(user_file(), "# kept\n");
  ASSERT_EQ(::chmod(user_file().c_str(), 0600), 0);
  ASSERT_EQ(vornSetDests(dests), 0);
  EXPECT_EQ(slurp(user_file()),
            "# kept\n"
            "Default inkjet page-label='Draft copy'\n"
            "Dest laser/duplex sides=two-sided-long-edge copies=2\n");
  struct stat st;
  ASSERT_EQ(::stat(user_file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);  // the user's choice of permissions stays
}

TEST_F(DestsTest, DamagedUserFileLosesNothingWhenRewritten) {
  const std::string garbage = slurp(VORN_SOURCE_DIR "/tests/fixtures/dests/garbage.dests");
  ASSERT_FALSE(garbage.empty());
  spill(user_file(), garbage);
  serve({{"laser", "inkjet"}, {}, ""});
  vorn_dests_t dests = get();
  EXPECT_EQ(describe(dests), (std::vector<std::string>{"inkjet media=A4",
                                                       "laser cpi=12 'unterminated=true quote=true",
                                                       "laser/duplex sides=two-sided-long-edge"}));
  ASSERT_EQ(vornSetDests(dests), 0);

  // Every line that was not a destination line is still there, byte for
  // byte and in order, and the destinations read back the same.
  std::string others = garbage;
  for (const char* line : {"Dest laser cpi=12 'unterminated quote\n", "Dest laser/duplex sides=two-sided-long-edge\n",
                           "Dest inkjet media=A4\r\n"}) {
    size_t at = others.find(line);
    ASSERT_NE(at, std::string::npos) << line;
    others.erase(at, std::strlen(line));
  }
  std::string rewritten = slurp(user_file());
  EXPECT_TRUE(rewritten.starts_with(others + "\n"));
  EXPECT_EQ(describe(get()), describe(dests));

  // A second rewrite changes nothing.
  ASSERT_EQ(vornSetDests(get()), 0);
  EXPECT_TRUE(slurp(user_file()) == rewritten);
}

TEST_F(DestsTest, DamagedLinesNeverCrash) {
  static const std::string cases[] = {
      std::string("Dest \0\0\0 a=b\n", 12),
      "Dest laser a='never closed\n",
      "Dest laser a=\"never closed\\",
      "Dest laser a=\\",
      "\\",
      "Dest laser/",
      "Dest /",
      "Default",
      "Dest laser ====\n",
      "Dest laser =x noy\n",
      std::string(100000, 'D') + "\n",
      "Dest laser " + std::string(50000, '\'') + "\n",
      "Dest laser " + std::string(50001, '\\') + "\nDest inkjet\n",
  };
  // A saved line with nothing in it is not written again, so the server
  // lists the destinations such lines name.
  serve({{"laser", "inkjet"}, {}, ""});
  for (const auto& text : cases) {
    spill(user_file(), text);
    vorn_dests_t dests = get();
    ASSERT_EQ(vornSetDests(dests), 0);
    EXPECT_EQ(describe(get()), describe(dests)) << text.substr(0, 40);
  }
}

TEST_F(DestsTest, UserFileThatCannotBeReadIsNotReplaced) {
  serve({{"laser"}, {}, ""});
  vorn_dests_t dests = get();
  dests[0].options = {{"cpi", "12"}};

  // Too large to read: left as it is.
  std::string big = "Dest laser a=1\n" + std::string(5 << 20, '#');
  spill(user_file(), big);
  EXPECT_EQ(describe(get()), std::vector<std::string>{"laser"});
  errno = 0;
  EXPECT_EQ(vornSetDests(dests), -1);
  EXPECT_EQ(errno, EFBIG);
  EXPECT_TRUE(slurp(user_file()) == big);

  // Not a file.
  ::unlink(user_file().c_str());
  ASSERT_EQ(::mkdir(user_file().c_str(), 0755), 0);
  EXPECT_EQ(describe(get()), std::vector<std::string>{"laser"});
  EXPECT_EQ(vornSetDests(dests), -1);
  struct stat st;
  ASSERT_EQ(::stat(user_file().c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  ::rmdir(user_file().c_str());

  // A home that does not exist: nothing can be written.
  setenv("HOME", (root_ + "/nowhere").c_str(), 1);
  EXPECT_EQ(vornSetDests(dests), -1);
  EXPECT_EQ(errno, ENOENT);
}

TEST_F(DestsTest, FreeDests) {
  vorn_dests_t dests;
  vornAddDest("laser", nullptr, dests);
  vornFreeDests(dests);
  EXPECT_TRUE(dests.empty());
}

}  // namespace
