// Running the PostScript interpreter that draws psraster's pages.
//
// The interpreter is the WebAssembly Ghostscript (npm package
// @okathira/ghostpdl-wasm 1.1.0) run by Node through gs-run.mjs. The
// command comes from the environment variable VORN_PSRASTER_COMMAND (words
// separated by blanks, the Ghostscript arguments are appended); without it,
// "node $VORN_DATADIR/psraster/gs-run.mjs". An installed system keeps the
// package in $VORN_DATADIR/psraster/ghostpdl-wasm (the install rule copies
// it there when the build tree has it); GS_WASM_DIR, when set, names
// another copy.
#pragma once

#include <string>
#include <vector>

namespace vorn::raster {

struct render_request {
  std::string input;        // PostScript file
  std::string output_dir;   // pages go to p-1.png, p-2.png, ...
  bool grey = false;        // pnggray instead of png16m
  unsigned xres = 0, yres = 0;
  double width_pt = 0, length_pt = 0;  // media size
};

// The interpreter's command words (configuration and defaults above).
std::vector<std::string> interpreter_command();

// Runs the interpreter; its own output goes to standard error, never into
// the raster stream. Returns its exit status (-1 when it could not start).
int render_pages(const render_request& req);

}  // namespace vorn::raster
