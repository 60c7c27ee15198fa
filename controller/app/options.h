// The command line.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "controller/link/vlan_links.h"
#include "controller/output/result_stream.h"

namespace hostsweep::controller {

// Enough for a /24 to run as single-address batches all at once (two echo
// time-outs in all), and for a /20 in three rounds of three-address batches.
inline constexpr std::size_t kDefaultJobs = 512;

// A target, or a file of them (-f), as the command line names it.
struct TargetArgument {
  std::string text;
  bool isFile = false;
  bool operator==(const TargetArgument&) const = default;
};
// ARP requests per second and per address at most (see README, "The link
// pass"): two tries as arp-scan makes by default; a pace that sweeps an
// on-link /16 in under a minute, uncapped as nmap's is not.
inline constexpr unsigned kDefaultArpRate = 2500;
inline constexpr int kDefaultArpTries = 2;
// Sweeps in a row that must miss a host before it is gone (--gone-after). A
// host missed by a sweep with chance p is called gone by mistake once in
// 1/p^N sweeps: with 30% of its answers lost (p about 0.09), once in some
// 1400 sweeps, five days at 5 minutes (measured in docs/changes.md).
inline constexpr int kDefaultGoneAfter = 3;

struct Options {
  std::vector<TargetArgument> targets;  // in the order given
  bool localNetworks = false;
  std::string interfaceName;    // the link for the targets; empty: as the routes have it
  std::vector<VlanLink> vlans;  // VLANs asked from a trunk port (--vlan)
  Format format = Format::kTable;
  std::string xmlFile;   // nmap's XML as well; "-" for standard output instead
  std::string htmlFile;  // a page of our own as well; "-" likewise
  bool foundOnly = false;
  bool allAddresses = false;  // the table on a terminal shows the hosts found unless given
  bool namesOnly = false;
  bool extraNames = true;   // NetBIOS and mDNS names for hosts DNS does not name
  bool deviceTypes = true;  // ask each host on a swept link what device it is
  bool quiet = false;
  bool verbose = false;
  std::size_t jobs = kDefaultJobs;
  std::optional<std::size_t> batchSize;
  unsigned pause = 0;
  std::string worker;
  bool linkPass = true;  // ask on-link addresses over ARP before any worker
  unsigned arpRate = kDefaultArpRate;
  int arpTries = kDefaultArpTries;
  // Ask the swept links' IPv6 nodes too and show each device's IPv6 addresses
  // (off unless asked: it adds a column and multicast traffic).
  bool ipv6 = false;
  std::vector<std::string> leaseFiles;  // DHCP servers' lease files (--leases)
  std::vector<std::string> snmpAgents;  // routers whose neighbour tables are read (--snmp)
  std::string snmpAuth;                 // how to ask them, or "@FILE"; empty: v2c "public"
  std::string compareFile;              // an earlier sweep's --json output
  bool changesOnly = false;
  std::optional<std::chrono::seconds> watchInterval;
  std::string stateFile;  // the state database: what the sweeps have seen
  int goneAfter = kDefaultGoneAfter;
  std::chrono::seconds awayAfter{};    // --away-after: 0 for none
  bool announceExisting = false;       // a new database's first sweep tells each host
  std::optional<std::string> history;  // --history [WHO]: empty for every device
  std::string knownFile;               // the user's inventory of the devices they know
  bool unknownOnly = false;
  // Where events go and the network's state is shown. The webhook's and the
  // broker's URL as given: "@FILE" is read when the sinks are built.
  std::string onEvent;  // a shell command run for each event
  std::string webhook;
  bool webhookText = false;  // --webhook-format text: a one-line summary, not the JSON
  std::string mqtt;
  std::string metricsFile;
  std::string metricsListen;   // ADDR:PORT
  std::string web;             // the dashboard's ADDR:PORT; without --watch it alone runs
  std::string webPassword;     // "@FILE", read when the dashboard starts
  std::string webCertificate;  // --web-cert: PEM; with webKey, HTTPS
  std::string webKey;
};

// "30s", "5m", "1h": at least a second, at most a day; nothing otherwise.
std::optional<std::chrono::seconds> ParseInterval(std::string_view text);

struct ParsedCommandLine {
  std::optional<Options> options;  // none when the run ends here
  int exitStatus = 0;              // for --help, --version and usage errors
};

// Parses `argv`; help, version and usage errors are printed to `out`/`err`.
// Help or version text that cannot be written is an error.
ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                   std::ostream& err);

}  // namespace hostsweep::controller
