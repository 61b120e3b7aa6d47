// What the library's own requests share: the process-wide connection to the
// scheduler and the common start of every request.

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "request-private.h"
#include "vorn/client.h"
#include "vorn/dests.h"
#include "vorn/language.h"

namespace vorn::request {
namespace {

struct shared_state {
  std::mutex mutex;
  vorn::http_ptr http;
  std::string host;  // what the connection was opened for
  int port = 0;
  http_encryption_t encryption = HTTP_ENCRYPT_IF_REQUESTED;
};

shared_state& shared() {
  static auto* s = new shared_state;  // never destroyed: usable from exit handlers
  return *s;
}

}  // namespace

shared_connection::shared_connection() : lock_(shared().mutex) {
  shared_state& s = shared();
  const std::string host = vornServer();
  const int port = ippPort();
  const http_encryption_t encryption = vornEncryption();
  if (s.http && (s.host != host || s.port != port || s.encryption != encryption)) {
    s.http.reset();
  }
  if (!s.http) {
    s.http.reset(httpConnectEncrypt(host.c_str(), port, encryption));
    if (!s.http) {
      set_last_error(IPP_INTERNAL_ERROR);
      return;
    }
    s.host = host;
    s.port = port;
    s.encryption = encryption;
  }
  http_ = s.http.get();
}

std::string printer_uri(const char* name) { return std::string("ipp://localhost/printers/") + name; }

bool valid_dest_name(std::string_view name) {
  if (name.empty() || name.size() > VORN_MAX_DEST_NAME) return false;
  for (unsigned char c : name)
    if (c <= ' ' || c == 0x7f || c == '/') return false;
  return true;
}

}  // namespace vorn::request

ipp_t* vornNewRequest(ipp_op_t op) {
  ipp_t* ipp = ippNew();
  ipp->op_status = uint16_t(op);
  ipp->request_id = 1;
  vorn_lang_t* lang = vornLangGet(nullptr);
  ippAddString(ipp, IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", "", vornLangEncoding(lang));
  ippAddString(ipp, IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", "", lang->language);
  vornLangFree(lang);
  return ipp;
}
