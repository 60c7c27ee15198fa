// An earlier sweep's XML document (hostsweep --xml), read as hostile as its
// JSON lines: no network, no DTD, no entity expanded, sizes bounded by the
// file read, attributes by the element. Only the facts a comparison needs are
// taken; checking them is the caller's, as for the JSON lines.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "controller/model/json_fields.h"

namespace hostsweep::controller {

// One host of the document, its fields as written.
struct SweepXmlHost {
  std::string address;  // IPv4, or a device heard over IPv6 alone: its first IPv6
  std::string name;
  std::string mac;  // with dashes, as the JSON lines write it
  // The elements of its script's tables that a row's fields are read back
  // from (what the device said it is), by the field's key.
  Json fields = Json::object();
  bool found = false;  // up, or named by a name-only sweep
};

// Hands each host to `take` as it is read, so that nothing holds them all.
// Throws EarlierResultsError for anything that is not a whole hostsweep XML
// document.
void ReadSweepXml(std::string_view bytes, const std::function<void(SweepXmlHost)>& take);

}  // namespace hostsweep::controller
