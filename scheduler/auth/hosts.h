// Host rules of locations.
#pragma once

#include "scheduler/auth/address.h"

struct location_t;
struct authmask_t;
struct client_t;

// Whether the rule admits a peer at `a` whose host name is `hostname`.
bool HostRuleMatches(const authmask_t& rule, const sock_addr_t& a, const char* hostname);

// The location's Order, Allow and Deny lines applied to the peer: true when
// it is allowed. Peers on this host (IsOwnAddress) and locations without
// rules always allow.
bool HostAllowed(const location_t* loc, const sock_addr_t& a, const char* hostname);

// The client's peer is this host, by its address.
bool IsLocalClient(const client_t* con);
