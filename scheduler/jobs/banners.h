// Banner pages written as documents of a job.
#pragma once

#include <string>
#include <string_view>

struct client_t;
struct job_t;

// Writes the banner `name` as the job's next document (mode 0640, owner
// User, group Group) and returns its size in kilobytes ((bytes + 1023) /
// 1024), or 0 when no banner was added: an empty name, "none", a name the
// banner list does not know, or a template or data file that cannot be
// read or written (logged; the job goes on without it). The template is
// DataDir/banners/<language>/<name>, then the two-letter language, then
// DataDir/banners/<name>.
int copy_banner(client_t* con, job_t* job, std::string_view name);

// The template `text` with its references filled from the job: "{name}"
// is the job attribute's values joined by "," ("printer-name" is the
// destination), "{?name}" the same but nothing when the job lacks it, and
// "\{" a plain brace. With `postscript`, text values are escaped for a
// PostScript string.
std::string FillBannerTemplate(std::string_view text, job_t* job, bool postscript);
