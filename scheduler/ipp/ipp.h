// IPP requests: the checks every request goes through, the one table of
// operations, and the routines every operation handler uses.
//
// A request arrives as the body of a POST of type "application/ipp"; the
// HTTP service has decoded it into con->ipp_request and spooled the document
// data that followed it into con->filename (possibly empty). The answer is
// always HTTP 200 with an IPP response; IPP errors are IPP status codes.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "vorn/ipp.h"

struct client_t;
struct job_t;
struct printer_t;
struct TypeRecord;

// An operation handler fills con->ipp_response from con->ipp_request and
// sets its status: on failure through send_ipp_error, on success by setting
// op_status itself (successful-ok is preset). `uri` is the request's target
// (printer-uri, else job-uri), nullptr for the operations that need none.
// Handlers never write to the socket.
using ipp_handler_t = void (*)(client_t* con, ipp_attribute_t* uri);

struct ipp_operation_t {
  ipp_op_t id;
  const char* name;       // for the log
  ipp_handler_t handler;  // nullptr: not served yet, answered 0x0501
};

// Every operation the scheduler knows, in id order. Operations whose
// handlers are not written yet have a null handler. Valid for the life of
// the process.
std::span<const ipp_operation_t> IPPOperations();

// Checks the request (version, attributes, group order, charset, language,
// target), applies RemoteRoot, dispatches it and starts the response: the
// HTTP header is written, the encoded response is left in con->ipp_response
// for WriteClient and the socket put in OutputSet. Returns false when the
// HTTP header could not be written (the caller closes the client).
bool ProcessIPPRequest(client_t* con);

// Sets the response's status to `status` and makes sure it carries
// "attributes-charset" and "attributes-natural-language".
void send_ipp_error(client_t* con, ipp_status_t status);

// Whether the requester of the client's request may act on something owned
// by `owner`: the same user (any case), "root", or a user who is a member
// of one of the SystemGroup groups or has one as primary group. The
// requester's name (authenticated user, else requesting-user-name, else
// "anonymous") is copied to `username` (at most `userlen` bytes, always
// terminated).
bool validate_user(client_t* con, const char* owner, char* username, int userlen);

// ---- Query operations (query-printers.cc) ----

// Appends to `to` a copy of every attribute of `from` that `requested` (the
// request's "requested-attributes", or null) asks for: all of them when
// `requested` is null or its first value is "all", else those whose name
// equals one of its values exactly (group names such as
// "printer-description" are not expanded). Separators are always copied.
// With `group` other than IPP_TAG_ZERO only attributes of that group are
// copied. Copies keep group, type and every value (collections deeply). A
// null `from` copies nothing. The one filter every query uses.
void copy_attrs(ipp_t* to, ipp_t* from, const ipp_attribute_t* requested, ipp_tag_t group);

// A listing's reply as encoded pieces (reply-pieces.cc): its own values are
// encoded into a buffer of the reply, cached attribute sets are shared.
// finish() hands the pieces to the response, after its own attributes.
class reply_pieces_t {
 public:
  reply_pieces_t();
  // Starts a new group (its tag; every group of a listing is opened so).
  void open_group(ipp_tag_t group);
  // Encodes one attribute / every attribute of `attrs` (no separators)
  // into the reply; false when one cannot be encoded.
  bool add(const ipp_attribute_t* a);
  bool add_all(const ipp_t* attrs);
  // The attributes of `enc` that pass `requested`, as copy_attrs filters.
  void add_encoded(const std::shared_ptr<const ipp_encoded_t>& enc, const ipp_attribute_t* requested);
  void finish(ipp_t* response);

 private:
  void own_piece(size_t start);
  void piece(const std::shared_ptr<const ipp_encoded_t>& enc, size_t offset, size_t length);
  std::shared_ptr<std::string> own_;
  std::vector<ipp_piece_t> pieces_;
};

// Get-Printer-Attributes: the destination's computed state values, its
// attribute set and the shared one through the filter; 0x0406 for an unknown
// destination.
void get_printer_attrs(client_t* con, ipp_attribute_t* uri);
// VORN-Get-Printers (`type` 0) and VORN-Get-Classes (`type` PRINTER_CLASS):
// the listed destinations in name order, one group each.
void get_printers(client_t* con, int type);
// The table's handlers for the two listings.
void get_printers_op(client_t* con, ipp_attribute_t* uri);
void get_classes_op(client_t* con, ipp_attribute_t* uri);
// VORN-Get-Default: the default destination's attribute set, or 0x0406.
void get_default(client_t* con, ipp_attribute_t* uri);

// ---- Job queries (query-jobs.cc) ----

// Get-Jobs: the jobs the target path selects ("/" or "/jobs": all,
// "/printers" or "/classes": by kind, else one destination), filtered by
// which-jobs, my-jobs and limit, one group each; 0x0406 for an unknown
// destination.
void get_jobs(client_t* con, ipp_attribute_t* uri);
// Get-Job-Attributes: a job named by job-uri "/jobs/ID" or printer-uri and
// job-id; 0x0400 for a malformed target, 0x0406 for an unknown job.
void get_job_attrs(client_t* con, ipp_attribute_t* uri);

// ---- Job operations (job-ops.cc, job-attrs-op.cc) ----

// Cancel-Job: the job, or with printer-uri and job-id 0 the destination's
// current job; 0x0404 for a finished one.
void cancel_job(client_t* con, ipp_attribute_t* uri);
// Hold-Job: holds an unfinished job until the request's job-hold-until
// ("indefinite" without one).
void hold_job(client_t* con, ipp_attribute_t* uri);
// Release-Job: a held job becomes pending ("no-hold").
void release_job(client_t* con, ipp_attribute_t* uri);
// Restart-Job: a finished job whose files are kept prints again.
void restart_job(client_t* con, ipp_attribute_t* uri);
// Set-Job-Attributes: new values for an unfinished job's attributes.
void set_job_attrs(client_t* con, ipp_attribute_t* uri);
// Purge-Jobs: every job of a destination (or of all, for "/printers/"),
// optionally of one user, cancelled or purged.
void cancel_all_jobs(client_t* con, ipp_attribute_t* uri);

// ---- Administration (admin-add.cc, admin-ops.cc) ----
// Each but move_job is posted to "/admin/" only.

// VORN-Add-Printer: a new printer or changes to one, with its PPD file
// (from the request's document or the model folder) or interface script.
void add_printer(client_t* con, ipp_attribute_t* uri);
// VORN-Add-Class: a new class or changes to one, with its members.
void add_class(client_t* con, ipp_attribute_t* uri);
// VORN-Delete-Printer and VORN-Delete-Class: the destination, its jobs and
// its driver files.
void delete_printer(client_t* con, ipp_attribute_t* uri);
// VORN-Set-Default.
void set_default(client_t* con, ipp_attribute_t* uri);
// VORN-Accept-Jobs / VORN-Reject-Jobs (also Enable-Printer / Disable-Printer).
void accept_jobs(client_t* con, ipp_attribute_t* uri);
void reject_jobs(client_t* con, ipp_attribute_t* uri);
// Resume-Printer / Pause-Printer.
void start_printer(client_t* con, ipp_attribute_t* uri);
void stop_printer(client_t* con, ipp_attribute_t* uri);
// VORN-Move-Job: a queued job to another destination; the owner or an
// administrator only.
void move_job(client_t* con, ipp_attribute_t* uri);

// The job id a request names: job-uri "/jobs/ID" (ID from 1), or
// printer-uri with "job-id" (0 there means the destination's current job).
// -1 after logging "CALLER: bad job-uri attribute '...'!" or "CALLER: got a
// printer-uri attribute but no job-id!" and answering 0x0400.
int job_target_id(client_t* con, ipp_attribute_t* uri, const char* caller);

// The job the request names (job_target_id) when it exists; otherwise null
// after logging "CALLER: job #N doesn't exist!" and answering 0x0406 (or
// the answer of job_target_id).
job_t* find_target_job(client_t* con, ipp_attribute_t* uri, const char* caller);

// Whether the requester may act on `job` (validate_user, the requester's
// name in `username`); otherwise logs "CALLER: \"USER\" not authorized to
// VERB job id N owned by \"OWNER\"!", answers 0x0401 and returns false.
bool check_job_owner(client_t* con, const job_t* job, const char* caller, const char* verb, char* username,
                     size_t size);

// Administrative operations are posted to "/admin/" only: otherwise logs
// "CALLER: admin request on bad resource '...'!", answers 0x0403 and
// returns false.
bool check_admin_resource(client_t* con, const char* caller);

// ---- Job submission (submit.cc, submit-docs.cc, submit-checks.cc) ----
//
// A successful Print-Job or Create-Job takes over the request's attribute
// list as the new job's attribute set (con->ipp_request keeps its header and
// is left without attributes) and moves the spooled document, if any, into
// the spool directory (con->filename is then empty). A refused request
// leaves no job and no file behind; the spooled document stays with the
// connection, which removes it once the response is out.

// Print-Job: one document in the request becomes a new job.
void print_job(client_t* con, ipp_attribute_t* uri);
// Create-Job: a new job without documents, held until its first document
// (at most a minute unless job-hold-until says otherwise).
void create_job(client_t* con, ipp_attribute_t* uri);
// Send-Document: one more document for a job made by Create-Job; the job
// owner (or an administrator) only.
void send_document(client_t* con, ipp_attribute_t* uri);
// Validate-Job: the checks of Print-Job that need no job.
void validate_job(client_t* con, ipp_attribute_t* uri);

// Whether the requester may queue one more job on `p`: the per-printer and
// per-user job limits, the printer's allow or deny list and its quotas.
bool check_quotas(client_t* con, printer_t* p);

// Appends one document entry (type owned by TypeDB, gzip flag) to the job
// and raises num_files. On failure the job is purged (`job` is invalid
// afterwards), 0x0500 answered, and false returned.
bool add_file(client_t* con, job_t* job, TypeRecord* filetype, int compressed);

// Reads the job ticket ("%vornJobTicket:" lines after a "%!PS-Adobe-" first
// line) of the spooled PostScript document into the request: each job
// attribute it sets replaces the request's attribute of that name.
void read_ps_job_ticket(client_t* con);

// The one "job-state-reasons" keyword of the job's state; `dest` is the
// job's destination (null when it has none).
const char* job_state_reason(const job_t* job, const printer_t* dest);
// The response's "job-state-reasons" (job group) for the job's state.
void add_job_state_reasons(client_t* con, job_t* job);

// Shared by the submission handlers.

// page-ranges must rise: the first lower bound at least 1, every later one
// above the previous upper bound, no upper bound below its lower bound.
// True when they do; otherwise false with the offending range in
// `*lower`/`*upper`. A null attribute is in order.
bool check_page_ranges(const ipp_attribute_t* ranges, int* lower, int* upper);

// Every attribute name of the request must be a keyword (lower-case
// letters, digits, "-", "_", "."): the names become the option string of
// filters and backends. Otherwise logs with `caller`, answers 0x0400 and
// returns false.
bool check_attribute_names(client_t* con, const char* caller);

// Checks "copies" and "page-ranges" of the request, logging with `caller`
// ("print_job", "create_job") and answering 0x0400; false when refused.
bool check_copies_and_ranges(client_t* con, const char* caller);

// Whether the request carried a document after its attributes.
bool has_document(const client_t* con);

// The type of the spooled document: the "compression" check, the spool file,
// "document-format" (auto-typing application/octet-stream). Messages start
// with `caller`. Null when refused (the error is answered); `*compressed`
// tells whether the document is gzip-compressed.
TypeRecord* check_document(client_t* con, const char* caller, int* compressed);

// The reply of a submission: "job-uri", "job-id", "job-state" (job group)
// and, with `reasons`, "job-state-reasons" of the job (which must exist).
void add_job_reply(client_t* con, job_t* job, bool reasons);

// The resource of the target URI ("/printers/NAME", "/jobs/7"); its host
// goes to `*host` when not null.
std::string target_resource(const ipp_attribute_t* uri, std::string* host);

// The port of the listener that accepted the connection, 0 when unknown.
int listener_port(const client_t* con);

// Moves the spooled document to the job's data file of document num_files.
// True on success (con->filename is then empty); false, logged, with the
// spooled file left in place.
bool move_document(client_t* con, job_t* job);

// When the job has two job-sheets values on a local destination: logs and
// adds the end banner, charging its kilobytes to the owner's quota.
void add_end_banner(client_t* con, job_t* job);
