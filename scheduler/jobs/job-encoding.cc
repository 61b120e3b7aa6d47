// The listing cache of a job: its job-group attributes encoded once and
// sent as they are by every listing until the job changes, so a listing of
// thousands of jobs copies bytes instead of building and encoding
// thousands of attributes.
#include "scheduler/jobs/job.h"

#include <cstdint>

std::shared_ptr<const job_encoding_t> JobEncoding(job_t* job) {
  if (!job || !job->attrs) return nullptr;
  const ipp_t* attrs = job->attrs.get();
  if (job->encoded && job->encoded->changes == attrs->changes) return job->encoded;
  auto enc = std::make_shared<job_encoding_t>();
  enc->changes = attrs->changes;
  for (const ipp_attribute_t* a = attrs->attrs; a; a = a->next) {
    if (a->name.empty()) {
      // A separator splits the group: the next attribute opens a new one.
      enc->starts.push_back(uint32_t(enc->bytes.size()));
      enc->bytes.push_back(char(IPP_TAG_JOB));
      continue;
    }
    if (a->group_tag != IPP_TAG_JOB) continue;
    enc->starts.push_back(uint32_t(enc->bytes.size()));
    if (!ippEncodeAttribute(enc->bytes, a) || enc->bytes.size() > UINT32_MAX) return nullptr;
  }
  enc->bytes.shrink_to_fit();
  enc->starts.shrink_to_fit();
  job->encoded = std::move(enc);
  return job->encoded;
}
