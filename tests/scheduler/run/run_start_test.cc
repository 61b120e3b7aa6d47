// StartJob and StopJob with real filters and backends (shell scripts in a
// temporary ServerBin): chains, the "file:" device, raw and compressed
// documents, several documents, the filter limit, failures, stopping, and
// the descriptors the scheduler keeps.
#include <dirent.h>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "tests/fixtures/jobrun/jobrun_fixture.h"
#include "vorn/fd.h"

namespace {

class StartTest : public RunnerTest {
 protected:
  void SetUp() override {
    RunnerTest::SetUp();
    text_ = AddType(TypeDB.get(), "text", "x-test");
    mid_ = AddType(TypeDB.get(), "application", "x-mid");
    // upper: the first filter reads the file; quote: the second its input.
    Script("filter", "upper", "[ $# = 6 ] || { echo \"ERROR: upper got $# arguments\" >&2; exit 9; }\n"
                              "grep -q bad \"$6\" && { echo 'ERROR: bad document' >&2; exit 5; }\n"
                              "tr a-z A-Z < \"$6\"\n");
    Script("filter", "quote", "[ $# = 5 ] || { echo \"ERROR: quote got $# arguments\" >&2; exit 9; }\n"
                              "sed 's/^/> /'\n");
    Script("filter", "unzipconv", "[ $# = 6 ] || exit 9\nprintf 'unzipped:'; cat \"$6\"\n");
    // The backend records its arguments, environment and input.
    Script("backend", "test",
           "{ echo \"$#|$1|$2|$3|$4|$5|$6|$DEVICE_URI|$PRINTER|$CONTENT_TYPE\"; cat; } >> \"$VORN_SERVERROOT/backend.out\"\n");
    out_ = root_ + "/out";
  }

  printer_t* FilePrinter(const char* name, int cost1 = 10, int cost2 = 20) {
    printer_t* p = Printer(name);
    p->device_uri = "file:" + out_;
    AddFilter(TypeDB.get(), text_, mid_, cost1, "upper");
    AddFilter(TypeDB.get(), mid_, p->filetype, cost2, "quote");
    return p;
  }

  // A pending job of text documents on `dest`.
  job_t* TextJob(const std::string& dest, const std::vector<std::string>& docs) {
    job_t* job = Submit(dest, 50, "alice", IPP_JOB_PENDING, docs);
    for (auto& t : job->filetypes) t = text_;
    return job;
  }

  static int OpenDescriptors() {
    int count = 0;
    if (vorn::unique_dir d{::opendir("/proc/self/fd")}) {
      while (::readdir(d.get())) count++;
    }
    return count;
  }

  TypeRecord* text_ = nullptr;
  TypeRecord* mid_ = nullptr;
  std::string out_;
};

TEST_F(StartTest, TwoFiltersWriteStraightToTheFile) {
  printer_t* p = FilePrinter("laser");
  int id = TextJob("laser", {"hello\nworld\n"})->id;
  RunPendingJobs();
  job_t* job = LookupJob(id);
  ASSERT_EQ(JobState(job), IPP_JOB_PROCESSING);
  EXPECT_EQ(FilterLevel, 30);
  EXPECT_EQ(p->state, IPP_PRINTER_PROCESSING);
  EXPECT_GT(job->procs[0], 0);
  EXPECT_GT(job->procs[1], 0);
  EXPECT_EQ(job->procs[2], 0);  // no backend for a file
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(Slurp(out_), "> HELLO\n> WORLD\n");
  EXPECT_EQ(JobState(LookupJob(id)), IPP_JOB_COMPLETED);
  EXPECT_EQ(FilterLevel, 0);
  EXPECT_EQ(p->state, IPP_PRINTER_IDLE);
  EXPECT_EQ(p->job, nullptr);
  std::string log = TakeLog();
  EXPECT_NE(log.find("Started filter " + ServerBin + "/filter/upper (PID "), std::string::npos);
  EXPECT_NE(log.find("StartJob: argv = \"laser\",\"1\",\"alice\",\"doc-1\",\"1\",\"\",\"" + JobDataFile(id, 1) + "\""),
            std::string::npos);
}

TEST_F(StartTest, TheBackendReadsTheLastFilterAndGetsTheConvention) {
  printer_t* p = FilePrinter("laser");
  p->device_uri = "test://host/queue";
  int id = TextJob("laser", {"abc\n"})->id;
  RunPendingJobs();
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(Slurp(root_ + "/backend.out"), "5|1|alice|doc-1|1|||test://host/queue|laser|text/x-test\n> ABC\n");
  EXPECT_EQ(JobState(LookupJob(id)), IPP_JOB_COMPLETED);
}

TEST_F(StartTest, RawDocumentsGoToTheBackendOrAreCopiedToTheFile) {
  const std::string binary("\x01\x02\xff\n\0bin", 8);
  const struct {
    const char* what;
    const char* device;  // "": the file
    int compressed;
    std::string data;
    std::string expected;  // backend.out, or the file
  } cases[] = {
      {"raw to a backend: it reads the file", "test://h", 0, "payload",
       "6|1|alice|doc-1|1||" + JobDataFile(1, 1) + "|test://h|raw|text/x-test\n"},
      {"compressed raw: unzipconv reads the file, the backend its output", "test://h", 1, "payload",
       "5|2|alice|doc-2|1|||test://h|raw|text/x-test\nunzipped:payload"},
      {"raw to a file: every byte copied", "", 0, binary, binary},
  };
  printer_t* p = Printer("raw");
  p->raw = 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(root_ + "/backend.out");
    p->device_uri = *c.device ? c.device : "file:" + out_;
    job_t* job = TextJob("raw", {c.data});
    job->compressions[0] = c.compressed;
    int id = job->id;
    RunPendingJobs();
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(JobState(LookupJob(id)), IPP_JOB_COMPLETED);
    EXPECT_EQ(Slurp(*c.device ? root_ + "/backend.out" : out_), c.expected);
  }
}

// Raw documents of at most 1 MiB for a file are copied by the scheduler
// itself; larger ones by a copy process. Either way every byte arrives, and
// a write that fails stops the printer and keeps the job, as a failed copy
// process does.
TEST_F(StartTest, SmallRawDocumentsForAFileAreCopiedHereLargerOnesByAProcess) {
  const struct {
    size_t size;
    bool here;
  } cases[] = {{10, true}, {1 << 20, true}, {(1 << 20) + 1, false}};
  printer_t* p = Printer("raw");
  p->raw = 1;
  p->device_uri = "file:" + out_;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    std::string data(c.size, '\0');
    for (size_t i = 0; i < data.size(); i++) data[i] = char(i * 7 + i / 4096);
    int id = TextJob("raw", {data})->id;
    RunPendingJobs();
    EXPECT_EQ(LookupJob(id)->procs[0] != 0, !c.here);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(JobState(LookupJob(id)), IPP_JOB_COMPLETED);
    EXPECT_TRUE(Slurp(out_) == data) << "the output differs";
    std::string log = TakeLog();
    EXPECT_EQ(log.find("Copied job " + std::to_string(id) + " to " + out_ + ".") != std::string::npos, c.here);
    EXPECT_EQ(log.find("Started copy to " + out_ + " (PID ") != std::string::npos, !c.here);
  }

  // A file that takes no more than 4 bytes.
  int id = TextJob("raw", {"more than four bytes"})->id;
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 4;
  auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  RunPendingJobs();
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, old_handler);
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(JobState(LookupJob(id)), IPP_JOB_PENDING);
  EXPECT_EQ(p->state, IPP_PRINTER_STOPPED);
  EXPECT_NE(TakeLog().find("Unable to write print data: " + std::string(std::strerror(EFBIG))), std::string::npos);
}

TEST_F(StartTest, EveryDocumentOfAJobIsPrintedInTurn) {
  const struct {
    const char* what;
    std::vector<std::string> docs;
    const char* output;
    int state;
  } cases[] = {
      {"three documents follow each other in the file", {"a\n", "b\n", "c\n"}, "> A\n> B\n> C\n", IPP_JOB_COMPLETED},
      {"a failed document in the middle: the next one still prints", {"a\n", "bad\n", "c\n"}, "> A\n> C\n",
       IPP_JOB_COMPLETED},
      {"the last document failed: aborted", {"a\n", "bad\n"}, "> A\n", IPP_JOB_ABORTED},
  };
  FilePrinter("laser");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    int id = TextJob("laser", c.docs)->id;
    RunPendingJobs();
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(Slurp(out_), c.output);
    EXPECT_EQ(JobState(LookupJob(id)), c.state);
    EXPECT_EQ(FilterLevel, 0);
  }
}

TEST_F(StartTest, ADocumentWithoutAChainIsSkipped) {
  printer_t* p = FilePrinter("laser");
  TypeRecord* odd = AddType(TypeDB.get(), "image", "x-odd");
  job_t* job = TextJob("laser", {"skip me\n", "b\n"});
  job->filetypes[0] = odd;
  int id = job->id;
  RunPendingJobs();
  for (int i = 0; i < 3 && JobState(LookupJob(id)) != IPP_JOB_COMPLETED; i++) {
    RunPendingJobs();
    ASSERT_TRUE(RunUntilIdle());
  }
  EXPECT_EQ(JobState(LookupJob(id)), IPP_JOB_COMPLETED);
  EXPECT_EQ(Slurp(out_), "> B\n");
  EXPECT_TRUE(HasLine(TakeLog(), 'E', "Unable to convert file 0 to printable format for job 1!"));

  // A job whose only document cannot be converted is cancelled.
  job = TextJob("laser", {"x"});
  job->filetypes[0] = odd;
  id = job->id;
  RunPendingJobs();
  EXPECT_EQ(JobState(LookupJob(id)), IPP_JOB_CANCELLED);
  EXPECT_EQ(p->job, nullptr);
}

TEST_F(StartTest, FilterLimitHoldsAJobWhileOthersRun) {
  FilterLimit = 200;
  std::string flag = root_ + "/go";
  Script("filter", "slow", "i=0; while [ ! -e \"" + flag + "\" ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done\n"
                           "cat \"$6\"\n");
  printer_t* a = Printer("a");
  a->device_uri = "file:" + root_ + "/a.out";
  AddFilter(TypeDB.get(), text_, a->filetype, 150, "slow");
  printer_t* b = Printer("b");
  b->device_uri = "file:" + root_ + "/b.out";
  AddFilter(TypeDB.get(), text_, b->filetype, 100, "upper");

  int first = TextJob("a", {"one\n"})->id;
  int second = TextJob("b", {"two\n"})->id;
  RunPendingJobs();
  EXPECT_EQ(JobState(LookupJob(first)), IPP_JOB_PROCESSING);
  EXPECT_EQ(JobState(LookupJob(second)), IPP_JOB_PENDING);
  EXPECT_EQ(FilterLevel, 150);
  EXPECT_TRUE(HasLine(TakeLog(), 'I', "Holding job 2 because filter limit has been reached."));

  Put(flag, "");
  ASSERT_TRUE(RunUntilIdle());
  RunPendingJobs();
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(JobState(LookupJob(second)), IPP_JOB_COMPLETED);
  EXPECT_EQ(Slurp(root_ + "/b.out"), "TWO\n");

  // Alone, a job is admitted whatever its cost.
  printer_t* c = Printer("c");
  c->device_uri = "file:" + root_ + "/c.out";
  AddFilter(TypeDB.get(), text_, c->filetype, 500, "upper");
  int big = TextJob("c", {"big\n"})->id;
  RunPendingJobs();
  EXPECT_EQ(FilterLevel, 500);
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(JobState(LookupJob(big)), IPP_JOB_COMPLETED);
}

TEST_F(StartTest, AFailedBackendStopsThePrinterAndKeepsTheJob) {
  printer_t* p = FilePrinter("laser");
  p->device_uri = "nosuch://device";
  int id = TextJob("laser", {"abc\n"})->id;
  RunPendingJobs();
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(JobState(LookupJob(id)), IPP_JOB_PENDING);
  EXPECT_EQ(p->state, IPP_PRINTER_STOPPED);
  EXPECT_EQ(LookupJob(id)->current_file, 0);  // the same document again
  EXPECT_TRUE(HasLine(TakeLog(), 'D', "[Job 1] " + ServerBin + "/backend/nosuch: No such file or directory"));

  // Started again, the printer prints it.
  p->device_uri = "test://ok";
  p->state = IPP_PRINTER_IDLE;
  RunPendingJobs();
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(JobState(LookupJob(id)), IPP_JOB_COMPLETED);
}

TEST_F(StartTest, ABackendSchemeNeverLeavesTheBackendDirectory) {
  printer_t* p = FilePrinter("laser");
  p->device_uri = "../../../bin/true:x";
  int id = TextJob("laser", {"abc\n"})->id;
  RunPendingJobs();
  ASSERT_TRUE(RunUntilIdle());
  // Refused like a failed backend: the printer stops, the job waits.
  EXPECT_EQ(JobState(LookupJob(id)), IPP_JOB_PENDING);
  EXPECT_EQ(p->state, IPP_PRINTER_STOPPED);
  EXPECT_EQ(p->state_message, "Device URI refused: bad scheme \"../../../bin/true\".");
  EXPECT_EQ(FilterLevel, 0);
}

TEST_F(StartTest, HaltingThePrinterStopsItsJobAndRequeuesIt) {
  printer_t* p = FilePrinter("laser");
  p->device_uri = "test://slow";
  Script("backend", "test", "sleep 5\n");
  int id = TextJob("laser", {"abc\n"})->id;
  RunPendingJobs();
  job_t* job = LookupJob(id);
  ASSERT_EQ(JobState(job), IPP_JOB_PROCESSING);
  pid_t backend = job->procs[1];
  ASSERT_GT(backend, 0);

  HaltPrinter(p, 0);
  job = LookupJob(id);
  EXPECT_EQ(JobState(job), IPP_JOB_PENDING);
  EXPECT_EQ(p->state, IPP_PRINTER_STOPPED);
  EXPECT_EQ(p->job, nullptr);
  EXPECT_FALSE(job->pipe);
  EXPECT_EQ(job->current_file, 0);
  EXPECT_EQ(FilterLevel, 0);
  // The backend got SIGTERM.
  int status = 0;
  ASSERT_EQ(::waitpid(backend, &status, 0), backend);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  Reload();
  EXPECT_EQ(JobState(LookupJob(id)), IPP_JOB_PENDING);
}

TEST_F(StartTest, NoStatusPipeMeansTheJobWaitsInTheQueue) {
  printer_t* p = FilePrinter("laser");
  int id = TextJob("laser", {"abc\n"})->id;
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit tight = saved;
  tight.rlim_cur = rlim_t(OpenDescriptors() + 16);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
  std::vector<vorn::unique_fd> filler;
  for (int i = 0; i < 64; i++) {
    vorn::unique_fd fd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!fd) break;
    filler.push_back(std::move(fd));
  }
  RunPendingJobs();
  filler.clear();
  ::setrlimit(RLIMIT_NOFILE, &saved);

  job_t* job = LookupJob(id);
  EXPECT_EQ(JobState(job), IPP_JOB_PENDING);
  EXPECT_EQ(job->current_file, 0);
  EXPECT_EQ(FilterLevel, 0);
  EXPECT_EQ(p->job, nullptr);
  EXPECT_EQ(p->state, IPP_PRINTER_IDLE);
  EXPECT_EQ(p->state_message, "Unable to create status pipes - Too many open files.");

  RunPendingJobs();
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(JobState(LookupJob(id)), IPP_JOB_COMPLETED);
}

TEST_F(StartTest, AThousandJobsLeaveNoDescriptorBehind) {
  printer_t* p = Printer("raw");
  p->raw = 1;
  p->device_uri = "file:" + out_;
  LogLevel = L_ERROR;
  PreserveJobHistory = 0;
  // The logs are open before counting: they stay open.
  LogDiagnostic(L_ERROR, "counting");
  int before = OpenDescriptors();
  for (int i = 0; i < 1000; i++) {
    // Copied here for a file, by a copy process for a device: both ways.
    p->device_uri = i % 2 ? "file:/dev/null" : "file:" + out_;
    TextJob("raw", {"x" + std::to_string(i)});
    RunPendingJobs();
    ASSERT_TRUE(RunUntilIdle()) << i;
  }
  EXPECT_EQ(NumJobs, 0);
  EXPECT_EQ(Slurp(out_), "x998");
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
