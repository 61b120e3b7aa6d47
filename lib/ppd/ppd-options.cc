// Job options into PPD choices.
#include "ppd-private.h"
#include "vorn/strings.h"

using namespace vorn::ppd_detail;

namespace {

// Marks `choice` in the first of `keywords` that has it; true when marked.
bool mark_first(ppd_file_t* ppd, std::initializer_list<const char*> keywords,
                std::string_view choice) {
  for (const char* k : keywords)
    if (ppdFindChoice(ppdFindOption(ppd, k), choice)) {
      mark_option(ppd, k, choice);
      return true;
    }
  return false;
}

void mark_media(ppd_file_t* ppd, std::string_view value) {
  while (!value.empty()) {
    size_t comma = value.find(',');
    std::string_view v = vorn::trim(value.substr(0, comma));
    value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
    if (v.empty()) continue;
    if (vorn::istarts_with(v, "Custom.")) mark_option(ppd, "PageSize", v);
    else mark_first(ppd, {"PageSize", "InputSlot", "MediaType"}, v);
  }
}

void mark_sides(ppd_file_t* ppd, std::string_view value) {
  const char* choice;
  if (vorn::iequals(value, "one-sided")) choice = "None";
  else if (vorn::iequals(value, "two-sided-long-edge")) choice = "DuplexNoTumble";
  else if (vorn::iequals(value, "two-sided-short-edge")) choice = "DuplexTumble";
  else return;
  for (const char* k : {"Duplex", "JCLDuplex", "EFDuplex", "KD03Duplex"})
    if (ppdFindOption(ppd, k)) mark_option(ppd, k, choice);
}

}  // namespace

int vornMarkOptions(ppd_file_t* ppd, const vorn_options_t& options) {
  if (!ppd) return 0;
  for (const auto& opt : options) {
    const std::string& name = opt.name;
    const std::string& value = opt.value;
    if (vorn::iequals(name, "media")) {
      mark_media(ppd, value);
    } else if (vorn::iequals(name, "sides")) {
      mark_sides(ppd, value);
    } else if (vorn::iequals(name, "multiple-document-handling")) {
      if (vorn::iequals(value, "separate-documents-collated-copies"))
        mark_option(ppd, "Collate", "True");
      else if (vorn::iequals(value, "separate-documents-uncollated-copies"))
        mark_option(ppd, "Collate", "False");
    } else if (vorn::iequals(name, "output-bin")) {
      mark_option(ppd, "OutputBin", value);
    } else {
      mark_option(ppd, name, value);
    }
  }
  return ppdConflicts(ppd);
}
