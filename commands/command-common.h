// What the commands share: reading flags and numbers from the command line,
// sending one request to the scheduler, and reading the printer and job
// groups of a response.
//
// Every message goes to standard error and starts with the command's name;
// reports go to standard output.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vorn/http.h"
#include "vorn/ipp.h"

namespace vorn::cmd {

// The value of the flag in argv[*i]: the rest of that argument when there is
// one (-dlaser), else the next argument (-d laser), moving *i past it. Null
// when the flag ends the arguments. The result points into argv.
const char* FlagValue(int argc, char** argv, int* i);

// atoi without its undefined overflow: leading white space, a sign, digits up
// to the first other byte; 0 when there are none; clamped to int.
int AtoiClamped(const char* s);

// -E: encryption required from now on; an open connection switches at once.
void RequireEncryption(http_t* open);

// -h: the server named by the flag's value from now on; an open connection
// closes. False when the flag has no value (the caller says so and ends).
bool SelectServer(int argc, char** argv, int* i, http_ptr& open);

// A connection to vornServer() on ippPort() with vornEncryption(); null when
// it cannot be opened (errno says why).
http_ptr ConnectScheduler();

// Sends `request` (consumed) to `resource` and returns the response when its
// status is a success (0 to 2). Otherwise null, and *status is the failure:
// the response's status, or vornLastError() when there was no response.
ipp_ptr Send(http_t* http, ipp_t* request, const char* resource, ipp_status_t* status);

// "ipp://localhost/printers/NAME" and "ipp://localhost/jobs/ID", the fixed
// forms the scheduler takes from any client.
std::string PrinterURI(std::string_view name);
std::string JobURI(int id);

// The text after the last "/" of a URI ("laser" of ".../printers/laser").
std::string LastPathPart(std::string_view uri);

// One printer or job of a response: its attributes, in order.
struct attr_group {
  std::vector<const ipp_attribute_t*> attrs;

  // The attribute `name` with value tag `type` (IPP_TAG_ZERO: any; a name or
  // text with its language counts as a name or text), or null.
  const ipp_attribute_t* find(std::string_view name, ipp_tag_t type) const;
  // The first value of a text-like attribute (name, text, keyword, URI, ...),
  // or `fallback` when it is absent.
  std::string text(std::string_view name, ipp_tag_t type, std::string_view fallback = "") const;
  // The first value of an integer or enum attribute, or `fallback`.
  int integer(std::string_view name, ipp_tag_t type, int fallback) const;
  // The first value of a boolean attribute, or `fallback`.
  bool boolean(std::string_view name, bool fallback) const;
};

// The groups of tag `group` (IPP_TAG_PRINTER, IPP_TAG_JOB) of a response, in
// order. A group ends at a separator or at an attribute of another group.
std::vector<attr_group> Groups(const ipp_t* response, ipp_tag_t group);

}  // namespace vorn::cmd
