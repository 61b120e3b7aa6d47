// Running a command on a pseudo-terminal of its own, as a user at a
// terminal does: the commands read passwords from the terminal.
#pragma once

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace commands {

struct PtyRun {
  int status = -1;     // exit status; -1 when killed or ended by a signal
  std::string output;  // standard output and error, as the terminal shows them
};

// Runs argv[0] with `argv` on a new terminal, answering each `prompt` that
// appears with the next of `answers`. `in_child`, when given, runs in the
// child before the program starts (a false result ends it with status 99).
// Bounded by 30 seconds.
inline PtyRun RunOnPty(const std::vector<std::string>& argv, const std::vector<std::string>& answers,
                       const std::string& prompt = "Enter ", const std::function<bool()>& in_child = nullptr) {
  PtyRun run;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int master = -1;
  pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) return run;
  if (pid == 0) {
    if (in_child && !in_child()) ::_exit(99);
    ::execv(args[0], args.data());
    ::_exit(98);
  }
  size_t next = 0, prompts_seen = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    char buf[512];
    ssize_t n = ::read(master, buf, sizeof(buf));
    if (n <= 0) break;  // the terminal closed: the program ended
    run.output.append(buf, size_t(n));
    size_t count = 0;
    for (size_t at = run.output.find(prompt); at != std::string::npos; at = run.output.find(prompt, at + 1)) count++;
    for (; prompts_seen < count; prompts_seen++) {
      if (next >= answers.size()) continue;
      std::string line = answers[next++] + "\n";
      if (::write(master, line.data(), line.size()) < 0) break;
    }
  }
  // The terminal closes just before the process ends: a moment to finish.
  int status = 0;
  pid_t done = 0;
  for (int i = 0; i < 100 && (done = ::waitpid(pid, &status, WNOHANG)) == 0; i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (done == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  ::close(master);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace commands
