// A running vornd for the tests that send it job requests through
// tests/fixtures/submit/submit_client.js (an IPP client written elsewhere),
// with the helpers those requests are written with.
#pragma once

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"
#include "query_reply.h"
#include "vorn/ipp.h"

namespace e2e {

// Attribute arguments of submit_client.js.
inline std::string PrinterUri(const std::string& name) { return "printer-uri=45:ipp://localhost/printers/" + name; }
inline std::string User(const std::string& name) { return "requesting-user-name=42:" + name; }

inline std::string Fixture(const char* name) { return "@" + SourceDir() + "/tests/fixtures/submit/" + name; }

inline std::string CurrentUser() {
  const passwd* pw = ::getpwuid(::getuid());
  return pw ? pw->pw_name : "";
}
inline std::string CurrentGroup() {
  const group* gr = ::getgrgid(::getgid());
  return gr ? gr->gr_name : "";
}

class SubmitServer {
 public:
  // Starts vornd with the project's type files, `conf` after the base
  // configuration and `printers` as printers.conf.
  void Start(const std::string& conf, const std::string& printers) {
    node_ = FindProgram("node");
    ASSERT_FALSE(node_.empty()) << "the node command is needed (.ci/install-deps installs it)";
    ASSERT_TRUE(root_.InstallDataFile("vorn.types"));
    ASSERT_TRUE(root_.InstallDataFile("vorn.convs"));
    root_.WriteConfig("LogLevel debug2\n" + conf);
    ASSERT_TRUE(WriteFile(root_.file("printers.conf"), printers));
    ASSERT_TRUE(vornd_.StartForeground()) << vornd_.Stderr();
  }

  Reply Send(int op, const std::vector<std::string>& args) { return RunSubmit(node_, root_.port(), op, args); }

  Reply JobAttributes(int id) {
    return RunQuery(node_, root_.port(), IPP_GET_JOB_ATTRIBUTES,
                    {"job-uri=45:ipp://localhost/jobs/" + std::to_string(id)});
  }

  // A document written into the server root for this test; "@path".
  std::string Document(const std::string& name, const std::string& content) {
    EXPECT_TRUE(WriteFile(root_.file(name), content));
    return "@" + root_.file(name);
  }

  // The names in the spool directory, sorted.
  std::vector<std::string> Spool() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(root_.file("spool"), ec))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // The spool once the request file of the last request is gone (the
  // scheduler removes it after sending the reply).
  std::vector<std::string> SettledSpool() const {
    std::vector<std::string> names;
    WaitUntil(
        [&] {
          names = Spool();
          return std::none_of(names.begin(), names.end(), [](const std::string& n) {
            return n.size() == 8 && n.find_first_not_of("0123456789abcdef") == std::string::npos;
          });
        },
        kWait);
    return names;
  }

  bool InSpool(const std::string& name) const { return FileExists(root_.file("spool/" + name)); }

  ServerRoot root_;
  Vornd vornd_{root_};
  std::string node_;
};

}  // namespace e2e
