#include "command-common.h"

#include <climits>
#include <cstdlib>

#include "vorn/client.h"
#include "vorn/request.h"

namespace vorn::cmd {

const char* FlagValue(int argc, char** argv, int* i) {
  const char* arg = argv[*i];
  if (arg[0] && arg[1] && arg[2]) return arg + 2;
  if (*i + 1 >= argc) return nullptr;
  ++*i;
  return argv[*i];
}

int AtoiClamped(const char* s) {
  long value = std::strtol(s, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return int(value);
}

void RequireEncryption(http_t* open) {
  vornSetEncryption(HTTP_ENCRYPT_REQUIRED);
  if (open) httpEncryption(open, HTTP_ENCRYPT_REQUIRED);
}

bool SelectServer(int argc, char** argv, int* i, http_ptr& open) {
  const char* server = FlagValue(argc, argv, i);
  if (!server) return false;
  open.reset();
  vornSetServer(server);
  return true;
}

http_ptr ConnectScheduler() { return http_ptr(httpConnectEncrypt(vornServer(), ippPort(), vornEncryption())); }

ipp_ptr Send(http_t* http, ipp_t* request, const char* resource, ipp_status_t* status) {
  ipp_ptr response(vornDoFileRequest(http, request, resource, nullptr));
  if (!response) {
    *status = vornLastError();
    return nullptr;
  }
  if (response->op_status > IPP_OK_CONFLICT) {
    *status = ipp_status_t(response->op_status);
    return nullptr;
  }
  *status = ipp_status_t(response->op_status);
  return response;
}

std::string PrinterURI(std::string_view name) { return "ipp://localhost/printers/" + std::string(name); }

std::string JobURI(int id) { return "ipp://localhost/jobs/" + std::to_string(id); }

std::string LastPathPart(std::string_view uri) {
  size_t slash = uri.rfind('/');
  return std::string(slash == std::string_view::npos ? uri : uri.substr(slash + 1));
}

namespace {

// A name or text may come with or without its language.
bool tag_matches(ipp_tag_t want, ipp_tag_t got) {
  if (want == IPP_TAG_ZERO || want == got) return true;
  return (want == IPP_TAG_NAME && got == IPP_TAG_NAMELANG) || (want == IPP_TAG_TEXT && got == IPP_TAG_TEXTLANG);
}

}  // namespace

const ipp_attribute_t* attr_group::find(std::string_view name, ipp_tag_t type) const {
  for (const ipp_attribute_t* a : attrs)
    if (a->name == name && tag_matches(type, a->value_tag)) return a;
  return nullptr;
}

std::string attr_group::text(std::string_view name, ipp_tag_t type, std::string_view fallback) const {
  const ipp_attribute_t* a = find(name, type);
  if (!a || a->values.empty()) return std::string(fallback);
  return a->values[0].string.text;
}

int attr_group::integer(std::string_view name, ipp_tag_t type, int fallback) const {
  const ipp_attribute_t* a = find(name, type);
  return a && !a->values.empty() ? a->values[0].integer : fallback;
}

bool attr_group::boolean(std::string_view name, bool fallback) const {
  const ipp_attribute_t* a = find(name, IPP_TAG_BOOLEAN);
  return a && !a->values.empty() ? a->values[0].boolean : fallback;
}

std::vector<attr_group> Groups(const ipp_t* response, ipp_tag_t group) {
  std::vector<attr_group> groups;
  bool open = false;
  for (const ipp_attribute_t* a = response ? response->attrs : nullptr; a; a = a->next) {
    if (a->group_tag != group || a->name.empty()) {
      open = false;
      continue;
    }
    if (!open) groups.emplace_back();
    open = true;
    groups.back().attrs.push_back(a);
  }
  return groups;
}

}  // namespace vorn::cmd
