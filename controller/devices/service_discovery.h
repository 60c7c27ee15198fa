// DNS-SD questions to each live host's own mDNS responder (UDP 5353, legacy
// unicast): the service types it offers, the instances of each, and their
// TXT records, with the host's _device-info._tcp record. Three steps, each
// one datagram per question, all hosts in parallel with a bound on sockets;
// a step is asked twice at most, and a host is done within a second whatever
// it answers.
//
// Each host's socket is connected to it, so no one else is heard; a host
// that floods is read a few datagrams per turn and costs only itself time.
// What is kept per host is bounded (service types, instances, TXT strings).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controller/base/address.h"
#include "controller/devices/device_rules.h"
#include "controller/system/udp_network.h"

namespace hostsweep::controller {

inline constexpr int kServiceTries = 2;
inline constexpr std::chrono::milliseconds kServiceTryPatience{250};
// From a host's first question to its last answer, whatever it sends.
inline constexpr std::chrono::milliseconds kServiceHostTime{1000};
inline constexpr std::chrono::milliseconds kServiceReadingPerTurn{20};
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

  ServiceDiscovery(UdpNetwork& network, std::size_t mostSockets);
  ~ServiceDiscovery();
  ServiceDiscovery(const ServiceDiscovery&) = delete;
  ServiceDiscovery& operator=(const ServiceDiscovery&) = delete;

  void Ask(std::size_t position, Address address);
  [[nodiscard]] bool Busy() const { return !queued_.empty() || !open_.empty(); }
  // Starts queued hosts, waits at most `timeout` for answers, sends the next
  // questions that are due, and hands every host that is done to `done`.
  void Poll(std::chrono::milliseconds timeout, const Done& done);

 private:
  struct Host;

  void StartQueued(const Done& done);
  // Reads what is waiting, up to a count; false when `readingEnds` came first.
  bool Read(Host& host, UdpNetwork::Clock::time_point readingEnds);
  void Advance(Host& host);
  void NextStep(Host& host);
  [[nodiscard]] std::chrono::milliseconds TimeToNextEvent() const;

  UdpNetwork& network_;
  std::size_t mostSockets_;
  std::deque<std::unique_ptr<Host>> queued_;
  std::vector<std::unique_ptr<Host>> open_;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace hostsweep::controller
