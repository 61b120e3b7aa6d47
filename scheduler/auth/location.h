// Location records: resource path prefixes of vornd.conf with their host
// rules, authentication type, authorization level and encryption. The
// configuration reader builds them; deciding requests with them (FindBest,
// IsAuthorized) belongs to access control.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "vorn/http.h"

// Method bits of `limit`.
enum {
  LIMIT_DELETE = 1,
  LIMIT_GET = 2,
  LIMIT_HEAD = 4,
  LIMIT_OPTIONS = 8,
  LIMIT_POST = 16,
  LIMIT_PUT = 32,
  LIMIT_TRACE = 64,
  LIMIT_ALL = 127,
};

enum { ORDER_DENY_ALLOW = 0, ORDER_ALLOW_DENY = 1 };
enum { AUTH_NONE = 0, AUTH_BASIC = 1, AUTH_DIGEST = 2, AUTH_BASICDIGEST = 3 };
enum { AUTH_ANON = 0, AUTH_USER = 1, AUTH_GROUP = 2 };
enum { SATISFY_ALL = 0, SATISFY_ANY = 1 };

// One host rule.
enum { AUTH_NAME = 0, AUTH_IP = 1, AUTH_INTERFACE = 2 };
struct authmask_t {
  int type = AUTH_NAME;
  std::string name;        // AUTH_NAME: host or ".domain"; AUTH_INTERFACE: name or "*"
  uint32_t address = 0;    // AUTH_IP, host byte order
  uint32_t netmask = 0;
};

constexpr size_t kMaxLocationPath = 1023;
constexpr size_t kMaxInterfaceName = 31;

struct location_t {
  std::string path;                 // at most kMaxLocationPath characters
  int limit = 0;                    // LIMIT_* bits
  int order = ORDER_DENY_ALLOW;
  int auth_type = AUTH_NONE;
  int level = AUTH_ANON;
  int satisfy = SATISFY_ALL;
  std::vector<std::string> names;   // users or groups
  std::vector<authmask_t> allow, deny;
  // HTTP_ENCRYPT_IF_REQUESTED, _NEVER or _REQUIRED ("always" is stored as
  // required).
  http_encryption_t encryption = HTTP_ENCRYPT_IF_REQUESTED;
};

// In configuration order. Records never move: a location_t* stays valid as
// long as its list holds it, also when the list itself is moved.
using location_list_t = std::vector<std::unique_ptr<location_t>>;

// The locations in force; the configuration reader builds a new list and
// swaps it in.
extern location_list_t Locations;

// Appends a new location with all fields zero (the reader sets its limit);
// logs "AddLocation: added location '%s'" at debug.
location_t* AddLocation(location_list_t& list, std::string_view path);

// The first location whose path equals `path` without regard to case.
location_t* LocationByPath(const location_list_t& list, std::string_view path);

// Appends a copy of `loc` (same path, every field and list); `loc` stays valid.
location_t* CopyLocation(location_list_t& list, const location_t* loc);

// The same on the locations in force.
location_t* AddLocation(std::string_view path);
location_t* LocationByPath(std::string_view path);
location_t* CopyLocation(const location_t* loc);

void AddLocationName(location_t* loc, std::string_view name);

// "@LOCAL" (any case) adds an interface rule "*", "@IF(name)" one for that
// interface, anything else a name rule.
void AllowHost(location_t* loc, std::string_view name);
void DenyHost(location_t* loc, std::string_view name);
// Address rules (host byte order).
void AllowIP(location_t* loc, uint32_t address, uint32_t netmask);
void DenyIP(location_t* loc, uint32_t address, uint32_t netmask);

void ClearLocations();
