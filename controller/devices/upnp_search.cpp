#include "controller/devices/upnp_search.h"

#include <algorithm>
#include <utility>

#include "controller/devices/http_response.h"
#include "controller/devices/upnp_description.h"

namespace hostsweep::controller {
namespace {

using std::chrono::milliseconds;
using TimePoint = DeviceNetwork::Clock::time_point;

constexpr std::size_t kAnswerBufferSize = 65536;
// "urn:schemas-upnp-org:device:MediaServer:1": a device's type, not a service's.
constexpr std::string_view kDeviceTypeMark = ":device:";

}  // namespace

struct UpnpSearch::Fetch {
  std::size_t position;
  std::vector<Announcement> said;
  std::unique_ptr<TcpExchange> exchange{};
  std::string received{};
  TimePoint started{};
};

UpnpSearch::UpnpSearch(DeviceNetwork& network, const std::vector<Address>& localAddresses,
                       std::vector<Address> swept)
    : network_(network), started_(network.Now()), swept_(std::move(swept)) {
  std::sort(swept_.begin(), swept_.end());
  const std::string search = SsdpSearchRequest();
  const std::span<const std::uint8_t> datagram(reinterpret_cast<const std::uint8_t*>(search.data()),
                                               search.size());
  for (const Address local : localAddresses) {
    auto socket = network_.OpenMulticast(local);
    if (socket && socket->Send(kSsdpGroup, kSsdpPort, datagram)) {
      sockets_.push_back(std::move(socket));
    }
  }
}

UpnpSearch::~UpnpSearch() = default;

void UpnpSearch::Ask(std::size_t position, Address address) {
  waiting_.emplace_back(position, address);
}

bool UpnpSearch::Listening() const {
  return !sockets_.empty() && network_.Now() < started_ + kSsdpListening;
}

void UpnpSearch::Poll(milliseconds timeout, const Done& done) {
  std::vector<LinkMulticastSocket*> sockets;
  if (Listening()) {
    for (const auto& socket : sockets_) {
      sockets.push_back(socket.get());
    }
  }
  std::vector<TcpExchange*> exchanges;
  auto next = Listening() ? started_ + kSsdpListening : TimePoint::max();
  for (const auto& fetch : fetches_) {
    exchanges.push_back(fetch->exchange.get());
    next = std::min(next, fetch->started + kDescriptionTime);
  }
  const auto untilNext =
      std::max(std::chrono::ceil<milliseconds>(next - network_.Now()), milliseconds{0});
  if (!sockets.empty() || !exchanges.empty()) {
    network_.Wait(sockets, exchanges, std::min(timeout, untilNext));
  }
  if (Listening()) {
    ReadAnswers();
  } else {
    sockets_.clear();
    StartFetches(done);
  }
  std::erase_if(fetches_, [&](const std::unique_ptr<Fetch>& fetch) {
    if (!Pump(*fetch)) {
      return false;
    }
    done(fetch->position, std::move(fetch->said));
    return true;
  });
}

// Reads for a bounded time per turn: a device that floods the search's port
// delays no one, and the listening ends on time whatever it sends.
void UpnpSearch::ReadAnswers() {
  const auto readingEnds = network_.Now() + kSsdpReadingPerTurn;
  for (const auto& socket : sockets_) {
    Address from = 0;
    while (network_.Now() < readingEnds) {
      buffer_.resize(kAnswerBufferSize);
      if (socket->Receive(buffer_, from) != Receipt::kDatagram) {
        break;
      }
      const auto answer = ParseSsdpAnswer(buffer_);
      if (!answer || !std::binary_search(swept_.begin(), swept_.end(), from)) {
        continue;
      }
      Heard& heard = heard_[from];
      if (heard.targets.size() < kMostTargetsPerHost &&
          std::find(heard.targets.begin(), heard.targets.end(), answer->target) ==
              heard.targets.end()) {
        heard.targets.push_back(answer->target);
      }
      if (!heard.url) {
        heard.url = DescriptionOn(answer->location, from);
      }
    }
  }
}

void UpnpSearch::StartFetches(const Done& done) {
  while (!waiting_.empty() && fetches_.size() < kMostFetchesAtOnce) {
    const auto [position, address] = waiting_.front();
    waiting_.pop_front();
    auto fetch = std::make_unique<Fetch>(Fetch{.position = position, .said = {}});
    const auto heard = heard_.find(address);
    if (heard != heard_.end()) {
      for (const auto& target : heard->second.targets) {
        if (target.find(kDeviceTypeMark) != std::string::npos) {
          fetch->said.push_back({"ssdp:deviceType", target});
        }
      }
      if (const auto& url = heard->second.url) {
        fetch->exchange = network_.Connect(url->host, url->port, HttpGetRequest(*url));
        fetch->started = network_.Now();
      }
    }
    if (fetch->exchange) {
      fetches_.push_back(std::move(fetch));
    } else {
      done(fetch->position, std::move(fetch->said));
    }
  }
}

bool UpnpSearch::Pump(Fetch& fetch) {
  const StreamState state = fetch.exchange->Pump(fetch.received, kMostResponseBytes + 1);
  const auto reading = ReadHttpResponse(fetch.received, state != StreamState::kOpen);
  if (reading.outcome == HttpOutcome::kBody) {
    if (const auto description = ParseUpnpDescription(reading.body)) {
      const auto said = UpnpAnnouncements(*description);
      fetch.said.insert(fetch.said.end(), said.begin(), said.end());
    }
  }
  const bool over = reading.outcome != HttpOutcome::kIncomplete ||
                    network_.Now() >= fetch.started + kDescriptionTime;
  if (over) {
    fetch.exchange.reset();
  }
  return over;
}

}  // namespace hostsweep::controller
