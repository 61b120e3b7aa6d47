// Shared by the submit command tests: the built programs, a private
// environment for them (home, temporary folder, server root, server address)
// and a way to run them to their end.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"
#include "vorn/ipp.h"

namespace commands {

using namespace e2e;

inline const char* SubmitPath() { return SUBMIT_PATH; }
inline const char* EnqueuePath() { return ENQUEUE_PATH; }

// The names in folder `dir` (without "." and "..").
inline std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
    names.push_back(entry.path().filename().string());
  return names;
}

// The values of an attribute as text: integers in decimal, ranges as "N-M",
// strings as they are, several values separated by commas.
inline std::string ValueText(const ipp_attribute_t* a) {
  std::string text;
  for (size_t i = 0; i < a->values.size(); i++) {
    const ipp_value_t& v = a->values[i];
    if (i) text += ",";
    switch (a->value_tag) {
      case IPP_TAG_INTEGER:
      case IPP_TAG_ENUM:
        text += std::to_string(v.integer);
        break;
      case IPP_TAG_BOOLEAN:
        text += v.boolean ? "true" : "false";
        break;
      case IPP_TAG_RANGE:
        text += std::to_string(v.range.lower) + "-" + std::to_string(v.range.upper);
        break;
      default:
        text += v.string.text;
    }
  }
  return text;
}

// A scratch folder with the environment a command gets: HOME (for the
// per-user destinations file), TMPDIR (where standard input is copied),
// VORN_SERVERROOT (the system-wide destinations file) and VORN_SERVER.
class CommandEnv {
 public:
  CommandEnv() {
    char dir[] = "/tmp/vorn-commands-XXXXXX";
    if (::mkdtemp(dir)) path_ = dir;
    for (const char* sub : {"home", "tmp", "conf", "files"}) std::filesystem::create_directories(file(sub));
    set_port(FreePort());  // nothing listens there until a test says otherwise
  }
  ~CommandEnv() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  CommandEnv(const CommandEnv&) = delete;
  CommandEnv& operator=(const CommandEnv&) = delete;

  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::string tmp() const { return file("tmp"); }

  // Points the commands at 127.0.0.1:port.
  void set_port(int port) { server_ = "127.0.0.1:" + std::to_string(port); }

  // Writes files/NAME with `content` and returns its path.
  std::string MakeFile(const std::string& name, const std::string& content) const {
    std::string path = file("files/" + name);
    EXPECT_TRUE(WriteFile(path, content));
    return path;
  }

  // The per-user destinations file.
  void WriteUserDests(const std::string& content) const { EXPECT_TRUE(WriteFile(file("home/.vorndests"), content)); }

  // `program` with `args` under this environment only (env -i), so the
  // caller's own settings and language never leak in.
  std::vector<std::string> Argv(const std::string& program, const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {"/usr/bin/env", "-i",
                                     "HOME=" + file("home"),
                                     "TMPDIR=" + tmp(),
                                     "VORN_SERVERROOT=" + file("conf"),
                                     "VORN_SERVER=" + server_,
                                     "LANG=C",
                                     "PATH=/usr/bin:/bin",
                                     program};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }

  RunResult Run(const std::string& program, const std::vector<std::string>& args,
                const std::string& input = "") const {
    return RunProgram(Argv(program, args), 60s, input);
  }
  RunResult Submit(const std::vector<std::string>& args, const std::string& input = "") const {
    return Run(SubmitPath(), args, input);
  }
  RunResult Enqueue(const std::vector<std::string>& args, const std::string& input = "") const {
    return Run(EnqueuePath(), args, input);
  }

 private:
  std::string path_;
  std::string server_;
};

}  // namespace commands
