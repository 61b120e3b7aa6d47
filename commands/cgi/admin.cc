// admin.cgi: printer and class administration. GET shows the printers with
// their controls and the form to add one (?op=modify-printer&printer_name=X
// fills it with a printer's settings), then the classes (class-admin.h);
// every change is a POST: add-printer (new or changed, with a model from
// the driver catalogue or an uploaded PPD file), start-printer,
// stop-printer, accept-jobs, reject-jobs, set-as-default and delete-printer
// (which asks once more first), and the class posts.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "cgi-common.h"
#include "class-admin.h"
#include "command-common.h"
#include "vorn/fd.h"
#include "vorn/file.h"
#include "vorn/request.h"

namespace {

using namespace vorn::cgi;
using vorn::cmd::attr_group;

const std::vector<std::string> kPrinterAttributes = {
    "printer-name", "printer-info", "printer-location", "printer-state", "printer-state-message",
    "printer-is-accepting-jobs", "device-uri", "printer-make-and-model"};

// The add/modify form. `current` holds the printer's settings when it is
// changed, null for a new one.
void PrinterForm(page_t& page, session_t& session, const attr_group* current) {
  const std::string name = current ? current->text("printer-name", IPP_TAG_NAME) : "";
  page.raw(current ? "<h2>Change printer</h2>\n" : "<h2>Add a printer</h2>\n");
  page.raw("<form id=\"printer-form\" method=\"post\" action=\"/admin\" enctype=\"multipart/form-data\">\n"
           "<input type=\"hidden\" name=\"op\" value=\"add-printer\">\n");
  TokenField(page);
  DestNameField(page, "printer_name", "Printer", name, current != nullptr);
  auto input = [&](const char* label, const char* field, const std::string& value, const char* extra) {
    page.raw("<label>").raw(label).raw(" <input type=\"text\" name=\"").raw(field).raw("\" value=\"").text(value);
    page.raw("\"").raw(extra).raw("></label>\n");
  };
  input("Description", "printer_info", current ? current->text("printer-info", IPP_TAG_TEXT) : "", " maxlength=\"127\"");
  input("Location", "printer_location", current ? current->text("printer-location", IPP_TAG_TEXT) : "",
        " maxlength=\"127\"");
  input("Device URI", "device_uri", current ? current->text("device-uri", IPP_TAG_URI) : "",
        " list=\"devices\" maxlength=\"1023\"");

  std::string error;
  ipp_t* request = vornNewRequest(VORN_GET_DEVICES);
  AddRequested(request, {"device-uri", "device-info"});
  page.raw("<datalist id=\"devices\">");
  if (ipp_ptr devices = session.Do(request, "/", error))
    for (const attr_group& d : vorn::cmd::Groups(devices.get(), IPP_TAG_PRINTER))
      page.raw("<option value=\"").text(d.text("device-uri", IPP_TAG_URI)).raw("\">").text(d.text("device-info", IPP_TAG_TEXT)).raw("</option>");
  page.raw("</datalist>\n");

  // The models of the driver catalogue; while it lists none, the model's
  // file name below the model directory can still be typed in.
  request = vornNewRequest(VORN_GET_PPDS);
  AddRequested(request, {"ppd-name", "ppd-make-and-model"});
  ipp_ptr ppds = session.Do(request, "/", error);
  std::vector<attr_group> models = vorn::cmd::Groups(ppds.get(), IPP_TAG_PRINTER);
  if (models.empty()) {
    page.raw("<label>Model file in the model directory <input type=\"text\" name=\"ppd_name\" maxlength=\"255\"");
    page.raw(current ? " placeholder=\"(keep the current model)\"" : "").raw("></label>\n");
  } else {
    page.raw("<label>Model <select name=\"ppd_name\">");
    page.raw(current ? "<option value=\"\">(keep the current model: " : "<option value=\"\">(none");
    if (current) page.text(current->text("printer-make-and-model", IPP_TAG_TEXT));
    page.raw(")</option>");
    for (const attr_group& p : models)
      page.raw("<option value=\"").text(p.text("ppd-name", IPP_TAG_NAME)).raw("\">")
          .text(p.text("ppd-make-and-model", IPP_TAG_TEXT)).raw("</option>");
    page.raw("</select></label>\n");
  }
  page.raw("<label>or a PPD file <input type=\"file\" name=\"ppd_file\" "
           "accept=\".ppd,.ppd.gz\"></label>\n<button type=\"submit\">")
      .raw(current ? "Change printer" : "Add printer")
      .raw("</button>\n</form>\n");
}

int Overview(session_t& session, const form_t& form) {
  if (form.get("op") == "modify-class") return ClassFormPage(session, form);
  page_t page;
  std::string error;
  if (form.get("op") == "modify-printer") {
    const std::string name = form.get("printer_name");
    PageHead(page, "Administration");
    ipp_t* request = IsValidName(name) ? NewPrinterRequest(IPP_GET_PRINTER_ATTRIBUTES, name, false) : nullptr;
    if (request) AddRequested(request, kPrinterAttributes);
    ipp_ptr response = request ? session.Do(request, "/", error) : nullptr;
    std::vector<attr_group> groups = vorn::cmd::Groups(response.get(), IPP_TAG_PRINTER);
    if (groups.empty())
      Notice(page, request && !response ? error : "No such printer.", true);
    else
      PrinterForm(page, session, &groups.front());
    page.raw("<p><a href=\"/admin\">Back to the administration</a></p>\n");
    PageFoot(page);
    return Send(page);
  }

  PageHead(page, "Administration");
  ipp_t* request = vornNewRequest(VORN_GET_PRINTERS);
  AddRequested(request, kPrinterAttributes);
  ipp_ptr printers = session.Do(request, "/", error);
  std::string default_name;
  ipp_t* def = vornNewRequest(VORN_GET_DEFAULT);
  AddRequested(def, {"printer-name"});
  std::string ignored;
  if (ipp_ptr d = session.Do(def, "/", ignored))
    if (const ipp_attribute_t* a = ippFindAttribute(d.get(), "printer-name", IPP_TAG_NAME); a && !a->values.empty())
      default_name = a->values[0].string.text;
  std::vector<std::string> names;
  if (!printers) {
    Notice(page, error, true);
  } else {
    std::vector<attr_group> list = vorn::cmd::Groups(printers.get(), IPP_TAG_PRINTER);
    if (list.empty()) page.raw("<p>No printers.</p>\n");
    if (!list.empty())
      page.raw("<div class=\"scroll\"><table class=\"admin\">\n<tr><th>Printer</th><th>State</th><th>Actions</th></tr>\n");
    for (const attr_group& p : list) {
      const std::string name = p.text("printer-name", IPP_TAG_NAME);
      names.push_back(name);
      const bool stopped = p.integer("printer-state", IPP_TAG_ENUM, 0) == IPP_PRINTER_STOPPED;
      const bool accepting = p.boolean("printer-is-accepting-jobs", false);
      page.raw("<tr><td>").text(name);
      if (name == default_name) page.raw(" (default)");
      page.raw("<br><small>").text(p.text("printer-info", IPP_TAG_TEXT)).raw("</small></td><td>");
      page.text(PrinterStateText(p.integer("printer-state", IPP_TAG_ENUM, 0)));
      page.raw(accepting ? ", accepting" : ", rejecting").raw("</td><td>");
      if (IsValidName(name)) {
        ActionButton(page, "printer_name", name, stopped ? "start-printer" : "stop-printer", stopped ? "Start" : "Stop");
        ActionButton(page, "printer_name", name, accepting ? "reject-jobs" : "accept-jobs", accepting ? "Reject jobs" : "Accept jobs");
        if (name != default_name) ActionButton(page, "printer_name", name, "set-as-default", "Set as default");
        ActionButton(page, "printer_name", name, "delete-printer", "Delete");
        page.raw("<a href=\"/admin?op=modify-printer&amp;printer_name=").text(UrlEncode(name)).raw("\">Change</a>");
      }
      page.raw("</td></tr>\n");
    }
    if (!list.empty()) page.raw("</table></div>\n");
  }
  PrinterForm(page, session, nullptr);
  ClassSection(page, session, names);
  PageFoot(page);
  return Send(page);
}

// The uploaded PPD file written to a temporary file for the request; ""
// when there is none or it cannot be written.
std::string WriteUpload(const upload_t& upload, std::string& error) {
  std::string filename;
  vorn::unique_fd fd(vornTempFd(filename));
  if (!fd) {
    error = "Unable to store the uploaded file.";
    return "";
  }
  size_t done = 0;
  while (done < upload.content.size()) {
    ssize_t n = ::write(fd.get(), upload.content.data() + done, upload.content.size() - done);
    if (n <= 0) {
      ::unlink(filename.c_str());
      error = "Unable to store the uploaded file.";
      return "";
    }
    done += size_t(n);
  }
  return filename;
}

bool AddPrinter(session_t& session, const form_t& form, const std::string& name, std::string& error) {
  ipp_t* request = NewPrinterRequest(VORN_ADD_PRINTER, name, false);
  const bool is_new = form.get("new") == "1";
  // Operation attributes come before the printer's.
  if (const std::string ppd = form.get("ppd_name"); !ppd.empty())
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "ppd-name", "", ppd);
  // A new printer starts accepting and idle.
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-info", "", form.get("printer_info"));
  ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-location", "", form.get("printer_location"));
  if (const std::string uri = form.get("device_uri"); !uri.empty())
    ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_URI, "device-uri", "", uri);
  if (is_new) {
    ippAddBoolean(request, IPP_TAG_PRINTER, "printer-is-accepting-jobs", true);
    ippAddInteger(request, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-state", IPP_PRINTER_IDLE);
  }
  std::string file;
  if (const upload_t* u = form.upload("ppd_file"); u && !u->content.empty()) {
    // The scheduler installs any other document as an interface script, a
    // program; this form offers PPD files only (plain or gzip-compressed).
    if (!u->content.starts_with("*PPD-Adobe:") && !u->content.starts_with("\x1f\x8b")) {
      error = "The uploaded file is not a PPD file.";
      ippDelete(request);
      return false;
    }
    file = WriteUpload(*u, error);
    if (file.empty()) {
      ippDelete(request);
      return false;
    }
  }
  ipp_ptr response = session.Do(request, "/admin/", error, file.empty() ? nullptr : file.c_str());
  if (!file.empty()) ::unlink(file.c_str());
  return bool(response);
}

int Change(session_t& session, const form_t& form) {
  struct op_t {
    const char* name;
    ipp_op_t op;
    const char* done;
  };
  static const op_t kOps[] = {{"start-printer", IPP_RESUME_PRINTER, "started"},
                              {"stop-printer", IPP_PAUSE_PRINTER, "stopped"},
                              {"accept-jobs", VORN_ACCEPT_JOBS, "now accepts jobs"},
                              {"reject-jobs", VORN_REJECT_JOBS, "now rejects jobs"},
                              {"set-as-default", VORN_SET_DEFAULT, "is the default destination"},
                              {"delete-printer", VORN_DELETE_PRINTER, "deleted"},
                              {"add-printer", VORN_ADD_PRINTER, "saved"}};
  const std::string op_name = form.get("op");
  const std::string name = form.get("printer_name");
  const op_t* op = nullptr;
  for (const op_t& o : kOps)
    if (op_name == o.name) op = &o;
  page_t page;
  PageHead(page, "Administration");
  std::string error;
  if (!CheckFormToken(form)) {
    Notice(page, kStaleForm, true);
  } else if (IsClassOp(op_name)) {
    ChangeClass(session, form, page);
  } else if (!op) {
    Notice(page, "Unknown operation.", true);
  } else if (!IsValidName(name)) {
    Notice(page, "A printer name has letters, digits and punctuation other than / # ? % quotes and blanks, "
                 "at most 127 of them.", true);
  } else if (op->op == VORN_DELETE_PRINTER && form.get("confirm") != "yes") {
    ConfirmDelete(page, "printer", "delete-printer", "printer_name", name);
  } else {
    bool ok = op->op == VORN_ADD_PRINTER
                  ? AddPrinter(session, form, name, error)
                  : bool(session.Do(NewPrinterRequest(op->op, name, false), "/admin/", error));
    if (ok)
      Notice(page, "Printer " + name + " " + op->done + ".", false);
    else
      Notice(page, "Printer " + name + ": " + error, true);
  }
  page.raw("<p><a href=\"/admin\">Back to the administration</a></p>\n");
  PageFoot(page);
  return Send(page);
}

}  // namespace

int main() { return vorn::cgi::ServeForm("Administration", Overview, Change); }
