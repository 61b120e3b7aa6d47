#include "scheduler/auth/address.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>

#include "scheduler/log.h"
#include "vorn/http.h"
#include "vorn/strings.h"

namespace {

constexpr size_t kMaxPart = 255;  // host and port parts of "host:port"

bool all_digits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!vorn::isdigit(c)) return false;
  return true;
}

// A decimal number of at most `max`; false for anything else.
bool parse_number(std::string_view s, unsigned max, unsigned& value) {
  if (!all_digits(s) || s.size() > 10) return false;
  unsigned long v = 0;
  for (char c : s) v = v * 10 + unsigned(c - '0');
  if (v > max) return false;
  value = unsigned(v);
  return true;
}

// One to four dotted numbers of 0-255; returns how many, 0 when malformed.
int parse_dotted(std::string_view s, uint32_t& value) {
  unsigned parts[4] = {0, 0, 0, 0};
  int count = 0;
  while (true) {
    size_t dot = s.find('.');
    std::string_view part = s.substr(0, dot);
    if (count == 4 || !parse_number(part, 255, parts[count])) return 0;
    count++;
    if (dot == std::string_view::npos) break;
    s.remove_prefix(dot + 1);
  }
  value = uint32_t(parts[0]) << 24 | uint32_t(parts[1]) << 16 | uint32_t(parts[2]) << 8 | parts[3];
  return count;
}

bool decode_failed(std::string_view text) {
  LogDiagnostic(L_ERROR, "Unable to decode address \"%.*s\"!", int(text.size()), text.data());
  return false;
}

}  // namespace

socklen_t sock_addr_length(const sock_addr_t& a) {
  return a.addr.sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

int sock_addr_port(const sock_addr_t& a) {
  return ntohs(a.addr.sa_family == AF_INET6 ? a.ipv6.sin6_port : a.ipv4.sin_port);
}

uint32_t sock_addr_ipv4(const sock_addr_t& a) {
  return a.addr.sa_family == AF_INET ? ntohl(a.ipv4.sin_addr.s_addr) : 0;
}

std::string sock_addr_text(const sock_addr_t& a) {
  char text[INET6_ADDRSTRLEN] = "";
  if (a.addr.sa_family == AF_INET6)
    ::inet_ntop(AF_INET6, &a.ipv6.sin6_addr, text, sizeof(text));
  else
    ::inet_ntop(AF_INET, &a.ipv4.sin_addr, text, sizeof(text));
  return text;
}

std::string sock_addr_message(const sock_addr_t& a) {
  char text[INET6_ADDRSTRLEN + 16];
  if (a.addr.sa_family == AF_INET6)
    std::snprintf(text, sizeof(text), "[%s]:%d", sock_addr_text(a).c_str(), sock_addr_port(a));
  else
    std::snprintf(text, sizeof(text), "%x:%d", unsigned(sock_addr_ipv4(a)), sock_addr_port(a));
  return text;
}

bool parse_listen_address(std::string_view text, uint32_t default_address, int default_port,
                          sock_addr_t& out, bool allow_ipv6) {
  out = sock_addr_t{};
  out.ipv4.sin_family = AF_INET;
  out.ipv4.sin_addr.s_addr = htonl(default_address);
  out.ipv4.sin_port = htons(uint16_t(default_port));

  std::string_view host, port;
  bool have_host = false, have_port = false, ipv6 = false;
  if (text.empty()) return decode_failed(text);
  if (text.front() == '[') {
    size_t close = text.find(']');
    if (!allow_ipv6 || close == std::string_view::npos) return decode_failed(text);
    host = text.substr(1, close - 1);
    std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':' || rest.size() < 2) return decode_failed(text);
      port = rest.substr(1);
      have_port = true;
    }
    have_host = ipv6 = true;
  } else if (size_t colon = text.find(':'); colon != std::string_view::npos) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (port.empty() || port.find(':') != std::string_view::npos) return decode_failed(text);
    have_host = have_port = true;
  } else if (text.find('.') != std::string_view::npos || default_address != kAnyAddress) {
    host = text;
    have_host = true;
  } else {
    port = text;
    have_port = true;
  }
  if (host.size() > kMaxPart || port.size() > kMaxPart) return decode_failed(text);

  if (ipv6) {
    std::string h(host);
    sockaddr_in6 a6{};
    a6.sin6_family = AF_INET6;
    a6.sin6_port = htons(uint16_t(default_port));
    if (::inet_pton(AF_INET6, h.c_str(), &a6.sin6_addr) != 1) return decode_failed(text);
    out.ipv6 = a6;
  } else if (have_host && !host.empty() && host != "*") {
    std::string h(host);
    const hostent* he = httpGetHostByName(h.c_str());
    int error = h_errno;
    if (he && he->h_addrtype == AF_INET && he->h_length == sizeof(in_addr)) {
      std::memcpy(&out.ipv4.sin_addr, he->h_addr_list[0], sizeof(in_addr));
    } else if (he && allow_ipv6 && he->h_addrtype == AF_INET6 && he->h_length == sizeof(in6_addr)) {
      sockaddr_in6 a6{};
      a6.sin6_family = AF_INET6;
      a6.sin6_port = htons(uint16_t(default_port));
      std::memcpy(&a6.sin6_addr, he->h_addr_list[0], sizeof(in6_addr));
      out.ipv6 = a6;
    } else {
      if (he) error = NO_DATA;  // only IPv6 addresses where IPv4 is needed
      LogDiagnostic(L_ERROR, "httpGetHostByName(\"%s\") failed - %s!", h.c_str(),
                    httpHostErrorString(error));
      return false;
    }
  }

  if (have_port) {
    unsigned number = 0;
    if (vorn::isdigit(port.front())) {
      if (!parse_number(port, 65535, number)) return decode_failed(text);
    } else {
      std::string p(port);
      number = unsigned(httpServicePort(p.c_str()));
      if (number == 0) {
        LogDiagnostic(L_ERROR, "getservbyname(\"%s\") failed - %s!", p.c_str(), "Unknown service");
        return false;
      }
    }
    if (out.addr.sa_family == AF_INET6)
      out.ipv6.sin6_port = htons(uint16_t(number));
    else
      out.ipv4.sin_port = htons(uint16_t(number));
  }
  return true;
}

mask_kind parse_address_mask(std::string_view text, std::string& name, uint32_t& address,
                             uint32_t& mask, bool& bad_mask) {
  bad_mask = false;
  if (!text.empty() && text.front() == '*') {
    name = text.substr(1);
    return mask_kind::name;
  }
  if (text.empty() || text.front() == '.' || !vorn::isdigit(text.front())) {
    name = text;
    return mask_kind::name;
  }
  size_t slash = text.find('/');
  int count = parse_dotted(text.substr(0, slash), address);
  if (count == 0) return mask_kind::bad_address;
  if (slash == std::string_view::npos) {
    static constexpr uint32_t by_count[] = {0, 0xff000000, 0xffff0000, 0xffffff00, 0xffffffff};
    mask = by_count[count];
  } else {
    std::string_view m = text.substr(slash + 1);
    unsigned bits = 0;
    if (parse_number(m, 32, bits)) {
      // n leading one bits; "/0" matches every address.
      mask = bits == 0 ? 0 : 0xffffffffu << (32 - bits);
    } else if (parse_dotted(m, mask) != 4) {
      bad_mask = true;
      mask = 0xffffffff;
    }
  }
  // A rule matches when (client & mask) == address, so bits outside the
  // mask must not stay in the address.
  address &= mask;
  return mask_kind::address;
}

bool sock_addr_is_loopback(const sock_addr_t& a) {
  if (a.addr.sa_family == AF_INET) return ntohl(a.ipv4.sin_addr.s_addr) == INADDR_LOOPBACK;
  if (a.addr.sa_family != AF_INET6) return false;
  if (IN6_IS_ADDR_LOOPBACK(&a.ipv6.sin6_addr)) return true;
  static const uint8_t mapped[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 127, 0, 0, 1};
  return std::memcmp(&a.ipv6.sin6_addr, mapped, sizeof(mapped)) == 0;
}
