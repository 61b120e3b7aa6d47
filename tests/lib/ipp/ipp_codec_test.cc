// Encoding and decoding of whole messages: the exact bytes of each value
// kind, a round trip through every value tag, reading in pieces of any size,
// partial writes, and what follows the message in the stream.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "vorn/fd.h"
#include "vorn/ipp.h"

namespace {


// A byte source over a string. `chunks` cycles through the sizes each call
// may return; a 0 there makes that call report "nothing for now".
struct source_t {
  explicit source_t(std::string d, std::vector<size_t> c = {})
      : data(std::move(d)), chunks(std::move(c)) {}
  std::string data;
  size_t pos = 0;
  std::vector<size_t> chunks;
  size_t calls = 0;
};

ssize_t source_read(void* ctx, uint8_t* buf, size_t len) {
  auto* s = static_cast<source_t*>(ctx);
  size_t c = s->chunks.empty() ? len : s->chunks[s->calls % s->chunks.size()];
  s->calls++;
  if (c == 0) return 0;
  if (s->pos >= s->data.size()) return -1;
  size_t n = std::min({c, len, s->data.size() - s->pos});
  std::memcpy(buf, s->data.data() + s->pos, n);
  s->pos += n;
  return ssize_t(n);
}

// A sink that takes at most `max` bytes a call and nothing every `stall`th call.
struct sink_t {
  std::string out;
  size_t max = SIZE_MAX;
  size_t stall = 0;
  size_t calls = 0;
};

ssize_t sink_write(void* ctx, uint8_t* buf, size_t len) {
  auto* s = static_cast<sink_t*>(ctx);
  s->calls++;
  if (s->stall && s->calls % s->stall == 0) return 0;
  size_t n = std::min(len, s->max);
  s->out.append(reinterpret_cast<const char*>(buf), n);
  return ssize_t(n);
}

// Runs a non-blocking read to its end, at most `max_calls` calls.
ipp_state_t read_all(source_t& src, ipp_t* ipp, ipp_t* parent = nullptr, int max_calls = 100000) {
  ipp_state_t st = IPP_IDLE;
  for (int i = 0; i < max_calls; i++) {
    st = ippReadIO(&src, source_read, 0, parent, ipp);
    if (st == IPP_DATA || st == IPP_ERROR) break;
  }
  return st;
}

std::string encode(ipp_t* ipp, ipp_t* parent = nullptr) {
  sink_t sink;
  EXPECT_EQ(IPP_DATA, ippWriteIO(&sink, sink_write, 1, parent, ipp));
  return sink.out;
}

std::string hex(const std::string& s) {
  static const char digits[] = "0123456789abcdef";
  std::string h;
  for (unsigned char c : s) {
    h += digits[c >> 4];
    h += digits[c & 15];
  }
  return h;
}

const uint8_t kDate[11] = {0x07, 0xE9, 3, 14, 15, 9, 26, 5, '-', 5, 30};

// A message with every group and value tag, nested collections, out-of-band
// values, several values per attribute and two groups with one tag.
ipp_ptr full_message() {
  ipp_ptr ipp(ippNew());
  ipp->version[0] = 1;
  ipp->version[1] = 0;
  ipp->op_status = IPP_PRINT_JOB;
  ipp->request_id = 0x01020304;
  ippAddString(ipp.get(), IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", {}, "utf-8");
  ippAddString(ipp.get(), IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", {},
               "en-us");
  ippAddString(ipp.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", {},
               "ipp://localhost/printers/lp");
  ippAddString(ipp.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", {}, "anna");
  ippAddString(ipp.get(), IPP_TAG_OPERATION, IPP_TAG_NAMELANG, "job-name", "fr", "Lettre \xc3\xa9t\xc3\xa9");
  ippAddString(ipp.get(), IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", {},
               "application/postscript");
  ippAddInteger(ipp.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", -7);
  const int ups[] = {1, 2, 4, 0x7FFFFFFF, -2147483647 - 1};
  ippAddIntegers(ipp.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "number-up", ups);
  ippAddInteger(ipp.get(), IPP_TAG_JOB, IPP_TAG_ENUM, "orientation-requested", 4);
  const bool flags[] = {true, false, true};
  ippAddBooleans(ipp.get(), IPP_TAG_JOB, "flags", flags);
  ippAddString(ipp.get(), IPP_TAG_JOB, IPP_TAG_STRING, "blob", {}, std::string("a\0\xff\x80z", 5));
  ippAddDate(ipp.get(), IPP_TAG_JOB, "time-at-creation", kDate);
  const ipp_resolution_t res[] = {{600, 300, IPP_RES_PER_INCH}, {120, 118, IPP_RES_PER_CM}};
  ippAddResolutions(ipp.get(), IPP_TAG_JOB, "printer-resolution", res);
  const ipp_range_t ranges[] = {{1, 5}, {-3, 0x7FFFFFFF}};
  ippAddRanges(ipp.get(), IPP_TAG_JOB, "page-ranges", ranges);
  ippAddString(ipp.get(), IPP_TAG_JOB, IPP_TAG_TEXT, "job-message", {}, "");
  ippAddString(ipp.get(), IPP_TAG_JOB, IPP_TAG_TEXTLANG, "job-info", "de", "Gr\xc3\xbc\xc3\x9f" "e");
  const char* sheets[] = {"none", "standard"};
  ippAddStrings(ipp.get(), IPP_TAG_JOB, IPP_TAG_KEYWORD, "job-sheets", {}, sheets);
  ippAddString(ipp.get(), IPP_TAG_JOB, IPP_TAG_URISCHEME, "scheme", {}, "ipp");
  ippAddOutOfBand(ipp.get(), IPP_TAG_JOB, IPP_TAG_UNSUPPORTED_VALUE, "oob-unsupported");
  ippAddOutOfBand(ipp.get(), IPP_TAG_JOB, IPP_TAG_UNKNOWN, "oob-unknown");
  ippAddOutOfBand(ipp.get(), IPP_TAG_JOB, IPP_TAG_NOVALUE, "oob-no-value");

  ipp_t* size = ippNew();
  ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", 21000);
  ippAddInteger(size, IPP_TAG_ZERO, IPP_TAG_INTEGER, "y-dimension", 29700);
  ipp_t* media = ippNew();
  ippAddCollection(media, IPP_TAG_ZERO, "media-size", size);
  ippAddString(media, IPP_TAG_ZERO, IPP_TAG_KEYWORD, "media-type", {}, "stationery");
  const int margins[] = {300, 600};
  ippAddIntegers(media, IPP_TAG_ZERO, IPP_TAG_INTEGER, "margins", margins);
  ippAddOutOfBand(media, IPP_TAG_ZERO, IPP_TAG_NOVALUE, "media-color");
  ippAddCollection(ipp.get(), IPP_TAG_JOB, "media-col", media);
  ipp_t* empty = ippNew();
  ipp_t* one = ippNew();
  ippAddBoolean(one, IPP_TAG_ZERO, "on", true);
  ipp_t* pair[] = {empty, one};
  ippAddCollections(ipp.get(), IPP_TAG_JOB, "cols", pair);

  ippAddSeparator(ipp.get());
  ippAddInteger(ipp.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", 2);
  ippAddString(ipp.get(), IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-info", {}, "Hall");
  ippAddString(ipp.get(), IPP_TAG_UNSUPPORTED_GROUP, IPP_TAG_KEYWORD, "bogus", {}, "x");
  ippAddInteger(ipp.get(), IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration", 60);
  ippAddInteger(ipp.get(), IPP_TAG_EVENT_NOTIFICATION, IPP_TAG_INTEGER, "notify-sequence-number", 9);
  return ipp;
}

void expect_same(const ipp_t* a, const ipp_t* b, const std::string& where);

void expect_same_value(int tag, const ipp_value_t& x, const ipp_value_t& y, const std::string& where) {
  switch (tag) {
    case IPP_TAG_INTEGER:
    case IPP_TAG_ENUM: EXPECT_EQ(x.integer, y.integer) << where; break;
    case IPP_TAG_BOOLEAN: EXPECT_EQ(x.boolean, y.boolean) << where; break;
    case IPP_TAG_DATE: EXPECT_EQ(0, std::memcmp(x.date, y.date, 11)) << where; break;
    case IPP_TAG_RESOLUTION:
      EXPECT_EQ(x.resolution.xres, y.resolution.xres) << where;
      EXPECT_EQ(x.resolution.yres, y.resolution.yres) << where;
      EXPECT_EQ(x.resolution.units, y.resolution.units) << where;
      break;
    case IPP_TAG_RANGE:
      EXPECT_EQ(x.range.lower, y.range.lower) << where;
      EXPECT_EQ(x.range.upper, y.range.upper) << where;
      break;
    case IPP_TAG_BEGIN_COLLECTION:
      ASSERT_TRUE(x.collection && y.collection) << where;
      expect_same(x.collection.get(), y.collection.get(), where + "/");
      break;
    default:
      EXPECT_EQ(x.string.language, y.string.language) << where;
      EXPECT_EQ(x.string.text, y.string.text) << where;
      EXPECT_EQ(x.unknown, y.unknown) << where;
  }
}

void expect_same(const ipp_t* a, const ipp_t* b, const std::string& where) {
  const ipp_attribute_t* x = a->attrs;
  const ipp_attribute_t* y = b->attrs;
  for (; x && y; x = x->next, y = y->next) {
    std::string w = where + x->name;
    EXPECT_EQ(x->name, y->name) << w;
    EXPECT_EQ(x->group_tag, y->group_tag) << w;
    EXPECT_EQ(x->value_tag, y->value_tag) << w;
    ASSERT_EQ(x->values.size(), y->values.size()) << w;
    for (size_t i = 0; i < x->values.size(); i++)
      expect_same_value(x->value_tag, x->values[i], y->values[i], w + "[" + std::to_string(i) + "]");
  }
  EXPECT_EQ(x == nullptr, y == nullptr) << where << ": attribute counts differ";
}

// Each adder's bytes as RFC 2910 lays them out: tag, name length, name,
// value length, value (after the group tag 02).
TEST(IppEncode, ValueBytes) {
  struct {
    const char* what;
    void (*add)(ipp_t*);
    const char* hex;
  } cases[] = {
      {"integer", [](ipp_t* i) { ippAddInteger(i, IPP_TAG_JOB, IPP_TAG_INTEGER, "n", -2); },
       "2100016e0004fffffffe"},
      {"enum", [](ipp_t* i) { ippAddInteger(i, IPP_TAG_JOB, IPP_TAG_ENUM, "e", 0x0102); },
       "230001650004" "00000102"},
      {"booleans", [](ipp_t* i) { const bool b[] = {true, false}; ippAddBooleans(i, IPP_TAG_JOB, "b", b); },
       "22000162000101" "220000000100"},
      {"date", [](ipp_t* i) { ippAddDate(i, IPP_TAG_JOB, "d", kDate); },
       "31000164000b07e9030e0f091a052d051e"},
      {"resolution", [](ipp_t* i) { ippAddResolution(i, IPP_TAG_JOB, "r", IPP_RES_PER_CM, 300, 150); },
       "3200017200090000012c0000009604"},
      {"range", [](ipp_t* i) { ippAddRange(i, IPP_TAG_JOB, "g", 1, 65536); },
       "330001670008" "0000000100010000"},
      {"textWithLanguage", [](ipp_t* i) { ippAddString(i, IPP_TAG_JOB, IPP_TAG_TEXTLANG, "t", "en", "hi"); },
       "3500017400080002656e00026869"},
      {"keywords", [](ipp_t* i) { const char* k[] = {"a", nullptr}; ippAddStrings(i, IPP_TAG_JOB, IPP_TAG_KEYWORD, "k", {}, k); },
       "4400016b000161" "4400000000"},
      {"no-value", [](ipp_t* i) { ippAddOutOfBand(i, IPP_TAG_JOB, IPP_TAG_NOVALUE, "o"); },
       "1300016f0000"},
      {"collection", [](ipp_t* i) {
         ipp_t* c = ippNew();
         ippAddInteger(c, IPP_TAG_ZERO, IPP_TAG_INTEGER, "m", 1);
         ippAddCollection(i, IPP_TAG_JOB, "c", c);
       },
       "340001630000" "4a000000016d" "2100000004" "00000001" "3700000000"},
  };
  for (const auto& c : cases) {
    ipp_ptr ipp(ippNew());
    ipp->op_status = IPP_OK;
    ipp->request_id = 7;
    c.add(ipp.get());
    std::string bytes = encode(ipp.get());
    EXPECT_EQ(std::string("0101000000000007" "02") + c.hex + "03", hex(bytes)) << c.what;
    EXPECT_EQ(bytes.size(), ippLength(ipp.get())) << c.what;
  }
}

TEST(IppCodec, RoundTripEveryValueTag) {
  ipp_ptr ipp = full_message();
  std::string bytes = encode(ipp.get());
  ASSERT_EQ(bytes.size(), ippLength(ipp.get()));
  EXPECT_EQ("0100000201020304", hex(bytes.substr(0, 8)));

  source_t src(bytes);
  ipp_ptr back(ippNew());
  ASSERT_EQ(IPP_DATA, read_all(src, back.get()));
  EXPECT_EQ(bytes.size(), src.pos);
  EXPECT_EQ(1, back->version[0]);
  EXPECT_EQ(0, back->version[1]);
  EXPECT_EQ(IPP_PRINT_JOB, back->op_status);
  EXPECT_EQ(0x01020304, back->request_id);
  expect_same(ipp.get(), back.get(), "");
  EXPECT_EQ(bytes, encode(back.get()));

  // Spot checks of decoded values against what was added.
  ipp_attribute_t* a = ippFindAttribute(back.get(), "blob", IPP_TAG_STRING);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(std::string("a\0\xff\x80z", 5), a->values[0].string.text);
  a = ippFindAttribute(back.get(), "media-col", IPP_TAG_BEGIN_COLLECTION);
  ASSERT_NE(nullptr, a);
  ipp_attribute_t* size = ippFindAttribute(a->values[0].collection.get(), "media-size", IPP_TAG_ZERO);
  ASSERT_NE(nullptr, size);
  ipp_attribute_t* y = ippFindAttribute(size->values[0].collection.get(), "y-dimension", IPP_TAG_INTEGER);
  ASSERT_NE(nullptr, y);
  EXPECT_EQ(29700, y->values[0].integer);
  a = ippFindAttribute(back.get(), "job-id", IPP_TAG_INTEGER);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(IPP_TAG_JOB, a->group_tag);
}

// The same message through sources that deliver it in pieces of every size,
// with "nothing for now" in between: the result never depends on the pieces.
TEST(IppCodec, ReadInPieces) {
  ipp_ptr ipp = full_message();
  std::string bytes = encode(ipp.get());
  std::mt19937 rng(2910);
  std::vector<std::vector<size_t>> plans = {{1}, {1, 0}, {0, 2, 0, 3}, {7}, {8, 0, 1}, {4096}};
  for (int i = 0; i < 4; i++) {
    std::vector<size_t> plan;
    for (int k = 0; k < 50; k++) plan.push_back(rng() % 13);  // 0 included: would block
    plans.push_back(plan);
  }
  for (size_t p = 0; p < plans.size(); p++) {
    source_t src(bytes + "%!PS document", plans[p]);
    ipp_ptr back(ippNew());
    ipp_state_t st = IPP_IDLE;
    bool saw_partial = false;
    for (int i = 0; i < 100000 && st != IPP_DATA && st != IPP_ERROR; i++) {
      st = ippReadIO(&src, source_read, 0, nullptr, back.get());
      if (st == IPP_HEADER || st == IPP_ATTRIBUTE) saw_partial = true;
    }
    ASSERT_EQ(IPP_DATA, st) << "plan " << p;
    EXPECT_EQ(bytes.size(), src.pos) << "the document data must stay unread, plan " << p;
    bool stalls = std::find(plans[p].begin(), plans[p].end(), 0u) != plans[p].end();
    EXPECT_EQ(stalls, saw_partial) << "plan " << p;
    expect_same(ipp.get(), back.get(), "plan " + std::to_string(p) + ": ");
    // A finished message takes nothing more from the stream.
    EXPECT_EQ(IPP_DATA, ippReadIO(&src, source_read, 0, nullptr, back.get()));
    EXPECT_EQ(bytes.size(), src.pos);
  }
}

TEST(IppCodec, PartialWritesResume) {
  ipp_ptr ipp = full_message();
  std::string whole = encode(ipp.get());
  struct {
    size_t max, stall;
  } sinks[] = {{1, 0}, {3, 2}, {5, 3}, {64, 2}, {600, 2}};
  for (const auto& k : sinks) {
    sink_t sink;
    sink.max = k.max;
    sink.stall = k.stall;
    ipp_state_t st = IPP_IDLE;
    int calls = 0;
    for (; calls < 100000; calls++) {
      st = ippWriteIO(&sink, sink_write, 0, nullptr, ipp.get());
      if (st == IPP_DATA || st == IPP_ERROR) break;
      EXPECT_TRUE(st == IPP_HEADER || st == IPP_ATTRIBUTE) << st;
    }
    ASSERT_EQ(IPP_DATA, st) << "max " << k.max;
    EXPECT_EQ(whole, sink.out) << "max " << k.max;
    if (k.stall) {
      EXPECT_GT(calls, 0) << "a stalled sink must make the writer return and resume";
    }
    // The message can be written again afterwards.
    EXPECT_EQ(whole, encode(ipp.get()));
  }
}

ssize_t fail_io(void*, uint8_t*, size_t) { return -1; }
ssize_t idle_io(void*, uint8_t*, size_t) { return 0; }

TEST(IppCodec, SourceAndSinkErrors) {
  ipp_ptr ipp = full_message();
  EXPECT_EQ(IPP_ERROR, ippWriteIO(nullptr, fail_io, 0, nullptr, ipp.get()));
  // A blocking sink or source that has nothing cannot be waited for.
  EXPECT_EQ(IPP_ERROR, ippWriteIO(nullptr, idle_io, 1, nullptr, ipp.get()));
  ipp_ptr in(ippNew());
  EXPECT_EQ(IPP_ERROR, ippReadIO(nullptr, idle_io, 1, nullptr, in.get()));
  ipp_ptr in2(ippNew());
  EXPECT_EQ(IPP_HEADER, ippReadIO(nullptr, idle_io, 0, nullptr, in2.get()));
  EXPECT_EQ(IPP_ERROR, ippReadIO(nullptr, fail_io, 0, nullptr, in2.get()));
  EXPECT_EQ(IPP_ERROR, ippReadIO(nullptr, fail_io, 0, nullptr, in2.get())) << "errors stick";
}

// One collection's members alone, as a caller holding the begCollection reads
// them with `parent`.
TEST(IppCodec, CollectionBodyWithParent) {
  ipp_ptr ipp = full_message();
  ipp_attribute_t* media = ippFindAttribute(ipp.get(), "media-col", IPP_TAG_BEGIN_COLLECTION);
  ASSERT_NE(nullptr, media);
  ipp_t* col = media->values[0].collection.get();
  std::string body = encode(col, ipp.get());
  ASSERT_GE(body.size(), 5u);
  EXPECT_EQ("3700000000", hex(body.substr(body.size() - 5)));
  source_t src(body + "\x03", {1, 0});
  ipp_ptr back(ippNew());
  ASSERT_EQ(IPP_DATA, read_all(src, back.get(), ipp.get()));
  EXPECT_EQ(body.size(), src.pos);
  expect_same(col, back.get(), "body: ");
}

TEST(IppCodec, AdditionalValueOfAnotherTypeStartsAnAttribute) {
  // number-up: 1 (integer), then 2-4 (rangeOfInteger) as an additional value.
  std::string msg("\x01\x01\x00\x00\x00\x00\x00\x01\x02"
                  "\x21\x00\x09number-up\x00\x04\x00\x00\x00\x01"
                  "\x33\x00\x00\x00\x08\x00\x00\x00\x02\x00\x00\x00\x04"
                  "\x03", 9 + 18 + 13 + 1);
  source_t src(msg);
  ipp_ptr ipp(ippNew());
  ASSERT_EQ(IPP_DATA, read_all(src, ipp.get()));
  ipp_attribute_t* a = ippFindAttribute(ipp.get(), "number-up", IPP_TAG_INTEGER);
  ASSERT_NE(nullptr, a);
  ipp_attribute_t* b = ippFindNextAttribute(ipp.get(), "number-up", IPP_TAG_ZERO);
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(IPP_TAG_RANGE, b->value_tag);
  EXPECT_EQ(2, b->values[0].range.lower);
  EXPECT_EQ(4, b->values[0].range.upper);
}

TEST(IppCodec, ReservedValueTagsKeepTheirBytes) {
  // 0x24 (a reserved integer type) and 0x15 (a reserved out-of-band value).
  std::string msg("\x02\x00\x00\x00\x00\x00\x00\x05\x04"
                  "\x24\x00\x01r\x00\x03xyz"
                  "\x15\x00\x01s\x00\x00"
                  "\x03", 9 + 9 + 6 + 1);
  source_t src(msg);
  ipp_ptr ipp(ippNew());
  ASSERT_EQ(IPP_DATA, read_all(src, ipp.get()));
  ipp_attribute_t* r = ippFindAttribute(ipp.get(), "r", ipp_tag_t(0x24));
  ASSERT_NE(nullptr, r);
  EXPECT_EQ("xyz", r->values[0].unknown);
  EXPECT_EQ(hex(msg), hex(encode(ipp.get())));
}

TEST(IppCodec, RepeatedGroupsKeepTheirSeparators) {
  // Two job groups in a row, an empty printer group, then a job group again.
  std::string msg("\x01\x01\x00\x00\x00\x00\x00\x01"
                  "\x02\x21\x00\x01" "a\x00\x04\x00\x00\x00\x01"
                  "\x02\x21\x00\x01" "b\x00\x04\x00\x00\x00\x02"
                  "\x04\x02\x21\x00\x01" "c\x00\x04\x00\x00\x00\x03"
                  "\x03", 8 + 11 + 11 + 12 + 1);
  source_t src(msg);
  ipp_ptr ipp(ippNew());
  ASSERT_EQ(IPP_DATA, read_all(src, ipp.get()));
  std::string names;
  for (ipp_attribute_t* a = ipp->attrs; a; a = a->next) names += a->name.empty() ? "|" : a->name;
  EXPECT_EQ("a|b|c", names);
  // The empty printer group is dropped; each job group stays apart.
  std::string expect = msg.substr(0, 30) + msg.substr(31);
  EXPECT_EQ(hex(expect), hex(encode(ipp.get())));
}

TEST(IppCodec, FileReadAndWrite) {
  char path[] = "/tmp/ipp_codec_testXXXXXX";
  vorn::unique_fd fd(mkostemp(path, O_CLOEXEC));
  ASSERT_TRUE(fd);
  unlink(path);
  ipp_ptr ipp = full_message();
  ASSERT_EQ(IPP_DATA, ippWriteFile(fd.get(), ipp.get()));
  ASSERT_EQ(7, vorn::write_retry(fd.get(), "trailer", 7));
  ASSERT_EQ(0, lseek(fd.get(), 0, SEEK_SET));
  ipp_ptr back(ippNew());
  ASSERT_EQ(IPP_DATA, ippReadFile(fd.get(), back.get()));
  expect_same(ipp.get(), back.get(), "file: ");
  char rest[16] = {};
  EXPECT_EQ(7, vorn::read_retry(fd.get(), rest, sizeof rest));
  EXPECT_STREQ("trailer", rest);
  // End of file in the middle of a message is an error.
  ASSERT_EQ(0, ftruncate(fd.get(), 20));
  ASSERT_EQ(0, lseek(fd.get(), 0, SEEK_SET));
  ipp_ptr cut(ippNew());
  EXPECT_EQ(IPP_ERROR, ippReadFile(fd.get(), cut.get()));
}

TEST(IppCodec, UnencodableMessages) {
  struct {
    const char* what;
    void (*make)(ipp_t*);
  } cases[] = {
      {"empty name", [](ipp_t* i) { ippAddInteger(i, IPP_TAG_JOB, IPP_TAG_INTEGER, "n", 1)->name.clear(); }},
      {"no values", [](ipp_t* i) { ippAddInteger(i, IPP_TAG_JOB, IPP_TAG_INTEGER, "n", 1)->values.clear(); }},
      {"no group", [](ipp_t* i) { ippAddInteger(i, IPP_TAG_ZERO, IPP_TAG_INTEGER, "n", 1); }},
      {"end tag as group", [](ipp_t* i) { ippAddInteger(i, IPP_TAG_END, IPP_TAG_INTEGER, "n", 1); }},
      {"text too long", [](ipp_t* i) {
         ippAddString(i, IPP_TAG_JOB, IPP_TAG_TEXT, "t", {}, "x")->values[0].string.text.assign(32768, 'x');
       }},
      {"member as value", [](ipp_t* i) { ippAddString(i, IPP_TAG_JOB, IPP_TAG_TEXT, "t", {}, "x")->value_tag = IPP_TAG_MEMBERNAME; }},
      {"too deep", [](ipp_t* i) {
         ipp_t* inner = ippNew();
         ippAddInteger(inner, IPP_TAG_ZERO, IPP_TAG_INTEGER, "n", 1);
         for (int d = 0; d < IPP_MAX_DEPTH; d++) {
           ipp_t* outer = ippNew();
           ippAddCollection(outer, IPP_TAG_ZERO, "c", inner);
           inner = outer;
         }
         ippAddCollection(i, IPP_TAG_JOB, "c", inner);
       }},
  };
  for (const auto& c : cases) {
    ipp_ptr ipp(ippNew());
    c.make(ipp.get());
    EXPECT_EQ(0u, ippLength(ipp.get())) << c.what;
    sink_t sink;
    EXPECT_EQ(IPP_ERROR, ippWriteIO(&sink, sink_write, 1, nullptr, ipp.get())) << c.what;
    EXPECT_EQ("", sink.out) << c.what << ": nothing of a bad message is sent";
  }
}

TEST(IppCodec, DeepestAllowedNestingRoundTrips) {
  ipp_t* inner = ippNew();
  ippAddInteger(inner, IPP_TAG_ZERO, IPP_TAG_INTEGER, "n", 1);
  for (int d = 1; d < IPP_MAX_DEPTH; d++) {
    ipp_t* outer = ippNew();
    ippAddCollection(outer, IPP_TAG_ZERO, "c", inner);
    inner = outer;
  }
  ipp_ptr ipp(ippNew());
  ippAddCollection(ipp.get(), IPP_TAG_JOB, "c", inner);
  std::string bytes = encode(ipp.get());
  source_t src(bytes);
  ipp_ptr back(ippNew());
  ASSERT_EQ(IPP_DATA, read_all(src, back.get()));
  expect_same(ipp.get(), back.get(), "");
}

}  // namespace
