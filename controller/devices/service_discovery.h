// DNS-SD questions to each live host's own mDNS responder (UDP 5353, legacy
// unicast): the service types it offers, the instances of each, and their
// TXT records, with the host's _device-info._tcp record. Three steps, each
// one datagram per question, asked through the asker engine (all hosts in
// parallel with a bound on sockets); a step is asked twice at most, and a
// host is done within a second whatever it answers. What is kept per host is
// bounded (service types, instances, TXT strings).
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "controller/asking/asker.h"
#include "controller/base/address.h"
#include "controller/devices/device_rules.h"

namespace hostsweep::controller {

inline constexpr int kServiceTries = 2;
inline constexpr std::chrono::milliseconds kServiceTryPatience{250};
// From a host's first question to its last answer, whatever it sends.
inline constexpr std::chrono::milliseconds kServiceHostTime{1000};
inline constexpr std::size_t kMostServiceTypes = 16;
inline constexpr std::size_t kMostInstances = 16;
inline constexpr std::size_t kMostAnnouncements = 128;

// What a host's responder said about itself.
struct ServiceFindings {
  std::vector<std::string> services;  // "_ipp._tcp" ..., sorted, each once
  std::vector<Announcement> said;     // "mdns:service", "mdns:<service>:<TXT key>"
};

class ServiceDiscovery {
 public:
  using Done = std::function<void(std::size_t position, ServiceFindings findings)>;

  ServiceDiscovery(EventLoop& loop, DatagramNetwork& network, std::size_t mostSockets);

  void Ask(std::size_t position, Address address);
  [[nodiscard]] bool Busy() const { return unfinished_ > 0; }
  // Hands every host that is done to `done`, once.
  void Take(const Done& done);

 private:
  class Host;

  Asker asker_;
  std::vector<std::pair<std::size_t, ServiceFindings>> ended_;
  std::size_t unfinished_ = 0;
};

}  // namespace hostsweep::controller
