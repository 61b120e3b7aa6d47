// The listing cache of a job: its job-group attributes encoded once and
// sent as they are by every listing until the job changes, so a listing of
// thousands of jobs copies bytes instead of building and encoding
// thousands of attributes.
#include "scheduler/jobs/job.h"

std::shared_ptr<const ipp_encoded_t> JobEncoding(job_t* job) {
  if (!job || !job->attrs) return nullptr;
  const ipp_t* attrs = job->attrs.get();
  if (job->encoded && job->encoded->changes == attrs->changes) return job->encoded;
  std::shared_ptr<const ipp_encoded_t> enc = ippEncodeGroup(attrs, IPP_TAG_JOB);
  if (enc) job->encoded = enc;
  return enc;
}
