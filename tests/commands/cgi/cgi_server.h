// A running vornd for the CGI tests, and a CGI program run as the scheduler
// runs it: its own argument 0, the CGI environment, the request body on
// standard input.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"
#include "submit_server.h"

namespace cgitest {

using namespace e2e;

// Our own small model, listed by the driver catalogue.
inline const char* const kModel =
    "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*ModelName: \"Web Test Model\"\n"
    "*NickName: \"Web Test Model\"\n*Manufacturer: \"Vorn\"\n*LanguageLevel: \"2\"\n"
    "*OpenUI *PageSize: PickOne\n*DefaultPageSize: Letter\n"
    "*PageSize Letter: \"<</PageSize[612 792]>>setpagedevice\"\n*CloseUI: *PageSize\n";

// Two stopped printers (jobs stay queued), one with a hostile description,
// and a class.
inline const char* const kPrinters =
    "<DefaultPrinter lab>\nInfo <script>alert(1)</script>\nLocation Room \"5\" & more\n"
    "DeviceURI socket://127.0.0.1:9\nState Stopped\nStateMessage Paper jam\nAccepting Yes\n</Printer>\n"
    "<Printer office>\nInfo Office printer\nDeviceURI socket://127.0.0.1:9\nState Stopped\nAccepting No\n</Printer>\n";

struct CgiResult {
  int exit_status = -1;
  std::string out, err;
  // The output after the CGI header.
  std::string body() const {
    size_t end = out.find("\r\n\r\n");
    return end == std::string::npos ? "" : out.substr(end + 4);
  }
};

class CgiServer {
 public:
  void Start(const std::string& conf = "") {
    namespace fs = std::filesystem;
    fs::create_directories(s_.root_.file("bin/backend"));
    fs::create_symlink(SOCKET_BACKEND_PATH, s_.root_.file("bin/backend/socket"));
    fs::create_directories(s_.root_.file("bin/cgi-bin"));
    for (const char* p : {"printers.cgi", "classes.cgi", "jobs.cgi", "admin.cgi"})
      fs::create_symlink(std::string(CGI_BIN_DIR) + "/" + p, s_.root_.file(std::string("bin/cgi-bin/") + p));
    fs::create_directories(s_.root_.file("data/model"));
    ASSERT_TRUE(WriteFile(s_.root_.file("data/model/web-test.ppd"), kModel));
    ASSERT_TRUE(WriteFile(s_.root_.file("classes.conf"), "<Class team>\nInfo Team\nPrinter lab\nPrinter office\n</Class>\n"));
    s_.Start("PreserveJobHistory Yes\n" + conf, kPrinters);
  }

  // Runs `program` of the build with argument 0 `arg0` and the CGI
  // environment plus `env` (REQUEST_METHOD=GET unless given).
  CgiResult Run(const std::string& program, const std::string& arg0, std::map<std::string, std::string> env,
                const std::string& input = "") {
    env.emplace("REQUEST_METHOD", "GET");
    env.emplace("REMOTE_USER", "");
    env.emplace("SERVER_NAME", "localhost");
    env.emplace("IPP_PORT", std::to_string(s_.root_.port()));
    env.emplace("VORN_SERVERROOT", s_.root_.path());
    env.emplace("TMPDIR", s_.root_.file("spool/tmp"));
    env.emplace("LANG", "C");
    env.emplace("PATH", "/bin:/usr/bin");
    if (!input.empty()) env.emplace("CONTENT_LENGTH", std::to_string(input.size()));
    std::vector<std::string> entries;
    for (const auto& [k, v] : env) entries.push_back(k + "=" + v);
    const std::string path = std::string(CGI_BIN_DIR) + "/" + program;
    const std::string in_name = s_.root_.file("cgi-in"), out_name = s_.root_.file("cgi-out"),
                      err_name = s_.root_.file("cgi-err");
    WriteFile(in_name, input);
    WriteFile(out_name, "");
    WriteFile(err_name, "");
    pid_t pid = ::fork();
    if (pid == 0) {
      int in = ::open(in_name.c_str(), O_RDONLY), out = ::open(out_name.c_str(), O_WRONLY),
          err = ::open(err_name.c_str(), O_WRONLY);
      ::dup2(in, 0);
      ::dup2(out, 1);
      ::dup2(err, 2);
      std::vector<char*> argv = {const_cast<char*>(arg0.c_str()), nullptr};
      std::vector<char*> envp;
      for (std::string& e : entries) envp.push_back(e.data());
      envp.push_back(nullptr);
      ::execve(path.c_str(), argv.data(), envp.data());
      ::_exit(127);
    }
    CgiResult r;
    int status = 0;
    bool done = WaitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, kWait);
    if (!done) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
    } else if (WIFEXITED(status)) {
      r.exit_status = WEXITSTATUS(status);
    }
    r.out = ReadFile(out_name);
    r.err = ReadFile(err_name);
    // Every request, good or bad, ends in a page and a clean exit.
    EXPECT_EQ(r.exit_status, 0) << program << " " << arg0 << "\n" << r.err;
    EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << r.err;
    return r;
  }

  // The form token the pages hand to `user`, read from the admin page.
  std::string Token(const std::string& user) {
    const std::string page = Run("admin.cgi", "admin.cgi", {{"REMOTE_USER", user}}).out;
    const std::string field = "name=\"token\" value=\"";
    size_t at = page.find(field);
    return at == std::string::npos ? "" : page.substr(at + field.size(), 64);
  }

  // A POST as from a form of our pages: `user`'s token added.
  CgiResult Post(const std::string& program, const std::string& body, const std::string& user = "") {
    return PostRaw(program, body + "&token=" + Token(user), user, "application/x-www-form-urlencoded");
  }
  CgiResult PostRaw(const std::string& program, const std::string& body, const std::string& user,
                    const std::string& type) {
    return Run(program, program, {{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", type}, {"REMOTE_USER", user}}, body);
  }

  SubmitServer s_;
};

}  // namespace cgitest
