#include "controller/app/options.h"

#include <CLI/CLI.hpp>
#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "controller/app/exit_status.h"

namespace hostsweep::controller {
namespace {

constexpr std::size_t kMostJobs = 1024;
constexpr unsigned kMostPause = 1'000'000;
constexpr unsigned kMostArpRate = 100'000;
constexpr int kMostArpTries = 10;

constexpr auto kFooter = R"(Targets: 10.0.0.7, 10.0.0.1-254, 10.0.0.1-10.0.1.20, 10.0.0.0/24
(network and broadcast addresses left out, except in /31 and /32), or
--localnet. At most 65536 addresses per sweep; duplicates are swept once.

States: alive (answered echo), silent (ignored echo but answered on the
link during the sweep), dead, no report; named/unnamed with --names-only.
Columns: address state rtt_ms ttl name mac vendor. mac comes from the
host's answer to hostsweep's own ARP request or the system's neighbour table
(hosts on a directly connected network), else from the host's NetBIOS
answer; vendor from the IEEE registries (ieee-data).

--ipv6 (Linux) also sends one ICMPv6 echo request to ff02::1 per source
address and try on each swept link and shows each device's IPv6 addresses
(joined by MAC) in an ipv6 column/field; devices heard over IPv6 alone get
their own rows after the IPv4 ones. Off unless given, also with --localnet.

Addresses on a directly connected Ethernet network are first asked over ARP
(needs CAP_NET_RAW, else skipped): only those that answer get a worker; the
others are dead at once. Every other address takes the echo path.
--xml writes nmap's XML output (format 1.05): ndiff compares two sweeps,
xsltproc with nmap.xsl makes a web page, nmap importers read it.

Sending echo requests needs root, the worker file's own right
(setcap cap_net_raw+ep hostsweep-worker) or a group inside
net.ipv4.ping_group_range; without any, hostsweep says so and exits 4.

--compare FILE reads an earlier sweep's --json or --xml output: every row
gains a change (new, gone, moved, renamed, mac-changed), gone hosts come
last. A host is known by its globally administered MAC address, else by
address and name. --watch sweeps again every INTERVAL and prints each change once.

Exit status: 0 a host was found (named, with --names-only), 1 none was,
2 something changed (--compare), 3 usage error, 4 system error (no right to
send echo requests, a worker that cannot run, a state file that cannot be
written), 5 the --compare or --state file is unreadable, corrupt or from a
newer hostsweep, 130 interrupted.)";

constexpr std::chrono::seconds kLongestInterval{24 * 3600};

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

// What only makes sense with another option, and what --watch leaves out.
std::optional<std::string> ChangeOptionClash(const Options& options, bool csv) {
  if (options.changesOnly && options.compareFile.empty()) {
    return "--changes-only needs --compare";
  }
  if (!options.stateFile.empty() && !options.watchInterval) {
    return "--state needs --watch";
  }
  if (options.watchInterval && (csv || !options.compareFile.empty() || !options.xmlFile.empty() ||
                                !options.htmlFile.empty())) {
    return "--watch prints changes as lines (or JSON lines with --json): it takes no --csv, "
           "--xml, --html or --compare";
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::chrono::seconds> ParseInterval(std::string_view text) {
  constexpr std::size_t kMostDigits = 6;
  if (text.size() < 2 || text.size() > kMostDigits + 1) {
    return std::nullopt;
  }
  const std::string_view digits = text.substr(0, text.size() - 1);
  if (digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  constexpr std::string_view kUnits = "smh";
  const std::size_t unit = kUnits.find(text.back());
  if (unit == std::string_view::npos) {
    return std::nullopt;
  }
  constexpr std::array<long long, 3> kSecondsPer{1, 60, 3600};
  const std::chrono::seconds interval(std::stoll(std::string(digits)) * kSecondsPer.at(unit));
  if (interval.count() < 1 || interval > kLongestInterval) {
    return std::nullopt;
  }
  return interval;
}

// One CLI11 call per option, read as the list --help prints: the one function
// of the controller longer than a screen.
// NOLINTNEXTLINE(readability-function-size)
ParsedCommandLine ParseCommandLine(int argc, const char* const* argv, std::ostream& out,
                                   std::ostream& err) {
  Options options;
  CLI::App app{
      "Sweeps IPv4 addresses: alive, round-trip time, TTL, host name, MAC address and maker.",
      "hostsweep"};
  app.footer(kFooter);
  app.set_version_flag("--version", "hostsweep " HOSTSWEEP_VERSION
                                    "\nCopyright (c) 2026 The hostsweep developers"
                                    "\nLicence: MIT <https://opensource.org/licenses/MIT>");
  std::vector<std::string> targets;
  std::vector<std::string> files;
  app.add_option("targets", targets, "Addresses, ranges or CIDR blocks");
  app.add_flag("-l,--localnet", options.localNetworks,
               "Sweep every IPv4 network this machine is directly connected to");
  // One file per -f: the targets that follow it are targets, not more files.
  auto* fileOption =
      app.add_option("-f,--file", files,
                     "Read targets from FILE, one per line, # comments; - for standard input")
          ->allow_extra_args(false);
  bool csv = false;
  bool json = false;
  auto* csvFlag = app.add_flag("--csv", csv, "CSV with a header line");
  app.add_flag("--json", json, "One JSON object per address per line")->excludes(csvFlag);
  app.add_option("--xml", options.xmlFile,
                 "Also write nmap's XML output to FILE (or -oX FILE), as the sweep goes; - for "
                 "standard output instead of the table")
      ->type_name("FILE");
  app.add_option("--html", options.htmlFile,
                 "Also write an HTML page (address grid, sortable table) to FILE; - for standard "
                 "output instead of the table")
      ->type_name("FILE");
  auto* alive =
      app.add_flag("--alive", options.foundOnly, "Show only the hosts found (alive or silent)");
  app.add_flag("--all", options.allAddresses,
               "Show every address in the table on a terminal too, not only the hosts found")
      ->excludes(alive);
  app.add_flag("--names-only", options.namesOnly,
               "Only look up each address's host name; no echo request is sent")
      ->excludes(alive);
  bool noExtraNames = false;
  app.add_flag("--no-extra-names", noExtraNames,
               "Names from reverse DNS only: do not ask unnamed hosts for their NetBIOS and "
               "mDNS names");
  auto* quiet = app.add_flag("-q,--quiet", options.quiet, "No progress line");
  app.add_flag("-v,--verbose", options.verbose, "Report ignored reports and ended workers")
      ->excludes(quiet);
  app.add_option("-j,--jobs", options.jobs, "Worker chains running at once")
      ->check(CLI::Range(std::size_t{1}, kMostJobs))
      ->capture_default_str();
  app.add_option("--batch", options.batchSize,
                 "Addresses per worker (1 to 3; default chosen from the target count and -j)")
      ->check(CLI::Range(1, 3));
  app.add_option("--pause", options.pause, "The workers' pause count")
      ->check(CLI::Range(0U, kMostPause))
      ->capture_default_str();
  bool noArp = false;
  app.add_flag("--no-arp", noArp,
               "Send no ARP requests of our own: every address takes the echo path");
  app.add_option("--rate", options.arpRate, "ARP requests per second, retries included")
      ->check(CLI::Range(1U, kMostArpRate))
      ->capture_default_str();
  app.add_option("--arp-tries", options.arpTries, "ARP requests per address at most")
      ->check(CLI::Range(1, kMostArpTries))
      ->capture_default_str();
  app.add_flag("--ipv6", options.ipv6,
               "Also show each device's IPv6 addresses, asked of all IPv6 nodes on the swept "
               "links (Linux)")
      ->excludes("--names-only");
  app.add_option(
      "--worker", options.worker,
      "The worker program (default: hostsweep-worker beside this program, else the installed one)");
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
                 "Keep what --watch knows (hosts, first and last seen) in FILE across restarts")
      ->type_name("FILE");
  // nmap's spelling of the XML option, which CLI11 would read as -o X.
  std::vector<const char*> arguments(argv, argv + argc);
  for (auto& argument : arguments) {
    argument = std::string_view(argument) == "-oX" ? "--xml" : argument;
  }
  try {
    app.parse(argc, arguments.data());
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error, out, err);
    return status == 0 ? Flushed(out, err) : ParsedCommandLine{std::nullopt, kExitUsage};
  }
  options.targets = InOrder(app, fileOption, targets, files);
  if (options.targets.empty() && !options.localNetworks) {
    err << "hostsweep: no targets given\nRun with --help for more information.\n";
    return {std::nullopt, kExitUsage};
  }
  if (!interval.empty()) {
    options.watchInterval = ParseInterval(interval);
    if (!options.watchInterval) {
      err << "hostsweep: --watch: not an interval from 1s to 24h: " << interval
          << " (a number and s, m or h: 30s, 5m, 1h)\n";
      return {std::nullopt, kExitUsage};
    }
  }
  auto problem = StandardOutputClash(options, csv || json);
  if (!problem) {
    problem = ChangeOptionClash(options, csv);
  }
  if (problem) {
    err << "hostsweep: " << *problem << "\nRun with --help for more information.\n";
    return {std::nullopt, kExitUsage};
  }
  options.format = csv ? Format::kCsv : json ? Format::kJson : Format::kTable;
  options.extraNames = !noExtraNames;
  options.linkPass = !noArp && !options.namesOnly;
  return {options, 0};
}

}  // namespace hostsweep::controller
