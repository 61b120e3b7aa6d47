// The scheduler's buffered files: plain and gzip reading alike, line ends,
// seeking, appending, writing and writing a new version safely.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>
#include <zlib.h>

#include "scheduler/buffile.h"

#include "tests/fixtures/file/gzip_member.h"

namespace {

using vorn_test::kGzipComment, vorn_test::kGzipExtra, vorn_test::kGzipHcrc, vorn_test::kGzipName;

std::string gzip(std::string_view data, int flags = 0) { return vorn_test::GzipMember(data, flags); }

// Some megabytes of lines that compress well but are not all alike.
std::string many_lines(int count) {
  std::string s;
  for (int i = 0; i < count; i++) s += "line " + std::to_string(i) + " of the test data\n";
  return s;
}

class BufFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/buffile-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Write(std::string_view content, const char* name = "file") {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // Every line BufFileGets returns with a buffer of `size` bytes.
  static std::vector<std::string> Lines(const std::string& path, size_t size = 256) {
    std::vector<std::string> lines;
    auto f = BufFileOpen(path.c_str(), "r");
    EXPECT_NE(f, nullptr);
    if (!f) return lines;
    std::vector<char> buf(size);
    while (BufFileGets(f.get(), buf.data(), size)) lines.emplace_back(buf.data());
    return lines;
  }

  static std::string ReadAll(BufFile* f) {
    std::string s;
    char buf[777];  // not a divisor of the window size
    long n;
    while ((n = BufFileRead(f, buf, sizeof(buf))) > 0) s.append(buf, size_t(n));
    return s;
  }

  std::string dir_;
};

TEST_F(BufFileTest, LineEndsReadAlikeInPlainAndGzipFiles) {
  struct Case {
    const char* name;
    std::string content;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"LF", "a\nbb\n\nccc\n", {"a", "bb", "", "ccc"}},
      {"CR LF", "a\r\nbb\r\n\r\nccc\r\n", {"a", "bb", "", "ccc"}},
      {"CR", "a\rbb\r\rccc\r", {"a", "bb", "", "ccc"}},
      {"mixed, last line unterminated", "a\r\nbb\rccc\nd", {"a", "bb", "ccc", "d"}},
      {"empty file", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Lines(Write(c.content, "plain")), c.lines);
    EXPECT_EQ(Lines(Write(gzip(c.content), "gz")), c.lines);
  }
}

TEST_F(BufFileTest, CrLfSplitAcrossWindowsIsOneLineEnd) {
  // The CR is the last byte of the first 2048-byte window, or of the first
  // inflated window.
  std::string content = std::string(2047, 'x') + "\r\n" + "next\n";
  std::vector<std::string> expected{std::string(2047, 'x'), "next"};
  EXPECT_EQ(Lines(Write(content, "plain"), 4096), expected);
  EXPECT_EQ(Lines(Write(gzip(content), "gz"), 4096), expected);
}

TEST_F(BufFileTest, ALineLongerThanTheBufferComesBackInPieces) {
  std::vector<std::string> expected{"abcdefg", "hijklmn", "op", "q"};
  EXPECT_EQ(Lines(Write("abcdefghijklmnop\nq\n"), 8), expected);
}

TEST_F(BufFileTest, EveryHeaderPartOfAGzipFileIsSkipped) {
  const int flags[] = {0, kGzipName, kGzipExtra, kGzipComment, kGzipHcrc, kGzipName | kGzipExtra | kGzipComment | kGzipHcrc};
  for (int f : flags) {
    SCOPED_TRACE(f);
    std::vector<std::string> expected{"Listen 127.0.0.1:631", "LogLevel debug"};
    EXPECT_EQ(Lines(Write(gzip("Listen 127.0.0.1:631\nLogLevel debug\n", f))), expected);
  }
}

TEST_F(BufFileTest, FilesThatOnlyLookLikeGzipAreReadPlain) {
  struct Case {
    const char* name;
    std::string content;
  };
  const Case cases[] = {
      {"shorter than a header, not deflate", std::string("\x1f\x8b\x07\x00\x00", 5)},
      {"not deflate", std::string("\x1f\x8b\x07\x00\x00\x00\x00\x00\x00\x03rest", 14)},
      {"reserved flag bit", std::string("\x1f\x8b\x08\x20\x00\x00\x00\x00\x00\x03rest", 14)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto f = BufFileOpen(Write(c.content).c_str(), "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(ReadAll(f.get()), c.content);
  }
}

// Bad gzip data is a read error that BufFileError reports, never a quiet end
// that a reader would take for the whole file.
TEST_F(BufFileTest, BrokenOrTruncatedGzipDataIsAnError) {
  // A name that never ends: the header itself is cut short.
  std::string endless = std::string("\x1f\x8b\x08\x08\x00\x00\x00\x00\x00\x03", 10) + std::string(2000, 'n');
  auto f = BufFileOpen(Write(endless, "endless").c_str(), "r");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(BufFileGetChar(f.get()), -1);
  char buf[16];
  EXPECT_EQ(BufFileRead(f.get(), buf, sizeof(buf)), -1);
  EXPECT_EQ(BufFileGets(f.get(), buf, sizeof(buf)), nullptr);
  EXPECT_EQ(BufFileError(f.get()), EIO);

  std::string data = many_lines(2000);
  std::string gz = gzip(data);
  std::string damaged = gz;
  for (size_t i = gz.size() / 3; i < gz.size() / 3 + 64; i++) damaged[i] = char(~damaged[i]);
  std::string bad_crc = gz;
  bad_crc[gz.size() - 8] = char(~bad_crc[gz.size() - 8]);
  struct Case {
    const char* name;
    std::string content;
    bool true_prefix;  // damaged deflate data may inflate to wrong bytes before zlib notices
  };
  const Case cases[] = {
      {"cut inside the header", gz.substr(0, 5), true},
      {"cut in the middle", gz.substr(0, gz.size() / 2), true},
      {"cut in the trailer", gz.substr(0, gz.size() - 3), true},
      {"damaged", damaged, false},
      {"bad checksum", bad_crc, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto in = BufFileOpen(Write(c.content, "bad").c_str(), "r");
    ASSERT_NE(in, nullptr);
    std::string got = ReadAll(in.get());
    EXPECT_EQ(BufFileError(in.get()), EIO);
    EXPECT_LE(got.size(), data.size());
    if (c.true_prefix) {
      EXPECT_EQ(data.compare(0, got.size(), got), 0);
    }
    // Lines stop too, and a seek cannot step over the damage.
    EXPECT_EQ(BufFileGets(in.get(), buf, sizeof(buf)), nullptr);
    EXPECT_EQ(BufFileSeek(in.get(), int64_t(data.size()) - 1), -1);
  }

  // The whole stream reads with no error at all.
  auto good = BufFileOpen(Write(gz, "good").c_str(), "r");
  EXPECT_EQ(ReadAll(good.get()), data);
  EXPECT_EQ(BufFileError(good.get()), 0);
}

// gzip -c a b > c: the members are one file.
TEST_F(BufFileTest, ConcatenatedGzipMembersReadAsOne) {
  std::string data = many_lines(500);
  std::string two = gzip(data.substr(0, 777)) + gzip("") + gzip(data.substr(777));
  auto f = BufFileOpen(Write(two).c_str(), "r");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(ReadAll(f.get()), data);
  EXPECT_EQ(BufFileError(f.get()), 0);
  EXPECT_TRUE(f->compressed);
}

// A new version written through the buffer appears whole at the commit; one
// that is dropped leaves the old file as it was.
TEST_F(BufFileTest, SafeWritersReplaceTheFileOnlyAtTheCommit) {
  std::string path = Write("old\n", "printers.conf");
  {
    auto dropped = BufFileCreateSafe(path, 0600);
    ASSERT_NE(dropped, nullptr);
    BufFilePuts(dropped.get(), "half-written");
  }
  EXPECT_EQ(Slurp(path), "old\n");
  EXPECT_FALSE(std::filesystem::exists(path + ".N"));

  auto f = BufFileCreateSafe(path, 0600);
  ASSERT_NE(f, nullptr);
  std::string expected;
  for (int i = 0; i < 1000; i++) {  // many windows' worth
    BufFilePrintf(f.get(), "<Printer p%d>\n</Printer>\n", i);
    expected += "<Printer p" + std::to_string(i) + ">\n</Printer>\n";
  }
  EXPECT_EQ(Slurp(path), "old\n") << "nothing is visible before the commit";
  ASSERT_EQ(BufFileCommit(std::move(f)), 0);
  EXPECT_EQ(Slurp(path), expected);
  EXPECT_EQ(Slurp(path + ".O"), "old\n");
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  // Only a safe writer can be committed.
  EXPECT_EQ(BufFileCommit(BufFileOpen((dir_ + "/plain").c_str(), "w")), -1);
  EXPECT_EQ(BufFileCommit(nullptr), -1);
}

TEST_F(BufFileTest, ReadReturnsEveryByteOfLargeFiles) {
  std::string data = many_lines(20000);  // over 500 KB, many windows
  for (bool compressed : {false, true}) {
    SCOPED_TRACE(compressed);
    auto f = BufFileOpen(Write(compressed ? gzip(data) : data).c_str(), "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(ReadAll(f.get()), data);
    EXPECT_EQ(f->compressed, compressed);
  }
}

TEST_F(BufFileTest, SeekingGivesTheSameBytesAsTheFirstRead) {
  std::string data = many_lines(3000);
  const int64_t offsets[] = {100, 70000, 5, 2048, 2047, 0, int64_t(data.size()) - 10, 30000, 1};
  for (bool compressed : {false, true}) {
    SCOPED_TRACE(compressed);
    auto f = BufFileOpen(Write(compressed ? gzip(data) : data).c_str(), "r");
    ASSERT_NE(f, nullptr);
    for (int64_t off : offsets) {
      SCOPED_TRACE(off);
      ASSERT_EQ(BufFileSeek(f.get(), off), off);
      char buf[10];
      long n = BufFileRead(f.get(), buf, sizeof(buf));
      ASSERT_EQ(n, 10);
      EXPECT_EQ(std::string(buf, 10), data.substr(size_t(off), 10));
    }
    // Compressed data can only be found by inflating it, so a seek past its
    // end fails; a plain file is positioned like lseek() does.
    if (compressed) {
      EXPECT_EQ(BufFileSeek(f.get(), int64_t(data.size()) + 100), -1);
    }
    EXPECT_EQ(BufFileSeek(f.get(), -1), -1);
  }
}

TEST_F(BufFileTest, AppendStartsAtTheFileSize) {
  std::string path = Write("0123456789");
  auto f = BufFileOpen(path.c_str(), "a");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->pos, 10);
  EXPECT_EQ(BufFilePuts(f.get(), "abc"), 3);
  EXPECT_EQ(f->pos, 13);
  EXPECT_EQ(BufFileClose(std::move(f)), 0);
  EXPECT_EQ(Slurp(path), "0123456789abc");
}

TEST_F(BufFileTest, WritesQueueFlushAndGoDirectWhenLarge) {
  std::string path = dir_ + "/out";
  auto f = BufFileOpen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  struct stat st;
  ASSERT_EQ(::fstat(f->fd.get(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);

  std::string expected;
  EXPECT_EQ(BufFilePutChar(f.get(), 'x'), 0);
  expected += 'x';
  EXPECT_EQ(Slurp(path), "") << "small writes are queued";
  std::string big(5000, 'b');
  EXPECT_EQ(BufFileWrite(f.get(), big.data(), big.size()), 5000);
  expected += big;
  EXPECT_EQ(Slurp(path), expected) << "the queue goes first, then the large block";
  EXPECT_EQ(BufFilePrintf(f.get(), "%d-%s", 42, "z"), 4);
  expected += "42-z";
  std::string huge(3000, 'h');
  EXPECT_EQ(BufFilePrintf(f.get(), "%s", huge.c_str()), 2047) << "formatted output is cut at 2047";
  expected += huge.substr(0, 2047);
  EXPECT_EQ(f->pos, int64_t(expected.size()));
  EXPECT_EQ(BufFileFlush(f.get()), 0);
  EXPECT_EQ(Slurp(path), expected);
  EXPECT_EQ(BufFileClose(std::move(f)), 0);
}

TEST_F(BufFileTest, WrongModesAndMissingObjectsAreRefused) {
  EXPECT_EQ(BufFileOpen(Write("x").c_str(), "x"), nullptr);
  EXPECT_EQ(BufFileOpen(Write("x").c_str(), "rw"), nullptr);
  EXPECT_EQ(BufFileOpen((dir_ + "/missing").c_str(), "r"), nullptr);
  auto reader = BufFileOpen(Write("x").c_str(), "r");
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(BufFilePuts(reader.get(), "no"), -1);
  EXPECT_EQ(BufFileFlush(reader.get()), -1);
  auto writer = BufFileOpen((dir_ + "/w").c_str(), "w");
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(BufFileGetChar(writer.get()), -1);
  EXPECT_EQ(BufFileSeek(writer.get(), 0), -1);
  EXPECT_EQ(BufFileGetChar(nullptr), -1);
  EXPECT_EQ(BufFileClose(nullptr), -1);
}

TEST_F(BufFileTest, AReadErrorIsToldApartFromTheEnd) {
  auto dir = BufFileOpen(dir_.c_str(), "r");  // opening works, reading does not
  ASSERT_NE(dir, nullptr);
  char buf[16];
  EXPECT_EQ(BufFileGets(dir.get(), buf, sizeof(buf)), nullptr);
  EXPECT_EQ(BufFileError(dir.get()), EISDIR);
  auto file = BufFileOpen(Write("").c_str(), "r");
  EXPECT_EQ(BufFileGets(file.get(), buf, sizeof(buf)), nullptr);
  EXPECT_EQ(BufFileError(file.get()), 0);
}

}  // namespace
