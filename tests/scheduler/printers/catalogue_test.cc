// VORN-Get-Devices and VORN-Get-PPDs: the catalogue through the
// requested-attributes filter, always successful-ok.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scheduler/printers/catalogue.h"
#include "scheduler/http/client.h"
#include "scheduler/ipp/ipp.h"
#include "vorn/ipp.h"

namespace {

void AddDevice(ipp_t* to, const char* cls, const char* info, const char* uri) {
  if (to->attrs) ippAddSeparator(to);
  ippAddString(to, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "device-class", "", cls);
  ippAddString(to, IPP_TAG_PRINTER, IPP_TAG_TEXT, "device-info", "", info);
  ippAddString(to, IPP_TAG_PRINTER, IPP_TAG_TEXT, "device-make-and-model", "", "Unknown");
  ippAddString(to, IPP_TAG_PRINTER, IPP_TAG_URI, "device-uri", "", uri);
}

void AddDriver(ipp_t* to, const char* name, const char* make) {
  if (to->attrs) ippAddSeparator(to);
  ippAddString(to, IPP_TAG_PRINTER, IPP_TAG_NAME, "ppd-name", "", name);
  ippAddString(to, IPP_TAG_PRINTER, IPP_TAG_TEXT, "ppd-make", "", make);
  ippAddString(to, IPP_TAG_PRINTER, IPP_TAG_TEXT, "ppd-make-and-model", "", make);
  ippAddString(to, IPP_TAG_PRINTER, IPP_TAG_LANGUAGE, "ppd-natural-language", "", "en");
}

// "name=first value" per attribute, "-" per separator.
std::vector<std::string> Lines(const ipp_t* ipp) {
  std::vector<std::string> out;
  for (const ipp_attribute_t* a = ipp->attrs; a; a = a->next)
    out.push_back(a->name.empty() ? "-" : a->name + "=" + a->values.at(0).string.text);
  return out;
}

class Catalogue : public ::testing::Test {
 protected:
  void SetUp() override {
    con_.http.fd = -1;
    DeviceCatalogue.reset(ippNew());
    DriverCatalogue.reset(ippNew());
  }
  void TearDown() override {
    DeviceCatalogue.reset(ippNew());
    DriverCatalogue.reset(ippNew());
  }
  // Runs `handler` on a request with `requested` (none when empty); the
  // response's attributes after the two the dispatcher adds are not there.
  ipp_t* Run(ipp_handler_t handler, std::vector<const char*> requested) {
    con_.ipp_request.reset(ippNew());
    if (!requested.empty())
      ippAddStrings(con_.ipp_request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", "",
                    requested);
    con_.ipp_response.reset(ippNew());
    con_.ipp_response->op_status = 0x0400;  // must be replaced by the handler
    handler(&con_, nullptr);
    return con_.ipp_response.get();
  }
  client_t con_;
};

TEST_F(Catalogue, EmptyCataloguesAnswerOkWithNothing) {
  for (ipp_handler_t handler : {get_devices, get_ppds}) {
    ipp_t* r = Run(handler, {});
    EXPECT_EQ(r->op_status, IPP_OK);
    EXPECT_EQ(r->attrs, nullptr);
  }
}

TEST_F(Catalogue, ListsGoThroughTheFilterAndStayOk) {
  AddDevice(DeviceCatalogue.get(), "direct", "USB Printer 1", "usb:/dev/usb/lp0");
  AddDevice(DeviceCatalogue.get(), "network", "Unknown Network Device (smb)", "smb");
  AddDriver(DriverCatalogue.get(), "raw", "Raw");
  AddDriver(DriverCatalogue.get(), "lab/lab.ppd", "Lab");
  const struct {
    const char* what;
    ipp_handler_t handler;
    std::vector<const char*> requested;
    std::vector<std::string> lines;
  } cases[] = {
      {"devices, everything", get_devices, {},
       {"device-class=direct", "device-info=USB Printer 1", "device-make-and-model=Unknown",
        "device-uri=usb:/dev/usb/lp0", "-", "device-class=network", "device-info=Unknown Network Device (smb)",
        "device-make-and-model=Unknown", "device-uri=smb"}},
      {"devices, two names", get_devices, {"device-uri", "device-class"},
       {"device-class=direct", "device-uri=usb:/dev/usb/lp0", "-", "device-class=network", "device-uri=smb"}},
      {"drivers, all", get_ppds, {"all"},
       {"ppd-name=raw", "ppd-make=Raw", "ppd-make-and-model=Raw", "ppd-natural-language=en", "-",
        "ppd-name=lab/lab.ppd", "ppd-make=Lab", "ppd-make-and-model=Lab", "ppd-natural-language=en"}},
      {"drivers, one name", get_ppds, {"ppd-name"}, {"ppd-name=raw", "-", "ppd-name=lab/lab.ppd"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ipp_t* r = Run(c.handler, c.requested);
    // Unlike the printer and job queries, a narrowed listing is still plain ok.
    EXPECT_EQ(r->op_status, IPP_OK);
    EXPECT_EQ(Lines(r), c.lines);
  }
  // The reply holds copies: the catalogue may be replaced while it is sent.
  ipp_t* r = Run(get_devices, {"device-uri"});
  DeviceCatalogue.reset(ippNew());
  EXPECT_EQ(Lines(r).front(), "device-uri=usb:/dev/usb/lp0");
}

}  // namespace
