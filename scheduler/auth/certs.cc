#include "scheduler/auth/certs.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include "scheduler/conf/conf.h"
#include "scheduler/log.h"
#include "vorn/fd.h"
#include "vorn/strings.h"

std::vector<cert_t> Certs;
time_t RootCertTime = 0;

namespace {

constexpr size_t kMaxCertUser = 32;

std::string cert_path(pid_t pid) { return ServerRoot + "/certs/" + std::to_string(int(pid)); }

// 32 hexadecimal digits from the cryptographic generator: a certificate
// must not be guessable from the time or an earlier one.
bool make_certificate(std::string& text) {
  unsigned char bytes[kCertLength / 2];
  if (RAND_bytes(bytes, sizeof(bytes)) != 1) return false;
  static constexpr char kDigits[] = "0123456789ABCDEF";
  text.clear();
  for (unsigned char b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  std::memset(bytes, 0, sizeof(bytes));
  return true;
}

gid_t first_system_group() {
  if (!SystemGroups.empty())
    if (const group* g = ::getgrnam(SystemGroups[0].c_str())) return g->gr_gid;
  return 0;
}

}  // namespace

void InitCertificates() {
  std::string dir = ServerRoot + "/certs";
  if (::mkdir(dir.c_str(), 0711) == 0) {
    if (::chown(dir.c_str(), RunAsUser ? User : ::getuid(), Group) != 0) {
      // not root: the directory stays ours
    }
  }
  AddCert(0, "root");
}

bool AddCert(pid_t pid, const std::string& user) {
  LogDiagnostic(L_DEBUG2, "AddCert: adding certificate for pid %d", int(pid));
  cert_t cert;
  cert.pid = pid;
  cert.username = vorn::cut(user, kMaxCertUser);
  std::string path = cert_path(pid);
  if (!make_certificate(cert.certificate)) {
    LogDiagnostic(L_ERROR, "AddCert: Unable to create certificate file %s - %s", path.c_str(),
                  "no random bytes available");
    return false;
  }
  // Written beside and renamed into place: a client reading the file while
  // it is made or renewed finds a whole certificate, never an empty one.
  std::string temp = path + ".N";
  ::unlink(temp.c_str());
  vorn::unique_fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0400));
  if (!fd) {
    LogDiagnostic(L_ERROR, "AddCert: Unable to create certificate file %s - %s", path.c_str(), std::strerror(errno));
    return false;
  }
  // Failures of the owner change are ignored, as when not running as root;
  // the mode alone then keeps the file to its owner.
  if (pid == 0) {
    uid_t owner = RunAsUser ? User : ::getuid();
    if (::fchown(fd.get(), owner, first_system_group()) != 0) {
      // see above
    }
    ::fchmod(fd.get(), 0440);
    RootCertTime = ::time(nullptr);
  } else {
    if (::fchown(fd.get(), User, Group) != 0) {
      // see above
    }
    ::fchmod(fd.get(), 0400);
  }
  if (vorn::write_all(fd.get(), cert.certificate.data(), cert.certificate.size()) != 0 ||
      ::rename(temp.c_str(), path.c_str()) != 0) {
    LogDiagnostic(L_ERROR, "AddCert: Unable to create certificate file %s - %s", path.c_str(), std::strerror(errno));
    ::unlink(temp.c_str());
    return false;
  }
  // One entry per pid: a renewed certificate replaces the old one.
  std::erase_if(Certs, [pid](const cert_t& c) { return c.pid == pid; });
  Certs.insert(Certs.begin(), std::move(cert));
  return true;
}

void DeleteCert(pid_t pid) {
  for (auto it = Certs.begin(); it != Certs.end(); ++it) {
    if (it->pid != pid) continue;
    LogDiagnostic(L_DEBUG2, "DeleteCert: removing certificate for pid %d", int(pid));
    std::string path = cert_path(pid);
    Certs.erase(it);
    if (::unlink(path.c_str()) != 0) LogDiagnostic(L_ERROR, "DeleteCert: Unable to remove %s!\n", path.c_str());
    if (pid == 0) RootCertTime = 0;
    return;
  }
}

void DeleteAllCerts() {
  for (const cert_t& c : Certs) {
    std::string path = cert_path(c.pid);
    if (::unlink(path.c_str()) != 0) LogDiagnostic(L_ERROR, "DeleteAllCerts: Unable to remove %s!\n", path.c_str());
  }
  Certs.clear();
  RootCertTime = 0;
}

const char* LookupCert(const std::string& certificate) {
  if (certificate.size() != kCertLength) return nullptr;
  for (const cert_t& c : Certs)
    if (vorn::iequals(c.certificate, certificate)) return c.username.c_str();
  return nullptr;
}

void RenewRootCert(time_t now) {
  if (RootCertDuration <= 0 || !RootCertTime || now - RootCertTime < RootCertDuration) return;
  AddCert(0, "root");
}
