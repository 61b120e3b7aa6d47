// Runs a filter as the scheduler does: a real child process with the filter
// argument vector and environment, standard input from a file (or closed
// input), standard output and error captured.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "vorn/raster.h"

namespace rastertest {

struct FilterResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out, err;
};

inline std::string ReadAll(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct TempDir {
  std::filesystem::path path;
  TempDir() {
    char tmpl[] = "/tmp/vorn-raster-XXXXXX";
    path = ::mkdtemp(tmpl);
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  std::string file(const std::string& name) const { return (path / name).string(); }
  std::string write(const std::string& name, const std::string& data) const {
    std::ofstream(file(name), std::ios::binary) << data;
    return file(name);
  }
};

// argv: program, job-id, user, title, copies, options[, file]. `env`
// entries are NAME=value; the scheduler's fixed ones are added.
// `stdout_to`, when given, takes the output instead (e.g. "/dev/full", to
// see a write error fail the job); `out` is then empty.
inline FilterResult RunFilter(const std::string& program, const std::vector<std::string>& args,
                              const std::vector<std::string>& env, const std::string& stdin_file,
                              const TempDir& dir, const std::string& stdout_to = "") {
  std::string out = stdout_to.empty() ? dir.file("stdout") : stdout_to, err = dir.file("stderr");
  pid_t pid = fork();
  if (pid == 0) {
    int in = stdin_file.empty() ? open("/dev/null", O_RDONLY) : open(stdin_file.c_str(), O_RDONLY);
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(o, 1);
    dup2(e, 2);
    std::vector<std::string> envs = env;
    envs.push_back("TMPDIR=" + dir.path.string());
    envs.push_back("PATH=/usr/bin:/bin");
    if (const char* asan = std::getenv("ASAN_OPTIONS")) envs.push_back(std::string("ASAN_OPTIONS=") + asan);
    std::vector<char*> argv, envp;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (std::string& e2 : envs) envp.push_back(e2.data());
    envp.push_back(nullptr);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  FilterResult r;
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  if (stdout_to.empty()) r.out = ReadAll(out);
  r.err = ReadAll(err);
  // Under the sanitizers a finding also ends with "ERROR:" and status 1,
  // which some tests expect: it must not pass for a refusal.
  if (r.err.find("Sanitizer") != std::string::npos || r.err.find("runtime error:") != std::string::npos)
    ADD_FAILURE() << program << " reported a sanitizer finding:\n" << r.err;
  return r;
}

struct RasterPage {
  vorn_page_header_t h;
  std::vector<uint8_t> data;  // every row (and plane) of the page
};

// Reads a raster stream through the library's reader.
inline std::vector<RasterPage> ReadRaster(const std::string& bytes, const TempDir& dir) {
  std::string name = dir.write("stream.ras", bytes);
  int fd = open(name.c_str(), O_RDONLY);
  vorn_raster_t* r = vornRasterOpen(fd, VORN_RASTER_READ);
  std::vector<RasterPage> pages;
  RasterPage p;
  while (vornRasterReadHeader(r, p.h)) {
    p.data.assign(size_t(vornRasterPageBytes(p.h)), 0);
    if (vornRasterReadPixels(r, p.data.data(), p.data.size()) != p.data.size()) break;
    pages.push_back(p);
  }
  vornRasterClose(r);
  close(fd);
  return pages;
}

}  // namespace rastertest
