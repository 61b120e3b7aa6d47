// Banner pages written as documents of a job.
//
// Not built yet: the banner list and the banner templates. Until they exist
// every banner name is unknown, so copy_banner adds no document and writes
// no file; the job-sheets values of a job are still kept and saved, ready
// for the banners once they come.
#pragma once

#include <string_view>

struct client_t;
struct job_t;

// Writes the banner `name` as the job's next document and returns its size
// in kilobytes ((bytes + 1023) / 1024), or 0 when no banner was added: an
// empty name, "none", or a name the banner list does not know.
int copy_banner(client_t* con, job_t* job, std::string_view name);
