// Every job a query lists carries "job-id" once: clients act on a listed job
// by it. Control files written here stand for what earlier scheduler runs
// (or an administrator) left: with the id, without it, or with a wrong one.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "harness.h"
#include "query_reply.h"
#include "vorn/fd.h"
#include "vorn/ipp.h"

namespace {

using namespace e2e;

constexpr int kGetJobAttributes = 0x0009;
constexpr int kGetJobs = 0x000A;

// Writes control file `id`; `id_attr` is the job-id it holds (0: none).
bool WriteControlFile(const std::string& spool, int id, int id_attr) {
  char name[32];
  std::snprintf(name, sizeof(name), "/c%05d", id);
  vorn::unique_fd fd(::open((spool + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (fd.get() < 0) return false;
  ipp_ptr ipp(ippNew());
  ipp_t* a = ipp.get();
  ippAddString(a, IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", "", "utf-8");
  ippAddString(a, IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", "", "en");
  ippAddString(a, IPP_TAG_JOB, IPP_TAG_NAME, "job-originating-user-name", "", "ann");
  if (id_attr) ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", id_attr);
  ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_ENUM, "job-state", 3);
  ippAddString(a, IPP_TAG_JOB, IPP_TAG_URI, "job-printer-uri", "", "ipp://localhost/printers/alpha");
  ippAddString(a, IPP_TAG_JOB, IPP_TAG_NAME, "job-name", "", "doc-" + std::to_string(id));
  return ippWriteFile(fd.get(), a) == IPP_DATA;
}

// The values of every "job-id" line of group `g`.
std::vector<std::string> IdsIn(const Reply& r, size_t g) {
  std::vector<std::string> out;
  for (const std::string& line : r.groups[g])
    if (line.rfind("job-id=", 0) == 0) out.push_back(line.substr(7));
  return out;
}

TEST(QueryJobIds, ListedJobsCarryTheirIdOnce) {
  const std::string node = FindProgram("node");
  ASSERT_FALSE(node.empty()) << "the node command is needed (.ci/install-deps installs it)";
  ServerRoot root;
  root.WriteConfig();
  ASSERT_TRUE(WriteFile(root.file("printers.conf"), "<Printer alpha>\nState Stopped\n</Printer>\n"));
  const struct {
    int id, id_attr;
  } files[] = {{1, 1}, {2, 0}, {3, 77}};
  for (const auto& f : files) ASSERT_TRUE(WriteControlFile(root.file("spool"), f.id, f.id_attr));
  Vornd vornd(root);
  ASSERT_TRUE(vornd.StartForeground()) << vornd.Stderr();

  const struct {
    const char* what;
    int op;
    std::vector<std::string> attrs;
    std::vector<std::string> ids;  // the job-id of each job group, in order
  } cases[] = {
      {"Get-Jobs, everything", kGetJobs, {"printer-uri=45:ipp://localhost/jobs"}, {"1", "2", "3"}},
      {"Get-Jobs, job-id asked", kGetJobs,
       {"printer-uri=45:ipp://localhost/jobs", "requested-attributes=44:job-id"}, {"1", "2", "3"}},
      {"Get-Jobs, job-id not asked", kGetJobs,
       {"printer-uri=45:ipp://localhost/jobs", "requested-attributes=44:job-name"}, {"", "", ""}},
      {"Get-Job-Attributes, its id first", kGetJobAttributes, {"job-uri=45:ipp://localhost/jobs/1"}, {"1"}},
      {"Get-Job-Attributes, id added at load", kGetJobAttributes, {"job-uri=45:ipp://localhost/jobs/2"}, {"2"}},
      {"Get-Job-Attributes, wrong id put right", kGetJobAttributes, {"job-uri=45:ipp://localhost/jobs/3"}, {"3"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Reply r = RunQuery(node, root.port(), c.op, c.attrs);
    ASSERT_EQ(r.groups.size(), c.ids.size() + 1) << r.raw;
    for (size_t g = 1; g < r.groups.size(); g++) {
      std::vector<std::string> ids = IdsIn(r, g);
      if (c.ids[g - 1].empty()) {
        EXPECT_TRUE(ids.empty()) << r.raw;
      } else {
        EXPECT_EQ(ids, std::vector<std::string>{c.ids[g - 1]}) << r.raw;
      }
    }
    if (c.op == kGetJobAttributes) {
      EXPECT_EQ(r.groups[1].front(), "job-id=" + c.ids[0]) << r.raw;
    }
  }
  EXPECT_NE(root.ErrorLog().find("LoadAllJobs: Bad job-id attribute in control file \"" +
                                 root.file("spool/c00003") + "\"; using 3!"),
            std::string::npos)
      << root.ErrorLog();
}

}  // namespace
