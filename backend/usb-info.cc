#include "backend/usb-info.h"

#include "backend/backend-common.h"
#include "vorn/strings.h"

namespace vorn::backend {
namespace {

constexpr size_t kFieldMax = 63;  // a 64-byte field with its terminator

}  // namespace

const char* usb_status_warning(int status) {
  status &= 0xff;
  if (status & kUsbPaperOut) return "WARNING: Media tray empty!\n";
  if (!(status & kUsbNoError)) return "WARNING: Printer fault!\n";
  if (!(status & kUsbSelected)) return "WARNING: Printer off-line.\n";
  return nullptr;
}

bool parse_device_id(std::string_view answer, UsbDeviceInfo* info) {
  *info = UsbDeviceInfo();
  if (answer.size() < 2) return false;
  size_t length = (size_t(static_cast<unsigned char>(answer[0])) << 8) |
                  size_t(static_cast<unsigned char>(answer[1]));
  if (length < 2) return false;
  std::string_view id = answer.substr(2, length - 2);
  size_t nul = id.find('\0');
  if (nul != std::string_view::npos) id = id.substr(0, nul);
  id = trim(id);
  if (id.empty()) return false;
  info->id = std::string(cut(id, kFieldMax));

  while (!id.empty()) {
    size_t semi = id.find(';');
    std::string_view item = id.substr(0, semi);
    id = semi == std::string_view::npos ? std::string_view() : id.substr(semi + 1);
    size_t colon = item.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view key = trim(item.substr(0, colon));
    std::string_view value = trim(item.substr(colon + 1));
    if (iequals(key, "MFG") || iequals(key, "MANUFACTURER")) {
      info->manufacturer = std::string(cut(value, kFieldMax));
    } else if (iequals(key, "MDL") || iequals(key, "MODEL")) {
      info->product = std::string(cut(value, kFieldMax));
    }
  }
  return true;
}

std::string usb_make_model(const UsbDeviceInfo& info) {
  // An ID that names neither maker nor model tells no more than none.
  if (info.id.empty() || (info.manufacturer.empty() && info.product.empty())) return "Unknown";
  std::string make = istarts_with(info.manufacturer, "Hewlett-Packard ") ? "HP" : info.manufacturer;
  return quote_safe(make + " " + info.product);
}

}  // namespace vorn::backend
