// What each live host on a swept link says it is, as a stage of the sweep
// after the names: its DNS-SD services and TXT records, its UPnP answers and
// description, and the NetBIOS name table the name stage's node status
// brought, read through the rule table. A host's result waits for its
// answers, and for its names when those are still coming, so that all are
// read together.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <vector>

#include "controller/base/stage.h"
#include "controller/devices/device_rules.h"
#include "controller/devices/service_discovery.h"
#include "controller/devices/upnp_search.h"

namespace hostsweep::controller {

// The rules' words for a NetBIOS name table: "netbios:suffix" for a unique
// name, "netbios:group" for a group name, the suffix in two hex digits.
std::vector<Announcement> NetbiosAnnouncements(const std::vector<NetbiosName>& table);

class DeviceStage : public Stage {
 public:
  // `upnp`: none where no link is searched.
  DeviceStage(ServiceDiscovery& discovery, UpnpSearch* upnp, const DeviceRules& rules)
      : discovery_(discovery), upnp_(upnp), rules_(rules) {}

  void Enrich(ResultBook& book, const std::vector<std::size_t>& finished) override;
  [[nodiscard]] bool Busy() const override { return !pending_.empty(); }
  void Poll(ResultBook& book, std::chrono::milliseconds timeout) override;

 private:
  struct Pending {
    std::optional<ServiceFindings> mdns;
    std::optional<std::vector<Announcement>> upnp;
  };

  // Files each host whose answers and names are all in.
  void FileAnswered(ResultBook& book);

  ServiceDiscovery& discovery_;
  UpnpSearch* upnp_;
  const DeviceRules& rules_;
  std::map<std::size_t, Pending> pending_;
};

}  // namespace hostsweep::controller
