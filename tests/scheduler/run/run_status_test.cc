// Status lines on a job's status pipe and the end of a document: what each
// prefix does to the log, the printer and the job, the page log and sheet
// count, and the outcome by exit status. The pipes are real; the writer is
// the test.
#include <fcntl.h>
#include <unistd.h>

#include "tests/fixtures/jobrun/jobrun_fixture.h"
#include "vorn/fd.h"

namespace {

class StatusTest : public RunnerTest {
 protected:
  // A one-document job on `p`, processing its document as if started.
  job_t* Running(printer_t* p, int status = 0, const std::string& dest = "") {
    job_t* job = Submit(dest.empty() ? p->name : dest);
    SetJobState(job, IPP_JOB_PROCESSING);
    job->printer = p;
    p->job = job;
    p->state = IPP_PRINTER_PROCESSING;
    job->current_file = job->num_files;
    job->status = status;
    return job;
  }

  // Writes `text` on a fresh status pipe of job `id`, closes it and lets
  // UpdateJob read it to the end.
  void Feed(int id, const std::string& text) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    vorn::unique_fd wr(fds[1]);
    LookupJob(id)->pipe.reset(fds[0]);
    ASSERT_EQ(vorn::write_all(wr.get(), text.data(), text.size()), 0);
    wr.reset();
    for (int i = 0; i < 1000; i++) {
      job_t* job = LookupJob(id);
      if (!job || !job->pipe) return;
      UpdateJob(job);
    }
    ADD_FAILURE() << "the status pipe never ended";
  }

  static int Sheets(int id) {
    job_t* job = LookupJob(id);
    return job && job->sheets ? job->sheets->values[0].integer : -1;
  }
};

TEST_F(StatusTest, EachPrefixHasItsEffect) {
  const struct {
    const char* what;
    std::string lines;
    int status;
    int log_level;
    const char* message;                 // printer-state-message after
    std::vector<std::string> reasons;    // after, starting from {toner-low}
    char letter;                         // a log line "[Job 1] <logged>" of this level; 0: none
    const char* logged;
  } cases[] = {
      {"ERROR: message and log", "ERROR: paper jam\n", 0, L_DEBUG2, "paper jam", {"toner-low"}, 'E', "paper jam"},
      {"white space after the prefix is skipped", "WARNING: \t low\n", 0, L_DEBUG2, "low", {"toner-low"}, 'W', "low"},
      {"EMERG", "EMERG: fire\n", 0, L_DEBUG2, "fire", {"toner-low"}, 'X', "fire"},
      {"NOTICE without a newline at the end", "NOTICE: last", 0, L_DEBUG2, "last", {"toner-low"}, 'N', "last"},
      {"INFO at debug2: logged, message", "INFO: page 1\n", 0, L_DEBUG2, "page 1", {"toner-low"}, 'I', "page 1"},
      {"INFO below debug2: not logged", "INFO: page 1\n", 0, L_DEBUG, "page 1", {"toner-low"}, 0, ""},
      {"INFO after a failure: no message", "INFO: page 1\n", 256, L_DEBUG2, "before", {"toner-low"}, 'I', "page 1"},
      {"DEBUG: logged only", "DEBUG: detail\n", 0, L_DEBUG2, "before", {"toner-low"}, 'D', "detail"},
      {"DEBUG2: logged only", "DEBUG2: more\n", 0, L_DEBUG2, "before", {"toner-low"}, 'd', "more"},
      {"no prefix: whole line at debug", "error: lower case\n", 0, L_DEBUG2, "before", {"toner-low"}, 'D',
       "error: lower case"},
      {"STATE add then remove", "STATE: +media-empty\nSTATE: -media-empty\n", 0, L_DEBUG2, "before", {"toner-low"},
       0, ""},
      {"STATE add", "STATE: +media-empty\n", 0, L_DEBUG2, "before", {"toner-low", "media-empty"}, 0, ""},
      {"STATE replace", "STATE: media-jam,cover-open\n", 0, L_DEBUG2, "before", {"media-jam", "cover-open"}, 0, ""},
  };
  printer_t* p = Printer("laser");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TakeLog();
    LogLevel = c.log_level;
    p->state_message = "before";
    p->reasons = {"toner-low"};
    job_t* job = Running(p, c.status);
    Feed(job->id, c.lines);
    EXPECT_EQ(p->state_message, c.message);
    EXPECT_EQ(p->reasons, c.reasons);
    std::string log = TakeLog();
    std::string line = "[Job " + std::to_string(job->id) + "] " + c.logged;
    if (c.letter) EXPECT_TRUE(HasLine(log, c.letter, line)) << log;
    else EXPECT_EQ(log.find("[Job "), std::string::npos) << log;
  }
}

TEST_F(StatusTest, PageLinesCountSheetsAndWriteThePageLog) {
  const struct {
    const char* line;
    int before, after;
  } cases[] = {
      {"PAGE: 3 2", 0, 2},          {"PAGE: 3", 4, 5},           {"PAGE: total 10", 4, 10},
      {"PAGE: TOTAL 7", 0, 7},      {"PAGE: total 2", 4, 4},     {"PAGE: 1 0", 3, 3},
      {"PAGE: nonsense", 3, 3},     {"PAGE: 1 -5", 3, 3},        {"PAGE: 1 99999999999999", 0, 2147483647},
  };
  printer_t* p = Printer("laser");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    job_t* job = Running(p);
    ippAddString(job->attrs.get(), IPP_TAG_JOB, IPP_TAG_NAME, "job-billing", "", "dept7");
    ippAddString(job->attrs.get(), IPP_TAG_JOB, IPP_TAG_NAME, "job-originating-host-name", "", "ws1");
    job->sheets->values[0].integer = c.before;
    int id = job->id;
    std::filesystem::remove(PageLog);
    Feed(id, std::string(c.line) + "\n");
    EXPECT_EQ(Sheets(id), c.after);
    CloseLogs();
    std::string pages = Slurp(PageLog);
    std::string text = std::string(c.line).substr(6);
    EXPECT_EQ(pages.rfind("laser alice " + std::to_string(id) + " [", 0), 0u) << pages;
    EXPECT_NE(pages.find("] " + text + " dept7 ws1\n"), std::string::npos) << pages;
  }
}

TEST_F(StatusTest, PagesAreChargedToTheOwnersQuotaWhenThePrinterHasALimit) {
  printer_t* p = Printer("laser");
  p->page_limit = 100;
  p->quota_period = 86400;
  job_t* job = Running(p);
  int id = job->id;
  // The first charge counts the user's jobs; later ones add.
  Feed(id, "PAGE: 1 2\n");
  quota_t* q = QuotaForUser(p, "alice");
  ASSERT_NE(q, nullptr);
  int counted = q->page_count;
  EXPECT_EQ(counted, 2);

  job = Running(p);
  Feed(job->id, "PAGE: 1 3\nPAGE: 2\n");
  EXPECT_EQ(QuotaForUser(p, "alice")->page_count, counted + 4);

  // Without a limit nothing is charged.
  p->page_limit = 0;
  job = Running(p);
  Feed(job->id, "PAGE: 1 5\n");
  EXPECT_EQ(QuotaForUser(p, "alice")->page_count, counted + 4);
}

TEST_F(StatusTest, TheRestOfALongLineIsDroppedNeverReadAsALine) {
  printer_t* p = Printer("laser");
  job_t* job = Running(p);
  int id = job->id;
  TakeLog();
  // The tail would read as a page line of its own if the cut started one.
  Feed(id, "ERROR: " + std::string(2500, 'x') + "PAGE: 1 7\nPAGE: 1 2\n");
  EXPECT_EQ(p->state_message, std::string(1023 - 7, 'x'));
  EXPECT_EQ(Sheets(id), 2);
  std::string log = TakeLog();
  // The rest arrives as one full buffer and what is left before the newline.
  EXPECT_TRUE(HasLine(log, 'D', "[Job 1] Dropped 1023 more bytes of an overlong status line."));
  EXPECT_TRUE(HasLine(log, 'D', "[Job 1] Dropped " + std::to_string(2500 + 9 - 1016 - 1023) +
                                    " more bytes of an overlong status line."));
  // The error line itself, and nothing more of it.
  size_t pieces = 0;
  for (size_t at = log.find("[Job 1] xxxxxx"); at != std::string::npos; at = log.find("[Job 1] xxxxxx", at + 1)) pieces++;
  EXPECT_EQ(pieces, 1u) << log;
}

TEST_F(StatusTest, TheExitStatusDecidesTheOutcome) {
  const struct {
    const char* what;
    int status;
    uint32_t dtype;
    int preserve;
    int job_state;  // 0: the job is gone
    int printer_state;
  } cases[] = {
      {"success: completed", 0, 0, 1, IPP_JOB_COMPLETED, IPP_PRINTER_IDLE},
      {"success without history: removed", 0, 0, 0, 0, IPP_PRINTER_IDLE},
      {"a filter failed: aborted", 256, 0, 1, IPP_JOB_ABORTED, IPP_PRINTER_IDLE},
      {"the backend failed: pending, printer stopped", -256, 0, 1, IPP_JOB_PENDING, IPP_PRINTER_STOPPED},
      {"the backend failed on a class job: pending, printer idle", -256, PRINTER_CLASS, 1, IPP_JOB_PENDING,
       IPP_PRINTER_IDLE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    printer_t* p = Printer("laser");
    // A class job goes back to its class, whose stopped state keeps it
    // from being started again at once.
    printer_t* cls = c.dtype ? Printer("office", IPP_PRINTER_STOPPED, PRINTER_CLASS) : nullptr;
    PreserveJobHistory = c.preserve;
    job_t* job = Running(p, c.status, cls ? "office" : "laser");
    EXPECT_EQ(job->dtype, c.dtype);
    int id = job->id;
    Feed(id, "");
    job = LookupJob(id);
    EXPECT_EQ(job ? JobState(job) : 0, c.job_state);
    EXPECT_EQ(p->state, c.printer_state);
    EXPECT_EQ(p->job, nullptr);
    if (c.job_state) {
      // What a restart would read back.
      EXPECT_TRUE(Exists(JobControlFile(id)));
      Reload();
      EXPECT_EQ(JobState(LookupJob(id)), c.job_state);
    }
    DiscardAllJobs();
    RemovePrinter(p, 0);
    if (cls) RemovePrinter(cls, 0);
  }
}

TEST_F(StatusTest, AFaxJobIsRetriedThenCancelled) {
  printer_t* p = Printer("fax", IPP_PRINTER_IDLE, PRINTER_FAX);
  FaxRetryLimit = 5;
  FaxRetryInterval = 60;
  job_t* job = Running(p, -256);
  const int id = job->id;
  for (int attempt = 1; attempt <= 5; attempt++) {
    SCOPED_TRACE(attempt);
    job = LookupJob(id);
    ASSERT_NE(job, nullptr);
    SetJobState(job, IPP_JOB_PROCESSING);
    job->printer = p;
    p->job = job;
    job->status = -256;
    TakeLog();
    Feed(id, "ERROR: no dial tone\n");
    // The fax printer keeps running: only the job waits.
    EXPECT_NE(p->state, IPP_PRINTER_STOPPED);
    job = LookupJob(id);
    if (attempt < 5) {
      ASSERT_NE(job, nullptr);
      EXPECT_EQ(JobState(job), IPP_JOB_HELD);
      EXPECT_EQ(job->tries, attempt);
      EXPECT_EQ(job->hold_until, jobtest::Now + 60);
    } else {
      EXPECT_TRUE(job == nullptr || JobState(job) == IPP_JOB_CANCELLED);
      EXPECT_TRUE(HasLine(TakeLog(), 'E', "Canceling fax job 1 since it could not be sent after 5 tries."));
    }
  }
}

}  // namespace
