// The pure pieces of the backends: URI option lists, serial settings, the
// device path of a URI, back-channel dumps and the USB driver's answers.
#include <gtest/gtest.h>

#include <string>
#include <termios.h>

#include "backend/backchannel.h"
#include "backend/backend-common.h"
#include "backend/serial-options.h"
#include "backend/uri-options.h"
#include "backend/usb-info.h"

using namespace vorn::backend;

TEST(UriOptions, SplitsItems) {
  static const struct {
    const char* list;
    std::vector<std::pair<std::string, std::string>> items;
  } cases[] = {
      {"", {}},
      {"baud=9600", {{"baud", "9600"}}},
      {"baud=9600+bits=8", {{"baud", "9600"}, {"bits", "8"}}},
      {"flag", {{"flag", ""}}},
      {"a=1++b=", {{"a", "1"}, {"b", ""}}},
      {"a=x=y", {{"a", "x=y"}}},
      {"=v", {{"", "v"}}},
  };
  for (const auto& c : cases) {
    auto got = split_uri_options(c.list);
    ASSERT_EQ(got.size(), c.items.size()) << c.list;
    for (size_t i = 0; i < got.size(); i++) {
      EXPECT_EQ(got[i].name, c.items[i].first) << c.list;
      EXPECT_EQ(got[i].value, c.items[i].second) << c.list;
    }
  }
}

TEST(UriOptions, LongTextsAreCutWithoutTouchingTheNextItem) {
  std::string list = std::string(300, 'n') + "=" + std::string(400, 'v') + "+bits=7";
  auto got = split_uri_options(list);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].name, std::string(kMaxOptionText, 'n'));
  EXPECT_EQ(got[0].value, std::string(kMaxOptionText, 'v'));
  EXPECT_EQ(got[1].name, "bits");
  EXPECT_EQ(got[1].value, "7");
}

namespace {

// A port as a plain 8N1 port at 38400 baud with software flow control on, so
// every option visibly changes something.
termios StartSettings() {
  termios t{};
  t.c_cflag = CS8 | CREAD | CLOCAL;
  t.c_iflag = IXON | IXOFF | IXANY;
  cfsetispeed(&t, B38400);
  cfsetospeed(&t, B38400);
  return t;
}

}  // namespace

TEST(SerialOptions, ApplyToTheTerminalSettings) {
  enum Parity { kNone, kEven, kOdd };
  static const struct {
    const char* options;
    speed_t speed;
    tcflag_t size;
    Parity parity;
    bool soft_flow;
    bool rtscts;
    size_t chunk;
    bool dsr;
    std::vector<std::string> lines;
  } cases[] = {
      {"", B38400, CS8, kNone, true, false, 96, false, {}},
      {"baud=9600+bits=7+parity=odd", B9600, CS7, kOdd, true, false, 96, false, {}},
      {"bits=7", B38400, CS7, kEven, true, false, 96, false, {}},
      {"parity=odd+bits=7", B38400, CS7, kEven, true, false, 96, false, {}},
      {"bits=7+bits=8", B38400, CS8, kNone, true, false, 96, false, {}},
      {"BAUD=1200+Parity=EVEN", B1200, CS8, kEven, true, false, 12, false, {}},
      {"baud=19200+flow=none", B19200, CS8, kNone, false, false, 192, false, {}},
      {"flow=hard", B38400, CS8, kNone, false, true, 96, false, {}},
      {"flow=rtscts+flow=soft", B38400, CS8, kNone, true, false, 96, false, {}},
      {"flow=dtrdsr", B38400, CS8, kNone, false, false, 96, true, {}},
      {"baud=57600", B38400, CS8, kNone, true, false, 576, false,
       {"WARNING: Unsupported baud rate 57600!\n"}},
      {"baud=115200", B38400, CS8, kNone, true, false, 1152, false,
       {"WARNING: Unsupported baud rate 115200!\n"}},
      // Rates that would give 0-byte or over-long chunks.
      {"baud=50", B38400, CS8, kNone, true, false, 1, false, {"WARNING: Unsupported baud rate 50!\n"}},
      {"baud=", B38400, CS8, kNone, true, false, 1, false, {"WARNING: Unsupported baud rate !\n"}},
      {"baud=9999999999999", B38400, CS8, kNone, true, false, 8192, false,
       {"WARNING: Unsupported baud rate 9999999999999!\n"}},
      {"baud=-9600", B38400, CS8, kNone, true, false, 8192, false,
       {"WARNING: Unsupported baud rate -9600!\n"}},
      {"baud=9600x", B38400, CS8, kNone, true, false, 96, false,
       {"WARNING: Unsupported baud rate 9600x!\n"}},
      // Unknown names and values change nothing.
      {"speed=9600+bits=9+parity=mark+flow=xon", B38400, CS8, kNone, true, false, 96, false, {}},
  };
  for (const auto& c : cases) {
    termios t = StartSettings();
    SerialSettings s;
    auto lines = apply_serial_options(c.options, &t, &s);
    SCOPED_TRACE(c.options);
    EXPECT_EQ(cfgetospeed(&t), c.speed);
    EXPECT_EQ(cfgetispeed(&t), c.speed);
    EXPECT_EQ(t.c_cflag & CSIZE, c.size);
    EXPECT_EQ((t.c_cflag & PARENB) != 0, c.parity != kNone);
    if (c.parity != kNone) {
      EXPECT_EQ((t.c_cflag & PARODD) != 0, c.parity == kOdd);
    }
    EXPECT_EQ((t.c_iflag & (IXON | IXOFF | IXANY)) == (IXON | IXOFF | IXANY), c.soft_flow);
    EXPECT_EQ((t.c_iflag & (IXON | IXOFF | IXANY)) == 0, !c.soft_flow);
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.rtscts);
    EXPECT_EQ(s.chunk, c.chunk);
    EXPECT_EQ(s.dsr_wait, c.dsr);
    EXPECT_EQ(lines, c.lines);
  }
}

TEST(DevicePath, IsTheResourceCutAtTheQuestionMark) {
  static const struct {
    const char* uri;
    const char* path;
    const char* options;
  } cases[] = {
      {"parallel:/dev/lp0", "/dev/lp0", ""},
      {"serial:/dev/tty00?baud=9600+bits=8", "/dev/tty00", "baud=9600+bits=8"},
      {"serial:/dev/tty01?", "/dev/tty01", ""},
      {"scsi:/dev/sg0?a?b", "/dev/sg0", "a?b"},
  };
  for (const auto& c : cases) {
    std::string options = "unset";
    EXPECT_EQ(device_path(c.uri, &options), c.path) << c.uri;
    EXPECT_EQ(options, c.options) << c.uri;
  }
}

TEST(Backchannel, DumpsPrintableBytesAndHexForTheRest) {
  static const struct {
    std::string data;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {}},
      {"OK\r\n", {"DEBUG: DATA: OK<0D><0A>\n"}},
      {std::string("\x00\x7f\x80\xff ~", 6), {"DEBUG: DATA: <00><7F><80><FF> ~\n"}},
      // 73 characters end a line; the rest starts the next.
      {std::string(73, 'a') + "b", {"DEBUG: DATA: " + std::string(73, 'a') + "\n", "DEBUG: DATA: b\n"}},
      {std::string(72, 'a'), {"DEBUG: DATA: " + std::string(72, 'a') + "\n"}},
      // A hex byte that takes the line past 72 ends it at once.
      {std::string(70, 'a') + "\x01" + "z",
       {"DEBUG: DATA: " + std::string(70, 'a') + "<01>\n", "DEBUG: DATA: z\n"}},
  };
  for (const auto& c : cases) EXPECT_EQ(backchannel_lines(c.data), c.lines) << c.data;
}

TEST(UsbInfo, StatusWarnings) {
  static const struct {
    int status;
    const char* warning;
  } cases[] = {
      {0x18, nullptr},
      {0x38, "WARNING: Media tray empty!\n"},
      {0x20, "WARNING: Media tray empty!\n"},
      {0x10, "WARNING: Printer fault!\n"},
      {0x00, "WARNING: Printer fault!\n"},
      {0x08, "WARNING: Printer off-line.\n"},
      {0x118, nullptr},
  };
  for (const auto& c : cases) {
    const char* w = usb_status_warning(c.status);
    EXPECT_STREQ(w, c.warning) << std::hex << c.status;
  }
}

namespace {

std::string Answer(std::string_view id, int extra_length = 0) {
  size_t len = id.size() + 2 + size_t(extra_length);
  std::string a;
  a += char((len >> 8) & 0xff);
  a += char(len & 0xff);
  a += id;
  return a;
}

}  // namespace

TEST(UsbInfo, DeviceIdGivesMakeAndModel) {
  static const struct {
    std::string answer;
    bool known;
    const char* make_model;
  } cases[] = {
      {Answer("MFG:Acme;MDL:LaserJet 9;CMD:PCL;"), true, "Acme LaserJet 9"},
      {Answer("MANUFACTURER:Acme;MODEL:Inkwell 2"), true, "Acme Inkwell 2"},
      {Answer("MFG:Hewlett-Packard Company;MDL:DeskJet 5;"), true, "HP DeskJet 5"},
      {Answer("MFG:hewlett-packard x;MDL:P;"), true, "HP P"},
      {Answer("MFG:Hewlett-Packard;MDL:P;"), true, "Hewlett-Packard P"},
      {Answer("MFG:Ac\"me;MDL:A\tB;"), true, "Ac me A B"},
      {Answer(""), false, "Unknown"},
      {Answer("CMD:PCL;CLS:PRINTER;"), true, "Unknown"},
      {Answer("   "), false, "Unknown"},
      {std::string("\x00", 1), false, "Unknown"},
      {"", false, "Unknown"},
      // A length beyond the answer is trusted only as far as the bytes go.
      {Answer("MFG:Acme;MDL:X;", 5000), true, "Acme X"},
  };
  for (const auto& c : cases) {
    UsbDeviceInfo info;
    EXPECT_EQ(parse_device_id(c.answer, &info), c.known) << c.make_model;
    EXPECT_EQ(usb_make_model(info), c.make_model);
  }
}

TEST(UsbInfo, FieldsAreCutTo63Characters) {
  UsbDeviceInfo info;
  ASSERT_TRUE(parse_device_id(Answer("MFG:" + std::string(100, 'm') + ";MDL:" + std::string(100, 'p') + ";"), &info));
  EXPECT_EQ(info.manufacturer, std::string(63, 'm'));
  EXPECT_EQ(info.product, std::string(63, 'p'));
  EXPECT_EQ(info.id.size(), 63u);
}
