// A CGI program for the tests: answers with text/plain listing its
// arguments (argv[0] included, which a script cannot see), its environment,
// its standard input, its local certificate file as the scheduler made it
// (mode and content) and its identity and umask, one "name=value" line each.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

int main(int argc, char** argv, char** envp) {
  std::cout << "Content-Type: text/plain\r\nX-Echo: yes\n\n";
  std::cout << "argc=" << argc << "\n";
  for (int i = 0; i < argc; i++) std::cout << "argv[" << i << "]=" << argv[i] << "\n";
  for (int i = 0; envp[i]; i++) std::cout << "envp[" << i << "]=" << envp[i] << "\n";
  std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  std::cout << "stdin=" << input << "\n";

  // The scheduler writes the certificate right after the start: wait a
  // little for it.
  const char* root = std::getenv("VORN_SERVERROOT");
  std::string path = std::string(root ? root : "") + "/certs/" + std::to_string(::getpid());
  struct stat st {};
  for (int i = 0; i < 200 && (::stat(path.c_str(), &st) != 0 || st.st_size < 32); i++)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::ifstream cert(path);
  std::stringstream text;
  text << cert.rdbuf();
  std::cout << "cert-mode=" << std::oct << (st.st_mode & 07777) << std::dec << "\n";
  std::cout << "cert-uid=" << st.st_uid << "\n";
  std::cout << "cert=" << text.str() << "\n";
  std::cout << "pid=" << ::getpid() << "\n";
  // Who the program runs as.
  std::cout << "uid=" << ::getuid() << "\neuid=" << ::geteuid() << "\ngid=" << ::getgid() << "\negid=" << ::getegid()
            << "\n";
  gid_t groups[64];
  int count = ::getgroups(64, groups);
  std::cout << "groups=";
  for (int i = 0; i < count; i++) std::cout << (i ? "," : "") << groups[i];
  std::cout << "\n";
  mode_t mask = ::umask(0);
  std::cout << "umask=" << std::oct << mask << std::dec << "\n";
  return 0;
}
