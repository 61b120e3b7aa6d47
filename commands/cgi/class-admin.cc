#include "class-admin.h"

#include <algorithm>
#include <string>

#include "command-common.h"
#include "vorn/request.h"

namespace vorn::cgi {
namespace {

using vorn::cmd::attr_group;

const std::vector<std::string> kClassAttributes = {"printer-name", "printer-info", "printer-location",
                                                   "printer-state", "printer-is-accepting-jobs", "member-names",
                                                   "member-uris"};

const char* const kBadName =
    "A class name has letters, digits and punctuation other than / # ? % quotes, < > & and blanks, at most 127 "
    "of them.";

struct class_op_t {
  const char* name;
  ipp_op_t op;
  const char* done;
};
constexpr class_op_t kClassOps[] = {{"start-class", IPP_RESUME_PRINTER, "started"},
                                    {"stop-class", IPP_PAUSE_PRINTER, "stopped"},
                                    {"accept-class", VORN_ACCEPT_JOBS, "now accepts jobs"},
                                    {"reject-class", VORN_REJECT_JOBS, "now rejects jobs"},
                                    {"delete-class", VORN_DELETE_CLASS, "deleted"},
                                    {"add-class", VORN_ADD_CLASS, "saved"}};

const class_op_t* FindOp(std::string_view name) {
  for (const class_op_t& o : kClassOps)
    if (name == o.name) return &o;
  return nullptr;
}

std::vector<std::string> Values(const attr_group& g, const char* name, ipp_tag_t type) {
  std::vector<std::string> out;
  if (const ipp_attribute_t* a = g.find(name, type))
    for (const ipp_value_t& v : a->values) out.push_back(v.string.text);
  return out;
}

std::vector<std::string> PrinterNames(session_t& session) {
  ipp_t* request = vornNewRequest(VORN_GET_PRINTERS);
  AddRequested(request, {"printer-name"});
  std::string error;
  ipp_ptr response = session.Do(request, "/", error);
  std::vector<std::string> names;
  for (const attr_group& p : vorn::cmd::Groups(response.get(), IPP_TAG_PRINTER))
    names.push_back(p.text("printer-name", IPP_TAG_NAME));
  return names;
}

bool Contains(const std::vector<std::string>& list, const std::string& name) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

void Checkbox(page_t& page, const char* field, const std::string& name, bool checked) {
  page.raw("<label class=\"member\"><input type=\"checkbox\" name=\"").raw(field).raw("\" value=\"").text(name);
  page.raw(checked ? "\" checked> " : "\"> ").text(name).raw("</label>\n");
}

// The add/change form. `current` holds the class when it is changed, null
// for a new one. Members of a class that are classes themselves are kept
// as checkboxes of their own, so that saving does not drop them.
void ClassForm(page_t& page, const std::vector<std::string>& printers, const attr_group* current) {
  const std::string name = current ? current->text("printer-name", IPP_TAG_NAME) : "";
  const std::vector<std::string> members = current ? Values(*current, "member-names", IPP_TAG_NAME)
                                                   : std::vector<std::string>();
  const std::vector<std::string> uris = current ? Values(*current, "member-uris", IPP_TAG_URI)
                                                : std::vector<std::string>();
  page.raw(current ? "<h2>Change class</h2>\n" : "<h2 id=\"classes-add\">Add a class</h2>\n");
  page.raw("<form id=\"class-form\" method=\"post\" action=\"/admin\">\n"
           "<input type=\"hidden\" name=\"op\" value=\"add-class\">\n");
  TokenField(page);
  DestNameField(page, "class_name", "Class", name, current != nullptr);
  auto input = [&](const char* label, const char* field, const char* attribute) {
    page.raw("<label>").raw(label).raw(" <input type=\"text\" name=\"").raw(field).raw("\" value=\"");
    page.text(current ? current->text(attribute, IPP_TAG_TEXT) : "").raw("\" maxlength=\"127\"></label>\n");
  };
  input("Description", "class_info", "printer-info");
  input("Location", "class_location", "printer-location");
  page.raw("<fieldset><legend>Members</legend>\n");
  if (printers.empty()) page.raw("<p>No printers.</p>\n");
  for (const std::string& p : printers)
    if (IsValidName(p)) Checkbox(page, "member", p, Contains(members, p));
  for (size_t i = 0; i < members.size(); i++) {
    const bool is_class = i < uris.size() && uris[i].find("/classes/") != std::string::npos;
    if (is_class && IsValidName(members[i])) Checkbox(page, "member_class", members[i], true);
  }
  page.raw("</fieldset>\n<button type=\"submit\">").raw(current ? "Change class" : "Add class");
  page.raw("</button>\n</form>\n");
}

// Makes or changes class `name` with the members the form checked.
bool AddClass(session_t& session, const form_t& form, const std::string& name, std::string& error) {
  std::vector<std::string> uris, names;
  for (const char* field : {"member", "member_class"}) {
    const bool is_class = std::string_view(field) == "member_class";
    for (const std::string& m : form.all(field)) {
      if (!IsValidName(m)) {
        error = "No printer or class can be called \"" + m + "\".";
        return false;
      }
      if (Contains(names, m)) continue;  // named twice
      names.push_back(m);
      uris.push_back((is_class ? "ipp://localhost/classes/" : "ipp://localhost/printers/") + m);
    }
  }
  if (uris.empty()) {
    error = "Choose at least one member.";
    return false;
  }
  ipp_t* request = NewPrinterRequest(VORN_ADD_CLASS, name, true);
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-info", "", form.get("class_info"));
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-location", "", form.get("class_location"));
  if (form.get("new") == "1") {
    // A new class starts accepting and idle.
    ippAddBoolean(request, IPP_TAG_PRINTER, "printer-is-accepting-jobs", true);
    ippAddInteger(request, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-state", IPP_PRINTER_IDLE);
  }
  ippAddStrings(request, IPP_TAG_PRINTER, IPP_TAG_URI, "member-uris", "", uris);
  if (session.Do(request, "/admin/", error)) return true;
  // Say which members were asked for: the scheduler refuses the whole list
  // when it does not know one of them.
  std::string list;
  for (const std::string& m : names) list += (list.empty() ? "" : ", ") + m;
  error = "members " + list + ": " + error;
  return false;
}

}  // namespace

void ClassSection(page_t& page, session_t& session, const std::vector<std::string>& printers) {
  page.raw("<h2 id=\"classes\">Classes</h2>\n");
  ipp_t* request = vornNewRequest(VORN_GET_CLASSES);
  AddRequested(request, kClassAttributes);
  std::string error;
  ipp_ptr classes = session.Do(request, "/", error);
  std::vector<attr_group> list = vorn::cmd::Groups(classes.get(), IPP_TAG_PRINTER);
  if (!classes && session.status != IPP_NOT_FOUND) {
    Notice(page, error, true);
  } else if (list.empty()) {
    page.raw("<p>No classes.</p>\n");
  } else {
    page.raw("<div class=\"scroll\"><table class=\"admin\" id=\"class-table\">\n"
             "<tr><th>Class</th><th>Members</th><th>State</th><th>Actions</th></tr>\n");
    for (const attr_group& c : list) {
      const std::string name = c.text("printer-name", IPP_TAG_NAME);
      const bool stopped = c.integer("printer-state", IPP_TAG_ENUM, 0) == IPP_PRINTER_STOPPED;
      const bool accepting = c.boolean("printer-is-accepting-jobs", false);
      std::string members;
      for (const std::string& m : Values(c, "member-names", IPP_TAG_NAME)) members += (members.empty() ? "" : ", ") + m;
      page.raw("<tr id=\"class-").text(UrlEncode(name)).raw("\"><td>").text(name);
      page.raw("<br><small>").text(c.text("printer-info", IPP_TAG_TEXT)).raw("</small></td><td class=\"members\">");
      page.text(members).raw("</td><td>").text(PrinterStateText(c.integer("printer-state", IPP_TAG_ENUM, 0)));
      page.raw(accepting ? ", accepting" : ", rejecting").raw("</td><td>");
      if (IsValidName(name)) {
        ActionButton(page, "class_name", name, stopped ? "start-class" : "stop-class", stopped ? "Start" : "Stop");
        ActionButton(page, "class_name", name, accepting ? "reject-class" : "accept-class",
                     accepting ? "Reject jobs" : "Accept jobs");
        ActionButton(page, "class_name", name, "delete-class", "Delete");
        page.raw("<a href=\"/admin?op=modify-class&amp;class_name=").text(UrlEncode(name)).raw("\">Change</a>");
      }
      page.raw("</td></tr>\n");
    }
    page.raw("</table></div>\n");
  }
  ClassForm(page, printers, nullptr);
}

int ClassFormPage(session_t& session, const form_t& form) {
  page_t page;
  PageHead(page, "Administration");
  const std::string name = form.get("class_name");
  std::string error;
  ipp_t* request = IsValidName(name) ? NewPrinterRequest(IPP_GET_PRINTER_ATTRIBUTES, name, true) : nullptr;
  if (request) AddRequested(request, kClassAttributes);
  ipp_ptr response = request ? session.Do(request, "/", error) : nullptr;
  std::vector<attr_group> groups = vorn::cmd::Groups(response.get(), IPP_TAG_PRINTER);
  if (groups.empty())
    Notice(page, request && !response && session.status != IPP_NOT_FOUND ? error : "No such class.", true);
  else
    ClassForm(page, PrinterNames(session), &groups.front());
  page.raw("<p><a href=\"/admin\">Back to the administration</a></p>\n");
  PageFoot(page);
  return Send(page);
}

bool IsClassOp(std::string_view op) { return FindOp(op) != nullptr; }

void ChangeClass(session_t& session, const form_t& form, page_t& page) {
  const class_op_t* op = FindOp(form.get("op"));
  const std::string name = form.get("class_name");
  std::string error;
  if (!op) {
    Notice(page, "Unknown operation.", true);
  } else if (!IsValidName(name)) {
    Notice(page, kBadName, true);
  } else if (op->op == VORN_DELETE_CLASS && form.get("confirm") != "yes") {
    ConfirmDelete(page, "class", "delete-class", "class_name", name);
  } else {
    const bool ok = op->op == VORN_ADD_CLASS ? AddClass(session, form, name, error)
                                             : bool(session.Do(NewPrinterRequest(op->op, name, true), "/admin/", error));
    if (ok)
      Notice(page, "Class " + name + " " + op->done + ".", false);
    else
      Notice(page, "Class " + name + ": " + error, true);
  }
}

}  // namespace vorn::cgi
