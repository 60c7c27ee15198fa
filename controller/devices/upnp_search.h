// UPnP devices on the swept links: one SSDP search multicast out of each
// link's interface when the sweep starts, the answers heard for a while
// after, joined to the hosts by their source address (only swept addresses
// are kept), and each live host's description fetched once over HTTP from
// the host itself, bounded in size and time. Its sockets and timers are on
// the event loop.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "controller/base/address.h"
#include "controller/devices/device_rules.h"
#include "controller/devices/ssdp_message.h"
#include "controller/system/datagram_network.h"
#include "controller/system/event_loop.h"
#include "controller/system/tcp_network.h"

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
  UpnpSearch(EventLoop& loop, DatagramNetwork& datagrams, TcpNetwork& tcp,
             const std::vector<Address>& localAddresses, std::vector<Address> swept);
  ~UpnpSearch();
  UpnpSearch(const UpnpSearch&) = delete;
  UpnpSearch& operator=(const UpnpSearch&) = delete;

  // What the host at `position` announced, once the search is over.
  void Ask(std::size_t position, Address address);
  [[nodiscard]] bool Busy() const {
    return !waiting_.empty() || !fetches_.empty() || !ended_.empty();
  }
  // Hands every host whose answers are all in to `done`, once.
  void Take(const Done& done);

 private:
  struct Heard {
    std::vector<std::string> targets;
    std::optional<DescriptionUrl> url;
  };
  struct Fetch;

  void ReadAnswers(DatagramSocket& socket);
  void StopListening();
  void StartFetches();
  void WatchFetch(Fetch& fetch);
  // Pumps the fetch, and ends it once over or at its `last` look.
  void Pump(Fetch& fetch, bool last);
  void EndFetch(Fetch& fetch);

  EventLoop& loop_;
  TcpNetwork& tcp_;
  std::vector<std::unique_ptr<DatagramSocket>> sockets_;  // while listening
  EventLoop::TimerId listeningEnds_ = 0;
  std::uint64_t readingTurn_ = 0;
  EventLoop::Clock::time_point readingEnds_{};
  std::vector<Address> swept_;  // sorted
  std::unordered_map<Address, Heard> heard_;
  std::deque<std::pair<std::size_t, Address>> waiting_;
  std::vector<std::unique_ptr<Fetch>> fetches_;
  std::vector<std::pair<std::size_t, std::vector<Announcement>>> ended_;
  std::vector<std::uint8_t> buffer_;
};

}  // namespace hostsweep::controller
