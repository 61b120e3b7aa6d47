// What a CGI program is started with: its arguments, taken from the options
// text of the request, and its environment, taken from the request and the
// settings.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <string>
#include <string_view>
#include <vector>

#include "scheduler/conf/conf.h"
#include "scheduler/http/cgi.h"
#include "scheduler/http/client.h"
#include "scheduler/run/run.h"
#include "vorn/strings.h"

namespace {

std::string base_name(std::string_view path) {
  size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// The peer's address as digits; the port the client connected to.
std::string peer_address(const http_addr_t& a) {
  char text[INET6_ADDRSTRLEN] = "";
  if (a.addr.sa_family == AF_INET) {
    const auto* b = reinterpret_cast<const unsigned char*>(&a.ipv4.sin_addr.s_addr);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
  }
  if (a.addr.sa_family == AF_INET6 && ::inet_ntop(AF_INET6, &a.ipv6.sin6_addr, text, sizeof(text))) return text;
  return "0.0.0.0";
}

int local_port(const http_addr_t& a) {
  if (a.addr.sa_family == AF_INET6) return ntohs(a.ipv6.sin6_port);
  return ntohs(a.ipv4.sin_port);
}

}  // namespace

std::vector<std::string> CGIArguments(std::string_view command, std::string_view options) {
  if (options.size() > kMaxCGIOptions) options = options.substr(0, kMaxCGIOptions);
  // The text ends at a NUL, as it would as a C string: no argument can
  // hold one.
  options = options.substr(0, options.find('\0'));
  const size_t n = options.size();
  std::vector<std::string> args;
  std::string word;
  size_t i = 0;
  bool after_blank = false;  // the last split was a run of blanks
  for (;;) {
    if (i == n || options[i] == '?') {
      // A run of blanks at the end splits off nothing more.
      if (!(after_blank && word.empty())) args.push_back(std::move(word));
      break;
    }
    char c = options[i];
    if (c == ' ' || c == '+') {
      args.push_back(std::move(word));
      word.clear();
      if (args.size() == kMaxCGIArgs) break;
      i++;
      if (c == ' ')
        while (i < n && options[i] == ' ') i++;
      after_blank = c == ' ';
      continue;
    }
    after_blank = false;
    if (c == '%' && i + 2 < n) {
      int hi = vorn::hex_value(options[i + 1]), lo = vorn::hex_value(options[i + 2]);
      if (hi >= 0 && lo >= 0 && (hi | lo) != 0) {
        word += char(hi * 16 + lo);
        i += 3;
        continue;
      }
    }
    word += c;
    i++;
  }
  if (args.empty()) args.emplace_back();
  if (args[0].empty()) args[0] = base_name(command);
  return args;
}

std::vector<std::string> CGIEnvironment(const client_t* con) {
  const http_t& http = con->http;
  std::vector<std::string> env;
  env.push_back("PATH=/bin:/usr/bin");
  env.push_back("SERVER_SOFTWARE=VORN/1.1");
  env.push_back("GATEWAY_INTERFACE=CGI/1.1");
  if (http.version == HTTP_1_1)
    env.push_back("SERVER_PROTOCOL=HTTP/1.1");
  else if (http.version == HTTP_1_0)
    env.push_back("SERVER_PROTOCOL=HTTP/1.0");
  else
    env.push_back("SERVER_PROTOCOL=HTTP/0.9");
  env.push_back("REDIRECT_STATUS=1");
  const int port = local_port(http.hostaddr);
  env.push_back("IPP_PORT=" + std::to_string(port));
  if (std::string_view(http.hostname) == "localhost")
    env.push_back("SERVER_NAME=localhost");
  else
    env.push_back("SERVER_NAME=" + ServerName);
  env.push_back("SERVER_PORT=" + std::to_string(port));
  env.push_back("REMOTE_ADDR=" + peer_address(http.hostaddr));
  env.push_back(std::string("REMOTE_HOST=") + http.hostname);
  env.push_back("REMOTE_USER=" + con->username);
  env.push_back("LANG=" + (con->language ? con->language->language : std::string("C")));

  job_env_t daemon = DaemonJobEnv();
  if (!daemon.tz.empty()) env.push_back(daemon.tz);
  env.push_back("TMPDIR=" + TempDir);
  env.push_back("VORN_DATADIR=" + DataDir);
  env.push_back("VORN_SERVERROOT=" + ServerRoot);
  for (std::string& e : daemon.inherited) env.push_back(std::move(e));

  if (http.fields[HTTP_FIELD_COOKIE][0])
    env.push_back(std::string("HTTP_COOKIE=") + http.fields[HTTP_FIELD_COOKIE]);
  if (http.fields[HTTP_FIELD_USER_AGENT][0])
    env.push_back(std::string("HTTP_USER_AGENT=") + http.fields[HTTP_FIELD_USER_AGENT]);
  std::string_view resource = con->resource;
  size_t q = resource.find('?');
  env.push_back("SCRIPT_NAME=" + std::string(resource.substr(0, q)));
  if (con->request_method == HTTP_GET || con->request_method == HTTP_GET_SEND) {
    env.push_back("REQUEST_METHOD=GET");
    if (q != std::string_view::npos) env.push_back("QUERY_STRING=" + std::string(resource.substr(q + 1)));
  } else {
    env.push_back("REQUEST_METHOD=POST");
    env.push_back("CONTENT_LENGTH=" + std::to_string(static_cast<long long>(con->spooled)));
    env.push_back(std::string("CONTENT_TYPE=") + http.fields[HTTP_FIELD_CONTENT_TYPE]);
  }
  if (http.encryption == HTTP_ENCRYPT_ALWAYS) {
    env.push_back("HTTPS=ON");
    env.push_back("VORN_ENCRYPTION=Always");
  }
  return env;
}
