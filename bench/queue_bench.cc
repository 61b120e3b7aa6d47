// Helper of bench/queue.sh: makes a large server root, starts vornd on it
// and times it, and times Get-Jobs listings.
//
//   queue_bench gen ROOT PORT PRINTERS JOBS
//       ROOT/vornd.conf, ROOT/printers.conf with PRINTERS stopped printers
//       (stopped, so that nothing starts printing while it is measured) and
//       ROOT/spool with JOBS pending jobs, one control file and one document
//       each, attributes as a submission leaves them.
//   queue_bench start PORT VORND ARGS...
//       starts VORND ARGS..., waits until 127.0.0.1:PORT accepts and prints
//       "pid PID" and "startup_ms MS"; the server is left running.
//   queue_bench get-jobs PORT REPS
//       REPS times Get-Jobs for every job (which-jobs all, no limit,
//       requested-attributes all), each on a new connection; prints the
//       jobs listed, the reply size and the median, lowest and highest
//       round-trip times (request sent to reply received whole).
//   queue_bench get-printers PORT REPS
//       the same for VORN-Get-Printers, every printer, every attribute.
//   queue_bench wait-empty PORT SECONDS
//       waits until Get-Jobs lists no job that is not finished.
//   queue_bench cpu PID
//       prints the CPU time PID has used, and its reaped children, in ms.
//   queue_bench memory PID
//       prints VmHWM and VmRSS of PID in kB.
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "vorn/fd.h"
#include "vorn/ipp.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

bool write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return bool(out);
}

std::string printer_name(int i) {
  char name[16];
  std::snprintf(name, sizeof(name), "lab%04d", i);
  return name;
}

int gen(const std::string& root, int port, int printers, int jobs) {
  for (const char* sub : {"", "/logs", "/spool", "/spool/tmp", "/doc", "/bin", "/data"})
    ::mkdir((root + sub).c_str(), 0755);
  std::string conf = "ServerRoot " + root + "\nRequestRoot " + root + "/spool\nTempDir " + root +
                     "/spool/tmp\nDocumentRoot " + root + "/doc\nServerBin " + root + "/bin\nDataDir " + root +
                     "/data\nErrorLog logs/error_log\nAccessLog logs/access_log\nPageLog logs/page_log\n"
                     "ServerName localhost\nLogLevel info\nMaxJobs 0\nPrintcap " +
                     root + "/printcap\nListen 127.0.0.1:" + std::to_string(port) +
                     "\n<Location />\nOrder deny,allow\n</Location>\n";
  // The files are ours: the scheduler must be able to read them as itself.
  if (const passwd* pw = ::getpwuid(::getuid())) conf += std::string("User ") + pw->pw_name + "\n";
  if (const group* gr = ::getgrgid(::getgid())) conf += std::string("Group ") + gr->gr_name + "\n";
  if (!write_file(root + "/vornd.conf", conf)) return 1;

  std::string pc = "# Printer configuration file for VORN v1.1\n";
  for (int i = 0; i < printers; i++) {
    pc += (i == 0 ? "<DefaultPrinter " : "<Printer ") + printer_name(i) + ">\n";
    pc += "Info Laser printer " + std::to_string(i) + "\nLocation Building " + std::to_string(i / 50) +
          ", room " + std::to_string(i % 50) + "\nDeviceURI socket://10.0." + std::to_string(i / 250) + "." +
          std::to_string(i % 250) + ":9100\nState Stopped\nStateMessage Paused for the benchmark\n"
          "Accepting Yes\nJobSheets none none\nQuotaPeriod 0\nPageLimit 0\nKLimit 0\n</Printer>\n";
  }
  if (!write_file(root + "/printers.conf", pc)) return 1;

  const std::string doc = "%!PS-Adobe-3.0\n%%Pages: 1\n%%EndComments\n/Times-Roman findfont 12 scalefont setfont\n"
                          "72 720 moveto (benchmark page) show showpage\n%%EOF\n";
  for (int id = 1; id <= jobs; id++) {
    ipp_ptr ipp(ippNew());
    ipp_t* a = ipp.get();
    ipp->op_status = 0x0002;
    ipp->request_id = id;
    const std::string owner = "user" + std::to_string(id % 97);
    ippAddString(a, IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", "", "utf-8");
    ippAddString(a, IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", "", "en-us");
    ippAddString(a, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "",
                 "ipp://localhost/printers/" + printer_name(id % printers));
    ippAddString(a, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", "", "application/postscript");
    ippAddString(a, IPP_TAG_JOB, IPP_TAG_NAME, "job-originating-user-name", "", owner);
    ippAddString(a, IPP_TAG_JOB, IPP_TAG_NAME, "job-originating-host-name", "", "ws" + std::to_string(id % 40));
    ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", id);
    ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_ENUM, "job-state", 3);
    ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-media-sheets-completed", 0);
    ippAddString(a, IPP_TAG_JOB, IPP_TAG_URI, "job-printer-uri", "",
                 "ipp://localhost:631/printers/" + printer_name(id % printers));
    ippAddString(a, IPP_TAG_JOB, IPP_TAG_NAME, "job-name", "", "Quarterly report " + std::to_string(id));
    ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-k-octets", 1);
    ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_INTEGER, "time-at-creation", 1700000000 + id);
    ippAddOutOfBand(a, IPP_TAG_JOB, IPP_TAG_NOVALUE, "time-at-processing");
    ippAddOutOfBand(a, IPP_TAG_JOB, IPP_TAG_NOVALUE, "time-at-completed");
    ippAddString(a, IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-hold-until", "", "no-hold");
    const char* sheets[] = {"none", "none"};
    ippAddStrings(a, IPP_TAG_JOB, IPP_TAG_NAME, "job-sheets", "", sheets);
    ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-priority", 1 + (id * 37) % 100);
    ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", 1 + id % 3);
    ippAddString(a, IPP_TAG_JOB, IPP_TAG_KEYWORD, "sides", "", "two-sided-long-edge");
    ippAddString(a, IPP_TAG_JOB, IPP_TAG_KEYWORD, "media", "", "iso_a4_210x297mm");

    char name[64];
    std::snprintf(name, sizeof(name), "/spool/c%05d", id);
    vorn::unique_fd fd(::open((root + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd || ippWriteFile(fd.get(), a) != IPP_DATA) {
      std::fprintf(stderr, "queue_bench: cannot write %s%s\n", root.c_str(), name);
      return 1;
    }
    std::snprintf(name, sizeof(name), "/spool/d%05d-001", id);
    if (!write_file(root + name, doc)) return 1;
  }
  return 0;
}

bool can_connect(int port) {
  vorn::unique_fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(uint16_t(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
}

int start(int port, char** argv) {
  const auto t0 = Clock::now();
  pid_t pid = ::fork();
  if (pid < 0) return 1;
  if (pid == 0) {
    int null_fd = ::open("/dev/null", O_RDWR);
    ::dup2(null_fd, 0);
    ::dup2(null_fd, 1);
    ::execv(argv[0], argv);
    ::_exit(127);
  }
  // Bounded: 60 s of 2 ms polls.
  for (int i = 0; i < 30000; i++) {
    if (can_connect(port)) {
      std::printf("pid %d\nstartup_ms %.1f\n", int(pid), ms_since(t0));
      return 0;
    }
    ::usleep(2000);
  }
  std::fprintf(stderr, "queue_bench: vornd did not answer on port %d within 60 s\n", port);
  return 1;
}

ssize_t append_to_string(void* ctx, uint8_t* buf, size_t len) {
  static_cast<std::string*>(ctx)->append(reinterpret_cast<const char*>(buf), len);
  return ssize_t(len);
}

// The names of the attributes of an encoded IPP message, walked by hand:
// the library's reader refuses messages of more than IPP_MAX_VALUES values,
// which a listing of 10,000 jobs with every attribute exceeds. -1 when the
// encoding is broken.
long count_named(const std::string& body, const std::string& wanted, int* status) {
  if (body.size() < 9) return -1;
  *status = (uint8_t(body[2]) << 8) | uint8_t(body[3]);
  long count = 0;
  size_t p = 8;
  while (p < body.size()) {
    uint8_t tag = uint8_t(body[p++]);
    if (tag == 0x03) return count;
    if (tag < 0x10) continue;
    if (p + 2 > body.size()) return -1;
    size_t nlen = (uint8_t(body[p]) << 8) | uint8_t(body[p + 1]);
    p += 2;
    if (p + nlen + 2 > body.size()) return -1;
    if (nlen == wanted.size() && body.compare(p, nlen, wanted) == 0) count++;
    p += nlen;
    size_t vlen = (uint8_t(body[p]) << 8) | uint8_t(body[p + 1]);
    p += 2 + vlen;
  }
  return -1;
}

// One HTTP exchange on a new connection into `in` (the whole answer), or
// false. `in` keeps its memory from one call to the next: a listing of
// several megabytes read into fresh memory each time would time the
// client's page faults rather than the scheduler.
bool exchange(int port, const std::string& request, std::string& in, size_t* body_at, size_t* body_length) {
  vorn::unique_fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(uint16_t(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (!fd || ::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) return false;
  if (vorn::write_all(fd.get(), request.data(), request.size()) != 0) return false;
  in.clear();
  char buf[65536];
  size_t head_end = std::string::npos, length = 0;
  for (;;) {
    ssize_t n = vorn::read_retry(fd.get(), buf, sizeof(buf));
    if (n <= 0) return false;
    in.append(buf, size_t(n));
    if (head_end == std::string::npos) {
      head_end = in.find("\r\n\r\n");
      if (head_end == std::string::npos) continue;
      size_t at = in.find("Content-Length: ");
      if (at == std::string::npos || at > head_end) return false;
      length = std::strtoul(in.c_str() + at + 16, nullptr, 10);
    }
    if (in.size() >= head_end + 4 + length) {
      *body_at = head_end + 4;
      *body_length = length;
      return true;
    }
  }
}

// One HTTP exchange on a new connection; the body of the answer, or "" on
// failure.
std::string post(int port, const std::string& request) {
  std::string in;
  size_t at = 0, length = 0;
  return exchange(port, request, in, &at, &length) ? in.substr(at, length) : std::string();
}

// Times REPS listings: Get-Jobs of every job, or VORN-Get-Printers, both
// with every attribute; `what` names the figures and `counted` the
// attribute that appears once per listed object.
int time_listing(int port, int reps, bool jobs) {
  const char* what = jobs ? "get_jobs" : "get_printers";
  const char* counted = jobs ? "job-uri" : "printer-name";
  ipp_ptr request(ippNew());
  request->op_status = uint16_t(jobs ? IPP_GET_JOBS : VORN_GET_PRINTERS);
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", "", "utf-8");
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", "", "en");
  if (jobs) {
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "", "ipp://localhost/jobs");
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", "", "all");
  }
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", "", "all");
  std::string body;
  if (ippWriteIO(&body, append_to_string, 1, nullptr, request.get()) != IPP_DATA) return 1;
  const std::string message = "POST / HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/ipp\r\n"
                              "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;

  std::vector<double> times;
  std::string in;
  size_t at = 0, length = 0;
  for (int r = 0; r < reps; r++) {
    const auto t0 = Clock::now();
    bool ok = exchange(port, message, in, &at, &length);
    times.push_back(ms_since(t0));
    if (!ok) {
      std::fprintf(stderr, "queue_bench: %s got no answer\n", what);
      return 1;
    }
  }
  const std::string reply = in.substr(at, length);
  int status = -1;
  long listed = count_named(reply, counted, &status);
  if (listed < 0 || status > 1) {
    std::fprintf(stderr, "queue_bench: %s answered status 0x%04x (%ld listed)\n", what, unsigned(status), listed);
    return 1;
  }
  std::vector<double> sorted = times;
  std::sort(sorted.begin(), sorted.end());
  std::printf("%s_listed %ld\n%s_bytes %zu\n%s_median_ms %.1f\n%s_min_ms %.1f\n%s_max_ms %.1f\n", what, listed,
              what, reply.size(), what, sorted[sorted.size() / 2], what, sorted.front(), what, sorted.back());
  return 0;
}

// Asks Get-Jobs (jobs not finished, job-id only) every 20 ms until it
// lists none; prints "wait_ms MS". Bounded by `seconds`.
int wait_empty(int port, int seconds) {
  ipp_ptr request(ippNew());
  request->op_status = IPP_GET_JOBS;
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", "", "utf-8");
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", "", "en");
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "", "ipp://localhost/jobs");
  ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", "", "job-id");
  std::string body;
  if (ippWriteIO(&body, append_to_string, 1, nullptr, request.get()) != IPP_DATA) return 1;
  const std::string message = "POST / HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/ipp\r\n"
                              "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  const auto t0 = Clock::now();
  for (int i = 0; i < seconds * 50; i++) {
    int status = -1;
    std::string reply = post(port, message);
    if (!reply.empty() && count_named(reply, "job-id", &status) == 0) {
      std::printf("wait_ms %.1f\n", ms_since(t0));
      return 0;
    }
    ::usleep(20000);
  }
  std::fprintf(stderr, "queue_bench: jobs still queued after %d s\n", seconds);
  return 1;
}

// CPU time (user and system) PID has used, in ms: beside wall-clock times
// on a busy machine, what the scheduler itself spent.
int cpu(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t end = stat.rfind(')');
  if (end == std::string::npos) return 1;
  // Fields after the command: state is the 3rd field, utime the 14th.
  std::vector<std::string> fields;
  size_t p = end + 2;
  while (p < stat.size()) {
    size_t q = stat.find(' ', p);
    if (q == std::string::npos) q = stat.size();
    fields.push_back(stat.substr(p, q - p));
    p = q + 1;
  }
  if (fields.size() < 15) return 1;
  const double ms = 1000.0 / double(::sysconf(_SC_CLK_TCK));
  double own = std::atof(fields[11].c_str()) + std::atof(fields[12].c_str());
  double children = std::atof(fields[13].c_str()) + std::atof(fields[14].c_str());
  std::printf("cpu_ms %.0f\nchildren_cpu_ms %.0f\n", own * ms, children * ms);
  return 0;
}

int memory(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0 || line.rfind("VmRSS:", 0) == 0) {
      long kb = std::atol(line.c_str() + 6);
      std::printf("%s_kb %ld\n", line.substr(0, 5).c_str(), kb);
    }
  }
  return in.eof() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "gen" && argc == 6) return gen(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
  if (cmd == "start" && argc >= 4) return start(std::atoi(argv[2]), argv + 3);
  if ((cmd == "get-jobs" || cmd == "get-printers") && argc == 4)
    return time_listing(std::atoi(argv[2]), std::max(1, std::atoi(argv[3])), cmd == "get-jobs");
  if (cmd == "memory" && argc == 3) return memory(std::atoi(argv[2]));
  if (cmd == "cpu" && argc == 3) return cpu(std::atoi(argv[2]));
  if (cmd == "wait-empty" && argc == 4) return wait_empty(std::atoi(argv[2]), std::atoi(argv[3]));
  std::fprintf(stderr,
               "usage: queue_bench gen ROOT PORT PRINTERS JOBS | start PORT VORND ARGS... | get-jobs PORT REPS |"
               " get-printers PORT REPS | wait-empty PORT SECONDS | cpu PID |"
               " memory PID\n");
  return 2;
}
