// Authorization of HTTP requests.
//
// The locations of vornd.conf are read but not yet applied (host rules,
// authentication, levels and encryption arrive with access control, which
// replaces this function). Until then the administrative resources, which
// can change the configuration and every queue, are kept to clients on this
// host; everything else is allowed.
#include "scheduler/auth/auth.h"

#include <string_view>

#include "scheduler/auth/address.h"
#include "scheduler/http/client.h"

http_status_t IsAuthorized(client_t* con) {
  std::string_view resource = con->resource;
  bool admin = resource == "/admin" || resource.starts_with("/admin/");
  if (admin && !sock_addr_is_loopback(con->http.hostaddr)) return HTTP_FORBIDDEN;
  return HTTP_OK;
}
