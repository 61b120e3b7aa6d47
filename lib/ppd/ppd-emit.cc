// Collecting the marked choices of a section and writing their code, and
// the job control (JCL) header.
#include <algorithm>
#include <charconv>

#include "ppd-private.h"
#include "vorn/fd.h"
#include "vorn/strings.h"

using namespace vorn::ppd_detail;

namespace {

// At most two decimals (a hundredth of a point is finer than any printer),
// without trailing zeros, and never in the locale's form.
std::string number(float v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, double(v), std::chars_format::fixed, 2);
  std::string s(buf, r.ptr);
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s;
}

const ppd_size_t* custom_size(const ppd_file_t* ppd) {
  for (const auto& s : ppd->sizes)
    if (s.name == "Custom") return &s;
  return nullptr;
}

// The five custom size parameters in the order the file gives them.
std::string custom_params(const ppd_file_t* ppd, const ppd_size_t& size) {
  float values[PPD_CUSTOM_PARAMS] = {size.width, size.length, 0, 0, 0};
  for (int i = PPD_CUSTOM_WIDTH_OFFSET; i < PPD_CUSTOM_PARAMS; i++)
    values[i] = std::max(0.0f, ppd->custom_params[i].min);
  int order[PPD_CUSTOM_PARAMS] = {0, 1, 2, 3, 4};
  std::stable_sort(order, order + PPD_CUSTOM_PARAMS, [&](int a, int b) {
    return ppd->custom_params[a].order < ppd->custom_params[b].order;
  });
  std::string out;
  for (int i = 0; i < PPD_CUSTOM_PARAMS; i++) {
    if (i) out += ' ';
    out += number(values[order[i]]);
  }
  return out + "\n";
}

void append_code(std::string& out, const std::string& code) {
  out += code;
  if (!code.empty() && code.back() != '\n') out += '\n';
}

void append_choice(std::string& out, const ppd_file_t* ppd, const ppd_choice_t& c,
                   ppd_section_t section) {
  if (section == PPD_ORDER_JCL) {
    out += c.code;
    return;
  }
  const bool custom = c.option->keyword == "PageSize" && c.choice == "Custom";
  const ppd_size_t* size = custom ? custom_size(ppd) : nullptr;
  if (custom && (!size || size->width <= 0 || size->length <= 0))
    return;  // a custom size never given dimensions has nothing to send
  const bool feature = section == PPD_ORDER_DOCUMENT || section == PPD_ORDER_PAGE ||
                       section == PPD_ORDER_ANY;
  if (feature) {
    out += "[{\n%%BeginFeature: *";
    out += custom ? "CustomPageSize True" : c.option->keyword + " " + c.choice;
    out += "\n";
  }
  if (custom) {
    out += custom_params(ppd, *size);
    if (c.code.empty())
      out += "pop pop pop\n<</PageSize[5 -2 roll]/ImagingBBox null>>setpagedevice\n";
  }
  append_code(out, c.code);
  if (feature) out += "%%EndFeature\n} stopped cleartomark\n";
}

int write_stream(FILE* fp, const std::string& s) {
  if (!fp) return -1;
  if (s.empty()) return 0;
  return std::fwrite(s.data(), 1, s.size(), fp) == s.size() ? 0 : -1;
}

// User and title inside a PJL quoted string.
std::string pjl_text(const char* s) {
  std::string out;
  for (const char* p = s ? s : ""; *p; p++) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '"') out += '\'';
    else if (c >= 0x20 && c != 0x7f) out += char(c);
  }
  cut_text(out, 80);
  return out;
}

}  // namespace

int ppdCollect(ppd_file_t* ppd, ppd_section_t section, std::vector<ppd_choice_t*>& choices) {
  choices.clear();
  if (!ppd) return 0;
  // PageRegion always names the marked PageSize; sending both sets it twice.
  const bool have_page_size = ppdFindMarkedChoice(ppd, "PageSize") != nullptr;
  for_each_option(ppd, [&](ppd_option_t& o) {
    if (o.section != section) return;
    if (have_page_size && o.keyword == "PageRegion") return;
    for (auto& c : o.choices)
      if (c.marked) choices.push_back(&c);
  });
  std::stable_sort(choices.begin(), choices.end(),
                   [](const ppd_choice_t* a, const ppd_choice_t* b) {
                     return a->option->order < b->option->order;
                   });
  return int(choices.size());
}

std::string ppdEmitString(ppd_file_t* ppd, ppd_section_t section) {
  std::string out;
  std::vector<ppd_choice_t*> choices;
  ppdCollect(ppd, section, choices);
  for (const ppd_choice_t* c : choices) append_choice(out, ppd, *c, section);
  return out;
}

int ppdEmit(ppd_file_t* ppd, FILE* fp, ppd_section_t section) {
  return write_stream(fp, ppdEmitString(ppd, section));
}

int ppdEmitFd(ppd_file_t* ppd, int fd, ppd_section_t section) {
  std::string s = ppdEmitString(ppd, section);
  if (s.empty()) return 0;
  return vorn::write_all(fd, s.data(), s.size());
}

int ppdEmitJCL(ppd_file_t* ppd, FILE* fp, int job_id, const char* user, const char* title) {
  if (!ppd || ppd->jcl_begin.empty()) return 0;
  std::string out = ppd->jcl_begin;
  static const std::string_view uel = "\x1b%-12345X";
  if (std::string_view(out).substr(0, uel.size()) == uel) {
    // Name the job in the PJL JOB line the file already pairs with its end.
    size_t body = out.size();
    if (body && out[body - 1] == '\n') body--;
    if (body && out[body - 1] == '\r') body--;
    size_t nl = out.rfind('\n', body ? body - 1 : 0);
    size_t start = nl == std::string::npos || nl >= body ? uel.size() : nl + 1;
    if (start <= body && std::string_view(out).substr(start, body - start) == "@PJL JOB") {
      std::string t = pjl_text(title);
      std::string line = "@PJL JOB NAME = \"" + t + "\" DISPLAY = \"" + std::to_string(job_id) +
                         " " + pjl_text(user) + " " + t + "\"";
      out.replace(start, body - start, line);
    }
  }
  out += ppdEmitString(ppd, PPD_ORDER_JCL);
  out += ppd->jcl_ps;
  return write_stream(fp, out);
}
