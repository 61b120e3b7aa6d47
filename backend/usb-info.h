// What the USB printer driver tells about a printer: its port status byte
// and its IEEE 1284 device ID, and how the usb backend words them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vorn::backend {

// Port status bits as the driver reports them.
inline constexpr int kUsbPaperOut = 0x20;
inline constexpr int kUsbSelected = 0x10;
inline constexpr int kUsbNoError = 0x08;

// The one warning a port status deserves, tested in this order: paper out
// "WARNING: Media tray empty!\n", error bit clear "WARNING: Printer
// fault!\n", not selected "WARNING: Printer off-line.\n"; nullptr when the
// printer is fine. Only the low 8 bits count.
const char* usb_status_warning(int status);

// The three text fields of the device information, each at most 63
// characters.
struct UsbDeviceInfo {
  std::string id;            // the whole device ID; empty: nothing known
  std::string product;       // MDL: or MODEL:
  std::string manufacturer;  // MFG: or MANUFACTURER:
};

// Parses the driver's answer to the device-ID request: a two-byte
// big-endian length that counts itself, then "KEY:value;" items. The length
// is trusted only as far as `answer` reaches. Returns true when the ID is
// non-empty.
bool parse_device_id(std::string_view answer, UsbDeviceInfo* info);

// The make-and-model field of the listing line: "Unknown" when the ID is
// empty or names neither manufacturer nor product, else manufacturer, a space and product, with a manufacturer
// beginning "Hewlett-Packard " (any case) shortened to "HP". Quotes and
// control characters are replaced so the field stays one quoted word.
std::string usb_make_model(const UsbDeviceInfo& info);

}  // namespace vorn::backend
