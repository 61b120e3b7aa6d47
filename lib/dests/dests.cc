// The destination list: the server's printers and classes merged with the
// saved settings of the system-wide and per-user files.

#include "vorn/dests.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dests-private.h"
#include "../request/request-private.h"
#include "vorn/request.h"
#include "vorn/strings.h"

namespace {

using namespace vorn::request;
using vorn::dests::file_t;

// Name, then instance, without regard to case; the destination itself (no
// instance) before its instances.
struct dest_key {
  std::string name;
  std::string instance;
  bool operator<(const dest_key& o) const {
    int c = vorn::strcasecmp(name, o.name);
    return c != 0 ? c < 0 : vorn::strcasecmp(instance, o.instance) < 0;
  }
};

bool dest_less(const vorn_dest_t& a, const vorn_dest_t& b) {
  return dest_key{a.name, a.instance} < dest_key{b.name, b.instance};
}

// Sends a request to "/" asking for "printer-name" only and adds every
// printer-name of the answer to `names`. Returns the request's status.
ipp_status_t query_names(http_t* http, ipp_op_t op, std::vector<std::string>& names) {
  ipp_t* req = vornNewRequest(op);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", "", "printer-name");
  ipp_ptr response(vornDoFileRequest(http, req, "/", nullptr));
  if (!response) return vornLastError();
  if (response->op_status <= IPP_OK_CONFLICT) {
    for (ipp_attribute_t* a = ippFindAttribute(response.get(), "printer-name", IPP_TAG_NAME); a;
         a = ippFindNextAttribute(response.get(), "printer-name", IPP_TAG_NAME)) {
      for (const auto& v : a->values) names.push_back(v.string.text);
    }
  }
  return ipp_status_t(response->op_status);
}

// Applies the lines of one file to the list; returns the destination of
// its (last) Default line.
std::optional<dest_key> apply_file(const file_t& file, std::map<dest_key, vorn_dest_t>& list) {
  std::optional<dest_key> default_key;
  for (const auto& line : file.dests) {
    dest_key key{line.name, line.instance};
    auto [it, added] = list.try_emplace(key);
    if (added) {
      it->second.name = line.name;
      it->second.instance = line.instance;
    }
    it->second.options = line.options;  // the file's line is the whole saved setting
    if (line.is_default) default_key = key;
  }
  return default_key;
}

// Applies the system-wide file, then the per-user file; returns the
// default the files name, if any.
std::optional<dest_key> apply_files(std::map<dest_key, vorn_dest_t>& list) {
  std::optional<dest_key> def;
  for (const std::string& path : {vorn::dests::system_file(), vorn::dests::user_file()}) {
    file_t file;
    if (path.empty() || vorn::dests::read_file(path, file) <= 0) continue;
    if (auto file_default = apply_file(file, list)) def = file_default;
  }
  return def;
}

void mark_default(const std::optional<dest_key>& def, std::map<dest_key, vorn_dest_t>& list) {
  if (!def) return;
  auto [it, added] = list.try_emplace(*def);
  if (added) {
    it->second.name = def->name;
    it->second.instance = def->instance;
  }
  it->second.is_default = true;
}

void take_list(std::map<dest_key, vorn_dest_t>& list, vorn_dests_t& dests) {
  dests.reserve(list.size());
  for (auto& entry : list) dests.push_back(std::move(entry.second));
}

}  // namespace

int vornGetSavedDests(vorn_dests_t& dests) {
  dests.clear();
  std::map<dest_key, vorn_dest_t> list;
  mark_default(apply_files(list), list);
  take_list(list, dests);
  return int(dests.size());
}

int vornGetDests(vorn_dests_t& dests) {
  dests.clear();
  std::vector<std::string> names;
  std::vector<std::string> server_default;
  ipp_status_t status;
  {
    shared_connection conn;
    if (conn.get()) {
      status = query_names(conn.get(), VORN_GET_PRINTERS, names);
      if (status != IPP_INTERNAL_ERROR) {
        query_names(conn.get(), VORN_GET_CLASSES, names);
        query_names(conn.get(), VORN_GET_DEFAULT, server_default);
      }
    } else {
      status = vornLastError();
    }
  }

  std::map<dest_key, vorn_dest_t> list;
  for (const auto& name : names) {
    if (!valid_dest_name(name)) continue;
    auto [it, added] = list.try_emplace(dest_key{name, ""});
    if (added) it->second.name = name;
  }

  std::optional<dest_key> def = apply_files(list);
  if (!def && !server_default.empty() && valid_dest_name(server_default.front())) {
    def = dest_key{server_default.front(), ""};
  }
  mark_default(def, list);
  take_list(list, dests);
  vorn::request::set_last_error(status);
  return int(dests.size());
}

const vorn_dest_t* vornGetDest(const char* name, const char* instance, const vorn_dests_t& dests) {
  if (!name || !*name) {
    for (const auto& d : dests)
      if (d.is_default) return &d;
    return nullptr;
  }
  std::string_view inst = instance ? instance : "";
  for (const auto& d : dests)
    if (vorn::iequals(d.name, name) && vorn::iequals(d.instance, inst)) return &d;
  return nullptr;
}

vorn_dest_t* vornGetDest(const char* name, const char* instance, vorn_dests_t& dests) {
  return const_cast<vorn_dest_t*>(vornGetDest(name, instance, static_cast<const vorn_dests_t&>(dests)));
}

int vornAddDest(const char* name, const char* instance, vorn_dests_t& dests) {
  if (!instance) instance = "";
  if (!name || !valid_dest_name(name) || (*instance && !valid_dest_name(instance))) return int(dests.size());
  if (vornGetDest(name, instance, dests)) return int(dests.size());
  vorn_dest_t dest;
  dest.name = name;
  dest.instance = instance;
  if (*instance) {
    if (const vorn_dest_t* base = vornGetDest(name, nullptr, dests)) dest.options = base->options;
  }
  auto at = std::lower_bound(dests.begin(), dests.end(), dest, dest_less);
  dests.insert(at, std::move(dest));
  return int(dests.size());
}

void vornFreeDests(vorn_dests_t& dests) {
  dests.clear();
  dests.shrink_to_fit();
}
