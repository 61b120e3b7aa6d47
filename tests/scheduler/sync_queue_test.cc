// The sync thread: control files put in place in the order they were
// queued, removals after the saves queued before them, one failed unit
// reported as itself only, and the same calls working at once without the
// thread.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "scheduler/sync-queue.h"

namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class SyncQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/sync-queue-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    StopSyncThread();
    std::filesystem::remove_all(dir_);
  }

  // Queues `content` as the new version of dir/name; QueueCommit's result.
  int Save(const std::string& name, const std::string& content) {
    auto file = vornSafeFileCreate(dir_ + "/" + name, 0600, uid_t(-1), gid_t(-1), SyncCommitFlags());
    if (!file) return -1;
    EXPECT_EQ(::write(file->fd.get(), content.data(), content.size()), ssize_t(content.size()));
    return QueueCommit(std::move(file), 0);
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
};

TEST_F(SyncQueue, SavesLandInQueueOrderAndRemovalsAfterThem) {
  ASSERT_TRUE(StartSyncThread());
  ASSERT_GE(SyncQueueFd(), 0);
  // Many saves of two files, each removed and saved again on the way: a
  // removal done before the saves queued ahead of it would be undone by
  // their renames.
  for (int i = 0; i < 200; i++) {
    ASSERT_EQ(Save("c00001", "one " + std::to_string(i)), 0);
    ASSERT_EQ(Save("c00002", "two " + std::to_string(i)), 0);
    if (i % 50 == 49) QueueUnlink({dir_ + "/c00002"});
  }
  ASSERT_EQ(Save("c00003", "three"), 0);
  QueueUnlink({dir_ + "/c00003"});
  WaitForSyncs();
  EXPECT_EQ(SyncsDone(), SyncsQueued());
  EXPECT_FALSE(SyncFailedBetween(0, SyncsQueued()));
  EXPECT_EQ(Read(dir_ + "/c00001"), "one 199");
  // The last removal of c00002 came after its last save.
  EXPECT_EQ(Names(), (std::vector<std::string>{"c00001"}));
}

TEST_F(SyncQueue, AFailedUnitIsReportedAsItselfOnly) {
  ASSERT_TRUE(StartSyncThread());
  std::filesystem::create_directories(dir_ + "/c00002/in-the-way");
  ASSERT_EQ(Save("c00001", "before"), 0);
  const uint64_t before = SyncsQueued();
  ASSERT_EQ(Save("c00002", "blocked"), 0);  // its rename onto the folder fails
  const uint64_t blocked = SyncsQueued();
  ASSERT_EQ(Save("c00003", "after"), 0);
  WaitForSyncs();
  EXPECT_TRUE(SyncFailedBetween(before, blocked));
  EXPECT_FALSE(SyncFailedBetween(0, before));
  EXPECT_FALSE(SyncFailedBetween(blocked, SyncsQueued()));
  EXPECT_EQ(Read(dir_ + "/c00001"), "before");
  EXPECT_EQ(Read(dir_ + "/c00003"), "after");
  // The failed version's temporary file is gone with it.
  EXPECT_EQ(Names(), (std::vector<std::string>{"c00001", "c00002", "c00003"}));
}

// The loop is woken only for units a held reply waits for; units done
// while none waited are taken in when the loop next says it holds one, so
// no reply is left waiting for a wake that never comes.
TEST_F(SyncQueue, TheLoopIsWokenOnlyWhileRepliesWait) {
  ASSERT_TRUE(StartSyncThread());
  auto readable = [](int ms) {
    pollfd p{SyncQueueFd(), POLLIN, 0};
    return ::poll(&p, 1, ms) == 1;
  };
  ASSERT_FALSE(SetSyncWaiters(0));
  ASSERT_EQ(Save("c00001", "nobody waits"), 0);
  for (int i = 0; i < 500 && !std::filesystem::exists(dir_ + "/c00001"); i++) ::usleep(10000);
  ASSERT_TRUE(std::filesystem::exists(dir_ + "/c00001"));
  EXPECT_FALSE(readable(200));
  EXPECT_LT(SyncsDone(), SyncsQueued());
  // Done meanwhile (the rename comes just before the unit counts as done):
  // the loop is told to collect now.
  bool collect = false;
  for (int i = 0; i < 500 && !(collect = SetSyncWaiters(1)); i++) ::usleep(10000);
  EXPECT_TRUE(collect);
  CollectSyncs();
  EXPECT_EQ(SyncsDone(), SyncsQueued());
  EXPECT_FALSE(SetSyncWaiters(1));

  ASSERT_EQ(Save("c00002", "a reply waits"), 0);
  EXPECT_TRUE(readable(10000));
  CollectSyncs();
  EXPECT_EQ(SyncsDone(), SyncsQueued());
}

TEST_F(SyncQueue, WithoutTheThreadEveryCallIsDoneAtOnce) {
  ASSERT_FALSE(SyncThreadRunning());
  EXPECT_EQ(SyncQueueFd(), -1);
  ASSERT_EQ(Save("c00001", "now"), 0);
  EXPECT_EQ(Read(dir_ + "/c00001"), "now");
  std::filesystem::create_directories(dir_ + "/c00002/in-the-way");
  EXPECT_EQ(Save("c00002", "blocked"), -1);
  QueueUnlink({dir_ + "/c00001"});
  EXPECT_EQ(Names(), (std::vector<std::string>{"c00002"}));
  EXPECT_EQ(SyncsDone(), SyncsQueued());

  // After a stop the same: nothing waits for a thread that is gone.
  ASSERT_TRUE(StartSyncThread());
  ASSERT_EQ(Save("c00003", "queued"), 0);
  StopSyncThread();
  EXPECT_EQ(Read(dir_ + "/c00003"), "queued");
  ASSERT_EQ(Save("c00004", "now again"), 0);
  EXPECT_EQ(Read(dir_ + "/c00004"), "now again");
}

}  // namespace
