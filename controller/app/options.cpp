#include "controller/app/options.h"

#include <CLI/CLI.hpp>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

#include "controller/app/exit_status.h"
#include "controller/app/help_format.h"
#include "controller/app/option_errors.h"
#include "controller/base/build_parts.h"
#include "controller/base/errors.h"
#include "controller/base/printable.h"
#include "controller/base/time_text.h"

namespace hostsweep::controller {
namespace {

constexpr std::size_t kMostJobs = 1024;
constexpr unsigned kMostPause = 1'000'000;
constexpr unsigned kMostArpRate = 100'000;
constexpr int kMostArpTries = 10;
constexpr int kMostGoneAfter = 100;

constexpr auto kFooter =
    R"(Targets: an address (10.0.0.7), a host name (printer.lan; looked up once,
before the sweep), a range (10.0.0.1-254, 10.0.0.1-10.0.1.20), last octets
(10.0.0.1,5,7-9), a block (10.0.0.0/24, 10.0.0.*, 10.0.*.*; network and
broadcast addresses left out, except in /31 and /32), or --localnet. At most
65536 addresses per sweep; duplicates are swept once.

States: alive (answered echo), silent (ignored echo but answered on the
link during the sweep), dead, no report, unchecked (the machine's neighbour
table had no room for its echo requests); named/unnamed with --names-only.
Columns: address state rtt_ms ttl name mac vendor. mac comes from ARP or the
neighbour table (directly connected networks), else from NetBIOS; vendor
from the IEEE registries (ieee-data). On a directly connected Ethernet
network every address is first asked over ARP (needs CAP_NET_RAW, else
skipped): only those that answer get echo requests; the others are dead.

Sending echo requests needs root, the worker file's own right
(setcap cap_net_raw+ep hostsweep-worker) or a group inside
net.ipv4.ping_group_range; without any, hostsweep says so and exits 4.

--compare FILE reads an earlier sweep's --json or --xml output: every row
gains a change (new, gone, moved, renamed, mac-changed, retyped), gone
hosts come last. A host is known by its globally administered MAC address,
else by address and name.

Exit status: 0 a host was found (named, with --names-only), 1 none was,
2 something changed (--compare, --state), 3 usage error, 4 system error (no
right to send echo requests, a worker that cannot run, a state database
that cannot be written), 5 the --compare or --state file is unreadable,
corrupt, not hostsweep's, from a newer hostsweep or in use by another, 130
interrupted.

Examples:
  hostsweep --localnet              every network this machine is on
  hostsweep --alive 192.168.1.0/24  only the hosts found in a /24
  hostsweep 10.0.0.1,5,9 nas.lan    three addresses and a host by name
  hostsweep --csv -f hosts.txt      the targets in a file, as CSV
  hostsweep --watch 5m 10.0.0.*     each change in a /24, every 5 minutes
  hostsweep --state lan.db 10.0.0.*  what changed since the last sweep
  hostsweep --state lan.db --history nas.lan  all lan.db knows of nas.lan
  hostsweep --watch 5m --state lan.db --webhook @/etc/hostsweep/url 10.0.0.*
                                    each change POSTed to the URL in a file

Events: --on-event, --webhook and --mqtt each keep a queue in the --state
database; an event leaves it once its receiver confirmed it, so a receiver
that is down loses nothing (at most 10000 events a queue, the oldest
dropped). A URL holding a password or token is best given as @FILE, a file
only its owner may read.)";

constexpr std::chrono::seconds kLongestInterval{24 * 3600};
constexpr std::chrono::seconds kLongestAwayAfter{24 * 3600};

// nmap's spelling of the XML option, which CLI11 would read as -o X.
const std::vector<OptionAlias> kAliases{{"-oX", "--xml"}};

// Options that cannot be given together, checked here rather than by CLI11 so
// that --help need not list them and the message says it in words.
constexpr std::array<std::array<const char*, 2>, 5> kExclusive{{{"--csv", "--json"},
                                                                {"--alive", "--all"},
                                                                {"--alive", "--names-only"},
                                                                {"--quiet", "--verbose"},
                                                                {"--names-only", "--ipv6"}}};

// The targets and target files in the order the command line gives them: a
// file's targets are swept where the file is named.
std::vector<TargetArgument> InOrder(const CLI::App& app, const CLI::Option* fileOption,
                                    const std::vector<std::string>& targets,
                                    const std::vector<std::string>& files) {
  std::vector<TargetArgument> ordered;
  auto nextTarget = targets.begin();
  auto nextFile = files.begin();
  for (const CLI::Option* option : app.parse_order()) {
    if (option == fileOption && nextFile != files.end()) {
      ordered.push_back({*nextFile++, true});
    } else if (option->get_positional() && nextTarget != targets.end()) {
      ordered.push_back({*nextTarget++, false});
    }
  }
  return ordered;
}

// Help and version text are all such a run does: failing to write them
// (a full disk, a closed output) must not look like success.
ParsedCommandLine Flushed(std::ostream& out, std::ostream& err) {
  errno = 0;
  out.flush();
  if (!out.fail()) {
    return {std::nullopt, 0};
  }
  err << "hostsweep: cannot write to standard output"
      << (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string()) << "\n";
  return {std::nullopt, kExitSystem};
}

ParsedCommandLine UsageFailure(std::ostream& err, const std::string& message) {
  err << "hostsweep: " << message << "\nRun with --help for more information.\n";
  return {std::nullopt, kExitUsage};
}

// Standard output carries one format, and a file one document.
std::optional<std::string> StandardOutputClash(const Options& options, bool csvOrJson) {
  const bool xmlOut = options.xmlFile == "-";
  const bool htmlOut = options.htmlFile == "-";
  if (xmlOut && htmlOut) {
    return "--xml - and --html - would both write to standard output";
  }
  if ((xmlOut || htmlOut) && csvOrJson) {
    return std::string(xmlOut ? "--xml -" : "--html -") +
           " takes standard output, which --csv or --json would also write";
  }
  if (!options.xmlFile.empty() && options.xmlFile == options.htmlFile) {
    return "--xml and --html name the same file: " + options.xmlFile;
  }
  return std::nullopt;
}

// An option whose part this build leaves out: said first, since no other
// advice would help.
std::optional<std::string> BuildClash(const CLI::App& app) {
  for (const PartNotBuilt& part : PartsNotBuilt()) {
    for (const std::string_view option : part.options) {
      if (app.count(std::string(option)) > 0) {
        return NotInThisBuild(option);
      }
    }
  }
  return std::nullopt;
}

std::optional<std::string> ExclusiveClash(const CLI::App& app) {
  for (const auto& [one, other] : kExclusive) {
    if (app.count(one) > 0 && app.count(other) > 0) {
      return std::string(one) + " and " + other + " cannot be used together";
    }
  }
  return std::nullopt;
}

// A long option written with one dash ("-localnet"), which CLI11 would read
// as -l followed by more short options.
std::optional<std::string> OneDashLongOption(const CLI::App& app, std::string_view argument) {
  if (argument.size() > 2 && argument[0] == '-' && argument[1] != '-') {
    const std::string name(argument.substr(1, argument.find('=') - 1));
    for (const CLI::Option* option : app.get_options()) {
      if (option->check_lname(name)) {
        return Excerpt(argument) + ": a long option takes two dashes: --" + name;
      }
    }
  }
  return std::nullopt;
}

// Events are queued in the state database until their receiver confirms
// them; the metrics show a watch's or a recorded sweep's state.
std::optional<std::string> EventOptionClash(const Options& options, bool webhookFormat) {
  const bool queued = !options.onEvent.empty() || !options.webhook.empty() || !options.mqtt.empty();
  if (queued && options.stateFile.empty()) {
    return "--on-event, --webhook and --mqtt need --state FILE: their events wait there until "
           "delivered";
  }
  if (webhookFormat && options.webhook.empty()) {
    return "--webhook-format needs --webhook";
  }
  const bool metrics = !options.metricsFile.empty() || !options.metricsListen.empty();
  if (metrics && options.stateFile.empty() && !options.watchInterval) {
    return "--metrics and --metrics-listen need --watch or --state";
  }
  if (options.history && (queued || metrics)) {
    return "--history sweeps nothing: it tells no events and writes no metrics";
  }
  return std::nullopt;
}

// What only makes sense with another option, and what --watch and --state
// leave out.
std::optional<std::string> ChangeOptionClash(const Options& options, bool csv, bool goneAfter) {
  const bool stateSweep = !options.stateFile.empty() && !options.watchInterval;
  if (options.changesOnly && options.compareFile.empty() && !stateSweep) {
    return "--changes-only needs --compare or --state";
  }
  if (goneAfter && options.stateFile.empty() && !options.watchInterval) {
    return "--gone-after and --away-after need --watch or --state";
  }
  if (!options.stateFile.empty() && !options.compareFile.empty()) {
    return "--state compares with what it keeps: it takes no --compare";
  }
  if (options.unknownOnly && options.knownFile.empty()) {
    return "--unknown-only needs --known";
  }
  if (options.announceExisting && options.stateFile.empty()) {
    return "--announce-existing needs --state";
  }
  if (options.watchInterval && (csv || !options.compareFile.empty() || !options.xmlFile.empty() ||
                                !options.htmlFile.empty())) {
    return "--watch prints changes as lines (or JSON lines with --json): it takes no --csv, "
           "--xml, --html or --compare";
  }
  return std::nullopt;
}

// --history reads the state database and sweeps nothing.
std::optional<std::string> HistoryClash(const Options& options) {
  if (!options.history) {
    return std::nullopt;
  }
  if (options.stateFile.empty()) {
    return "--history needs --state FILE";
  }
  if (!options.targets.empty() || options.localNetworks || options.watchInterval ||
      !options.compareFile.empty() || !options.xmlFile.empty() || !options.htmlFile.empty()) {
    return "--history sweeps nothing: it takes no targets, --localnet, --watch, --compare, "
           "--xml or --html";
  }
  return std::nullopt;
}

// --web shows the state database: beside a watch, or alone, sweeping nothing.
std::optional<std::string> WebClash(const Options& options) {
  if (!options.webPassword.empty() && options.web.empty()) {
    return "--web-password needs --web";
  }
  if (options.webCertificate.empty() != options.webKey.empty()) {
    return "--web-cert and --web-key go together";
  }
  if (!options.webCertificate.empty() && options.web.empty()) {
    return "--web-cert and --web-key need --web";
  }
  if (options.web.empty()) {
    return std::nullopt;
  }
  if (options.stateFile.empty() || options.history) {
    return "--web needs --state FILE (and no --history): the dashboard shows what it keeps";
  }
  const bool sweeping = !options.targets.empty() || options.localNetworks;
  const bool tells = !options.onEvent.empty() || !options.webhook.empty() ||
                     !options.mqtt.empty() || !options.metricsFile.empty() ||
                     !options.metricsListen.empty();
  if (!options.watchInterval && (sweeping || tells)) {
    return "--web without --watch serves the --state database and sweeps nothing: it takes no "
           "targets, --localnet, events or metrics";
  }
  if (options.watchInterval && !sweeping) {
    return "no targets given; try hostsweep --localnet, or hostsweep 192.168.1.0/24";
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::chrono::seconds> ParseInterval(std::string_view text) {
  return ParseDuration(text, kLongestInterval);
}

// One CLI11 call per option, read as the list --help prints: the one function
// of the controller longer than a screen.
// NOLINTNEXTLINE(readability-function-size)
ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                   std::ostream& err) {
  Options options;
  CLI::App app{"Sweeps IPv4 addresses: alive, round-trip time, TTL, host name, MAC and maker.",
               "hostsweep"};
  app.formatter(std::make_shared<HelpFormatter>(
      std::vector<std::string>{"[OPTIONS] TARGET...", "[OPTIONS] --localnet [TARGET...]"},
      kAliases));
  app.footer(kFooter);
  app.set_version_flag("--version", "hostsweep " HOSTSWEEP_VERSION
                                    "\nCopyright (c) 2026 The hostsweep developers"
                                    "\nLicence: MIT <https://opensource.org/licenses/MIT>");
  std::vector<std::string> targets;
  std::vector<std::string> files;
  // Described by the usage lines and the footer instead of a group of its own.
  app.add_option("targets", targets)->group("");
  app.add_flag("-l,--localnet", options.localNetworks,
               "Sweep every IPv4 network this machine is directly connected to");
  app.add_option("--interface", options.interfaceName,
                 "The link for the targets (and --localnet's networks): interface IF's, not "
                 "whichever holds their network first")
      ->type_name("IF");
  std::vector<std::string> vlans;
  app.add_option("--vlan", vlans,
                 "Ask VLAN ID's hosts with 802.1Q-tagged ARP requests on trunk port IF "
                 "(--interface's without IF.), those of NETWORK/LENGTH if given, else every target "
                 "no directly connected network holds; repeatable (Linux)")
      ->allow_extra_args(false)
      ->type_name("[IF.]ID[@NETWORK/LENGTH]");
  // One file per -f: the targets that follow it are targets, not more files.
  auto* fileOption =
      app.add_option("-f,--file", files,
                     "Read targets from FILE, one per line, # comments; - for standard input")
          ->allow_extra_args(false)
          ->type_name("FILE");
  bool csv = false;
  bool json = false;
  app.add_flag("--csv", csv, "CSV with a header line");
  app.add_flag("--json", json, "One JSON object per address per line");
  app.add_option("--xml", options.xmlFile,
                 "Also write nmap's XML output to FILE as the sweep goes (FILE \"-\": to standard "
                 "output, instead of the table)")
      ->type_name("FILE");
  app.add_option("--html", options.htmlFile,
                 "Also write an HTML page (address grid, sortable table) to FILE (FILE \"-\": to "
                 "standard output, instead of the table)")
      ->type_name("FILE");
  app.add_flag("--alive", options.foundOnly, "Show only the hosts found (alive or silent)");
  app.add_flag("--all", options.allAddresses,
               "Show every address in the table on a terminal too, not only the hosts found");
  app.add_flag("--names-only", options.namesOnly,
               "Only look up each address's host name; no echo request is sent");
  bool noExtraNames = false;
  app.add_flag("--no-extra-names", noExtraNames,
               "Names from reverse DNS only: do not ask unnamed hosts for their NetBIOS and "
               "mDNS names");
  bool noTypes = false;
  app.add_flag("--no-types", noTypes,
               "Do not ask hosts what device they are (DNS-SD, the UPnP search and "
               "descriptions, NetBIOS name tables): type, make and model stay empty");
  app.add_flag("-q,--quiet", options.quiet, "No progress line and no summary line");
  app.add_flag("-v,--verbose", options.verbose, "Report ignored reports and ended workers");
  app.add_option("-j,--jobs", options.jobs,
                 "Worker chains running at once, 1 to 1024 (default 512)")
      ->check(WholeNumber(1, kMostJobs))
      ->type_name("N");
  app.add_option("--batch", options.batchSize,
                 "Addresses per worker, 1 to 3 (default: chosen from the target count and -j)")
      ->check(WholeNumber(1, 3))
      ->type_name("N");
  app.add_option("--pause", options.pause,
                 "Each worker yields the processor N+1 times before its first echo request and "
                 "again between its addresses, 0 to 1000000 (default 0); a larger N lets other "
                 "programs run between the probes of a large sweep")
      ->check(WholeNumber(0, kMostPause))
      ->type_name("N");
  bool noArp = false;
  app.add_flag("--no-arp", noArp,
               "Send no ARP requests of our own: every address takes the echo path");
  app.add_option("--rate", options.arpRate,
                 "ARP requests per second, retries included, 1 to 100000 (default 2500)")
      ->check(WholeNumber(1, kMostArpRate))
      ->type_name("N");
  app.add_option("--arp-tries", options.arpTries, "ARP requests per address, 1 to 10 (default 2)")
      ->check(WholeNumber(1, kMostArpTries))
      ->type_name("N");
  app.add_option("--leases", options.leaseFiles,
                 "Take names and MACs from a DHCP server's lease FILE (dnsmasq, ISC dhcpd or "
                 "Kea CSV) where the hosts give none; repeatable")
      ->allow_extra_args(false)
      ->type_name("FILE");
  auto* snmp = app.add_option("--snmp", options.snmpAgents,
                              "Take the MACs of routed hosts from router HOST's neighbour table "
                              "over SNMP; repeatable")
                   ->allow_extra_args(false)
                   ->type_name("HOST");
  app.add_option("--snmp-auth", options.snmpAuth,
                 "How --snmp asks: \"v2c COMMUNITY\" or \"v3 USER [sha|md5 PASS [aes|des PASS]]\", "
                 "best as @FILE, its first line (default: v2c public)")
      ->needs(snmp)
      ->type_name("@FILE");
  app.add_flag("--ipv6", options.ipv6,
               "Also show each device's IPv6 addresses, asked of all IPv6 nodes on the swept "
               "links (Linux)");
  app.add_option(
         "--worker", options.worker,
         "The worker program (default: hostsweep-worker beside this program, else the installed "
         "one)")
      ->type_name("PATH");
  app.add_option(
         "--compare", options.compareFile,
         "Compare with an earlier sweep's --json or --xml output in FILE: each row says what "
         "changed; exit status 2 when something did")
      ->type_name("FILE");
  app.add_flag("--changes-only", options.changesOnly, "With --compare, only the changed rows");
  std::string interval;
  app.add_option("--watch", interval,
                 "Sweep again every INTERVAL (30s, 5m, 1h) and print each change once, "
                 "timestamped, until interrupted")
      ->type_name("INTERVAL");
  app.add_option("--state", options.stateFile,
                 "Keep what the sweeps see (devices, their addresses, names and MACs, when each "
                 "was present, every change) in the database FILE; a sweep shows its changes "
                 "as --compare does")
      ->type_name("FILE");
  app.add_option("--known", options.knownFile,
                 "The devices you know, a CSV file with the header "
                 "mac,address,alias,owner,expect,note: each row shows its alias and owner; "
                 "expect always: its absence is a change (missing), ignore: never a change")
      ->type_name("FILE");
  app.add_flag("--unknown-only", options.unknownOnly,
               "With --known, only the rows of devices it does not list");
  auto* goneAfter =
      app.add_option("--gone-after", options.goneAfter,
                     "With --watch or --state: a host is gone once N sweeps in a row missed it, "
                     "1 to 100 (default 3)")
          ->check(WholeNumber(1, kMostGoneAfter))
          ->type_name("N");
  std::string awayAfter;
  auto* awayAfterOption =
      app.add_option("--away-after", awayAfter,
                     "With --watch or --state: a host is gone once unseen this long (90s, 20m, "
                     "1h; at most a day), in --gone-after's place; --known's away_after first")
          ->type_name("DURATION");
  app.add_flag("--announce-existing", options.announceExisting,
               "With --state: a new database's first sweep tells each host new, rather than "
               "one line for the devices it recorded");
  std::string who;
  auto* history = app.add_option("--history", who,
                                 "List every device the --state database knows (or those that "
                                 "have had WHO as address, MAC or name): when seen, sessions, "
                                 "past addresses, names and MACs; no sweep")
                      ->expected(0, 1)
                      ->type_name("[WHO]");
  app.add_option("--on-event", options.onEvent,
                 "With --state: run CMD through /bin/sh for each event, its JSON on standard "
                 "input and HOSTSWEEP_EVENT_* in its environment; exit status 0 delivers it")
      ->type_name("CMD");
  app.add_option("--webhook", options.webhook,
                 "With --state: POST each event to URL (http or https; @FILE: the URL is the "
                 "file's first line); a 2xx answer delivers it")
      ->type_name("URL|@FILE");
  std::string webhookFormat;
  auto* webhookFormatOption =
      app.add_option("--webhook-format", webhookFormat,
                     "What --webhook posts: json (the event, default) or text (one line, as "
                     "ntfy and chat bridges take)")
          ->check(CLI::IsMember({"json", "text"}))
          ->type_name("json|text");
  app.add_option("--mqtt", options.mqtt,
                 "With --state: events and each device's state to an MQTT broker, "
                 "mqtt[s]://[USER:PASSWORD@]HOST[:PORT][/PREFIX] (or @FILE), with Home "
                 "Assistant's discovery")
      ->type_name("URL|@FILE");
  app.add_option("--metrics", options.metricsFile,
                 "With --watch or --state: write the network's state in Prometheus's text "
                 "format to FILE after each sweep")
      ->type_name("FILE");
  app.add_option("--metrics-listen", options.metricsListen,
                 "With --watch or --state: serve the same at http://ADDRESS/metrics, "
                 "ADDRESS being PORT (on 127.0.0.1) or ADDR:PORT")
      ->type_name("ADDRESS");
  app.add_option("--web", options.web,
                 "With --state: serve a live dashboard of its devices and events, and their "
                 "JSON at /api/, at http://ADDRESS/ (PORT on 127.0.0.1, or ADDR:PORT); with "
                 "--watch beside the sweeps, else alone for another process's watch")
      ->type_name("ADDRESS");
  app.add_option("--web-password", options.webPassword,
                 "The dashboard's password (HTTP Basic), the first line of FILE; needed for an "
                 "address other machines reach")
      ->type_name("@FILE");
  app.add_option("--web-cert", options.webCertificate,
                 "With --web-key: serve the dashboard over HTTPS with this PEM certificate (its "
                 "chain after it)")
      ->type_name("FILE");
  app.add_option("--web-key", options.webKey, "The PEM private key of --web-cert")
      ->type_name("FILE");
  std::vector<const char*> arguments(argv, argv + argc);
  for (auto& argument : arguments) {
    for (const auto& [alias, name] : kAliases) {
      argument = std::string_view(argument) == alias ? name : argument;
    }
    if (const auto problem = OneDashLongOption(app, argument)) {
      return UsageFailure(err, *problem);
    }
  }
  try {
    app.parse(argc, arguments.data());
  } catch (const CLI::Success& done) {
    app.exit(done, out, err);
    return Flushed(out, err);
  } catch (const CLI::ParseError& error) {
    return UsageFailure(err, UsageMessage(app, error));
  }
  options.targets = InOrder(app, fileOption, targets, files);
  if (history->count() > 0) {
    options.history = who;
  }
  // Before the targets: "--watch 10.0.0.1" took the only target as the interval.
  if (!interval.empty()) {
    options.watchInterval = ParseInterval(interval);
    if (!options.watchInterval) {
      return UsageFailure(err, NotAnInterval(interval));
    }
  }
  if (!awayAfter.empty()) {
    const auto duration = ParseDuration(awayAfter, kLongestAwayAfter);
    if (!duration) {
      return UsageFailure(err, "--away-after \"" + awayAfter +
                                   "\": not a duration such as 90s, 20m or 1h, at most a day");
    }
    options.awayAfter = *duration;
  }
  auto problem = BuildClash(app);
  if (problem) {
    return UsageFailure(err, *problem);
  }
  try {
    for (const auto& vlan : vlans) {
      options.vlans.push_back(ParseVlanLink(vlan));
    }
  } catch (const UsageError& error) {
    return UsageFailure(err, error.what());
  }
  problem = WebClash(options);
  if (!problem) {
    problem = VlanLinksClash(options.vlans, options.interfaceName);
  }
  if (!problem && options.targets.empty() && !options.localNetworks && !options.history &&
      options.web.empty()) {
    return UsageFailure(err,
                        "no targets given; try hostsweep --localnet, or hostsweep "
                        "192.168.1.0/24");
  }
  if (!problem) {
    problem = ExclusiveClash(app);
  }
  if (!problem) {
    problem = StandardOutputClash(options, csv || json);
  }
  if (!problem) {
    problem = ChangeOptionClash(options, csv, goneAfter->count() + awayAfterOption->count() > 0);
  }
  if (!problem) {
    problem = HistoryClash(options);
  }
  if (!problem) {
    problem = EventOptionClash(options, webhookFormatOption->count() > 0);
  }
  if (problem) {
    return UsageFailure(err, *problem);
  }
  options.format = csv ? Format::kCsv : json ? Format::kJson : Format::kTable;
  options.extraNames = !noExtraNames;
  options.deviceTypes = !noTypes && !options.namesOnly;
  options.linkPass = !noArp && !options.namesOnly;
  options.webhookText = webhookFormat == "text";
  return {options, 0};
}

}  // namespace hostsweep::controller
