// Get-Jobs replies built from each job's cached encoding: what the client
// reads back equals the job's attributes as they are now, after every kind
// of change a job goes through, with and without requested-attributes.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "scheduler/conf/conf.h"
#include "scheduler/http/client.h"
#include "scheduler/ipp/ipp.h"
#include "scheduler/jobs/job.h"
#include "scheduler/log.h"
#include "vorn/fd.h"
#include "vorn/ipp.h"

namespace {

// One job group of a decoded reply: "name=first value" per attribute.
using Group = std::vector<std::string>;

std::string First(const ipp_attribute_t* a) {
  if (a->values.empty()) return "";
  const ipp_value_t& v = a->values[0];
  switch (a->value_tag) {
    case IPP_TAG_INTEGER:
    case IPP_TAG_ENUM: return std::to_string(v.integer);
    case IPP_TAG_NOVALUE: return "(novalue)";
    default: return v.string.text;
  }
}

class JobListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ErrorLog.clear();
    AccessLog.clear();
    LogLevel = L_NONE;
    DefaultCharset = "utf-8";
    DefaultLanguage = "en";
    ServerName = "localhost";
    char dir[] = "/tmp/vorn-listing-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    spool_ = dir;
    RequestRoot = spool_;
  }
  void TearDown() override {
    DiscardAllJobs();
    std::string cmd = "rm -rf '" + spool_ + "'";
    (void)!std::system(cmd.c_str());
  }

  job_t* AddJob(const char* name, int state) {
    job_t* job = NewJob(50, "lab");
    ipp_t* a = job->attrs.get();
    ippAddString(a, IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", "", "utf-8");
    ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", job->id);
    ippAddInteger(a, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-priority", 50);
    SetJobState(job, state);
    ippAddString(a, IPP_TAG_JOB, IPP_TAG_NAME, "job-name", "", name);
    ippAddOutOfBand(a, IPP_TAG_JOB, IPP_TAG_NOVALUE, "time-at-processing");
    ippAddString(a, IPP_TAG_JOB, IPP_TAG_URI, "job-printer-uri", "", "ipp://localhost/printers/lab");
    return job;
  }

  // Get-Jobs of every active job through the scheduler's handler, on a
  // client over one end of a socket pair.
  std::unique_ptr<client_t> Run(const std::vector<const char*>& requested) {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    for (int fd : {fds[0], fds[1]}) owned_.emplace_back(fd);
    auto con = std::make_unique<client_t>();
    httpInitServer(&con->http, fds[0], nullptr, 0);
    con->ipp_request.reset(ippNew());
    ipp_t* request = con->ipp_request.get();
    request->op_status = IPP_GET_JOBS;
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "", "ipp://localhost/jobs");
    if (!requested.empty())
      ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", "", requested);
    con->ipp_response.reset(ippNew());
    get_jobs(con.get(), ippFindAttribute(request, "printer-uri", IPP_TAG_URI));
    return con;
  }

  // The job groups of the reply as a client reads them.
  std::vector<Group> List(const std::vector<const char*>& requested = {}) {
    std::unique_ptr<client_t> con = Run(requested);
    std::string bytes;
    auto sink = [](void* ctx, uint8_t* buf, size_t len) -> ssize_t {
      static_cast<std::string*>(ctx)->append(reinterpret_cast<char*>(buf), len);
      return ssize_t(len);
    };
    EXPECT_EQ(ippWriteIO(&bytes, sink, 1, nullptr, con->ipp_response.get()), IPP_DATA);
    EXPECT_EQ(bytes.size(), ippLength(con->ipp_response.get()));
    struct Source {
      const std::string* data;
      size_t pos = 0;
    } src{&bytes};
    auto source = [](void* ctx, uint8_t* buf, size_t len) -> ssize_t {
      auto* s = static_cast<Source*>(ctx);
      if (s->pos >= s->data->size()) return -1;
      size_t n = std::min(len, s->data->size() - s->pos);
      std::copy_n(s->data->data() + s->pos, n, reinterpret_cast<char*>(buf));
      s->pos += n;
      return ssize_t(n);
    };
    ipp_ptr reply(ippNew());
    reply->limits = IPP_CLIENT_LIMITS;
    EXPECT_EQ(ippReadIO(&src, source, 1, nullptr, reply.get()), IPP_DATA);
    EXPECT_EQ(src.pos, bytes.size());
    std::vector<Group> groups;
    bool open = false;
    for (const ipp_attribute_t* a = reply->attrs; a; a = a->next) {
      if (a->name.empty()) {
        open = false;
        continue;
      }
      if (a->group_tag != IPP_TAG_JOB) continue;
      if (!open) groups.emplace_back();
      open = true;
      std::string entry = a->name + "=" + First(a);
      // The time of the reply changes from one call to the next.
      if (a->name == "job-printer-up-time") entry = a->name;
      groups.back().push_back(entry);
    }
    return groups;
  }

  // What a listing must hold for `job`: computed values, the job group of
  // its attributes as they are now, the reason.
  static Group Expected(const job_t* job, const char* reason) {
    const std::string uri = "http://localhost:0/jobs/" + std::to_string(job->id);
    Group g = {"job-more-info=" + uri, "job-uri=" + uri, "job-printer-up-time"};
    for (const ipp_attribute_t* a = job->attrs->attrs; a; a = a->next)
      if (a->group_tag == IPP_TAG_JOB) g.push_back(a->name + "=" + First(a));
    g.push_back(std::string("job-state-reasons=") + reason);
    return g;
  }

  std::string spool_;
  std::vector<vorn::unique_fd> owned_;
};

TEST_F(JobListingTest, AChangedJobShowsItsNewStateInTheNextListing) {
  job_t* first = AddJob("first", IPP_JOB_PENDING);
  job_t* second = AddJob("second", IPP_JOB_PENDING);
  const int id1 = first->id, id2 = second->id;
  ASSERT_EQ(List(), (std::vector<Group>{Expected(first, "none"), Expected(second, "none")}));

  const struct {
    const char* what;
    void (*change)(job_t* job);
    const char* reason;
  } cases[] = {
      {"state set in place", [](job_t* j) { SetJobState(j, IPP_JOB_HELD); }, "job-incoming"},
      {"a time stamped in place", [](job_t* j) { StampJobTime(j, "time-at-processing"); }, "job-incoming"},
      {"an attribute added",
       [](job_t* j) {
         ippAddString(j->attrs.get(), IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-hold-until", "", "indefinite");
       },
       "job-hold-until-specified"},
      {"an attribute removed",
       [](job_t* j) { _ipp_free_attr(j->attrs.get(), ippFindAttribute(j->attrs.get(), "job-name", IPP_TAG_ZERO)); },
       "job-hold-until-specified"},
      {"the priority changed in place", [](job_t* j) { ChangeJobPriority(j->id, 70); }, "job-hold-until-specified"},
      {"the whole set replaced",
       [](job_t* j) {
         ipp_ptr fresh(ippNew());
         ippAddInteger(fresh.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", j->id);
         j->state = nullptr;
         j->sheets = nullptr;
         j->job_sheets = nullptr;
         j->attrs = std::move(fresh);
         SetJobState(j, IPP_JOB_PENDING);
       },
       "none"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.change(LookupJob(id2));
    std::vector<Group> listed = List();
    ASSERT_EQ(listed.size(), 2u);
    // The queue's order may have changed with the priority.
    const Group& changed = LookupJob(id2) == Jobs ? listed[0] : listed[1];
    const Group& other = LookupJob(id2) == Jobs ? listed[1] : listed[0];
    EXPECT_EQ(changed, Expected(LookupJob(id2), c.reason));
    EXPECT_EQ(other, Expected(LookupJob(id1), "none"));
  }
}

TEST_F(JobListingTest, RequestedAttributesPickFromTheCachedEncoding) {
  job_t* job = AddJob("picked", IPP_JOB_PENDING);
  ASSERT_EQ(List().size(), 1u);  // the cache is made
  const std::string uri = "http://localhost:0/jobs/" + std::to_string(job->id);
  const struct {
    const char* what;
    std::vector<const char*> requested;
    Group listed;
  } cases[] = {
      {"names, in the job's order", {"job-state", "job-name"},
       {"job-more-info=" + uri, "job-uri=" + uri, "job-printer-up-time", "job-state=3", "job-name=picked",
        "job-state-reasons=none"}},
      {"an operation attribute is never listed", {"attributes-charset"},
       {"job-more-info=" + uri, "job-uri=" + uri, "job-printer-up-time", "job-state-reasons=none"}},
      {"all", {"all"}, Expected(job, "none")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(List(c.requested), (std::vector<Group>{c.listed}));
  }
}

TEST_F(JobListingTest, AJobThatCannotBeEncodedFailsTheReplyAsBefore) {
  AddJob("fine", IPP_JOB_PENDING);
  job_t* bad = AddJob("bad", IPP_JOB_PENDING);
  // An attribute without values has no encoding.
  ipp_attribute_t* empty = ippAddInteger(bad->attrs.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "number-up", 1);
  empty->values.clear();
  ippTouch(bad->attrs.get());
  std::unique_ptr<client_t> con = Run({});
  EXPECT_TRUE(con->ipp_response->pieces.empty());
  EXPECT_EQ(ippLength(con->ipp_response.get()), 0u);
  EXPECT_NE(ippFindAttribute(con->ipp_response.get(), "number-up", IPP_TAG_ZERO), nullptr);
  EXPECT_NE(ippFindAttribute(con->ipp_response.get(), "job-name", IPP_TAG_ZERO), nullptr);
}

}  // namespace
