// Option strings: "name=value name2='quoted value' flag noflag", the job
// options every command, filter and backend passes around.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct ipp_s;  // vorn/ipp.h
using ipp_t = ipp_s;

struct vorn_option_t {
  std::string name;
  std::string value;
};
// In the order the options were first added.
using vorn_options_t = std::vector<vorn_option_t>;

// Adds the options of `arg` to `options` and returns the new count.
// Items are separated by white space. "name=value" sets a value (possibly
// empty); in a value, quotes (' or ") keep white space and may open and close
// anywhere, a backslash takes the next byte as it is, and a quote left open
// runs to the end of `arg`. A bare name is "true"; "noX" with no value sets X
// to "false". A repeated name (compared without regard to case) replaces the
// earlier value. An item without a name ("=x") is dropped. Any input is safe.
int vornParseOptions(std::string_view arg, vorn_options_t& options);

// Adds one option, or replaces the value of the option of that name (without
// regard to case; the first spelling is kept). An empty name adds nothing.
// Returns the new count.
int vornAddOption(std::string_view name, std::string_view value, vorn_options_t& options);

// The value of `name` (compared without regard to case), or nullptr. The
// pointer stays valid until `options` is changed.
const char* vornGetOption(std::string_view name, const vorn_options_t& options);

// Removes every option.
void vornFreeOptions(vorn_options_t& options);

// Appends one attribute per option to `ipp` (null: nothing happens):
//  - Attributes the system knows get their group and value type: operation
//    attributes such as document-format (mimeMediaType) and compression; job
//    attributes such as copies, job-priority, number-up (integer),
//    orientation-requested, finishings (enum; "landscape", "staple"... also
//    accepted), page-ranges ("1-5,7,10-", rangeOfInteger; "7" is 7-7, "10-"
//    runs to the largest integer, "-3" is 1-3), printer-resolution ("600dpi",
//    "300x600dpi", "118dpc"), collate, landscape (boolean: true/false,
//    yes/no, on/off), job-name, job-sheets (name), job-hold-until (keyword, or
//    name for a time), page-label (text); printer attributes of the
//    administration requests such as printer-info, device-uri,
//    requesting-user-name-allowed. Lists are separated by commas.
//  - Other names in lower case go in the job group, typed by their values:
//    integer, boolean ("true"/"false"), range ("N-M", "N-"), resolution, else
//    keyword, name or text. Commas separate values.
//  - Names with a capital letter are PPD options ("PageSize=A4"): their
//    choice goes in unchanged as one keyword (name or text if it has blanks),
//    under the name in lower case ("pagesize"), since attribute names are
//    keywords and PPD option names match without regard to case.
//  - An empty value is a boolean true for boolean attributes, an empty string
//    for names and texts, and otherwise the out-of-band no-value ("raw=").
// A value that does not fit its attribute's type goes in as a keyword, name or
// text so the server can refuse it. Strings are cut to the IPP limits (255
// bytes, 1023 for text and uri) on a UTF-8 boundary; names longer than 255
// bytes are skipped.
void vornEncodeOptions(ipp_t* ipp, const vorn_options_t& options);
