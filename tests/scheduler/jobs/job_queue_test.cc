// The queue: order, the choice of the next jobs, and the operations that
// cancel, hold, release, restart, move and re-prioritise jobs.
#include "tests/fixtures/jobs/job_fixture.h"

namespace {

class JobQueueTest : public JobTest {
 protected:
  // Jobs with these priorities on `dest`, in this order.
  void Queue(const std::vector<int>& priorities, const std::string& dest = "laser") {
    for (int p : priorities) Submit(dest, p);
  }
  // Jobs on `dest` in these states.
  void QueueStates(const std::vector<int>& states, const std::string& dest = "laser") {
    for (int s : states) Submit(dest, 50, "alice", s);
  }
  static std::string States() {
    std::string s;
    for (const job_t* j = Jobs; j; j = j->next) s += (s.empty() ? "" : ",") + std::to_string(JobState(j));
    return s;
  }
};

TEST_F(JobQueueTest, NewJobsQueueByPriorityThenArrival) {
  struct Case {
    std::vector<int> priorities;
    const char* order;
  };
  const Case cases[] = {
      {{50, 50, 50}, "1,2,3"},
      {{50, 80, 50}, "2,1,3"},
      {{1, 100, 50, 100, 1}, "2,4,3,1,5"},
      {{0, 150, -7}, "2,1,3"},  // cut to 1..100
  };
  Printer("laser");
  for (const Case& c : cases) {
    DiscardAllJobs();
    NextJobId = 1;
    Queue(c.priorities);
    EXPECT_EQ(Order(), c.order);
    EXPECT_EQ(NumJobs, int(c.priorities.size()));
  }
  EXPECT_EQ(LookupJob(1)->priority, 1);
  EXPECT_EQ(LookupJob(2)->priority, 100);
}

TEST_F(JobQueueTest, ChangeJobPriorityMovesAJobOutOfOrder) {
  struct Case {
    std::vector<int> priorities;
    int id, priority;
    const char* order;
  };
  const Case cases[] = {
      {{50, 50, 50}, 2, 80, "2,1,3"},
      {{50, 50, 50}, 3, 20, "1,2,3"},
      {{50, 50, 50}, 1, 50, "2,3,1"},  // behind its equals, as a new arrival
      {{80, 50, 20}, 3, 90, "3,1,2"},
      {{80, 50, 20}, 1, 10, "2,3,1"},
      {{80, 50, 20}, 2, 60, "1,2,3"},  // still in order: stays
      {{80, 50, 20}, 2, 80, "1,2,3"},  // behind the other 80
      {{80, 50, 20}, 2, 200, "2,1,3"},  // cut to 100
  };
  Printer("laser");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.id) + " -> " + std::to_string(c.priority));
    DiscardAllJobs();
    NextJobId = 1;
    Queue(c.priorities);
    ASSERT_EQ(ChangeJobPriority(c.id, c.priority), 1);
    EXPECT_EQ(Order(), c.order);
    EXPECT_EQ(NumJobs, 3);
    job_t* job = LookupJob(c.id);
    int expect = std::min(c.priority, 100);
    EXPECT_EQ(job->priority, expect);
    EXPECT_EQ(ippFindAttribute(job->attrs.get(), "job-priority", IPP_TAG_INTEGER)->values[0].integer, expect);
  }
  EXPECT_EQ(ChangeJobPriority(42, 10), 0);

  // The new priority is saved.
  DiscardAllJobs();
  NextJobId = 1;
  LoadAllJobs();
  EXPECT_EQ(LookupJob(2)->priority, 100);
}

TEST_F(JobQueueTest, OneJobPerIdlePrinter) {
  Printer("laser");
  Printer("inkjet", IPP_PRINTER_PROCESSING);
  Printer("plotter", IPP_PRINTER_STOPPED);
  Printer("spare");
  Submit("laser");
  Submit("inkjet");
  Submit("plotter");
  Submit("laser");
  Submit("spare");
  Submit("spare", 50, "alice", IPP_JOB_HELD, {"%!PS\n"}, "indefinite");
  RunPendingJobs();
  EXPECT_EQ(jobtest::RunnerCalls, (std::vector<std::string>{"start 1 laser", "start 5 spare"}));
  EXPECT_EQ(States(), "5,3,3,3,5,4");

  // The printer is free again: the next job for it goes.
  LookupPrinter("laser")->state = IPP_PRINTER_IDLE;
  LookupPrinter("laser")->job = nullptr;
  jobtest::RunnerCalls.clear();
  RunPendingJobs();
  EXPECT_EQ(jobtest::RunnerCalls, std::vector<std::string>{"start 4 laser"});
}

TEST_F(JobQueueTest, HigherPriorityStartsFirst) {
  Printer("laser");
  Submit("laser", 10);
  Submit("laser", 90);
  RunPendingJobs();
  EXPECT_EQ(jobtest::RunnerCalls, std::vector<std::string>{"start 2 laser"});
}

// Pending jobs start in queue order however they came to be pending (new,
// re-prioritised, requeued from history, released, timed hold ended), with
// finished jobs kept as history in between, and again after a reload.
TEST_F(JobQueueTest, StartsFollowTheQueueThroughHistoryAndChanges) {
  PreserveJobFiles = 1;
  printer_t* laser = Printer("laser", IPP_PRINTER_STOPPED);
  Submit("laser", 50, "alice", IPP_JOB_COMPLETED);                        // 1: history
  Submit("laser", 50);                                                    // 2
  Submit("laser", 50, "alice", IPP_JOB_COMPLETED);                        // 3: requeued below
  Submit("laser", 20);                                                    // 4
  Submit("laser", 80);                                                    // 5: lowered below
  Submit("laser", 50, "alice", IPP_JOB_HELD, {"%!PS\n"}, "indefinite");  // 6: released below
  Submit("laser", 50);                                                    // 7: raised below
  Submit("laser", 50, "alice", IPP_JOB_HELD, {"%!PS\n"}, "indefinite");  // 8: its hold ends
  Submit("laser", 50, "alice", IPP_JOB_CANCELLED);                        // 9: history
  ASSERT_EQ(ChangeJobPriority(7, 90), 1);
  ASSERT_EQ(ChangeJobPriority(5, 50), 1);  // behind its equals
  ASSERT_EQ(RequeueJob(3), 1);
  ASSERT_EQ(ReleaseJob(6), 1);
  LookupJob(8)->hold_until = jobtest::Now - 1;
  EXPECT_TRUE(jobtest::RunnerCalls.empty()) << "the printer is stopped";
  EXPECT_EQ(Order(), "7,1,2,3,6,8,9,5,4");

  // Each pass starts one job; the test's runner finishes it before the next.
  auto run_all = [&] {
    for (int pass = 0; pass < 20; pass++) {
      size_t before = jobtest::RunnerCalls.size();
      RunPendingJobs();
      if (jobtest::RunnerCalls.size() == before) return;
      ASSERT_EQ(jobtest::RunnerCalls.size(), before + 1) << "one printer, one job at a time";
      job_t* job = laser->job;
      ASSERT_NE(job, nullptr);
      SetJobState(job, IPP_JOB_COMPLETED);
      laser->job = nullptr;
      laser->state = IPP_PRINTER_IDLE;
    }
  };
  laser->state = IPP_PRINTER_IDLE;
  run_all();
  EXPECT_EQ(jobtest::RunnerCalls, (std::vector<std::string>{"start 7 laser", "start 2 laser", "start 3 laser",
                                                            "start 6 laser", "start 8 laser", "start 5 laser",
                                                            "start 4 laser"}));

  // A reload queues equal priorities by id: requeued history and new jobs
  // after it keep that order.
  for (int id : {1, 2, 3, 9}) ASSERT_EQ(RequeueJob(id), 1);
  Submit("laser", 50);  // 10
  ASSERT_EQ(ChangeJobPriority(2, 60), 1);
  for (const job_t* j = Jobs; j; j = j->next) ASSERT_EQ(SaveJob(j->id), 1);
  DiscardAllJobs();
  LoadAllJobs();
  Submit("laser", 50);  // 11, after everything loaded
  jobtest::RunnerCalls.clear();
  run_all();
  EXPECT_EQ(jobtest::RunnerCalls, (std::vector<std::string>{"start 2 laser", "start 1 laser", "start 3 laser",
                                                            "start 9 laser", "start 10 laser", "start 11 laser"}));
}

// A pass takes the destinations in queue order of their first waiting job
// and passes over a busy printer's whole backlog; a moved job waits under
// its new destination, and one cancelled after its move is gone from both.
TEST_F(JobQueueTest, BusyBacklogsArePassedOverAndMovedJobsFollowTheirDestination) {
  Printer("busy", IPP_PRINTER_PROCESSING);
  printer_t* laser = Printer("laser");
  printer_t* inkjet = Printer("inkjet");
  Printer("plotter", IPP_PRINTER_STOPPED);
  for (int i = 0; i < 50; i++) Submit("busy");  // 1-50
  Submit("laser", 40);                          // 51
  Submit("plotter", 50);                        // 52: moved to inkjet
  Submit("inkjet", 60);                         // 53
  Submit("laser", 70);                          // 54
  Submit("plotter", 50);                        // 55: moved to laser, then cancelled
  ASSERT_EQ(RetargetJob(52, "inkjet"), 1);
  ASSERT_EQ(RetargetJob(55, "laser"), 1);
  CancelJob(55, 1);
  ASSERT_EQ(LookupJob(55), nullptr);
  RunPendingJobs();
  EXPECT_EQ(jobtest::RunnerCalls, (std::vector<std::string>{"start 54 laser", "start 53 inkjet"}));

  auto finish = [&] {
    for (printer_t* p : {laser, inkjet}) {
      if (p->job) SetJobState(p->job, IPP_JOB_COMPLETED);
      p->job = nullptr;
      p->state = IPP_PRINTER_IDLE;
    }
    jobtest::RunnerCalls.clear();
  };
  finish();
  RunPendingJobs();
  EXPECT_EQ(jobtest::RunnerCalls, (std::vector<std::string>{"start 52 inkjet", "start 51 laser"}));
  finish();
  RunPendingJobs();
  EXPECT_TRUE(jobtest::RunnerCalls.empty()) << "a finished job left behind under its old destination";
}

TEST_F(JobQueueTest, RemoteDestinations) {
  printer_t* far = Printer("far", IPP_PRINTER_STOPPED, PRINTER_REMOTE);
  far->hostname = "far.example.org";
  printer_t* busy = Printer("busy", IPP_PRINTER_IDLE, PRINTER_REMOTE);
  busy->hostname = "busy.example.org";
  printer_t* group = Printer("group", IPP_PRINTER_STOPPED, PRINTER_CLASS | PRINTER_REMOTE);
  group->hostname = "group.example.org";
  Submit("busy");  // made busy below
  busy->job = LookupJob(1);
  Submit("far");
  Submit("group");
  RunPendingJobs();
  // Remote queues take a job whenever they are not sending one; a remote
  // class is sent the job itself.
  EXPECT_EQ(jobtest::RunnerCalls, (std::vector<std::string>{"start 2 far", "start 3 group"}));
}

TEST_F(JobQueueTest, ClassesRotateOverTheirFreeMembers) {
  printer_t* a = Printer("a");
  printer_t* b = Printer("b");
  printer_t* c = Printer("c");
  printer_t* team = Printer("team", IPP_PRINTER_IDLE, PRINTER_CLASS);
  team->printers = {a, b, c};
  team->last = 0;
  Submit("team");
  Submit("team");
  Submit("team");
  Submit("team");
  RunPendingJobs();
  EXPECT_EQ(jobtest::RunnerCalls, (std::vector<std::string>{"start 1 b", "start 2 c", "start 3 a"}));
  EXPECT_EQ(LookupJob(1)->printer, b);
  EXPECT_EQ(LookupJob(2)->printer, c);
  EXPECT_EQ(LookupJob(3)->printer, a);
  EXPECT_EQ(JobState(LookupJob(4)), IPP_JOB_PENDING) << "no member is free";

  // A busy member is passed over.
  for (printer_t* m : {a, b, c}) {
    m->state = IPP_PRINTER_IDLE;
    m->job = nullptr;
  }
  b->state = IPP_PRINTER_PROCESSING;
  team->last = 0;
  jobtest::RunnerCalls.clear();
  RunPendingJobs();
  EXPECT_EQ(LookupJob(4)->printer, c);
  EXPECT_EQ(team->last, 2);
}

TEST_F(JobQueueTest, AStoppedClassStartsNothing) {
  printer_t* a = Printer("a");
  for (uint32_t type : {uint32_t(PRINTER_CLASS), uint32_t(PRINTER_IMPLICIT)}) {
    SCOPED_TRACE(type);
    printer_t* team = Printer("team", IPP_PRINTER_STOPPED, type);
    team->printers = {a};
    Submit("team");
    RunPendingJobs();
    EXPECT_TRUE(jobtest::RunnerCalls.empty());
    team->state = IPP_PRINTER_IDLE;
    RunPendingJobs();
    EXPECT_EQ(jobtest::RunnerCalls.size(), 1u);
    EXPECT_EQ(Jobs->printer, a);
    DiscardAllJobs();
    RemovePrinter(team, 0);
    a->state = IPP_PRINTER_IDLE;
    a->job = nullptr;
    jobtest::RunnerCalls.clear();
  }
}

TEST_F(JobQueueTest, AJobWaitingForItsClassDoesNotBlockOthers) {
  printer_t* a = Printer("a", IPP_PRINTER_PROCESSING);
  printer_t* team = Printer("team", IPP_PRINTER_IDLE, PRINTER_CLASS);
  team->printers = {a};
  Printer("laser");
  Submit("team", 90);
  Submit("laser", 10);
  RunPendingJobs();
  EXPECT_EQ(jobtest::RunnerCalls, std::vector<std::string>{"start 2 laser"});
  EXPECT_EQ(JobState(LookupJob(1)), IPP_JOB_PENDING);
}

TEST_F(JobQueueTest, AJobWhoseDestinationIsGoneIsPurged) {
  printer_t* ghost = Printer("ghost");
  Printer("laser");
  Submit("ghost");
  Submit("laser");
  RemovePrinter(ghost, 0);
  TakeLog();
  RunPendingJobs();
  std::string log = TakeLog();
  EXPECT_TRUE(HasLine(log, 'W', "Printer/class ghost has gone away; cancelling job 1!")) << log;
  EXPECT_EQ(LookupJob(1), nullptr) << "purged although history is kept";
  EXPECT_FALSE(Exists(JobControlFile(1)));
  EXPECT_FALSE(Exists(JobDataFile(1, 1)));
  EXPECT_EQ(jobtest::RunnerCalls, std::vector<std::string>{"start 2 laser"});
}

TEST_F(JobQueueTest, WithoutARunnerNothingStarts) {
  StartJobHook = nullptr;
  Printer("laser");
  Submit("laser");
  RunPendingJobs();
  EXPECT_EQ(JobState(LookupJob(1)), IPP_JOB_PENDING);
}

TEST_F(JobQueueTest, CancelJobKeepsHistoryAndFilesAsConfigured) {
  struct Case {
    int history, files, purge, remote;
    bool kept, control, data;
  };
  const Case cases[] = {
      {1, 1, 0, 0, true, true, true},
      {1, 0, 0, 0, true, true, false},
      {0, 1, 0, 0, false, false, false},
      {0, 0, 0, 0, false, false, false},
      {1, 1, 1, 0, false, false, false},
      {1, 1, 0, 1, false, false, false},  // remote: always removed
  };
  printer_t* laser = Printer("laser");
  laser->hostname = "far.example.org";
  // The same for a job that ends by itself (FinishJob, which starts the
  // printer's next job before its files are removed and saved).
  for (bool finish : {false, true}) {
    for (const Case& c : cases) {
      if (finish && c.purge) continue;
      SCOPED_TRACE(::testing::Message() << "history " << c.history << " files " << c.files << " purge " << c.purge
                                        << " remote " << c.remote << " finish " << finish);
      PreserveJobHistory = c.history;
      PreserveJobFiles = c.files;
      laser->type = c.remote ? uint32_t(PRINTER_REMOTE) : 0u;
      Submit("laser", 50, "alice", IPP_JOB_PENDING, {"%!PS\n", "%PDF\n"});
      int id = NextJobId - 1;
      LookupJob(id)->current_file = 1;
      int before = NumJobs;
      jobtest::Now += 60;
      if (finish) {
        FinishJob(id, IPP_JOB_COMPLETED);
      } else {
        CancelJob(id, c.purge);
      }
      job_t* job = LookupJob(id);
      EXPECT_EQ(job != nullptr, c.kept);
      EXPECT_EQ(NumJobs, before - (c.kept ? 0 : 1));
      EXPECT_EQ(Exists(JobControlFile(id)), c.control);
      EXPECT_EQ(Exists(JobDataFile(id, 1)), c.data);
      EXPECT_EQ(Exists(JobDataFile(id, 2)), c.data);
      if (job) {
        EXPECT_EQ(JobState(job), finish ? IPP_JOB_COMPLETED : IPP_JOB_CANCELLED);
        EXPECT_EQ(job->current_file, 0);
        ipp_attribute_t* done = ippFindAttribute(job->attrs.get(), "time-at-completed", IPP_TAG_ZERO);
        EXPECT_EQ(done->value_tag, IPP_TAG_INTEGER);
        EXPECT_EQ(done->values[0].integer, int(jobtest::Now));
      }
    }
  }
}

TEST_F(JobQueueTest, CancellingAPrintingJobStopsItFirst) {
  printer_t* laser = Printer("laser");
  Submit("laser");
  RunPendingJobs();
  ASSERT_EQ(laser->job, LookupJob(1));
  CancelJob(1, 0);
  EXPECT_EQ(jobtest::RunnerCalls, (std::vector<std::string>{"start 1 laser", "stop 1 force=0"}));
  EXPECT_EQ(JobState(LookupJob(1)), IPP_JOB_CANCELLED);
  EXPECT_EQ(laser->job, nullptr);
  EXPECT_EQ(laser->state, IPP_PRINTER_IDLE);
}

TEST_F(JobQueueTest, CancelMatchingJobs) {
  struct Case {
    const char* dest;
    const char* user;
    int purge;
    const char* states;  // of jobs 1..5 after the call, "-" for a job gone
  };
  // Jobs: 1 laser/alice, 2 laser/bob, 3 inkjet/alice, 4 laser/Alice,
  // 5 laser/alice completed.
  const Case cases[] = {
      {"laser", "", 0, "7,7,3,7,9"},
      {"laser", "alice", 0, "7,3,3,3,9"},
      {"", "alice", 0, "7,3,7,3,9"},
      {"LASER", "", 0, "3,3,3,3,9"},  // with regard to case
      {"", "", 0, "7,7,7,7,9"},
      {"laser", "alice", 1, "-,3,3,3,-"},
      {"", "", 1, "-,-,-,-,-"},
  };
  Printer("laser", IPP_PRINTER_STOPPED);
  Printer("inkjet", IPP_PRINTER_STOPPED);
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.dest << "/" << c.user << " purge " << c.purge);
    DiscardAllJobs();
    NextJobId = 1;
    Submit("laser", 50, "alice");
    Submit("laser", 50, "bob");
    Submit("inkjet", 50, "alice");
    Submit("laser", 50, "Alice");
    Submit("laser", 50, "alice", IPP_JOB_COMPLETED);
    CancelMatchingJobs(c.dest, c.user, c.purge);
    std::string states;
    for (int id = 1; id <= 5; id++) {
      job_t* j = LookupJob(id);
      states += (id > 1 ? "," : "") + (j ? std::to_string(JobState(j)) : std::string("-"));
    }
    EXPECT_EQ(states, c.states);
  }
}

TEST_F(JobQueueTest, HoldReleaseAndRequeueByState) {
  struct Case {
    const char* op;
    int state;
    int files;   // PreserveJobFiles
    int result;  // return value
    int after;   // state afterwards
    time_t hold_until;  // afterwards, from 777
  };
  const Case cases[] = {
      // An old hold-until time does not end a new hold at once.
      {"hold", IPP_JOB_PENDING, 0, 1, IPP_JOB_HELD, 777},
      {"hold", IPP_JOB_HELD, 0, 1, IPP_JOB_HELD, 777},
      {"hold", IPP_JOB_STOPPED, 0, 1, IPP_JOB_HELD, 777},
      {"hold", IPP_JOB_COMPLETED, 0, 0, IPP_JOB_COMPLETED, 777},
      {"release", IPP_JOB_HELD, 0, 1, IPP_JOB_PENDING, 0},
      {"release", IPP_JOB_PENDING, 0, 0, IPP_JOB_PENDING, 777},
      {"release", IPP_JOB_STOPPED, 0, 0, IPP_JOB_STOPPED, 777},
      {"requeue", IPP_JOB_STOPPED, 0, 1, IPP_JOB_PENDING, 777},
      {"requeue", IPP_JOB_ABORTED, 0, 0, IPP_JOB_ABORTED, 777},
      {"requeue", IPP_JOB_ABORTED, 1, 1, IPP_JOB_PENDING, 777},
      {"requeue", IPP_JOB_COMPLETED, 1, 1, IPP_JOB_PENDING, 777},
      {"requeue", IPP_JOB_PENDING, 1, 0, IPP_JOB_PENDING, 777},
      {"requeue", IPP_JOB_HELD, 1, 0, IPP_JOB_HELD, 777},
  };
  Printer("laser", IPP_PRINTER_STOPPED);  // nothing starts
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.op << " " << c.state << " files " << c.files);
    PreserveJobFiles = c.files;
    job_t* job = Submit("laser", 50, "alice", c.state);
    job->tries = 3;
    job->hold_until = 777;
    int id = job->id;
    std::string op = c.op;
    int r = op == "hold" ? HoldJob(id) : op == "release" ? ReleaseJob(id) : RequeueJob(id);
    EXPECT_EQ(r, c.result);
    EXPECT_EQ(JobState(LookupJob(id)), c.after);
    EXPECT_EQ(LookupJob(id)->hold_until, c.hold_until);
    if (op == "requeue") {
      EXPECT_EQ(LookupJob(id)->tries, c.result ? 0 : 3);
    }
    // What changed is saved.
    DiscardAllJobs();
    LoadAllJobs();
    if (c.after != IPP_JOB_HELD) {
      EXPECT_EQ(JobState(LookupJob(id)), c.after);
    }
  }
  EXPECT_EQ(HoldJob(99), 0);
  EXPECT_EQ(ReleaseJob(99), 0);
  EXPECT_EQ(RequeueJob(99), 0);
}

TEST_F(JobQueueTest, HoldingAPrintingJobStopsIt) {
  Printer("laser");
  Submit("laser");
  RunPendingJobs();
  EXPECT_EQ(HoldJob(1), 1);
  EXPECT_EQ(jobtest::RunnerCalls, (std::vector<std::string>{"start 1 laser", "stop 1 force=0"}));
  EXPECT_EQ(JobState(LookupJob(1)), IPP_JOB_HELD);
  // A printing job is never requeued under its running processes.
  Submit("laser");
  RunPendingJobs();
  PreserveJobFiles = 1;
  EXPECT_EQ(RequeueJob(2), 0);
  EXPECT_EQ(JobState(LookupJob(2)), IPP_JOB_PROCESSING);
}

TEST_F(JobQueueTest, RetargetJob) {
  Printer("laser", IPP_PRINTER_STOPPED);
  printer_t* fax = Printer("fax", IPP_PRINTER_STOPPED, PRINTER_FAX | PRINTER_COLOR | PRINTER_REMOTE);
  fax->hostname = "fax.example.org";
  Printer("team", IPP_PRINTER_STOPPED, PRINTER_CLASS);
  Submit("laser", 80);
  Submit("laser", 50);
  Submit("laser", 50, "alice", IPP_JOB_PROCESSING);

  EXPECT_EQ(RetargetJob(2, "FAX"), 1);
  job_t* job = LookupJob(2);
  EXPECT_EQ(job->dest, "fax");
  EXPECT_EQ(job->dtype, uint32_t(PRINTER_FAX | PRINTER_REMOTE));
  EXPECT_EQ(ippFindAttribute(job->attrs.get(), "job-printer-uri", IPP_TAG_URI)->values[0].string.text, fax->uri);
  EXPECT_EQ(RetargetJob(1, "team"), 1);
  EXPECT_EQ(LookupJob(1)->dtype, uint32_t(PRINTER_CLASS));
  EXPECT_EQ(Order(), "1,2,3") << "the order does not change";

  EXPECT_EQ(RetargetJob(3, "team"), 0) << "already processing";
  EXPECT_EQ(RetargetJob(2, "nowhere"), 0);
  EXPECT_EQ(RetargetJob(99, "team"), 0);
  EXPECT_EQ(LookupJob(3)->dest, "laser");

  DiscardAllJobs();
  LoadAllJobs();
  EXPECT_EQ(LookupJob(2)->dest, "fax");
  EXPECT_EQ(LookupJob(1)->dest, "team");
}

TEST_F(JobQueueTest, PurgeOldJobsRemovesOnlyFinishedJobs) {
  struct Case {
    int max_jobs;
    std::vector<int> states;
    const char* order;
  };
  const Case cases[] = {
      {0, {9, 9, 9}, "1,2,3"},
      {3, {9, 9, 3, 9}, "3,4"},
      {3, {3, 7, 8, 3}, "1,4"},
      {2, {3, 4, 6}, "1,2,3"},  // active jobs are never purged
      {5, {9, 9, 9, 9, 9}, "2,3,4,5"},
      {5, {9, 9, 9, 9}, "1,2,3,4"},
  };
  Printer("laser", IPP_PRINTER_STOPPED);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.max_jobs);
    DiscardAllJobs();
    NextJobId = 1;
    QueueStates(c.states);
    MaxJobs = c.max_jobs;
    PurgeOldJobs();
    EXPECT_EQ(Order(), c.order);
  }
}

TEST_F(JobQueueTest, Counts) {
  Printer("laser", IPP_PRINTER_STOPPED);
  Printer("inkjet", IPP_PRINTER_STOPPED);
  Submit("laser", 50, "alice", IPP_JOB_PENDING);
  Submit("laser", 50, "alice", IPP_JOB_HELD);
  Submit("laser", 50, "Alice", IPP_JOB_PROCESSING);
  Submit("laser", 50, "alice", IPP_JOB_STOPPED);
  Submit("laser", 50, "alice", IPP_JOB_COMPLETED);
  Submit("inkjet", 50, "alice", IPP_JOB_PENDING);
  EXPECT_EQ(CountPrinterJobs("LASER"), 3) << "names without regard to case; states 3 to 5";
  EXPECT_EQ(CountPrinterJobs("inkjet"), 1);
  EXPECT_EQ(CountPrinterJobs("none"), 0);
  EXPECT_EQ(CountUserJobs("alice"), 3) << "with regard to case";
  EXPECT_EQ(CountUserJobs("Alice"), 1);
}

TEST_F(JobQueueTest, DiscardAllJobsStopsAndForgetsButKeepsFiles) {
  printer_t* laser = Printer("laser");
  Submit("laser");
  Submit("laser");
  RunPendingJobs();
  DiscardAllJobs();
  EXPECT_EQ(jobtest::RunnerCalls, (std::vector<std::string>{"start 1 laser", "stop 1 force=1"}));
  EXPECT_EQ(Jobs, nullptr);
  EXPECT_EQ(NumJobs, 0);
  EXPECT_EQ(laser->job, nullptr);
  EXPECT_EQ(NextJobId, 3) << "ids are not reused while the daemon runs";
  EXPECT_TRUE(Exists(JobControlFile(1)));
  EXPECT_TRUE(Exists(JobDataFile(2, 1)));
}

TEST_F(JobQueueTest, StampJobTimeSetsOnlyExistingAttributes) {
  Printer("laser");
  job_t* job = Submit("laser");
  jobtest::Now = 1700000000;
  StampJobTime(job, "time-at-processing");
  ipp_attribute_t* a = ippFindAttribute(job->attrs.get(), "time-at-processing", IPP_TAG_ZERO);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->value_tag, IPP_TAG_INTEGER);
  EXPECT_EQ(a->values[0].integer, 1700000000);
  StampJobTime(job, "time-at-nothing");
  EXPECT_EQ(ippFindAttribute(job->attrs.get(), "time-at-nothing", IPP_TAG_ZERO), nullptr);
}

}  // namespace
