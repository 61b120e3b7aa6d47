// Helpers of the filter tests: environment variables set for one case, and
// the fixture files.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace filter_test {

inline std::string Source(const std::string& rel) { return std::string(VORN_SOURCE_DIR) + "/" + rel; }
inline std::string FixturePpd(const std::string& name) { return Source("tests/fixtures/filter/" + name); }
inline std::string DemoPpd() { return Source("data/model/vorn-postscript.ppd"); }

// Sets (or with nullptr removes) an environment variable until the end of
// the scope, then restores what was there.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      ::setenv(name_.c_str(), old_.c_str(), 1);
    else
      ::unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_, old_;
  bool had_ = false;
};

// Everything written to a stream opened by open_memstream.
class MemOut {
 public:
  MemOut() { fp_ = open_memstream(&buf_, &size_); }
  ~MemOut() {
    if (fp_) std::fclose(fp_);
    std::free(buf_);
  }
  MemOut(const MemOut&) = delete;
  MemOut& operator=(const MemOut&) = delete;
  FILE* fp() { return fp_; }
  std::string str() {
    std::fflush(fp_);
    return std::string(buf_, size_);
  }

 private:
  FILE* fp_ = nullptr;
  char* buf_ = nullptr;
  size_t size_ = 0;
};

}  // namespace filter_test
