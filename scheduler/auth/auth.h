// Authorization of HTTP requests by the locations of vornd.conf: choosing the
// location of a request, host rules, passwords (PAM, the digest password
// file, local certificates) and user and group levels.
//
// Files: find-best.cc (FindBest), hosts.cc (host rules and the peers counted
// as this host), authorize.cc (IsAuthorized), passwd.cc (passwd.md5),
// pam-check.cc (Basic passwords through PAM), certs.cc (local certificates),
// interfaces.cc (the interface list).
#pragma once

#include <string>
#include <string_view>

#include "vorn/http.h"

struct client_t;
struct location_t;

// Decides whether the client's request may go on: HTTP_OK, or the status to
// answer with (401 authentication needed or failed, 403 forbidden, 426 TLS
// required). Records the deciding location in con->auth_location. When the
// request goes on, con->username is the verified user (a password or a
// local certificate was checked) or empty: a user name nobody verified is
// never kept.
http_status_t IsAuthorized(client_t* con);

// The location for `resource` and a request in HTTP state `state`: the
// longest path that begins with "/", is a prefix of the resource and admits
// the method (the first of equally long ones); ".ppd" is dropped from
// "/printers/NAME.ppd" and "/classes/NAME.ppd". nullptr when none applies.
const location_t* FindBest(std::string_view resource, http_state_t state);

// The method bit (LIMIT_*) and the method name Digest responses are computed
// with, of an HTTP state.
int LimitOfState(http_state_t state);
const char* MethodNameOfState(http_state_t state);

// The stored digest of `user` in ServerRoot/passwd.md5, with `group` when it
// is not null (both compared case-sensitively); false when there is none.
// `found_group`, when given, receives the entry's group.
bool GetMD5Passwd(const char* user, const char* group, std::string& hash, std::string* found_group = nullptr);

// Verifies `password` for `user` with PAM, service PAMService ("vorn" unless
// the configuration names another). Failures are logged; false when the
// password or the account is refused.
bool CheckPamPassword(const std::string& user, const std::string& password);

// Whether `user` may administer the scheduler: "root" (exactly), or a member
// of a configured system group (listed in the group or with it as primary
// group), or, when `md5_group` is given, an entry of passwd.md5 in a system
// group.
bool IsAdministrator(const std::string& user, const char* md5_group = nullptr);

// Whether `user` is in the Unix group `name`: listed as a member, or with it
// as primary group. `exists` tells whether the group exists at all.
bool UserInGroup(const std::string& user, const std::string& name, bool& exists);
