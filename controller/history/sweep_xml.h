// An earlier sweep's XML document (hostsweep --xml), read as hostile as its
// JSON lines: no network, no DTD, no entity expanded, sizes bounded by the
// file read. Only the facts a comparison needs are taken; checking them is
// the caller's, as for the JSON lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace hostsweep::controller {

// One host of the document, its fields as written.
struct SweepXmlHost {
  std::string address;  // IPv4, or a device heard over IPv6 alone: its first IPv6
  std::string name;
  std::string mac;     // with dashes, as the JSON lines write it
  bool found = false;  // up, or named by a name-only sweep
};

// Throws EarlierResultsError for anything that is not a whole hostsweep XML
// document.
std::vector<SweepXmlHost> ReadSweepXml(std::string_view bytes);

}  // namespace hostsweep::controller
