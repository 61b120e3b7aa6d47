// Configuration files uploaded to a real vornd with PUT /admin/conf/NAME:
// the previous version kept as NAME.O, the reload each file asks for, a
// gzip-compressed upload stored as plain text, and uploads that fail
// leaving the file in force as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <filesystem>
#include <regex>
#include <string>

#include "harness.h"

namespace {

using namespace e2e;

const std::string kPrintersA = "<Printer lab>\nInfo Lab A\nDeviceURI file:/dev/null\nState Idle\n</Printer>\n";
const std::string kPrintersB = "<Printer lab>\nInfo Lab B\nDeviceURI file:/dev/null\nState Idle\n</Printer>\n";

std::string Gzip(const std::string& data) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, uLong(data.size())) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = uInt(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

class ConfUpload : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteFile(root_.file("printers.conf"), kPrintersA, 0600));
    root_.WriteConfig();
    ASSERT_TRUE(vornd_.StartForeground()) << vornd_.Stderr();
  }

  RawHttp::Response Put(const std::string& name, const std::string& body) {
    RawHttp http(root_.port());
    return http.Exchange("PUT /admin/conf/" + name + " HTTP/1.1\r\nHost: localhost\r\n" +
                         root_.RootAuthorization() + "Content-Length: " + std::to_string(body.size()) +
                         "\r\n\r\n" + body);
  }

  // Request files left in the spool directory.
  int RequestFiles() {
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(root_.file("spool")))
      n += std::regex_match(entry.path().filename().string(), std::regex("[0-9a-f]{8}"));
    return n;
  }

  ServerRoot root_;
  Vornd vornd_{root_};
};

TEST_F(ConfUpload, EachFileAsksForItsReloadAndKeepsThePreviousVersion) {
  const struct {
    const char* name;
    std::string body;
    const char* reload;  // the line the reload ends with
  } cases[] = {
      {"printers.conf", kPrintersB, "Full reload complete."},
      {"vornd.conf", root_.BaseConfig() + "MaxJobs 77\n", "Partial reload complete."},
      {"notes.txt", "a file that was not there\n", "Full reload complete."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string target = root_.file(c.name);
    const std::string before = ReadFile(target);
    const size_t reloads = count_of(root_.ErrorLog(), c.reload);
    RawHttp::Response r = Put(c.name, c.body);
    EXPECT_EQ(r.status, 201) << r.head;
    EXPECT_EQ(ReadFile(target), c.body);
    EXPECT_EQ(ReadFile(target + ".O"), before);
    EXPECT_FALSE(FileExists(target + ".N"));
    EXPECT_TRUE(WaitUntil([&] { return count_of(root_.ErrorLog(), c.reload) > reloads; })) << root_.ErrorLog();
    EXPECT_TRUE(vornd_.WaitListening(root_.port()));
  }
  EXPECT_EQ(RequestFiles(), 0);
}

TEST_F(ConfUpload, TheModeOfTheFileReplacedStays) {
  ASSERT_TRUE(WriteFile(root_.file("extra.conf"), "old\n", 0604));
  ASSERT_EQ(::chmod(root_.file("extra.conf").c_str(), 0604), 0);
  EXPECT_EQ(Put("extra.conf", "new\n").status, 201);
  EXPECT_EQ(Put("fresh.conf", "new\n").status, 201);
  struct stat st {};
  ASSERT_EQ(::stat(root_.file("extra.conf").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  ASSERT_EQ(::stat(root_.file("fresh.conf").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);  // ConfigFilePerm
}

TEST_F(ConfUpload, AGzipUploadIsStoredPlain) {
  // Long enough that the compressed form is plainly different.
  std::string plain = kPrintersB;
  for (int i = 0; i < 50; i++) plain += "# comment line " + std::to_string(i) + "\n";
  RawHttp::Response r = Put("printers.conf", Gzip(plain));
  EXPECT_EQ(r.status, 201) << r.head;
  EXPECT_EQ(ReadFile(root_.file("printers.conf")), plain);
  EXPECT_EQ(ReadFile(root_.file("printers.conf.O")), kPrintersA);
  EXPECT_TRUE(root_.WaitForLog("Full reload complete."));
}

TEST_F(ConfUpload, AFailedUploadLeavesTheFileInForce) {
  std::string plain = kPrintersB;
  for (int i = 0; i < 200; i++) plain += "# comment line " + std::to_string(i) + "\n";
  std::string damaged = Gzip(plain);
  damaged.resize(damaged.size() / 2);  // cut short: the stream has no end
  std::string bad_crc = Gzip(plain);
  bad_crc[bad_crc.size() - 6] ^= 0x55;  // the checksum no longer matches
  const std::string cut_header = Gzip(plain).substr(0, 6);  // too short for a header, but gzip
  const size_t reloads = count_of(root_.ErrorLog(), "reload complete");
  for (const std::string& body : {damaged, bad_crc, cut_header}) {
    RawHttp::Response r = Put("printers.conf", body);
    EXPECT_EQ(r.status, 500) << r.head;
    EXPECT_EQ(ReadFile(root_.file("printers.conf")), kPrintersA);
    EXPECT_FALSE(FileExists(root_.file("printers.conf.N")));
    EXPECT_EQ(RequestFiles(), 0);
  }
  // A vornd.conf that does not read is refused before it replaces anything.
  RawHttp::Response r = Put("vornd.conf", "NoSuchDirective 1\n<Location /\n");
  EXPECT_EQ(r.status, 400) << r.head;
  EXPECT_EQ(ReadFile(root_.conf_path()), root_.BaseConfig());
  EXPECT_EQ(RequestFiles(), 0);
  EXPECT_EQ(count_of(root_.ErrorLog(), "reload complete"), reloads) << "a failed upload reloaded";
}

}  // namespace
