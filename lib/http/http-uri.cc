// URIs split into their parts, and host name lookups.

#include "http-private.h"
#include "vorn/strings.h"

#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>
#include <string>
#include <string_view>

namespace {

struct DefaultPort {
  const char* scheme;
  int port;
};

constexpr DefaultPort kDefaultPorts[] = {
    {"ipp", 631}, {"ipps", 631}, {"http", 80}, {"https", 443},
    {"lpd", 515}, {"socket", 9100}, {"smb", 139},
};

// Services by name, for a machine without a services database. These are
// the ports of the services, not the default ports of URI schemes above:
// "ipps" as a service is 443, an ipps:// URI without a port still means 631.
constexpr DefaultPort kWellKnownServices[] = {
    {"ipp", 631}, {"ipps", 443}, {"printer", 515}, {"http", 80}, {"https", 443},
};

// The services database (/etc/services, or whatever the system's name
// service switch says); 0 when it does not know the name or is missing.
int services_database(const char* name) {
  servent entry{};
  servent* found = nullptr;
  char buffer[1024];
  if (::getservbyname_r(name, nullptr, &entry, buffer, sizeof(buffer), &found) != 0 || !found) return 0;
  return ntohs(uint16_t(found->s_port));
}

int default_port(std::string_view scheme) {
  for (const auto& d : kDefaultPorts) {
    if (vorn::iequals(scheme, d.scheme)) return d.port;
  }
  return 0;
}

// "%XX" sequences become their byte; a malformed one, or "%00", stays as is.
std::string percent_decode(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); i++) {
    if (s[i] == '%' && i + 2 < s.size()) {
      int hi = vorn::hex_value(s[i + 1]), lo = vorn::hex_value(s[i + 2]);
      if (hi >= 0 && lo >= 0 && (hi | lo) != 0) {
        out += char(hi * 16 + lo);
        i += 2;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

bool is_scheme_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || vorn::isdigit(c) || c == '+' || c == '-' ||
         c == '.';
}

}  // namespace

int httpSeparateURI(const char* uri, char* scheme, size_t scheme_size, char* username,
                    size_t username_size, char* host, size_t host_size, int* port, char* resource,
                    size_t resource_size) {
  vorn::strlcpy(scheme, "", scheme_size);
  vorn::strlcpy(username, "", username_size);
  vorn::strlcpy(host, "", host_size);
  vorn::strlcpy(resource, "", resource_size);
  *port = 0;
  std::string_view u = vorn::trim(uri ? uri : "");
  if (u.empty()) return 0;

  size_t i = 0;
  if ((u[0] >= 'a' && u[0] <= 'z') || (u[0] >= 'A' && u[0] <= 'Z')) {
    while (i < u.size() && is_scheme_char(u[i])) i++;
  }
  if (i == 0 || i >= u.size() || u[i] != ':') {
    vorn::strlcpy(resource, u, resource_size);  // no scheme: a bare resource
    return 1;
  }
  std::string_view sch = u.substr(0, i);
  vorn::strlcpy(scheme, sch, scheme_size);
  *port = default_port(sch);
  std::string_view rest = u.substr(i + 1);
  if (!rest.starts_with("//")) {
    vorn::strlcpy(resource, rest, resource_size);  // "parallel:/dev/lp0"
    return 1;
  }
  rest.remove_prefix(2);

  size_t auth_end = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, auth_end);
  std::string_view path = auth_end == std::string_view::npos ? std::string_view() : rest.substr(auth_end);
  vorn::strlcpy(resource, path.empty() ? std::string_view("/") : path, resource_size);

  size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    vorn::strlcpy(username, percent_decode(authority.substr(0, at)), username_size);
    authority.remove_prefix(at + 1);
  }

  std::string_view after;
  if (!authority.empty() && authority[0] == '[') {
    size_t close = authority.find(']');
    if (close == std::string_view::npos) {
      vorn::strlcpy(host, authority, host_size);
      return 0;
    }
    vorn::strlcpy(host, authority.substr(0, close + 1), host_size);
    after = authority.substr(close + 1);
  } else {
    size_t colon = authority.find(':');
    vorn::strlcpy(host, authority.substr(0, colon), host_size);
    if (colon != std::string_view::npos) after = authority.substr(colon);
  }
  if (after.empty() || after == ":") return 1;  // no port: the scheme's default
  int p = after[0] == ':' ? vorn::parse_port(after.substr(1)) : 0;
  if (p == 0) return 0;
  *port = p;
  return 1;
}

int httpSeparate(const char* uri, char* scheme, char* username, char* host, int* port, char* resource) {
  return httpSeparateURI(uri, scheme, HTTP_MAX_SCHEME, username, HTTP_MAX_USER, host, HTTP_MAX_HOST, port,
                         resource, HTTP_MAX_URI);
}

std::string httpPublicURI(std::string_view uri) {
  size_t scheme_end = uri.find("://");
  if (scheme_end == std::string_view::npos) return std::string(uri);
  size_t host = scheme_end + 3;
  std::string_view rest = uri.substr(host);
  size_t at = std::string_view::npos;
  size_t colon = rest.find(':');
  size_t first_at = rest.find('@');
  if (colon != std::string_view::npos && first_at != std::string_view::npos && colon < first_at &&
      colon < rest.find_first_of("/?#")) {
    // "user:password@": the password may hold "/", "?", "#" and "@", so it
    // runs to the last "@". A port followed by a path with an "@" reads the
    // same way and loses more than it should; it is only ever shown.
    at = rest.rfind('@');
  } else {
    size_t authority_end = rest.find_first_of("/?#");
    at = rest.substr(0, authority_end).rfind('@');
  }
  if (at == std::string_view::npos) return std::string(uri);
  return std::string(uri.substr(0, host)) + std::string(rest.substr(at + 1));
}

namespace {

constexpr int kMaxAddresses = 16;

// The record httpGetHostByName returns, one per thread.
struct HostRecord {
  hostent h;
  char name[HTTP_MAX_HOST];
  char* aliases[1];
  char* addr_list[kMaxAddresses + 1];
  unsigned char addrs[kMaxAddresses][sizeof(in6_addr)];
};

}  // namespace

namespace vorn::http {

int lookup_error(int rc) {
  switch (rc) {
    case EAI_NONAME: return HOST_NOT_FOUND;
    case EAI_AGAIN: return TRY_AGAIN;
#ifdef EAI_NODATA
    case EAI_NODATA: return NO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return NO_DATA;
#endif
    default: return NO_RECOVERY;
  }
}

}  // namespace vorn::http

const hostent* httpGetHostByName(const char* name) {
  static thread_local HostRecord rec;
  std::string_view n = vorn::trim(name ? name : "");
  if (n.size() >= 2 && n.front() == '[' && n.back() == ']') n = n.substr(1, n.size() - 2);
  if (n.empty() || n.size() >= HTTP_MAX_HOST) {
    h_errno = HOST_NOT_FOUND;
    return nullptr;
  }
  std::string query(n);

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* list = nullptr;
  int rc = getaddrinfo(query.c_str(), nullptr, &hints, &list);
  if (rc != 0) {
    h_errno = vorn::http::lookup_error(rc);
    return nullptr;
  }
  int family = AF_INET6;
  for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
    if (ai->ai_family == AF_INET) family = AF_INET;
  }
  int length = family == AF_INET ? int(sizeof(in_addr)) : int(sizeof(in6_addr));
  int count = 0;
  for (const addrinfo* ai = list; ai && count < kMaxAddresses; ai = ai->ai_next) {
    if (ai->ai_family != family) continue;
    const void* a = family == AF_INET ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(ai->ai_addr)->sin_addr)
                                      : static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(ai->ai_addr)->sin6_addr);
    bool seen = false;
    for (int j = 0; j < count && !seen; j++) seen = std::memcmp(rec.addrs[j], a, size_t(length)) == 0;
    if (seen) continue;
    std::memcpy(rec.addrs[count], a, size_t(length));
    rec.addr_list[count] = reinterpret_cast<char*>(rec.addrs[count]);
    count++;
  }
  vorn::strlcpy(rec.name, list->ai_canonname ? list->ai_canonname : query.c_str(), sizeof(rec.name));
  freeaddrinfo(list);
  if (count == 0) {
    h_errno = NO_DATA;
    return nullptr;
  }
  rec.addr_list[count] = nullptr;
  rec.aliases[0] = nullptr;
  rec.h.h_name = rec.name;
  rec.h.h_aliases = rec.aliases;
  rec.h.h_addrtype = family;
  rec.h.h_length = length;
  rec.h.h_addr_list = rec.addr_list;
  h_errno = 0;
  return &rec.h;
}

namespace vorn::http {

int service_port(const char* name, int (*lookup)(const char* name)) {
  if (!name || !*name) return 0;
  if (int port = lookup(name)) return port;
  for (const DefaultPort& s : kWellKnownServices)
    if (std::strcmp(name, s.scheme) == 0) return s.port;
  return 0;
}

}  // namespace vorn::http

int httpServicePort(const char* name) { return vorn::http::service_port(name, services_database); }

const char* httpHostErrorString(int code) {
  switch (code) {
    case 0: return "OK";
    case HOST_NOT_FOUND: return "Host not found.";
    case TRY_AGAIN: return "Try again.";
    case NO_RECOVERY: return "Unrecoverable lookup error.";
    case NO_DATA: return "No data associated with name.";
    default: return "Unknown hostname lookup error.";
  }
}
