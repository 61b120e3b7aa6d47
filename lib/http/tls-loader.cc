// Opening libssl and libcrypto at their first use and finding the functions
// libvorn calls in them.

#include "tls-loader.h"

#include <dlfcn.h>

namespace vorn::http {
namespace {

struct loaded_tls {
  tls_api api;
  std::string error;
  bool ok = false;
};

const loaded_tls& process_tls() {
  // Never destroyed: sessions may still be closed from exit handlers.
  static const loaded_tls* tls = [] {
    auto* t = new loaded_tls;
    t->ok = tls_load(&t->api, kSslLibrary, kCryptoLibrary, &t->error);
    return t;
  }();
  return *tls;
}

// The loader's reason for the last dl* failure, or `fallback`.
std::string dl_reason(const std::string& fallback) {
  const char* e = ::dlerror();
  return e ? e : fallback;
}

}  // namespace

bool tls_load(tls_api* api, const char* ssl_name, const char* crypto_name, std::string* error) {
  // RTLD_NOW: a library that cannot resolve its own symbols fails here, with
  // a reason, instead of aborting the program in the middle of a call.
  // RTLD_LOCAL: OpenSSL's symbols stay out of the global scope, so they
  // neither interpose on nor get bound by libraries the program opens later;
  // the table is the only way in. RTLD_NODELETE: the table, the socket BIO
  // method and OpenSSL's exit handler must outlive any dlclose.
  constexpr int kFlags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;
  const std::string prefix = "Unable to load the TLS library: ";
  ::dlerror();
  void* crypto = ::dlopen(crypto_name, kFlags);
  if (!crypto) {
    if (error) *error = prefix + dl_reason(std::string(crypto_name) + ": cannot be opened");
    return false;
  }
  void* ssl = ::dlopen(ssl_name, kFlags);
  if (!ssl) {
    if (error) *error = prefix + dl_reason(std::string(ssl_name) + ": cannot be opened");
    ::dlclose(crypto);
    return false;
  }

  tls_api table;
  std::string missing;
  auto find = [&](void* lib, const char* lib_name, const char* name) -> void* {
    if (!missing.empty()) return nullptr;
    ::dlerror();
    void* sym = ::dlsym(lib, name);
    if (!sym) missing = dl_reason(std::string(lib_name) + ": undefined symbol: " + name);
    return sym;
  };
#define VORN_TLS_FROM_SSL(name) table.name = reinterpret_cast<decltype(table.name)>(find(ssl, ssl_name, #name));
#define VORN_TLS_FROM_CRYPTO(name) \
  table.name = reinterpret_cast<decltype(table.name)>(find(crypto, crypto_name, #name));
  VORN_TLS_FUNCTIONS(VORN_TLS_FROM_SSL, VORN_TLS_FROM_CRYPTO)
#undef VORN_TLS_FROM_SSL
#undef VORN_TLS_FROM_CRYPTO

  if (!missing.empty()) {
    if (error) *error = prefix + missing;
    ::dlclose(ssl);
    ::dlclose(crypto);
    return false;
  }
  *api = table;
  if (error) error->clear();
  return true;
}

const tls_api* tls_library() {
  const loaded_tls& t = process_tls();
  return t.ok ? &t.api : nullptr;
}

const char* tls_load_error() { return process_tls().error.c_str(); }

}  // namespace vorn::http
