// Base64, the RFC 2617 digests, sub-fields of authentication headers, and
// the tables of field names and status texts.

#include "vorn/http.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace {

// --- Base64 ------------------------------------------------------------------

TEST(HttpBase64, EncodesAndDecodes) {
  static const struct {
    std::string plain;
    const char* encoded;
  } cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"Aladdin:open sesame", "QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
      {std::string("\0\xff\x10", 3), "AP8Q"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.encoded);
    char enc[64];
    httpEncode64(enc, sizeof(enc), c.plain.data(), int(c.plain.size()));
    EXPECT_STREQ(enc, c.encoded);

    char dec[64];
    int len = sizeof(dec);
    ASSERT_NE(httpDecode64(dec, &len, c.encoded), nullptr);
    EXPECT_EQ(std::string(dec, size_t(len)), c.plain);
  }
}

TEST(HttpBase64, DecodeSkipsWhiteSpaceAndRejectsOtherCharacters) {
  char out[32];
  int len = sizeof(out);
  ASSERT_NE(httpDecode64(out, &len, " Zm9v\r\nYmFy "), nullptr);
  EXPECT_EQ(std::string(out, size_t(len)), "foobar");

  for (const char* bad : {"Zm9v!", "Zm9v YmF*", "\x80\x81"}) {
    len = sizeof(out);
    std::strcpy(out, "junk");
    EXPECT_EQ(httpDecode64(out, &len, bad), nullptr) << bad;
    EXPECT_EQ(len, 0);
    EXPECT_STREQ(out, "");
  }
}

TEST(HttpBase64, OutputStaysInsideTheBuffer) {
  // Decoding: the text is cut at size - 1 bytes; the guard survives.
  struct {
    char buf[5];
    char guard[4];
  } d;
  std::memset(d.guard, 'G', sizeof(d.guard));
  int len = sizeof(d.buf);
  httpDecode64(d.buf, &len, "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
  EXPECT_EQ(len, 4);
  EXPECT_STREQ(d.buf, "Alad");
  EXPECT_EQ(std::string(d.guard, 4), "GGGG");

  // Encoding: only whole groups of four that fit, so the result decodes.
  struct {
    char buf[11];
    char guard[4];
  } e;
  std::memset(e.guard, 'G', sizeof(e.guard));
  httpEncode64(e.buf, sizeof(e.buf), "Aladdin:open sesame", 19);
  EXPECT_STREQ(e.buf, "QWxhZGRp");
  EXPECT_EQ(std::string(e.guard, 4), "GGGG");

  char tiny[1] = {'x'};
  httpEncode64(tiny, 1, "abc", 3);
  EXPECT_EQ(tiny[0], '\0');
  len = 0;
  EXPECT_EQ(httpDecode64(tiny, &len, "YWJj"), nullptr);
}

// --- Digests ------------------------------------------------------------------

// MD5 of `text` in hex by the openssl command, independent of the library's
// code.
std::string openssl_md5(const std::string& text) {
  char dir[] = "/tmp/vorn-md5-XXXXXX";
  if (!mkdtemp(dir)) return "mkdtemp failed";
  std::string path = std::string(dir) + "/in";
  std::ofstream(path, std::ios::binary) << text;
  std::string cmd = "openssl dgst -md5 -r " + path;
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[128];
    while (std::fgets(buf, sizeof(buf), p)) out += buf;
    pclose(p);
  }
  unlink(path.c_str());
  rmdir(dir);
  return out.substr(0, 32);
}

// The example of RFC 2617, section 3.5.
constexpr const char* kUser = "Mufasa";
constexpr const char* kRealm = "testrealm@host.com";
constexpr const char* kPassword = "Circle Of Life";
constexpr const char* kNonce = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
constexpr const char* kUri = "/dir/index.html";
constexpr const char* kHA1 = "939e7578ed9e3c518a452acee763bce9";  // from the RFC
constexpr const char* kHA2 = "39aff3a2bab6126f332b942af96d3366";  // from the RFC

TEST(HttpMD5, MatchesTheRfc2617Example) {
  char md5[33];
  EXPECT_STREQ(httpMD5(kUser, kRealm, kPassword, md5), kHA1);
  ASSERT_EQ(openssl_md5(std::string(kUser) + ":" + kRealm + ":" + kPassword), kHA1);
  ASSERT_EQ(openssl_md5(std::string("GET:") + kUri), kHA2);

  // Without qop the response is MD5(HA1:nonce:HA2).
  const std::string want = openssl_md5(std::string(kHA1) + ":" + kNonce + ":" + kHA2);
  ASSERT_EQ(want.size(), 32u);
  EXPECT_STREQ(httpMD5Final(kNonce, "GET", kUri, md5), want.c_str());
}

TEST(HttpMD5, ResponseDependsOnEveryInput) {
  static const struct {
    const char *nonce, *method, *uri;
  } cases[] = {
      {"other-nonce", "GET", kUri},
      {kNonce, "POST", kUri},
      {kNonce, "GET", "/dir/index.htm"},
  };
  char ref[33];
  std::strcpy(ref, kHA1);
  httpMD5Final(kNonce, "GET", kUri, ref);
  for (const auto& c : cases) {
    char md5[33];
    std::strcpy(md5, kHA1);
    httpMD5Final(c.nonce, c.method, c.uri, md5);
    EXPECT_EQ(std::strlen(md5), 32u);
    EXPECT_STRNE(md5, ref) << c.nonce << " " << c.method << " " << c.uri;
  }
}

TEST(HttpMD5, StoredHashFormOfThePasswordFile) {
  char md5[33];
  httpMD5("bob", "VORN", "s3cret", md5);
  EXPECT_EQ(std::string(md5), openssl_md5("bob:VORN:s3cret"));
}

TEST(HttpMD5, StringIsLowerCaseHex) {
  unsigned char sum[16];
  for (int i = 0; i < 16; i++) sum[i] = static_cast<unsigned char>(i * 17);
  char md5[33];
  EXPECT_STREQ(httpMD5String(sum, md5), "00112233445566778899aabbccddeeff");
}

// --- Sub-fields ---------------------------------------------------------------

TEST(HttpGetSubField, ReadsAuthenticationHeaders) {
  static const struct {
    const char* header;
    const char* name;
    const char* want;  // nullptr: not found
  } cases[] = {
      {"Digest realm=\"VORN\" nonce=\"printhost\"", "realm", "VORN"},
      {"Digest realm=\"VORN\" nonce=\"printhost\"", "nonce", "printhost"},
      {"Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
       "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"",
       "qop", "auth,auth-int"},
      {"Digest realm=\"testrealm@host.com\", qop=\"auth,auth-int\", "
       "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"",
       "opaque", "5ccc069c403ebaf9f0171e9517f40e41"},
      {"Digest username=\"Mufasa\", realm=\"testrealm@host.com\", nonce=\"dcd98b\", uri=\"/dir/index.html\", "
       "qop=auth, nc=00000001, cnonce=\"0a4f113b\", response=\"6629fae49393a05397450978507c4ef1\"",
       "nc", "00000001"},
      {"Digest username=\"Mufasa\", realm=\"testrealm@host.com\", nonce=\"dcd98b\", uri=\"/dir/index.html\", "
       "qop=auth, nc=00000001, cnonce=\"0a4f113b\", response=\"6629fae49393a05397450978507c4ef1\"",
       "response", "6629fae49393a05397450978507c4ef1"},
      {"Digest username=\"Mufasa\", uri=\"/dir/index.html\"", "USERNAME", "Mufasa"},
      {"Digest stale=false,algorithm=MD5", "algorithm", "MD5"},
      {"Digest realm = \"spaced\" , nonce = abc", "nonce", "abc"},
      {"Digest realm=\"a \\\"quoted\\\" word\"", "realm", "a \"quoted\" word"},
      {"Digest realm=\"\"", "realm", ""},
      {"Digest realm=\"unterminated", "realm", "unterminated"},
      {"Basic realm=\"VORN\"", "realm", "VORN"},
      {"Basic realm=\"VORN\"", "nonce", nullptr},
      {"Digest nonce", "nonce", nullptr},
      {"Digest nonce=", "nonce", ""},
      {"Digest xnonce=\"a\", nonce=\"b\"", "nonce", "b"},
      {"Digest realm=\"nonce=x\", nonce=\"y\"", "nonce", "y"},
      {"", "realm", nullptr},
  };
  http_t http;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    httpSetField(&http, HTTP_FIELD_WWW_AUTHENTICATE, c.header);
    char value[HTTP_MAX_VALUE] = "junk";
    char* got = httpGetSubField(&http, HTTP_FIELD_WWW_AUTHENTICATE, c.name, value);
    if (c.want) {
      ASSERT_EQ(got, value);
      EXPECT_STREQ(value, c.want);
    } else {
      EXPECT_EQ(got, nullptr);
      EXPECT_STREQ(value, "");
    }
  }
}

TEST(HttpGetSubField, CutsLongValuesAtTheBuffer) {
  http_t http;
  httpSetField(&http, HTTP_FIELD_AUTHORIZATION, "Digest username=\"abcdefghijklmnop\", response=\"x\"");
  struct {
    char buf[6];
    char guard[4];
  } v;
  std::memset(v.guard, 'G', sizeof(v.guard));
  ASSERT_NE(httpGetSubField(&http, HTTP_FIELD_AUTHORIZATION, "username", v.buf, sizeof(v.buf)), nullptr);
  EXPECT_STREQ(v.buf, "abcde");
  EXPECT_EQ(std::string(v.guard, 4), "GGGG");
  // A cut value does not disturb the items after it.
  char r[8];
  ASSERT_NE(httpGetSubField(&http, HTTP_FIELD_AUTHORIZATION, "response", r, sizeof(r)), nullptr);
  EXPECT_STREQ(r, "x");
}

// --- Fields, status texts, states -----------------------------------------------

TEST(HttpFields, SetCutsAt255AndNamesMapBothWays) {
  http_t http;
  std::string longv(400, 'v');
  httpSetField(&http, HTTP_FIELD_CONTENT_TYPE, longv.c_str());
  EXPECT_EQ(std::string(httpGetField(&http, HTTP_FIELD_CONTENT_TYPE)), longv.substr(0, 255));
  httpSetField(&http, HTTP_FIELD_CONTENT_TYPE, nullptr);
  EXPECT_STREQ(httpGetField(&http, HTTP_FIELD_CONTENT_TYPE), "");
  EXPECT_EQ(httpGetField(&http, HTTP_FIELD_MAX), nullptr);
  EXPECT_EQ(httpGetField(&http, HTTP_FIELD_UNKNOWN), nullptr);
  httpSetField(&http, HTTP_FIELD_MAX, "ignored");  // must not write anywhere

  for (int f = 0; f < HTTP_FIELD_MAX; f++) {
    const char* name = httpFieldName(http_field_t(f));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(httpFieldValue(name), f) << name;
  }
  EXPECT_EQ(httpFieldValue("content-length"), HTTP_FIELD_CONTENT_LENGTH);
  EXPECT_EQ(httpFieldValue("WWW-AUTHENTICATE"), HTTP_FIELD_WWW_AUTHENTICATE);
  EXPECT_EQ(httpFieldValue("X-Unknown"), HTTP_FIELD_UNKNOWN);
  EXPECT_EQ(httpFieldValue("Content-Length2"), HTTP_FIELD_UNKNOWN);
  EXPECT_EQ(httpFieldValue(nullptr), HTTP_FIELD_UNKNOWN);
}

TEST(HttpFields, LengthOfTheMessage) {
  static const struct {
    const char *length, *encoding;
    int64_t want;
  } cases[] = {
      {"", "", 0},           {"1234", "", 1234},        {" 42 ", "", 42},
      {"-1", "", -1},        {"12abc", "", -1},         {"0x10", "", -1},
      {"99999999999999999999", "", -1},                 {"123", "chunked", 0},
      {"", "Chunked", 0},
  };
  http_t http;
  for (const auto& c : cases) {
    httpSetField(&http, HTTP_FIELD_CONTENT_LENGTH, c.length);
    httpSetField(&http, HTTP_FIELD_TRANSFER_ENCODING, c.encoding);
    EXPECT_EQ(httpGetLength(&http), c.want) << c.length << " " << c.encoding;
  }
}

TEST(HttpStatus, ReasonPhrases) {
  static const struct {
    http_status_t code;
    const char* text;
  } cases[] = {
      {HTTP_CONTINUE, "Continue"},        {HTTP_SWITCHING_PROTOCOLS, "Switching Protocols"},
      {HTTP_OK, "OK"},                    {HTTP_NOT_MODIFIED, "Not Modified"},
      {HTTP_BAD_REQUEST, "Bad Request"},  {HTTP_UNAUTHORIZED, "Unauthorized"},
      {HTTP_FORBIDDEN, "Forbidden"},      {HTTP_NOT_FOUND, "Not Found"},
      {HTTP_REQUEST_TOO_LARGE, "Request Entity Too Large"},
      {HTTP_UPGRADE_REQUIRED, "Upgrade Required"},
      {HTTP_SERVER_ERROR, "Internal Server Error"},
      {HTTP_NOT_IMPLEMENTED, "Not Implemented"},
      {HTTP_NOT_SUPPORTED, "HTTP Version Not Supported"},
      {http_status_t(299), "Unknown"},
  };
  for (const auto& c : cases) EXPECT_STREQ(httpStatus(c.code), c.text) << c.code;
}

TEST(HttpStateString, MethodNamesOfStates) {
  static const struct {
    http_state_t state;
    const char* name;
  } cases[] = {
      {HTTP_WAITING, "WAITING"}, {HTTP_OPTIONS, "OPTIONS"}, {HTTP_GET, "GET"},       {HTTP_GET_SEND, "GET"},
      {HTTP_HEAD, "HEAD"},       {HTTP_POST, "POST"},       {HTTP_POST_RECV, "POST"}, {HTTP_POST_SEND, "POST"},
      {HTTP_PUT, "PUT"},         {HTTP_PUT_RECV, "PUT"},    {HTTP_DELETE, "DELETE"}, {HTTP_TRACE, "TRACE"},
      {HTTP_CLOSE, "CLOSE"},     {HTTP_STATUS, "STATUS"},
  };
  for (const auto& c : cases) EXPECT_STREQ(httpStateString(c.state), c.name) << c.state;
}

}  // namespace
