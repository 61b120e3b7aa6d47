// Names of status codes, operations and tags, for logs and messages.
#include <cstdio>

#include "vorn/ipp.h"

namespace {

struct name_t {
  int code;
  const char* text;
};

const name_t kStatus[] = {
    {IPP_OK, "successful-ok"},
    {IPP_OK_SUBST, "successful-ok-ignored-or-substituted-attributes"},
    {IPP_OK_CONFLICT, "successful-ok-conflicting-attributes"},
    {IPP_BAD_REQUEST, "client-error-bad-request"},
    {IPP_FORBIDDEN, "client-error-forbidden"},
    {IPP_NOT_AUTHENTICATED, "client-error-not-authenticated"},
    {IPP_NOT_AUTHORIZED, "client-error-not-authorized"},
    {IPP_NOT_POSSIBLE, "client-error-not-possible"},
    {IPP_TIMEOUT, "client-error-timeout"},
    {IPP_NOT_FOUND, "client-error-not-found"},
    {IPP_GONE, "client-error-gone"},
    {IPP_REQUEST_ENTITY_TOO_LARGE, "client-error-request-entity-too-large"},
    {IPP_REQUEST_VALUE_TOO_LONG, "client-error-request-value-too-long"},
    {IPP_DOCUMENT_FORMAT_NOT_SUPPORTED, "client-error-document-format-not-supported"},
    {IPP_ATTRIBUTES_NOT_SUPPORTED, "client-error-attributes-or-values-not-supported"},
    {IPP_URI_SCHEME_NOT_SUPPORTED, "client-error-uri-scheme-not-supported"},
    {IPP_CHARSET_NOT_SUPPORTED, "client-error-charset-not-supported"},
    {IPP_CONFLICTING_ATTRIBUTES, "client-error-conflicting-attributes"},
    {IPP_COMPRESSION_NOT_SUPPORTED, "client-error-compression-not-supported"},
    {IPP_COMPRESSION_ERROR, "client-error-compression-error"},
    {IPP_DOCUMENT_FORMAT_ERROR, "client-error-document-format-error"},
    {IPP_DOCUMENT_ACCESS_ERROR, "client-error-document-access-error"},
    {IPP_ATTRIBUTES_NOT_SETTABLE, "client-error-attributes-not-settable"},
    {IPP_INTERNAL_ERROR, "server-error-internal-error"},
    {IPP_OPERATION_NOT_SUPPORTED, "server-error-operation-not-supported"},
    {IPP_SERVICE_UNAVAILABLE, "server-error-service-unavailable"},
    {IPP_VERSION_NOT_SUPPORTED, "server-error-version-not-supported"},
    {IPP_DEVICE_ERROR, "server-error-device-error"},
    {IPP_TEMPORARY_ERROR, "server-error-temporary-error"},
    {IPP_NOT_ACCEPTING_JOBS, "server-error-not-accepting-jobs"},
    {IPP_BUSY, "server-error-busy"},
    {IPP_JOB_CANCELED, "server-error-job-canceled"},
    {IPP_MULTIPLE_JOBS_NOT_SUPPORTED, "server-error-multiple-document-jobs-not-supported"},
};

const name_t kOps[] = {
    {IPP_PRINT_JOB, "Print-Job"},
    {IPP_PRINT_URI, "Print-URI"},
    {IPP_VALIDATE_JOB, "Validate-Job"},
    {IPP_CREATE_JOB, "Create-Job"},
    {IPP_SEND_DOCUMENT, "Send-Document"},
    {IPP_SEND_URI, "Send-URI"},
    {IPP_CANCEL_JOB, "Cancel-Job"},
    {IPP_GET_JOB_ATTRIBUTES, "Get-Job-Attributes"},
    {IPP_GET_JOBS, "Get-Jobs"},
    {IPP_GET_PRINTER_ATTRIBUTES, "Get-Printer-Attributes"},
    {IPP_HOLD_JOB, "Hold-Job"},
    {IPP_RELEASE_JOB, "Release-Job"},
    {IPP_RESTART_JOB, "Restart-Job"},
    {IPP_PAUSE_PRINTER, "Pause-Printer"},
    {IPP_RESUME_PRINTER, "Resume-Printer"},
    {IPP_PURGE_JOBS, "Purge-Jobs"},
    {IPP_SET_PRINTER_ATTRIBUTES, "Set-Printer-Attributes"},
    {IPP_SET_JOB_ATTRIBUTES, "Set-Job-Attributes"},
    {IPP_ENABLE_PRINTER, "Enable-Printer"},
    {IPP_DISABLE_PRINTER, "Disable-Printer"},
    {VORN_GET_DEFAULT, "VORN-Get-Default"},
    {VORN_GET_PRINTERS, "VORN-Get-Printers"},
    {VORN_ADD_PRINTER, "VORN-Add-Printer"},
    {VORN_DELETE_PRINTER, "VORN-Delete-Printer"},
    {VORN_GET_CLASSES, "VORN-Get-Classes"},
    {VORN_ADD_CLASS, "VORN-Add-Class"},
    {VORN_DELETE_CLASS, "VORN-Delete-Class"},
    {VORN_ACCEPT_JOBS, "VORN-Accept-Jobs"},
    {VORN_REJECT_JOBS, "VORN-Reject-Jobs"},
    {VORN_SET_DEFAULT, "VORN-Set-Default"},
    {VORN_GET_DEVICES, "VORN-Get-Devices"},
    {VORN_GET_PPDS, "VORN-Get-PPDs"},
    {VORN_MOVE_JOB, "VORN-Move-Job"},
};

const name_t kTags[] = {
    {IPP_TAG_ZERO, "zero"},
    {IPP_TAG_OPERATION, "operation-attributes-tag"},
    {IPP_TAG_JOB, "job-attributes-tag"},
    {IPP_TAG_END, "end-of-attributes-tag"},
    {IPP_TAG_PRINTER, "printer-attributes-tag"},
    {IPP_TAG_UNSUPPORTED_GROUP, "unsupported-attributes-tag"},
    {IPP_TAG_SUBSCRIPTION, "subscription-attributes-tag"},
    {IPP_TAG_EVENT_NOTIFICATION, "event-notification-attributes-tag"},
    {IPP_TAG_UNSUPPORTED_VALUE, "unsupported"},
    {IPP_TAG_DEFAULT, "default"},
    {IPP_TAG_UNKNOWN, "unknown"},
    {IPP_TAG_NOVALUE, "no-value"},
    {IPP_TAG_INTEGER, "integer"},
    {IPP_TAG_BOOLEAN, "boolean"},
    {IPP_TAG_ENUM, "enum"},
    {IPP_TAG_STRING, "octetString"},
    {IPP_TAG_DATE, "dateTime"},
    {IPP_TAG_RESOLUTION, "resolution"},
    {IPP_TAG_RANGE, "rangeOfInteger"},
    {IPP_TAG_BEGIN_COLLECTION, "begCollection"},
    {IPP_TAG_TEXTLANG, "textWithLanguage"},
    {IPP_TAG_NAMELANG, "nameWithLanguage"},
    {IPP_TAG_END_COLLECTION, "endCollection"},
    {IPP_TAG_TEXT, "textWithoutLanguage"},
    {IPP_TAG_NAME, "nameWithoutLanguage"},
    {IPP_TAG_KEYWORD, "keyword"},
    {IPP_TAG_URI, "uri"},
    {IPP_TAG_URISCHEME, "uriScheme"},
    {IPP_TAG_CHARSET, "charset"},
    {IPP_TAG_LANGUAGE, "naturalLanguage"},
    {IPP_TAG_MIMETYPE, "mimeMediaType"},
    {IPP_TAG_MEMBERNAME, "memberAttrName"},
};

template <size_t N>
const char* lookup(const name_t (&table)[N], int code, int digits) {
  for (const name_t& n : table)
    if (n.code == code) return n.text;
  thread_local char buf[16];
  std::snprintf(buf, sizeof buf, "0x%0*x", digits, unsigned(code) & 0xFFFFu);
  return buf;
}

}  // namespace

const char* ippErrorString(ipp_status_t status) { return lookup(kStatus, status, 4); }

const char* ippOpString(ipp_op_t op) { return lookup(kOps, op, 4); }

const char* ippTagString(ipp_tag_t tag) { return lookup(kTags, tag, 2); }
