// Replacing a file whole: temporary file, sync, optional ".O" backup,
// rename, directory sync.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "vorn/file.h"

void (*vornSafeFileStepHook)(vorn_safe_step_t step) = nullptr;

namespace {

void step_done(vorn_safe_step_t step) {
  if (vornSafeFileStepHook) vornSafeFileStepHook(step);
}

std::string directory_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

int sync_directory(const std::string& dir) {
  vorn::unique_fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return -1;
  return ::fsync(fd.get());
}

// Removes `path` without disturbing errno.
void discard(const std::string& path) {
  int e = errno;
  ::unlink(path.c_str());
  errno = e;
}

// Copies `from` into the new file `to` and syncs it: the fallback for file
// systems without hard links.
int copy_file(const std::string& from, const std::string& to, mode_t perm) {
  vorn::unique_fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) return -1;
  vorn::unique_fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, perm));
  if (!out) return -1;
  char buf[8192];
  for (;;) {
    ssize_t n = vorn::read_retry(in.get(), buf, sizeof(buf));
    if (n < 0) return -1;
    if (n == 0) break;
    if (vorn::write_all(out.get(), buf, size_t(n)) != 0) return -1;
  }
  return ::fsync(out.get());
}

// Makes "NAME.O" a second name of the current NAME (or a copy of it). The
// link is made under a scratch name first and renamed, so an existing ".O"
// is replaced in one step.
int keep_previous(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? 0 : -1;
  std::string backup = path + ".O";
  std::string scratch = backup + ".N";
  ::unlink(scratch.c_str());
  if (::link(path.c_str(), scratch.c_str()) != 0) {
    if (copy_file(path, scratch, st.st_mode & 07777) != 0) {
      discard(scratch);
      return -1;
    }
  }
  if (::rename(scratch.c_str(), backup.c_str()) != 0) {
    discard(scratch);
    return -1;
  }
  return 0;
}

int commit_steps(vorn_safe_file_t* sf) {
  if (::fsync(sf->fd.get()) != 0) return -1;
  if (::close(sf->fd.release()) != 0) return -1;
  step_done(vorn_safe_step_t::synced);

  if ((sf->flags & VORN_SAFE_BACKUP) && keep_previous(sf->path) != 0) return -1;
  step_done(vorn_safe_step_t::backed_up);

  if (::rename(sf->temp.c_str(), sf->path.c_str()) != 0) return -1;
  sf->temp.clear();
  step_done(vorn_safe_step_t::renamed);

  if (sf->flags & VORN_SAFE_NO_DIR_SYNC) return 0;
  if (sync_directory(directory_of(sf->path)) != 0) return -1;
  step_done(vorn_safe_step_t::dir_synced);
  return 0;
}

}  // namespace

vorn_safe_file_t::~vorn_safe_file_t() {
  if (!temp.empty()) {
    fd.reset();
    discard(temp);
  }
}

std::unique_ptr<vorn_safe_file_t> vornSafeFileCreate(const std::string& path, mode_t perm, uid_t uid,
                                                     gid_t gid, int flags) {
  if (path.empty()) {
    errno = EINVAL;
    return nullptr;
  }
  auto sf = std::make_unique<vorn_safe_file_t>();
  sf->path = path;
  sf->flags = flags;
  perm &= 07777;
  if (flags & VORN_SAFE_PRIVATE_TEMP) {
    std::string temp = path + ".N.XXXXXX";
    sf->fd = vorn::unique_fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!sf->fd) return nullptr;
    sf->temp = temp;
  } else {
    std::string temp = path + ".N";
    // A ".N" left by a crash is stale; O_EXCL and O_NOFOLLOW make sure the
    // new content never goes through a link planted in its place.
    ::unlink(temp.c_str());
    sf->fd = vorn::unique_fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, perm));
    if (!sf->fd) return nullptr;
    sf->temp = temp;
  }
  if (::fchmod(sf->fd.get(), perm) != 0) return nullptr;
  if (uid != uid_t(-1) || gid != gid_t(-1)) {
    if (::fchown(sf->fd.get(), uid, gid) != 0) {
      // Not running as root: the file keeps our own owner.
    }
  }
  return sf;
}

int vornSafeFileCommit(std::unique_ptr<vorn_safe_file_t> sf) {
  if (!sf || !sf->fd) {
    errno = EINVAL;
    return -1;
  }
  int result = commit_steps(sf.get());
  int e = errno;
  sf.reset();  // removes the temporary file when the commit failed
  errno = e;
  return result;
}

int vornSyncDirectoryOf(const std::string& path) { return sync_directory(directory_of(path)); }

int vornSafeFileWrite(const std::string& path, std::string_view content, mode_t perm, uid_t uid, gid_t gid,
                      int flags) {
  auto sf = vornSafeFileCreate(path, perm, uid, gid, flags);
  if (!sf) return -1;
  if (vorn::write_all(sf->fd.get(), content.data(), content.size()) != 0) return -1;
  return vornSafeFileCommit(std::move(sf));
}
