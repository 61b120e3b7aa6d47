// The scheduler's TLS server context: one SSL_CTX holding ServerCertificate
// and ServerKey, shared by every encrypted connection. It is loaded when the
// server starts and freed when it stops, so a reload picks up new files.
#pragma once

struct ssl_ctx_st;  // OpenSSL's SSL_CTX

// nullptr while stopped or when the certificate or key could not be loaded.
extern ssl_ctx_st* ServerContext;

// Creates ServerContext from ServerCertificate and ServerKey (PEM). Failures
// are logged at `failure_level` (error when SSL listeners need the context,
// lower otherwise) and leave ServerContext nullptr. Returns 1 or 0.
int LoadServerContext(int failure_level);

// Frees ServerContext; sessions still open keep their own reference.
void FreeServerContext();

// Logs every queued OpenSSL error as "<prefix>: <text>" at `level`.
void LogTLSErrors(int level, const char* prefix);
