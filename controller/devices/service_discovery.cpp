#include "controller/devices/service_discovery.h"

#include <algorithm>
#include <memory>
#include <random>

#include "common/mdns.h"
#include "common/mdns_wire.h"
#include "controller/devices/ascii_text.h"
#include "controller/devices/dns_sd_message.h"

namespace hostsweep::controller {
namespace {

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

class ServiceDiscovery::Host : public Conversation {
 public:
  Host(ServiceDiscovery& discovery, std::size_t position, Address address)
      : discovery_(discovery), position_(position), address_(address) {}

  [[nodiscard]] std::vector<Datagram> Questions() const override {
    std::vector<Datagram> datagrams;
    for (const auto& question : questions_) {
      if (!question.answered) {
        datagrams.push_back(EncodeQuestion(id_, question.name, question.type));
      }
    }
    return datagrams;
  }
  void Take(std::span<const std::uint8_t> datagram) override {
    if (const auto records = ParseDnsSdAnswer(datagram, id_)) {
      TakeRecords(*records);
    }
  }
  [[nodiscard]] bool Answered() const override {
    return std::all_of(questions_.begin(), questions_.end(),
                       [](const Question& q) { return q.answered; });
  }
  bool NextStep() override {
    PrepareNextStep();
    id_ = NewId();
    return step_ != Step::kDone;
  }
  void End() override {
    std::sort(findings_.services.begin(), findings_.services.end());
    discovery_.ended_.emplace_back(position_, std::move(findings_));
  }

 private:
  void Say(std::string key, std::string value) {
    if (findings_.said.size() < kMostAnnouncements) {
      findings_.said.push_back({std::move(key), std::move(value)});
    }
  }

  void TakeType(const DnsName& type) {
    if (!IsServiceType(type) || types_.size() >= kMostServiceTypes ||
        std::any_of(types_.begin(), types_.end(),
                    [&](const auto& t) { return SameName(t, type); })) {
      return;
    }
    types_.push_back(type);
    findings_.services.push_back(ServiceText(type));
    Say("mdns:service", ServiceText(type));
  }

  void TakeInstance(const DnsName& instance) {
    const bool known = std::any_of(instances_.begin(), instances_.end(),
                                   [&](const auto& i) { return SameName(i, instance); });
    const bool ofAType = std::any_of(types_.begin(), types_.end(),
                                     [&](const auto& t) { return IsInstanceOf(instance, t); });
    if (!known && ofAType && instances_.size() < kMostInstances) {
      instances_.push_back(instance);
      Say("mdns:instance", instance[0]);
    }
  }

  // The owner of the record that gives the host's own address_ is its mDNS
  // host name; a responder may answer for others too (a proxy, a sleep proxy).
  void TakeAddress(const DnsSdRecord& record) {
    if (record.address == address_ && !namedItself_ && !record.owner.empty()) {
      namedItself_ = true;
      Say("mdns:host", mdns::JoinedLabels(record.owner));
    }
  }

  void TakeText(const DnsSdRecord& record) {
    const bool instance = std::any_of(instances_.begin(), instances_.end(),
                                      [&](const auto& i) { return SameName(i, record.owner); });
    const bool deviceInfo =
        record.owner.size() == 4 && SameName(record.owner, DeviceInfoName(record.owner[0]));
    if ((!instance && !deviceInfo) ||
        std::any_of(texted_.begin(), texted_.end(),
                    [&](const auto& t) { return SameName(t, record.owner); })) {
      return;
    }
    texted_.push_back(record.owner);
    const std::string prefix =
        "mdns:" + ServiceText(DnsName(record.owner.begin() + 1, record.owner.end())) + ":";
    for (const auto& entry : record.text) {
      const auto equals = entry.find('=');
      Say(prefix + entry.substr(0, equals),
          equals == std::string::npos ? std::string{} : entry.substr(equals + 1));
    }
  }

  void TakeRecords(const std::vector<DnsSdRecord>& records) {
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
      for (auto& question : questions_) {
        question.answered = question.answered ||
                            (question.type == record.type && SameName(question.name, record.owner));
      }
    }
  }

  // The next step_'s questions_: none left means done.
  void PrepareNextStep() {
    questions_.clear();
    if (step_ == Step::kTypes) {
      step_ = Step::kInstances;
      for (const auto& type : types_) {
        questions_.push_back({type, kPtrRecord});
      }
    } else if (step_ == Step::kInstances) {
      step_ = Step::kTexts;
      std::vector<std::string> deviceNames;
      for (const auto& instance : instances_) {
        questions_.push_back({instance, kTxtRecord});
        if (deviceNames.size() < kMostDeviceInfoNames &&
            std::none_of(deviceNames.begin(), deviceNames.end(),
                         [&](const auto& n) { return SameText(n, instance[0]); })) {
          deviceNames.push_back(instance[0]);
          questions_.push_back({DeviceInfoName(instance[0]), kTxtRecord});
        }
      }
      std::erase_if(questions_, [this](const Question& q) {
        return std::any_of(texted_.begin(), texted_.end(),
                           [&](const auto& t) { return SameName(t, q.name); });
      });
    } else {
      step_ = Step::kDone;
    }
    if (questions_.empty()) {
      step_ = Step::kDone;
    }
  }

  ServiceDiscovery& discovery_;
  std::size_t position_;
  Address address_;
  Step step_ = Step::kTypes;
  std::uint16_t id_ = NewId();
  std::vector<Question> questions_{{ServiceTypesName(), kPtrRecord}};
  std::vector<DnsName> types_{};
  std::vector<DnsName> instances_{};
  std::vector<DnsName> texted_{};  // owners whose TXT record came
  bool namedItself_ = false;
  ServiceFindings findings_{};
};

ServiceDiscovery::ServiceDiscovery(EventLoop& loop, DatagramNetwork& network,
                                   std::size_t mostSockets)
    : asker_(loop, network,
             {.tries = kServiceTries, .perTry = kServiceTryPatience, .most = kServiceHostTime},
             mostSockets) {}

void ServiceDiscovery::Ask(std::size_t position, Address address) {
  ++unfinished_;
  asker_.Ask(address, mdns::kPort, std::make_unique<Host>(*this, position, address));
}

void ServiceDiscovery::Take(const Done& done) {
  for (auto& [position, findings] : std::exchange(ended_, {})) {
    --unfinished_;
    done(position, std::move(findings));
  }
}

}  // namespace hostsweep::controller
