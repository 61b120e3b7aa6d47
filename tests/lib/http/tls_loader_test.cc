// The run-time loading of OpenSSL: libraries that are missing or are not
// OpenSSL fail with the loader's reason and leave the table empty; the real
// ones fill every entry with a working function.
#include <gtest/gtest.h>

#include <string>

#include "lib/http/tls-loader.h"
#include "vorn/http.h"

namespace {

using vorn::http::kCryptoLibrary;
using vorn::http::kSslLibrary;
using vorn::http::tls_api;
using vorn::http::tls_load;

// The names of the entries of `api` that are set (`set`) or null.
std::string Entries(const tls_api& api, bool set) {
  std::string names;
#define VORN_TEST_ENTRY(name) \
  if ((api.name != nullptr) == set) names += std::string(names.empty() ? "" : " ") + #name;
  VORN_TLS_FUNCTIONS(VORN_TEST_ENTRY, VORN_TEST_ENTRY)
#undef VORN_TEST_ENTRY
  return names;
}

TEST(TlsLoader, LibrariesThatCannotServeFailWithTheReason) {
  struct Case {
    const char* ssl;
    const char* crypto;
    std::string reason;  // what follows "Unable to load the TLS library: "
  };
  const Case cases[] = {
      {"libvorn-no-such-ssl.so.3", kCryptoLibrary,
       "libvorn-no-such-ssl.so.3: cannot open shared object file: No such file or directory"},
      {kSslLibrary, "libvorn-no-such-crypto.so.3",
       "libvorn-no-such-crypto.so.3: cannot open shared object file: No such file or directory"},
      // Libraries that open but are not OpenSSL: the first function looked
      // up in each is missing.
      {"libc.so.6", kCryptoLibrary, "undefined symbol: TLS_client_method"},
      {kSslLibrary, "libc.so.6", "undefined symbol: ERR_clear_error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.ssl) + " + " + c.crypto);
    tls_api api;
    std::string error = "not set";
    EXPECT_FALSE(tls_load(&api, c.ssl, c.crypto, &error));
    EXPECT_EQ(error.rfind("Unable to load the TLS library: ", 0), 0u) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(Entries(api, true), "") << "a failed load leaves the table as it was";
  }
}

TEST(TlsLoader, RealLibrariesFillEveryEntry) {
  tls_api api;
  std::string error = "not set";
  ASSERT_TRUE(tls_load(&api, kSslLibrary, kCryptoLibrary, &error)) << error;
  EXPECT_EQ(error, "");
  EXPECT_EQ(Entries(api, false), "");

  // The entries are the functions they are named after.
  unsigned char sum[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  ASSERT_EQ(api.EVP_Digest("abc", 3, sum, &len, api.EVP_md5(), nullptr), 1);
  char hex[33];
  ASSERT_EQ(len, 16u);
  EXPECT_STREQ(httpMD5String(sum, hex), "900150983cd24fb0d6963f7d28e17f72");

  // The process's own table loads from the same names.
  ASSERT_NE(vorn::http::tls_library(), nullptr) << vorn::http::tls_load_error();
  EXPECT_STREQ(vorn::http::tls_load_error(), "");
  EXPECT_EQ(Entries(*vorn::http::tls_library(), false), "");
}

}  // namespace
