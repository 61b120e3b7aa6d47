// pdfconv: a PDF document as PostScript for the printer, through poppler.
//
//   pdfconv job-id user title copies options [file]
//
// Environment: PPD (the printer's PPD file). Page selection, N-up, labels
// and PAGE: lines are the work of psconv, which reads this output.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <Error.h>
#include <GlobalParams.h>
#include <PDFDoc.h>
#include <PSOutputDev.h>
#include <goo/GooString.h>

#include "filter/pdfconv/pdf-settings.h"
#include "vorn/fd.h"
#include "vorn/file.h"

namespace {

// Removes the copy of standard input on every way out.
struct temp_copy {
  std::string name;
  ~temp_copy() {
    if (!name.empty()) unlink(name.c_str());
  }
};

bool copy_stdin(temp_copy& tmp) {
  int fd = vornTempFd(tmp.name);
  if (fd < 0) {
    std::fprintf(stderr, "ERROR: Unable to copy PDF file: %s\n", std::strerror(errno));
    return false;
  }
  vorn::unique_fd out(fd);
  std::fprintf(stderr, "DEBUG: pdfconv - copying to temp print file \"%s\"\n", tmp.name.c_str());
  static char buf[65536];
  ssize_t n;
  while ((n = vorn::read_retry(0, buf, sizeof(buf))) > 0)
    if (vorn::write_all(out.get(), buf, size_t(n)) != 0) break;
  if (n != 0) {
    std::fprintf(stderr, "ERROR: Unable to copy PDF file: %s\n", std::strerror(errno));
    return false;
  }
  return true;
}

// The engine's PostScript goes through stdio in large blocks; the first
// write error is kept so a short document is never reported as printed.
struct output {
  FILE* fp = stdout;
  int error = 0;
};

void write_output(void* stream, const char* data, size_t len) {
  auto* out = static_cast<output*>(stream);
  if (out->error) return;
  if (std::fwrite(data, 1, len, out->fp) != len) out->error = errno ? errno : EIO;
}

// The engine's own messages: a damaged file the engine works around is
// worth a DEBUG line, not an error of the job.
void engine_message(ErrorCategory category, Goffset pos, const char* msg) {
  static const char* const kNames[] = {"Syntax Warning", "Syntax Error", "Config Error", "Command Line Error",
                                       "I/O Error",      "Permission Error", "Unimplemented Feature", "Internal Error"};
  const char* name = unsigned(category) < 8 ? kNames[category] : "Error";
  if (pos >= 0)
    std::fprintf(stderr, "DEBUG: pdfconv: %s (%lld): %s\n", name, static_cast<long long>(pos), msg);
  else
    std::fprintf(stderr, "DEBUG: pdfconv: %s: %s\n", name, msg);
}

}  // namespace

int main(int argc, char** argv) {
  setbuf(stderr, nullptr);
  if (argc < 6 || argc > 7) {
    std::fputs("Usage: pdfconv job user title copies options [filename]\n", stderr);
    return 1;
  }
  temp_copy tmp;
  std::string filename;
  if (argc == 6) {
    if (!copy_stdin(tmp)) return 1;
    filename = tmp.name;
  } else {
    filename = argv[6];
  }

  vorn_options_t options;
  vornParseOptions(argv[5], options);
  const vorn::pdfconv::pdf_settings s = vorn::pdfconv::read_pdf_settings(std::getenv("PPD"), options, stderr);

  globalParams = std::make_unique<GlobalParams>();
  globalParams->setPrintCommands(false);
  globalParams->setErrQuiet(false);
  setErrorCallback(engine_message);

  auto doc = std::make_unique<PDFDoc>(std::make_unique<GooString>(filename.c_str()));
  if (!doc->isOk() || !doc->okToPrint()) {
    // An unreadable or locked document prints nothing: that is a failed job.
    std::fprintf(stderr, "DEBUG: pdfconv: poppler error code %d\n", doc->isOk() ? 0 : doc->getErrorCode());
    std::fputs("ERROR: Unable to print this document.\n", stderr);
    return 1;
  }
  const int pages = doc->getNumPages();
  if (pages < 1) {
    std::fputs("ERROR: Unable to print this document: it has no pages.\n", stderr);
    return 1;
  }
  std::vector<int> page_list(static_cast<size_t>(pages));
  for (int i = 0; i < pages; i++) page_list[size_t(i)] = i + 1;

  static char out_buffer[1 << 16];
  std::setvbuf(stdout, out_buffer, _IOFBF, sizeof(out_buffer));
  output out;
  std::string title = argv[3];
  {
    PSOutputDev dev(write_output, &out, title.data(), doc.get(), page_list, psModePS, s.width, s.length,
                    false, s.duplex, s.left, s.bottom, s.right, s.top, psRasterizeWhenNeeded, false, nullptr,
                    nullptr, s.level == 0 ? psLevel1 : psLevel2);
    if (!dev.isOk()) {
      std::fputs("ERROR: Unable to print this document: the PostScript output could not be set up.\n", stderr);
      return 1;
    }
    dev.setUseASCIIHex(s.level == 0);
    dev.setEmbedType1(true);
    dev.setEmbedTrueType(true);
    dev.setEmbedCIDPostScript(true);
    doc->displayPages(&dev, 1, pages, 72, 72, 0, true, false, true);
  }  // the device writes the trailer as it goes
  if (std::fflush(stdout) != 0 && !out.error) out.error = errno ? errno : EIO;
  if (out.error) {
    std::fprintf(stderr, "ERROR: Unable to write print data: %s\n", std::strerror(out.error));
    return 1;
  }
  return 0;
}
