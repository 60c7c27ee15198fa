// A watch's last questions to the devices it is about to tell gone: one mDNS
// reverse lookup to port 5353 of each one's last address (legacy unicast,
// through the asker engine) and, on a directly connected network, one ARP
// request for that address (a link pass of one try), every device at once.
// A sleeping phone skips the sweep's echo requests and broadcasts for minutes
// yet often answers a question put to it alone; what answers within
// kLastQuestionWait was seen.
#pragma once

#include <chrono>
#include <utility>
#include <vector>

#include "controller/model/seen_host.h"
#include "controller/system/datagram_network.h"
#include "controller/system/event_loop.h"
#include "controller/system/link_socket.h"

namespace hostsweep::controller {

// What the questions may cost the next sweep at most.
inline constexpr std::chrono::milliseconds kLastQuestionWait{1000};

struct LastQuestionMeans {
  EventLoop& loop;
  DatagramNetwork& datagrams;
  LinkSocket* link;  // none: no ARP request (no packet socket, --no-arp)
  std::vector<LinkInterface> interfaces;
  double arpRate;  // requests per second
};

class LastQuestions {
 public:
  explicit LastQuestions(LastQuestionMeans means) : means_(std::move(means)) {}

  // Those of `hosts` that answered, each as given, seen by mDNS or ARP; an
  // ARP answer from a MAC other than the device's own is someone else's.
  // Returns once all have answered, or kLastQuestionWait after asking.
  std::vector<SeenHost> Ask(const std::vector<SeenHost>& hosts);

 private:
  LastQuestionMeans means_;
};

}  // namespace hostsweep::controller
