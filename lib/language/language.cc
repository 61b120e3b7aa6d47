// Language records: parsing of locale names and Accept-Language fields, the
// shared reference-counted cache, and character-set names.
#include "vorn/language.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <string_view>

#include "language-private.h"
#include "vorn/strings.h"

namespace {

struct charset_name {
  std::string_view key;  // lower case, without '-', '_' and '.'
  vorn_encoding_t encoding;
};

const charset_name kCharsets[] = {
    {"utf8", VORN_UTF8},           {"ascii", VORN_US_ASCII},
    {"usascii", VORN_US_ASCII},    {"ansix341968", VORN_US_ASCII},
    {"iso88591", VORN_ISO8859_1},  {"latin1", VORN_ISO8859_1},
    {"iso88592", VORN_ISO8859_2},  {"latin2", VORN_ISO8859_2},
    {"iso88593", VORN_ISO8859_3},  {"iso88594", VORN_ISO8859_4},
    {"iso88595", VORN_ISO8859_5},  {"iso88596", VORN_ISO8859_6},
    {"iso88597", VORN_ISO8859_7},  {"iso88598", VORN_ISO8859_8},
    {"iso88599", VORN_ISO8859_9},  {"latin5", VORN_ISO8859_9},
    {"iso885910", VORN_ISO8859_10}, {"iso885913", VORN_ISO8859_13},
    {"iso885914", VORN_ISO8859_14}, {"iso885915", VORN_ISO8859_15},
    {"latin9", VORN_ISO8859_15},   {"cp1250", VORN_WINDOWS_1250},
    {"windows1250", VORN_WINDOWS_1250}, {"cp1251", VORN_WINDOWS_1251},
    {"windows1251", VORN_WINDOWS_1251}, {"cp1252", VORN_WINDOWS_1252},
    {"windows1252", VORN_WINDOWS_1252}, {"koi8r", VORN_KOI8_R},
    {"koi8u", VORN_KOI8_U},        {"eucjp", VORN_EUC_JP},
    {"sjis", VORN_SHIFT_JIS},      {"shiftjis", VORN_SHIFT_JIS},
    {"euckr", VORN_EUC_KR},        {"gb2312", VORN_GB2312},
    {"euccn", VORN_GB2312},        {"big5", VORN_BIG5},
};

// IANA names, indexed by vorn_encoding_t.
const char* const kEncodingNames[] = {
    "us-ascii",     "iso-8859-1",   "iso-8859-2",   "iso-8859-3",  "iso-8859-4",
    "iso-8859-5",   "iso-8859-6",   "iso-8859-7",   "iso-8859-8",  "iso-8859-9",
    "iso-8859-10",  "iso-8859-13",  "iso-8859-14",  "iso-8859-15", "windows-1250",
    "windows-1251", "windows-1252", "koi8-r",       "koi8-u",      "euc-jp",
    "shift_jis",    "euc-kr",       "gb2312",       "big5",        "utf-8",
};
static_assert(sizeof(kEncodingNames) / sizeof(kEncodingNames[0]) == VORN_UTF8 + 1);

bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// An unknown codeset falls back to UTF-8, the system's default character set.
vorn_encoding_t encoding_for(std::string_view codeset) {
  std::string key;
  for (char c : codeset) {
    if (c == '-' || c == '_' || c == '.') continue;
    key += vorn::tolower(c);
    if (key.size() > 16) return VORN_UTF8;
  }
  for (const auto& cs : kCharsets)
    if (cs.key == key) return cs.encoding;
  return VORN_UTF8;
}

// A language name in one of the forms of vornLangGet; false when it is not one.
bool parse_language(std::string_view s, std::string& language, vorn_encoding_t& encoding) {
  // Accept-Language: the first entry, without its quality.
  size_t end = s.find_first_of(",;");
  if (end != std::string_view::npos) s = s.substr(0, end);
  s = vorn::trim(s);

  std::string_view codeset, modifier;
  if (size_t at = s.find('@'); at != std::string_view::npos) {
    modifier = s.substr(at + 1);
    s = s.substr(0, at);
  }
  if (size_t dot = s.find('.'); dot != std::string_view::npos) {
    codeset = s.substr(dot + 1);
    s = s.substr(0, dot);
  }

  if (!codeset.empty())
    encoding = encoding_for(codeset);
  else if (vorn::iequals(modifier, "euro"))
    encoding = VORN_ISO8859_15;
  else
    encoding = VORN_UTF8;

  if (s == "C" || s == "POSIX") {
    language = "en";
    return true;
  }

  size_t n = 0;
  while (n < s.size() && is_alpha(s[n])) n++;
  if (n < 2 || n > 3) return false;
  language.clear();
  for (size_t i = 0; i < n; i++) language += vorn::tolower(s[i]);
  if (n == s.size()) return true;
  if (s[n] != '_' && s[n] != '-') return false;

  // Only a two-letter country is kept; other subtags ("zh-Hant") are dropped.
  std::string_view rest = s.substr(n + 1);
  size_t m = 0;
  while (m < rest.size() && is_alpha(rest[m])) m++;
  if (m == 2 && (rest.size() == 2 || rest[2] == '-' || rest[2] == '_')) {
    language += '_';
    language += vorn::toupper(rest[0]);
    language += vorn::toupper(rest[1]);
  }
  return true;
}

void environment_language(std::string& language, vorn_encoding_t& encoding) {
  const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  for (const char* name : names) {
    const char* v = std::getenv(name);
    if (v && *v) {
      if (!parse_language(v, language, encoding)) {
        language = "en";
        encoding = VORN_UTF8;
      }
      return;
    }
  }
  language = "en";
  encoding = VORN_UTF8;
}

struct cache_entry {
  std::unique_ptr<vorn_lang_t> lang;
  int used = 0;
};

std::mutex cache_mutex;
// Few records live at once: only those still referenced stay here, so a
// client sending ever new Accept-Language fields cannot grow it.
std::map<std::string, cache_entry>& cache() {
  static auto* c = new std::map<std::string, cache_entry>;  // never destroyed: usable at exit
  return *c;
}

std::string cache_key(const std::string& language, vorn_encoding_t encoding) {
  return language + '.' + kEncodingNames[encoding];
}

}  // namespace

vorn_lang_t* vornLangGet(const char* name) {
  std::string language;
  vorn_encoding_t encoding = VORN_UTF8;
  if (!name || !*name || !parse_language(name, language, encoding))
    environment_language(language, encoding);

  std::lock_guard<std::mutex> lock(cache_mutex);
  cache_entry& e = cache()[cache_key(language, encoding)];
  if (!e.lang) {
    e.lang = std::make_unique<vorn_lang_t>();
    e.lang->language = language;
    e.lang->encoding = encoding;
    vorn::lang_load_messages(*e.lang);
  }
  e.used++;
  return e.lang.get();
}

void vornLangFree(vorn_lang_t* lang) {
  if (!lang) return;
  std::lock_guard<std::mutex> lock(cache_mutex);
  auto it = cache().find(cache_key(lang->language, lang->encoding));
  if (it == cache().end() || it->second.lang.get() != lang) return;
  if (--it->second.used <= 0) cache().erase(it);
}

const char* vornLangEncoding(const vorn_lang_t* lang) {
  if (!lang) return "us-ascii";
  unsigned e = unsigned(lang->encoding);
  return e <= unsigned(VORN_UTF8) ? kEncodingNames[e] : "utf-8";
}

const char* vornLangString(const vorn_lang_t* lang, int number) {
  if (!lang) return nullptr;
  auto it = lang->messages.find(number);
  return it == lang->messages.end() ? nullptr : it->second.c_str();
}
