// cancel, dequeue, accept (reject, enable, disable) and jobmove as their
// requests go over the wire, received by a small IPP server of the test's
// own that knows the printers laser (the default), inkjet and laser-jet,
// records each request and answers the others with the status the case
// asks for.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "../fixtures/dests/ipp_server.h"
#include "commands_fixture.h"

namespace {

using namespace commands;
using ippserver::Reply;
using ippserver::Request;
using ippserver::Server;

std::string LoginName() {
  const passwd* pw = ::getpwuid(::getuid());
  return pw ? pw->pw_name : std::to_string(::getuid());
}

std::string Program(const char* name) { return std::string(COMMANDS_DIR) + "/" + name; }

// One request the command sent that is not a destination lookup:
// "RESOURCE OP name=value name=value ..." after the charset and language.
std::string Describe(const Request& req) {
  ipp_ptr ipp = ippserver::decode(req.body);
  if (!ipp) return "<undecodable>";
  char op[8];
  std::snprintf(op, sizeof(op), "%04x", ipp->op_status);
  std::string text = req.resource + " " + op;
  for (ipp_attribute_t* a = ipp->attrs; a; a = a->next) {
    if (a->name == "attributes-charset" || a->name == "attributes-natural-language") continue;
    text += " " + a->name + "=" + ValueText(a);
  }
  return text;
}

bool IsLookup(int op) { return op == VORN_GET_PRINTERS || op == VORN_GET_CLASSES || op == VORN_GET_DEFAULT; }

class QueueRequest : public ::testing::Test {
 protected:
  // The destination lookups are answered with the three printers; every
  // other request gets `status_`.
  Reply Answer(const Request& req) {
    ipp_ptr in = ippserver::decode(req.body);
    int op = in ? in->op_status : 0;
    if (op == VORN_GET_PRINTERS) {
      ippserver::Ipp out = ippserver::ipp_response(0);
      for (const char* name : {"inkjet", "laser", "laser-jet"}) {
        ippAddSeparator(out.get());
        ippAddString(out.get(), IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", "", name);
      }
      return ippserver::ok(std::move(out));
    }
    if (op == VORN_GET_DEFAULT) {
      ippserver::Ipp out = ippserver::ipp_response(0);
      ippAddString(out.get(), IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", "", "laser");
      return ippserver::ok(std::move(out));
    }
    if (op == VORN_GET_CLASSES) return ippserver::ok(ippserver::ipp_response(0));
    return ippserver::ok(ippserver::ipp_response(status_));
  }

  // The requests of `server` other than the lookups, described.
  static std::vector<std::string> Sent(Server& server) {
    std::vector<std::string> out;
    for (const Request& req : server.requests()) {
      ipp_ptr ipp = ippserver::decode(req.body);
      if (ipp && IsLookup(ipp->op_status)) continue;
      out.push_back(Describe(req));
    }
    return out;
  }

  struct Case {
    const char* program;
    std::vector<std::string> args;
    int status;  // what the server answers
    int exit_status;
    std::string err;
    std::vector<std::string> sent;
  };

  void Check(const Case& c) {
    SCOPED_TRACE(std::string(c.program) + " " + (c.args.empty() ? "" : c.args[0]) +
                 (c.args.size() > 1 ? " " + c.args[1] : ""));
    status_ = c.status;
    Server server([&](const Request& r) { return Answer(r); });
    ASSERT_NE(server.port(), 0);
    env_.set_port(server.port());
    RunResult r = env_.Run(Program(c.program), c.args);
    EXPECT_EQ(r.exit_status, c.exit_status) << r.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(Sent(server), c.sent);
  }

  CommandEnv env_;
  int status_ = 0;
  const std::string user_ = LoginName();
};

TEST_F(QueueRequest, Cancel) {
  const std::string me = "requesting-user-name=" + user_;
  const Case cases[] = {
      {"cancel", {"42"}, 0, 0, "", {"/jobs/ 0008 job-uri=ipp://localhost/jobs/42 " + me}},
      {"cancel", {"laser-42"}, 0, 0, "", {"/jobs/ 0008 job-uri=ipp://localhost/jobs/42 " + me}},
      // the destination after a job id only says where the job is
      {"cancel", {"42", "laser"}, 0, 0, "", {"/jobs/ 0008 job-uri=ipp://localhost/jobs/42 " + me}},
      // a destination whose name holds "-" is a destination, not a job
      {"cancel",
       {"laser-jet"},
       0,
       0,
       "",
       {"/jobs/ 0008 printer-uri=ipp://localhost/printers/laser-jet job-id=0 " + me}},
      {"cancel", {"laser"}, 0, 0, "", {"/jobs/ 0008 printer-uri=ipp://localhost/printers/laser job-id=0 " + me}},
      {"cancel",
       {"-a", "laser"},
       0,
       0,
       "",
       {"/admin/ 0012 printer-uri=ipp://localhost/printers/laser job-id=0 " + me + " purge-jobs=true"}},
      {"cancel",
       {"-u", "bob"},
       0,
       0,
       "",
       {"/admin/ 0012 printer-uri=ipp://localhost/printers/ requesting-user-name=bob my-jobs=true "
        "purge-jobs=false"}},
      {"cancel",
       {"-a"},
       0,
       0,
       "",
       {"/admin/ 0012 printer-uri=ipp://localhost/printers/ " + me + " purge-jobs=true"}},
      {"cancel", {"nosuch"}, 0, 1, "cancel: Unknown destination \"nosuch\"!\n", {}},
      {"cancel", {"-x"}, 0, 1, "cancel: Unknown option 'x'!\n", {}},
      {"cancel", {"-u"}, 0, 1, "cancel: Error - expected username after '-u' option!\n", {}},
      {"cancel", {"-h"}, 0, 1, "cancel: Error - expected hostname after '-h' option!\n", {}},
      {"cancel",
       {"7"},
       IPP_NOT_FOUND,
       1,
       "cancel: cancel-job failed: client-error-not-found\n",
       {"/jobs/ 0008 job-uri=ipp://localhost/jobs/7 " + me}},
  };
  for (const Case& c : cases) Check(c);
}

TEST_F(QueueRequest, Dequeue) {
  const std::string me = "requesting-user-name=" + user_;
  const Case cases[] = {
      // nothing named: the current job of the default destination, through
      // the library's cancel call
      {"dequeue", {}, 0, 0, "", {"/jobs/ 0008 printer-uri=ipp://localhost/printers/laser " + me + " job-id=0"}},
      {"dequeue", {"-"}, 0, 0, "", {"/admin/ 0012 printer-uri=ipp://localhost/printers/laser job-id=0 " + me}},
      {"dequeue", {"42"}, 0, 0, "", {"/jobs/ 0008 job-uri=ipp://localhost/jobs/42 " + me}},
      {"dequeue",
       {"-P", "inkjet", "-"},
       0,
       0,
       "",
       {"/admin/ 0012 printer-uri=ipp://localhost/printers/inkjet job-id=0 " + me}},
      // "-" purges the destinations after it until a job id comes
      {"dequeue",
       {"-", "inkjet", "5"},
       0,
       0,
       "",
       {"/admin/ 0012 printer-uri=ipp://localhost/printers/laser job-id=0 " + me,
        "/admin/ 0012 printer-uri=ipp://localhost/printers/inkjet job-id=0 " + me,
        "/jobs/ 0008 job-uri=ipp://localhost/jobs/5 " + me}},
      {"dequeue", {"-P", "nosuch"}, 0, 1, "dequeue: Unknown destination \"nosuch\"!\n", {}},
      {"dequeue", {"-P"}, 0, 1, "dequeue: Expected destination after -P!\n", {}},
      {"dequeue", {"-z"}, 0, 1, "dequeue: Unknown option 'z'!\n", {}},
      {"dequeue",
       {"42"},
       IPP_FORBIDDEN,
       1,
       "dequeue: You don't own job ID 42!\n",
       {"/jobs/ 0008 job-uri=ipp://localhost/jobs/42 " + me}},
      {"dequeue",
       {"42"},
       IPP_NOT_AUTHORIZED,
       1,
       "dequeue: Not authorized to dequeue job(s)!\n",
       {"/jobs/ 0008 job-uri=ipp://localhost/jobs/42 " + me}},
      {"dequeue",
       {"42"},
       IPP_NOT_FOUND,
       1,
       "dequeue: Job or printer not found!\n",
       {"/jobs/ 0008 job-uri=ipp://localhost/jobs/42 " + me}},
      {"dequeue",
       {"42", "43"},
       IPP_NOT_POSSIBLE,
       1,
       "dequeue: Unable to dequeue job(s)!\n",
       {"/jobs/ 0008 job-uri=ipp://localhost/jobs/42 " + me}},
  };
  for (const Case& c : cases) Check(c);
}

TEST_F(QueueRequest, AcceptRejectEnableDisableAndJobmove) {
  // The four names of the one program, as links in a folder of the test's.
  const std::string bin = env_.file("bin");
  std::filesystem::create_directories(bin);
  for (const char* name : {"accept", "reject", "enable", "disable", "lpfoo"})
    std::filesystem::create_symlink(Program("accept"), bin + "/" + name);
  const std::string printer = "printer-uri=ipp://localhost/printers/";
  struct Named {
    const char* name;
    std::vector<std::string> args;
    int status;
    int exit_status;
    std::string err;
    std::vector<std::string> sent;
  } cases[] = {
      {"accept", {"laser"}, 0, 0, "", {"/admin/ 4008 " + printer + "laser"}},
      {"reject",
       {"-r", "Out of paper", "laser", "inkjet"},
       0,
       0,
       "",
       {"/admin/ 4009 " + printer + "laser printer-state-message=Out of paper",
        "/admin/ 4009 " + printer + "inkjet printer-state-message=Out of paper"}},
      {"disable", {"-c", "laser"}, 0, 0, "", {"/admin/ 0010 " + printer + "laser", "/admin/ 0012 " + printer + "laser"}},
      {"enable", {"inkjet"}, 0, 0, "", {"/admin/ 0011 " + printer + "inkjet"}},
      {"enable",
       {"inkjet"},
       IPP_NOT_FOUND,
       1,
       "enable: Operation failed: client-error-not-found\n",
       {"/admin/ 0011 " + printer + "inkjet"}},
      {"reject", {"-r"}, 0, 1, "reject: Expected reason text after -r!\n", {}},
      {"accept", {"-h"}, 0, 1, "accept: Expected server name after -h!\n", {}},
      {"disable", {"-q", "laser"}, 0, 1, "disable: Unknown option 'q'!\n", {}},
      {"lpfoo", {"laser"}, 0, 1, "lpfoo: Don't know what to do!\n", {}},
  };
  for (const Named& c : cases) {
    SCOPED_TRACE(c.name);
    status_ = c.status;
    Server server([&](const Request& r) { return Answer(r); });
    env_.set_port(server.port());
    RunResult r = env_.Run(bin + "/" + c.name, c.args);
    EXPECT_EQ(r.exit_status, c.exit_status) << r.err;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(Sent(server), c.sent);
  }

  const std::string move = "/jobs 400d job-uri=ipp://localhost/jobs/";
  const std::string tail = " requesting-user-name=" + user_ + " job-printer-uri=ipp://localhost/printers/inkjet";
  const Case moves[] = {
      {"jobmove", {"laser-42", "inkjet"}, 0, 0, "", {move + "42" + tail}},
      {"jobmove", {"42", "inkjet"}, 0, 0, "", {move + "42" + tail}},
      // A refused move is a failure the caller can see in the exit status.
      {"jobmove",
       {"42", "inkjet"},
       IPP_NOT_POSSIBLE,
       1,
       "jobmove: move-job failed: client-error-not-possible\n",
       {move + "42" + tail}},
      {"jobmove", {"42"}, 0, 1, "Usage: jobmove job dest\n", {}},
      {"jobmove", {"42", "inkjet", "laser"}, 0, 1, "jobmove: Unknown argument 'laser'!\n", {}},
      {"jobmove", {"-h"}, 0, 1, "Error: need hostname after '-h' option!\n", {}},
  };
  for (const Case& c : moves) Check(c);
}

}  // namespace
