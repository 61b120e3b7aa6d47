// Configuration files uploaded with PUT /admin/conf/NAME: installed whole
// through the safe file writer (the old version kept as NAME.O), then the
// configuration is reloaded. A vornd.conf that would not read is refused
// before it replaces anything.
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "scheduler/buffile.h"
#include "scheduler/http/client-private.h"
#include "scheduler/conf/conf.h"
#include "scheduler/log.h"
#include "scheduler/loop.h"

namespace {

constexpr size_t kCopyBlock = 1024;

http_status_t install(client_t* con) {
  constexpr std::string_view prefix = "/admin/conf/";
  std::string target = ServerRoot + "/" + con->resource.substr(prefix.size());
  LogDiagnostic(L_INFO, "Installing config file \"%s\"...", target.c_str());

  const bool main_conf = con->resource == "/admin/conf/vornd.conf";
  if (main_conf && !CheckConfigurationFile(con->filename.c_str())) {
    LogDiagnostic(L_ERROR, "Refusing config file \"%s\" - it does not read; the old one stays.", target.c_str());
    return HTTP_BAD_REQUEST;
  }

  // The new version keeps the owner and mode of the one it replaces.
  // A new file belongs to the scheduler; the filters' user never owns or
  // writes one.
  mode_t mode = ConfigFileMode();
  uid_t uid = ServerFileOwner();
  gid_t gid = Group;
  struct stat old {};
  if (::stat(target.c_str(), &old) == 0) {
    mode = old.st_mode & 07755;
    gid = old.st_gid;
  }

  // A gzip-compressed upload is stored decompressed.
  auto in = BufFileOpen(con->filename.c_str(), "r");
  if (!in) {
    LogDiagnostic(L_ERROR, "Unable to open request file \"%s\" - %s", con->filename.c_str(), std::strerror(errno));
    return HTTP_SERVER_ERROR;
  }
  auto out = BufFileCreateSafe(target, mode, uid, gid);
  if (!out) {
    LogDiagnostic(L_ERROR, "Unable to open config file \"%s\" - %s", target.c_str(), std::strerror(errno));
    return HTTP_SERVER_ERROR;
  }

  char buffer[kCopyBlock];
  long bytes;
  while ((bytes = BufFileRead(in.get(), buffer, sizeof(buffer))) > 0) {
    if (BufFileWrite(out.get(), buffer, size_t(bytes)) != bytes) {
      LogDiagnostic(L_ERROR, "Unable to copy to config file \"%s\" - %s", target.c_str(), std::strerror(errno));
      return HTTP_SERVER_ERROR;  // the unfinished new file goes with `out`
    }
  }
  if (int e = BufFileError(in.get())) {
    // A damaged upload must not replace a good file with part of itself.
    LogDiagnostic(L_ERROR, "Unable to read request file \"%s\" - %s", con->filename.c_str(), std::strerror(e));
    return HTTP_SERVER_ERROR;
  }
  in.reset();
  remove_request_file(con);

  if (BufFileCommit(std::move(out)) != 0) {
    LogDiagnostic(L_ERROR, "Unable to rename new config file \"%s\" - %s", target.c_str(), std::strerror(errno));
    return HTTP_SERVER_ERROR;
  }

  // vornd.conf alone needs only its settings re-read; anything else (printers,
  // classes, types) a full reload. A pending full reload is never narrowed.
  if (main_conf) {
    if (ReloadPending != 1) ReloadPending = 2;
  } else {
    ReloadPending = 1;
  }
  return HTTP_CREATED;
}

}  // namespace

http_status_t install_conf_file(client_t* con) {
  http_status_t status = install(con);
  // Whatever came of it, the upload is of no more use.
  remove_request_file(con);
  return status;
}
