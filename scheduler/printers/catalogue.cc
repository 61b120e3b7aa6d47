// The device and driver catalogues and the operations that list them.
#include "scheduler/printers/catalogue.h"

#include "scheduler/http/client.h"
#include "scheduler/ipp/ipp.h"
#include "scheduler/log.h"

ipp_ptr DeviceCatalogue(ippNew());
ipp_ptr DriverCatalogue(ippNew());

namespace {

void answer_catalogue(client_t* con, ipp_t* catalogue) {
  const ipp_attribute_t* requested =
      ippFindAttribute(con->ipp_request.get(), "requested-attributes", IPP_TAG_KEYWORD);
  copy_attrs(con->ipp_response.get(), catalogue, requested, IPP_TAG_ZERO);
  con->ipp_response->op_status = IPP_OK;
}

}  // namespace

void get_devices(client_t* con, ipp_attribute_t*) {
  LogDiagnostic(L_DEBUG2, "get_devices(%p[%d])\n", static_cast<void*>(con), con->http.fd);
  answer_catalogue(con, DeviceCatalogue.get());
}

void get_ppds(client_t* con, ipp_attribute_t*) {
  LogDiagnostic(L_DEBUG2, "get_ppds(%p[%d])\n", static_cast<void*>(con), con->http.fd);
  answer_catalogue(con, DriverCatalogue.get());
}
