// The document header and prolog: the grid sized from the page, the fonts
// needed and supplied, the encodings and the procedures pages call.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "filter/common/ps-procs.h"
#include "filter/textconv/textconv.h"

namespace {

const char* const kStyleNames[3] = {"vornItalic", "vornBold", "vornNormal"};
const int kStyleIndex[3] = {2, 1, 0};  // names[] index of italic, bold, normal

// Font names end up in a path under the data directory: plain names only.
bool font_name_is_safe(const std::string& name) {
  if (name.empty() || name.size() > 63 || name[0] == '.') return false;
  for (char c : name)
    if (c == '/' || c <= ' ' || c > '~') return false;
  return true;
}

// Decodes `text` as the filter decodes its input (UTF-8 in UTF-8 mode,
// else bytes) and returns the glyph slots.
std::vector<uint16_t> text_slots(const textconv_t& job, std::string_view text) {
  std::vector<uint16_t> slots;
  for (size_t i = 0; i < text.size(); i++) {
    unsigned c = static_cast<unsigned char>(text[i]);
    if (job.cs.utf8 && c >= 0xc0) {
      if ((c & 0xe0) == 0xc0 && i + 1 < text.size()) {
        c = ((c & 0x1f) << 6) | (static_cast<unsigned char>(text[++i]) & 0x3f);
      } else if ((c & 0xf0) == 0xe0 && i + 2 < text.size()) {
        c = ((c & 0x0f) << 12) | ((static_cast<unsigned char>(text[i + 1]) & 0x3f) << 6) |
            (static_cast<unsigned char>(text[i + 2]) & 0x3f);
        i += 2;
      } else {
        break;
      }
    }
    slots.push_back(job.cs.chars[c & 0xffff]);
  }
  return slots;
}

// A string of `text` for the document's fonts: a parenthesised string with
// one font, hexadecimal slots with several.
std::string ps_text(const textconv_t& job, std::string_view text) {
  std::vector<uint16_t> slots = text_slots(job, text);
  std::string s;
  char buf[8];
  if (job.cs.fonts.size() == 1) {
    s += '(';
    for (uint16_t v : slots) {
      if (v < 32 || v > 126) {
        std::snprintf(buf, sizeof(buf), "\\%03o", v & 0xff);
        s += buf;
      } else {
        if (v == '(' || v == ')' || v == '\\') s += '\\';
        s += char(v);
      }
    }
    s += ')';
  } else {
    s += '<';
    for (uint16_t v : slots) {
      std::snprintf(buf, sizeof(buf), "%04x", v);
      s += buf;
    }
    s += '>';
  }
  return s;
}

// The fonts every PostScript printer has.
bool is_base_font(const std::string& name) {
  static const char* const kFamilies[] = {"AvantGarde-", "Bookman-",  "Courier",      "Helvetica",
                                          "NewCenturySchlbk-", "Palatino-", "Symbol", "Times-",
                                          "ZapfChancery-", "ZapfDingbats"};
  for (const char* f : kFamilies)
    if (name.starts_with(f)) return true;
  return false;
}

bool ppd_has_font(const ppd_file_t* ppd, const std::string& name, FILE* status) {
  for (size_t i = 0; i < ppd->fonts.size(); i++) {
    std::fprintf(status, "DEBUG: ppd->fonts[%d] = %s\n", int(i), ppd->fonts[i].c_str());
    if (ppd->fonts[i] == name) return true;
  }
  return false;
}

void write_reencode(FILE* out, const std::string& font, int encoding) {
  std::fprintf(out, "/%s findfont\n", font.c_str());
  std::fputs("dup length 1 add dict begin\n", out);
  std::fputs("\t{ 1 index /FID ne { def } { pop pop } ifelse } forall\n", out);
  std::fprintf(out, "\t/Encoding vornEncoding%02x def\n", encoding);
  std::fputs("\tcurrentdict\nend\n", out);
}

void copy_font_file(const textconv_t& job, const std::string& name) {
  if (!font_name_is_safe(name)) return;
  const std::string path = job.datadir + "/fonts/" + name;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    std::fprintf(job.status, "DEBUG: No font file %s\n", path.c_str());
    return;
  }
  char buf[16384];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) std::fwrite(buf, 1, n, job.out);
  std::fclose(f);
}

void size_grid(textconv_t& job) {
  vorn_page_t& p = job.page;
  const bool classified = std::getenv("CLASSIFICATION") != nullptr;
  if (classified || job.has_label) {
    // Room for the banners psconv draws.
    p.PageBottom += 36;
    p.PageTop -= 36;
  }
  float cpl = (p.PageRight - p.PageLeft) / 72.0f * job.Cpi;
  float lpp = (p.PageTop - p.PageBottom) / 72.0f * job.Lpi;
  // At least one cell, and never a buffer beyond reason.
  job.CharsPerLine = int(std::clamp(cpl, 1.0f, float(kMaxCells)));
  job.LinesPerPage = int(std::clamp(lpp, 1.0f, float(kMaxCells)));
  if (cpl < 1 || lpp < 1)
    std::fprintf(job.status, "DEBUG: Text area %.1fx%.1f points holds less than one cell\n",
                 double(p.PageRight - p.PageLeft), double(p.PageTop - p.PageBottom));
  job.buffer.assign(size_t(job.CharsPerLine) * size_t(job.LinesPerPage), lchar_t{});
  job.row_used.assign(size_t(job.LinesPerPage), 0);
  if (job.TextColumns >= 2) {
    job.GutterWidth = int(job.Cpi * 0.5f);
    job.ColumnChars = (job.CharsPerLine - job.GutterWidth * (job.TextColumns - 1)) / job.TextColumns;
    if (job.ColumnChars < 1) {
      std::fprintf(job.status, "DEBUG: %d text columns do not fit in %d cells, using one\n", job.TextColumns,
                   job.CharsPerLine);
      job.TextColumns = 1;
    }
  }
  if (job.TextColumns < 2) {
    job.TextColumns = 1;
    job.GutterWidth = 0;
    job.ColumnChars = job.CharsPerLine;
  }
}

}  // namespace

bool write_prolog(textconv_t& job) {
  FILE* out = job.out;
  const vorn_page_t& p = job.page;
  // The data files first, so that a missing one ends the job before any
  // output.
  if (!load_glyph_names(job) || !load_charset(job)) return false;
  size_grid(job);

  if (job.date.empty()) {
    char date[256];
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    // The locale's own date and time, whatever its year format.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-y2k"
    if (std::strftime(date, sizeof(date), "%c", &tm) == 0) date[0] = 0;
#pragma GCC diagnostic pop
    job.date = date;
  }

  std::fputs("%!PS-Adobe-3.0\n", out);
  std::fprintf(out, "%%%%BoundingBox: 0 0 %.0f %.0f\n", double(p.PageWidth), double(p.PageLength));
  std::fprintf(out, kRotationComment, (p.Orientation & 3) * 90);
  std::fputs("%%Creator: textconv/VORN v1.1\n", out);
  std::fprintf(out, "%%%%CreationDate: %s\n", job.date.c_str());
  // Header comments are single lines of printable text.
  std::fprintf(out, "%%%%Title: %s\n", ps_string_escape(job.title).c_str());
  std::fprintf(out, "%%%%For: %s\n", ps_string_escape(job.user).c_str());
  std::fputs("%%Pages: (atend)\n", out);

  // Fonts needed, each once, and those we supply.
  std::vector<std::string> needed;
  for (const textconv_font_t& f : job.cs.fonts) {
    for (int s = job.PrettyMode ? 0 : 1; s < 3; s++) {
      const std::string& name = f.names[kStyleIndex[s]];
      if (std::find(needed.begin(), needed.end(), name) == needed.end()) needed.push_back(name);
    }
  }
  for (size_t i = 0; i < needed.size(); i++)
    std::fprintf(out, i == 0 ? "%%%%DocumentNeededResources: font %s\n" : "%%%%+ font %s\n", needed[i].c_str());
  std::fputs("%%DocumentSuppliedResources: procset textconv 1.1 0\n", out);
  if (job.ppd) std::fprintf(job.status, "DEBUG: ppd->num_fonts = %d\n", int(job.ppd->fonts.size()));
  std::vector<std::string> supplied;
  for (const std::string& name : needed) {
    bool supply = name.starts_with("Courier") || name == "Symbol";
    if (!supply && job.ppd) supply = !ppd_has_font(job.ppd, name, job.status);
    // Without a PPD the printer's fonts are unknown: a font beyond the
    // base ones would print as nothing, so it goes along.
    if (!supply && !job.ppd) supply = !is_base_font(name);
    if (supply) {
      supplied.push_back(name);
      std::fprintf(out, "%%%%+ font %s\n", name.c_str());
    }
  }
  std::fputs("%%EndComments\n%%BeginProlog\n", out);
  for (const std::string& name : supplied) {
    std::fprintf(out, "%%%%BeginResource: font %s\n", name.c_str());
    copy_font_file(job, name);
    std::fputs("\n%%EndResource\n", out);
  }

  std::fputs("% character encoding(s)\n", out);
  const int nfonts = int(job.cs.fonts.size());
  for (int f = 0; f < nfonts; f++) {
    std::fprintf(out, "/vornEncoding%02x [\n", f);
    for (int i = 0; i < 256; i++) {
      const unsigned uni = job.cs.codes[size_t(f) * 256 + size_t(i)];
      auto g = uni ? job.cs.glyphs.find(uni) : job.cs.glyphs.end();
      if (g != job.cs.glyphs.end())
        std::fprintf(out, "/%s", g->second.c_str());
      else if (uni > 255)
        std::fprintf(out, "/uni%04X", uni);
      else
        std::fputs("/.notdef", out);
      std::fputc((i & 7) == 7 ? '\n' : ' ', out);
    }
    std::fputs("] def\n", out);
  }

  if (nfonts == 1) {
    std::fputs("% Reencode fonts\n", out);
    for (int s = job.PrettyMode ? 0 : 1; s < 3; s++) {
      write_reencode(out, job.cs.fonts[0].names[kStyleIndex[s]], 0);
      std::fprintf(out, "/%s exch definefont pop\n", kStyleNames[s]);
    }
  } else {
    std::fputs("% Reencode base fonts\n", out);
    for (int s = job.PrettyMode ? 0 : 1; s < 3; s++) {
      for (int l = 0; l < nfonts; l++) {
        write_reencode(out, job.cs.fonts[size_t(l)].names[kStyleIndex[s]], l);
        std::fprintf(out, "/%s%02x exch definefont /%s%02x exch def\n", kStyleNames[s], l, kStyleNames[s], l);
      }
    }
    std::fputs("% Create composite fonts...\n", out);
    for (int s = job.PrettyMode ? 0 : 1; s < 3; s++) {
      std::fputs("8 dict begin\n", out);
      std::fputs("/FontType 0 def/FontMatrix[1.0 0 0 1.0 0 0]def/FMapType 2 def/Encoding[\n", out);
      for (int l = 0; l < nfonts; l++) std::fprintf(out, (l % 16) == 15 ? "%d\n" : "%d ", l);
      std::fputs("]def/FDepVector[\n", out);
      for (int l = 0; l < nfonts; l++) std::fprintf(out, (l % 4) == 3 ? "%s%02x\n" : "%s%02x ", kStyleNames[s], l);
      std::fputs("]def currentdict end\n", out);
      std::fprintf(out, "/%s exch definefont pop\n", kStyleNames[s]);
    }
  }

  const double fw = 120.0 / job.Cpi, fh = 68.0 / job.Lpi;
  std::fputs("%%BeginResource: procset textconv 1.1 0\n% Define fonts\n", out);
  std::fprintf(out, "/FN /vornNormal findfont [%.3f 0 0 %.3f 0 0] makefont def\n", fw, fh);
  std::fprintf(out, "/FB /vornBold findfont [%.3f 0 0 %.3f 0 0] makefont def\n", fw, fh);
  if (job.PrettyMode) std::fprintf(out, "/FI /vornItalic findfont [%.3f 0 0 %.3f 0 0] makefont def\n", fw, fh);
  std::fputs("% Common procedures\n/N { FN setfont moveto } bind def\n/B { FB setfont moveto } bind def\n", out);
  std::fprintf(out, "/U { gsave 0.5 setlinewidth 0 %.3f rmoveto 0 rlineto stroke grestore } bind def\n",
               -6.8 / job.Lpi);
  if (!job.PrettyMode) {
    std::fputs("/S { show } bind def\n", out);
  } else if (p.ColourCapable) {
    std::fputs("/S { 0.0 setgray show } bind def\n/r { 0.5 0.0 0.0 setrgbcolor show } bind def\n"
               "/g { 0.0 0.5 0.0 setrgbcolor show } bind def\n/b { 0.0 0.0 0.5 setrgbcolor show } bind def\n",
               out);
  } else {
    std::fputs("/S { 0.0 setgray show } bind def\n/r { 0.2 setgray show } bind def\n"
               "/g { 0.2 setgray show } bind def\n/b { 0.2 setgray show } bind def\n",
               out);
  }
  std::fputs("/I { FI setfont moveto } bind def\n/n {\n\t20 string cvs % convert page number to string\n", out);
  if (nfonts > 1) {
    // Composite fonts take two bytes a character: font 0, then the digit.
    std::fputs("\tdup length % get length\n"
               "\tdup 2 mul string /P exch def % P = string twice as long\n"
               "\t0 1 2 index 1 sub { % for each character\n"
               "\t\tP 1 index 2 mul 0 put % font 0\n"
               "\t\tP 1 index 2 mul 1 add 4 index 3 index get put % the character\n"
               "\t\tpop\n"
               "\t} for\n"
               "\tpop pop P % put string on stack\n",
               out);
  }
  std::fputs("} bind def\n", out);
  std::fprintf(out, "/T %s def\n", ps_text(job, job.title).c_str());
  std::fprintf(out, "/D %s def\n", ps_text(job, job.date).c_str());

  const double left = p.PageLeft, alt_left = p.PageWidth - p.PageRight;
  const double top = p.PageTop + 72.0 / job.Lpi, width = p.PageRight - p.PageLeft;
  const double margin = 36.0 / job.Lpi, base = 47.304 / job.Lpi;
  std::fputs("/H {\n\tgsave\n\t0.9 setgray\n", out);
  if (p.Duplex) {
    std::fputs("\tdup 2 mod 0 eq {\n", out);
    std::fprintf(out, "\t\t%.3f %.3f translate } {\n", alt_left, top);
    std::fprintf(out, "\t\t%.3f %.3f translate } ifelse\n", left, top);
  } else {
    std::fprintf(out, "\t%.3f %.3f translate\n", left, top);
  }
  std::fprintf(out, "\t0 0 %.3f %.3f rectfill\n", width, 144.0 / job.Lpi);
  std::fputs("\tFB setfont\n\t0 setgray\n", out);
  if (p.Duplex) {
    std::fputs("\tdup 2 mod 0 eq {\n", out);
    std::fprintf(out, "\t\tT stringwidth pop neg %.3f add %.3f } {\n", width - margin, base);
    std::fprintf(out, "\t\t%.3f %.3f } ifelse\n", margin, base);
  } else {
    std::fprintf(out, "\t%.3f %.3f\n", margin, base);
  }
  std::fputs("\tmoveto T show\n", out);
  std::fprintf(out, "\tD dup stringwidth pop neg 2 div %.3f add %.3f\n", width * 0.5, base);
  std::fputs("\tmoveto show\n", out);
  if (p.Duplex) {
    std::fputs("\tdup n exch 2 mod 0 eq {\n", out);
    std::fprintf(out, "\t\t%.3f %.3f } {\n", margin, base);
    std::fprintf(out, "\t\tdup stringwidth pop neg %.3f add %.3f } ifelse\n", width - margin, base);
  } else {
    std::fprintf(out, "\tn dup stringwidth pop neg %.3f add %.3f\n", width - margin, base);
  }
  std::fputs("\tmoveto show\n\tgrestore\n} bind def\n", out);
  std::fputs("%%EndResource\n%%EndProlog\n", out);
  return true;
}
