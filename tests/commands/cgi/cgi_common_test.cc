// The CGI programs' shared module: form decoding (bounded, strict about
// malformed escapes and control bytes), multipart bodies, HTML escaping and
// the names and numbers taken from forms, and the form token.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "cgi-common.h"

namespace {

using namespace vorn::cgi;

TEST(CgiForm, UrlEncodedTable) {
  const struct {
    const char* input;
    bool ok;
    std::vector<std::pair<std::string, std::string>> fields;
  } cases[] = {
      {"", true, {}},
      {"op=cancel-job&job_id=12", true, {{"op", "cancel-job"}, {"job_id", "12"}}},
      {"a=1;b=2", true, {{"a", "1"}, {"b", "2"}}},
      {"info=Room+1%2C%20left", true, {{"info", "Room 1, left"}}},
      {"x=%3Cscript%3E", true, {{"x", "<script>"}}},
      {"utf=%C3%A4", true, {{"utf", "\xC3\xA4"}}},
      {"flag&&v=", true, {{"flag", ""}, {"v", ""}}},
      {"a=1=2", true, {{"a", "1=2"}}},
      {"%61=b", true, {{"a", "b"}}},
      // Malformed escapes and control bytes spoil the whole form.
      {"a=%", false, {}},
      {"a=%4", false, {}},
      {"a=%zz&b=1", false, {}},
      {"a=1&b=%g1", false, {}},
      {"a=%00", false, {}},
      {"a=%0A", false, {}},
      {"a=%7F", false, {}},
      {"=value", false, {}},
      {"a=\x01", false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    form_t form;
    form.fields.push_back({"stale", "x"});
    EXPECT_EQ(ParseUrlEncoded(c.input, form), c.ok);
    EXPECT_EQ(form.fields, c.fields);
  }
}

TEST(CgiForm, LimitsRefuseRatherThanCut) {
  form_t form;
  std::string many;
  for (size_t i = 0; i < kMaxFields; i++) many += "f" + std::to_string(i) + "=1&";
  EXPECT_TRUE(ParseUrlEncoded(many, form));
  EXPECT_EQ(form.fields.size(), kMaxFields);
  EXPECT_FALSE(ParseUrlEncoded(many + "one=more", form));
  EXPECT_TRUE(form.fields.empty());

  EXPECT_TRUE(ParseUrlEncoded("v=" + std::string(kMaxValueBytes, 'x'), form));
  EXPECT_FALSE(ParseUrlEncoded("v=" + std::string(kMaxValueBytes + 1, 'x'), form));
  EXPECT_FALSE(ParseUrlEncoded(std::string(kMaxNameBytes + 1, 'n') + "=1", form));
  // A hostile query string is refused whole before it is looked at.
  EXPECT_FALSE(ParseUrlEncoded("a=" + std::string(kMaxFormBytes, 'x'), form));
}

TEST(CgiForm, GetReturnsTheFirstValue) {
  form_t form;
  ASSERT_TRUE(ParseUrlEncoded("op=a&op=b", form));
  EXPECT_EQ(form.get("op"), "a");
  EXPECT_EQ(form.get("none", "fallback"), "fallback");
  EXPECT_TRUE(form.has("op"));
  EXPECT_FALSE(form.has("none"));
}

std::string Multipart(const std::string& boundary, const std::vector<std::string>& parts) {
  std::string body;
  for (const std::string& p : parts) body += "--" + boundary + "\r\n" + p + "\r\n";
  return body + "--" + boundary + "--\r\n";
}

TEST(CgiForm, MultipartFieldsAndFiles) {
  const std::string type = "multipart/form-data; boundary=----xyz";
  const std::string ppd = "*PPD-Adobe: \"4.3\"\r\n--not-the-boundary\r\n";
  std::string body = Multipart("----xyz", {
                                              "Content-Disposition: form-data; name=\"op\"\r\n\r\nadd-printer",
                                              "Content-Disposition: form-data; name=\"printer_info\"\r\n\r\n<b>x</b>",
                                              "Content-Disposition: form-data; name=\"ppd_file\"; "
                                              "filename=\"../../m.ppd\"\r\nContent-Type: application/octet-stream"
                                              "\r\n\r\n" + ppd,
                                              "Content-Disposition: form-data; name=\"other\"; filename=\"\"\r\n\r\n",
                                          });
  form_t form;
  ASSERT_TRUE(ParseMultipart(body, type, form));
  EXPECT_EQ(form.get("op"), "add-printer");
  EXPECT_EQ(form.get("printer_info"), "<b>x</b>");
  ASSERT_NE(form.upload("ppd_file"), nullptr);
  EXPECT_EQ(form.upload("ppd_file")->content, ppd);
  EXPECT_EQ(form.upload("ppd_file")->filename, "../../m.ppd");
  // A file input left empty sends no file.
  EXPECT_EQ(form.upload("other"), nullptr);
}

TEST(CgiForm, MalformedMultipartTable) {
  const std::string type = "multipart/form-data; boundary=b";
  const struct {
    const char* why;
    std::string type;
    std::string body;
  } cases[] = {
      {"no boundary", "multipart/form-data", Multipart("b", {"Content-Disposition: form-data; name=\"a\"\r\n\r\n1"})},
      {"not multipart", "text/plain; boundary=b", Multipart("b", {"Content-Disposition: form-data; name=\"a\"\r\n\r\n1"})},
      {"unterminated", type, "--b\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1"},
      {"no part header end", type, "--b\r\nContent-Disposition: form-data; name=\"a\"\r\n--b--"},
      {"no name", type, Multipart("b", {"Content-Disposition: form-data\r\n\r\n1"})},
      {"control byte in a field", type, Multipart("b", {"Content-Disposition: form-data; name=\"a\"\r\n\r\nx\ny"})},
      {"body before the first boundary", type, "junk" + Multipart("b", {})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    form_t form;
    EXPECT_FALSE(ParseMultipart(c.body, c.type, form));
    EXPECT_TRUE(form.fields.empty() && form.uploads.empty());
  }
}

TEST(CgiHtml, EscapingTable) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"plain text", "plain text"},
      {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
      {"a & b", "a &amp; b"},
      {"\"quoted\" 'single'", "&quot;quoted&quot; &#39;single&#39;"},
      {"&amp;", "&amp;amp;"},
      {"\xC3\xA4", "\xC3\xA4"},
  };
  for (const auto& c : cases) EXPECT_EQ(Html(c.in), c.out) << c.in;
  EXPECT_EQ(UrlEncode("lab 1/\"x\"?&#"), "lab%201%2F%22x%22%3F%26%23");
  EXPECT_EQ(UrlEncode("A-z_0.9~"), "A-z_0.9~");
}

TEST(CgiInput, NamesAndIds) {
  for (const char* good : {"lab", "Lab_2.floor-3", "x"}) EXPECT_TRUE(IsValidName(good)) << good;
  for (std::string bad : {std::string(""), std::string("a/b"), std::string("a b"), std::string("a?b"),
                          std::string("a#b"), std::string("a%2F"), std::string("<x>"), std::string("it's"),
                          std::string(128, 'n'), std::string("\xC3\xA4")})
    EXPECT_FALSE(IsValidName(bad)) << bad;
  const struct {
    const char* in;
    int id;
  } ids[] = {{"1", 1}, {"42", 42}, {"2147483647", 2147483647}, {"2147483648", 0}, {"0", 0}, {"-1", 0},
             {"12x", 0}, {"", 0}, {" 1", 0}, {"99999999999", 0}};
  for (const auto& c : ids) EXPECT_EQ(ParseId(c.in), c.id) << c.in;
}

TEST(CgiInput, RequestedNameIsArgumentZeroUnlessTheProgramsOwn) {
  const struct {
    const char* arg0;
    const char* name;
  } cases[] = {{"lab", "lab"}, {"printers.cgi", ""}, {"/srv/bin/cgi-bin/printers.cgi", ""}, {"", ""}};
  for (const auto& c : cases) {
    char* argv[] = {const_cast<char*>(c.arg0), nullptr};
    EXPECT_EQ(RequestedName(1, argv, "printers.cgi"), c.name) << c.arg0;
  }
}

}  // namespace

namespace {

// The form token: the same for one user and key, another for another user
// or another key; the key is private to the server's account.
TEST(CgiToken, TiedToTheUserAndTheKey) {
  char dir[] = "/tmp/cgi-token-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  ::setenv("TMPDIR", dir, 1);
  ::setenv("REMOTE_USER", "alice", 1);
  const std::string alice = FormToken();
  EXPECT_EQ(alice.size(), 64u);
  EXPECT_EQ(alice.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(FormToken(), alice);
  struct stat st;
  ASSERT_EQ(::stat((std::string(dir) + "/vorn-form-key").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 32);

  form_t form;
  form.fields = {{"token", alice}};
  EXPECT_TRUE(CheckFormToken(form));
  const struct {
    const char* why;
    std::string token;
  } bad[] = {{"none", ""}, {"short", alice.substr(0, 63)}, {"changed", std::string(64, 'a')},
             {"upper case", std::string(alice.size(), 'A')}};
  for (const auto& b : bad) {
    form.fields = {{"token", b.token}};
    EXPECT_FALSE(CheckFormToken(form)) << b.why;
  }

  ::setenv("REMOTE_USER", "bob", 1);
  EXPECT_NE(FormToken(), alice);
  form.fields = {{"token", alice}};
  EXPECT_FALSE(CheckFormToken(form));

  // A new key (another server) makes every token void.
  ::setenv("REMOTE_USER", "alice", 1);
  ASSERT_EQ(::unlink((std::string(dir) + "/vorn-form-key").c_str()), 0);
  EXPECT_NE(FormToken(), alice);
  EXPECT_FALSE(CheckFormToken(form));

  // No key can be had: no token, and nothing passes.
  ::setenv("TMPDIR", "/nonexistent-dir/x", 1);
  EXPECT_EQ(FormToken(), "");
  form.fields = {{"token", ""}};
  EXPECT_FALSE(CheckFormToken(form));
  std::filesystem::remove_all(dir);
  ::unsetenv("TMPDIR");
  ::unsetenv("REMOTE_USER");
}

}  // namespace
