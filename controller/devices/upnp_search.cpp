#include "controller/devices/upnp_search.h"

#include <algorithm>
#include <utility>

#include "controller/devices/http_response.h"
#include "controller/devices/upnp_description.h"

namespace hostsweep::controller {
namespace {

constexpr std::size_t kAnswerBufferSize = 65536;
// "urn:schemas-upnp-org:device:MediaServer:1": a device's type, not a service's.
constexpr std::string_view kDeviceTypeMark = ":device:";

}  // namespace

struct UpnpSearch::Fetch {
  std::size_t position;
  std::vector<Announcement> said;
  std::unique_ptr<TcpExchange> exchange{};
  std::string received{};
  EventLoop::TimerId timeUp = 0;
};

UpnpSearch::UpnpSearch(EventLoop& loop, DatagramNetwork& datagrams, TcpNetwork& tcp,
                       const std::vector<Address>& localAddresses, std::vector<Address> swept)
    : loop_(loop), tcp_(tcp), swept_(std::move(swept)) {
  std::sort(swept_.begin(), swept_.end());
  const std::string search = SsdpSearchRequest();
  const std::span<const std::uint8_t> datagram(reinterpret_cast<const std::uint8_t*>(search.data()),
                                               search.size());
  for (const Address local : localAddresses) {
    auto socket = datagrams.OpenMulticast(local);
    if (socket && socket->SendTo(kSsdpGroup, kSsdpPort, datagram)) {
      DatagramSocket& listening = *socket;
      sockets_.push_back(std::move(socket));
      loop_.Watch(listening.Handle(), kReadable,
                  [this, &listening](unsigned /*ready*/) { ReadAnswers(listening); });
    }
  }
  if (!sockets_.empty()) {
    listeningEnds_ = loop_.After(kSsdpListening, [this] { StopListening(); });
  }
}

UpnpSearch::~UpnpSearch() {
  for (const auto& socket : sockets_) {
    loop_.Unwatch(socket->Handle());
  }
  loop_.Cancel(listeningEnds_);
  for (const auto& fetch : fetches_) {
    loop_.Unwatch(fetch->exchange->Handle());
    loop_.Cancel(fetch->timeUp);
  }
}

void UpnpSearch::Ask(std::size_t position, Address address) {
  waiting_.emplace_back(position, address);
  if (sockets_.empty()) {
    StartFetches();
  }
}

void UpnpSearch::Take(const Done& done) {
  for (auto& [position, said] : std::exchange(ended_, {})) {
    done(position, std::move(said));
  }
}

// Reads for a bounded time per turn: a device that floods the search's port
// delays no one, and the listening ends on time whatever it sends.
void UpnpSearch::ReadAnswers(DatagramSocket& socket) {
  if (loop_.Turn() != readingTurn_) {
    readingTurn_ = loop_.Turn();
    readingEnds_ = loop_.Now() + kSsdpReadingPerTurn;
  }
  Address from = 0;
  while (loop_.Now() < readingEnds_) {
    buffer_.resize(kAnswerBufferSize);
    if (socket.Receive(buffer_, from) != Receipt::kDatagram) {
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

void UpnpSearch::StopListening() {
  listeningEnds_ = 0;
  for (const auto& socket : sockets_) {
    loop_.Unwatch(socket->Handle());
  }
  sockets_.clear();
  StartFetches();
}

void UpnpSearch::StartFetches() {
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
        fetch->exchange = tcp_.Connect(url->host, url->port, HttpGetRequest(*url));
      }
    }
    if (!fetch->exchange) {
      ended_.emplace_back(fetch->position, std::move(fetch->said));
      continue;
    }
    Fetch& started = *fetch;
    fetches_.push_back(std::move(fetch));
    started.timeUp = loop_.After(kDescriptionTime, [this, &started] {
      started.timeUp = 0;
      Pump(started, /*last=*/true);
    });
    WatchFetch(started);
  }
}

void UpnpSearch::WatchFetch(Fetch& fetch) {
  loop_.Watch(fetch.exchange->Handle(), kReadable | (fetch.exchange->Sending() ? kWritable : 0U),
              [this, &fetch](unsigned /*ready*/) { Pump(fetch, /*last=*/false); });
}

void UpnpSearch::Pump(Fetch& fetch, bool last) {
  const bool sending = fetch.exchange->Sending();
  const StreamState state = fetch.exchange->Pump(fetch.received, kMostResponseBytes + 1);
  const auto reading = ReadHttpResponse(fetch.received, state != StreamState::kOpen);
  if (reading.outcome == HttpOutcome::kIncomplete && !last) {
    if (sending && !fetch.exchange->Sending()) {
      WatchFetch(fetch);  // the request is out: only the answer is waited for
    }
    return;
  }
  if (reading.outcome == HttpOutcome::kBody) {
    if (const auto description = ParseUpnpDescription(reading.body)) {
      const auto said = UpnpAnnouncements(*description);
      fetch.said.insert(fetch.said.end(), said.begin(), said.end());
    }
  }
  EndFetch(fetch);
}

void UpnpSearch::EndFetch(Fetch& fetch) {
  loop_.Unwatch(fetch.exchange->Handle());
  loop_.Cancel(fetch.timeUp);
  fetch.exchange.reset();
  ended_.emplace_back(fetch.position, std::move(fetch.said));
  std::erase_if(fetches_, [&fetch](const auto& f) { return f.get() == &fetch; });
  StartFetches();
}

}  // namespace hostsweep::controller
