// pwtool: adds, changes and deletes entries of the digest password file
// (passwd.md5: "user:group:digest" lines, digest = MD5 of "user:VORN:password").
//
//   pwtool [-g groupname] [username]        change (the default)
//   pwtool [-g groupname] -a [username]     add
//   pwtool [-g groupname] -x [username]     delete
//
// Only the super-user adds, deletes or names another user; others change
// their own password after giving the old one. The file is replaced whole
// through libvorn's safe writer; while a run is at work its lock file
// passwd.new exists, and a second run stops with "Password file busy!".
#include <grp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "vorn/client.h"
#include "vorn/fd.h"
#include "vorn/file.h"
#include "vorn/http.h"
#include "vorn/paths.h"

namespace {

enum class mode_t_ { change, add, remove };

constexpr size_t kMaxPath = 1023;
constexpr size_t kMaxName = 32;   // as the scheduler reads them
constexpr size_t kMaxDigest = 32;
constexpr size_t kMaxLine = 255;

int usage(FILE* out) {
  if (::getuid() == 0)
    std::fputs("Usage: pwtool [-g groupname] [username]\n"
               "       pwtool [-g groupname] -a [username]\n"
               "       pwtool [-g groupname] -x [username]\n",
               out);
  else
    std::fputs("Usage: pwtool [-g groupname]\n", out);
  return 1;
}

std::string default_group() {
  for (const char* name : {"sys", "system", "root"})
    if (::getgrnam(name)) return name;
  return "unknown";
}

// "user:group:digest" with every field present and within its limit.
bool parse_entry(std::string_view line, std::string& user, std::string& group, std::string& digest) {
  size_t c1 = line.find(':');
  if (c1 == std::string_view::npos) return false;
  size_t c2 = line.find(':', c1 + 1);
  if (c2 == std::string_view::npos) return false;
  std::string_view u = line.substr(0, c1), g = line.substr(c1 + 1, c2 - c1 - 1), d = line.substr(c2 + 1);
  while (!d.empty() && (d.back() == '\n' || d.back() == '\r')) d.remove_suffix(1);
  if (u.empty() || u.size() > kMaxName || g.empty() || g.size() > kMaxName || d.empty() || d.size() > kMaxDigest ||
      d.find(':') != std::string_view::npos)
    return false;
  user = u;
  group = g;
  digest = d;
  return true;
}

// At least 6 characters, a letter and a digit, and not the user name.
bool acceptable(const std::string& password, const std::string& user) {
  bool letter = false, digit = false;
  for (char c : password) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) letter = true;
    if (c >= '0' && c <= '9') digit = true;
  }
  return password.size() >= 6 && letter && digit && password.find(user) == std::string::npos;
}

// The answer to a prompt, or false when there is none.
bool ask(const char* prompt, std::string& answer) {
  const char* p = vornGetPassword(prompt);
  if (!p) return false;
  answer = p;
  return true;
}

std::string digest_of(const std::string& user, const std::string& password) {
  char md5[33];
  httpMD5(user.c_str(), "VORN", password.c_str(), md5);
  return md5;
}

// Removes the lock file when the run ends, however it ends.
struct lock_file_t {
  std::string path;
  ~lock_file_t() {
    if (!path.empty()) ::unlink(path.c_str());
  }
};

}  // namespace

int main(int argc, char** argv) {
  bool root = ::getuid() == 0;
  std::string dir = VORN_DEFAULT_SERVERROOT;
  if (const char* env = std::getenv("VORN_SERVERROOT"); root && env && *env) dir = env;
  if (dir.size() + 11 > kMaxPath) {
    std::fputs("pwtool: Server root name is too long!\n", stderr);
    return 1;
  }
  std::string current = dir + "/passwd.md5", lock = dir + "/passwd.new";

  std::string group = default_group(), user;
  mode_t_ mode = mode_t_::change;
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (arg[0] == '-') {
      for (const char* opt = arg + 1; *opt; opt++) {
        switch (*opt) {
          case 'a':
            mode = mode_t_::add;
            break;
          case 'x':
            mode = mode_t_::remove;
            break;
          case 'g':
            if (++i >= argc) return usage(stderr);
            group = argv[i];
            break;
          case 'h':
            return usage(stdout);
          default:
            return usage(stderr);
        }
      }
    } else if (user.empty()) {
      user = arg;
    } else {
      return usage(stderr);
    }
  }

  if (!root && (mode != mode_t_::change || !user.empty())) {
    std::fputs("pwtool: Only root can add or delete passwords!\n", stderr);
    return 1;
  }
  if (user.empty()) user = vornUser();
  // A name the scheduler could not read back would make an entry nobody
  // can use, or one that reads as other fields.
  if (user.size() > kMaxName || user.find(':') != std::string::npos || group.empty() || group.size() > kMaxName ||
      group.find(':') != std::string::npos) {
    std::fputs("pwtool: User and group names must have 1 to 32 characters and no \":\"!\n", stderr);
    return 1;
  }

  std::string old_password, password, again;
  bool check_old = !root && mode == mode_t_::change;
  if (check_old && !ask("Enter old password:", old_password)) return 1;
  if (mode != mode_t_::remove) {
    if (!ask("Enter password:", password)) return 1;
    if (!ask("Enter password again:", again)) return 1;
    if (password != again) {
      std::fputs("pwtool: Sorry, passwords don't match!\n", stderr);
      return 1;
    }
    if (!acceptable(password, user)) {
      std::fputs("pwtool: Sorry, password rejected.\n"
                 "Your password must be at least 6 characters long, cannot contain\n"
                 "your username, and must contain at least one letter and number.\n",
                 stderr);
      return 1;
    }
  }

  // The digest needs the crypto library; without it there is no entry to
  // write, and an empty one would lock the user out.
  std::string digest;
  if (mode != mode_t_::remove) {
    digest = digest_of(user, password);
    if (digest.empty()) {
      std::fputs("pwtool: Unable to compute the password digest!\n", stderr);
      return 1;
    }
  }

  // Only one run rewrites the file at a time.
  vorn::unique_fd lock_fd(::open(lock.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0400));
  if (!lock_fd) {
    if (errno == EEXIST)
      std::fputs("pwtool: Password file busy!\n", stderr);
    else
      std::perror("pwtool: Unable to open passwd file");
    return 1;
  }
  lock_file_t unlock{lock};

  std::string content;
  struct stat old {};
  bool have_old = false;
  if (FILE* in = std::fopen(current.c_str(), "r")) {
    have_old = ::fstat(::fileno(in), &old) == 0;
    char line[kMaxLine + 2];
    std::string u, g, d, stored;
    bool found = false;
    while (std::fgets(line, sizeof(line), in)) {
      if (found) {
        content += line;  // everything after the entry stays as it was
        continue;
      }
      if (!parse_entry(line, u, g, d)) continue;
      if (u == user && g == group) {
        found = true;
        stored = d;
        continue;
      }
      content += line;
      if (content.back() != '\n') content += '\n';
    }
    std::fclose(in);
    if (mode == mode_t_::change && !found)
      std::fprintf(stderr, "pwtool: user \"%s\" and group \"%s\" do not exist.\n", user.c_str(), group.c_str());
    if (check_old && found && digest_of(user, old_password) != stored) {
      std::fputs("pwtool: Sorry, password doesn't match!\n", stderr);
      return 1;
    }
    if (mode == mode_t_::add || (mode == mode_t_::change && found))
      content += user + ":" + group + ":" + digest + "\n";
  } else if (errno != ENOENT && mode != mode_t_::add) {
    std::fputs("pwtool: No password file to change or delete from!\n", stderr);
    return 1;
  } else if (errno != ENOENT) {
    std::perror("pwtool: Unable to open passwd file");
    return 1;
  } else {
    if (mode == mode_t_::change)
      std::fprintf(stderr, "pwtool: user \"%s\" and group \"%s\" do not exist.\n", user.c_str(), group.c_str());
    if (mode == mode_t_::add) content = user + ":" + group + ":" + digest + "\n";
  }

  // Readable by its owner only: the digests let anyone who reads them log
  // in. The file keeps its owner; a new one is the caller's (root's).
  uid_t uid = have_old ? old.st_uid : uid_t(-1);
  gid_t gid = have_old ? old.st_gid : gid_t(-1);
  if (vornSafeFileWrite(current, content, 0600, uid, gid, VORN_SAFE_BACKUP) != 0) {
    std::perror("pwtool: failed to rename passwd file");
    return 1;
  }
  return 0;
}
