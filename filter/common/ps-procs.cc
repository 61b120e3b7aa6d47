// Rectangle procedures, the banner procedure and the per-page banner call.
#include "filter/common/ps-procs.h"

#include <cstdlib>
#include <cstring>

std::string ps_string_escape(std::string_view text) {
  std::string s;
  s.reserve(text.size());
  for (unsigned char c : text) {
    if (c < 32 || c > 126) {
      char oct[5];
      std::snprintf(oct, sizeof(oct), "\\%03o", c);
      s += oct;
    } else {
      if (c == '(' || c == ')' || c == '\\') s += '\\';
      s += char(c);
    }
  }
  return s;
}

void write_rect_procs(FILE* out) {
  std::fputs(
      "% x y w h VRNrc - Clip to a rectangle.\n"
      "userdict/VRNrc/rectclip where{pop/rectclip load}\n"
      "{{newpath 4 2 roll moveto 1 index 0 rlineto 0 exch rlineto\n"
      "neg 0 rlineto closepath clip newpath}bind}ifelse put\n"
      "% x y w h VRNrf - Fill a rectangle.\n"
      "userdict/VRNrf/rectfill where{pop/rectfill load}\n"
      "{{gsave newpath 4 2 roll moveto 1 index 0 rlineto 0 exch rlineto\n"
      "neg 0 rlineto closepath fill grestore}bind}ifelse put\n"
      "% x y w h VRNrs - Stroke a rectangle.\n"
      "userdict/VRNrs/rectstroke where{pop/rectstroke load}\n"
      "{{gsave newpath 4 2 roll moveto 1 index 0 rlineto 0 exch rlineto\n"
      "neg 0 rlineto closepath stroke grestore}bind}ifelse put\n",
      out);
}

void write_label_proc(FILE* out, const char* label, float bottom, float top, float width) {
  const char* env = std::getenv("CLASSIFICATION");
  std::string_view classification = env ? env : "";
  if (classification == "none") classification = {};
  const bool has_label = label && *label;

  if (classification.empty() && !has_label) {
    std::fputs("userdict/VRNwl{}bind put\n", out);
    return;
  }

  std::fputs("userdict", out);
  if (classification == "confidential")
    std::fputs("/VRNpl(CONFIDENTIAL", out);
  else if (classification == "classified")
    std::fputs("/VRNpl(CLASSIFIED", out);
  else if (classification == "secret")
    std::fputs("/VRNpl(SECRET", out);
  else if (classification == "topsecret")
    std::fputs("/VRNpl(TOP SECRET", out);
  else if (classification == "unclassified")
    std::fputs("/VRNpl(UNCLASSIFIED", out);
  else
    std::fprintf(out, "/VRNpl(%s", ps_string_escape(classification).c_str());
  if (has_label) {
    if (!classification.empty()) std::fputs(" - ", out);
    std::fputs(ps_string_escape(label).c_str(), out);
  }
  std::fputs(")put\n", out);

  std::fputs("userdict/VRNpf /Helvetica-Bold findfont 14 scalefont put\n", out);
  std::fputs("userdict/VRNwl{\n", out);
  std::fputs("  VRNpf setfont\n", out);
  std::fprintf(out, "  VRNpl stringwidth pop dup 12 add exch -0.5 mul %.0f add\n", width * 0.5);
  std::fputs("  1 setgray\n", out);
  std::fprintf(out, "  dup 6 sub %.0f 3 index 20 VRNrf\n", bottom - 2.0);
  std::fprintf(out, "  dup 6 sub %.0f 3 index 20 VRNrf\n", top - 18.0);
  std::fputs("  0 setgray\n", out);
  std::fprintf(out, "  dup 6 sub %.0f 3 index 20 VRNrs\n", bottom - 2.0);
  std::fprintf(out, "  dup 6 sub %.0f 3 index 20 VRNrs\n", top - 18.0);
  std::fprintf(out, "  dup %.0f moveto VRNpl show\n", bottom + 2.0);
  std::fprintf(out, "  %.0f moveto VRNpl show\n", top - 14.0);
  std::fputs("pop\n", out);
  std::fputs("}bind put\n", out);
}

void write_page_labels(FILE* out, const vorn_page_t& page, int o) {
  std::fputs("gsave\n", out);
  float w, l;
  if ((o ^ page.Orientation) & 1) {
    w = page.PageLength;
    l = page.PageWidth;
  } else {
    w = page.PageWidth;
    l = page.PageLength;
  }
  switch (o & 3) {
    case 1: std::fprintf(out, "%.1f 0.0 translate 90 rotate\n", l); break;
    case 2: std::fprintf(out, "%.1f %.1f translate 180 rotate\n", w, l); break;
    case 3: std::fprintf(out, "0.0 %.1f translate -90 rotate\n", w); break;
    default: break;
  }
  std::fputs("VRNwl\ngrestore\n", out);
}
