// jobs.cgi: the active (or finished, or all) jobs with cancel, hold and
// release buttons; a POST carries out one of those and answers with the
// outcome and a link back.
#include <string>

#include "cgi-common.h"
#include "job-table.h"

namespace {

using namespace vorn::cgi;

constexpr const char* kAllJobs = "ipp://localhost/jobs/";

int ListJobs(session_t& session, const form_t& form) {
  const std::string which = form.get("which_jobs", "active");
  page_t page;
  PageHead(page, which == "completed" ? "Completed jobs" : which == "all" ? "All jobs" : "Active jobs");
  page.raw("<p><a href=\"/jobs\">Active</a> | <a href=\"/jobs?which_jobs=completed\">Completed</a> | "
           "<a href=\"/jobs?which_jobs=all\">All</a></p>\n");
  std::string error;
  // The scheduler lists active or finished jobs; "all" shows both tables.
  for (bool completed : {false, true}) {
    if ((completed && which == "active") || (!completed && which == "completed") ||
        (which != "active" && which != "completed" && which != "all"))
      continue;
    if (which == "all") page.raw(completed ? "<h2>Completed</h2>\n" : "<h2>Active</h2>\n");
    ipp_ptr response = GetJobs(session, kAllJobs, "/jobs/", completed, error);
    if (!response) {
      Notice(page, error, true);
      break;
    }
    JobTable(page, response.get());
  }
  if (which != "active" && which != "completed" && which != "all") Notice(page, "Unknown job selection.", true);
  PageFoot(page);
  return Send(page);
}

int JobOperation(session_t& session, const form_t& form) {
  struct op_t {
    const char* name;
    ipp_op_t op;
    const char* done;
  };
  static const op_t kOps[] = {{"cancel-job", IPP_CANCEL_JOB, "cancelled"},
                              {"hold-job", IPP_HOLD_JOB, "held"},
                              {"release-job", IPP_RELEASE_JOB, "released"}};
  const std::string op_name = form.get("op");
  const op_t* op = nullptr;
  for (const op_t& o : kOps)
    if (op_name == o.name) op = &o;
  const int id = ParseId(form.get("job_id"));
  page_t page;
  PageHead(page, "Jobs");
  if (!CheckFormToken(form)) {
    Notice(page, kStaleForm, true);
  } else if (!op) {
    Notice(page, "Unknown operation.", true);
  } else if (!id) {
    Notice(page, "No valid job number was given.", true);
  } else {
    std::string error;
    ipp_ptr response = session.Do(NewJobRequest(op->op, id), "/jobs/", error);
    if (response)
      Notice(page, "Job " + std::to_string(id) + " " + op->done + ".", false);
    else
      Notice(page, "Job " + std::to_string(id) + ": " + error, true);
  }
  page.raw("<p><a href=\"/jobs\">Back to the jobs</a></p>\n");
  PageFoot(page);
  return Send(page);
}

}  // namespace

int main() { return vorn::cgi::ServeForm("Jobs", ListJobs, JobOperation); }
