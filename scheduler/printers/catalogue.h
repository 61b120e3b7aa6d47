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

#include "vorn/ipp.h"

struct client_t;

extern ipp_ptr DeviceCatalogue;
extern ipp_ptr DriverCatalogue;

// VORN-Get-Devices / VORN-Get-PPDs: the whole catalogue through the
// requested-attributes filter (copy_attrs), no other filtering;
// successful-ok. `uri` is not used.
void get_devices(client_t* con, ipp_attribute_t* uri);
void get_ppds(client_t* con, ipp_attribute_t* uri);
