// An earlier sweep's XML document (hostsweep --xml), read as hostile as its
// JSON lines: no network, no DTD, no entity expanded, sizes bounded by the
// file read, attributes by the element. Only the facts a comparison needs are
// taken; checking them is the caller's, as for the JSON lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace hostsweep::controller {

// One IPv4 host of the document, its fields as written.
struct SweepXmlHost {
  std::string address;
  std::string name;
  std::string mac;     // with dashes, as the JSON lines write it
  bool found = false;  // up, or named by a name-only sweep
};

// Throws EarlierResultsError for anything that is not a whole hostsweep XML
// document. IPv6-only hosts are left out: a comparison is of IPv4 hosts.
std::vector<SweepXmlHost> ReadSweepXml(std::string_view bytes);

}  // namespace hostsweep::controller
