// The command line of vornd: vornd [-c config-file] [-f] [-F].
#pragma once

#include <string>

struct vornd_options_t {
  std::string config_path;  // absolute; empty when -c was not given
  bool foreground = false;  // -f: no fork, no detaching
  bool no_fork = false;     // -F: no fork, but detach as a daemon does
};

// Parses the arguments; letters after a dash are taken one by one, so they
// may be combined ("-fc file"). A relative -c path is made absolute with the
// current directory. Returns 0 when the scheduler should start, else 1 after
// writing the error and the usage line to standard error.
int ParseCommandLine(int argc, char* argv[], vornd_options_t& options);
