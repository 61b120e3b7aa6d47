// The digest password file, ServerRoot/passwd.md5: "user:group:hash" lines.
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "scheduler/auth/auth.h"
#include "scheduler/buffile.h"
#include "scheduler/conf/conf.h"
#include "scheduler/log.h"

namespace {

constexpr size_t kLineSize = 256;  // lines of up to 255 characters
constexpr size_t kMaxName = 32;
constexpr size_t kMaxHash = 32;

bool valid_name(std::string_view s) { return !s.empty() && s.size() <= kMaxName; }

}  // namespace

bool GetMD5Passwd(const char* user, const char* group, std::string& hash, std::string* found_group) {
  LogDiagnostic(L_DEBUG2, "GetMD5Passwd(username=\"%s\", group=\"%s\", passwd=%p)", user ? user : "(null)",
                group ? group : "(null)", static_cast<void*>(&hash));
  if (!user) return false;
  std::string path = ServerRoot + "/passwd.md5";
  auto file = BufFileOpen(path.c_str(), "r");
  if (!file) {
    LogDiagnostic(L_ERROR, "Unable to open %s - %s", path.c_str(), std::strerror(errno));
    return false;
  }
  char line[kLineSize];
  while (BufFileGets(file.get(), line, sizeof(line))) {
    std::string_view s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.remove_suffix(1);
    size_t c1 = s.find(':');
    size_t c2 = c1 == std::string_view::npos ? c1 : s.find(':', c1 + 1);
    std::string_view u = s.substr(0, c1), g, h;
    if (c2 != std::string_view::npos) {
      g = s.substr(c1 + 1, c2 - c1 - 1);
      h = s.substr(c2 + 1);
    }
    if (c2 == std::string_view::npos || !valid_name(u) || !valid_name(g) || h.empty() || h.size() > kMaxHash ||
        h.find(':') != std::string_view::npos) {
      LogDiagnostic(L_ERROR, "Bad MD5 password line: %s", std::string(s).c_str());
      continue;
    }
    if (u != user || (group && g != group)) continue;
    std::string gs(g);
    LogDiagnostic(L_DEBUG2, "Found MD5 user %s, group %s...", user, gs.c_str());
    hash = h;
    if (found_group) *found_group = gs;
    return true;
  }
  return false;
}
