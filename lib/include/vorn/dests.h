// Destinations: the server's printers and classes, the user's instances of
// them ("laser/duplex") and the job options saved for each.
//
// Saved settings live in two files of the same format:
//   system-wide  SERVERROOT/dests.conf   (VORN_SERVERROOT, else the compiled-in
//                                         server root); read only
//   per user     $HOME/.vorndests        (the home directory of the real user
//                                         when HOME is unset); read and written
//
// Format: one destination per line, the keyword (in any case), white space,
// the destination as name or name/instance (cut at the last "/"), and its
// options as vornParseOptions reads them:
//
//   Default laser/duplex sides=two-sided-long-edge copies=2
//   Dest inkjet media=A4 page-label='Draft copy'
//   Dest laser
//
// "Default" marks the default destination, "Dest" any other. A line ending
// in an odd number of backslashes goes on in the next line (the line break
// then belongs to the value). Lines that are not destination lines
// (comments, blank lines, garbage, names that cannot be destinations) are
// ignored when reading and kept as they are, in front, when the file is
// rewritten. Names and instances have at most 127 bytes and no white space,
// control characters or "/". A file larger than 4 MiB is not read, and
// vornSetDests will not replace it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "vorn/options.h"

constexpr size_t VORN_MAX_DEST_NAME = 127;  // bytes of a name or an instance

struct vorn_dest_t {
  std::string name;      // printer or class
  std::string instance;  // empty for the destination itself
  bool is_default = false;
  vorn_options_t options;  // saved job options
};
// Sorted by name (without regard to case), each name before its instances.
using vorn_dests_t = std::vector<vorn_dest_t>;

// Replaces `dests` with the destinations and returns their count:
//  1. the server's printers (VORN-Get-Printers) and classes (VORN-Get-Classes),
//     over the process-wide connection of vorn/request.h;
//  2. the system-wide file, then the per-user file: each line adds its
//     destination when the list lacks it (a saved destination is never
//     dropped because the server does not list it now, or cannot be reached)
//     and sets its options; a user line replaces the system line's options
//     for that destination, since the user's file is written whole;
//  3. the default: the user file's Default line, else the system file's, else
//     the server's default (VORN-Get-Default).
// vornLastError afterwards is the status of the VORN-Get-Printers request
// (a server without a default destination is not an error).
int vornGetDests(vorn_dests_t& dests);

// Replaces `dests` with what the two files alone say (steps 2 and 3 above,
// without the server's default), asking the server nothing: every saved
// option of a destination is in the files, so this is all a caller that
// already has a destination's name needs to merge them.
int vornGetSavedDests(vorn_dests_t& dests);

// The destination `name` with `instance` (both compared without regard to
// case; null or empty instance: the destination itself), or with a null or
// empty `name` the default destination. nullptr when there is none. The
// pointer stays valid until `dests` is changed.
vorn_dest_t* vornGetDest(const char* name, const char* instance, vorn_dests_t& dests);
const vorn_dest_t* vornGetDest(const char* name, const char* instance, const vorn_dests_t& dests);

// Adds `name`/`instance` when it is not in `dests` yet, keeping the order. A
// new instance starts with a copy of the options of its destination, when
// that is in the list. Invalid names (see above) add nothing. Returns the new
// count.
int vornAddDest(const char* name, const char* instance, vorn_dests_t& dests);

// Writes the per-user file: a "Default" line for the first destination
// marked default, a "Dest" line for every other one that has an instance or
// options, after the lines of the old file that were not destination lines.
// Destinations with invalid names, and options whose names cannot be
// written (empty, or holding white space or "="), are left out; so is a
// destination that carries nothing (no instance, no options, not default). The file is replaced atomically (a new file in the same
// folder, fsync, rename), keeping the old file's permissions (0644 for a new
// one). Returns 0, or -1 with errno set (the old file is then untouched; an
// old file that cannot be read or is too large is not replaced: EFBIG).
int vornSetDests(const vorn_dests_t& dests);

// Removes every destination.
void vornFreeDests(vorn_dests_t& dests);
