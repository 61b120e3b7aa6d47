// hpglconv's options and environment, and the conversion of one plot.
#include <cmath>
#include <cstdlib>

#include "filter/hpglconv/hpglconv.h"
#include "vorn/paths.h"

vorn::ppd_file_ptr hpglconv_prepare(hpgl_state_t& st, const char* options_arg) {
  vorn_options_t options;
  vornParseOptions(options_arg ? options_arg : "", options);
  st.ppd = page_setup_from_options(st.page, options, true, st.status);
  st.black_plot = vornGetOption("blackplot", options) != nullptr;
  st.fit_plot = vornGetOption("fitplot", options) != nullptr;
  if (const char* v = vornGetOption("penwidth", options)) {
    char* end = nullptr;
    const long w = std::strtol(v, &end, 10);
    // Thousandths of a millimetre, up to a centimetre.
    if (end != v && w >= 0 && w <= 10000)
      st.default_width_option = double(w) * 0.001;
    else
      std::fprintf(st.status, "DEBUG: Ignoring penwidth=%s, not a number from 0 to 10000\n", v);
  }
  st.PlotArea[0] = st.page.PageWidth;
  st.PlotArea[1] = st.page.PageLength;
  const char* dd = std::getenv("VORN_DATADIR");
  st.datadir = dd && *dd ? dd : VORN_DEFAULT_DATADIR;
  return vorn::ppd_file_ptr(st.ppd);
}

int hpglconv_run(hpgl_state_t& st, FILE* in) {
  if (!write_prolog(st)) return 1;
  hpgl_params none;
  cmd_IP(st, none);  // the scaling points before IN scales with them
  cmd_IN(st, none);
  cmd_IP(st, none);
  hpgl_read(st, in, hpgl_dispatch);
  write_trailer(st);
  return 0;
}
