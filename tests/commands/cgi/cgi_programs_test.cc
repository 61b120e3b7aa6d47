// The four CGI programs run as the scheduler runs them, against a real
// vornd: listings, a destination's page, job cancel/hold/release as the web
// user, printer administration, and escaping of hostile values.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "cgi-common.h"
#include "cgi_server.h"
#include "vorn/http.h"

namespace {

using namespace cgitest;
using vorn::cgi::kStaleForm;

constexpr const char* kHeader = "Content-Type: text/html; charset=utf-8\r\n\r\n<!DOCTYPE html>";
constexpr const char* kRawScript = "<script>alert(1)</script>";
constexpr const char* kEscapedScript = "&lt;script&gt;alert(1)&lt;/script&gt;";

class Cgi : public ::testing::Test {
 protected:
  void SetUp() override { server_.Start(); }
  void TearDown() override {
    EXPECT_EQ(server_.s_.vornd_.Stderr().find("Sanitizer"), std::string::npos) << server_.s_.vornd_.Stderr();
  }
  // Submits a small job to `dest` for `user`; its id.
  int Submit(const std::string& dest, const std::string& user, const std::string& title = "memo") {
    Reply r = server_.s_.Send(IPP_PRINT_JOB, {PrinterUri(dest), User(user), "job-name=42:" + title,
                                              server_.s_.Document("doc.txt", "hello\n")});
    EXPECT_EQ(r.status, "0x0000") << r.raw;
    std::string id = r.value(1, "job-id");
    return id == "(none)" ? 0 : std::stoi(id);
  }
  std::string JobState(int id) { return server_.s_.JobAttributes(id).value(1, "job-state"); }
  std::string PrintersConf() { return ReadFile(server_.s_.root_.file("printers.conf")); }

  CgiServer server_;
};

TEST_F(Cgi, PrinterAndClassListingsEscapeEveryValue) {
  Submit("lab", "alice");
  CgiResult r = server_.Run("printers.cgi", "printers.cgi", {});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out.rfind(kHeader, 0), 0u) << r.out.substr(0, 200);
  const std::string page = r.body();
  EXPECT_NE(page.find("<meta name=\"viewport\""), std::string::npos);
  EXPECT_NE(page.find("<a href=\"/printers/lab\">lab</a>"), std::string::npos) << page;
  EXPECT_NE(page.find("<a href=\"/printers/office\">office</a>"), std::string::npos);
  EXPECT_NE(page.find("Paper jam"), std::string::npos);
  EXPECT_NE(page.find("Room &quot;5&quot; &amp; more"), std::string::npos);
  // The hostile description shows as text and never as markup.
  EXPECT_EQ(page.find(kRawScript), std::string::npos) << page;
  EXPECT_NE(page.find(kEscapedScript), std::string::npos);
  // lab: stopped, accepting, one queued job; office rejects.
  EXPECT_NE(page.find("<td class=\"state\">stopped<br><small>Paper jam</small></td><td>yes</td><td>1</td>"),
            std::string::npos) << page;
  EXPECT_NE(page.find("<td class=\"state\">stopped</td><td>no</td><td>0</td>"), std::string::npos);
  EXPECT_EQ(page.find("team"), std::string::npos) << "a class among the printers";

  r = server_.Run("classes.cgi", "classes.cgi", {});
  EXPECT_NE(r.body().find("<a href=\"/classes/team\">team</a>"), std::string::npos) << r.out;
  EXPECT_EQ(r.body().find("<a href=\"/classes/lab\">"), std::string::npos);
  r = server_.Run("classes.cgi", "team", {});
  EXPECT_NE(r.body().find("<tr><th>Members</th><td>lab, office</td></tr>"), std::string::npos) << r.out;
}

TEST_F(Cgi, DestinationPageShowsItsJobs) {
  const int id = Submit("lab", "alice", "<img src=x onerror=alert(2)>");
  // office rejects jobs: nothing of it shows on lab's page.
  EXPECT_EQ(server_.s_.Send(IPP_PRINT_JOB, {PrinterUri("office"), User("bob"), server_.s_.Document("d", "x\n")}).status,
            "0x0506");
  CgiResult r = server_.Run("printers.cgi", "lab", {{"QUERY_STRING", "which=1"}});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  const std::string page = r.body();
  EXPECT_NE(page.find("<h1>lab</h1>"), std::string::npos) << page;
  EXPECT_NE(page.find("<tr><th>Device</th><td>socket://127.0.0.1:9</td></tr>"), std::string::npos);
  EXPECT_NE(page.find("<tr id=\"job-" + std::to_string(id) + "\">"), std::string::npos) << page;
  EXPECT_EQ(page.find("<img"), std::string::npos) << page;
  EXPECT_NE(page.find("&lt;img src=x onerror=alert(2)&gt;"), std::string::npos);
  EXPECT_EQ(page.find(kRawScript), std::string::npos);

  // A class's job: on the class's page, linked to it from the job list.
  const int team_job = Submit("team", "carol");
  r = server_.Run("classes.cgi", "team", {});
  EXPECT_NE(r.body().find("<tr id=\"job-" + std::to_string(team_job) + "\">"), std::string::npos) << r.out;
  EXPECT_EQ(r.body().find("<tr id=\"job-" + std::to_string(id) + "\">"), std::string::npos);
  r = server_.Run("jobs.cgi", "jobs.cgi", {});
  EXPECT_NE(r.body().find("<a href=\"/classes/team\">team</a>"), std::string::npos) << r.out;
  EXPECT_NE(r.body().find("<a href=\"/printers/lab\">lab</a>"), std::string::npos);

  // A destination that is not there, and names no destination can have.
  for (const char* name : {"nosuch", "a<b>", "x%2F"}) {
    SCOPED_TRACE(name);
    r = server_.Run("printers.cgi", name, {});
    EXPECT_NE(r.body().find("No such destination."), std::string::npos) << r.out;
    EXPECT_EQ(r.body().find("<b>"), std::string::npos);
  }
}

TEST_F(Cgi, JobsListAndTheirButtonsWorkAsTheWebUser) {
  const int id = Submit("lab", "alice");
  const std::string sid = std::to_string(id);
  CgiResult r = server_.Run("jobs.cgi", "jobs.cgi", {{"REMOTE_USER", "alice"}});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.body().find("<tr id=\"job-" + sid + "\">"), std::string::npos) << r.out;
  EXPECT_NE(r.body().find("name=\"op\" value=\"cancel-job\"><input type=\"hidden\" name=\"job_id\" value=\"" + sid),
            std::string::npos);

  // Someone else's job stays as it is.
  r = server_.Post("jobs.cgi", "op=cancel-job&job_id=" + sid, "bob");
  EXPECT_NE(r.body().find("class=\"error\">Job " + sid + ": The scheduler refused"), std::string::npos) << r.out;
  EXPECT_EQ(JobState(id), "3");

  const struct {
    const char* form;
    const char* notice;
    const char* state;
  } steps[] = {
      {"op=hold-job&job_id=%s", "<p class=\"ok\">Job %s held.</p>", "4"},
      {"op=release-job&job_id=%s", "<p class=\"ok\">Job %s released.</p>", "3"},
      {"op=cancel-job&job_id=%s", "<p class=\"ok\">Job %s cancelled.</p>", "7"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.form);
    auto with_id = [&](std::string t) { return t.replace(t.find("%s"), 2, sid); };
    r = server_.Post("jobs.cgi", with_id(s.form), "alice");
    EXPECT_NE(r.body().find(with_id(s.notice)), std::string::npos) << r.out;
    EXPECT_NE(r.body().find("<a href=\"/jobs\">Back to the jobs</a>"), std::string::npos);
    EXPECT_EQ(JobState(id), s.state);
  }
  // Gone from the active list, in the completed one, without buttons.
  r = server_.Run("jobs.cgi", "jobs.cgi", {{"REMOTE_USER", "alice"}});
  EXPECT_EQ(r.body().find("<tr id=\"job-" + sid + "\">"), std::string::npos);
  r = server_.Run("jobs.cgi", "jobs.cgi", {{"QUERY_STRING", "which_jobs=completed"}});
  EXPECT_NE(r.body().find("<tr id=\"job-" + sid + "\">"), std::string::npos) << r.out;
  EXPECT_NE(r.body().find("<td class=\"state\">cancelled</td><td></td>"), std::string::npos);
  r = server_.Run("jobs.cgi", "jobs.cgi", {{"QUERY_STRING", "which_jobs=all"}});
  EXPECT_NE(r.body().find("<h2>Completed</h2>"), std::string::npos);
  EXPECT_NE(r.body().find("<tr id=\"job-" + sid + "\">"), std::string::npos);
}

TEST_F(Cgi, BadRequestsChangeNothing) {
  const int id = Submit("lab", "alice");
  const std::string sid = std::to_string(id);
  const struct {
    const char* form;
    const char* notice;
  } cases[] = {
      {"op=cancel-job&job_id=%zz", "The form data is malformed or too large."},
      {"op=cancel-job&job_id=1%00", "The form data is malformed or too large."},
      {"op=cancel-job&job_id=0", "No valid job number was given."},
      {"op=cancel-job&job_id=1x", "No valid job number was given."},
      {"op=restart-job&job_id=1", "Unknown operation."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.form);
    CgiResult r = server_.Post("jobs.cgi", c.form, "alice");
    EXPECT_NE(r.body().find(c.notice), std::string::npos) << r.out;
  }
  // A post without the token of our pages, or with another user's, is
  // what another site makes a signed-in browser send: refused.
  for (const std::string& form : {"op=cancel-job&job_id=" + sid, "op=cancel-job&job_id=" + sid + "&token=" +
                                                                       server_.Token("bob"),
                                  "op=cancel-job&job_id=" + sid + "&token=" + std::string(64, '0')}) {
    SCOPED_TRACE(form);
    CgiResult r = server_.PostRaw("jobs.cgi", form, "alice", "application/x-www-form-urlencoded");
    EXPECT_NE(r.body().find(kStaleForm), std::string::npos) << r.out;
  }
  CgiResult stale = server_.PostRaw("admin.cgi", "op=delete-printer&printer_name=lab&confirm=yes", "",
                                    "application/x-www-form-urlencoded");
  EXPECT_NE(stale.body().find(kStaleForm), std::string::npos) << stale.out;
  EXPECT_NE(PrintersConf().find("<DefaultPrinter lab>"), std::string::npos);

  // A query string beyond the limit, a length that is a lie.
  CgiResult r = server_.Run("jobs.cgi", "jobs.cgi", {{"QUERY_STRING", "x=" + std::string(100000, 'a')}});
  EXPECT_NE(r.body().find("The query string is malformed or too long."), std::string::npos) << r.out.substr(0, 300);
  r = server_.Run("jobs.cgi", "jobs.cgi",
                  {{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
                   {"CONTENT_LENGTH", "500"}, {"REMOTE_USER", "alice"}},
                  "op=cancel-job&job_id=" + sid);
  EXPECT_NE(r.body().find("The form data ended early."), std::string::npos) << r.out;
  r = server_.Run("admin.cgi", "admin.cgi",
                  {{"REQUEST_METHOD", "POST"}, {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
                   {"CONTENT_LENGTH", "99999999999"}});
  EXPECT_NE(r.body().find("The form data is missing or too large."), std::string::npos) << r.out;
  EXPECT_EQ(JobState(id), "3");
  // A GET changes nothing even when it names an operation.
  r = server_.Run("jobs.cgi", "jobs.cgi", {{"QUERY_STRING", "op=cancel-job&job_id=" + sid}, {"REMOTE_USER", "alice"}});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(JobState(id), "3");
}

TEST_F(Cgi, AdminAddsChangesAndControlsPrinters) {
  // The scheduler's driver catalogue lists nothing yet: the model is named
  // by its file in the model directory.
  CgiResult r = server_.Run("admin.cgi", "admin.cgi", {});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_NE(r.body().find("<input type=\"text\" name=\"ppd_name\""), std::string::npos) << r.out;
  EXPECT_EQ(r.body().find(kRawScript), std::string::npos);
  EXPECT_NE(r.body().find(kEscapedScript), std::string::npos);

  r = server_.Post("admin.cgi",
                   "op=add-printer&new=1&printer_name=web&printer_info=%3Cscript%3Ealert(1)%3C%2Fscript%3E"
                   "&printer_location=Hall+2&device_uri=socket%3A%2F%2F127.0.0.1%3A9100&ppd_name=web-test.ppd");
  EXPECT_NE(r.body().find("<p class=\"ok\">Printer web saved.</p>"), std::string::npos) << r.out;
  EXPECT_NE(PrintersConf().find("<Printer web>\nInfo <script>alert(1)</script>\nLocation Hall 2\n"
                                "DeviceURI socket://127.0.0.1:9100\nState Idle\nAccepting Yes\n"),
            std::string::npos)
      << PrintersConf();
  EXPECT_NE(ReadFile(server_.s_.root_.file("ppd/web.ppd")).find("Web Test Model"), std::string::npos);

  // The change form is filled with the printer's settings, escaped.
  r = server_.Run("admin.cgi", "admin.cgi", {{"QUERY_STRING", "op=modify-printer&printer_name=web"}});
  EXPECT_NE(r.body().find("name=\"printer_info\" value=\"" + std::string(kEscapedScript) + "\""), std::string::npos)
      << r.out;
  EXPECT_EQ(r.body().find(kRawScript), std::string::npos);

  // A PPD file uploaded with the form.
  const std::string boundary = "----vornform";
  auto part = [&](const std::string& name, const std::string& value) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
  };
  std::string uploaded = std::string(kModel);
  uploaded.replace(uploaded.find("Web Test Model\"\n*Manufacturer"), 14, "Uploaded Model");
  std::string body = part("op", "add-printer") + part("token", server_.Token("")) + part("printer_name", "web") + part("printer_info", "Changed") +
                     part("printer_location", "Hall 3") + "--" + boundary +
                     "\r\nContent-Disposition: form-data; name=\"ppd_file\"; filename=\"u.ppd\"\r\n"
                     "Content-Type: application/octet-stream\r\n\r\n" + uploaded + "\r\n--" + boundary + "--\r\n";
  r = server_.PostRaw("admin.cgi", body, "", "multipart/form-data; boundary=" + boundary);
  EXPECT_NE(r.body().find("<p class=\"ok\">Printer web saved.</p>"), std::string::npos) << r.out;
  EXPECT_EQ(ReadFile(server_.s_.root_.file("ppd/web.ppd")), uploaded);
  EXPECT_NE(PrintersConf().find("<Printer web>\nInfo Changed\nLocation Hall 3\n"), std::string::npos) << PrintersConf();

  // Anything but a PPD file would become an interface script, a program.
  std::string script = body;
  script.replace(script.find(uploaded), uploaded.size(), "#!/bin/sh\nid > /tmp/owned\n");
  r = server_.PostRaw("admin.cgi", script, "", "multipart/form-data; boundary=" + boundary);
  EXPECT_NE(r.body().find("Printer web: The uploaded file is not a PPD file."), std::string::npos) << r.out;
  EXPECT_FALSE(FileExists(server_.s_.root_.file("interfaces/web")));
  EXPECT_EQ(ReadFile(server_.s_.root_.file("ppd/web.ppd")), uploaded);

  const struct {
    const char* form;
    const char* notice;
    const char* conf;
  } steps[] = {
      {"op=stop-printer&printer_name=web", "Printer web stopped.", "<Printer web>\nInfo Changed\nLocation Hall 3\n"
                                                                    "DeviceURI socket://127.0.0.1:9100\nState Stopped\n"},
      {"op=reject-jobs&printer_name=web", "Printer web now rejects jobs.", "Accepting No\n"},
      {"op=accept-jobs&printer_name=web", "Printer web now accepts jobs.", "Accepting Yes\n"},
      {"op=start-printer&printer_name=web", "Printer web started.", "DeviceURI socket://127.0.0.1:9100\nState Idle\n"},
      {"op=set-as-default&printer_name=web", "Printer web is the default destination.", "<DefaultPrinter web>\n"},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.form);
    r = server_.Post("admin.cgi", s.form);
    EXPECT_NE(r.body().find(std::string("<p class=\"ok\">") + s.notice + "</p>"), std::string::npos) << r.out;
    EXPECT_TRUE(WaitUntil([&] { return PrintersConf().find(s.conf) != std::string::npos; })) << PrintersConf();
  }

  // Deleting asks first; the confirmed form deletes.
  r = server_.Post("admin.cgi", "op=delete-printer&printer_name=web");
  EXPECT_NE(r.body().find("<input type=\"hidden\" name=\"confirm\" value=\"yes\">"), std::string::npos) << r.out;
  EXPECT_NE(PrintersConf().find("web>"), std::string::npos);
  r = server_.Post("admin.cgi", "op=delete-printer&printer_name=web&confirm=yes");
  EXPECT_NE(r.body().find("<p class=\"ok\">Printer web deleted.</p>"), std::string::npos) << r.out;
  EXPECT_EQ(PrintersConf().find("web>"), std::string::npos);

  // Refusals: a name no printer can have, an unknown model, a bad device.
  const struct {
    const char* form;
    const char* notice;
  } bad[] = {
      {"op=add-printer&new=1&printer_name=a%2Fb", "A printer name has letters"},
      {"op=add-printer&new=1&printer_name=x&ppd_name=..%2F..%2Fetc%2Fpasswd", "Printer x: The scheduler refused"},
      {"op=add-printer&new=1&printer_name=x&device_uri=nosuch%3A%2F%2Fh", "Printer x: The scheduler refused"},
      {"op=frobnicate&printer_name=lab", "Unknown operation."},
  };
  for (const auto& b : bad) {
    SCOPED_TRACE(b.form);
    r = server_.Post("admin.cgi", b.form);
    EXPECT_NE(r.body().find(b.notice), std::string::npos) << r.out;
    EXPECT_EQ(PrintersConf().find("<Printer x>"), std::string::npos);
  }
}

}  // namespace

namespace {

// Where the scheduler asks who is asking and the program has no
// certificate it accepts, the page says so at once: nobody is there to
// type a password.
TEST(CgiAuth, NoCertificateIsARefusalNotAPrompt) {
  CgiServer server;
  char digest[33];
  httpMD5("alice", "VORN", "secret", digest);
  ASSERT_TRUE(WriteFile(server.s_.root_.file("passwd.md5"), std::string("alice:users:") + digest + "\n", 0600));
  server.Start("<Location /jobs>\nAuthType Digest\nAuthClass User\nOrder deny,allow\n</Location>\n");
  const auto started = std::chrono::steady_clock::now();
  CgiResult r = server.Run("jobs.cgi", "jobs.cgi", {{"REMOTE_USER", "alice"}, {"VORN_SERVERROOT", "/nonexistent"}});
  EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
  EXPECT_NE(r.body().find("<p class=\"error\">The scheduler refused: client-error-not-authenticated.</p>"),
            std::string::npos)
      << r.out << r.err;
  // With the server's certificates the same request goes through.
  r = server.Run("jobs.cgi", "jobs.cgi", {{"REMOTE_USER", "alice"}});
  EXPECT_NE(r.body().find("<p>No jobs.</p>"), std::string::npos) << r.out;
}

}  // namespace
