#include "controller/devices/service_discovery.h"

#include <algorithm>
#include <random>

#include "common/mdns.h"
#include "common/mdns_wire.h"
#include "controller/devices/ascii_text.h"
#include "controller/devices/dns_sd_message.h"

namespace hostsweep::controller {
namespace {

using std::chrono::milliseconds;
using TimePoint = UdpNetwork::Clock::time_point;

constexpr int kReadsPerTurn = 8;
constexpr std::size_t kBufferSize = 65536;
// _device-info._tcp names asked per host: the names its instances go by.
constexpr std::size_t kMostDeviceInfoNames = 2;

enum class Step { kTypes, kInstances, kTexts, kDone };

struct Question {
  DnsName name;
  std::uint16_t type;
  bool answered = false;
};

std::uint16_t NewId() {
  static std::mt19937 random{std::random_device{}()};
  return static_cast<std::uint16_t>(random());
}

// "_ipp._tcp.local" and the like: a service type (RFC 6763 7).
bool IsServiceType(const DnsName& name) {
  return name.size() >= 3 && name[0].size() > 1 && name[0][0] == '_' &&
         (SameText(name[1], "_tcp") || SameText(name[1], "_udp"));
}

std::string ServiceText(const DnsName& type) { return type[0] + "." + type[1]; }

// `name` is `type` with one label before it: an instance of the type.
bool IsInstanceOf(const DnsName& name, const DnsName& type) {
  return name.size() == type.size() + 1 && SameName(DnsName(name.begin() + 1, name.end()), type);
}

DnsName DeviceInfoName(const std::string& label) {
  return {label, "_device-info", "_tcp", "local"};
}

}  // namespace

struct ServiceDiscovery::Host {
  std::size_t position;
  Address address;
  std::unique_ptr<UdpSocket> socket{};
  TimePoint started{};
  TimePoint stepStarted{};
  Step step = Step::kTypes;
  std::uint16_t id = NewId();
  int tries = 0;
  std::vector<Question> questions{{ServiceTypesName(), kPtrRecord}};
  std::vector<DnsName> types{};
  std::vector<DnsName> instances{};
  std::vector<DnsName> texted{};  // owners whose TXT record came
  bool namedItself = false;
  ServiceFindings findings{};

  [[nodiscard]] TimePoint NextEvent() const {
    return std::min(stepStarted + kServiceTryPatience * tries, started + kServiceHostTime);
  }
  [[nodiscard]] bool Ended() const { return step == Step::kDone; }

  void Say(std::string key, std::string value) {
    if (findings.said.size() < kMostAnnouncements) {
      findings.said.push_back({std::move(key), std::move(value)});
    }
  }

  void TakeType(const DnsName& type) {
    if (!IsServiceType(type) || types.size() >= kMostServiceTypes ||
        std::any_of(types.begin(), types.end(), [&](const auto& t) { return SameName(t, type); })) {
      return;
    }
    types.push_back(type);
    findings.services.push_back(ServiceText(type));
    Say("mdns:service", ServiceText(type));
  }

  void TakeInstance(const DnsName& instance) {
    const bool known = std::any_of(instances.begin(), instances.end(),
                                   [&](const auto& i) { return SameName(i, instance); });
    const bool ofAType = std::any_of(types.begin(), types.end(),
                                     [&](const auto& t) { return IsInstanceOf(instance, t); });
    if (!known && ofAType && instances.size() < kMostInstances) {
      instances.push_back(instance);
      Say("mdns:instance", instance[0]);
    }
  }

  // The owner of the record that gives the host's own address is its mDNS
  // host name; a responder may answer for others too (a proxy, a sleep proxy).
  void TakeAddress(const DnsSdRecord& record) {
    if (record.address == address && !namedItself && !record.owner.empty()) {
      namedItself = true;
      Say("mdns:host", mdns::JoinedLabels(record.owner));
    }
  }

  void TakeText(const DnsSdRecord& record) {
    const bool instance = std::any_of(instances.begin(), instances.end(),
                                      [&](const auto& i) { return SameName(i, record.owner); });
    const bool deviceInfo =
        record.owner.size() == 4 && SameName(record.owner, DeviceInfoName(record.owner[0]));
    if ((!instance && !deviceInfo) || std::any_of(texted.begin(), texted.end(), [&](const auto& t) {
          return SameName(t, record.owner);
        })) {
      return;
    }
    texted.push_back(record.owner);
    const std::string prefix =
        "mdns:" + ServiceText(DnsName(record.owner.begin() + 1, record.owner.end())) + ":";
    for (const auto& entry : record.text) {
      const auto equals = entry.find('=');
      Say(prefix + entry.substr(0, equals),
          equals == std::string::npos ? std::string{} : entry.substr(equals + 1));
    }
  }

  void Take(const std::vector<DnsSdRecord>& records) {
    for (const auto& record : records) {
      if (record.type == kPtrRecord && SameName(record.owner, ServiceTypesName())) {
        TakeType(record.target);
      } else if (record.type == kPtrRecord) {
        TakeInstance(record.target);
      } else if (record.type == kAddressRecord) {
        TakeAddress(record);
      } else {
        TakeText(record);
      }
      for (auto& question : questions) {
        question.answered = question.answered ||
                            (question.type == record.type && SameName(question.name, record.owner));
      }
    }
  }

  // The next step's questions: none left means done.
  void PrepareNextStep() {
    questions.clear();
    if (step == Step::kTypes) {
      step = Step::kInstances;
      for (const auto& type : types) {
        questions.push_back({type, kPtrRecord});
      }
    } else if (step == Step::kInstances) {
      step = Step::kTexts;
      std::vector<std::string> deviceNames;
      for (const auto& instance : instances) {
        questions.push_back({instance, kTxtRecord});
        if (deviceNames.size() < kMostDeviceInfoNames &&
            std::none_of(deviceNames.begin(), deviceNames.end(),
                         [&](const auto& n) { return SameText(n, instance[0]); })) {
          deviceNames.push_back(instance[0]);
          questions.push_back({DeviceInfoName(instance[0]), kTxtRecord});
        }
      }
      std::erase_if(questions, [this](const Question& q) {
        return std::any_of(texted.begin(), texted.end(),
                           [&](const auto& t) { return SameName(t, q.name); });
      });
    } else {
      step = Step::kDone;
    }
    if (questions.empty()) {
      step = Step::kDone;
    }
  }
};

ServiceDiscovery::ServiceDiscovery(UdpNetwork& network, std::size_t mostSockets)
    : network_(network), mostSockets_(std::max<std::size_t>(mostSockets, 1)) {}

ServiceDiscovery::~ServiceDiscovery() = default;

void ServiceDiscovery::Ask(std::size_t position, Address address) {
  queued_.push_back(std::make_unique<Host>(Host{.position = position, .address = address}));
}

void ServiceDiscovery::Poll(milliseconds timeout, const Done& done) {
  StartQueued(done);
  std::vector<UdpSocket*> sockets;
  for (const auto& host : open_) {
    sockets.push_back(host->socket.get());
  }
  if (!sockets.empty()) {
    network_.Wait(sockets, std::min(timeout, TimeToNextEvent()));
  }
  // Hosts left unread are read first in the next turn, and not moved on
  // before they are: an answer already waiting still counts.
  const auto readingEnds = network_.Now() + kServiceReadingPerTurn;
  std::size_t unreadFrom = open_.size();
  for (std::size_t i = 0; i < open_.size(); ++i) {
    if (unreadFrom == open_.size() && !Read(*open_[i], readingEnds)) {
      unreadFrom = i;
    }
    if (i < unreadFrom) {
      Advance(*open_[i]);
    }
  }
  std::rotate(open_.begin(), open_.begin() + static_cast<std::ptrdiff_t>(unreadFrom), open_.end());
  for (auto& host : open_) {
    if (host->Ended()) {
      host->socket.reset();
      std::sort(host->findings.services.begin(), host->findings.services.end());
      done(host->position, std::move(host->findings));
    }
  }
  std::erase_if(open_, [](const auto& host) { return host->Ended(); });
  StartQueued(done);
}

void ServiceDiscovery::StartQueued(const Done& done) {
  while (open_.size() < mostSockets_ && !queued_.empty()) {
    auto host = std::move(queued_.front());
    queued_.pop_front();
    host->socket = network_.Open(host->address, mdns::kPort);
    if (!host->socket) {
      done(host->position, {});
      continue;
    }
    host->started = host->stepStarted = network_.Now();
    Advance(*host);
    open_.push_back(std::move(host));
  }
}

bool ServiceDiscovery::Read(Host& host, TimePoint readingEnds) {
  for (int read = 0; read < kReadsPerTurn && !host.Ended(); ++read) {
    if (network_.Now() >= readingEnds) {
      return false;
    }
    buffer_.resize(kBufferSize);
    const Receipt receipt = host.socket->Receive(buffer_);
    if (receipt == Receipt::kNothing) {
      return true;
    }
    if (receipt == Receipt::kRefused) {
      host.step = Step::kDone;
      return true;
    }
    if (const auto records = ParseDnsSdAnswer(buffer_, host.id)) {
      host.Take(*records);
    }
  }
  return true;
}

// Moves on when the step's questions are all answered or have had their
// tries; asks again what is unanswered when a try's patience is over.
void ServiceDiscovery::Advance(Host& host) {
  while (!host.Ended()) {
    const auto now = network_.Now();
    if (now >= host.started + kServiceHostTime) {
      host.step = Step::kDone;
      return;
    }
    const bool answered = std::all_of(host.questions.begin(), host.questions.end(),
                                      [](const Question& q) { return q.answered; });
    if (!answered && now < host.NextEvent()) {
      return;
    }
    if (answered || host.tries == kServiceTries) {
      NextStep(host);
      continue;
    }
    ++host.tries;
    for (const auto& question : host.questions) {
      if (!question.answered &&
          !host.socket->Send(EncodeQuestion(host.id, question.name, question.type))) {
        host.step = Step::kDone;
        return;
      }
    }
  }
}

void ServiceDiscovery::NextStep(Host& host) {
  host.PrepareNextStep();
  host.id = NewId();
  host.tries = 0;
  host.stepStarted = network_.Now();
}

milliseconds ServiceDiscovery::TimeToNextEvent() const {
  auto next = TimePoint::max();
  for (const auto& host : open_) {
    next = std::min(next, host->NextEvent());
  }
  const auto left = std::chrono::ceil<milliseconds>(next - network_.Now());
  return std::max(left, milliseconds{0});
}

}  // namespace hostsweep::controller
