// The configuration reader's own types and helpers; not used elsewhere.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "scheduler/auth/location.h"
#include "scheduler/browse/browse.h"
#include "scheduler/conf/conf.h"
#include "scheduler/http/listeners.h"

struct BufFile;

// A vornd.conf as read, not yet in force: its settings and the lists its
// directives build. The listeners' sockets are not open.
struct conf_t {
  server_settings_t settings;
  std::vector<listener_t> listeners;
  location_list_t locations;
  std::vector<browse_address_t> browsers;
  std::vector<browse_relay_t> relays;
  std::vector<browse_poll_t> polled;
};

// Resets `conf` to the defaults (keeping the PrintcapFormat in force) and
// parses the file at `path` into it. False when the file cannot be opened or
// read, or has a fatal syntax error; every message is logged.
bool parse_configuration(const char* path, conf_t& conf);

// Parses an open configuration file line by line (Include files too).
// Returns false only on fatal syntax errors (a "<Location" line without ">"
// or a Location block without its end); the caller checks for read errors.
bool read_config_file(BufFile* file, conf_t& conf);

// Parses the body of "<Location path>" up to "</Location>"; `linenum` is the
// number of the "<Location" line. Returns the number of the "</Location>"
// line, or 0 when the file ends first.
int read_location_block(BufFile* file, std::string_view path, int linenum, conf_t& conf);

// The parsing of the directives with their own syntax, by directive name
// (case-insensitive); false when `name` is not one of them.
bool parse_special_directive(conf_t& conf, std::string_view name, std::string_view value, int linenum);

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
bool parse_browse_directive(conf_t& conf, std::string_view name, std::string_view value, int linenum);
