// Runs one raster driver on fuzz input as a raster stream. The first byte
// picks the printer (PPD model number and options) so every family's code
// is reached; the rest is the stream, read from a memory file like the
// pipe the driver reads when printing. Output goes to /dev/null; the
// driver's status lines stay on standard error with libFuzzer's own.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>

#include "vorn/fd.h"
#include "vorn/raster.h"

template <class Run>
int FuzzDriver(const uint8_t* data, size_t size, Run run) {
  if (size < 1) return 0;
  static FILE* sink = std::fopen("/dev/null", "w");
  vorn::unique_fd fd(memfd_create("raster", 0));
  if (!fd || vorn::write_all(fd.get(), data + 1, size - 1) != 0 || lseek(fd.get(), 0, SEEK_SET) != 0) return 0;
  vorn_raster_t* ras = vornRasterOpen(fd.get(), VORN_RASTER_READ);
  run(data[0], ras, sink);
  vornRasterClose(ras);
  // The driver catches SIGTERM to end its page cleanly; the fuzzer must
  // still stop when told to.
  std::signal(SIGTERM, SIG_DFL);
  return 0;
}
