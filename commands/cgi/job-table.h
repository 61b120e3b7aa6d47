// The job table shown by jobs.cgi and on a destination's page, with the
// cancel, hold and release buttons (forms posting to /jobs).
#pragma once

#include <string_view>

#include "cgi-common.h"

namespace vorn::cgi {

// The attributes the table shows.
const std::vector<std::string>& JobTableAttributes();

// Appends the table of the jobs in `response` (or a line saying there are
// none); buttons only for jobs that are not finished.
void JobTable(page_t& page, const ipp_t* response);

// Get-Jobs for `uri` (ipp://localhost/jobs/, or a destination's URI),
// sent to `resource` so the scheduler applies that page's access rules;
// `completed` asks for finished jobs instead of active ones.
ipp_ptr GetJobs(session_t& session, std::string_view uri, const char* resource, bool completed,
                std::string& error);

}  // namespace vorn::cgi
