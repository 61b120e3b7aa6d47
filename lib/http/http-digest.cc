// Base64 and the MD5 digests of HTTP Digest authentication (RFC 2617).

#include "vorn/http.h"
#include "tls-loader.h"

#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int decode_char(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// The hex MD5 of `text` into md5[33]; "" when it cannot be computed (no
// digest library).
char* md5_hex(std::string_view text, char md5[33]) {
  const vorn::http::tls_api* t = vorn::http::tls_library();
  unsigned char sum[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (!t || !t->EVP_Digest(text.data(), text.size(), sum, &len, t->EVP_md5(), nullptr) || len != 16) {
    md5[0] = '\0';
    return md5;
  }
  return httpMD5String(sum, md5);
}

std::string str(const char* s) { return s ? s : ""; }

}  // namespace

char* httpEncode64(char* out, int outlen, const char* in, int inlen) {
  if (!out || outlen < 1) return out;
  if (!in || inlen < 0) inlen = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(in);
  int o = 0;
  for (int i = 0; i < inlen; i += 3) {
    if (o + 4 > outlen - 1) break;  // only whole groups, so the text stays decodable
    unsigned v = unsigned(p[i]) << 16;
    if (i + 1 < inlen) v |= unsigned(p[i + 1]) << 8;
    if (i + 2 < inlen) v |= p[i + 2];
    out[o++] = kAlphabet[(v >> 18) & 63];
    out[o++] = kAlphabet[(v >> 12) & 63];
    out[o++] = i + 1 < inlen ? kAlphabet[(v >> 6) & 63] : '=';
    out[o++] = i + 2 < inlen ? kAlphabet[v & 63] : '=';
  }
  out[o] = '\0';
  return out;
}

char* httpDecode64(char* out, int* outlen, const char* in) {
  if (!out || !outlen || *outlen < 1) {
    if (outlen) *outlen = 0;
    return nullptr;
  }
  int cap = *outlen - 1;
  int o = 0;
  unsigned acc = 0;
  int bits = 0;
  for (const char* p = in ? in : ""; *p && *p != '='; p++) {
    if (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') continue;
    int v = decode_char(*p);
    if (v < 0) {
      out[0] = '\0';
      *outlen = 0;
      return nullptr;
    }
    acc = (acc << 6) | unsigned(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      if (o < cap) out[o++] = char((acc >> bits) & 0xff);
    }
  }
  out[o] = '\0';
  *outlen = o;
  return out;
}

char* httpMD5String(const unsigned char* sum, char md5[33]) {
  static const char hex[] = "0123456789abcdef";
  for (int i = 0; i < 16; i++) {
    md5[i * 2] = hex[sum[i] >> 4];
    md5[i * 2 + 1] = hex[sum[i] & 15];
  }
  md5[32] = '\0';
  return md5;
}

char* httpMD5(const char* username, const char* realm, const char* passwd, char md5[33]) {
  return md5_hex(str(username) + ":" + str(realm) + ":" + str(passwd), md5);
}

char* httpMD5Final(const char* nonce, const char* method, const char* resource, char md5[33]) {
  std::string ha1(md5, strnlen(md5, 32));
  char ha2[33];
  md5_hex(str(method) + ":" + str(resource), ha2);
  return md5_hex(ha1 + ":" + str(nonce) + ":" + ha2, md5);
}
