// Location blocks of vornd.conf and the host rules they share with the
// browse access list.
#include <array>

#include "scheduler/auth/address.h"
#include "scheduler/buffile.h"
#include "scheduler/conf/conf.h"
#include "scheduler/conf/conf-private.h"
#include "scheduler/auth/location.h"
#include "scheduler/log.h"
#include "vorn/strings.h"

namespace {

constexpr size_t kLineSize = 2048;

// The next word of `s` separated by any of `separators`, removed from `s`.
std::string_view next_word(std::string_view& s, std::string_view separators) {
  size_t start = s.find_first_not_of(separators);
  if (start == std::string_view::npos) {
    s = {};
    return {};
  }
  s.remove_prefix(start);
  size_t end = s.find_first_of(separators);
  std::string_view word = s.substr(0, end);
  s.remove_prefix(end == std::string_view::npos ? s.size() : end);
  return word;
}

int method_bits(std::string_view word) {
  static constexpr std::array<std::pair<std::string_view, int>, 7> methods{{
      {"ALL", LIMIT_ALL}, {"GET", LIMIT_GET}, {"HEAD", LIMIT_HEAD}, {"OPTIONS", LIMIT_OPTIONS},
      {"POST", LIMIT_POST}, {"PUT", LIMIT_PUT}, {"TRACE", LIMIT_TRACE}}};
  for (const auto& [name, bits] : methods)
    if (word == name) return bits;  // method names are case-sensitive
  return 0;
}

void set_encryption(location_t* loc, const std::string& value, int linenum) {
  if (vorn::iequals(value, "never")) {
    loc->encryption = HTTP_ENCRYPT_NEVER;
  } else if (vorn::iequals(value, "required")) {
    loc->encryption = HTTP_ENCRYPT_REQUIRED;
  } else if (vorn::iequals(value, "ifrequested")) {
    loc->encryption = HTTP_ENCRYPT_IF_REQUESTED;
  } else if (vorn::iequals(value, "always")) {
    LogDiagnostic(L_ERROR,
                  "Encryption value \"%s\" on line %d is invalid in this context. "
                  "Using \"required\" instead.",
                  value.c_str(), linenum);
    loc->encryption = HTTP_ENCRYPT_REQUIRED;
  } else {
    LogDiagnostic(L_ERROR, "Unknown Encryption value %s on line %d.", value.c_str(), linenum);
  }
}

void set_auth_type(location_t* loc, const std::string& value, int linenum) {
  int type;
  if (vorn::iequals(value, "none")) {
    loc->auth_type = AUTH_NONE;
    loc->level = AUTH_ANON;
    return;
  } else if (vorn::iequals(value, "basic")) {
    type = AUTH_BASIC;
  } else if (vorn::iequals(value, "digest")) {
    type = AUTH_DIGEST;
  } else if (vorn::iequals(value, "basicdigest")) {
    type = AUTH_BASICDIGEST;
  } else {
    LogDiagnostic(L_WARN, "Unknown authorization type %s on line %d.", value.c_str(), linenum);
    return;
  }
  loc->auth_type = type;
  if (loc->level == AUTH_ANON) loc->level = AUTH_USER;
}

void set_auth_class(const server_settings_t& s, location_t* loc, const std::string& value, int linenum) {
  if (vorn::iequals(value, "anonymous")) {
    loc->auth_type = AUTH_NONE;
    loc->level = AUTH_ANON;
  } else if (vorn::iequals(value, "user")) {
    loc->level = AUTH_USER;
  } else if (vorn::iequals(value, "group")) {
    loc->level = AUTH_GROUP;
  } else if (vorn::iequals(value, "system")) {
    loc->level = AUTH_GROUP;
    // Before any SystemGroup line the default system group stands for the
    // list; without it the location would admit no group at all.
    size_t count = s.NumSystemGroups > 0 ? size_t(s.NumSystemGroups) : s.SystemGroups.size();
    for (size_t i = 0; i < count && i < s.SystemGroups.size(); i++) AddLocationName(loc, s.SystemGroups[i]);
  } else {
    LogDiagnostic(L_WARN, "Unknown authorization class %s on line %d.", value.c_str(), linenum);
  }
}

void set_require(location_t* loc, std::string_view value, int linenum) {
  std::string_view rest = value;
  std::string type(next_word(rest, " \t"));
  if (vorn::iequals(type, "user") || vorn::iequals(type, "valid-user")) {
    loc->level = AUTH_USER;
  } else if (vorn::iequals(type, "group")) {
    loc->level = AUTH_GROUP;
  } else {
    LogDiagnostic(L_WARN, "Unknown Require type %s on line %d.", type.c_str(), linenum);
    return;
  }
  for (std::string_view name = next_word(rest, " \t"); !name.empty(); name = next_word(rest, " \t"))
    AddLocationName(loc, name);
}

// "<Limit ...>" / "<LimitExcept ...>": a copy of the block's location that
// takes the listed methods away from it.
location_t* start_limit(location_list_t& list, location_t* parent, bool except, std::string_view value, int linenum) {
  location_t* loc = CopyLocation(list, parent);
  int limit = 0;
  std::string_view rest = value;
  for (std::string_view word = next_word(rest, " \t>"); !word.empty(); word = next_word(rest, " \t>")) {
    int bits = method_bits(word);
    if (bits == 0) {
      std::string w(word);
      LogDiagnostic(L_WARN, "Unknown request type %s on line %d!", w.c_str(), linenum);
    }
    limit |= bits;
  }
  if (except) limit = LIMIT_ALL & ~limit;
  loc->limit = limit;
  parent->limit &= ~limit;
  return loc;
}

}  // namespace

void add_host_rule(location_t* loc, bool allow, std::string_view value, int linenum) {
  std::string_view v = vorn::trim(value);
  if (vorn::istarts_with(v, "from") && (v.size() == 4 || vorn::isspace(v[4])))
    v = vorn::trim(v.substr(4));
  if (vorn::iequals(v, "all")) {
    allow ? AllowIP(loc, 0, 0) : DenyIP(loc, 0, 0);
    return;
  }
  if (vorn::iequals(v, "none")) {
    allow ? AllowIP(loc, 0xffffffff, 0) : DenyIP(loc, 0xffffffff, 0);
    return;
  }
  std::string name;
  uint32_t address = 0, mask = 0;
  bool bad_mask = false;
  mask_kind kind = v.empty() ? mask_kind::bad_address : parse_address_mask(v, name, address, mask, bad_mask);
  switch (kind) {
    case mask_kind::name:
      allow ? AllowHost(loc, name) : DenyHost(loc, name);
      break;
    case mask_kind::address:
      if (bad_mask) {
        std::string text(v);
        LogDiagnostic(L_ERROR, "Bad netmask value %s on line %d.", text.c_str(), linenum);
      }
      allow ? AllowIP(loc, address, mask) : DenyIP(loc, address, mask);
      break;
    case mask_kind::bad_address: {
      std::string text(v);
      LogDiagnostic(L_ERROR, "Bad netmask value %s on line %d.", text.c_str(), linenum);
      break;
    }
  }
}

int read_location_block(BufFile* file, std::string_view path, int linenum, conf_t& conf) {
  location_t* parent = AddLocation(conf.locations, path);
  parent->limit = LIMIT_ALL;
  location_t* loc = parent;

  char line[kLineSize];
  std::string name, value;
  while (BufFileGets(file, line, sizeof(line))) {
    linenum++;
    if (!split_config_line(line, name, value)) continue;

    if (vorn::iequals(name, "</Location>")) {
      return linenum;
    } else if (vorn::iequals(name, "<Limit") || vorn::iequals(name, "<LimitExcept")) {
      loc = start_limit(conf.locations, parent, vorn::iequals(name, "<LimitExcept"), value, linenum);
    } else if (vorn::iequals(name, "</Limit>")) {
      loc = parent;
    } else if (vorn::iequals(name, "Encryption")) {
      set_encryption(loc, value, linenum);
    } else if (vorn::iequals(name, "Order")) {
      if (vorn::istarts_with(value, "deny"))
        loc->order = ORDER_DENY_ALLOW;
      else if (vorn::istarts_with(value, "allow"))
        loc->order = ORDER_ALLOW_DENY;
      else
        LogDiagnostic(L_ERROR, "Unknown Order value %s on line %d.", value.c_str(), linenum);
    } else if (vorn::iequals(name, "Allow") || vorn::iequals(name, "Deny")) {
      add_host_rule(loc, vorn::iequals(name, "Allow"), value, linenum);
    } else if (vorn::iequals(name, "AuthType")) {
      set_auth_type(loc, value, linenum);
    } else if (vorn::iequals(name, "AuthClass")) {
      set_auth_class(conf.settings, loc, value, linenum);
    } else if (vorn::iequals(name, "AuthGroupName")) {
      AddLocationName(loc, value);
    } else if (vorn::iequals(name, "Require")) {
      set_require(loc, value, linenum);
    } else if (vorn::iequals(name, "Satisfy")) {
      if (vorn::iequals(value, "all"))
        loc->satisfy = SATISFY_ALL;
      else if (vorn::iequals(value, "any"))
        loc->satisfy = SATISFY_ANY;
      else
        LogDiagnostic(L_WARN, "Unknown Satisfy value %s on line %d.", value.c_str(), linenum);
    } else {
      LogDiagnostic(L_ERROR, "Unknown Location directive %s on line %d.", name.c_str(), linenum);
    }
  }
  LogDiagnostic(L_ERROR, "ReadConfiguration() Syntax error on line %d.", linenum);
  return 0;
}
