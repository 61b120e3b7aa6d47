// The saved-destination files: reading, writing and where they are.

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "dests-private.h"
#include "../request/request-private.h"
#include "vorn/dests.h"
#include "vorn/fd.h"
#include "vorn/file.h"
#include "vorn/paths.h"
#include "vorn/strings.h"

namespace vorn::dests {
namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

// A physical line that ends in an odd number of backslashes goes on in the
// next one.
bool continues(std::string_view physical) {
  size_t n = 0;
  while (n < physical.size() && physical[physical.size() - 1 - n] == '\\') n++;
  return n % 2 == 1;
}

// White space ends the keyword and the destination, and the carriage return
// of a line ended CR LF is white space too.
void parse_line(std::string_view raw, file_t& file) {
  std::string_view s = raw;
  size_t i = 0;
  while (i < s.size() && blank(s[i])) i++;
  size_t start = i;
  while (i < s.size() && !vorn::isspace(s[i])) i++;
  std::string_view keyword = s.substr(start, i - start);
  line_t line;
  line.is_default = vorn::iequals(keyword, "Default");
  if (line.is_default || vorn::iequals(keyword, "Dest")) {
    while (i < s.size() && blank(s[i])) i++;
    start = i;
    while (i < s.size() && !vorn::isspace(s[i])) i++;
    std::string_view dest = s.substr(start, i - start);
    size_t slash = dest.rfind('/');
    std::string_view name = dest.substr(0, slash);
    std::string_view instance = slash == std::string_view::npos ? std::string_view() : dest.substr(slash + 1);
    if (request::valid_dest_name(name) && (slash == std::string_view::npos || request::valid_dest_name(instance))) {
      line.name = name;
      line.instance = instance;
      vornParseOptions(s.substr(i), line.options);
      file.dests.push_back(std::move(line));
      return;
    }
  }
  file.other_lines.emplace_back(raw);
}

bool writable_name(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name)
    if (vorn::isspace(c) || c == '=') return false;
  return true;
}

void append_value(std::string& out, std::string_view value) {
  bool plain = true;
  for (char c : value) plain = plain && !vorn::isspace(c) && c != '\'' && c != '"' && c != '\\';
  if (plain) {
    out += value;
    return;
  }
  out += '\'';
  for (char c : value) {
    if (c == '\'' || c == '\\' || c == '\n') out += '\\';
    out += c;
  }
  out += '\'';
}

std::string home_directory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? size_t(size) : 16384);
  struct passwd pw, *result = nullptr;
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result && result->pw_dir)
    return result->pw_dir;
  return {};
}

}  // namespace

void parse_file(std::string_view text, file_t& file) {
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = pos;
    size_t end;
    for (;;) {
      size_t nl = text.find('\n', pos);
      end = nl == std::string_view::npos ? text.size() : nl;
      pos = nl == std::string_view::npos ? text.size() : nl + 1;
      if (nl == std::string_view::npos || !continues(text.substr(start, end - start))) break;
    }
    parse_line(text.substr(start, end - start), file);
  }
}

std::string format_options(const vorn_options_t& options) {
  std::string out;
  for (const auto& o : options) {
    if (!writable_name(o.name)) continue;
    out += ' ';
    out += o.name;
    out += '=';
    append_value(out, o.value);
  }
  return out;
}

int read_file(const std::string& path, file_t& file) {
  vorn::unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return errno == ENOENT || errno == ENOTDIR ? 0 : -1;
  struct stat st;
  if (::fstat(fd.get(), &st) < 0) return -1;
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return -1;
  }
  if (st.st_size > off_t(kMaxFileSize)) {
    errno = EFBIG;
    return -1;
  }
  std::string text(size_t(st.st_size) + 1, '\0');  // one more byte shows a file that grew
  size_t got = 0;
  for (;;) {
    if (got == text.size()) text.resize(std::min(text.size() * 2, kMaxFileSize + 1));
    if (got > kMaxFileSize) {
      errno = EFBIG;
      return -1;
    }
    ssize_t n = vorn::read_retry(fd.get(), text.data() + got, text.size() - got);
    if (n < 0) return -1;
    if (n == 0) break;
    got += size_t(n);
  }
  text.resize(got);
  parse_file(text, file);
  return 1;
}

std::string system_file() {
  const char* root = std::getenv("VORN_SERVERROOT");
  return std::string(root && *root ? root : VORN_DEFAULT_SERVERROOT) + "/dests.conf";
}

std::string user_file() {
  std::string home = home_directory();
  return home.empty() ? home : home + "/.vorndests";
}

}  // namespace vorn::dests

using namespace vorn::dests;

int vornSetDests(const vorn_dests_t& dests) {
  const std::string path = user_file();
  if (path.empty()) {
    errno = ENOENT;
    return -1;
  }
  // Lines the user had that are not destinations stay; an old file that
  // cannot be read is not replaced, so nothing in it is lost.
  file_t old;
  if (read_file(path, old) < 0) return -1;
  std::string text;
  for (const auto& line : old.other_lines) text.append(line).append("\n");

  bool default_written = false;
  for (const auto& d : dests) {
    if (!vorn::request::valid_dest_name(d.name) ||
        (!d.instance.empty() && !vorn::request::valid_dest_name(d.instance))) {
      continue;
    }
    bool as_default = d.is_default && !default_written;
    if (!as_default && d.instance.empty() && d.options.empty()) continue;
    default_written = default_written || as_default;
    text += as_default ? "Default " : "Dest ";
    text += d.name;
    if (!d.instance.empty()) text.append("/").append(d.instance);
    text += format_options(d.options);
    text += '\n';
  }

  struct stat st;
  unsigned mode = ::stat(path.c_str(), &st) == 0 ? unsigned(st.st_mode & 07777) : 0644u;
  // Two commands may save at once: each writes its own temporary file and
  // the last one to finish wins whole.
  return vornSafeFileWrite(path, text, mode_t(mode), uid_t(-1), gid_t(-1), VORN_SAFE_PRIVATE_TEMP);
}
