// Request bodies: the IPP message of a POST read incrementally, the rest
// spooled to a temporary request file, and what happens once the body is
// complete.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "scheduler/http/client-private.h"
#include "scheduler/conf/conf.h"
#include "scheduler/ipp/ipp.h"
#include "scheduler/log.h"
#include "scheduler/sync-queue.h"
#include "vorn/ipp-http.h"
#include "vorn/strings.h"

namespace {

constexpr int kBodyBlock = 32768;  // body bytes taken by one call

// Names the temporary request files; never reused while the scheduler runs.
unsigned RequestCounter = 0;

bool too_large(int64_t size) { return MaxRequestSize > 0 && size > MaxRequestSize; }

// The body is complete and the request file closed; a POST is answered.
int post_complete(client_t* con) {
  if (!con->command.empty()) {
    if (!SendCommand(con, con->command, con->options)) SendError(con, HTTP_NOT_FOUND);
    return end_of_call(con);
  }
  if (con->ipp_request) {
    if (!ProcessIPPRequest(con)) {
      CloseClient(con);
      return 0;
    }
    return 1;
  }
  return end_of_call(con);
}

// Closes the request file at the end of the body; false (and 413 sent) when
// it is larger than allowed.
bool close_request_file(client_t* con) {
  if (!con->file) return true;
  int fd = con->http.fd;
  LogDiagnostic(L_DEBUG2, "ReadClient() %d Closing data file %d, size = %d.", fd, con->file.get(),
                int(con->spooled));
  if (!too_large(con->spooled)) {
    // The reply may acknowledge a job: its document must be on disk first
    // (the reply waits for the queued sync).
    if (QueueDataSync(std::move(con->file), con->filename) != 0) {
      LogDiagnostic(L_ERROR, "ReadClient: Unable to write %s to disk: %s", con->filename.c_str(),
                    std::strerror(errno));
      con->file.reset();
      remove_request_file(con);
      con->ipp_request.reset();
      SendError(con, HTTP_SERVER_ERROR);
      return false;
    }
    con->file.reset();
    return true;
  }
  con->file.reset();
  LogDiagnostic(L_DEBUG2, "ReadClient() %d Removing temp file %s", fd, con->filename.c_str());
  remove_request_file(con);
  con->ipp_request.reset();
  SendError(con, HTTP_REQUEST_TOO_LARGE);
  return false;
}

}  // namespace

int RemoveStaleRequestFiles() {
  vorn::unique_dir dir(::opendir(RequestRoot.c_str()));
  if (!dir) return 0;
  int removed = 0;
  while (dirent* e = ::readdir(dir.get())) {
    std::string_view name = e->d_name;
    auto hex = [](char c) { return vorn::isdigit(c) || (c >= 'a' && c <= 'f'); };
    if (name.size() != 8 || !std::all_of(name.begin(), name.end(), hex)) continue;
    struct stat st;
    if (::fstatat(::dirfd(dir.get()), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    if (::unlinkat(::dirfd(dir.get()), e->d_name, 0) == 0) {
      LogDiagnostic(L_INFO, "Removed stale request file %s/%s.", RequestRoot.c_str(), e->d_name);
      removed++;
    }
  }
  return removed;
}

int create_request_file(client_t* con) {
  char name[1100];
  std::snprintf(name, sizeof(name), "%s/%08x", RequestRoot.c_str(), ++RequestCounter);
  // Never through a link someone put in the spool directory.
  int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0640);
  if (fd < 0) return 0;
  ::fchmod(fd, 0640);
  // The filters read documents through Group; they do not change them.
  if (::fchown(fd, ServerFileOwner(), Group) != 0) {
    // Not running as root: the file stays ours, which is all we need.
  }
  con->file.reset(fd);
  con->filename = name;
  con->spooled = 0;
  return 1;
}

void remove_request_file(client_t* con) {
  if (con->filename.empty()) return;
  ::unlink(con->filename.c_str());
  con->filename.clear();
}

int receive_body(client_t* con) {
  http_t& http = con->http;
  int fd = http.fd;
  const bool put = http.state == HTTP_PUT_RECV;
  LogDiagnostic(L_DEBUG2, "ReadClient() %d con->data_encoding = %s, con->data_remaining = %d, con->file = %d",
                fd, http.data_encoding == HTTP_ENCODE_CHUNKED ? "chunked" : "length",
                int(std::min<int64_t>(http.data_remaining, INT32_MAX)), con->file.get());

  if (!put && con->ipp_request && con->ipp_request->state != IPP_DATA) {
    ipp_state_t state = ippRead(&http, con->ipp_request.get());
    if (state == IPP_ERROR) {
      LogDiagnostic(L_ERROR, "ReadClient() %d IPP Read Error!", fd);
      return refuse(con, HTTP_BAD_REQUEST);
    }
    if (state != IPP_DATA) {  // the rest has not arrived yet
      con->input_stalled = true;
      return 1;
    }
    con->byte_count += int64_t(ippLength(con->ipp_request.get()));
  }

  // A PUT always makes its file; a POST only once bytes follow its IPP
  // message: most requests carry no document, and creating and removing a
  // file for each costs more than the rest of answering it.
  auto make_file = [&] {
    if (con->file || !con->filename.empty() || create_request_file(con)) return true;
    LogDiagnostic(L_ERROR, "Unable to create request file in %s - %s", RequestRoot.c_str(),
                  std::strerror(errno));
    return false;
  };
  if (put && !make_file()) return refuse(con, HTTP_REQUEST_TOO_LARGE);

  static char buffer[kBodyBlock];  // one thread; too large for the stack of every call
  int bytes = httpRead(&http, buffer, sizeof(buffer));
  if (bytes < 0) {
    CloseClient(con);
    return 0;
  }
  if (bytes > 0 && !make_file()) return refuse(con, HTTP_REQUEST_TOO_LARGE);
  if (bytes > 0) {
    LogDiagnostic(L_DEBUG2, "ReadClient() %d writing %d bytes to %d", fd, bytes, con->file.get());
    if (!con->file || vorn::write_all(con->file.get(), buffer, size_t(bytes)) != 0) {
      LogDiagnostic(L_ERROR, "ReadClient: Unable to write %d bytes to %s: %s", bytes, con->filename.c_str(),
                    std::strerror(con->file ? errno : EBADF));
      con->file.reset();
      remove_request_file(con);
      return refuse(con, HTTP_REQUEST_TOO_LARGE);
    }
    con->spooled += bytes;
    con->byte_count += bytes;
    // A body without a length is stopped at the limit, not only after it
    // has filled the disk.
    if (too_large(con->spooled)) {
      con->file.reset();
      remove_request_file(con);
      con->ipp_request.reset();
      return refuse(con, HTTP_REQUEST_TOO_LARGE);
    }
  } else if (http.state == HTTP_POST_RECV || http.state == HTTP_PUT_RECV) {
    if (http.error == EAGAIN) con->input_stalled = true;
    return 1;
  }

  if (http.state == HTTP_POST_SEND) {
    if (!close_request_file(con)) return end_of_call(con);
    return post_complete(con);
  }
  if (put && http.state == HTTP_WAITING) {
    if (!close_request_file(con)) return end_of_call(con);
    SendError(con, install_conf_file(con));
    return end_of_call(con);
  }
  return 1;
}
