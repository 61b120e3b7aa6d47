// The device and driver catalogues the listing operations answer from, and
// those two operations (VORN-Get-Devices, VORN-Get-PPDs).
//
// DeviceCatalogue: per device "device-class", "device-info",
// "device-make-and-model" and "device-uri" (printer group), a separator
// between devices. DriverCatalogue: per driver "ppd-name", "ppd-make",
// "ppd-make-and-model" and "ppd-natural-language", separated likewise.
//
// Both are empty messages until device discovery (running the backends at a
// full reload) and the driver catalogue (the model directory and ppds.dat)
// fill them; their loaders replace the whole message at each full reload.
// Owned here, valid until replaced; only the scheduler's thread touches them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vorn/ipp.h"

struct client_t;
struct TypeRecord;

// The banner list: the files of the banner directory with their detected
// types, sorted by name ignoring case. The types are owned by TypeDB, so a
// full reload loads the list again after the type database.
struct banner_t {
  std::string name;      // file name, at most kMaxBannerName bytes
  TypeRecord* filetype;  // never null
};
inline constexpr size_t kMaxBannerName = 255;
extern std::vector<banner_t> Banners;

// Rebuilds the list from `directory`: directories, names starting with "~"
// and backups (last "." starting ".bck", ".bak" or ".sav") are left out.
// A directory that cannot be opened leaves the list empty (logged).
void LoadBanners(const char* directory);
// Appends `name` with the type detected from the file at `path`; a file of
// no known type is skipped with a warning. Does not sort.
void AddBanner(std::string_view name, const char* path);
// The banner called `name` (ignoring case), or null.
const banner_t* BannerByName(std::string_view name);

extern ipp_ptr DeviceCatalogue;
extern ipp_ptr DriverCatalogue;

// VORN-Get-Devices / VORN-Get-PPDs: the whole catalogue through the
// requested-attributes filter (copy_attrs), no other filtering;
// successful-ok. `uri` is not used.
void get_devices(client_t* con, ipp_attribute_t* uri);
void get_ppds(client_t* con, ipp_attribute_t* uri);
