#include "dest-pages.h"

#include <string>

#include "cgi-common.h"
#include "command-common.h"
#include "job-table.h"
#include "vorn/request.h"

namespace vorn::cgi {
namespace {

using vorn::cmd::attr_group;

const std::vector<std::string> kDestAttributes = {
    "printer-name",          "printer-info",  "printer-location", "printer-state", "printer-state-message",
    "printer-is-accepting-jobs", "printer-make-and-model", "device-uri", "queued-job-count", "member-names",
    "printer-type"};

const char* Folder(bool is_class) { return is_class ? "classes" : "printers"; }

void StateCells(page_t& page, const attr_group& d) {
  page.raw("<td class=\"state\">").text(PrinterStateText(d.integer("printer-state", IPP_TAG_ENUM, 0)));
  const std::string message = d.text("printer-state-message", IPP_TAG_TEXT);
  if (!message.empty()) page.raw("<br><small>").text(message).raw("</small>");
  page.raw("</td><td>").raw(d.boolean("printer-is-accepting-jobs", false) ? "yes" : "no").raw("</td>");
}

int ListPage(session_t& session, bool is_class) {
  page_t page;
  PageHead(page, is_class ? "Classes" : "Printers");
  ipp_t* request = vornNewRequest(is_class ? VORN_GET_CLASSES : VORN_GET_PRINTERS);
  AddRequested(request, kDestAttributes);
  std::string error;
  ipp_ptr response = session.Do(request, "/", error);
  if (!response) {
    Notice(page, error, true);
    PageFoot(page);
    return Send(page) ? 1 : 0;
  }
  std::vector<attr_group> dests = vorn::cmd::Groups(response.get(), IPP_TAG_PRINTER);
  if (dests.empty()) {
    page.raw(is_class ? "<p>No classes.</p>\n" : "<p>No printers.</p>\n");
  } else {
    page.raw("<div class=\"scroll\"><table class=\"dests\">\n<tr><th>Name</th><th>Description</th><th>Location</th>"
             "<th>State</th><th>Accepting</th><th>Queued jobs</th></tr>\n");
    for (const attr_group& d : dests) {
      const std::string name = d.text("printer-name", IPP_TAG_NAME);
      page.raw("<tr><td>");
      if (IsValidName(name))
        page.raw("<a href=\"/").raw(Folder(is_class)).raw("/").text(UrlEncode(name)).raw("\">").text(name).raw("</a>");
      else
        page.text(name);
      page.raw("</td><td>").text(d.text("printer-info", IPP_TAG_TEXT));
      page.raw("</td><td>").text(d.text("printer-location", IPP_TAG_TEXT)).raw("</td>");
      StateCells(page, d);
      page.raw("<td>").text(std::to_string(d.integer("queued-job-count", IPP_TAG_INTEGER, 0))).raw("</td></tr>\n");
    }
    page.raw("</table></div>\n");
  }
  page.raw(is_class ? "<p><a href=\"/admin#classes\">Add or change classes</a></p>\n"
                    : "<p><a href=\"/admin\">Add or change printers</a></p>\n");
  PageFoot(page);
  return Send(page);
}

int DestPage(session_t& session, const std::string& name, bool is_class) {
  page_t page;
  PageHead(page, name);
  if (!IsValidName(name)) {
    Notice(page, "No such destination.", true);
    PageFoot(page);
    return Send(page);
  }
  ipp_t* request = NewPrinterRequest(IPP_GET_PRINTER_ATTRIBUTES, name, is_class);
  AddRequested(request, kDestAttributes);
  std::string error;
  ipp_ptr response = session.Do(request, "/", error);
  std::vector<attr_group> groups = vorn::cmd::Groups(response.get(), IPP_TAG_PRINTER);
  if (!response || groups.empty()) {
    Notice(page, response || session.status == IPP_NOT_FOUND ? "No such destination." : error, true);
    PageFoot(page);
    return Send(page);
  }
  const attr_group& d = groups.front();
  page.raw("<div class=\"scroll\"><table class=\"dest\">\n");
  auto row = [&](const char* label, const std::string& value) {
    page.raw("<tr><th>").raw(label).raw("</th><td>").text(value).raw("</td></tr>\n");
  };
  row("Description", d.text("printer-info", IPP_TAG_TEXT));
  row("Location", d.text("printer-location", IPP_TAG_TEXT));
  if (is_class) {
    std::string members;
    if (const ipp_attribute_t* m = d.find("member-names", IPP_TAG_NAME))
      for (const ipp_value_t& v : m->values) members += (members.empty() ? "" : ", ") + v.string.text;
    row("Members", members);
  } else {
    row("Model", d.text("printer-make-and-model", IPP_TAG_TEXT));
    row("Device", d.text("device-uri", IPP_TAG_URI));
  }
  page.raw("<tr><th>State</th>");
  StateCells(page, d);
  page.raw("</tr>\n");
  row("Queued jobs", std::to_string(d.integer("queued-job-count", IPP_TAG_INTEGER, 0)));
  page.raw("</table></div>\n<p><a href=\"/admin?op=");
  page.raw(is_class ? "modify-class&amp;class_name=" : "modify-printer&amp;printer_name=").text(UrlEncode(name));
  page.raw(is_class ? "\">Change this class</a></p>\n" : "\">Change this printer</a></p>\n");
  page.raw("<h2>Jobs</h2>\n");
  const std::string uri = std::string("ipp://localhost/") + Folder(is_class) + "/" + name;
  ipp_ptr jobs = GetJobs(session, uri, is_class ? "/classes/" : "/printers/", false, error);
  if (jobs)
    JobTable(page, jobs.get());
  else
    Notice(page, error, true);
  PageFoot(page);
  return Send(page);
}

}  // namespace

int DestMain(int argc, char** argv, bool is_class) {
  session_t session;
  const std::string name = RequestedName(argc, argv, is_class ? "classes.cgi" : "printers.cgi");
  return name.empty() ? ListPage(session, is_class) : DestPage(session, name, is_class);
}

}  // namespace vorn::cgi
