// imgconv: prints an image file on a PostScript printer.
//
//   imgconv job-id user title copies options [file]
//
// Environment: PPD (the printer's PPD file), CLASSIFICATION.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "filter/common/status-stream.h"
#include "filter/imgconv/imgconv.h"
#include "filter/imgraster/job-options.h"
#include "filter/imgraster/pagedevice.h"
#include "vorn/fd.h"
#include "vorn/file.h"

using namespace vorn::raster;

namespace {

// Removes the temporary copy of standard input on every way out.
struct temp_copy {
  std::string name;
  ~temp_copy() {
    if (!name.empty()) unlink(name.c_str());
  }
};

bool copy_stdin(temp_copy& tmp, FILE* status) {
  int fd = vornTempFd(tmp.name);
  if (fd < 0) {
    std::fprintf(status, "ERROR: Unable to copy image file - %s\n", std::strerror(errno));
    return false;
  }
  vorn::unique_fd out(fd);
  std::fprintf(status, "DEBUG: imgconv - copying to temp print file \"%s\"\n", tmp.name.c_str());
  static char buf[65536];
  ssize_t n;
  while ((n = vorn::read_retry(0, buf, sizeof(buf))) > 0) {
    if (vorn::write_all(out.get(), buf, size_t(n)) != 0) break;
  }
  if (n != 0) {
    std::fprintf(status, "ERROR: Unable to copy image file - %s\n", std::strerror(errno));
    return false;
  }
  return true;
}

int run(int argc, char** argv, FILE* status) {
  std::fprintf(status, "INFO: %s %s %s %s %s %s %s\n", argv[0], argv[1], argv[2], argv[3], argv[4], argv[5],
               argc == 7 ? argv[6] : "(null)");

  temp_copy tmp;
  std::string filename;
  if (argc == 6) {
    if (!copy_stdin(tmp, status)) return 1;
    filename = tmp.name;
  } else {
    filename = argv[6];
  }

  vorn_options_t options;
  vornParseOptions(argv[5], options);
  vorn::imgconv::imgconv_job job;
  job.status = status;
  vorn::ppd_file_ptr ppd(raster_page_setup(options, job.page));
  job.ppd = ppd.get();
  image_options opt;
  std::string err;
  if (!read_image_options(options, opt, err)) {
    std::fprintf(status, "ERROR: %s\n", err.c_str());
    return 1;
  }
  job.mirror = opt.mirror;
  job.gamma = opt.gamma;
  job.brightness = opt.brightness;
  job.language_level = job.ppd ? job.ppd->language_level : 1;
  const bool colour = job.ppd ? job.ppd->color_device : true;
  if (const char* label = vornGetOption("page-label", options)) job.label = label;
  job.job_id = std::atoi(argv[1]);
  job.user = argv[2];
  job.title = argv[3];

  std::fputs("INFO: Loading image file...\n", status);
  image_t* img = ImageOpen(filename.c_str(), colour ? IMAGE_RGB : IMAGE_WHITE, IMAGE_WHITE, opt.saturation, opt.hue,
                           nullptr);
  if (!tmp.name.empty()) {
    unlink(tmp.name.c_str());
    tmp.name.clear();
  }
  if (!img) {
    std::fprintf(status, "DEBUG: %s\n", ImageLastError());
    std::fputs("ERROR: Unable to open image file for printing!\n", status);
    return 1;
  }
  job.img = img;

  // The layout works on a raster page at a fine resolution; only its
  // sizes and placement are used.
  vorn_page_header_t h = default_header();
  h.HWResolution[0] = h.HWResolution[1] = unsigned(vorn::imgconv::kLayoutResolution);
  h.vornColorSpace = 1;  // RGB
  h.vornBitsPerColor = 8;
  h.vornColorOrder = 0;
  const ppd_choice_t* size = ppdFindMarkedChoice(job.ppd, "PageSize");
  const bool custom = job.ppd && size && size->choice == "Custom" && job.ppd->variable_sizes;
  if (!compute_layout(job.page, job.ppd, *img, opt.layout, h, job.lay, err)) {
    std::fprintf(status, "ERROR: %s\n", err.c_str());
    ImageClose(img);
    return 1;
  }
  if (custom) {
    char name[64];
    std::snprintf(name, sizeof(name), "Custom.%.0fx%.0f", job.page.PageWidth, job.page.PageLength);
    ppdMarkOption(job.ppd, "PageSize", name);
  }

  long copies_arg = std::strtol(argv[4], nullptr, 10);
  int copies = copies_arg < 1 ? 1 : copies_arg > 1000 ? 1000 : int(copies_arg);
  bool collate = opt.collate && job.lay.xpages * job.lay.ypages > 1;
  bool filter_collates = collate && !ppdFindOption(job.ppd, "Collate");
  if (copies < 2 || filter_collates) {
    job.hw_copies = 1;
    job.sets = copies;
  } else {
    job.hw_copies = copies;
    job.sets = 1;
  }

  static char out_buffer[1 << 16];
  std::setvbuf(stdout, out_buffer, _IOFBF, sizeof(out_buffer));
  int rc = vorn::imgconv::write_document(job);
  ImageClose(img);
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  setbuf(stderr, nullptr);
  if (argc < 6 || argc > 7) {
    std::fputs("ERROR: imgconv job-id user title copies options [file]\n", stderr);
    return 1;
  }
  FILE* status = open_status_stream(2);
  int rc = run(argc, argv, status ? status : stderr);
  if (status) std::fclose(status);
  return rc;
}
