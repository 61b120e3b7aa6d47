// Local certificates: random texts the scheduler writes into files only the
// right reader can open, so that local programs prove who they are without
// a password ("Authorization: Local <text>"). The root certificate (pid 0)
// is readable by the first system group and stands for "root"; every CGI
// program gets one for its pid and the requesting user.
#pragma once

#include <ctime>
#include <string>
#include <sys/types.h>
#include <vector>

constexpr size_t kCertLength = 32;

struct cert_t {
  pid_t pid = 0;
  std::string username;  // at most 32 characters
  std::string certificate;  // kCertLength characters of "0123456789ABCDEF"
};

// Most recent first.
extern std::vector<cert_t> Certs;
// When the root certificate was last made; 0 when there is none.
extern time_t RootCertTime;

// Makes the root certificate (start-up).
void InitCertificates();

// Creates ServerRoot/certs/<pid> with a new certificate for `user` from the
// system's cryptographic random source. False (logged) when the file cannot
// be made or no random bytes can be had: no certificate is added.
bool AddCert(pid_t pid, const std::string& user);

// Removes the certificate of `pid` and its file, when there is one.
void DeleteCert(pid_t pid);
void DeleteAllCerts();

// The user of a certificate text (compared ignoring case); nullptr when it
// matches none.
const char* LookupCert(const std::string& certificate);

// Makes a new root certificate when the one in use is older than
// RootCertDuration seconds (never when that is 0 or less).
void RenewRootCert(time_t now);
