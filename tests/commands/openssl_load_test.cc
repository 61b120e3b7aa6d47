// The command programs start without OpenSSL: it is not among the libraries
// the dynamic loader maps for them, and it is opened only when a connection
// is encrypted. When it cannot be opened there, the encrypted connection
// fails with the reason and nothing goes out in the clear.
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

TEST(CommandsLoad, NoOpenSSLAmongTheLibrariesMappedAtStart) {
  const std::string dir = COMMANDS_DIR;
  const std::vector<std::string> programs = {
      SUBMIT_PATH,           ENQUEUE_PATH,           dir + "/qstatus", dir + "/showq",  dir + "/dequeue",
      dir + "/cancel",       dir + "/qctl",          dir + "/accept",  dir + "/jobmove", dir + "/qadmin",
      PWTOOL_PATH,           SOCKET_BACKEND_PATH,
  };
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

  // A folder where the loader finds "libssl.so.3" first: the C library
  // under that name, which opens but has none of OpenSSL's functions.
  Dl_info info{};
  ASSERT_NE(::dladdr(reinterpret_cast<void*>(&::printf), &info), 0);
  ASSERT_NE(info.dli_fname, nullptr);
  const std::string fake = env.file("fake-lib");
  std::filesystem::create_directories(fake);
  std::filesystem::create_symlink(std::filesystem::canonical(info.dli_fname), fake + "/libssl.so.3");

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
