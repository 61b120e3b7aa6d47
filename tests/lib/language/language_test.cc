#include "vorn/language.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

namespace {

// Sets or clears the locale variables for one test and restores them after.
class LanguageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 4; i++) {
      const char* v = getenv(kVars[i]);
      saved_[i] = v ? std::optional<std::string>(v) : std::nullopt;
      unsetenv(kVars[i]);
    }
  }
  void TearDown() override {
    for (int i = 0; i < 4; i++) {
      if (saved_[i])
        setenv(kVars[i], saved_[i]->c_str(), 1);
      else
        unsetenv(kVars[i]);
    }
  }
  static void set(const char* name, const char* value) {
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }

  static constexpr const char* kVars[4] = {"LC_ALL", "LC_MESSAGES", "LANG", "VORN_DATADIR"};
  std::optional<std::string> saved_[4];
};

TEST_F(LanguageTest, NamedLanguages) {
  static const struct {
    const char* name;
    const char* language;
    const char* encoding;
  } cases[] = {
      {"en", "en", "utf-8"},
      {"fr_CA", "fr_CA", "utf-8"},
      {"fr-ca", "fr_CA", "utf-8"},
      {"DE_de", "de_DE", "utf-8"},
      {"de_DE.ISO-8859-1", "de_DE", "iso-8859-1"},
      {"de_DE.iso88591", "de_DE", "iso-8859-1"},
      {"de_DE@euro", "de_DE", "iso-8859-15"},
      {"de_DE.UTF-8@euro", "de_DE", "utf-8"},
      {"ru_RU.KOI8-R", "ru_RU", "koi8-r"},
      {"ja_JP.eucJP", "ja_JP", "euc-jp"},
      {"ja_JP.SJIS", "ja_JP", "shift_jis"},
      {"en_US.ANSI_X3.4-1968", "en_US", "us-ascii"},
      {"en_US.utf8", "en_US", "utf-8"},
      {"en_US.unknown-set", "en_US", "utf-8"},
      {"C", "en", "utf-8"},
      {"POSIX", "en", "utf-8"},
      {"C.UTF-8", "en", "utf-8"},
      {"fil", "fil", "utf-8"},
      // HTTP Accept-Language fields
      {"fr-ca,fr;q=0.8,en;q=0.5", "fr_CA", "utf-8"},
      {" da , en-gb;q=0.8", "da", "utf-8"},
      {"zh-Hant-TW", "zh", "utf-8"},
      {"en-GB-oxendict", "en_GB", "utf-8"},
  };
  for (const auto& c : cases) {
    vorn_lang_t* lang = vornLangGet(c.name);
    ASSERT_NE(lang, nullptr) << c.name;
    EXPECT_EQ(lang->language, c.language) << c.name;
    EXPECT_STREQ(vornLangEncoding(lang), c.encoding) << c.name;
    vornLangFree(lang);
  }
}

TEST_F(LanguageTest, UnusableNamesFallBackToTheEnvironment) {
  set("LANG", "it_IT.ISO-8859-15");
  static const char* names[] = {"*", "../../etc", "e", "english", "en/../../x", "12", "-", ";q=1"};
  for (const char* name : names) {
    vorn_lang_t* lang = vornLangGet(name);
    EXPECT_EQ(lang->language, "it_IT") << name;
    EXPECT_STREQ(vornLangEncoding(lang), "iso-8859-15") << name;
    vornLangFree(lang);
  }
  // Whatever follows the country is never part of the code.
  vorn_lang_t* lang = vornLangGet("en_US/../../x");
  EXPECT_EQ(lang->language, "en");
  vornLangFree(lang);
}

TEST_F(LanguageTest, EnvironmentPrecedence) {
  static const struct {
    const char* lc_all;
    const char* lc_messages;
    const char* lang;
    const char* language;
    const char* encoding;
  } cases[] = {
      {nullptr, nullptr, nullptr, "en", "utf-8"},
      {nullptr, nullptr, "fr_FR.ISO-8859-1", "fr_FR", "iso-8859-1"},
      {nullptr, "de_DE.UTF-8", "fr_FR", "de_DE", "utf-8"},
      {"es_ES@euro", "de_DE", "fr_FR", "es_ES", "iso-8859-15"},
      {"", "de_AT", "fr_FR", "de_AT", "utf-8"},  // empty counts as unset
      {"", "", "pt_BR.ISO-8859-1", "pt_BR", "iso-8859-1"},
      {nullptr, nullptr, "C", "en", "utf-8"},
      {"POSIX", nullptr, "fr_FR", "en", "utf-8"},
      {nullptr, nullptr, "", "en", "utf-8"},
      {nullptr, nullptr, "garbage!", "en", "utf-8"},
  };
  for (const auto& c : cases) {
    set("LC_ALL", c.lc_all);
    set("LC_MESSAGES", c.lc_messages);
    set("LANG", c.lang);
    for (const char* arg : {static_cast<const char*>(nullptr), ""}) {
      vorn_lang_t* lang = vornLangGet(arg);
      EXPECT_EQ(lang->language, c.language) << "expected " << c.language;
      EXPECT_STREQ(vornLangEncoding(lang), c.encoding) << "expected " << c.language;
      vornLangFree(lang);
    }
  }
}

TEST_F(LanguageTest, RecordsAreSharedAndCounted) {
  vorn_lang_t* a = vornLangGet("sv_SE");
  vorn_lang_t* b = vornLangGet("sv-se");
  EXPECT_EQ(a, b);
  vorn_lang_t* other = vornLangGet("sv_SE.ISO-8859-1");
  EXPECT_NE(a, other);
  vornLangFree(a);
  // Still held through b: the record is alive and unchanged.
  EXPECT_EQ(b->language, "sv_SE");
  EXPECT_STREQ(vornLangEncoding(b), "utf-8");
  vorn_lang_t* c = vornLangGet("sv_SE");
  EXPECT_EQ(c, b);
  vornLangFree(b);
  vornLangFree(c);
  vornLangFree(other);
  vornLangFree(nullptr);
  EXPECT_STREQ(vornLangEncoding(nullptr), "us-ascii");
}

TEST_F(LanguageTest, Catalogue) {
  vorn_lang_t* en = vornLangGet("en");
  ASSERT_NE(vornLangString(en, 404), nullptr);
  EXPECT_NE(std::string(vornLangString(en, 404)).find("not found"), std::string::npos);
  EXPECT_EQ(vornLangString(en, 1), nullptr);
  EXPECT_EQ(vornLangString(nullptr, 404), nullptr);
  vornLangFree(en);

  char dir[] = "/tmp/vorn-lang-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string root = dir;
  ASSERT_EQ(mkdir((root + "/locale").c_str(), 0700), 0);
  ASSERT_EQ(mkdir((root + "/locale/nl").c_str(), 0700), 0);
  std::string file = root + "/locale/nl/vorn.msg";
  FILE* fp = fopen(file.c_str(), "w");
  ASSERT_NE(fp, nullptr);
  std::string catalogue =
      "# Dutch messages\n"
      "404 De pagina is niet gevonden.\r\n"
      "403\tGeen toegang.\n"
      "999999999999 too big\n"
      "12x not a number\n"
      "405\n"
      "77 " + std::string(2000, 'x') + "\n";
  fputs(catalogue.c_str(), fp);
  fclose(fp);
  set("VORN_DATADIR", dir);

  // nl_BE has no file of its own and falls back to nl.
  for (const char* name : {"nl", "nl_BE"}) {
    vorn_lang_t* nl = vornLangGet(name);
    EXPECT_STREQ(vornLangString(nl, 404), "De pagina is niet gevonden.") << name;
    EXPECT_STREQ(vornLangString(nl, 403), "Geen toegang.") << name;
    // Missing translations keep the English text.
    EXPECT_STREQ(vornLangString(nl, 405), "The request method is not allowed for this resource.");
    ASSERT_NE(vornLangString(nl, 77), nullptr);
    EXPECT_EQ(std::string(vornLangString(nl, 77)).size(), 1023u);
    EXPECT_EQ(vornLangString(nl, 12), nullptr);
    vornLangFree(nl);
  }

  unlink(file.c_str());
  rmdir((root + "/locale/nl").c_str());
  rmdir((root + "/locale").c_str());
  rmdir(dir);
}

}  // namespace
