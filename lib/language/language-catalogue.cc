// Message catalogues: built-in English texts for the HTTP status codes the
// server answers with, overlaid by a per-language file when one is installed.
#include <fcntl.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "language-private.h"
#include "vorn/fd.h"
#include "vorn/paths.h"
#include "vorn/strings.h"

namespace {

const struct {
  int number;
  const char* text;
} kEnglish[] = {
    {400, "The request was not understood by the server."},
    {401, "Authentication is required to access this resource."},
    {402, "Payment is required to access this resource."},
    {403, "You are not allowed to access this resource."},
    {404, "The requested resource was not found on this server."},
    {405, "The request method is not allowed for this resource."},
    {406, "The resource cannot be returned in an acceptable form."},
    {408, "The server timed out waiting for the request."},
    {409, "The request conflicts with the current state of the resource."},
    {410, "The requested resource is no longer available."},
    {411, "The request needs a Content-Length field."},
    {412, "A precondition of the request failed."},
    {413, "The request body is too large."},
    {414, "The request URI is too long."},
    {415, "The type of the request body is not supported."},
    {417, "The expectation of the request cannot be met."},
    {426, "This resource needs an encrypted connection: upgrade to TLS."},
    {500, "The server met an internal error and could not complete the request."},
    {501, "The server does not support this request method."},
    {502, "The server received a bad answer from another server."},
    {503, "The server is busy or down for maintenance; try again later."},
    {504, "Another server did not answer in time."},
    {505, "The server does not support this HTTP version."},
};

// Catalogue files are small; anything larger is not a catalogue.
constexpr size_t kMaxCatalogue = 256 * 1024;
constexpr size_t kMaxMessage = 1023;
constexpr int kMaxNumber = 99999;

bool read_small_file(const std::string& path, std::string& data) {
  vorn::unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  char buf[8192];
  for (;;) {
    ssize_t n = vorn::read_retry(fd.get(), buf, sizeof(buf));
    if (n < 0) return false;
    if (n == 0) return true;
    if (data.size() + size_t(n) > kMaxCatalogue) return false;
    data.append(buf, size_t(n));
  }
}

void parse_catalogue(std::string_view data, std::map<int, std::string>& messages) {
  while (!data.empty()) {
    size_t eol = data.find('\n');
    std::string_view line = data.substr(0, eol);
    data = eol == std::string_view::npos ? std::string_view() : data.substr(eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    size_t i = 0;
    int number = 0;
    while (i < line.size() && vorn::isdigit(line[i]) && number <= kMaxNumber)
      number = number * 10 + (line[i++] - '0');
    if (i == 0 || number > kMaxNumber || i == line.size() || !vorn::isspace(line[i]))
      continue;
    std::string_view text = vorn::trim(line.substr(i));
    if (text.empty()) continue;
    messages[number] = std::string(vorn::cut(text, kMaxMessage));
  }
}

}  // namespace

namespace vorn {

void lang_load_messages(vorn_lang_t& lang) {
  for (const auto& m : kEnglish) lang.messages[m.number] = m.text;
  if (lang.language == "en") return;

  const char* env = std::getenv("VORN_DATADIR");
  std::string datadir = env && *env ? env : VORN_DEFAULT_DATADIR;
  // The language code is made of letters and "_" only, so it is safe here.
  std::string data;
  if (!read_small_file(datadir + "/locale/" + lang.language + "/vorn.msg", data)) {
    data.clear();
    size_t us = lang.language.find('_');
    if (us == std::string::npos ||
        !read_small_file(datadir + "/locale/" + lang.language.substr(0, us) + "/vorn.msg", data))
      return;
  }
  parse_catalogue(data, lang.messages);
}

}  // namespace vorn
