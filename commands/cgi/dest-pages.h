// The pages of printers.cgi and classes.cgi: the list of destinations and
// one destination with its jobs.
#pragma once

namespace vorn::cgi {

// The whole program: `is_class` picks classes.cgi's view. Returns the exit
// status.
int DestMain(int argc, char** argv, bool is_class);

}  // namespace vorn::cgi
