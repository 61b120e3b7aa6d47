// Password prompts: a callback when one is set, else the controlling terminal
// with echo off.
#include <fcntl.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

#include "vorn/client.h"
#include "vorn/fd.h"

namespace {

constexpr size_t kMaxPassword = 255;

std::mutex password_mutex;
vorn_password_cb_t password_cb = nullptr;
char password[kMaxPassword + 1];

const char* tty_password(const char* prompt) {
  vorn::unique_fd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!tty) return nullptr;
  struct termios saved;
  if (tcgetattr(tty.get(), &saved) < 0) return nullptr;

  // Echo goes off before the prompt appears, so nothing typed after it shows.
  struct termios quiet = saved;
  quiet.c_lflag &= ~tcflag_t(ECHO | ECHOE | ECHOK | ECHONL);
  quiet.c_lflag |= ICANON;
  if (tcsetattr(tty.get(), TCSAFLUSH, &quiet) < 0) return nullptr;
  if (prompt) vorn::write_all(tty.get(), prompt, std::strlen(prompt));

  size_t len = 0;
  bool got_any = false, ended = false;
  char c;
  for (;;) {
    ssize_t n = vorn::read_retry(tty.get(), &c, 1);
    if (n <= 0) break;
    got_any = true;
    if (c == '\n' || c == '\r') {
      ended = true;
      break;
    }
    if (len < kMaxPassword) password[len++] = c;  // the rest of a long line is dropped
  }
  password[len] = '\0';

  tcsetattr(tty.get(), TCSAFLUSH, &saved);
  vorn::write_all(tty.get(), "\n", 1);
  if (!got_any || (!ended && len == 0)) return nullptr;
  return password;
}

}  // namespace

const char* vornGetPassword(const char* prompt) {
  vorn_password_cb_t cb;
  {
    std::lock_guard<std::mutex> lock(password_mutex);
    cb = password_cb;
  }
  if (cb) return cb(prompt);

  std::lock_guard<std::mutex> lock(password_mutex);
  explicit_bzero(password, sizeof(password));  // no old password left behind
  return tty_password(prompt);
}

void vornSetPasswordCB(vorn_password_cb_t cb) {
  std::lock_guard<std::mutex> lock(password_mutex);
  password_cb = cb;
}
