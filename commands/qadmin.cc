// qadmin: creates, changes and deletes printers and classes. Each option
// becomes its requests the moment it is read, in command-line order; -o and
// -u options are gathered and sent at the end, merged into the printer's
// PPD file when it has one.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "command-common.h"
#include "vorn/client.h"
#include "vorn/fd.h"
#include "vorn/file.h"
#include "vorn/options.h"
#include "vorn/request.h"
#include "vorn/strings.h"

namespace {

using namespace vorn::cmd;

struct admin_t {
  vorn::http_ptr http;
  std::string printer;  // the current printer or destination
  vorn_options_t options;
};

[[noreturn]] void Exit1() { std::exit(1); }

http_t* Http(admin_t& a) {
  if (!a.http) {
    a.http = ConnectScheduler();
    if (!a.http) {
      std::perror("qadmin: Unable to connect to server");
      Exit1();
    }
  }
  return a.http.get();
}

// Fewer than 128 characters before the first "@" (or the end), none of them
// a control character, space, DEL or "/".
bool ValidName(std::string_view name) {
  std::string_view local = name.substr(0, name.find('@'));
  if (local.size() >= 128) return false;
  for (unsigned char c : local)
    if (c <= ' ' || c == 0x7f || c == '/') return false;
  return true;
}

void CheckPrinterName(const char* name) {
  if (ValidName(name)) return;
  std::fprintf(stderr, "qadmin: Printer name can only contain printable characters!\n");
  Exit1();
}

void CheckClassName(const char* name) {
  if (ValidName(name)) return;
  std::fprintf(stderr, "qadmin: Class name can only contain printable characters!\n");
  Exit1();
}

std::string ClassURI(std::string_view name) { return "ipp://localhost/classes/" + std::string(name); }

// A request for the printer-uri `uri`.
ipp_t* NewFor(ipp_op_t op, const std::string& uri) {
  ipp_t* request = vornNewRequest(op);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "", uri);
  return request;
}

// Sends an administration request (with `file` as its document when not
// null); on failure writes "qadmin: WHAT failed: ..." and ends the command.
void Admin(admin_t& a, ipp_t* request, const char* what, const char* file = nullptr) {
  ipp_ptr response(vornDoFileRequest(Http(a), request, "/admin/", file));
  ipp_status_t status = response ? ipp_status_t(response->op_status) : vornLastError();
  if (response && status <= IPP_OK_CONFLICT) return;
  std::fprintf(stderr, "qadmin: %s failed: %s\n", what, ippErrorString(status));
  Exit1();
}

// Get-Printer-Attributes of `uri`, sent to `resource`; null when there is
// no answer.
ipp_ptr Ask(admin_t& a, const std::string& uri, const char* resource, const char* requested = nullptr) {
  ipp_t* request = vornNewRequest(IPP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "", uri);
  if (requested) ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", "", requested);
  return ipp_ptr(vornDoFileRequest(Http(a), request, resource, nullptr));
}

void NeedPrinter(const admin_t& a, const char* unable) {
  if (!a.printer.empty()) return;
  std::fprintf(stderr, "%s         You must specify a printer name first!\n", unable);
  Exit1();
}

// VORN-Add-Printer for the current printer with one attribute.
void SetAttribute(admin_t& a, const char* what, ipp_tag_t type, const char* name, const std::string& value) {
  ipp_t* request = NewFor(VORN_ADD_PRINTER, PrinterURI(a.printer));
  ippAddString(request, IPP_TAG_PRINTER, type, name, "", value);
  Admin(a, request, what);
}

void EnablePrinter(admin_t& a) {
  ipp_t* request = NewFor(VORN_ADD_PRINTER, PrinterURI(a.printer));
  ippAddInteger(request, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-state", IPP_PRINTER_IDLE);
  ippAddBoolean(request, IPP_TAG_PRINTER, "printer-is-accepting-jobs", true);
  Admin(a, request, "add-printer (enable)");
}

// The values of a string attribute of `response`.
std::vector<std::string> Values(ipp_t* response, const char* name, ipp_tag_t type) {
  std::vector<std::string> out;
  if (ipp_attribute_t* attr = response ? ippFindAttribute(response, name, type) : nullptr)
    for (const ipp_value_t& v : attr->values) out.push_back(v.string.text);
  return out;
}

int IndexOf(const std::vector<std::string>& names, std::string_view name) {
  for (size_t i = 0; i < names.size(); i++)
    if (vorn::iequals(names[i], name)) return int(i);
  return -1;
}

void AddToClass(admin_t& a, const char* cls) {
  ipp_ptr response = Ask(a, ClassURI(cls), "/");
  std::vector<std::string> names = Values(response.get(), "member-names", IPP_TAG_NAME);
  if (IndexOf(names, a.printer) >= 0) {
    std::printf("qadmin: Printer %s is already a member of class %s.\n", a.printer.c_str(), cls);
    return;
  }
  std::vector<std::string> uris = Values(response.get(), "member-uris", IPP_TAG_URI);
  uris.push_back(PrinterURI(a.printer));
  ipp_t* request = NewFor(VORN_ADD_CLASS, ClassURI(cls));
  ippAddStrings(request, IPP_TAG_PRINTER, IPP_TAG_URI, "member-uris", "", uris);
  Admin(a, request, "add-class");
}

void RemoveFromClass(admin_t& a, const char* cls) {
  ipp_ptr response = Ask(a, ClassURI(cls), "/classes/");
  if (!response || response->op_status == IPP_NOT_FOUND) {
    std::fprintf(stderr, "qadmin: Class %s does not exist!\n", cls);
    Exit1();
  }
  std::vector<std::string> names = Values(response.get(), "member-names", IPP_TAG_NAME);
  if (names.empty()) {
    std::fprintf(stderr, "qadmin: No member names were seen!\n");
    Exit1();
  }
  int at = IndexOf(names, a.printer);
  if (at < 0) {
    std::fprintf(stderr, "qadmin: Printer %s is not a member of class %s.\n", a.printer.c_str(), cls);
    Exit1();
  }
  ipp_t* request;
  if (names.size() == 1) {
    request = NewFor(VORN_DELETE_CLASS, ClassURI(cls));
  } else {
    std::vector<std::string> uris = Values(response.get(), "member-uris", IPP_TAG_URI);
    if (size_t(at) < uris.size()) uris.erase(uris.begin() + at);
    request = NewFor(VORN_ADD_CLASS, ClassURI(cls));
    ippAddStrings(request, IPP_TAG_PRINTER, IPP_TAG_URI, "member-uris", "", uris);
  }
  Admin(a, request, "add/delete-class");
}

// A temporary file removed when the owner goes.
struct temp_file_t {
  std::string name;
  vorn::unique_fd fd;
  temp_file_t() : fd(vornTempFd(name)) {}
  ~temp_file_t() {
    if (!name.empty()) ::unlink(name.c_str());
  }
  temp_file_t(const temp_file_t&) = delete;
  temp_file_t& operator=(const temp_file_t&) = delete;
};

bool WriteAll(int fd, const char* data, size_t len) {
  while (len > 0) {
    ssize_t n = ::write(fd, data, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    len -= size_t(n);
  }
  return true;
}

// Uploads `file` (unpacked first when its name ends in ".gz") as the
// printer's interface script or PPD.
void UploadFile(admin_t& a, const char* file) {
  std::string_view name(file);
  temp_file_t unpacked;
  const char* send = file;
  if (name.size() > 3 && name.substr(name.size() - 3) == ".gz") {
    if (!unpacked.fd) {
      std::perror("qadmin: Unable to create temporary file");
      Exit1();
    }
    vorn::unique_fd in(::open(file, O_RDONLY | O_CLOEXEC));
    if (!in) {
      std::perror("qadmin: Unable to open file");
      Exit1();
    }
    vorn::gzip_reader reader(in.get());
    char buffer[8192];
    ssize_t n;
    while ((n = reader.read(buffer, sizeof(buffer))) > 0)
      if (!WriteAll(unpacked.fd.get(), buffer, size_t(n))) break;
    if (n != 0) {
      // Half a file would be installed as if whole.
      std::fprintf(stderr, "qadmin: Unable to read %s: %s\n", file, std::strerror(reader.error() ? reader.error() : errno));
      Exit1();
    }
    send = unpacked.name.c_str();
  }
  Admin(a, NewFor(VORN_ADD_PRINTER, PrinterURI(a.printer)), "add-printer (set model)", send);
}

// The option the value of a "*Default" keyword comes from.
const char* OptionFor(const vorn_options_t& options, std::string_view keyword) {
  return vornGetOption(keyword == "PageRegion" ? std::string("PageSize") : std::string(keyword), options);
}

// The PPD at `from` with the collected defaults and protocol written into
// it, in `out`. False after writing why.
bool MergeIntoPPD(const admin_t& a, const std::string& from, int out) {
  vorn::unique_fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in) {
    std::fprintf(stderr, "qadmin: Unable to open PPD file \"%s\" - %s\n", from.c_str(), std::strerror(errno));
    return false;
  }
  const char* protocol = vornGetOption("protocol", a.options);
  std::string data;
  char buffer[8192];
  ssize_t n;
  while ((n = ::read(in.get(), buffer, sizeof(buffer))) > 0) data.append(buffer, size_t(n));
  std::string merged;
  size_t pos = 0;
  while (pos < data.size()) {
    size_t end = data.find_first_of("\r\n", pos);
    std::string_view line = std::string_view(data).substr(pos, (end == std::string::npos ? data.size() : end) - pos);
    pos = end == std::string::npos ? data.size() : end + 1;
    if (end != std::string::npos && data[end] == '\r' && pos < data.size() && data[pos] == '\n') pos++;
    line = line.substr(0, 1023);
    if (line.starts_with("*vornProtocol:") && protocol) continue;
    if (line.starts_with("*Default")) {
      std::string_view keyword = line.substr(8, line.find_first_of(": \t", 8) - 8);
      if (const char* value = OptionFor(a.options, keyword)) {
        merged += "*Default" + std::string(keyword) + ": " + value + "\n";
        continue;
      }
    }
    merged.append(line);
    merged += "\n";
  }
  if (protocol) merged += "*vornProtocol: \"" + std::string(protocol) + "\"\n";
  if (!WriteAll(out, merged.data(), merged.size())) {
    std::fprintf(stderr, "qadmin: Unable to write temporary file - %s\n", std::strerror(errno));
    return false;
  }
  return true;
}

void SendOptions(admin_t& a) {
  ipp_ptr answer = Ask(a, PrinterURI(a.printer), "/", "printer-type");
  int type = 0;
  if (ipp_attribute_t* t = answer ? ippFindAttribute(answer.get(), "printer-type", IPP_TAG_ENUM) : nullptr)
    type = t->values.empty() ? 0 : t->values[0].integer;
  const bool is_class = (type & 0x1) || (type & 0x10000);
  const char* what = is_class ? "add-class" : "add-printer";
  ipp_t* request = is_class ? NewFor(VORN_ADD_CLASS, ClassURI(a.printer)) : NewFor(VORN_ADD_PRINTER, PrinterURI(a.printer));
  vornEncodeOptions(request, a.options);

  std::string ppd = is_class ? std::string() : vornGetPPD(a.printer.c_str());
  if (ppd.empty()) {
    Admin(a, request, what);
    return;
  }
  temp_file_t merged;
  if (!merged.fd) {
    std::fprintf(stderr, "qadmin: Unable to create temporary file - %s\n", std::strerror(errno));
    ::unlink(ppd.c_str());
    ippDelete(request);
    Exit1();
  }
  bool ok = MergeIntoPPD(a, ppd, merged.fd.get());
  ::unlink(ppd.c_str());
  if (!ok) {
    ippDelete(request);
    Exit1();
  }
  Admin(a, request, what, merged.name.c_str());
}

void Usage() {
  std::printf(
      "Usage:\n\n"
      "    qadmin [-h server] -d destination\n"
      "    qadmin [-h server] -x destination\n"
      "    qadmin [-h server] -p printer [-c add-class] [-i interface] [-m model]\n"
      "                       [-r remove-class] [-v device] [-D description]\n"
      "                       [-P ppd-file] [-o name=value]\n"
      "                       [-u allow:user,user] [-u deny:user,user]\n\n");
}

// The value of the flag at argv[*i]; a missing one writes `expected` and
// ends the command.
const char* Value(int argc, char** argv, int* i, const char* expected) {
  const char* value = FlagValue(argc, argv, i);
  if (!value) {
    std::fprintf(stderr, "%s", expected);
    Exit1();
  }
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  admin_t a;
  bool named = false;  // a printer was named at some point
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (arg[0] != '-') {
      std::fprintf(stderr, "qadmin: Unknown argument '%s'!\n", arg);
      return 1;
    }
    switch (arg[1]) {
      case 'h':
        if (!SelectServer(argc, argv, &i, a.http)) {
          std::fprintf(stderr, "qadmin: Expected hostname after '-h' option!\n");
          return 1;
        }
        break;
      case 'E':
        if (a.printer.empty()) {
          RequireEncryption(a.http.get());
        } else {
          EnablePrinter(a);
        }
        break;
      case 'p':
        a.printer = Value(argc, argv, &i, "qadmin: Expected printer after '-p' option!\n");
        CheckPrinterName(a.printer.c_str());
        named = true;
        break;
      case 'd': {
        a.printer = Value(argc, argv, &i, "qadmin: Expected printer name after '-d' option!\n");
        CheckPrinterName(a.printer.c_str());
        Admin(a, NewFor(VORN_SET_DEFAULT, PrinterURI(a.printer)), "set-default");
        return 0;  // later arguments are not read
      }
      case 'x': {
        a.printer = Value(argc, argv, &i, "qadmin: Expected printer or class after '-x' option!\n");
        CheckPrinterName(a.printer.c_str());
        Admin(a, NewFor(VORN_DELETE_PRINTER, PrinterURI(a.printer)), "delete-printer");
        return 0;
      }
      case 'c': {
        NeedPrinter(a, "qadmin: Unable to add a printer to the class:\n");
        const char* cls = Value(argc, argv, &i, "qadmin: Expected class name after '-c' option!\n");
        CheckClassName(cls);
        AddToClass(a, cls);
        break;
      }
      case 'r': {
        NeedPrinter(a, "qadmin: Unable to remove a printer from the class:\n");
        const char* cls = Value(argc, argv, &i, "qadmin: Expected class after '-r' option!\n");
        CheckClassName(cls);
        RemoveFromClass(a, cls);
        break;
      }
      case 'i':
        NeedPrinter(a, "qadmin: Unable to set the interface script:\n");
        UploadFile(a, Value(argc, argv, &i, "qadmin: Expected interface after '-i' option!\n"));
        break;
      case 'P':
        NeedPrinter(a, "qadmin: Unable to set the PPD file:\n");
        UploadFile(a, Value(argc, argv, &i, "qadmin: Expected PPD after '-P' option!\n"));
        break;
      case 'm': {
        NeedPrinter(a, "qadmin: Unable to set the interface script or PPD file:\n");
        const char* model = Value(argc, argv, &i, "qadmin: Expected model after '-m' option!\n");
        ipp_t* request = NewFor(VORN_ADD_PRINTER, PrinterURI(a.printer));
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "ppd-name", "", model);
        Admin(a, request, "add-printer (set model)");
        break;
      }
      case 'v': {
        NeedPrinter(a, "qadmin: Unable to set the device URI:\n");
        std::string device = Value(argc, argv, &i, "qadmin: Expected device URI after '-v' option!\n");
        if (device.starts_with("/")) device = "file:" + device;
        SetAttribute(a, "add-printer (set device)", IPP_TAG_URI, "device-uri", device);
        break;
      }
      case 'D':
        NeedPrinter(a, "qadmin: Unable to set the printer description:\n");
        SetAttribute(a, "add-printer (set description)", IPP_TAG_TEXT, "printer-info",
                     Value(argc, argv, &i, "qadmin: Expected description after '-D' option!\n"));
        break;
      case 'L':
        NeedPrinter(a, "qadmin: Unable to set the printer location:\n");
        SetAttribute(a, "add-printer (set location)", IPP_TAG_TEXT, "printer-location",
                     Value(argc, argv, &i, "qadmin: Expected location after '-L' option!\n"));
        break;
      case 'I':
        // The list is not used; the next argument is taken whatever form
        // the flag has.
        if (i + 1 >= argc) {
          std::fprintf(stderr, "qadmin: Expected file type(s) after '-I' option!\n");
          return 1;
        }
        i++;
        std::fprintf(stderr, "qadmin: Warning - content type list ignored!\n");
        break;
      case 'o':
        vornParseOptions(Value(argc, argv, &i, "qadmin: Expected name=value after '-o' option!\n"), a.options);
        break;
      case 'u': {
        const char* value = Value(argc, argv, &i, "qadmin: Expected name=value after '-o' option!\n");
        if (vorn::istarts_with(value, "allow:")) {
          vornAddOption("requesting-user-name-allowed", value + 6, a.options);
        } else if (vorn::istarts_with(value, "deny:")) {
          vornAddOption("requesting-user-name-denied", value + 5, a.options);
        } else {
          std::fprintf(stderr, "qadmin: Unknown allow/deny option \"%s\"!\n", value);
          return 1;
        }
        break;
      }
      default:
        std::fprintf(stderr, "qadmin: Unknown option '%c'!\n", arg[1]);
        return 1;
    }
  }

  if (!a.options.empty()) {
    NeedPrinter(a, "qadmin: Unable to set the printer options:\n");
    SendOptions(a);
  }
  if (!named) Usage();
  return 0;
}
