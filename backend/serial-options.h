// The options of a serial device URI (serial:/dev/tty00?baud=9600+bits=8)
// and what they do to the port's terminal settings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <termios.h>
#include <vector>

namespace vorn::backend {

// Chunk size before any option: about a tenth of a second at 9600 baud.
inline constexpr size_t kSerialDefaultChunk = 96;

struct SerialSettings {
  size_t chunk = kSerialDefaultChunk;  // bytes per write, 1 to 8192
  bool dsr_wait = false;               // wait for DSR high before each copy
};

// Applies the option list `options` (the URI text after "?") to the working
// terminal settings `*t` and to `*s`, in order of appearance; names and
// values are compared without regard to case and unknown ones are ignored.
//   baud=N   chunk N / 100 (1 for rates below 100, 8192 at most); the rates
//            1200 to 38400 set both speeds, others leave the speed and add
//            "WARNING: Unsupported baud rate %s!\n" to the result
//   bits=7   7 data bits, even parity;  bits=8  8 data bits, no parity
//   parity=even|odd|none
//   flow=none|soft|hard|rtscts|dtrdsr  software flow control on only for
//            soft; hardware RTS/CTS on only for hard and rtscts; dtrdsr
//            turns DSR waiting on
// Returns the status lines to write (each with its newline).
std::vector<std::string> apply_serial_options(std::string_view options, termios* t,
                                              SerialSettings* s);

}  // namespace vorn::backend
