// copy_banner: only the choice of the banner for now; see banners.h.
#include "scheduler/jobs/banners.h"

#include <string>

#include "scheduler/http/client.h"
#include "scheduler/jobs/job.h"
#include "scheduler/log.h"

int copy_banner(client_t* con, job_t* job, std::string_view name) {
  std::string text(name);
  LogDiagnostic(L_DEBUG2, "copy_banner(%p[%d], %p[%d], %s)", static_cast<void*>(con), con ? con->http.fd : -1,
                static_cast<void*>(job), job ? job->id : -1, text.empty() ? "(null)" : text.c_str());
  // There is no banner list yet: "none", an empty name and every other name
  // alike add nothing.
  return 0;
}
