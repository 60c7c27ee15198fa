// The sweep's results: one per address, the facts each stage found about it
// and what they add up to.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "controller/base/address.h"
#include "controller/base/enum_text.h"
#include "controller/base/mac_address.h"

namespace hostsweep::controller {

enum class State {
  kPending,   // no report yet
  kAlive,     // answered the echo request
  kDead,      // did not answer twice
  kNamed,     // name-only sweep: the address has a name
  kUnnamed,   // name-only sweep: it has none
  kNoReport,  // the worker chain ended (or was ended) without reporting it
  kSilent,    // did not answer echo, but answered on the link during the sweep
  // No verdict: it answered ARP, but its echo requests found no room in the
  // neighbour table and may never have left.
  kUnchecked,
};

inline constexpr std::array<EnumText<State>, 8> kStateTexts{{{State::kPending, "pending"},
                                                             {State::kAlive, "alive"},
                                                             {State::kDead, "dead"},
                                                             {State::kNamed, "named"},
                                                             {State::kUnnamed, "unnamed"},
                                                             {State::kNoReport, "no report"},
                                                             {State::kSilent, "silent"},
                                                             {State::kUnchecked, "unchecked"}}};
constexpr std::string_view StateText(State state) { return TextOf(kStateTexts, state); }
// Alive or silent in a probe sweep, named in a name-only sweep.
bool IsFound(State state);

// Where the shown link-layer address came from: the system's neighbour table,
// the host's answer to the controller's own ARP request, NetBIOS, (for this
// machine's own address) the interface that holds it, a DHCP server's
// current lease of the address (--leases), or a router's neighbour table
// read over SNMP (--snmp).
enum class MacSource { kNone, kNeighbour, kArp, kNetbios, kInterface, kDhcpLease, kSnmp };

// Empty for kNone.
inline constexpr std::array<EnumText<MacSource>, 6> kMacSourceTexts{
    {{MacSource::kNeighbour, "neighbour"},
     {MacSource::kArp, "arp"},
     {MacSource::kNetbios, "netbios"},
     {MacSource::kInterface, "interface"},
     {MacSource::kDhcpLease, "dhcp-lease"},
     {MacSource::kSnmp, "snmp"}}};
constexpr std::string_view MacSourceText(MacSource source) {
  return TextOf(kMacSourceTexts, source);
}

// What the state rests on: the worker's echo requests, the controller's own
// ARP requests, or the system's neighbour table; for a device heard over IPv6
// alone, its answer to the controller's multicast echo request; for an
// unchecked one, why it could not be checked.
enum class Evidence {
  kNone,
  kEchoReply,
  kNoEchoReply,
  kArpReply,
  kNoArpReply,
  kNeighbourEntry,
  kIpv6EchoReply,
  kFullNeighbourTable
};

// Empty for kNone.
inline constexpr std::array<EnumText<Evidence>, 7> kEvidenceTexts{
    {{Evidence::kEchoReply, "echo reply"},
     {Evidence::kNoEchoReply, "no echo reply"},
     {Evidence::kArpReply, "ARP reply"},
     {Evidence::kNoArpReply, "no ARP reply"},
     {Evidence::kNeighbourEntry, "neighbour entry"},
     {Evidence::kIpv6EchoReply, "IPv6 echo reply"},
     {Evidence::kFullNeighbourTable, "full neighbour table"}}};
constexpr std::string_view EvidenceText(Evidence evidence) {
  return TextOf(kEvidenceTexts, evidence);
}

// Where a host's name came from, in the order a name is taken: reverse DNS
// (the worker's lookup, or the controller's for a silent host), the
// controller's own questions to hosts that lookup did not know (mDNS, then
// NetBIOS), then the names a device gives itself where it says what it is
// (its DNS-SD instance name, its UPnP friendly name), last the host name it
// asked for in DHCP: in its own messages a watch heard on the link, else as
// a DHCP server's current lease of the address gives it (--leases).
enum class NameSource { kNone, kDns, kMdns, kNetbios, kDnsSd, kUpnp, kDhcp, kDhcpLease };

// Empty for kNone.
inline constexpr std::array<EnumText<NameSource>, 7> kNameSourceTexts{
    {{NameSource::kDns, "dns"},
     {NameSource::kMdns, "mdns"},
     {NameSource::kNetbios, "netbios"},
     {NameSource::kDnsSd, "dns-sd"},
     {NameSource::kUpnp, "upnp"},
     {NameSource::kDhcp, "dhcp"},
     {NameSource::kDhcpLease, "dhcp-lease"}}};
constexpr std::string_view NameSourceText(NameSource source) {
  return TextOf(kNameSourceTexts, source);
}

// What the worker reported about an address: filed once, never changed.
struct ProbeFacts {
  State state = State::kPending;  // never silent: that takes the link layer's facts too
  std::optional<long> roundTripMs{};
  std::optional<int> ttl{};
  std::string name{};        // its reverse lookup
  std::string netbiosMac{};  // exactly what it reported
  // Dead without a worker: on a directly connected network, it never
  // answered the controller's own ARP requests.
  bool noArpReply = false;
  // Answered ARP, but got no worker: the workers may not send echo requests.
  bool noEchoSent = false;
};

// What the link layer says of the address: the host's answer to the
// controller's own ARP request, or else the system's neighbour table once its
// probes are over.
struct LinkFacts {
  std::optional<MacAddress> mac{};  // resolved and real
  bool heardDuringSweep = false;    // the host answered on the link since the sweep began
  bool fromArp = false;             // asked by the controller itself, before any worker
  bool ownInterface = false;        // this machine's own address: its interface's MAC
  // Answered ARP and read dead, but the neighbour table, which every network
  // namespace of the machine shares, ran full meanwhile and holds no resolved
  // entry for it: its echo requests may never have left.
  bool noRoomForEcho = false;
};

// One name of a host's NetBIOS name table: its suffix (the 16th byte, which
// says what service the name stands for) and whether it is a group name.
struct NetbiosName {
  std::uint8_t suffix = 0;
  bool group = false;
  bool operator==(const NetbiosName&) const = default;
};

// Names the controller's own questions found: reverse DNS for a silent host
// (whose worker names none), then the host's own answers.
struct ExtraNames {
  std::string dns{};                   // the name reverse DNS gives its address
  std::string mdns{};                  // the name its mDNS responder gives its address
  std::string netbios{};               // its unique NetBIOS workstation name
  std::string workgroup{};             // its NetBIOS workgroup
  std::optional<MacAddress> unitId{};  // the unit ID its node status gave
  std::vector<NetbiosName> table{};    // every name its node status listed
};

// What a DHCP server's lease of the address, current at the sweep, gives
// (--leases): the client's MAC and the host name it asked for, either may be
// missing.
struct LeaseFacts {
  std::optional<MacAddress> mac{};
  std::string name{};
};

// The IPv6 addresses of the device that holds the address (the same MAC on
// the link), in canonical text, link-local ones with their zone.
struct Ipv6Facts {
  std::vector<std::string> addresses{};
};

// What the device says it is, from what it announces about itself: its
// DNS-SD services, its UPnP description, its NetBIOS name table, its DHCP
// client's vendor class (weakest, heard between sweeps). Never from
// the MAC's maker or the TTL alone: where nothing announces a type, the type
// stays empty.
enum class TypeSource { kNone, kMdns, kSsdp, kNetbios, kDhcp };

// Empty for kNone.
inline constexpr std::array<EnumText<TypeSource>, 4> kTypeSourceTexts{
    {{TypeSource::kMdns, "mdns"},
     {TypeSource::kSsdp, "ssdp"},
     {TypeSource::kNetbios, "netbios"},
     {TypeSource::kDhcp, "dhcp"}}};
constexpr std::string_view TypeSourceText(TypeSource source) {
  return TextOf(kTypeSourceTexts, source);
}

// "printer/LaserJet 400": the type and the model, whichever are known.
std::string DeviceText(std::string_view type, std::string_view model);

struct DeviceFacts {
  // A device-type name as nmap's XML carries it: "printer", "media device" ...
  std::string type{};
  std::string make{};
  std::string model{};
  TypeSource typeFrom = TypeSource::kNone;  // the evidence the type rests on
  std::vector<std::string> services{};      // the DNS-SD service types seen ("_ipp._tcp" ...)
  bool operator==(const DeviceFacts&) const = default;
};

// What a device calls itself where it says what it is.
struct GivenNames {
  std::string mdnsHost{};  // the owner of its mDNS address record: "labprinter.local"
  std::string dnsSd{};     // its DNS-SD instance name: "Living Room"
  std::string upnp{};      // its UPnP friendlyName
  bool operator==(const GivenNames&) const = default;
};

// "Brother HL-L2350DW": the make and the model, the make once where the model
// already starts with it.
std::string MakeAndModel(const DeviceFacts& device);

// A host holds one address per network, a few more with aliases (a
// router's second address, a server's virtual hosts). A MAC that answers for
// more is a proxy-ARP router, a machine holding a whole range, or a liar
// answering whatever it is asked: nothing on the wire tells them apart, so
// such a MAC is pointed out, not believed less.
inline constexpr std::size_t kMostAddressesPerHost = 8;

// Everything known of one address, each part filed once by the stage that
// found it; what is shown is worked out from these (ViewOf).
struct HostResult {
  Address address = 0;
  ProbeFacts probe{};
  std::optional<LinkFacts> link{};
  // Once the link pass is over, for an address it heard: how many of the
  // swept addresses its MAC answered for, when more than kMostAddressesPerHost.
  std::optional<std::size_t> macSharedBy{};
  std::optional<ExtraNames> names{};
  std::optional<LeaseFacts> lease{};
  std::optional<std::string> dhcpName{};  // its MAC's own DHCP messages', heard by a watch
  std::optional<MacAddress> routerMac{};  // its router's neighbour table's (--snmp)
  std::optional<Ipv6Facts> ipv6{};
  std::optional<DeviceFacts> device{};
  std::optional<GivenNames> given{};  // filed with `device`
};

// What a comparison with an earlier sweep says of a host (--compare).
// kMissing: a device the inventory (--known) expects always, not found where
// the sweep looked for it. kBack: a device seen before that was gone, found
// again (a watch's word: a comparison calls it new). kConflict and
// kConflictEnded: a link conflict (LinkConflict) a watch heard start or end,
// which no row shows.
enum class Change {
  kNone,
  kNew,
  kGone,
  kMoved,
  kRenamed,
  kMacChanged,
  kRetyped,
  kMissing,
  kBack,
  kConflict,
  kConflictEnded
};

// Empty for kNone.
inline constexpr std::array<EnumText<Change>, 10> kChangeTexts{
    {{Change::kNew, "new"},
     {Change::kGone, "gone"},
     {Change::kMoved, "moved"},
     {Change::kRenamed, "renamed"},
     {Change::kMacChanged, "mac-changed"},
     {Change::kRetyped, "retyped"},
     {Change::kMissing, "missing"},
     {Change::kBack, "back"},
     {Change::kConflict, "conflict"},
     {Change::kConflictEnded, "conflict-ended"}}};
constexpr std::string_view ChangeText(Change change) { return TextOf(kChangeTexts, change); }

struct RowChange {
  Change change = Change::kNone;
  // Moved: the earlier address; renamed: the earlier name; mac-changed: the
  // earlier MAC address; retyped: the earlier type and model (DeviceText).
  std::string previous{};
};

// What the user's inventory of devices (--known) says of the device on a row.
enum class Expect {
  kAny,     // found or not, as any host
  kAlways,  // its absence is a change
  kIgnore,  // never a change
};

// Empty for kAny, as the inventory writes it.
inline constexpr std::array<EnumText<Expect>, 2> kExpectTexts{
    {{Expect::kAlways, "always"}, {Expect::kIgnore, "ignore"}}};
constexpr std::string_view ExpectText(Expect expect) { return TextOf(kExpectTexts, expect); }

struct KnownFacts {
  bool known = false;  // a row of the inventory is this device
  std::string alias{};
  std::string owner{};
  Expect expect = Expect::kAny;
  // How long it may go unseen before it is gone, in seconds (its away_after);
  // 0: as every device.
  std::int64_t awayAfter = 0;
  bool operator==(const KnownFacts&) const = default;
};

// One address as every format shows it, worked out once from its facts.
struct HostView {
  Address address = 0;
  // A dead host heard on the link is silent, unless its echo requests found
  // no room to leave: unchecked.
  State state = State::kPending;
  std::optional<std::string_view> echo{};  // the worker's verdict: "alive" or "dead"
  std::optional<long> roundTripMs{};
  std::optional<int> ttl{};
  std::string name{};  // as NameSource's order takes it
  NameSource nameSource = NameSource::kNone;
  // The neighbour table's, else its router's, else a DHCP lease's, else a
  // NetBIOS unit ID (the worker's, else the controller's own question's);
  // never a placeholder.
  std::optional<MacAddress> mac{};
  MacSource macSource = MacSource::kNone;
  Evidence evidence = Evidence::kNone;  // what the state rests on
  std::string vendor{};
  std::string workgroup{};
  // What the worker reported, written as every MAC is when it is one.
  std::string netbiosMac{};
  std::vector<std::string> ipv6{};  // the device's IPv6 addresses (--ipv6)
  // A device heard over IPv6 alone: its row's address is ipv6.front().
  bool ipv6Only = false;
  // How many addresses the shown MAC answered for, when more than a host
  // holds: the swept addresses it answered ARP for, or a device heard over
  // IPv6 alone, its IPv6 addresses.
  std::optional<std::size_t> macSharedBy{};
  DeviceFacts device{};               // empty where nothing said what the device is
  bool deviceAsked = false;           // `device` is its answer: the sweep asked it
  std::optional<RowChange> change{};  // only when compared with an earlier sweep
  std::optional<KnownFacts> known{};  // only with an inventory (--known)
};

// The row's address as every format prints it.
std::string AddressText(const HostView& view);

using VendorOf = std::function<std::string(const MacAddress&)>;
HostView ViewOf(const HostResult& result, const VendorOf& vendorOf);
// The shown state alone.
State StateOf(const HostResult& result);

// What one report did to the results.
enum class Filing { kFiled, kDuplicate, kUnknown };

class ResultBook {
 public:
  explicit ResultBook(const std::vector<Address>& addresses);

  // A probe report: "label,Dead" or "label,rtt,ttl,name,mac".
  Filing FileProbeReport(std::string_view text);
  // A name-only answer for the address at `position`.
  Filing FileName(std::size_t position, std::string_view name);
  // An address on a directly connected network that never answered ARP: dead,
  // without a worker.
  void FileNoLinkReply(std::size_t position);
  // An address that answered ARP where the workers may not send echo
  // requests: unprobed, dead as far as echo goes (silent once heard).
  void FileNoEcho(std::size_t position);
  // Every slot from `first` on, `count` of them, still without a report.
  void MarkUnreported(std::size_t first, std::size_t count);
  // The link layer's facts for a probed address; only the first filing counts.
  void FileLink(std::size_t position, const LinkFacts& facts);
  // A filed result that waits for names from elsewhere is not ready yet.
  void AwaitNames(std::size_t position) { awaiting_.at(position) |= kAwaitNames; }
  // The names the controller's own questions found; the result is ready then.
  void FileNames(std::size_t position, const ExtraNames& names);
  // Names are still being asked for.
  [[nodiscard]] bool AwaitsNames(std::size_t position) const {
    return (awaiting_.at(position) & kAwaitNames) != 0;
  }
  // A filed result whose device's IPv6 addresses are still being sought.
  void AwaitIpv6(std::size_t position) { awaiting_.at(position) |= kAwaitIpv6; }
  // The device's IPv6 addresses; only the first filing counts. Ready then.
  void FileIpv6(std::size_t position, const Ipv6Facts& facts);
  // A DHCP lease of the address; only the first filing counts.
  void FileLease(std::size_t position, const LeaseFacts& facts);
  // The host name its DHCP messages asked for; only the first filing counts.
  void FileDhcpName(std::size_t position, const std::string& name);
  // Its router's neighbour entry's MAC; only the first filing counts.
  void FileRouterMac(std::size_t position, const MacAddress& mac);
  // A filed result whose device is still being asked what it is.
  void AwaitDevice(std::size_t position) { awaiting_.at(position) |= kAwaitDevice; }
  // What the device said it is; only the first filing counts. Ready then.
  void FileDevice(std::size_t position, const DeviceFacts& facts, const GivenNames& given = {});
  // A result answered over ARP, waiting for the link pass to end.
  void AwaitMacSharing(std::size_t position) { awaiting_.at(position) |= kAwaitMacSharing; }
  // How many addresses its ARP answer's MAC answered for, if more than a host
  // holds (nothing otherwise). Ready then.
  void FileMacSharing(std::size_t position, std::optional<std::size_t> sharedBy);
  // Filed, and waiting for nothing more.
  [[nodiscard]] bool Ready(std::size_t position) const {
    return results_[position].probe.state != State::kPending && awaiting_[position] == 0;
  }

  [[nodiscard]] const std::vector<HostResult>& Results() const { return results_; }
  // The positions filed since the last call, in the order they were filed.
  std::vector<std::size_t> TakeFinished() { return std::exchange(finished_, {}); }
  [[nodiscard]] std::size_t Done() const { return done_; }
  [[nodiscard]] std::size_t Found() const;

 private:
  Filing File(std::size_t position, ProbeFacts probe);

  // What a filed result still waits for, one bit each.
  static constexpr std::uint8_t kAwaitNames = 1;
  static constexpr std::uint8_t kAwaitIpv6 = 2;
  static constexpr std::uint8_t kAwaitMacSharing = 4;
  static constexpr std::uint8_t kAwaitDevice = 8;

  std::vector<HostResult> results_;
  std::vector<std::size_t> finished_;
  std::vector<std::uint8_t> awaiting_;
  std::size_t done_ = 0;
};

}  // namespace hostsweep::controller
