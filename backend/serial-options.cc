#include "backend/serial-options.h"

#include <climits>

#include "backend/backend-common.h"
#include "backend/uri-options.h"
#include "vorn/strings.h"

namespace vorn::backend {
namespace {

// The leading decimal number of `text` as atoi reads it, saturated instead
// of overflowing.
long long leading_number(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) i++;
  bool negative = i < text.size() && text[i] == '-';
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) i++;
  long long value = 0;
  for (; i < text.size() && isdigit(text[i]); i++) {
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX) value = INT_MAX;
  }
  return negative ? -value : value;
}

struct Rate {
  long long rate;
  speed_t speed;
};
constexpr Rate kRates[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},
                           {9600, B9600},   {19200, B19200}, {38400, B38400}};

void set_baud(const std::string& value, termios* t, SerialSettings* s,
              std::vector<std::string>* lines) {
  long long rate = leading_number(value);
  long long chunk = rate / 100;
  // A negative chunk read as unsigned is huge and ends up at the limit; a
  // rate below 100 would give 0 bytes per write and send nothing, so the
  // slowest ports get one byte at a time.
  if (chunk < 0 || chunk > (long long)kBlockSize) {
    s->chunk = kBlockSize;
  } else {
    s->chunk = chunk == 0 ? 1 : size_t(chunk);
  }
  for (const Rate& r : kRates) {
    if (r.rate == rate && std::to_string(rate) == value) {
      cfsetispeed(t, r.speed);
      cfsetospeed(t, r.speed);
      return;
    }
  }
  lines->push_back("WARNING: Unsupported baud rate " + value + "!\n");
}

}  // namespace

std::vector<std::string> apply_serial_options(std::string_view options, termios* t,
                                              SerialSettings* s) {
  std::vector<std::string> lines;
  for (const UriOption& o : split_uri_options(options)) {
    const std::string& v = o.value;
    if (iequals(o.name, "baud")) {
      set_baud(v, t, s, &lines);
    } else if (iequals(o.name, "bits")) {
      if (v == "7") {
        t->c_cflag = (t->c_cflag & ~tcflag_t(CSIZE | PARODD)) | CS7 | PARENB;
      } else if (v == "8") {
        t->c_cflag = (t->c_cflag & ~tcflag_t(CSIZE | PARENB)) | CS8;
      }
    } else if (iequals(o.name, "parity")) {
      if (iequals(v, "even")) {
        t->c_cflag = (t->c_cflag & ~tcflag_t(PARODD)) | PARENB;
      } else if (iequals(v, "odd")) {
        t->c_cflag |= PARENB | PARODD;
      } else if (iequals(v, "none")) {
        t->c_cflag &= ~tcflag_t(PARENB);
      }
    } else if (iequals(o.name, "flow")) {
      constexpr tcflag_t kSoft = IXON | IXOFF | IXANY;
      if (iequals(v, "none")) {
        t->c_iflag &= ~kSoft;
        t->c_cflag &= ~tcflag_t(CRTSCTS);
      } else if (iequals(v, "hard") || iequals(v, "rtscts")) {
        // Asking for hardware flow control has to switch it on, or a printer
        // that paces the host with CTS loses data.
        t->c_iflag &= ~kSoft;
        t->c_cflag |= CRTSCTS;
      } else if (iequals(v, "soft")) {
        t->c_iflag |= kSoft;
        t->c_cflag &= ~tcflag_t(CRTSCTS);
      } else if (iequals(v, "dtrdsr")) {
        t->c_iflag &= ~kSoft;
        t->c_cflag &= ~tcflag_t(CRTSCTS);
        s->dsr_wait = true;
      }
    }
  }
  return lines;
}

}  // namespace vorn::backend
