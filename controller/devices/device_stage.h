// What each live host on a swept link says it is, as a stage of the sweep
// after the names: its DNS-SD services and TXT records, its UPnP answers and
// description, and the NetBIOS name table the name stage's node status
// brought (a host the name stage did not ask, named already, is asked for
// its node status here), read through the rule table. Its askers are on the
// event loop, and ask a host the link pass heard at once, while its worker
// probes it; a host's result waits for its answers, and for its names when
// those are still coming, so that all are read together.
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
#include "controller/names/name_queries.h"

namespace hostsweep::controller {

// The rules' words for a NetBIOS name table: "netbios:suffix" for a unique
// name, "netbios:group" for a group name, the suffix in two hex digits.
std::vector<Announcement> NetbiosAnnouncements(const std::vector<NetbiosName>& table);

// The names the device gives itself among what it said: its mDNS host name,
// the instance name most of its DNS-SD services share, its UPnP friendly name.
GivenNames GivenNamesOf(const std::vector<Announcement>& said);

class DeviceStage : public Stage {
 public:
  // `upnp`: none where no link is searched; `nodeStatus`: none where no
  // host is asked for its NetBIOS name table (--no-extra-names).
  DeviceStage(ServiceDiscovery& discovery, UpnpSearch* upnp, NameQueries* nodeStatus,
              const DeviceRules& rules)
      : discovery_(discovery), upnp_(upnp), nodeStatus_(nodeStatus), rules_(rules) {}

  void Heard(const ResultBook& book, const std::vector<std::size_t>& heard) override;
  void Enrich(ResultBook& book, const std::vector<std::size_t>& finished) override;
  [[nodiscard]] bool Busy() const override { return !pending_.empty(); }
  void Poll(ResultBook& book, std::chrono::milliseconds timeout) override;

 private:
  struct Pending {
    std::optional<ServiceFindings> mdns;
    std::optional<std::vector<Announcement>> upnp;
    bool nodeStatusAsked = false;
    bool nodeStatusUsed = false;  // named by its worker: the name stage asked nothing
    std::optional<std::vector<NetbiosName>> netbios{};  // the table asked for here
    bool awaited = false;  // its result is finished and waits for the answers
  };

  // Asks the services and the UPnP search about the host at `position`, once.
  Pending& Ask(std::size_t position, Address address);
  // Files each host whose answers and names are all in.
  void FileAnswered(ResultBook& book);

  ServiceDiscovery& discovery_;
  UpnpSearch* upnp_;
  NameQueries* nodeStatus_;
  const DeviceRules& rules_;
  std::map<std::size_t, Pending> pending_;
};

}  // namespace hostsweep::controller
