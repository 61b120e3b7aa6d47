// The command programs start without OpenSSL: it is not among the libraries
// the dynamic loader maps for them, and it is opened only when a connection
// is encrypted. When it cannot be opened there, the encrypted connection
// fails with the reason and nothing goes out in the clear, and a Digest
// challenge is not answered (nor a password asked for).
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../fixtures/dests/ipp_server.h"
#include "commands_fixture.h"
#include "pty_run.h"

namespace {

using namespace commands;

// The DT_NEEDED entries of a 64-bit little-endian ELF file, read from its
// dynamic section; false when the file is not such a file or is cut short.
bool NeededLibraries(const std::string& path, std::vector<std::string>* needed) {
  std::ifstream in(path, std::ios::binary);
  std::string elf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto fits = [&](uint64_t off, uint64_t len) { return off <= elf.size() && len <= elf.size() - off; };
  Elf64_Ehdr eh;
  if (!fits(0, sizeof(eh))) return false;
  std::memcpy(&eh, elf.data(), sizeof(eh));
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64 ||
      eh.e_ident[EI_DATA] != ELFDATA2LSB || eh.e_shentsize != sizeof(Elf64_Shdr))
    return false;
  auto section = [&](unsigned i, Elf64_Shdr* sh) {
    uint64_t off = eh.e_shoff + uint64_t(i) * sizeof(Elf64_Shdr);
    if (i >= eh.e_shnum || !fits(off, sizeof(*sh))) return false;
    std::memcpy(sh, elf.data() + off, sizeof(*sh));
    return true;
  };
  bool found = false;
  for (unsigned i = 0; i < eh.e_shnum; i++) {
    Elf64_Shdr dyn, str;
    if (!section(i, &dyn) || dyn.sh_type != SHT_DYNAMIC) continue;
    if (!section(dyn.sh_link, &str) || !fits(dyn.sh_offset, dyn.sh_size) || !fits(str.sh_offset, str.sh_size))
      return false;
    found = true;
    for (uint64_t at = 0; at + sizeof(Elf64_Dyn) <= dyn.sh_size; at += sizeof(Elf64_Dyn)) {
      Elf64_Dyn d;
      std::memcpy(&d, elf.data() + dyn.sh_offset + at, sizeof(d));
      if (d.d_tag == DT_NULL) break;
      if (d.d_tag != DT_NEEDED || d.d_un.d_val >= str.sh_size) continue;
      const char* name = elf.data() + str.sh_offset + d.d_un.d_val;
      needed->emplace_back(name, strnlen(name, str.sh_size - d.d_un.d_val));
    }
  }
  return found;
}

bool IsOpenSSL(const std::string& lib) { return lib.rfind("libssl.", 0) == 0 || lib.rfind("libcrypto.", 0) == 0; }

std::string Joined(const std::vector<std::string>& v) {
  std::string s;
  for (const std::string& x : v) s += (s.empty() ? "" : " ") + x;
  return s;
}

// A folder where the loader finds "libssl.so.3" first: the C library under
// that name, which opens but has none of OpenSSL's functions. "" on failure.
std::string FakeSslFolder(const CommandEnv& env) {
  Dl_info info{};
  if (!::dladdr(reinterpret_cast<void*>(&::printf), &info) || !info.dli_fname) return "";
  const std::string fake = env.file("fake-lib");
  std::error_code ec;
  std::filesystem::create_directories(fake, ec);
  std::filesystem::create_symlink(std::filesystem::canonical(info.dli_fname, ec), fake + "/libssl.so.3", ec);
  return ec ? "" : fake;
}

TEST(CommandsLoad, NoOpenSSLAmongTheLibrariesMappedAtStart) {
  const std::string dir = COMMANDS_DIR;
  std::vector<std::string> programs = {SUBMIT_PATH, ENQUEUE_PATH, PWTOOL_PATH, SOCKET_BACKEND_PATH};
  for (const char* name : {"qstatus", "showq", "dequeue", "cancel", "qctl", "accept", "jobmove", "qadmin"})
    programs.push_back(dir + "/" + name);
  for (const std::string& p : programs) {
    SCOPED_TRACE(p);
    std::vector<std::string> needed;
    ASSERT_TRUE(NeededLibraries(p, &needed));
    // Each still needs the C library: the entries were read.
    EXPECT_NE(std::find(needed.begin(), needed.end(), "libc.so.6"), needed.end()) << Joined(needed);
    for (const std::string& lib : needed) EXPECT_FALSE(IsOpenSSL(lib)) << Joined(needed);
  }
  // The scheduler calls OpenSSL itself and keeps linking it: the reading
  // does see such an entry.
  std::vector<std::string> vornd;
  ASSERT_TRUE(NeededLibraries(VORND_PATH, &vornd));
  EXPECT_TRUE(std::any_of(vornd.begin(), vornd.end(), IsOpenSSL)) << Joined(vornd);
}

// qstatus -E -o against a server that upgrades to TLS: with OpenSSL it
// asks over TLS; with a libssl.so.3 that is not OpenSSL found first, it
// ends with the reason and the server receives nothing.
TEST(CommandsLoad, EncryptionWithoutAUsableTLSLibrary) {
  CommandEnv env;
  ippserver::Ctx tls = ippserver::make_tls_context();
  ASSERT_TRUE(tls);
  ippserver::Server server([](const ippserver::Request&) { return ippserver::ok(ippserver::ipp_response(0)); },
                           nullptr, tls.get());
  ASSERT_GT(server.port(), 0);
  const std::string host = "127.0.0.1:" + std::to_string(server.port());
  const std::string qstatus = std::string(COMMANDS_DIR) + "/qstatus";

  RunResult good = env.Run(qstatus, {"-E", "-h", host, "-o"});
  EXPECT_EQ(good.term_signal, 0);
  EXPECT_EQ(good.exit_status, 0) << good.err;
  std::vector<ippserver::Request> seen = server.requests();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front().method, "OPTIONS");
  EXPECT_TRUE(seen.back().tls);

  const std::string fake = FakeSslFolder(env);
  ASSERT_NE(fake, "");
  std::vector<std::string> argv = env.Argv(qstatus, {"-E", "-h", host, "-o"});
  argv.insert(argv.begin() + 2, "LD_LIBRARY_PATH=" + fake);
  RunResult bad = RunProgram(argv, std::chrono::seconds(60));
  EXPECT_EQ(bad.term_signal, 0);
  EXPECT_EQ(bad.exit_status, 1);
  EXPECT_EQ(bad.err, "qstatus: Unable to connect to server: " + std::string(std::strerror(ELIBACC)) + "\n");
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(server.requests().size(), seen.size()) << "a request went out";
}

}  // namespace

// A server that wants Digest authentication: with OpenSSL, submit asks for
// the password on the terminal and answers the challenge; without a usable
// library it can make no answer, so it does not ask and sends none.
TEST(CommandsLoad, DigestChallengeWithoutAUsableTLSLibrary) {
  CommandEnv env;
  const std::string fake = FakeSslFolder(env);
  ASSERT_NE(fake, "");
  ippserver::Server server([](const ippserver::Request& r) {
    if (!r.authorization.empty()) return ippserver::ok(ippserver::ipp_response(0));
    ippserver::Reply refuse;
    refuse.status = 401;
    refuse.headers = "WWW-Authenticate: Digest realm=\"VORN\" nonce=\"n0nce\"\r\n";
    return refuse;
  });
  ASSERT_GT(server.port(), 0);
  const std::vector<std::string> args = {"-h", "127.0.0.1:" + std::to_string(server.port()), "-i", "4"};
  const std::string prompt = "Password for ";

  PtyRun good = RunOnPty(env.Argv(SubmitPath(), args), {"secret1"}, prompt);
  EXPECT_EQ(good.status, 0) << good.output;
  EXPECT_NE(good.output.find(prompt), std::string::npos) << good.output;
  std::vector<ippserver::Request> seen = server.requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].auth_nonce, "n0nce");
  EXPECT_EQ(seen[1].auth_response.size(), 32u) << seen[1].authorization;

  std::vector<std::string> argv = env.Argv(SubmitPath(), args);
  argv.insert(argv.begin() + 2, "LD_LIBRARY_PATH=" + fake);
  PtyRun bad = RunOnPty(argv, {"secret1"}, prompt);
  EXPECT_EQ(bad.status, 1) << bad.output;
  EXPECT_EQ(bad.output.find(prompt), std::string::npos) << bad.output;
  std::vector<ippserver::Request> all = server.requests();
  ASSERT_GT(all.size(), seen.size());
  for (size_t i = seen.size(); i < all.size(); i++) EXPECT_EQ(all[i].authorization, "") << i;
}
