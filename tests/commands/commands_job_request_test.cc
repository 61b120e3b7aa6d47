// submit -i: Set-Job-Attributes and Restart-Job as they go over the wire,
// received by a small IPP server of the test's own on 127.0.0.1 that records
// each request and answers with the status the case asks for.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "../fixtures/dests/ipp_server.h"
#include "commands_fixture.h"

namespace {

using namespace commands;
using ippserver::Reply;
using ippserver::Request;
using ippserver::Server;

// "name=value" for each operation and job attribute of a request, in order.
std::vector<std::string> Attributes(const Request& req) {
  std::vector<std::string> out;
  ipp_ptr ipp = ippserver::decode(req.body);
  if (!ipp) return {"<undecodable>"};
  for (ipp_attribute_t* a = ipp->attrs; a; a = a->next) {
    std::string line = a->name + "=" + ValueText(a);
    out.push_back(line);
  }
  return out;
}

int OperationOf(const Request& req) {
  ipp_ptr ipp = ippserver::decode(req.body);
  return ipp ? ipp->op_status : -1;
}

std::string LoginName() {
  const passwd* pw = ::getpwuid(::getuid());
  return pw ? pw->pw_name : std::to_string(::getuid());
}

// The attributes every job request starts with.
std::vector<std::string> Envelope(int job_id) {
  return {"attributes-charset=utf-8", "attributes-natural-language=en",
          "job-uri=ipp://localhost/jobs/" + std::to_string(job_id), "requesting-user-name=" + LoginName()};
}

std::vector<std::string> Plus(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class SubmitJobRequest : public ::testing::Test {
 protected:
  // Answers each request with the next status of `statuses_` (then 0).
  Reply Answer(const Request&) {
    int status = next_ < statuses_.size() ? statuses_[next_] : 0;
    next_++;
    return ippserver::ok(ippserver::ipp_response(status));
  }

  CommandEnv env_;
  std::vector<int> statuses_;
  size_t next_ = 0;
};

TEST_F(SubmitJobRequest, SetJobAttributesCarriesTheCollectedOptions) {
  const struct {
    std::vector<std::string> args;
    int job_id;
    std::vector<std::string> options;  // after the envelope
  } cases[] = {
      {{"-i", "42"}, 42, {}},
      {{"-i", "laser-42"}, 42, {}},
      {{"-ilaser-jet-7"}, 7, {}},
      {{"-i", "9", "-n", "3", "-o", "sides=two-sided-long-edge media=A4", "-P", "1-3,7", "-q", "60"},
       9,
       {"copies=3", "sides=two-sided-long-edge", "media=A4", "page-ranges=1-3,7-7", "job-priority=60"}},
      // a later value replaces an earlier one, in the earlier one's place
      {{"-i", "9", "-n2", "-o", "copies=5", "-p", "1", "-p", "100"}, 9, {"copies=5", "job-priority=100"}},
      {{"-i", "9", "-H", "hold"}, 9, {"job-hold-until=indefinite"}},
      {{"-i", "9", "-H", "resume"}, 9, {"job-hold-until=no-hold"}},
      {{"-i", "9", "-H", "release"}, 9, {"job-hold-until=no-hold"}},
      {{"-i", "9", "-H", "immediate"}, 9, {"job-priority=100"}},
      {{"-i", "9", "-H", "night"}, 9, {"job-hold-until=night"}},
      // the title is not a job option, and files are not sent with -i
      {{"-i", "9", "-t", "Title", "-s"}, 9, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    Server server([&](const Request& r) { return Answer(r); });
    ASSERT_NE(server.port(), 0);
    env_.set_port(server.port());
    RunResult r = env_.Submit(c.args);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
    std::vector<Request> requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].resource, "/jobs");
    EXPECT_EQ(OperationOf(requests[0]), IPP_SET_JOB_ATTRIBUTES);
    EXPECT_EQ(Attributes(requests[0]), Plus(Envelope(c.job_id), c.options));
  }
}

TEST_F(SubmitJobRequest, RestartThenSetJobAttributes) {
  const struct {
    std::vector<int> statuses;  // answers to the requests, in order
    int exit_status;
    const char* err;
    std::vector<int> operations;  // the requests the server saw
  } cases[] = {
      {{0, 0}, 0, "", {IPP_RESTART_JOB, IPP_SET_JOB_ATTRIBUTES}},
      {{IPP_OK_CONFLICT, IPP_OK_SUBST}, 0, "", {IPP_RESTART_JOB, IPP_SET_JOB_ATTRIBUTES}},
      {{IPP_NOT_POSSIBLE}, 1, "submit: restart-job failed: client-error-not-possible\n", {IPP_RESTART_JOB}},
      {{0, IPP_ATTRIBUTES_NOT_SUPPORTED},
       1,
       "submit: set-job-attributes failed: client-error-attributes-or-values-not-supported\n",
       {IPP_RESTART_JOB, IPP_SET_JOB_ATTRIBUTES}},
      {{0, IPP_NOT_FOUND},
       1,
       "submit: set-job-attributes failed: client-error-not-found\n",
       {IPP_RESTART_JOB, IPP_SET_JOB_ATTRIBUTES}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    statuses_ = c.statuses;
    next_ = 0;
    Server server([&](const Request& r) { return Answer(r); });
    env_.set_port(server.port());
    RunResult r = env_.Submit({"-i", "laser-42", "-H", "restart", "-o", "job-sheets=none"});
    EXPECT_EQ(r.exit_status, c.exit_status);
    EXPECT_EQ(r.err, c.err);
    std::vector<Request> requests = server.requests();
    std::vector<int> operations;
    for (const Request& req : requests) operations.push_back(OperationOf(req));
    EXPECT_EQ(operations, c.operations);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(Attributes(requests[0]), Envelope(42));
    if (requests.size() > 1) {
      EXPECT_EQ(Attributes(requests[1]), Plus(Envelope(42), {"job-sheets=none"}));
    }
  }
}

// A connection that ends without an answer is reported with the library's
// reason for the missing response.
TEST_F(SubmitJobRequest, NoResponse) {
  Server server([](const Request&) {
    Reply r;
    r.drop = true;
    return r;
  });
  env_.set_port(server.port());
  RunResult r = env_.Submit({"-i", "5"});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "submit: set-job-attributes failed: server-error-internal-error\n");
  EXPECT_FALSE(server.requests().empty());
}

// -h names the server over VORN_SERVER (which points where nothing listens);
// -E asks for the TLS upgrade before the request.
TEST_F(SubmitJobRequest, ServerAndEncryptionFlags) {
  ippserver::Ctx tls = ippserver::make_tls_context();
  ASSERT_TRUE(tls);
  Server server([&](const Request& r) { return Answer(r); }, nullptr, tls.get());
  const std::string host = "127.0.0.1:" + std::to_string(server.port());

  RunResult r = env_.Submit({"-h", host, "-i", "3"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  std::vector<Request> requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_FALSE(requests[0].tls);
  EXPECT_EQ(Attributes(requests[0]), Envelope(3));

  r = env_.Submit({"-E", "-h" + host, "-i", "4"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].method, "OPTIONS");
  EXPECT_EQ(requests[2].method, "POST");
  EXPECT_TRUE(requests[2].tls);
  EXPECT_EQ(Attributes(requests[2]), Envelope(4));
}

}  // namespace
