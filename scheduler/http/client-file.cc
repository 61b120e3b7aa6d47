// What a request's fields and resource name: the file that serves it,
// whether the client's copy is current, the credentials it sent, and the CGI
// programs.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "scheduler/auth/certs.h"
#include "scheduler/auth/hosts.h"
#include "scheduler/http/client-private.h"
#include "scheduler/conf/conf.h"
#include "scheduler/log.h"
#include "scheduler/types/types.h"
#include "vorn/fd.h"
#include "vorn/strings.h"

namespace {

constexpr size_t kMaxCredentials = 255;  // decoded "user:password" of Basic

std::string_view skip_space(std::string_view s) {
  while (!s.empty() && vorn::isspace(s.front())) s.remove_prefix(1);
  return s;
}

struct cgi_prefix_t {
  std::string_view prefix;
  const char* program;
};
// Resources served by the built-in CGI programs, by prefix.
constexpr cgi_prefix_t kCgiPrefixes[] = {
    {"/admin", "/cgi-bin/admin.cgi"},
    {"/printers", "/cgi-bin/printers.cgi"},
    {"/classes", "/cgi-bin/classes.cgi"},
    {"/jobs", "/cgi-bin/jobs.cgi"},
};

// The files served lately: their detected type, and the bytes of small
// ones. Detection reads the file and runs every rule, and opening and
// reading a page costs more than sending it; a page fetched again and again
// has not changed in between, which the stat made for each request tells
// (identity, size and both times).
struct file_entry {
  dev_t dev;
  ino_t ino;
  off_t size;
  timespec mtime, ctime;
  const TypeRecord* type;
  std::shared_ptr<const std::string> bytes;  // null: not kept
};
constexpr size_t kMaxFileEntries = 512;
constexpr off_t kMaxKeptFile = 64 * 1024;       // larger files are read as they are sent
constexpr size_t kMaxKeptBytes = 4 * 1024 * 1024;
std::unordered_map<std::string, file_entry> FileCache;
size_t FileCacheBytes = 0;
const TypeDatabase* FileCacheDB = nullptr;  // the database the types come from

bool same_time(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

bool same_file(const file_entry& e, const struct stat& st) {
  return e.dev == st.st_dev && e.ino == st.st_ino && e.size == st.st_size && same_time(e.mtime, st.st_mtim) &&
         same_time(e.ctime, st.st_ctim);
}

void clear_file_cache() {
  FileCache.clear();
  FileCacheBytes = 0;
}

// The whole of a regular file still as `e` describes it, or null. Opened
// without waiting: what was checked may have been replaced by a FIFO.
std::shared_ptr<const std::string> read_whole(const std::string& filename, const file_entry& e) {
  vorn::unique_fd fd(::open(filename.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat now {};
  if (!fd || ::fstat(fd.get(), &now) != 0 || !S_ISREG(now.st_mode) || !same_file(e, now)) return nullptr;
  auto bytes = std::make_shared<std::string>(size_t(e.size), '\0');
  size_t got = 0;
  while (got < bytes->size()) {
    ssize_t n = vorn::read_retry(fd.get(), bytes->data() + got, bytes->size() - got);
    if (n <= 0) return nullptr;
    got += size_t(n);
  }
  // Changed while read: not a copy to keep.
  if (::fstat(fd.get(), &now) != 0 || !same_file(e, now)) return nullptr;
  return bytes;
}

}  // namespace

const TypeRecord* FileType(const std::string& filename, const struct stat& st) {
  if (!TypeDB) return nullptr;
  if (FileCacheDB != TypeDB.get()) {
    clear_file_cache();
    FileCacheDB = TypeDB.get();
  }
  auto it = FileCache.find(filename);
  if (it != FileCache.end() && same_file(it->second, st)) return it->second.type;
  const TypeRecord* type = DetectFileType(TypeDB.get(), filename.c_str(), nullptr);
  if (it != FileCache.end()) {
    FileCacheBytes -= it->second.bytes ? it->second.bytes->size() : 0;
    FileCache.erase(it);
  }
  if (FileCache.size() >= kMaxFileEntries) clear_file_cache();
  FileCache[filename] = file_entry{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim, type, nullptr};
  return type;
}

std::shared_ptr<const std::string> FileBytes(const std::string& filename, const struct stat& st) {
  auto it = FileCache.find(filename);
  if (it == FileCache.end() || !same_file(it->second, st)) return nullptr;
  file_entry& e = it->second;
  if (e.bytes) return e.bytes;
  if (st.st_size > kMaxKeptFile || FileCacheBytes + size_t(st.st_size) > kMaxKeptBytes) return nullptr;
  e.bytes = read_whole(filename, e);
  if (e.bytes) FileCacheBytes += e.bytes->size();
  return e.bytes;
}

void ForgetFileCache() {
  clear_file_cache();
  FileCacheDB = nullptr;
}

std::string get_file(client_t* con, struct stat& filestats) {
  const std::string& resource = con->resource;
  std::string filename;
  bool localized = false;
  if (resource.starts_with("/ppd/")) {
    filename = ServerRoot + resource;
  } else if (resource.starts_with("/admin/conf/")) {
    filename = ServerRoot + "/" + resource.substr(12);
  } else if (con->language) {
    filename = DocumentRoot + "/" + con->language->language + resource;
    localized = true;
  } else {
    filename = DocumentRoot + resource;
  }
  auto cut_query = [](std::string& name) {
    size_t q = name.find('?');
    if (q != std::string::npos) name.resize(q);
  };
  cut_query(filename);

  int status = ::stat(filename.c_str(), &filestats);
  if (status != 0 && localized) {
    filename = DocumentRoot + resource;
    cut_query(filename);
    status = ::stat(filename.c_str(), &filestats);
  }
  if (status == 0 && S_ISDIR(filestats.st_mode)) {
    if (!filename.ends_with("/")) filename += "/";
    filename += "index.html";
    status = ::stat(filename.c_str(), &filestats);
  }
  // Only regular files are served: not devices, pipes or sockets.
  if (status == 0 && !S_ISREG(filestats.st_mode)) status = -1;
  LogDiagnostic(L_DEBUG2, "get_file() %d filename=%s size=%d", con->http.fd, filename.c_str(),
                status ? -1 : int(filestats.st_size));
  return status ? std::string() : filename;
}

int check_if_modified(const client_t* con, const struct stat& filestats) {
  std::string_view value = con->http.fields[HTTP_FIELD_IF_MODIFIED_SINCE];
  if (value.empty()) return 1;
  LogDiagnostic(L_DEBUG2, "check_if_modified() %d If-Modified-Since=\"%s\"", con->http.fd,
                con->http.fields[HTTP_FIELD_IF_MODIFIED_SINCE]);

  long long size = 0;
  time_t date = 0;
  bool have_size = false, have_date = false;
  while (!value.empty()) {
    char c = value.front();
    if (vorn::isspace(c) || c == ';') {
      value.remove_prefix(1);
    } else if (vorn::istarts_with(value, "length=")) {
      value.remove_prefix(7);
      size_t n = 0;
      long long v = 0;
      while (n < value.size() && vorn::isdigit(value[n]) && n < 18) v = v * 10 + (value[n++] - '0');
      if (n > 0) {
        size = v;
        have_size = true;
      }
      value.remove_prefix(n);
    } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      size_t end = value.find(';');
      std::string text(value.substr(0, end));
      date = httpGetDateTime(text.c_str());
      have_date = date != 0;  // an unreadable date gives none
      value.remove_prefix(end == std::string_view::npos ? value.size() : end);
    } else {
      value.remove_prefix(1);
    }
  }
  LogDiagnostic(L_DEBUG2, "check_if_modified() %d sizes=%lld,%lld dates=%ld,%ld", con->http.fd, size,
                static_cast<long long>(filestats.st_size), long(date), long(filestats.st_mtime));
  bool current = (have_size || have_date) && (!have_size || size == filestats.st_size) &&
                 (!have_date || date >= filestats.st_mtime);
  return current ? 0 : 1;
}

void decode_auth(client_t* con) {
  http_t& http = con->http;
  std::string_view value = http.fields[HTTP_FIELD_AUTHORIZATION];
  LogDiagnostic(L_DEBUG2, "decode_auth(%p): Authorization string = \"%s\"", static_cast<void*>(con),
                http.fields[HTTP_FIELD_AUTHORIZATION]);
  if (value.starts_with("Basic")) {
    std::string encoded(skip_space(value.substr(5)));
    char decoded[kMaxCredentials + 1];
    int length = sizeof(decoded);
    if (!httpDecode64(decoded, &length, encoded.c_str())) decoded[0] = '\0';
    std::string_view text(decoded, std::strlen(decoded));
    size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
      LogDiagnostic(L_DEBUG, "decode_auth() %d no colon in auth string \"%s\"", http.fd, decoded);
      return;
    }
    con->username = vorn::cut(text.substr(0, colon), kMaxUsername);
    con->password = vorn::cut(text.substr(colon + 1), kMaxUsername);
  } else if (value.starts_with("Local")) {
    // A certificate proves its user only to a peer on this host, which can
    // read the certificate files; from elsewhere it names nobody.
    std::string certificate(vorn::trim(value.substr(5)));
    const char* user = IsLocalClient(con) ? LookupCert(certificate) : nullptr;
    if (user) con->username = vorn::cut(user, kMaxUsername);
  } else if (value.starts_with("Diges")) {
    char field[HTTP_MAX_VALUE];
    if (httpGetSubField(&http, HTTP_FIELD_AUTHORIZATION, "username", field, sizeof(field)))
      con->username = vorn::cut(field, kMaxUsername);
    if (httpGetSubField(&http, HTTP_FIELD_AUTHORIZATION, "response", field, sizeof(field)))
      con->password = vorn::cut(field, kMaxUsername);
  }
  LogDiagnostic(L_DEBUG2, "decode_auth() %d username=\"%s\"", http.fd, con->username.c_str());
}

bool cgi_for_resource(client_t* con) {
  const std::string& r = con->resource;
  if (r.starts_with("/admin/conf/")) return false;
  for (const cgi_prefix_t& p : kCgiPrefixes) {
    if (!r.starts_with(p.prefix)) continue;
    con->command = ServerBin + p.program;
    std::string_view rest = std::string_view(r).substr(p.prefix.size());
    if (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
    con->options = rest;
    return true;
  }
  return false;
}

int IsCGI(client_t* con, const char* filename, const struct stat& filestats, const char* super,
          const char* type) {
  LogDiagnostic(L_DEBUG2, "IsCGI(con=%p, filename=\"%s\", filestats=%p, type=%s/%s)\n", static_cast<void*>(con),
                filename, static_cast<const void*>(&filestats), super ? super : "(null)",
                type ? type : "unknown");
  if (!super || !type || !vorn::iequals(super, "application")) {
    LogDiagnostic(L_DEBUG2, "IsCGI: Returning 0...");
    return 0;
  }
  std::string_view query;
  size_t q = con->resource.find('?');
  if (q != std::string::npos) query = std::string_view(con->resource).substr(q + 1);
  std::string with_query = query.empty() ? std::string(filename) : std::string(filename) + " " + std::string(query);

  std::string_view t = type;
  if (vorn::iequals(t, "x-httpd-cgi")) {
    if (!(filestats.st_mode & 0111)) {
      LogDiagnostic(L_DEBUG2, "IsCGI: Returning 0...");
      return 0;
    }
    std::string_view base = filename;
    size_t slash = base.rfind('/');
    if (slash != std::string_view::npos) base.remove_prefix(slash + 1);
    con->command = filename;
    con->options = query.empty() ? std::string(base) : std::string(base) + " " + std::string(query);
  } else if (vorn::iequals(t, "x-httpd-java")) {
    con->command = "/usr/java/bin/java";
    con->options = "java " + with_query;
  } else if (vorn::iequals(t, "x-httpd-perl")) {
    con->command = "/usr/bin/perl";
    con->options = "perl " + with_query;
  } else if (vorn::iequals(t, "x-httpd-php")) {
    con->command.clear();  // no interpreter is configured: the run fails
    con->options = "php " + with_query;
  } else if (vorn::iequals(t, "x-httpd-python")) {
    con->command.clear();
    con->options = "python " + with_query;
  } else {
    LogDiagnostic(L_DEBUG2, "IsCGI: Returning 0...");
    return 0;
  }
  LogDiagnostic(L_DEBUG2, "IsCGI: Returning 1 with command=\"%s\" and options=\"%s\"", con->command.c_str(),
                con->options.c_str());
  return 1;
}
