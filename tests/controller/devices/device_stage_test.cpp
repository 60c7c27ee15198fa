// The device stage against scripted hosts on a fake clock: what each kind of
// host ends as, that a hostile host costs only its own row, that a host
// behind a router is asked nothing, and that no host is asked for longer
// than its second.
#include "controller/devices/device_stage.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/controller/asking/fake_datagram_network.h"
#include "tests/controller/devices/dns_sd_answer.h"

namespace hostsweep::controller {
namespace {

const DnsName kIpp{"_ipp", "_tcp", "local"};
const DnsName kHttp{"_http", "_tcp", "local"};
const DnsName kOffice{"Office", "_ipp", "_tcp", "local"};

// Answers each question with the records it holds for that name and type;
// nothing when it holds none, as an mDNS responder does.
Responder Serving(std::vector<FakeRecord> records) {
  return [records = std::move(records)](const Bytes& request, int) {
    const auto question = ReadQuestion(request);
    std::vector<FakeRecord> answers;
    std::vector<FakeRecord> addresses;  // sent with every answer, as responders add them
    std::copy_if(records.begin(), records.end(), std::back_inserter(answers), [&](const auto& r) {
      return question && r.type == question->type && SameName(r.owner, question->name);
    });
    std::copy_if(records.begin(), records.end(), std::back_inserter(addresses),
                 [](const auto& r) { return r.type == kAddressRecord; });
    std::vector<std::optional<Bytes>> out;
    if (!answers.empty()) {
      out.emplace_back(DnsSdAnswer(question->id, answers, addresses));
    }
    return out;
  };
}

// Wrong IDs, a pointer loop, then far more service types than are kept,
// each with an instance whose TXT record is full.
std::vector<std::optional<Bytes>> Hostile(const Bytes& request, int) {
  const auto question = ReadQuestion(request);
  std::vector<std::optional<Bytes>> out;
  if (!question) {
    return out;
  }
  for (int i = 1; i <= 50; ++i) {
    out.emplace_back(
        DnsSdAnswer(static_cast<std::uint16_t>(question->id + i), {{kIpp, kPtrRecord, kOffice}}));
  }
  Bytes loop = DnsSdAnswer(question->id, {{ServiceTypesName(), kPtrRecord, {"x"}}});
  loop.insert(loop.end() - 3, {0xC0, static_cast<std::uint8_t>(loop.size() - 3)});
  out.emplace_back(std::move(loop));
  for (int datagram = 0; datagram < 10; ++datagram) {
    std::vector<FakeRecord> records;
    for (int i = 0; i < 64; ++i) {
      const DnsName type{"_evil" + std::to_string(datagram * 64 + i), "_tcp", "local"};
      const bool listing = SameName(question->name, ServiceTypesName());
      DnsName instance = type;
      instance.insert(instance.begin(), "x");
      records.push_back(listing ? FakeRecord{ServiceTypesName(), kPtrRecord, type}
                                : FakeRecord{question->name, kPtrRecord, instance});
    }
    out.emplace_back(DnsSdAnswer(
        question->id, records,
        {{question->name, kTxtRecord, {}, std::vector<std::string>(100, std::string(250, 'k'))}}));
  }
  return out;
}

// A Samba server's node status: its workstation and file server names.
Bytes SambaStatus(const Bytes& request) {
  node_status::NodeStatus status{};
  for (const std::uint8_t suffix : {0x00, 0x20}) {
    node_status::NameEntry entry{};
    entry.name.fill(' ');
    entry.name.back() = suffix;
    entry.flags = node_status::kActiveFlag;
    status.names.push_back(entry);
  }
  return node_status::EncodeReply(*node_status::ParseRequest(request), status);
}

struct HostCase {
  const char* what;
  Responder mdns;                    // none: silent
  std::vector<NetbiosName> netbios;  // what the name stage's node status found
  bool onLink;
  std::optional<DeviceFacts> expected;  // none: not asked
  Responder nodeStatus = nullptr;       // set: named by its worker, so asked here
  GivenNames given{};
};

std::vector<HostCase> Hosts() {
  std::vector<std::string> evilServices;
  for (std::size_t i = 0; i < kMostServiceTypes; ++i) {
    evilServices.push_back("_evil" + std::to_string(i) + "._tcp");
  }
  std::sort(evilServices.begin(), evilServices.end());
  return {
      {"a printer",
       Serving({{ServiceTypesName(), kPtrRecord, kIpp},
                {ServiceTypesName(), kPtrRecord, kHttp},
                {kIpp, kPtrRecord, kOffice},
                {kOffice, kTxtRecord, {}, {"ty=HP LaserJet 400", "usb_MFG=HP"}},
                {{"proxied", "local"}, kAddressRecord, {}, {}, 0x0A000099},
                {{"labprinter", "local"}, kAddressRecord, {}, {}, 0x0A000010}}),
       {},
       true,
       DeviceFacts{.type = "printer",
                   .make = "HP",
                   .model = "HP LaserJet 400",
                   .typeFrom = TypeSource::kMdns,
                   .services = {"_http._tcp", "_ipp._tcp"}},
       nullptr,
       {.mdnsHost = "labprinter.local", .dnsSd = "Office"}},
      {"hostile",
       Hostile,
       {},
       true,
       DeviceFacts{.services = evilServices},
       nullptr,
       {.dnsSd = "x"}},
      {"silent", nullptr, {}, true, DeviceFacts{}},
      {"a Samba server without mDNS",
       kRefused,
       {{0x00, false}, {0x20, false}, {0x00, true}},
       true,
       DeviceFacts{.type = "general purpose", .typeFrom = TypeSource::kNetbios}},
      {"behind a router",
       Serving({{ServiceTypesName(), kPtrRecord, kIpp}}),
       {},
       false,
       std::nullopt},
      {"a Samba server named by its worker",
       kRefused,
       {},
       true,
       DeviceFacts{.type = "general purpose", .typeFrom = TypeSource::kNetbios},
       Always(SambaStatus)},
  };
}

TEST(DeviceStage, EachHostEndsWithWhatItSaidWithinItsTimeWhateverTheOthersSend) {
  const auto hosts = Hosts();
  constexpr std::size_t kMostSockets = 2;
  const auto rules = DeviceRules::Parse(
      "80\tmdns:service=_ipp._tcp\tprinter\t-\t-\n80\tmdns:_ipp._tcp:usb_MFG=*\t-\t$\t-\n"
      "70\tmdns:_ipp._tcp:ty=*\t-\t-\t$\n20\tnetbios:suffix=20\tgeneral purpose\t-\t-\n");
  std::vector<Address> addresses;
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    addresses.push_back(static_cast<Address>(0x0A000010 + i));
  }
  ResultBook book(addresses);
  FakeNetwork network;
  network.costOfReading = milliseconds{1};
  EventLoop loop(std::make_unique<FakeNetwork::Waits>(network));
  ServiceDiscovery discovery(loop, network, kMostSockets);
  NameQueries nodeStatus(loop, network, kMostSockets);
  DeviceStage stage(discovery, nullptr, &nodeStatus, rules);
  std::vector<std::size_t> finished;
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    if (hosts[i].mdns) {
      network.responders[{addresses[i], kMdnsPort}] = hosts[i].mdns;
    }
    ASSERT_EQ(book.FileProbeReport("h" + std::to_string(i) + ",1,64,host,"), Filing::kFiled);
    book.FileLink(
        i, {.mac = hosts[i].onLink ? std::optional(MacAddress{2, 0, 0, 0, 0, 1}) : std::nullopt});
    if (hosts[i].nodeStatus) {
      network.responders[{addresses[i], kNetbiosPort}] = hosts[i].nodeStatus;
    } else {
      book.AwaitNames(i);  // the names come late, after the device's answers
    }
    finished.push_back(i);
  }
  stage.Enrich(book, finished);
  for (int turn = 0; turn < 1000 && stage.Busy(); ++turn) {
    loop.RunOnce(milliseconds{100});
    stage.Poll(book, milliseconds{0});
    if (turn == 200) {
      for (std::size_t i = 0; i < hosts.size(); ++i) {
        if (!hosts[i].nodeStatus) {
          book.FileNames(i, {.table = hosts[i].netbios});
        }
      }
    }
  }
  ASSERT_FALSE(stage.Busy());
  EXPECT_LE(network.mostOpen, 2 * kMostSockets);
  EXPECT_EQ(network.open, 0U);
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    EXPECT_TRUE(book.Ready(i)) << hosts[i].what;
    EXPECT_EQ(book.Results()[i].device, hosts[i].expected) << hosts[i].what;
    EXPECT_EQ(book.Results()[i].given.value_or(GivenNames{}), hosts[i].given) << hosts[i].what;
  }
  // Node status only where the name stage asked nothing.
  EXPECT_EQ(std::count_if(network.logs.begin(), network.logs.end(),
                          [](const auto& log) { return log.port == kNetbiosPort; }),
            1);
  for (const auto& log : network.logs) {
    ASSERT_TRUE(log.closed.has_value());
    EXPECT_LE(*log.closed, kServiceHostTime + kReadingPerTurn + network.costOfReading);
  }
}

}  // namespace
}  // namespace hostsweep::controller
