// Helpers shared by the files of the configuration reader; not used
// elsewhere.
#pragma once

#include <string>
#include <string_view>

struct location_t;

// Splits one line into the directive name (at most 255 characters) and the
// rest of the line as value. False for blank lines and comments ("#" as the
// first character that is not white space).
bool split_config_line(std::string_view line, std::string& name, std::string& value);

// An Allow/Deny value: optional "from", then "all", "none", a host or domain
// name, "@LOCAL", "@IF(name)" or an address with mask. Adds the rule to the
// allow or deny list of `loc`; logs "Bad netmask value %s on line %d.".
void add_host_rule(location_t* loc, bool allow, std::string_view value, int linenum);

// The browse directives (BrowseAddress, BrowseAllow, BrowseDeny, BrowseOrder,
// BrowseProtocols, BrowseRelay, BrowsePoll); false when `name` is none of them.
bool parse_browse_directive(std::string_view name, std::string_view value, int linenum);

// Empties the browse lists (start of each ReadConfiguration).
void ClearBrowseLists();
