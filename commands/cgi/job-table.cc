#include "job-table.h"

#include "command-common.h"
#include "vorn/request.h"

namespace vorn::cgi {
namespace {

void button(page_t& page, std::string_view op, int id, std::string_view label) {
  page.raw("<form class=\"inline\" method=\"post\" action=\"/jobs\"><input type=\"hidden\" name=\"op\" value=\"")
      .text(op)
      .raw("\"><input type=\"hidden\" name=\"job_id\" value=\"")
      .text(std::to_string(id))
      .raw("\">");
  TokenField(page);
  page.raw("<button type=\"submit\">")
      .text(label)
      .raw("</button></form>");
}

}  // namespace

const std::vector<std::string>& JobTableAttributes() {
  static const std::vector<std::string> names = {"job-id",           "job-name",       "job-originating-user-name",
                                                 "job-printer-uri",  "job-state",      "job-k-octets",
                                                 "job-priority"};
  return names;
}

void JobTable(page_t& page, const ipp_t* response) {
  std::vector<vorn::cmd::attr_group> jobs = vorn::cmd::Groups(response, IPP_TAG_JOB);
  if (jobs.empty()) {
    page.raw("<p>No jobs.</p>\n");
    return;
  }
  page.raw(
      "<div class=\"scroll\"><table class=\"jobs\">\n<tr><th>Job</th><th>Destination</th><th>User</th><th>Title</th>"
      "<th>Size</th><th>State</th><th>Actions</th></tr>\n");
  for (const vorn::cmd::attr_group& job : jobs) {
    const int id = job.integer("job-id", IPP_TAG_INTEGER, 0);
    const int state = job.integer("job-state", IPP_TAG_ENUM, 0);
    const std::string dest_uri = job.text("job-printer-uri", IPP_TAG_URI);
    const std::string dest = vorn::cmd::LastPathPart(dest_uri);
    const char* folder = dest_uri.find("/classes/") != std::string::npos ? "/classes/" : "/printers/";
    page.raw("<tr id=\"job-").text(std::to_string(id)).raw("\"><td>").text(std::to_string(id)).raw("</td><td>");
    if (IsValidName(dest))
      page.raw("<a href=\"").raw(folder).text(UrlEncode(dest)).raw("\">").text(dest).raw("</a>");
    else
      page.text(dest);
    page.raw("</td><td>").text(job.text("job-originating-user-name", IPP_TAG_NAME));
    page.raw("</td><td>").text(job.text("job-name", IPP_TAG_NAME));
    page.raw("</td><td>").text(std::to_string(job.integer("job-k-octets", IPP_TAG_INTEGER, 0))).raw("k");
    page.raw("</td><td class=\"state\">").text(JobStateText(state)).raw("</td><td>");
    if (state >= IPP_JOB_PENDING && state <= IPP_JOB_STOPPED) {
      button(page, "cancel-job", id, "Cancel");
      if (state == IPP_JOB_HELD)
        button(page, "release-job", id, "Release");
      else if (state == IPP_JOB_PENDING)
        button(page, "hold-job", id, "Hold");
    }
    page.raw("</td></tr>\n");
  }
  page.raw("</table></div>\n");
}

ipp_ptr GetJobs(session_t& session, std::string_view uri, const char* resource, bool completed,
                std::string& error) {
  ipp_t* request = vornNewRequest(IPP_GET_JOBS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "", uri);
  if (completed) ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", "", "completed");
  AddRequested(request, JobTableAttributes());
  return session.Do(request, resource, error);
}

}  // namespace vorn::cgi
