// IPP request processing: the checks of the request envelope, the operation
// table and its dispatch, the start of the response; send_ipp_error and
// validate_user.
#include "scheduler/ipp/ipp.h"

#include <arpa/inet.h>
#include <cstring>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <string>

#include "scheduler/auth/address.h"
#include "scheduler/auth/auth.h"
#include "scheduler/auth/hosts.h"
#include "scheduler/printers/catalogue.h"
#include "scheduler/http/client.h"
#include "scheduler/conf/conf.h"
#include "scheduler/fdset.h"
#include "scheduler/log.h"
#include "vorn/strings.h"

namespace {

// The operations, in id order. A later handler is added by putting its
// function in place of the nullptr of its row; nothing else changes.
constexpr ipp_operation_t kOperations[] = {
    {IPP_PRINT_JOB, "Print-Job", print_job},
    {IPP_VALIDATE_JOB, "Validate-Job", validate_job},
    {IPP_CREATE_JOB, "Create-Job", create_job},
    {IPP_SEND_DOCUMENT, "Send-Document", send_document},
    {IPP_CANCEL_JOB, "Cancel-Job", cancel_job},
    {IPP_GET_JOB_ATTRIBUTES, "Get-Job-Attributes", get_job_attrs},
    {IPP_GET_JOBS, "Get-Jobs", get_jobs},
    {IPP_GET_PRINTER_ATTRIBUTES, "Get-Printer-Attributes", get_printer_attrs},
    {IPP_HOLD_JOB, "Hold-Job", hold_job},
    {IPP_RELEASE_JOB, "Release-Job", release_job},
    {IPP_RESTART_JOB, "Restart-Job", restart_job},
    {IPP_PAUSE_PRINTER, "Pause-Printer", stop_printer},
    {IPP_RESUME_PRINTER, "Resume-Printer", start_printer},
    {IPP_PURGE_JOBS, "Purge-Jobs", cancel_all_jobs},
    {IPP_SET_JOB_ATTRIBUTES, "Set-Job-Attributes", set_job_attrs},
    {IPP_ENABLE_PRINTER, "Enable-Printer", accept_jobs},
    {IPP_DISABLE_PRINTER, "Disable-Printer", reject_jobs},
    {VORN_GET_DEFAULT, "VORN-Get-Default", get_default},
    {VORN_GET_PRINTERS, "VORN-Get-Printers", get_printers_op},
    {VORN_ADD_PRINTER, "VORN-Add-Printer", add_printer},
    {VORN_DELETE_PRINTER, "VORN-Delete-Printer", delete_printer},
    {VORN_GET_CLASSES, "VORN-Get-Classes", get_classes_op},
    {VORN_ADD_CLASS, "VORN-Add-Class", add_class},
    {VORN_DELETE_CLASS, "VORN-Delete-Class", delete_printer},
    {VORN_ACCEPT_JOBS, "VORN-Accept-Jobs", accept_jobs},
    {VORN_REJECT_JOBS, "VORN-Reject-Jobs", reject_jobs},
    {VORN_SET_DEFAULT, "VORN-Set-Default", set_default},
    {VORN_GET_DEVICES, "VORN-Get-Devices", get_devices},
    {VORN_GET_PPDS, "VORN-Get-PPDs", get_ppds},
    {VORN_MOVE_JOB, "VORN-Move-Job", move_job},
};

// Operations that address the server, not a printer or job.
bool needs_no_target(int op) {
  return op == VORN_GET_DEFAULT || op == VORN_GET_PRINTERS || op == VORN_GET_CLASSES ||
         op == VORN_GET_DEVICES || op == VORN_GET_PPDS;
}

const ipp_operation_t* find_operation(int id) {
  for (const ipp_operation_t& op : kOperations)
    if (op.id == id) return &op;
  return nullptr;
}

// Unknown operations and those without a handler yet get the same answer.
void operation_not_supported(client_t* con, int id) {
  LogDiagnostic(L_DEBUG, "ProcessIPPRequest: %d operation %s is not supported", con->http.fd,
                ippOpString(ipp_op_t(id)));
  send_ipp_error(con, IPP_OPERATION_NOT_SUPPORTED);
}

// The first value of an attribute, as text; nullptr when it has none.
const std::string* first_text(const ipp_attribute_t* attr) {
  return attr && !attr->values.empty() ? &attr->values[0].string.text : nullptr;
}

// Logs every attribute of a refused request, for the administrator.
void log_attributes(const ipp_t* request) {
  LogDiagnostic(L_DEBUG, "Request attributes follow...");
  for (const ipp_attribute_t* a = request->attrs; a; a = a->next)
    LogDiagnostic(L_DEBUG, "attr \"%s\": group_tag = %x, value_tag = %x", a->name.empty() ? "(null)" : a->name.c_str(),
                  unsigned(a->group_tag), unsigned(a->value_tag));
  LogDiagnostic(L_DEBUG, "End of attributes...");
}

// Checks the request and runs its operation; the response's status says
// how it went.
void process(client_t* con) {
  ipp_t* request = con->ipp_request.get();
  ipp_t* response = con->ipp_response.get();
  int op = request->op_status;

  if (request->version[0] != 1) {
    LogDiagnostic(L_ERROR, "ProcessIPPRequest: bad request version (%d.%d)!", request->version[0],
                  request->version[1]);
    send_ipp_error(con, IPP_VERSION_NOT_SUPPORTED);
    return;
  }
  if (!request->attrs) {
    LogDiagnostic(L_ERROR, "ProcessIPPRequest: no attributes in request!");
    send_ipp_error(con, IPP_BAD_REQUEST);
    return;
  }
  int group = IPP_TAG_ZERO;
  for (const ipp_attribute_t* a = request->attrs; a; a = a->next) {
    // A separator only splits two groups with the same tag.
    if (a->group_tag == IPP_TAG_ZERO && a->value_tag == IPP_TAG_ZERO) continue;
    if (a->group_tag < group) {
      LogDiagnostic(L_ERROR, "ProcessIPPRequest: attribute groups are out of order!");
      send_ipp_error(con, IPP_BAD_REQUEST);
      return;
    }
    group = a->group_tag;
  }

  const ipp_attribute_t* first = request->attrs;
  const ipp_attribute_t* second = first->next;
  const std::string* charset =
      first->name == "attributes-charset" && first->value_tag == IPP_TAG_CHARSET ? first_text(first) : nullptr;
  const std::string* language = second && second->name == "attributes-natural-language" &&
                                        second->value_tag == IPP_TAG_LANGUAGE
                                    ? first_text(second)
                                    : nullptr;
  ipp_attribute_t* uri = ippFindAttribute(request, "printer-uri", IPP_TAG_URI);
  if (!uri) uri = ippFindAttribute(request, "job-uri", IPP_TAG_URI);

  ippAddString(response, IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", "",
               charset ? *charset : DefaultCharset);
  ippAddString(response, IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", "",
               language ? *language : DefaultLanguage);

  if (!charset || !language || (!uri && !needs_no_target(op))) {
    if (!charset) LogDiagnostic(L_ERROR, "ProcessIPPRequest: missing attributes-charset attribute!");
    if (!language) LogDiagnostic(L_ERROR, "ProcessIPPRequest: missing attributes-natural-language attribute!");
    if (!uri && !needs_no_target(op))
      LogDiagnostic(L_ERROR, "ProcessIPPRequest: missing printer-uri or job-uri attribute!");
    log_attributes(request);
    send_ipp_error(con, IPP_BAD_REQUEST);
    return;
  }

  // "root" on another host is not root here, in any spelling: only a peer
  // on this host, or one that proved to be root, keeps it.
  ipp_attribute_t* user = ippFindAttribute(request, "requesting-user-name", IPP_TAG_NAME);
  if (user && !user->values.empty() && vorn::iequals(user->values[0].string.text, "root") &&
      !IsLocalClient(con) && con->username != "root") {
    LogDiagnostic(L_DEBUG, "ProcessIPPRequest: %d requesting-user-name %s from %s is %s", con->http.fd,
                  user->values[0].string.text.c_str(), con->http.hostname, RemoteRoot.c_str());
    user->values[0].string.text = RemoteRoot;
  }

  const ipp_operation_t* entry = find_operation(op);
  if (!entry || !entry->handler) {
    operation_not_supported(con, op);
    return;
  }
  entry->handler(con, uri);
}

}  // namespace

std::span<const ipp_operation_t> IPPOperations() { return kOperations; }

void send_ipp_error(client_t* con, ipp_status_t status) {
  LogDiagnostic(L_DEBUG2, "send_ipp_error(%p[%d], %x)\n", static_cast<void*>(con), con->http.fd, unsigned(status));
  LogDiagnostic(L_DEBUG, "Sending error: %s", ippErrorString(status));
  ipp_t* response = con->ipp_response.get();
  if (!response) return;
  response->op_status = uint16_t(status);
  if (!ippFindAttribute(response, "attributes-charset", IPP_TAG_ZERO))
    ippAddString(response, IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", "", DefaultCharset);
  if (!ippFindAttribute(response, "attributes-natural-language", IPP_TAG_ZERO))
    ippAddString(response, IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language", "",
                 DefaultLanguage);
}

bool ProcessIPPRequest(client_t* con) {
  ipp_t* request = con->ipp_request.get();
  int fd = con->http.fd;
  LogDiagnostic(L_DEBUG2, "ProcessIPPRequest(%p[%d]): operation_id = %04x", static_cast<void*>(con), fd,
                request ? unsigned(request->op_status) : 0u);
  if (!request) return false;

  con->ipp_response.reset(ippNew());
  ipp_t* response = con->ipp_response.get();
  response->version[0] = request->version[0];
  response->version[1] = request->version[1];
  response->request_id = request->request_id;
  response->op_status = IPP_OK;

  process(con);

  size_t length = ippLength(response);
  if (length == 0) {
    // A handler built a response that cannot be encoded: answer plainly.
    LogDiagnostic(L_ERROR, "ProcessIPPRequest: %d response cannot be encoded", fd);
    con->ipp_response.reset(ippNew());
    response = con->ipp_response.get();
    response->version[0] = request->version[0];
    response->version[1] = request->version[1];
    response->request_id = request->request_id;
    send_ipp_error(con, IPP_INTERNAL_ERROR);
    length = ippLength(response);
  }
  LogDiagnostic(L_DEBUG, "ProcessIPPRequest: %d status_code=%x", fd, unsigned(response->op_status));

  std::string header = FormatHeader(con, HTTP_OK, "application/ipp");
  header += "Content-Length: " + std::to_string(length) + "\r\n\r\n";
  con->http.data_encoding = HTTP_ENCODE_LENGTH;
  con->http.data_remaining = int64_t(length);
  LogDiagnostic(L_DEBUG2, "ProcessIPPRequest: Adding fd %d to OutputSet...", fd);
  QueueOutput(con, header);
  return true;
}

bool validate_user(client_t* con, const char* owner, char* username, int userlen) {
  LogDiagnostic(L_DEBUG2, "validate_user(%p[%d], \"%s\", %p, %d)\n", static_cast<void*>(con),
                con ? con->http.fd : -1, owner ? owner : "(null)", static_cast<void*>(username), userlen);
  if (!con || !owner || !username || userlen <= 0) return false;

  std::string requester;
  const std::string* named =
      con->ipp_request ? first_text(ippFindAttribute(con->ipp_request.get(), "requesting-user-name", IPP_TAG_NAME))
                       : nullptr;
  if (!con->username.empty())
    requester = con->username;
  else if (named)
    requester = *named;
  else
    requester = "anonymous";
  vorn::strlcpy(username, requester, size_t(userlen));

  // Account names are case-sensitive: "ALICE" is not alice, "ROOT" not
  // root. A name the request merely states acts on its own things only;
  // acting on others' takes a verified administrator.
  if (requester == owner) return true;
  return !con->username.empty() &&
         IsAdministrator(con->username, con->md5_group.empty() ? nullptr : con->md5_group.c_str());
}
