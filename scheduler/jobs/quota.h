// Per-user quota accounting: the pages and kilobytes a user printed on one
// destination within its quota period.
#pragma once

#include <string_view>

#include "scheduler/printers/printers.h"

// Charges `pages` and `kbytes` to `username` on `p` and returns the user's
// record, or null when `p` or the name is missing, when `p` has neither a
// page nor a kilobyte limit, or when no record can be made. The pointer
// stays valid until the next QuotaForUser, NewQuotaRecord or ClearQuotas on
// `p` (see printers.h).
//
// Within the current period the amounts are added to the record. Once the
// period is over (or before the first one is known) the record is rebuilt
// from the queue instead: every job of `p` owned by `username` (both
// without regard to case) whose time stamp lies within the last
// quota_period seconds counts with its job-media-sheets-completed and
// job-k-octets; the amounts passed in are not added again, since they belong
// to the jobs counted. Finished jobs older than the period are purged while
// AutoPurgeJobs is on, so a job_t* held across this call may be gone.
quota_t* UpdateQuota(printer_t* p, std::string_view username, int pages, int kbytes);
