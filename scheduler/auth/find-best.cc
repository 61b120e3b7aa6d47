// Choosing the location of a request.
#include <string>

#include "scheduler/auth/auth.h"
#include "scheduler/auth/location.h"
#include "scheduler/log.h"

int LimitOfState(http_state_t state) {
  switch (state) {
    case HTTP_OPTIONS:
      return LIMIT_OPTIONS;
    case HTTP_GET:
    case HTTP_GET_SEND:
      return LIMIT_GET;
    case HTTP_HEAD:
      return LIMIT_HEAD;
    case HTTP_POST:
    case HTTP_POST_RECV:
    case HTTP_POST_SEND:
      return LIMIT_POST;
    case HTTP_PUT:
    case HTTP_PUT_RECV:
      return LIMIT_PUT;
    case HTTP_DELETE:
      return LIMIT_DELETE;
    case HTTP_TRACE:
      return LIMIT_TRACE;
    default:
      return LIMIT_ALL;
  }
}

const char* MethodNameOfState(http_state_t state) {
  switch (state) {
    case HTTP_OPTIONS:
      return "OPTIONS";
    case HTTP_GET:
    case HTTP_GET_SEND:
      return "GET";
    case HTTP_HEAD:
      return "HEAD";
    case HTTP_POST:
    case HTTP_POST_RECV:
    case HTTP_POST_SEND:
      return "POST";
    case HTTP_PUT:
    case HTTP_PUT_RECV:
      return "PUT";
    case HTTP_DELETE:
      return "DELETE";
    case HTTP_TRACE:
      return "TRACE";
    case HTTP_CLOSE:
      return "CLOSE";
    case HTTP_STATUS:
      return "STATUS";
    default:
      return "WAITING";
  }
}

const location_t* FindBest(std::string_view resource, http_state_t state) {
  std::string uri(resource.substr(0, kMaxLocationPath));
  if ((uri.starts_with("/printers/") || uri.starts_with("/classes/")) && uri.ends_with(".ppd"))
    uri.resize(uri.size() - 4);
  int limit = LimitOfState(state);
  LogDiagnostic(L_DEBUG2, "FindBest: uri = \"%s\"...", uri.c_str());

  const location_t* best = nullptr;
  for (const auto& loc : Locations) {
    LogDiagnostic(L_DEBUG2, "FindBest: Location %s Limit %x", loc->path.c_str(), unsigned(loc->limit));
    const std::string& path = loc->path;
    if (path.empty() || path[0] != '/' || !(loc->limit & limit)) continue;
    if (!uri.starts_with(path)) continue;  // case-sensitive, as resources are
    if (!best || path.size() > best->path.size()) best = loc.get();
  }
  LogDiagnostic(L_DEBUG2, "FindBest: best = \"%s\"", best ? best->path.c_str() : "NONE");
  return best;
}
