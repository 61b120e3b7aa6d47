// OpenSSL, loaded when a program first needs it. Most programs linked with
// libvorn only talk plain HTTP to the local scheduler; linking libssl and
// libcrypto would make each of them pay for the libraries' relocations at
// every start. The libraries stay shared (security updates reach them) and
// are opened with dlopen() by the first TLS session or digest.
#pragma once

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>

#include <cerrno>
#include <string>

namespace vorn::http {

// Every OpenSSL function libvorn calls, with the library it lives in. The
// pointers take their types from OpenSSL's own declarations, so a signature
// that differs from the headers does not compile. OpenSSL's macros expand to
// calls of these (SSL_set_mode and SSL_set_tlsext_host_name to SSL_ctrl,
// the BIO retry macros to BIO_set_flags/BIO_clear_flags): callers spell the
// expansion out through the table.
#define VORN_TLS_FUNCTIONS(SSL_FN, CRYPTO_FN) \
  SSL_FN(TLS_client_method)                   \
  SSL_FN(SSL_CTX_new)                         \
  SSL_FN(SSL_CTX_free)                        \
  SSL_FN(SSL_new)                             \
  SSL_FN(SSL_free)                            \
  SSL_FN(SSL_set_verify)                      \
  SSL_FN(SSL_ctrl)                            \
  SSL_FN(SSL_set_bio)                         \
  SSL_FN(SSL_set_accept_state)                \
  SSL_FN(SSL_connect)                         \
  SSL_FN(SSL_accept)                          \
  SSL_FN(SSL_get_error)                       \
  SSL_FN(SSL_read)                            \
  SSL_FN(SSL_peek)                            \
  SSL_FN(SSL_write)                           \
  SSL_FN(SSL_pending)                         \
  SSL_FN(SSL_shutdown)                        \
  CRYPTO_FN(ERR_clear_error)                  \
  CRYPTO_FN(ERR_peek_error)                   \
  CRYPTO_FN(BIO_get_new_index)                \
  CRYPTO_FN(BIO_meth_new)                     \
  CRYPTO_FN(BIO_meth_set_write)               \
  CRYPTO_FN(BIO_meth_set_read)                \
  CRYPTO_FN(BIO_meth_set_puts)                \
  CRYPTO_FN(BIO_meth_set_ctrl)                \
  CRYPTO_FN(BIO_meth_set_create)              \
  CRYPTO_FN(BIO_new)                          \
  CRYPTO_FN(BIO_get_data)                     \
  CRYPTO_FN(BIO_set_data)                     \
  CRYPTO_FN(BIO_set_init)                     \
  CRYPTO_FN(BIO_set_flags)                    \
  CRYPTO_FN(BIO_clear_flags)                  \
  CRYPTO_FN(EVP_md5)                          \
  CRYPTO_FN(EVP_Digest)

struct tls_api {
#define VORN_TLS_POINTER(name) decltype(&::name) name = nullptr;
  VORN_TLS_FUNCTIONS(VORN_TLS_POINTER, VORN_TLS_POINTER)
#undef VORN_TLS_POINTER
};

// The names the libraries are opened by: their sonames, found where the
// dynamic loader finds any library.
inline constexpr char kSslLibrary[] = "libssl.so.3";
inline constexpr char kCryptoLibrary[] = "libcrypto.so.3";

// Opens the two libraries by the names given and fills every pointer of
// `api`. On failure returns false, leaves `api` untouched and puts into
// `error` "Unable to load the TLS library: " and the loader's reason.
bool tls_load(tls_api* api, const char* ssl_name, const char* crypto_name, std::string* error);

// The process's table, loaded from kSslLibrary and kCryptoLibrary at the
// first call (thread-safe; a failure is remembered, not retried), or
// nullptr when they cannot be loaded: tls_load_error() then says why.
const tls_api* tls_library();

// Why the libraries could not be loaded (trying them first if no one has);
// "" when they were.
const char* tls_load_error();

// The errno a connection reports when TLS was wanted and the libraries
// could not be loaded ("Can not access a needed shared library").
inline constexpr int kTlsUnavailable = ELIBACC;

}  // namespace vorn::http
