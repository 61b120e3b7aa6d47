// Languages: a language code, its character set and a catalogue of the
// system's numbered messages.
#pragma once

#include <map>
#include <string>

enum vorn_encoding_t {
  VORN_US_ASCII,
  VORN_ISO8859_1,
  VORN_ISO8859_2,
  VORN_ISO8859_3,
  VORN_ISO8859_4,
  VORN_ISO8859_5,
  VORN_ISO8859_6,
  VORN_ISO8859_7,
  VORN_ISO8859_8,
  VORN_ISO8859_9,
  VORN_ISO8859_10,
  VORN_ISO8859_13,
  VORN_ISO8859_14,
  VORN_ISO8859_15,
  VORN_WINDOWS_1250,
  VORN_WINDOWS_1251,
  VORN_WINDOWS_1252,
  VORN_KOI8_R,
  VORN_KOI8_U,
  VORN_EUC_JP,
  VORN_SHIFT_JIS,
  VORN_EUC_KR,
  VORN_GB2312,
  VORN_BIG5,
  VORN_UTF8,
};

// One language record. Records are shared: vornLangGet hands out the same
// record to every caller that asks for the same language, so a record is
// never changed after it is made.
struct vorn_lang_t {
  std::string language;      // "en", "fr_CA": letters only, safe inside a path
  vorn_encoding_t encoding;  // character set of the texts of this language
  std::map<int, std::string> messages;  // catalogue: message number -> text
};

// The record for `language`, or for the environment's language when
// `language` is null or empty (LC_ALL, else LC_MESSAGES, else LANG; "C",
// "POSIX" or nothing set mean "en").
//
// Accepted forms: a locale name "ll", "ll_CC", "ll_CC.codeset",
// "ll_CC@modifier"; an IETF tag "ll-cc"; or an HTTP Accept-Language field, of
// which the first language is taken ("fr-ca,fr;q=0.8" gives fr_CA). The
// language is cut to two or three letters and a two-letter country; a name
// that is not made of letters ("../x", "*") gives the environment's language,
// so the code can go into a file name unchecked.
//
// The character set is the locale's codeset when one is given ("de_DE.ISO-8859-1"),
// ISO-8859-15 for an "@euro" locale without codeset, and UTF-8 otherwise.
//
// Messages come from the built-in English catalogue, overlaid by the file
// "<datadir>/locale/<ll_CC>/vorn.msg" or, when there is none, ".../<ll>/vorn.msg"
// (datadir: VORN_DATADIR, else the compiled-in data directory). Each line of
// such a file is a message number, white space and the text; lines that do
// not start with a number are comments.
//
// Never returns null. The record stays valid until the matching vornLangFree;
// every vornLangGet must be paired with one vornLangFree. Thread-safe.
vorn_lang_t* vornLangGet(const char* language);

// Gives back one reference taken by vornLangGet; the record is destroyed with
// its last reference. Null is ignored.
void vornLangFree(vorn_lang_t* lang);

// The character-set name for IPP and HTTP ("utf-8", "iso-8859-1",
// "us-ascii", ...): a static string. "us-ascii" for a null record.
const char* vornLangEncoding(const vorn_lang_t* lang);

// The text of message `number` in `lang`'s catalogue, or null when it has none
// (or `lang` is null). Valid as long as the record.
const char* vornLangString(const vorn_lang_t* lang, int number);
