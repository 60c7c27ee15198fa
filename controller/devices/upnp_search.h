// UPnP devices on the swept links: one SSDP search multicast out of each
// link's interface when the sweep starts, the answers heard for a while
// after, joined to the hosts by their source address (only swept addresses
// are kept), and each live host's description fetched once over HTTP from
// the host itself, bounded in size and time.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "controller/base/address.h"
#include "controller/devices/device_rules.h"
#include "controller/devices/ssdp_message.h"
#include "controller/system/device_network.h"

namespace hostsweep::controller {

// MX is 1 s: a device answers within it, and the answer takes its time to come.
inline constexpr std::chrono::milliseconds kSsdpListening{1200};
// A description fetch, from connecting to the last byte.
inline constexpr std::chrono::milliseconds kDescriptionTime{1000};
inline constexpr std::size_t kMostFetchesAtOnce = 16;
// Search targets kept per host: its devices' and services' types.
inline constexpr std::size_t kMostTargetsPerHost = 16;
inline constexpr std::chrono::milliseconds kSsdpReadingPerTurn{20};

class UpnpSearch {
 public:
  using Done = std::function<void(std::size_t position, std::vector<Announcement> said)>;

  // Searches out of each interface in `localAddresses` now; keeps answers
  // from `swept` addresses alone.
  UpnpSearch(DeviceNetwork& network, const std::vector<Address>& localAddresses,
             std::vector<Address> swept);
  ~UpnpSearch();
  UpnpSearch(const UpnpSearch&) = delete;
  UpnpSearch& operator=(const UpnpSearch&) = delete;

  // What the host at `position` announced, once the search is over.
  void Ask(std::size_t position, Address address);
  [[nodiscard]] bool Busy() const { return !waiting_.empty() || !fetches_.empty(); }
  void Poll(std::chrono::milliseconds timeout, const Done& done);

 private:
  struct Heard {
    std::vector<std::string> targets;
    std::optional<DescriptionUrl> url;
  };
  struct Fetch;

  [[nodiscard]] bool Listening() const;
  void ReadAnswers();
  void StartFetches(const Done& done);
  // True when the fetch is over.
  bool Pump(Fetch& fetch);

  DeviceNetwork& network_;
  DeviceNetwork::Clock::time_point started_;
  std::vector<std::unique_ptr<LinkMulticastSocket>> sockets_;
  std::vector<Address> swept_;  // sorted
  std::unordered_map<Address, Heard> heard_;
  std::deque<std::pair<std::size_t, Address>> waiting_;
  std::vector<std::unique_ptr<Fetch>> fetches_;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace hostsweep::controller
