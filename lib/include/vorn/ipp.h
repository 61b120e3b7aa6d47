// IPP messages: the attribute model, RFC 2910 encoding and RFC 2911 values.
//
// A message (ipp_t) owns an ordered, singly linked list of attributes; each
// attribute owns its values, and a collection value owns its member message.
// Everything a message owns is freed by ippDelete. Pointers to attributes stay
// valid until the attribute is freed (_ipp_free_attr) or the message deleted.
//
// The codec reads and writes through a byte callback, so the same code serves
// descriptors, HTTP connections and memory. Input is untrusted: a malformed
// message ends the read with IPP_ERROR, and one message is bounded by the
// limits below.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

struct ipp_s;
using ipp_t = ipp_s;

// Limits of one message read from outside.
inline constexpr size_t IPP_MAX_LENGTH = 32767;            // a name or a value (2-byte length)
inline constexpr int IPP_MAX_DEPTH = 16;                    // collections inside collections
inline constexpr size_t IPP_MAX_VALUES = 100000;            // values, members and separators
inline constexpr size_t IPP_MAX_MESSAGE = 16 * 1024 * 1024;  // encoded bytes up to the end tag

// What one read may take into a message: values (IPP_MAX_VALUES) and
// encoded bytes (IPP_MAX_MESSAGE) by default, the bounds of a request a
// server accepts from anyone. A client reading its server's replies raises
// them to IPP_CLIENT_LIMITS: a listing of every job of a big queue holds far
// more values than any request, and is still bounded.
struct ipp_limits_t {
  size_t values = IPP_MAX_VALUES;
  size_t bytes = IPP_MAX_MESSAGE;
};
inline constexpr ipp_limits_t IPP_CLIENT_LIMITS{8'000'000, size_t(1) << 30};

// Group (delimiter) tags 0x00..0x0F and value tags 0x10..0x5F. Value tags in
// the reserved slots of that range are read and kept with their raw bytes.
enum ipp_tag_t : int {
  IPP_TAG_ZERO = 0x00,  // no group; as a search type, any value tag
  IPP_TAG_OPERATION = 0x01,
  IPP_TAG_JOB = 0x02,
  IPP_TAG_END = 0x03,
  IPP_TAG_PRINTER = 0x04,
  IPP_TAG_UNSUPPORTED_GROUP = 0x05,
  IPP_TAG_SUBSCRIPTION = 0x06,
  IPP_TAG_EVENT_NOTIFICATION = 0x07,
  IPP_TAG_UNSUPPORTED_VALUE = 0x10,  // out-of-band values 0x10..0x1F
  IPP_TAG_DEFAULT = 0x11,
  IPP_TAG_UNKNOWN = 0x12,
  IPP_TAG_NOVALUE = 0x13,
  IPP_TAG_DELETEATTR = 0x16,  // delete-attribute (Set-Job-Attributes)
  IPP_TAG_INTEGER = 0x21,
  IPP_TAG_BOOLEAN = 0x22,
  IPP_TAG_ENUM = 0x23,
  IPP_TAG_STRING = 0x30,  // octetString
  IPP_TAG_DATE = 0x31,
  IPP_TAG_RESOLUTION = 0x32,
  IPP_TAG_RANGE = 0x33,
  IPP_TAG_BEGIN_COLLECTION = 0x34,
  IPP_TAG_TEXTLANG = 0x35,
  IPP_TAG_NAMELANG = 0x36,
  IPP_TAG_END_COLLECTION = 0x37,
  IPP_TAG_TEXT = 0x41,
  IPP_TAG_NAME = 0x42,
  IPP_TAG_KEYWORD = 0x44,
  IPP_TAG_URI = 0x45,
  IPP_TAG_URISCHEME = 0x46,
  IPP_TAG_CHARSET = 0x47,
  IPP_TAG_LANGUAGE = 0x48,
  IPP_TAG_MIMETYPE = 0x49,
  IPP_TAG_MEMBERNAME = 0x4A,
};

// Where a read or write stands. IPP_DATA: the whole message is done (for a
// request, document data may follow in the same stream).
enum ipp_state_t : int {
  IPP_ERROR = -1,
  IPP_IDLE = 0,
  IPP_HEADER = 1,
  IPP_ATTRIBUTE = 2,
  IPP_DATA = 3,
};

enum ipp_op_t : int {
  IPP_PRINT_JOB = 0x0002,
  IPP_PRINT_URI = 0x0003,
  IPP_VALIDATE_JOB = 0x0004,
  IPP_CREATE_JOB = 0x0005,
  IPP_SEND_DOCUMENT = 0x0006,
  IPP_SEND_URI = 0x0007,
  IPP_CANCEL_JOB = 0x0008,
  IPP_GET_JOB_ATTRIBUTES = 0x0009,
  IPP_GET_JOBS = 0x000A,
  IPP_GET_PRINTER_ATTRIBUTES = 0x000B,
  IPP_HOLD_JOB = 0x000C,
  IPP_RELEASE_JOB = 0x000D,
  IPP_RESTART_JOB = 0x000E,
  IPP_PAUSE_PRINTER = 0x0010,
  IPP_RESUME_PRINTER = 0x0011,
  IPP_PURGE_JOBS = 0x0012,
  IPP_SET_PRINTER_ATTRIBUTES = 0x0013,
  IPP_SET_JOB_ATTRIBUTES = 0x0014,
  IPP_ENABLE_PRINTER = 0x0022,
  IPP_DISABLE_PRINTER = 0x0023,
  // The system's own operations, in the vendor range 0x4000..0x7FFF.
  VORN_GET_DEFAULT = 0x4001,
  VORN_GET_PRINTERS = 0x4002,
  VORN_ADD_PRINTER = 0x4003,
  VORN_DELETE_PRINTER = 0x4004,
  VORN_GET_CLASSES = 0x4005,
  VORN_ADD_CLASS = 0x4006,
  VORN_DELETE_CLASS = 0x4007,
  VORN_ACCEPT_JOBS = 0x4008,
  VORN_REJECT_JOBS = 0x4009,
  VORN_SET_DEFAULT = 0x400A,
  VORN_GET_DEVICES = 0x400B,
  VORN_GET_PPDS = 0x400C,
  VORN_MOVE_JOB = 0x400D,
};

// printer-state values.
enum { IPP_PRINTER_IDLE = 3, IPP_PRINTER_PROCESSING = 4, IPP_PRINTER_STOPPED = 5 };

// job-state values. A job is active while its state is at most
// IPP_JOB_PROCESSING; the last three are final.
enum {
  IPP_JOB_PENDING = 3,
  IPP_JOB_HELD = 4,
  IPP_JOB_PROCESSING = 5,
  IPP_JOB_STOPPED = 6,
  IPP_JOB_CANCELLED = 7,
  IPP_JOB_ABORTED = 8,
  IPP_JOB_COMPLETED = 9,
};

enum ipp_status_t : int {
  IPP_OK = 0x0000,                    // successful-ok
  IPP_OK_SUBST = 0x0001,              // successful-ok-ignored-or-substituted-attributes
  IPP_OK_CONFLICT = 0x0002,           // successful-ok-conflicting-attributes
  IPP_BAD_REQUEST = 0x0400,
  IPP_FORBIDDEN = 0x0401,
  IPP_NOT_AUTHENTICATED = 0x0402,
  IPP_NOT_AUTHORIZED = 0x0403,
  IPP_NOT_POSSIBLE = 0x0404,
  IPP_TIMEOUT = 0x0405,
  IPP_NOT_FOUND = 0x0406,
  IPP_GONE = 0x0407,
  IPP_REQUEST_ENTITY_TOO_LARGE = 0x0408,
  IPP_REQUEST_VALUE_TOO_LONG = 0x0409,
  IPP_DOCUMENT_FORMAT_NOT_SUPPORTED = 0x040A,
  IPP_ATTRIBUTES_NOT_SUPPORTED = 0x040B,  // client-error-attributes-or-values-not-supported
  IPP_URI_SCHEME_NOT_SUPPORTED = 0x040C,
  IPP_CHARSET_NOT_SUPPORTED = 0x040D,
  IPP_CONFLICTING_ATTRIBUTES = 0x040E,
  IPP_COMPRESSION_NOT_SUPPORTED = 0x040F,
  IPP_COMPRESSION_ERROR = 0x0410,
  IPP_DOCUMENT_FORMAT_ERROR = 0x0411,
  IPP_DOCUMENT_ACCESS_ERROR = 0x0412,
  IPP_ATTRIBUTES_NOT_SETTABLE = 0x0413,
  IPP_INTERNAL_ERROR = 0x0500,
  IPP_OPERATION_NOT_SUPPORTED = 0x0501,
  IPP_SERVICE_UNAVAILABLE = 0x0502,
  IPP_VERSION_NOT_SUPPORTED = 0x0503,
  IPP_DEVICE_ERROR = 0x0504,
  IPP_TEMPORARY_ERROR = 0x0505,
  IPP_NOT_ACCEPTING_JOBS = 0x0506,
  IPP_BUSY = 0x0507,
  IPP_JOB_CANCELED = 0x0508,
  IPP_MULTIPLE_JOBS_NOT_SUPPORTED = 0x0509,
  // The upper half of each status class belongs to vendors; these codes have
  // no names of their own and ippErrorString shows them in hex.
  IPP_VENDOR_OK_FIRST = 0x0080,
  IPP_VENDOR_OK_LAST = 0x00FF,
  IPP_VENDOR_CLIENT_FIRST = 0x0480,
  IPP_VENDOR_CLIENT_LAST = 0x04FF,
  IPP_VENDOR_SERVER_FIRST = 0x0580,
  IPP_VENDOR_SERVER_LAST = 0x05FF,
};

enum ipp_res_t : int {
  IPP_RES_PER_INCH = 3,
  IPP_RES_PER_CM = 4,
};

// dateTime value (RFC 2579): year (2 bytes), month, day, hour, minutes,
// seconds, deci-seconds, '+' or '-', hours and minutes from UTC.
using ipp_date_t = std::array<uint8_t, 11>;

struct ipp_resolution_t {
  int xres = 0;
  int yres = 0;
  ipp_res_t units = IPP_RES_PER_INCH;
};

struct ipp_range_t {
  int lower = 0;
  int upper = 0;
};

// Frees a message (ippDelete): the deleter of collection values and of
// every owned message.
struct ipp_delete_t {
  void operator()(ipp_t* ipp) const;
};
using ipp_ptr = std::unique_ptr<ipp_t, ipp_delete_t>;

// One value; the attribute's value tag says which field holds it.
struct ipp_value_t {
  int integer = 0;                  // integer, enum
  bool boolean = false;             // boolean
  uint8_t date[11] = {};            // dateTime
  ipp_resolution_t resolution;      // resolution
  ipp_range_t range;                // rangeOfInteger
  struct {
    std::string language;  // textWithLanguage, nameWithLanguage only
    std::string text;      // every string tag, octetString included (any bytes)
  } string;
  std::string unknown;              // raw bytes of out-of-band and reserved value tags
  std::unique_ptr<ipp_t, ipp_delete_t> collection;  // begCollection: the members
};

// An attribute, or a separator (empty name, value tag IPP_TAG_ZERO, no
// values) that splits two groups with the same group tag.
struct ipp_attribute_t {
  ipp_attribute_t* next = nullptr;  // next in the message, owned by the message
  ipp_tag_t group_tag = IPP_TAG_ZERO;
  ipp_tag_t value_tag = IPP_TAG_ZERO;
  std::string name;
  std::vector<ipp_value_t> values;
};

// Cursor of an unfinished read or write; only the codec touches it.
struct ipp_io_t {
  struct frame_t {
    ipp_t* col = nullptr;              // collection being filled
    ipp_attribute_t* attr = nullptr;   // member taking additional values
    std::string member;                // name from memberAttrName, waiting for its value
    bool member_pending = false;
  };
  // reading
  bool reading = false;
  bool body_only = false;  // reading one collection's members (parent given)
  int phase = 0;
  uint8_t tag = 0;
  std::string piece;       // bytes of the piece being read
  size_t have = 0;         // bytes of `piece` received so far
  std::string name;
  size_t total = 0;        // bytes read of this message
  size_t values = 0;       // items read of this message
  ipp_tag_t group = IPP_TAG_ZERO;
  ipp_attribute_t* attr = nullptr;  // attribute taking additional values
  std::vector<frame_t> stack;       // open collections, innermost last
  // writing: the message is encoded a few attributes at a time into `out`
  bool writing = false;
  std::string out;
  size_t out_pos = 0;
  int stage = 0;                              // header, attributes, pieces, end
  const ipp_attribute_t* next_attr = nullptr;  // first attribute not yet encoded
  int out_group = -1;                         // group tag last written
  bool out_split = false;                     // a separator since that group tag
  size_t next_piece = 0;                      // first piece not yet copied
  size_t written = 0;                         // bytes handed to the sink
};

// Bytes encoded beforehand, sent as they are: whole groups, each starting
// with its group tag, as ippWriteIO would have written them. `bytes` is
// shared, so one encoding serves many messages and outlives changes to
// whatever it was encoded from.
struct ipp_piece_t {
  std::shared_ptr<const std::string> bytes;
  size_t offset = 0;
  size_t length = 0;
};

struct ipp_s {
  ipp_s() = default;
  ~ipp_s();
  ipp_s(const ipp_s&) = delete;
  ipp_s& operator=(const ipp_s&) = delete;

  ipp_state_t state = IPP_IDLE;
  uint8_t version[2] = {1, 1};
  uint16_t op_status = 0;  // operation id in a request, status code in a response
  int request_id = 1;
  ipp_attribute_t* attrs = nullptr;    // first attribute
  ipp_attribute_t* last = nullptr;     // last attribute, where adders append
  ipp_attribute_t* current = nullptr;  // last match of ippFindAttribute/ippFindNextAttribute
  ipp_limits_t limits;                 // of a read into this message
  // Set anew by every adder, ippCopyAttribute, _ipp_free_attr and a read
  // into this message; code that edits an attribute in place calls
  // ippTouch. Values come from one counter of the process, so no two states
  // of any messages share one: a cache of an encoding is good while this is
  // unchanged, even across a message freed and another made in its place.
  uint64_t changes = 0;
  // Written after the attributes, before the end tag; counted by ippLength;
  // a read never fills it.
  std::vector<ipp_piece_t> pieces;
  ipp_io_t io;
};

// A new empty message: version 1.1, request id 1, state IPP_IDLE. Free it
// with ippDelete.
ipp_t* ippNew();
// Frees the message, its attributes and their collections. Accepts nullptr.
void ippDelete(ipp_t* ipp);

// Adders append one attribute to the end of `ipp` and return it, or nullptr
// when `ipp` is null, `name` is empty or the value tag does not fit the
// adder. Names and strings longer than IPP_MAX_LENGTH are cut (for the
// *WithLanguage tags, language and text together). Collection members use
// the group IPP_TAG_ZERO; their group is not encoded.
//
// String tags: octetString, textWithLanguage, nameWithLanguage, text, name,
// keyword, uri, uriScheme, charset, naturalLanguage, mimeMediaType.
// `language` is kept only for textWithLanguage and nameWithLanguage.
ipp_attribute_t* ippAddString(ipp_t* ipp, ipp_tag_t group, ipp_tag_t type, std::string_view name,
                              std::string_view language, std::string_view value);
// A null pointer among `values` gives an empty string to be filled later.
ipp_attribute_t* ippAddStrings(ipp_t* ipp, ipp_tag_t group, ipp_tag_t type, std::string_view name,
                               std::string_view language, std::span<const char* const> values);
ipp_attribute_t* ippAddStrings(ipp_t* ipp, ipp_tag_t group, ipp_tag_t type, std::string_view name,
                               std::string_view language, std::span<const std::string> values);
// `type` is IPP_TAG_INTEGER or IPP_TAG_ENUM.
ipp_attribute_t* ippAddInteger(ipp_t* ipp, ipp_tag_t group, ipp_tag_t type, std::string_view name,
                               int value);
ipp_attribute_t* ippAddIntegers(ipp_t* ipp, ipp_tag_t group, ipp_tag_t type, std::string_view name,
                                std::span<const int> values);
ipp_attribute_t* ippAddBoolean(ipp_t* ipp, ipp_tag_t group, std::string_view name, bool value);
ipp_attribute_t* ippAddBooleans(ipp_t* ipp, ipp_tag_t group, std::string_view name,
                                std::span<const bool> values);
ipp_attribute_t* ippAddRange(ipp_t* ipp, ipp_tag_t group, std::string_view name, int lower,
                             int upper);
ipp_attribute_t* ippAddRanges(ipp_t* ipp, ipp_tag_t group, std::string_view name,
                              std::span<const ipp_range_t> values);
ipp_attribute_t* ippAddResolution(ipp_t* ipp, ipp_tag_t group, std::string_view name,
                                  ipp_res_t units, int xres, int yres);
ipp_attribute_t* ippAddResolutions(ipp_t* ipp, ipp_tag_t group, std::string_view name,
                                   std::span<const ipp_resolution_t> values);
// `date` points to 11 bytes (ipp_date_t::data()).
ipp_attribute_t* ippAddDate(ipp_t* ipp, ipp_tag_t group, std::string_view name,
                            const uint8_t* date);
// Takes ownership of `value` (and of each of `values`): do not delete them
// afterwards. A null collection becomes an empty one. On failure the
// collections are freed.
ipp_attribute_t* ippAddCollection(ipp_t* ipp, ipp_tag_t group, std::string_view name,
                                  ipp_t* value);
ipp_attribute_t* ippAddCollections(ipp_t* ipp, ipp_tag_t group, std::string_view name,
                                   std::span<ipp_t* const> values);
// An out-of-band value: `type` in 0x10..0x1F (unsupported, unknown, no-value).
ipp_attribute_t* ippAddOutOfBand(ipp_t* ipp, ipp_tag_t group, ipp_tag_t type,
                                 std::string_view name);
// Ends the current group: the next attribute starts a new group even when
// its group tag is the same (one group per job in a Get-Jobs response).
ipp_attribute_t* ippAddSeparator(ipp_t* ipp);

// The first attribute named `name` (exact match) whose value tag is `type`
// (IPP_TAG_ZERO: any), or nullptr. Remembers the match in ipp->current.
ipp_attribute_t* ippFindAttribute(ipp_t* ipp, std::string_view name, ipp_tag_t type);
// The next match after ipp->current (from the start when there is none).
ipp_attribute_t* ippFindNextAttribute(ipp_t* ipp, std::string_view name, ipp_tag_t type);

// Unlinks `attr` from `ipp` and frees it; nothing happens when `attr` is not
// in `ipp`. Pointers to other attributes stay valid, and ipp->current moves
// to the attribute before, so a ippFindNextAttribute walk can go on.
void _ipp_free_attr(ipp_t* ipp, ipp_attribute_t* attr);

// Appends to `dst` a deep copy of `src` (collections included), with the
// same group tag, and returns it; nullptr when either is null. `src` may
// belong to any message, `dst` included.
ipp_attribute_t* ippCopyAttribute(ipp_t* dst, const ipp_attribute_t* src);

// Records an in-place change of an attribute of `ipp` (see ipp_s::changes).
void ippTouch(ipp_t* ipp);

// Appends to `out` the encoding of the top-level attribute `attr` (its
// values, the first one named; no group tag), as ippWriteIO writes it.
// False, with `out` unchanged, when it cannot be encoded (see ippLength).
bool ippEncodeAttribute(std::string& out, const ipp_attribute_t* attr);

// The attributes of one group of a message encoded once, for replies that
// send them again and again (as ipp_piece_t).
struct ipp_encoded_t {
  uint64_t changes = 0;          // the message's change count when encoded
  std::string bytes;             // the attributes, in order, as ippEncodeAttribute writes them
  // Where each attribute starts in `bytes` (it ends where the next one
  // starts); a separator of the message is a lone group tag there.
  std::vector<uint32_t> starts;
  size_t skipped = 0;            // attributes of other groups, left out
};

// Encodes the attributes of `ipp` in `group`; a separator becomes the
// group tag alone (the attribute after it opens a new group). Null when
// an attribute cannot be encoded.
std::shared_ptr<const ipp_encoded_t> ippEncodeGroup(const ipp_t* ipp, ipp_tag_t group);

// The number of bytes ippWriteIO(..., nullptr, ipp) produces for `ipp` as it
// is now; 0 when it cannot be encoded (an attribute with an empty name or no
// values, a top-level group tag that is no group, a member too long, a
// collection nested deeper than IPP_MAX_DEPTH).
size_t ippLength(const ipp_t* ipp);

// Byte source or sink of the codec. Reading: fill `buf` with at most `len`
// bytes; writing: send at most `len` bytes of `buf`. Returns the number of
// bytes moved (1..len), 0 when nothing can be moved now (a non-blocking
// source or sink; the codec returns and is called again later), or -1 on an
// error or at the end of the data. `ctx` is passed through untouched.
// An HTTP connection plugs in with a callback over its buffered body: bytes
// when it has them, 0 when its socket would block, -1 at the end of the body
// or on an error.
using ipp_iocb_t = ssize_t (*)(void* ctx, uint8_t* buf, size_t len);

// Reads a message into `ipp` (a new message, state IPP_IDLE), resuming where
// an earlier call stopped. Returns IPP_DATA when the whole message is read,
// IPP_HEADER or IPP_ATTRIBUTE when the source had nothing more for now (call
// again with the same message), IPP_ERROR on a source error, an early end
// or malformed input (see the limits above); later calls then return the
// same. The reader asks for exactly the bytes each piece needs, so it never
// consumes a byte past the end-of-attributes tag.
//
// `blocking`: non-zero when the source blocks until it has data; a 0 from
// the callback is then an error (there is nothing to wait for), so one call
// reads the whole message.
//
// `parent`: nullptr for a message. Given, `ipp` receives the members of one
// collection value of `parent` (the bytes after a begCollection value, up to
// and including its endCollection), as ippWriteIO writes them.
ipp_state_t ippReadIO(void* ctx, ipp_iocb_t cb, int blocking, ipp_t* parent, ipp_t* ipp);

// Writes `ipp` (header, attributes, end tag; with `parent`, the members of
// a collection and endCollection), resuming a partial write where it
// stopped. Returns IPP_DATA when every byte is written (a later call starts
// a new write), the current state when the sink took nothing for now, and
// IPP_ERROR on a sink error or a message that cannot be encoded (see
// ippLength). The message must not change while a write is unfinished.
ipp_state_t ippWriteIO(void* ctx, ipp_iocb_t cb, int blocking, ipp_t* parent, ipp_t* ipp);

// Over a blocking descriptor: read_retry/write_retry, end of file is an error.
ipp_state_t ippReadFile(int fd, ipp_t* ipp);
ipp_state_t ippWriteFile(int fd, ipp_t* ipp);

// dateTime of `t` at `utc_offset` minutes east of UTC (cut to +/-14 hours).
ipp_date_t ippTimeToDate(time_t t, int utc_offset = 0);
// Seconds since the epoch of an 11-byte dateTime, its UTC offset applied.
// The fields are not range-checked; nonsense gives a nonsense time.
time_t ippDateToTime(const uint8_t* date);

// Names for logs and messages. Unknown codes give "0x%04x" (ippTagString:
// "0x%02x") in a per-thread buffer that stays valid until the next such
// call in the same thread; known ones give static text.
const char* ippErrorString(ipp_status_t status);  // "client-error-not-found"
const char* ippOpString(ipp_op_t op);             // "Print-Job", "VORN-Get-Printers"
const char* ippTagString(ipp_tag_t tag);          // "job-attributes-tag", "keyword"
