// Reading data that may be gzip-compressed: plain data passes through, gzip
// data comes out inflated, and anything cut short or damaged is an error.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "vorn/file.h"

#include "tests/fixtures/file/gzip_member.h"

namespace {

using vorn_test::kGzipComment, vorn_test::kGzipExtra, vorn_test::kGzipHcrc, vorn_test::kGzipName;

std::string gzip_member(std::string_view data, int flags = 0) { return vorn_test::GzipMember(data, flags); }

std::string text(int lines) {
  std::string s;
  for (int i = 0; i < lines; i++) s += "*Line" + std::to_string(i) + ": \"value " + std::to_string(i * 7) + "\"\n";
  return s;
}

std::string flip(std::string s, size_t at) {
  s[at] = char(~s[at]);
  return s;
}

struct Result {
  std::string data;
  int error = 0;      // errno of the failing read, 0 when the data ended
  bool compressed = false;
};

// Everything the reader gives, with reads of `chunk` bytes.
Result read_all(vorn::gzip_reader& in, size_t chunk = 333) {
  Result r;
  std::vector<char> buf(chunk);
  for (;;) {
    ssize_t n = in.read(buf.data(), buf.size());
    if (n < 0) {
      r.error = errno;
      EXPECT_EQ(in.error(), r.error);
      EXPECT_EQ(in.read(buf.data(), buf.size()), -1) << "a failed reader must stay failed";
      break;
    }
    if (n == 0) break;
    r.data.append(buf.data(), size_t(n));
  }
  r.compressed = in.compressed();
  return r;
}

class GzipReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/gzip-reader-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  vorn::unique_fd Open(std::string_view content) {
    std::string path = dir_ + "/f" + std::to_string(n_++);
    std::ofstream(path, std::ios::binary) << content;
    return vorn::unique_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  }

  std::string dir_;
  int n_ = 0;
};

TEST_F(GzipReaderTest, EveryKindOfInputFromADescriptor) {
  const std::string data = text(3000);  // many input buffers' worth
  const std::string gz = gzip_member(data);
  const std::string looks_like_gzip = std::string("\x1f\x8b\x08\x20\x00\x00\x00\x00\x00\x03rest", 14);
  struct Case {
    const char* name;
    std::string content;
    std::string expected;  // all that comes out; before an error, at least this
    int error;             // 0: a clean end
    bool compressed;
    std::string whole = {};  // before an error: what the output is a prefix of (data when empty)
    bool true_prefix = true;  // damaged deflate data may inflate to wrong bytes before zlib notices
  };
  const Case cases[] = {
      {"empty file", "", "", 0, false},
      {"plain", data, data, 0, false},
      {"one byte of the magic: plain", "\x1f", "\x1f", 0, false},
      {"short, not deflate: plain", "\x1f\x8b\x07\x00", "\x1f\x8b\x07\x00", 0, false},
      {"short, reserved flag bit: plain", "\x1f\x8b\x08\x20\x00", "\x1f\x8b\x08\x20\x00", 0, false},
      {"only the magic", "\x1f\x8b", "", EIO, true},
      {"cut inside a short header", std::string("\x1f\x8b\x08\x00\x00", 5), "", EIO, true},
      {"header but its last byte", gz.substr(0, 9), "", EIO, true},
      {"reserved flag bit: plain", looks_like_gzip, looks_like_gzip, 0, false},
      {"not deflate: plain", flip(gz, 2).substr(0, 40), flip(gz, 2).substr(0, 40), 0, false},
      {"gzip", gz, data, 0, true},
      {"gzip of nothing", gzip_member(""), "", 0, true},
      {"every header part", gzip_member(data, kGzipHcrc | kGzipExtra | kGzipName | kGzipComment), data, 0, true},
      {"members one after the other", gzip_member(data.substr(0, 1000)) + gzip_member("") + gzip_member(data.substr(1000)), data, 0, true},
      {"cut inside the header", gz.substr(0, 12), "", EIO, true},
      {"cut in the middle", gz.substr(0, gz.size() / 2), "", EIO, true},
      {"cut before the trailer", gz.substr(0, gz.size() - 8), "", EIO, true},
      {"cut in the trailer", gz.substr(0, gz.size() - 1), "", EIO, true},
      {"bad data checksum", flip(gz, gz.size() - 8), data, EIO, true},
      {"bad length", flip(gz, gz.size() - 1), data, EIO, true},
      {"bad header checksum", flip(gzip_member(data, kGzipHcrc), 11), "", EIO, true},
      {"damaged deflate data", flip(flip(gz, 20), 21), "", EIO, true, {}, false},
      {"garbage after a member", gz + "trailing", data, EIO, true},
      {"second member cut", gz + gzip_member(data).substr(0, 100), data, EIO, true, data + data},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vorn::unique_fd fd = Open(c.content);
    ASSERT_TRUE(fd);
    for (size_t chunk : {size_t(1), size_t(333), size_t(1) << 20}) {
      SCOPED_TRACE(chunk);
      ASSERT_EQ(::lseek(fd.get(), 0, SEEK_SET), 0);
      vorn::gzip_reader in(fd.get(), 1024);
      Result r = read_all(in, chunk);
      EXPECT_EQ(r.error, c.error);
      EXPECT_EQ(r.compressed, c.compressed);
      if (c.error == 0) {
        EXPECT_EQ(r.data, c.expected);
      } else {
        // What came before a cut or a bad trailer is the true data.
        const std::string& whole = c.whole.empty() ? data : c.whole;
        if (c.true_prefix) {
          ASSERT_LE(r.data.size(), whole.size());
          EXPECT_EQ(whole.compare(0, r.data.size(), r.data), 0);
        }
        EXPECT_GE(r.data.size(), c.expected.size());
      }
    }
  }
}

// A byte source that hands over one byte a call, as a slow pipe may: the
// header is still found and the data still whole.
TEST_F(GzipReaderTest, ASourceThatTricklesReadsAlike) {
  struct Trickle {
    std::string data;
    size_t pos = 0;
    static ssize_t read(void* ctx, void* buf, size_t len) {
      auto* t = static_cast<Trickle*>(ctx);
      if (len == 0 || t->pos == t->data.size()) return 0;
      static_cast<char*>(buf)[0] = t->data[t->pos++];
      return 1;
    }
  };
  const std::string data = text(200);
  for (bool compressed : {false, true}) {
    SCOPED_TRACE(compressed);
    Trickle t{compressed ? gzip_member(data) : data};
    vorn::gzip_reader in(Trickle::read, &t, 64);
    Result r = read_all(in);
    EXPECT_EQ(r.error, 0);
    EXPECT_EQ(r.data, data);
    EXPECT_EQ(r.compressed, compressed);
  }
}

TEST_F(GzipReaderTest, TheSourcesErrorIsPassedOn) {
  vorn::unique_fd fd(::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(fd);
  vorn::gzip_reader in(fd.get());
  EXPECT_EQ(read_all(in).error, EISDIR);
}

TEST_F(GzipReaderTest, SeekingStartsOverOrMovesInPlainData) {
  const std::string data = text(1000);
  vorn::unique_fd gz = Open(gzip_member(data));
  vorn::gzip_reader zin(gz.get(), 1024);
  EXPECT_EQ(read_all(zin).data, data);
  ASSERT_EQ(zin.seek(0), 0);
  EXPECT_EQ(read_all(zin).data, data) << "a compressed file reads again from the start";
  EXPECT_EQ(zin.seek(100), -1) << "raw offsets mean nothing inside gzip data";

  vorn::unique_fd plain = Open(data);
  vorn::gzip_reader pin(plain.get(), 1024);
  char buf[10];
  ASSERT_EQ(pin.read(buf, sizeof buf), 10);
  ASSERT_EQ(pin.seek(5000), 0);
  EXPECT_EQ(read_all(pin).data, data.substr(5000));
  ASSERT_EQ(pin.seek(0), 0);
  EXPECT_EQ(read_all(pin).data, data);

  // A corrupt file that was rewound fails again, at the same place.
  vorn::unique_fd bad = Open(flip(gzip_member(data), 300));
  vorn::gzip_reader bin(bad.get(), 1024);
  Result first = read_all(bin);
  ASSERT_EQ(bin.seek(0), 0);
  Result second = read_all(bin);
  EXPECT_EQ(first.error, EIO);
  EXPECT_EQ(second.error, EIO);
  EXPECT_EQ(first.data, second.data);
}

}  // namespace
