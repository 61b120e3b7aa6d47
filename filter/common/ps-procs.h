// PostScript text shared by the filters that write PostScript: the rectangle
// procedures, the page-label and classification banner and the per-page call
// that draws it, and the comment by which a filter says it has already turned
// its pages.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "filter/common/page-setup.h"

// The header comment "%vornRotation: <degrees>" and its prefix as read back.
inline constexpr const char* kRotationComment = "%%vornRotation: %d\n";
inline constexpr std::string_view kRotationPrefix = "%vornRotation:";

// Writes the definitions of VRNrc (clip), VRNrf (fill) and VRNrs (stroke),
// each falling back to path operators on level 1 interpreters.
void write_rect_procs(FILE* out);

// Writes VRNpl (the banner text: the classification of the environment
// variable CLASSIFICATION and the label), VRNpf (its font) and VRNwl (the
// procedure that draws it at `bottom` and `top`, centred across `width`).
// With neither a classification nor a label VRNwl draws nothing.
void write_label_proc(FILE* out, const char* label, float bottom, float top, float width);

// Draws the banners on the current page, whose content is in orientation `o`.
void write_page_labels(FILE* out, const vorn_page_t& page, int o);

// `text` as the inside of a PostScript string: bytes outside 32-126 as
// three octal digits, parentheses and backslash quoted.
std::string ps_string_escape(std::string_view text);
