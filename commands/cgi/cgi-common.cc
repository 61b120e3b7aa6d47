#include "cgi-common.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/random.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "vorn/client.h"
#include "vorn/fd.h"
#include "vorn/request.h"
#include "vorn/strings.h"

namespace vorn::cgi {
namespace {

bool is_control(unsigned char c) { return c < 0x20 || c == 0x7F; }

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// The value of parameter `name` in a header value such as
// `form-data; name="x"; filename="y"` (quoted or not), or "".
bool header_param(std::string_view header, std::string_view name, std::string& value) {
  size_t at = 0;
  while ((at = header.find(';', at)) != std::string_view::npos) {
    at++;
    while (at < header.size() && header[at] == ' ') at++;
    if (!vorn::istarts_with(header.substr(at), name) || header.substr(at + name.size(), 1) != "=") continue;
    std::string_view rest = header.substr(at + name.size() + 1);
    if (!rest.empty() && rest.front() == '"') {
      size_t end = rest.find('"', 1);
      if (end == std::string_view::npos) return false;
      value = rest.substr(1, end - 1);
    } else {
      value = rest.substr(0, rest.find(';'));
    }
    return true;
  }
  return false;
}

bool add_field(form_t& form, std::string name, std::string value) {
  if (name.empty() || name.size() > kMaxNameBytes || value.size() > kMaxValueBytes) return false;
  if (form.fields.size() + form.uploads.size() >= kMaxFields) return false;
  form.fields.emplace_back(std::move(name), std::move(value));
  return true;
}

constexpr size_t kKeyBytes = 32;

// The form key: read from TMPDIR/vorn-form-key, or made there. A new key is
// written under a private name and linked into place, so a program running
// at the same time never reads half a key; whoever links first wins.
bool form_key(unsigned char key[kKeyBytes]) {
  std::string dir = env("TMPDIR");
  if (dir.empty()) dir = "/tmp";
  const std::string path = dir + "/vorn-form-key";
  for (int attempt = 0; attempt < 2; attempt++) {
    vorn::unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (fd) return ::read(fd.get(), key, kKeyBytes) == ssize_t(kKeyBytes);
    const std::string mine = path + "." + std::to_string(::getpid());
    vorn::unique_fd out(::open(mine.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!out) return false;
    unsigned char fresh[kKeyBytes];
    bool ok = ::getrandom(fresh, sizeof(fresh), 0) == ssize_t(sizeof(fresh)) &&
              ::write(out.get(), fresh, sizeof(fresh)) == ssize_t(sizeof(fresh));
    OPENSSL_cleanse(fresh, sizeof(fresh));
    out.reset();
    if (ok) (void)::link(mine.c_str(), path.c_str());
    ::unlink(mine.c_str());
    if (!ok) return false;
  }
  return false;
}

}  // namespace

std::string FormToken() {
  unsigned char key[kKeyBytes];
  if (!form_key(key)) return "";
  const std::string user = WebUser();
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const bool ok = HMAC(EVP_sha256(), key, int(kKeyBytes), reinterpret_cast<const unsigned char*>(user.data()),
                       user.size(), mac, &length) != nullptr;
  OPENSSL_cleanse(key, sizeof(key));
  if (!ok) return "";
  static const char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned int i = 0; i < length; i++) {
    token += kHex[mac[i] >> 4];
    token += kHex[mac[i] & 15];
  }
  return token;
}

bool CheckFormToken(const form_t& form) {
  const std::string expected = FormToken();
  const std::string given = form.get("token");
  return !expected.empty() && given.size() == expected.size() &&
         CRYPTO_memcmp(given.data(), expected.data(), given.size()) == 0;
}

void TokenField(page_t& page) {
  page.raw("<input type=\"hidden\" name=\"token\" value=\"").text(FormToken()).raw("\">");
}

void DestNameField(page_t& page, std::string_view field, std::string_view noun, const std::string& name, bool existing) {
  if (existing) {
    page.raw("<input type=\"hidden\" name=\"").raw(field).raw("\" value=\"").text(name).raw("\"><p>").raw(noun);
    page.raw(": <b>").text(name).raw("</b></p>\n");
  } else {
    page.raw("<input type=\"hidden\" name=\"new\" value=\"1\">\n<label>Name <input type=\"text\" name=\"").raw(field);
    page.raw("\" required maxlength=\"127\" pattern=\"[A-Za-z0-9_.\\-]+\"></label>\n");
  }
}

void ConfirmDelete(page_t& page, std::string_view noun, std::string_view op, std::string_view field,
                   const std::string& name) {
  page.raw("<p>Delete the ").raw(noun).raw(" <b>").text(name).raw("</b> and its jobs?</p>\n");
  page.raw("<form method=\"post\" action=\"/admin\"><input type=\"hidden\" name=\"op\" value=\"").raw(op);
  page.raw("\"><input type=\"hidden\" name=\"confirm\" value=\"yes\"><input type=\"hidden\" name=\"").raw(field);
  page.raw("\" value=\"").text(name).raw("\">");
  TokenField(page);
  page.raw("<button type=\"submit\">Delete</button></form>\n");
}

void ActionButton(page_t& page, std::string_view field, std::string_view value, std::string_view op,
                  std::string_view label) {
  page.raw("<form class=\"inline\" method=\"post\" action=\"/admin\"><input type=\"hidden\" name=\"op\" value=\"")
      .text(op)
      .raw("\"><input type=\"hidden\" name=\"")
      .text(field)
      .raw("\" value=\"")
      .text(value)
      .raw("\">");
  TokenField(page);
  page.raw("<button type=\"submit\">").raw(label).raw("</button></form>");
}

std::string form_t::get(std::string_view name, std::string_view fallback) const {
  for (const auto& [n, v] : fields)
    if (n == name) return v;
  return std::string(fallback);
}

std::vector<std::string> form_t::all(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& [n, v] : fields)
    if (n == name) values.push_back(v);
  return values;
}

bool form_t::has(std::string_view name) const {
  for (const auto& f : fields)
    if (f.first == name) return true;
  return false;
}

const upload_t* form_t::upload(std::string_view name) const {
  for (const upload_t& u : uploads)
    if (u.field == name) return &u;
  return nullptr;
}

bool UrlDecode(std::string_view text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); i++) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '+') {
      c = ' ';
    } else if (c == '%') {
      if (i + 2 >= text.size()) return false;
      int hi = hex_value(text[i + 1]), lo = hex_value(text[i + 2]);
      if (hi < 0 || lo < 0) return false;
      c = static_cast<unsigned char>(hi * 16 + lo);
      i += 2;
    }
    if (is_control(c)) return false;
    out += static_cast<char>(c);
  }
  return true;
}

bool ParseUrlEncoded(std::string_view text, form_t& form) {
  form = form_t{};
  if (text.size() > kMaxFormBytes) return false;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of("&;", start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view item = text.substr(start, end - start);
    start = end + 1;
    if (item.empty()) continue;
    size_t eq = item.find('=');
    std::string name, value;
    if (!UrlDecode(item.substr(0, eq), name) ||
        (eq != std::string_view::npos && !UrlDecode(item.substr(eq + 1), value)) ||
        !add_field(form, std::move(name), std::move(value))) {
      form = form_t{};
      return false;
    }
  }
  return true;
}

bool ParseMultipart(std::string_view body, std::string_view content_type, form_t& form) {
  form = form_t{};
  std::string boundary;
  if (!vorn::istarts_with(content_type, "multipart/form-data") || !header_param(content_type, "boundary", boundary) ||
      boundary.empty() || boundary.size() > 200 || body.size() > kMaxUploadBytes)
    return false;
  const std::string delimiter = "--" + boundary;
  auto fail = [&] {
    form = form_t{};
    return false;
  };
  if (!body.starts_with(delimiter)) return fail();
  size_t at = delimiter.size();
  for (;;) {
    if (body.substr(at, 2) == "--") return true;  // the closing delimiter
    if (body.substr(at, 2) != "\r\n") return fail();
    at += 2;
    size_t head_end = body.find("\r\n\r\n", at);
    if (head_end == std::string_view::npos) return fail();
    std::string_view head = body.substr(at, head_end - at);
    size_t next = body.find("\r\n" + delimiter, head_end + 4);
    if (next == std::string_view::npos) return fail();
    std::string_view content = body.substr(head_end + 4, next - head_end - 4);
    at = next + 2 + delimiter.size();

    std::string name, filename;
    bool has_filename = false;
    size_t line_start = 0;
    while (line_start <= head.size()) {
      size_t line_end = head.find("\r\n", line_start);
      if (line_end == std::string_view::npos) line_end = head.size();
      std::string_view line = head.substr(line_start, line_end - line_start);
      line_start = line_end + 2;
      if (vorn::istarts_with(line, "Content-Disposition:")) {
        if (!header_param(line, "name", name)) return fail();
        has_filename = header_param(line, "filename", filename);
      }
    }
    if (has_filename) {
      if (name.empty() || name.size() > kMaxNameBytes || form.fields.size() + form.uploads.size() >= kMaxFields)
        return fail();
      if (filename.empty() && content.empty()) continue;  // no file chosen
      form.uploads.push_back({name, filename, std::string(content)});
    } else {
      for (char c : content)
        if (is_control(static_cast<unsigned char>(c))) return fail();
      if (!add_field(form, name, std::string(content))) return fail();
    }
  }
}

bool IsPost() { return env("REQUEST_METHOD") == "POST"; }

bool ReadRequestForm(form_t& form, std::string& error) {
  form = form_t{};
  if (!IsPost()) {
    if (!ParseUrlEncoded(env("QUERY_STRING"), form)) {
      error = "The query string is malformed or too long.";
      return false;
    }
    return true;
  }
  const std::string type = env("CONTENT_TYPE");
  const bool multipart = vorn::istarts_with(type, "multipart/form-data");
  const std::string length_text = env("CONTENT_LENGTH");
  char* end = nullptr;
  unsigned long long length = std::strtoull(length_text.c_str(), &end, 10);
  if (length_text.empty() || *end || length_text.front() == '-' ||
      length > (multipart ? kMaxUploadBytes : kMaxFormBytes)) {
    error = "The form data is missing or too large.";
    return false;
  }
  std::string body(size_t(length), '\0');
  size_t got = 0;
  while (got < body.size()) {
    ssize_t n = ::read(0, body.data() + got, body.size() - got);
    if (n <= 0) break;
    got += size_t(n);
  }
  if (got != body.size()) {
    error = "The form data ended early.";
    return false;
  }
  bool ok = multipart ? ParseMultipart(body, type, form) : ParseUrlEncoded(body, form);
  if (!ok) error = "The form data is malformed or too large.";
  return ok;
}

std::string Html(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string UrlEncode(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      out += char(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

void PageHead(page_t& page, std::string_view title) {
  page.raw("Content-Type: text/html; charset=utf-8\r\n\r\n");
  page.raw(
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>");
  page.text(title).raw(" - Vorn</title>\n");
  page.raw(
      "<style>\n"
      "body{font-family:sans-serif;margin:0;color:#222;background:#fafafa}\n"
      "nav{background:#234;padding:.5em 1em}nav a{color:#fff;margin-right:1em;text-decoration:none}\n"
      "main{padding:1em;max-width:60em}h1{font-size:1.4em}\n"
      ".scroll{overflow-x:auto}table{border-collapse:collapse;width:100%}\n"
      "th,td{border-bottom:1px solid #ccc;padding:.3em .5em;text-align:left;vertical-align:top}\n"
      "th{background:#eee}form.inline{display:inline}button{margin:.1em}\n"
      "label{display:block;margin:.4em 0}input[type=text],select{width:100%;max-width:30em;box-sizing:border-box}\n"
      ".ok{background:#e6f4e6;padding:.5em}.error{background:#fbe3e3;padding:.5em}\n"
      "</style>\n</head>\n<body>\n<nav><a href=\"/printers\">Printers</a><a href=\"/classes\">Classes</a>"
      "<a href=\"/jobs\">Jobs</a><a href=\"/admin\">Administration</a></nav>\n<main>\n<h1>");
  page.text(title).raw("</h1>\n");
}

void PageFoot(page_t& page) { page.raw("</main>\n</body>\n</html>\n"); }

void Notice(page_t& page, std::string_view message, bool error) {
  page.raw(error ? "<p class=\"error\">" : "<p class=\"ok\">").text(message).raw("</p>\n");
}

int Send(const page_t& page) {
  size_t done = 0;
  while (done < page.body.size()) {
    ssize_t n = ::write(1, page.body.data() + done, page.body.size() - done);
    if (n <= 0) return 1;
    done += size_t(n);
  }
  return 0;
}

const char* PrinterStateText(int state) {
  switch (state) {
    case IPP_PRINTER_IDLE: return "idle";
    case IPP_PRINTER_PROCESSING: return "processing";
    case IPP_PRINTER_STOPPED: return "stopped";
    default: return "unknown";
  }
}

const char* JobStateText(int state) {
  switch (state) {
    case IPP_JOB_PENDING: return "pending";
    case IPP_JOB_HELD: return "held";
    case IPP_JOB_PROCESSING: return "processing";
    case IPP_JOB_STOPPED: return "stopped";
    case IPP_JOB_CANCELLED: return "cancelled";
    case IPP_JOB_ABORTED: return "aborted";
    case IPP_JOB_COMPLETED: return "completed";
    default: return "unknown";
  }
}

std::string WebUser() {
  const std::string user = env("REMOTE_USER");
  return user.empty() ? "anonymous" : user;
}

bool session_t::Open() {
  vornSetUser(WebUser().c_str());
  // No one can type a password for a CGI program: a challenge the local
  // certificate does not answer is a refusal, never a prompt on a terminal.
  vornSetPasswordCB([](const char*) -> const char* { return nullptr; });
  const std::string configured = env("VORN_SERVER");
  if (!configured.empty()) {
    http.reset(httpConnectEncrypt(vornServer(), ippPort(), vornEncryption()));
    return bool(http);
  }
  http.reset(httpConnectEncrypt("localhost", ippPort(), vornEncryption()));
  const std::string name = env("SERVER_NAME");
  if (!http && !name.empty() && name != "localhost")
    http.reset(httpConnectEncrypt(name.c_str(), ippPort(), vornEncryption()));
  return bool(http);
}

ipp_ptr session_t::Do(ipp_t* request, const char* resource, std::string& error, const char* filename) {
  if (!http && !Open()) {
    ippDelete(request);
    status = IPP_SERVICE_UNAVAILABLE;
    error = "Unable to connect to the scheduler.";
    return nullptr;
  }
  ipp_ptr response(vornDoFileRequest(http.get(), request, resource, filename));
  status = response ? ipp_status_t(response->op_status) : vornLastError();
  if (response && status <= IPP_OK_CONFLICT) return response;
  error = std::string("The scheduler refused: ") + ippErrorString(status);
  if (response)
    if (const ipp_attribute_t* m = ippFindAttribute(response.get(), "status-message", IPP_TAG_TEXT);
        m && !m->values.empty())
      error += " (" + m->values[0].string.text + ")";
  error += ".";
  return nullptr;
}

ipp_t* NewPrinterRequest(ipp_op_t op, std::string_view name, bool is_class) {
  ipp_t* request = vornNewRequest(op);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "",
               std::string(is_class ? "ipp://localhost/classes/" : "ipp://localhost/printers/") +
                   std::string(name));
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", "", WebUser());
  return request;
}

ipp_t* NewJobRequest(ipp_op_t op, int job_id) {
  ipp_t* request = vornNewRequest(op);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", "",
               "ipp://localhost/jobs/" + std::to_string(job_id));
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", "", WebUser());
  return request;
}

void AddRequested(ipp_t* request, const std::vector<std::string>& names) {
  if (!ippFindAttribute(request, "requesting-user-name", IPP_TAG_NAME))
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", "", WebUser());
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", "", names);
}

bool IsValidName(std::string_view name) {
  if (name.empty() || name.size() > 127) return false;
  for (unsigned char c : name)
    if (c <= ' ' || c >= 0x7F || c == '/' || c == '#' || c == '?' || c == '%' || c == '"' || c == '\'' ||
        c == '\\' || c == '<' || c == '>' || c == '&')
      return false;
  return true;
}

int ParseId(std::string_view text) {
  if (text.empty() || text.size() > 10) return 0;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  return value >= 1 && value <= 0x7FFFFFFF ? int(value) : 0;
}

std::string RequestedName(int argc, char** argv, std::string_view program) {
  if (argc < 1 || !argv[0]) return "";
  std::string_view a = argv[0];
  size_t slash = a.rfind('/');
  std::string_view base = slash == std::string_view::npos ? a : a.substr(slash + 1);
  if (base == program || a.empty()) return "";
  return std::string(a);
}

int ServeForm(const char* title, form_handler_t on_get, form_handler_t on_post) {
  session_t session;
  form_t form;
  std::string error;
  if (!ReadRequestForm(form, error)) {
    page_t page;
    PageHead(page, title);
    Notice(page, error, true);
    PageFoot(page);
    return Send(page);
  }
  return IsPost() ? on_post(session, form) : on_get(session, form);
}

}  // namespace vorn::cgi
