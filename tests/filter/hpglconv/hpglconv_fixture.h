// Running hpglconv as a child process with the data directory the build
// makes, and rendering its PostScript with the WebAssembly Ghostscript.
#pragma once

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "filter_test_env.h"
#include "harness.h"
#include "png_compare.h"

namespace hpglconv_test {

using namespace std::chrono_literals;
using filter_test::ScopedEnv;
using textconv_test::GreyImage;

struct Converted {
  int rc = -1;
  std::string out, err;
};

// Converts `plot` with the options given; `ppd` is the PPD variable
// ("" for none). The timeout is a watchdog against a filter that never ends.
inline Converted Convert(const std::string& plot, const std::string& options = "", const std::string& ppd = "") {
  ScopedEnv datadir("VORN_DATADIR", HPGLCONV_DATA);
  ScopedEnv ppd_env("PPD", ppd.empty() ? nullptr : ppd.c_str());
  e2e::RunResult r = e2e::RunProgram({HPGLCONV_PATH, "1", "ann", "plot", "1", options}, 300s, plot);
  return {r.exit_status, r.out, r.err};
}

// A temporary directory and the renderer.
class Renderer {
 public:
  Renderer() {
    node_ = e2e::FindProgram("node");
    char dir[] = "/tmp/vorn-hpglconv-XXXXXX";
    if (::mkdtemp(dir)) dir_ = dir;
  }
  ~Renderer() {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  bool ready() const { return !node_.empty() && !dir_.empty(); }
  const std::string& dir() const { return dir_; }
  std::string page(const std::string& name, int n) const {
    return dir_ + "/" + name + "-" + std::to_string(n) + ".png";
  }

  // Renders `ps` in grey at `dpi`; the pages drawn, or -1 when Ghostscript
  // failed or reported an error (its output in `log`).
  int Render(const std::string& ps, const std::string& name, int dpi, std::string* log = nullptr) {
    const std::string in = dir_ + "/" + name + ".ps";
    if (!e2e::WriteFile(in, ps)) return -1;
    e2e::RunResult r = e2e::RunProgram(
        {node_, std::string(VORN_SOURCE_DIR) + "/tests/fixtures/render/gs-run.mjs", "-q", "-dNOPAUSE", "-dBATCH",
         "-dSAFER", "-sDEVICE=pnggray", "-r" + std::to_string(dpi), "-sOutputFile=" + dir_ + "/" + name + "-%d.png",
         in},
        300s);
    if (log) *log = r.out + r.err;
    std::filesystem::remove(in);
    if (r.exit_status != 0 || r.out.find("Error") != std::string::npos ||
        r.err.find("Error") != std::string::npos)
      return -1;
    int pages = 0;
    while (std::filesystem::exists(page(name, pages + 1))) pages++;
    return pages;
  }

 private:
  std::string node_, dir_;
};

// A rectangle of the page in points, origin at the lower left of the media.
struct Box {
  double left, bottom, right, top;
};

// Dark pixels (below mid grey) of `img`, rendered at `dpi`, inside `b`
// (inside = true) or outside it.
inline long DarkPixels(const GreyImage& img, int dpi, Box b, bool inside) {
  long n = 0;
  for (int y = 0; y < img.height; y++) {
    for (int x = 0; x < img.width; x++) {
      if (img.pixels[size_t(y) * size_t(img.width) + size_t(x)] >= 128) continue;
      const double px = (x + 0.5) * 72.0 / dpi, py = (img.height - y - 0.5) * 72.0 / dpi;
      const bool in = px >= b.left && px <= b.right && py >= b.bottom && py <= b.top;
      if (in == inside) n++;
    }
  }
  return n;
}

}  // namespace hpglconv_test
