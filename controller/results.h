// The sweep's results: one per address, filled in from the workers' reports.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "controller/targets.h"

namespace hostsweep::controller {

enum class State {
  kPending,   // no report yet
  kAlive,     // answered the echo request
  kDead,      // did not answer twice
  kNamed,     // name-only sweep: the address has a name
  kUnnamed,   // name-only sweep: it has none
  kNoReport,  // the worker chain ended (or was ended) without reporting it
  kSilent,    // did not answer echo, but answered on the link during the sweep
};

std::string_view StateText(State state);
// Alive or silent in a probe sweep, named in a name-only sweep.
bool IsFound(State state);

// Where the shown link-layer address came from: the system's neighbour table,
// the host's answer to the controller's own ARP request, or NetBIOS.
enum class MacSource { kNone, kNeighbour, kArp, kNetbios };

// What the state rests on: the worker's echo requests, the controller's own
// ARP requests, or the system's neighbour table.
enum class Evidence { kNone, kEchoReply, kNoEchoReply, kArpReply, kNoArpReply, kNeighbourEntry };

// "echo reply", "no ARP reply", ...; empty for kNone.
std::string_view EvidenceText(Evidence evidence);

// Where a host's name came from: the worker's reverse lookup, or the
// controller's own questions to hosts that lookup did not know.
enum class NameSource { kNone, kDns, kMdns, kNetbios };

// "dns", "mdns", "netbios"; empty for kNone.
std::string_view NameSourceText(NameSource source);

struct HostResult {
  Address address = 0;
  State state = State::kPending;
  std::optional<long> roundTripMs{};
  std::optional<int> ttl{};
  std::string name{};
  std::string netbiosMac{};  // exactly what the worker reported
  std::string mac{};         // the address shown
  MacSource macSource = MacSource::kNone;
  std::string vendor{};
  NameSource nameSource = NameSource::kNone;
  std::string workgroup{};
  Evidence evidence = Evidence::kNone;
};

// Names a host gave the controller's own questions.
struct ExtraNames {
  std::string mdns;       // the name its mDNS responder gives its address
  std::string netbios;    // its unique NetBIOS workstation name
  std::string workgroup;  // its NetBIOS workgroup
};

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
  // Every slot from `first` on, `count` of them, still without a report.
  void MarkUnreported(std::size_t first, std::size_t count);
  // A filed result that waits for names from elsewhere is not ready yet.
  void AwaitNames(std::size_t position) { awaitingNames_.at(position) = true; }
  // Gives the result at `position` the first of the names found (mDNS before
  // NetBIOS) unless it has a name, and the workgroup; it is ready then.
  void AddNames(std::size_t position, const ExtraNames& names);
  // Filed, and waiting for nothing more.
  [[nodiscard]] bool Ready(std::size_t position) const {
    return results_[position].state != State::kPending && !awaitingNames_[position];
  }

  [[nodiscard]] const std::vector<HostResult>& Results() const { return results_; }
  // For the stages that add to a result once its probes are done.
  HostResult& At(std::size_t position) { return results_[position]; }
  // The positions filed since the last call, in the order they were filed.
  std::vector<std::size_t> TakeFinished() { return std::exchange(finished_, {}); }
  [[nodiscard]] std::size_t Done() const { return done_; }
  [[nodiscard]] std::size_t Found() const;

 private:
  Filing File(std::size_t position, HostResult result);

  std::vector<HostResult> results_;
  std::vector<std::size_t> finished_;
  std::vector<bool> awaitingNames_;
  std::size_t done_ = 0;
};

}  // namespace hostsweep::controller
