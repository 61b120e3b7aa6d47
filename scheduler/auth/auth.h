// Authorization of HTTP requests by the locations of vornd.conf.
#pragma once

#include "vorn/http.h"

struct client_t;

// Decides whether the client's request may go on: HTTP_OK, or the status to
// answer with (401 authentication needed or failed, 403 forbidden, 426 TLS
// required). May record the deciding location in con->auth_location.
http_status_t IsAuthorized(client_t* con);
