// The spool directory: control and data files, loading the queue back, and
// what a crash or a damaged file leaves behind.
#include <sys/resource.h>
#include <sys/wait.h>
#include <zlib.h>

#include <csignal>
#include <functional>

#include "vorn/file.h"
#include "tests/fixtures/jobs/job_fixture.h"

namespace {

// The message as the control file holds it.
std::string Encode(ipp_t* ipp) {
  std::string out;
  auto sink = [](void* ctx, uint8_t* buf, size_t len) -> ssize_t {
    static_cast<std::string*>(ctx)->append(reinterpret_cast<char*>(buf), len);
    return ssize_t(len);
  };
  EXPECT_EQ(ippWriteIO(&out, sink, 1, nullptr, ipp), IPP_DATA);
  return out;
}

void Gzip(const std::string& path, const std::string& content) {
  gzFile f = gzopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  gzwrite(f, content.data(), unsigned(content.size()));
  gzclose(f);
}

// Runs `body` in a child process and returns its wait status.
int InChild(const std::function<void()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    body();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

class JobFilesTest : public JobTest {
 protected:
  // A fresh start of the daemon: nothing in memory, ids from 1.
  void Restart() {
    DiscardAllJobs();
    NextJobId = 1;
    LoadAllJobs();
  }
};

TEST_F(JobFilesTest, IdsPersistAcrossARestart) {
  Printer("laser");
  Submit("laser");
  Submit("laser");
  Submit("laser");
  CancelJob(3, 1);  // the highest id leaves no file behind
  Restart();
  EXPECT_EQ(Order(), "1,2");
  EXPECT_EQ(NextJobId, 3) << "the next id comes from the files found";

  // Ids far apart and past five digits.
  NextJobId = 7;
  Submit("laser");
  NextJobId = 12;
  Submit("laser");
  NextJobId = 123456;
  Submit("laser", 50, "bob", IPP_JOB_PENDING, {"%!PS\n", "%PDF-1.4\n"});
  EXPECT_TRUE(Exists(Spool("c123456")));
  EXPECT_TRUE(Exists(Spool("d123456-002")));
  Restart();
  EXPECT_EQ(Order(), "1,2,7,12,123456");
  EXPECT_EQ(NextJobId, 123457);
  job_t* big = LookupJob(123456);
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big->num_files, 2);
  job_t* next = NewJob(50, "laser");
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next->id, 123457);
}

TEST_F(JobFilesTest, EveryFieldOfAJobRoundTrips) {
  Printer("laser");
  Printer("team", IPP_PRINTER_IDLE, PRINTER_CLASS);
  job_t* job = Submit("team", 73, "carol", IPP_JOB_STOPPED, {"%PDF-1.7\n"});
  ASSERT_NE(job, nullptr);
  Gzip(JobDataFile(job->id, 2), "%!PS-Adobe-3.0\n");
  job->num_files = 2;

  ipp_t* a = job->attrs.get();
  a->version[0] = 2;
  a->version[1] = 0;
  job->sheets->values[0].integer = 12;
  const std::string sheets[] = {"standard", "none"};
  job->job_sheets = ippAddStrings(a, IPP_TAG_JOB, IPP_TAG_NAME, "job-sheets", "", sheets);
  ippAddString(a, IPP_TAG_JOB, IPP_TAG_TEXTLANG, "job-message", "de", "Gr\xc3\xbc\xc3\x9f" "e");
  ippAddString(a, IPP_TAG_JOB, IPP_TAG_NAMELANG, "job-billing", "fr", "compte 7");
  ippAddString(a, IPP_TAG_JOB, IPP_TAG_MIMETYPE, "document-format", "", "application/pdf");
  ippAddBoolean(a, IPP_TAG_JOB, "collate", false);
  const ipp_range_t pages[] = {{1, 3}, {7, 9}};
  ippAddRanges(a, IPP_TAG_JOB, "page-ranges", pages);
  ippAddResolution(a, IPP_TAG_JOB, "printer-resolution", IPP_RES_PER_INCH, 600, 300);
  ipp_date_t date = ippTimeToDate(jobtest::Now, 120);
  ippAddDate(a, IPP_TAG_JOB, "date-time-at-creation", date.data());
  const int numbers[] = {4, 5, 6};
  ippAddIntegers(a, IPP_TAG_JOB, IPP_TAG_INTEGER, "number-up-list", numbers);
  ipp_t* size = ippNew();
  ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", 21000);
  ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "y-dimension", 29700);
  ippAddCollection(a, IPP_TAG_JOB, "media-size", size);
  ippAddString(a, IPP_TAG_JOB, IPP_TAG_TEXT, "job-state-message", "", "with \"quotes\"\nand a newline");
  ASSERT_EQ(SaveJob(job->id), 1);
  ASSERT_EQ(SaveJob(job->id), 1);  // a second save leaves nothing beside the file
  const std::string before = Encode(a);

  struct stat st;
  ASSERT_EQ(::stat(JobControlFile(1).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_FALSE(Exists(JobControlFile(1) + ".O"));
  EXPECT_FALSE(Exists(JobControlFile(1) + ".N"));

  Restart();
  job = LookupJob(1);
  ASSERT_NE(job, nullptr);
  EXPECT_EQ(Encode(job->attrs.get()), before) << "the attributes came back changed";
  EXPECT_EQ(job->attrs->version[0], 2);
  EXPECT_EQ(job->attrs->op_status, IPP_PRINT_JOB);
  EXPECT_EQ(job->attrs->request_id, 7);
  EXPECT_EQ(job->priority, 73);
  EXPECT_EQ(job->username, "carol");
  EXPECT_EQ(job->dest, "team");
  EXPECT_EQ(job->dtype, uint32_t(PRINTER_CLASS));
  EXPECT_EQ(JobState(job), IPP_JOB_STOPPED);
  ASSERT_NE(job->sheets, nullptr);
  EXPECT_EQ(job->sheets->values[0].integer, 12);
  ASSERT_NE(job->job_sheets, nullptr);
  EXPECT_EQ(job->job_sheets->values[1].string.text, "none");
  EXPECT_EQ(job->hold_until, 0);
  EXPECT_EQ(job->current_file, 0);
  ASSERT_EQ(job->num_files, 2);
  ASSERT_EQ(job->filetypes.size(), 2u);
  // Documents are typed from their content only when they are about to print.
  EXPECT_EQ(job->filetypes, (std::vector<TypeRecord*>{nullptr, nullptr}));
  for (int i = 0; i < job->num_files; i++) TypeJobDocument(job, i);
  ASSERT_NE(job->filetypes[0], nullptr);
  ASSERT_NE(job->filetypes[1], nullptr);
  EXPECT_EQ(job->filetypes[0]->type, "pdf");
  EXPECT_EQ(job->filetypes[1]->type, "postscript") << "typed from its uncompressed content";
  EXPECT_EQ(job->compressions, (std::vector<int>{0, 1}));
}

TEST_F(JobFilesTest, LoadingOrdersByPriorityThenId) {
  Printer("laser");
  Submit("laser", 50);
  Submit("laser", 80);
  Submit("laser", 50);
  Submit("laser", 100);
  Submit("laser", 1);
  Restart();
  EXPECT_EQ(Order(), "4,2,1,3,5");
  EXPECT_EQ(NumJobs, 5);
}

TEST_F(JobFilesTest, ADamagedControlFileKeepsItsFilesAndSparesTheOthers) {
  struct Case {
    const char* name;
    std::function<void(JobFilesTest*)> damage;
    const char* message;  // the error line, %s = the control file
  };
  auto drop = [](const char* attr) {
    return [attr](JobFilesTest*) {
      job_t* j = LookupJob(2);
      _ipp_free_attr(j->attrs.get(), ippFindAttribute(j->attrs.get(), attr, IPP_TAG_ZERO));
      j->state = nullptr;
      ASSERT_EQ(SaveJob(2), 1);
    };
  };
  const Case cases[] = {
      {"truncated",
       [](JobFilesTest* t) {
         std::string whole = t->Slurp(JobControlFile(2));
         t->Put(JobControlFile(2), whole.substr(0, whole.size() / 2));
       },
       "LoadAllJobs: Unable to read job control file \"%s\"!"},
      {"garbage", [](JobFilesTest* t) { t->Put(JobControlFile(2), std::string("\x01\x01\x00\x02\xff\xff\xff", 7)); },
       "LoadAllJobs: Unable to read job control file \"%s\"!"},
      {"empty", [](JobFilesTest* t) { t->Put(JobControlFile(2), ""); },
       "LoadAllJobs: Unable to read job control file \"%s\"!"},
      {"a dangling link", [](JobFilesTest*) {
         ::unlink(JobControlFile(2).c_str());
         ASSERT_EQ(::symlink("/nonexistent", JobControlFile(2).c_str()), 0);
       },
       "LoadAllJobs: Unable to open job control file \"%s\" - Too many levels of symbolic links!"},
      {"no job-state", drop("job-state"), "LoadAllJobs: Missing or bad job-state attribute in control file \"%s\"!"},
      {"job-state 42",
       [](JobFilesTest*) {
         LookupJob(2)->state->values[0].integer = 42;
         ASSERT_EQ(SaveJob(2), 1);
       },
       "LoadAllJobs: Missing or bad job-state attribute in control file \"%s\"!"},
      {"job-state not an enum",
       [](JobFilesTest*) {
         LookupJob(2)->state->value_tag = IPP_TAG_INTEGER;
         ASSERT_EQ(SaveJob(2), 1);
       },
       "LoadAllJobs: Missing or bad job-state attribute in control file \"%s\"!"},
      {"no job-printer-uri", drop("job-printer-uri"),
       "LoadAllJobs: No job-printer-uri attribute in control file \"%s\"!"},
  };
  Printer("laser");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DiscardAllJobs();
    std::filesystem::remove_all(RequestRoot);
    std::filesystem::create_directories(RequestRoot);
    NextJobId = 1;
    Submit("laser");
    Submit("laser", 50, "alice", IPP_JOB_PENDING, {"%!PS\n", "%PDF\n"});
    Submit("laser");
    c.damage(this);
    TakeLog();

    Restart();
    std::string log = TakeLog();
    EXPECT_EQ(Order(), "1,3") << "the good jobs are all there";
    std::string line = c.message;
    line.replace(line.find("%s"), 2, JobControlFile(2));
    EXPECT_TRUE(HasLine(log, 'E', line)) << log;
    EXPECT_TRUE(Exists(JobControlFile(2))) << "left for an administrator";
    EXPECT_EQ(Slurp(JobDataFile(2, 1)), "%!PS\n");
    EXPECT_EQ(Slurp(JobDataFile(2, 2)), "%PDF\n");
    EXPECT_TRUE(HasLine(log, 'E', "LoadAllJobs: Keeping print file \"" + JobDataFile(2, 2) + "\" of unreadable job 2!"));
    EXPECT_FALSE(log.find("Orphaned") != std::string::npos) << log;
    EXPECT_EQ(NextJobId, 4) << "the unreadable job's id is not given out again";
  }
}

TEST_F(JobFilesTest, DataFilesWithoutAJobAreDeletedAndLogged) {
  Printer("laser");
  Submit("laser");
  Put(Spool("d00009-001"), "lost");
  Put(Spool("d00001-004"), "late");  // a document of a known job
  // Not names the scheduler writes: not its to delete.
  for (const char* other : {"d9-1", "d00009-01", "dx", "c0001", "c00001x", "d00009-001.bad", "notes"})
    Put(Spool(other), "x");
  TakeLog();
  Restart();
  std::string log = TakeLog();
  EXPECT_FALSE(Exists(Spool("d00009-001")));
  EXPECT_TRUE(HasLine(log, 'E', "LoadAllJobs: Orphaned print file \"" + Spool("d00009-001") + "\"!")) << log;
  for (const char* other : {"d9-1", "d00009-01", "dx", "c0001", "c00001x", "d00009-001.bad", "notes"})
    EXPECT_TRUE(Exists(Spool(other))) << other;
  EXPECT_EQ(Order(), "1");
}

TEST_F(JobFilesTest, AMissingDocumentClosesTheGap) {
  Printer("laser");
  Submit("laser", 50, "alice", IPP_JOB_PENDING, {"%!PS one\n", "%PDF two\n", "%PDF three\n", "%!PS four\n"});
  ::unlink(JobDataFile(1, 2).c_str());
  TakeLog();
  Restart();
  std::string log = TakeLog();
  job_t* job = LookupJob(1);
  ASSERT_NE(job, nullptr);
  EXPECT_TRUE(HasLine(log, 'E', "LoadAllJobs: Print file \"" + JobDataFile(1, 2) + "\" of job 1 is missing!")) << log;
  ASSERT_EQ(job->num_files, 3);
  EXPECT_EQ(Slurp(JobDataFile(1, 1)), "%!PS one\n");
  EXPECT_EQ(Slurp(JobDataFile(1, 2)), "%PDF three\n");
  EXPECT_EQ(Slurp(JobDataFile(1, 3)), "%!PS four\n");
  EXPECT_FALSE(Exists(JobDataFile(1, 4)));
  for (int i = 0; i < job->num_files; i++) TypeJobDocument(job, i);
  EXPECT_EQ(job->filetypes[1]->type, "pdf");
  EXPECT_EQ(job->filetypes[2]->type, "postscript");
}

TEST_F(JobFilesTest, UnknownContentIsTypedRaw) {
  Printer("laser");
  Submit("laser", 50, "alice", IPP_JOB_PENDING, {std::string("\x1b%-12345X", 9)});
  Restart();
  job_t* job = LookupJob(1);
  ASSERT_NE(job, nullptr);
  ASSERT_EQ(job->num_files, 1);
  TypeJobDocument(job, 0);
  ASSERT_NE(job->filetypes[0], nullptr);
  EXPECT_EQ(job->filetypes[0]->type, "vnd.vorn-raw");
}

TEST_F(JobFilesTest, JobsForVanishedDestinations) {
  Printer("gone");
  Printer("crew", IPP_PRINTER_IDLE, PRINTER_CLASS);
  PreserveJobFiles = 1;
  Submit("gone", 50, "alice", IPP_JOB_PENDING);
  Submit("crew", 50, "alice", IPP_JOB_HELD, {"%!PS\n"}, "indefinite");
  Submit("gone", 50, "alice", IPP_JOB_COMPLETED);
  while (Printers) RemovePrinter(Printers, 0);
  TakeLog();

  Restart();
  std::string log = TakeLog();
  EXPECT_EQ(Order(), "1,2") << "active jobs stay, the finished one goes";

  printer_t* p = LookupPrinter("gone");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->type, uint32_t(PRINTER_REMOTE));
  EXPECT_EQ(p->state, IPP_PRINTER_STOPPED);
  EXPECT_EQ(p->make_model, "Remote Printer on unknown");
  EXPECT_EQ(p->location, "Location Unknown");
  EXPECT_EQ(p->info, "No Information Available");
  EXPECT_EQ(p->hostname, "");
  EXPECT_EQ(p->browse_time, 2147483647);
  EXPECT_NE(p->attrs, nullptr);
  EXPECT_EQ(LookupJob(1)->dtype, uint32_t(PRINTER_REMOTE));

  printer_t* c = LookupClass("crew");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->type, uint32_t(PRINTER_CLASS | PRINTER_REMOTE));
  EXPECT_EQ(c->make_model, "Remote Class on unknown");
  EXPECT_EQ(LookupJob(2)->dtype, uint32_t(PRINTER_CLASS | PRINTER_REMOTE));

  EXPECT_TRUE(HasLine(log, 'E',
                      "LoadAllJobs: Unable to queue job for destination \"http://srv.example.org:631/printers/gone\"!"))
      << log;
  EXPECT_FALSE(Exists(JobControlFile(3)));
  EXPECT_FALSE(Exists(JobDataFile(3, 1)));
  EXPECT_TRUE(HasLine(log, 'E', "LoadAllJobs: Orphaned print file \"" + JobDataFile(3, 1) + "\"!"));

  // A stand-in has no host to send to: the job waits for browsing to find it.
  RunPendingJobs();
  EXPECT_TRUE(jobtest::RunnerCalls.empty());
  EXPECT_EQ(JobState(LookupJob(1)), IPP_JOB_PENDING);
  p->hostname = "other.example.org";
  RunPendingJobs();
  EXPECT_EQ(jobtest::RunnerCalls, std::vector<std::string>{"start 1 gone"});
}

TEST_F(JobFilesTest, StatesAfterARestart) {
  struct Case {
    int state;
    const char* hold;  // job-hold-until, nullptr: none
    int loaded;        // state after the load
    const char* hold_until;  // local time, "0" or "now"
  };
  const Case cases[] = {
      {IPP_JOB_HELD, "indefinite", IPP_JOB_HELD, "0"},
      {IPP_JOB_HELD, "evening", IPP_JOB_HELD, "2024-05-15 18:00:00"},
      {IPP_JOB_HELD, "no-hold", IPP_JOB_HELD, "now"},  // released by the next check
      {IPP_JOB_HELD, nullptr, IPP_JOB_PENDING, "0"},
      {IPP_JOB_PROCESSING, "no-hold", IPP_JOB_PENDING, "0"},
      {IPP_JOB_STOPPED, "no-hold", IPP_JOB_STOPPED, "0"},
      {IPP_JOB_ABORTED, "no-hold", IPP_JOB_ABORTED, "0"},
  };
  Printer("laser", IPP_PRINTER_STOPPED);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.state) + " " + (c.hold ? c.hold : "(none)"));
    job_t* job = Submit("laser", 50, "alice", c.state);
    if (!c.hold) _ipp_free_attr(job->attrs.get(), ippFindAttribute(job->attrs.get(), "job-hold-until", IPP_TAG_ZERO));
    else ippFindAttribute(job->attrs.get(), "job-hold-until", IPP_TAG_KEYWORD)->values[0].string.text = c.hold;
    ASSERT_EQ(SaveJob(job->id), 1);
    int id = job->id;
    Restart();
    job = LookupJob(id);
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(JobState(job), c.loaded);
    time_t expect = std::string(c.hold_until) == "0" ? 0 : std::string(c.hold_until) == "now" ? jobtest::Now
                                                                                              : jobtest::Local(c.hold_until);
    EXPECT_EQ(job->hold_until, expect);
    DiscardAllJobs();
    std::filesystem::remove_all(RequestRoot);
    std::filesystem::create_directories(RequestRoot);
  }
}

TEST_F(JobFilesTest, AJobWithoutPriorityOrOwnerGetsTheDefaults) {
  Printer("laser");
  job_t* job = Submit("laser", 90, "dave");
  for (const char* name : {"job-priority", "job-originating-user-name"})
    _ipp_free_attr(job->attrs.get(), ippFindAttribute(job->attrs.get(), name, IPP_TAG_ZERO));
  ASSERT_EQ(SaveJob(1), 1);
  Restart();
  job = LookupJob(1);
  ASSERT_NE(job, nullptr);
  EXPECT_EQ(job->priority, 50);
  EXPECT_EQ(job->username, "anonymous");
  ipp_attribute_t* a = ippFindAttribute(job->attrs.get(), "job-priority", IPP_TAG_INTEGER);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->values[0].integer, 50);
  a = ippFindAttribute(job->attrs.get(), "job-originating-user-name", IPP_TAG_NAME);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->values[0].string.text, "anonymous");
}

TEST_F(JobFilesTest, LeftoversOfAnInterruptedSaveAreRemoved) {
  Printer("laser");
  Submit("laser");
  Put(JobControlFile(1) + ".N", "half");
  Put(JobControlFile(1) + ".O", "older");
  Put(JobControlFile(5) + ".N", "half");
  Restart();
  EXPECT_EQ(Order(), "1");
  EXPECT_FALSE(Exists(JobControlFile(1) + ".N"));
  EXPECT_FALSE(Exists(JobControlFile(1) + ".O"));
  EXPECT_FALSE(Exists(JobControlFile(5) + ".N"));
  EXPECT_TRUE(Exists(JobControlFile(1)));
}

TEST_F(JobFilesTest, ACrashDuringASaveLeavesALoadableJob) {
  struct Case {
    const char* name;
    int crash_at;      // a vorn_safe_step_t, or -1: killed by the file size limit mid-write
    int priority;      // what the next start finds
  };
  const Case cases[] = {
      {"mid-write", -1, 50},
      {"after the sync", int(vorn_safe_step_t::synced), 50},
      {"after the backup", int(vorn_safe_step_t::backed_up), 50},
      {"after the rename", int(vorn_safe_step_t::renamed), 90},
      {"after the directory sync", int(vorn_safe_step_t::dir_synced), 90},
  };
  Printer("laser");
  static int crash_at;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DiscardAllJobs();
    std::filesystem::remove_all(RequestRoot);
    std::filesystem::create_directories(RequestRoot);
    NextJobId = 1;
    Submit("laser", 50);
    Submit("laser", 60);
    crash_at = c.crash_at;
    int status = InChild([] {
      if (crash_at < 0) {
        // The file size limit stops the writer in the middle of the new file.
        rlimit limit{64, 64};
        ::setrlimit(RLIMIT_FSIZE, &limit);
      } else {
        vornSafeFileStepHook = [](vorn_safe_step_t s) {
          if (int(s) == crash_at) ::raise(SIGKILL);
        };
      }
      ChangeJobPriority(1, 90);
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child did not crash";
    if (c.priority == 50) {
      EXPECT_TRUE(Exists(JobControlFile(1) + ".N")) << "the crash came before the new file was whole";
    }

    Restart();
    job_t* job = LookupJob(1);
    ASSERT_NE(job, nullptr) << "the job was lost";
    EXPECT_EQ(job->priority, c.priority);
    EXPECT_EQ(Order(), c.priority == 90 ? "1,2" : "2,1");
    EXPECT_FALSE(Exists(JobControlFile(1) + ".N"));
    EXPECT_EQ(job->num_files, 1);
  }
}

TEST_F(JobFilesTest, FailuresToReadOrWriteTheSpoolDirectory) {
  Printer("laser");
  job_t* job = Submit("laser");
  std::string spool = RequestRoot;
  RequestRoot = root_ + "/missing";
  TakeLog();
  EXPECT_EQ(SaveJob(job->id), 0);
  Restart();
  std::string log = TakeLog();
  EXPECT_TRUE(HasLine(log, 'E', "SaveJob: Unable to create job control file \"" + root_ +
                                    "/missing/c00001\" - No such file or directory."))
      << log;
  EXPECT_TRUE(HasLine(log, 'E', "LoadAllJobs: Unable to open spool directory " + root_ +
                                    "/missing: No such file or directory"))
      << log;
  EXPECT_EQ(Jobs, nullptr);
  RequestRoot = spool;
}

TEST_F(JobFilesTest, SaveJobOfAnUnknownJobWritesNothing) {
  EXPECT_EQ(SaveJob(4), 0);
  EXPECT_FALSE(Exists(JobControlFile(4)));
}

TEST_F(JobFilesTest, LoadingPurgesOldJobsDownToMaxJobs) {
  Printer("laser");
  for (int i = 0; i < 5; i++) Submit("laser", 60, "alice", IPP_JOB_COMPLETED);
  Submit("laser", 50);
  Submit("laser", 50);
  MaxJobs = 5;
  Restart();
  EXPECT_EQ(Order(), "4,5,6,7") << "finished jobs purged from the front until fewer than 5 remain";
  EXPECT_FALSE(Exists(JobControlFile(1)));
  EXPECT_FALSE(Exists(JobControlFile(3)));
  EXPECT_TRUE(Exists(JobControlFile(4)));
}

}  // namespace
