// State shared by the files of the printer registry; not used elsewhere.
#pragma once

// Set while LoadAllPrinters and RemoveAllPrinters run: the printcap file is
// then written once at their end instead of once per printer added or
// removed.
extern bool PrintcapDeferred;

// The port printer and class URIs carry: the first listener's, else the IPP
// default.
int PrinterURIPort();
