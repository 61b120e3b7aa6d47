// A burst of jobs through a running scheduler: every job submitted by an IPP
// client written elsewhere (tests/e2e/burst_client.js on the npm package
// ipp-encoder) is accepted and printed, and the scheduler holds no more
// descriptors afterwards than before.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "harness.h"
#include "vorn/fd.h"

namespace {

using namespace e2e;

// What the process's descriptors point to, one per line.
std::string DescriptorList(pid_t pid) {
  std::string fds = "/proc/" + std::to_string(pid) + "/fd", out;
  vorn::unique_dir dir(::opendir(fds.c_str()));
  if (!dir) return out;
  while (dirent* e = ::readdir(dir.get())) {
    if (e->d_name[0] == '.') continue;
    char target[512];
    ssize_t n = ::readlink((fds + "/" + e->d_name).c_str(), target, sizeof(target) - 1);
    out += std::string(e->d_name) + " -> " + std::string(target, n > 0 ? size_t(n) : 0) + "\n";
  }
  return out;
}

// Open descriptors of a process, or -1.
int DescriptorCount(pid_t pid) {
  vorn::unique_dir dir(::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str()));
  if (!dir) return -1;
  int n = 0;
  while (dirent* e = ::readdir(dir.get()))
    if (e->d_name[0] != '.') n++;
  return n;
}

TEST(Burst, ThousandJobsAreAcceptedAndPrintedWithoutKeepingDescriptors) {
  std::string node = FindProgram("node");
  ASSERT_FALSE(node.empty()) << "the node command is needed (.ci/install-deps installs it)";
  ServerRoot root;
  root.WriteConfig("MaxJobs 0\nFileDevice On\n");
  ASSERT_TRUE(root.InstallDataFile("vorn.types"));
  ASSERT_TRUE(root.InstallDataFile("vorn.convs"));
  // A raw queue: each document is copied to the device file as it stands.
  ASSERT_TRUE(WriteFile(root.file("printers.conf"),
                        "<Printer burst>\nDeviceURI file:" + root.file("out.prn") +
                            "\nState Idle\nAccepting Yes\n</Printer>\n"));
  Vornd vornd(root);
  ASSERT_TRUE(vornd.StartForeground()) << vornd.Stderr();
  // One request first: the access log is opened with the first request.
  {
    RawHttp http(root.port());
    EXPECT_EQ(http.Exchange("GET / HTTP/1.1\r\nHost: localhost\r\n\r\n").status, 200);
  }
  // Settled: the log is open and the client's connection closed (the
  // listener is the one socket left).
  ASSERT_TRUE(WaitUntil(
      [&] {
        std::string fds = DescriptorList(vornd.pid());
        size_t sockets = 0;
        for (size_t at = fds.find("socket:"); at != std::string::npos; at = fds.find("socket:", at + 1)) sockets++;
        return fds.find("access_log") != std::string::npos && sockets == 1;
      },
      kWait));
  int before = DescriptorCount(vornd.pid());
  ASSERT_GT(before, 0);
  std::string before_list = DescriptorList(vornd.pid());

  RunResult r = RunProgram({node, SourceDir() + "/tests/e2e/burst_client.js", std::to_string(root.port()), "burst",
                            "1000", "8", "240", "burst document\n"},
                           250s);
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("accepted 1000\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("active 0\n"), std::string::npos) << r.out;
  // Each job's document reached the device; the last one is what it holds.
  EXPECT_EQ(ReadFile(root.file("out.prn")), "burst document\n");
  EXPECT_TRUE(root.WaitForLog("Job 1000 queued on 'burst' by 'burst'."));

  // The clients are gone once the server has seen them close.
  int after = -1;
  EXPECT_TRUE(WaitUntil([&] { return (after = DescriptorCount(vornd.pid())) <= before; }, kWait))
      << "before:\n" << before_list << "after:\n" << DescriptorList(vornd.pid());

  // Finished jobs stay as history (control files); their documents are gone.
  int control = 0, data = 0;
  vorn::unique_dir dir(::opendir(root.file("spool").c_str()));
  ASSERT_NE(dir, nullptr);
  while (dirent* e = ::readdir(dir.get())) {
    if (e->d_name[0] == 'c') control++;
    if (e->d_name[0] == 'd') data++;
  }
  EXPECT_EQ(control, 1000);
  EXPECT_EQ(data, 0);
  std::string log = root.ErrorLog();
  EXPECT_EQ(log.find("\nE ["), std::string::npos) << log.substr(0, 4000);
}

}  // namespace
