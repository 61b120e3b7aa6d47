// qctl: the BSD style control program. Only "status" does anything here;
// the queues are controlled with accept, reject, enable and disable.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "command-common.h"
#include "vorn/request.h"
#include "vorn/strings.h"

namespace {

using namespace vorn::cmd;

// Whether `word` abbreviates `name` with at least `min` characters.
bool Abbreviates(std::string_view word, std::string_view name, size_t min) {
  return word.size() >= min && word.size() <= name.size() && name.substr(0, word.size()) == word;
}

// The printers of the status parameter: names separated by commas or white
// space, compared with case.
bool Listed(const char* list, std::string_view name) {
  if (!list) return true;
  std::string_view rest(list);
  while (!rest.empty()) {
    size_t end = rest.find_first_of(", \t\n\r\f\v");
    std::string_view entry = rest.substr(0, end);
    if (!entry.empty() && entry == name) return true;
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return false;
}

// The number of jobs the printer `name` holds.
int Entries(http_t* http, const std::string& name) {
  ipp_t* request = vornNewRequest(IPP_GET_JOBS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", "", PrinterURI(name));
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", "", "job-id");
  ipp_status_t status;
  ipp_ptr response = Send(http, request, "/jobs/", &status);
  int count = 0;
  if (!response) return count;
  for (ipp_attribute_t* a = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER); a;
       a = ippFindNextAttribute(response.get(), "job-id", IPP_TAG_INTEGER))
    count++;
  return count;
}

void ShowStatus(http_t* http, const char* list) {
  if (!http) return;
  ipp_t* request = vornNewRequest(VORN_GET_PRINTERS);
  const std::vector<const char*> requested = {"printer-name", "device-uri", "printer-state",
                                              "printer-is-accepting-jobs"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", "", requested);
  ipp_status_t status;
  ipp_ptr response = Send(http, request, "/printers/", &status);
  if (!response) return;
  for (const attr_group& p : Groups(response.get(), IPP_TAG_PRINTER)) {
    std::string name = p.text("printer-name", IPP_TAG_NAME);
    if (name.empty() || !Listed(list, name)) continue;
    std::string device = p.text("device-uri", IPP_TAG_URI, "file:/dev/null");
    int state = p.integer("printer-state", IPP_TAG_ENUM, IPP_PRINTER_IDLE);
    bool accepting = p.boolean("printer-is-accepting-jobs", true);
    int entries = state == IPP_PRINTER_PROCESSING ? Entries(http, name) : 0;
    std::string port = device.starts_with("file:") ? device.substr(5) : device.substr(0, device.find(':'));
    std::printf("%s:\n", name.c_str());
    std::printf("\tprinter is on device '%s' speed -1\n", port.c_str());
    std::printf("\tqueuing is %sabled\n", accepting ? "en" : "dis");
    std::printf("\tprinting is %sabled\n", state == IPP_PRINTER_STOPPED ? "dis" : "en");
    if (entries == 0)
      std::printf("\tno entries\n");
    else
      std::printf("\t%d entries\n", entries);
    std::printf("\tdaemon present\n");
  }
}

void ShowHelp(const char* topic) {
  if (!topic) {
    std::printf("Commands may be abbreviated.  Commands are:\n\nexit    help    quit    status  ?\n");
  } else if (Abbreviates(topic, "help", 1) || std::strcmp(topic, "?") == 0) {
    std::printf("help\t\tget help on commands\n");
  } else if (Abbreviates(topic, "status", 4)) {
    std::printf("status\t\tshow status of daemon and queue\n");
  } else {
    std::printf("?Invalid help command unknown\n");
  }
}

void RunCommand(http_t* http, const char* command, const char* parameter) {
  if (Abbreviates(command, "status", 4))
    ShowStatus(http, parameter);
  else if (Abbreviates(command, "help", 1) || std::strcmp(command, "?") == 0)
    ShowHelp(parameter);
  else
    std::printf("%s is not implemented by the VORN version of qctl.\n", command);
}

}  // namespace

int main(int argc, char** argv) {
  // A scheduler out of reach is not reported: the status shows nothing.
  vorn::http_ptr http = ConnectScheduler();
  if (argc > 1) {
    RunCommand(http.get(), argv[1], argc > 2 ? argv[2] : nullptr);
    return 0;
  }
  char line[1024];
  for (;;) {
    std::printf("qctl> ");
    std::fflush(stdout);
    if (!std::fgets(line, sizeof(line), stdin)) break;
    size_t len = std::strlen(line);
    if (len > 0 && line[len - 1] == '\n') line[--len] = '\0';
    char* command = line;
    while (vorn::isspace(*command)) command++;
    char* parameter = command;
    while (*parameter && !vorn::isspace(*parameter)) parameter++;
    if (*parameter) {
      *parameter++ = '\0';
      while (vorn::isspace(*parameter)) parameter++;
    }
    if (!*command) continue;
    if (Abbreviates(command, "quit", 1) || Abbreviates(command, "exit", 2)) break;
    RunCommand(http.get(), command, *parameter ? parameter : nullptr);
  }
  return 0;
}
