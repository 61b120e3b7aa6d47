// Opening and closing PPD records, the reader's last error, and lookups of
// options, choices and attributes.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "ppd-private.h"
#include "vorn/strings.h"

using namespace vorn::ppd_detail;

namespace {

thread_local ppd_status_t last_status = PPD_OK;
thread_local int last_line = 0;

ppd_file_t* fail(ppd_status_t status, int line) {
  last_status = status;
  last_line = line;
  return nullptr;
}

ppd_file_t* read_all(source& src, const std::string& dir) {
  auto ppd = std::make_unique<ppd_file_t>();
  builder b;
  b.ppd = ppd.get();
  ppd_status_t st = read_entries(b, src, dir, 0);
  if (st == PPD_OK) st = finish(b);
  if (st != PPD_OK) {
    int saved = errno;  // callers report the system error for read failures
    ppd.reset();
    errno = saved;
    return fail(st, b.line);
  }
  last_status = PPD_OK;
  last_line = b.line;
  return ppd.release();
}

ppd_file_t* read_fd(int fd, const std::string& dir) {
  ppd_status_t st;
  std::unique_ptr<source> src = open_fd_source(fd, &st);
  if (!src) return fail(st, 0);
  return read_all(*src, dir);
}

}  // namespace

ppd_file_t* ppdOpen(FILE* fp) {
  if (!fp) return fail(PPD_NULL_FILE, 0);
  ppd_status_t st;
  std::unique_ptr<source> src = open_stream_source(fp, &st);
  if (!src) return fail(st, 0);
  return read_all(*src, ".");
}

ppd_file_t* ppdOpenFd(int fd) {
  if (fd < 0) return fail(PPD_NULL_FILE, 0);
  int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);  // the caller keeps fd
  if (copy < 0) return fail(PPD_FILE_OPEN_ERROR, 0);
  return read_fd(copy, ".");
}

ppd_file_t* ppdOpenFile(const char* filename) {
  if (!filename) return fail(PPD_NULL_FILE, 0);
  int fd = ::open(filename, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(PPD_FILE_OPEN_ERROR, 0);
  return read_fd(fd, folder_of(filename));
}

void ppdClose(ppd_file_t* ppd) { delete ppd; }

ppd_status_t ppdLastError(int* line) {
  if (line) *line = last_line;
  return last_status;
}

const char* ppdErrorString(ppd_status_t status) {
  static const char* const texts[] = {
      "OK",
      "Unable to open or read the PPD file",
      "No PPD file given",
      "Memory allocation error",
      "Missing *PPD-Adobe header",
      "Missing or bad value",
      "Internal error",
      "Bad *OpenGroup or *CloseGroup",
      "*OpenGroup without a *CloseGroup first",
      "Bad *OpenUI or *CloseUI, or one left open",
      "*OpenUI without a *CloseUI first",
      "Bad *OrderDependency",
      "Bad *UIConstraints",
      "Missing asterisk in column 1",
      "Line longer than 255 characters",
      "Illegal control character",
      "Illegal main keyword",
      "Missing or illegal option keyword",
      "Illegal translation string",
      "Unable to open an *Include file",
      "*Include nested too deeply",
      "Quoted value too long",
  };
  if (status < 0 || size_t(status) >= sizeof texts / sizeof texts[0]) return "Unknown error";
  return texts[status];
}

ppd_option_t* ppdFindOption(const ppd_file_t* ppd, std::string_view keyword) {
  if (!ppd) return nullptr;
  const auto& idx = ppd->option_index;
  auto it = std::lower_bound(idx.begin(), idx.end(), keyword,
                             [](const ppd_option_t* o, std::string_view k) {
                               return vorn::strcasecmp(o->keyword, k) < 0;
                             });
  return it != idx.end() && vorn::iequals((*it)->keyword, keyword) ? *it : nullptr;
}

ppd_choice_t* ppdFindChoice(const ppd_option_t* option, std::string_view choice) {
  if (!option) return nullptr;
  for (const auto& c : option->choices)
    if (vorn::iequals(c.choice, choice)) return const_cast<ppd_choice_t*>(&c);
  return nullptr;
}

ppd_choice_t* ppdFindMarkedChoice(const ppd_file_t* ppd, std::string_view keyword) {
  ppd_option_t* o = ppdFindOption(ppd, keyword);
  if (!o) return nullptr;
  for (auto& c : o->choices)
    if (c.marked) return &c;
  return nullptr;
}

namespace {

// The first attribute named `name` (and `option`, when not null) in file order;
// with use_after, the first one after attribute number `after`.
const ppd_attr_t* find_attr_from(const ppd_file_t* ppd, std::string_view name, const char* option,
                                 size_t after, bool use_after) {
  if (!ppd) return nullptr;
  const auto& idx = ppd->attr_index;
  const auto& attrs = ppd->attrs;
  auto it = std::lower_bound(idx.begin(), idx.end(), name, [&](size_t i, std::string_view n) {
    int c = vorn::strcasecmp(attrs[i].name, n);
    return c < 0 || (c == 0 && use_after && i <= after);
  });
  for (; it != idx.end() && vorn::iequals(attrs[*it].name, name); ++it)
    if (!option || vorn::iequals(attrs[*it].option, option)) return &attrs[*it];
  return nullptr;
}

}  // namespace

const ppd_attr_t* ppdFindAttr(const ppd_file_t* ppd, std::string_view name, const char* option) {
  return find_attr_from(ppd, name, option, 0, false);
}

const ppd_attr_t* ppdFindNextAttr(const ppd_file_t* ppd, std::string_view name, const char* option,
                                  const ppd_attr_t* prev) {
  if (!ppd || !prev || prev < ppd->attrs.data() || prev >= ppd->attrs.data() + ppd->attrs.size())
    return nullptr;
  return find_attr_from(ppd, name, option, size_t(prev - ppd->attrs.data()), true);
}
