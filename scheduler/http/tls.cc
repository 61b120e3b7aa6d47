#include "scheduler/http/tls.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include "scheduler/conf/conf.h"
#include "scheduler/log.h"
#include "vorn/http.h"

ssl_ctx_st* ServerContext = nullptr;

void LogTLSErrors(int level, const char* prefix) {
  unsigned long e;
  while ((e = ERR_get_error()) != 0) {
    char text[256];
    ERR_error_string_n(e, text, sizeof(text));
    LogDiagnostic(level, "%s: %s", prefix, text);
  }
}

int LoadServerContext(int failure_level) {
  FreeServerContext();
  OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
  vorn::tls_ctx_ptr ctx(SSL_CTX_new(TLS_server_method()));
  if (!ctx) {
    LogTLSErrors(failure_level, "LoadServerContext");
    return 0;
  }
  SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
  SSL_CTX_set_mode(ctx.get(), SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  if (SSL_CTX_use_certificate_chain_file(ctx.get(), ServerCertificate.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx.get(), ServerKey.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(ctx.get()) != 1) {
    LogDiagnostic(failure_level, "Unable to load the server certificate \"%s\" and key \"%s\"!",
                  ServerCertificate.c_str(), ServerKey.c_str());
    LogTLSErrors(failure_level, "LoadServerContext");
    return 0;
  }
  ServerContext = ctx.release();
  return 1;
}

void FreeServerContext() {
  if (ServerContext) SSL_CTX_free(ServerContext);
  ServerContext = nullptr;
}
