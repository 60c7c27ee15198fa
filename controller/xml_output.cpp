#include "controller/xml_output.h"

#include <algorithm>
#include <iomanip>
#include <sstream>
#include <string_view>
#include <utility>

#include "controller/markup.h"
#include "controller/targets.h"

namespace hostsweep::controller {
namespace {

struct Status {
  std::string_view state;   // up, down or unknown, as nmap's states
  std::string_view reason;  // how that was seen
  int reasonTtl = 0;
};

Status StatusOf(const HostResult& result) {
  switch (result.state) {
    case State::kAlive:
      return {"up", "echo-reply", result.ttl.value_or(0)};
    case State::kSilent:
      // Seen only on the link: its neighbour entry was confirmed.
      return {"up", "arp-response"};
    case State::kDead:
      return {"down", "no-response"};
    case State::kNamed:
    case State::kUnnamed:
      // Nothing was sent to the host: a name-only sweep cannot tell.
      return {"unknown", "name-lookup"};
    case State::kNoReport:
    case State::kPending:
      break;
  }
  return {"unknown", "no-report"};
}

// Both attributes nmap gives a time: seconds since the epoch, and as text.
std::string TimeAttributes(std::string_view seconds, std::string_view text,
                           std::chrono::system_clock::time_point when) {
  return std::string(seconds) + "=\"" + std::to_string(EpochSeconds(when)) + "\" " +
         std::string(text) + "=\"" + LocalTimeText(when) + "\"";
}

// nmap writes MAC addresses with colons.
std::string NmapMac(std::string mac) {
  std::replace(mac.begin(), mac.end(), '-', ':');
  return mac;
}

// The NetBIOS name and workgroup where importers look for them: the host
// script nmap's own NetBIOS query fills in.
std::string NetbiosScript(const HostResult& result) {
  const bool netbiosName = result.nameSource == NameSource::kNetbios;
  if (!netbiosName && result.workgroup.empty()) {
    return {};
  }
  std::string output;
  std::string elements;
  if (netbiosName) {
    output = "NetBIOS name: " + result.name;
    elements += "<elem key=\"server_name\">" + MarkupText(result.name) + "</elem>";
  }
  if (!result.workgroup.empty()) {
    output += std::string(output.empty() ? "" : ", ") + "Workgroup: " + result.workgroup;
    elements += "<elem key=\"workgroup\">" + MarkupText(result.workgroup) + "</elem>";
  }
  return "<hostscript><script id=\"nbstat\" output=\"" + MarkupText(output) + "\">" + elements +
         "</script></hostscript>\n";
}

// One round trip is all there is: its variation and time-out follow RFC
// 6298's first measurement, the time-out no shorter than nmap's least.
std::string Times(long roundTripMs) {
  constexpr long kMicroseconds = 1000;
  constexpr long kLeastTimeout = 100000;
  const long smoothed = roundTripMs * kMicroseconds;
  const long variation = smoothed / 2;
  return "<times srtt=\"" + std::to_string(smoothed) + "\" rttvar=\"" + std::to_string(variation) +
         "\" to=\"" + std::to_string(std::max(smoothed + 4 * variation, kLeastTimeout)) + "\"/>\n";
}

std::string HostElement(const HostResult& result) {
  const Status status = StatusOf(result);
  std::string host = "<host><status state=\"" + std::string(status.state) + "\" reason=\"" +
                     std::string(status.reason) + "\" reason_ttl=\"" +
                     std::to_string(status.reasonTtl) + "\"/>\n<address addr=\"" +
                     FormatAddress(result.address) + "\" addrtype=\"ipv4\"/>\n";
  if (!result.mac.empty()) {
    host += "<address addr=\"" + MarkupText(NmapMac(result.mac)) + "\" addrtype=\"mac\"";
    if (!result.vendor.empty()) {
      host += " vendor=\"" + MarkupText(result.vendor) + "\"";
    }
    host += "/>\n";
  }
  host += "<hostnames>\n";
  if (!result.name.empty()) {
    host += "<hostname name=\"" + MarkupText(result.name) + "\" type=\"" +
            (result.nameSource == NameSource::kDns ? "PTR" : "user") + "\"/>\n";
  }
  host += "</hostnames>\n" + NetbiosScript(result);
  if (result.roundTripMs) {
    host += Times(*result.roundTripMs);
  }
  return host + "</host>\n";
}

class XmlWriter : public ResultWriter {
 public:
  XmlWriter(std::ostream& out, SweepRun run) : out_(out), run_(std::move(run)) {
    out_ << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE nmaprun>\n"
         << "<nmaprun scanner=\"hostsweep\" args=\"" << MarkupText(run_.commandLine) << "\" "
         << TimeAttributes("start", "startstr", run_.start)
         << " version=\"" HOSTSWEEP_VERSION "\" xmloutputversion=\"1.05\">\n"
         << "<verbose level=\"0\"/>\n<debugging level=\"0\"/>\n"
         << std::flush;
  }

  void Write(const HostResult& result) override {
    Count(result);
    out_ << HostElement(result) << std::flush;
  }
  void Skip(const HostResult& result) override { Count(result); }

  void Finish(SweepEnd end) override {
    const auto now = std::chrono::system_clock::now();
    std::ostringstream elapsed;
    elapsed << std::fixed << std::setprecision(2)
            << std::chrono::duration<double>(now - run_.start).count();
    std::ostringstream summary;
    summary << "hostsweep done: " << total_ << " IP addresses (" << up_ << " hosts up) swept in "
            << elapsed.str() << " seconds";
    out_ << "<runstats><finished " << TimeAttributes("time", "timestr", now) << " summary=\""
         << summary.str() << "\" elapsed=\"" << elapsed.str() << "\" exit=\"";
    if (end == SweepEnd::kInterrupted) {
      out_ << "error\" errormsg=\"interrupted: " << total_ << " of " << run_.addressCount
           << " addresses done\"";
    } else {
      out_ << "success\"";
    }
    out_ << "/><hosts up=\"" << up_ << "\" down=\"" << down_ << "\" total=\"" << total_
         << "\"/>\n</runstats>\n</nmaprun>\n"
         << std::flush;
  }

 private:
  void Count(const HostResult& result) {
    const std::string_view state = StatusOf(result).state;
    up_ += state == "up" ? 1 : 0;
    down_ += state == "down" ? 1 : 0;
    ++total_;
  }

  std::ostream& out_;
  SweepRun run_;
  std::size_t up_ = 0;
  std::size_t down_ = 0;
  std::size_t total_ = 0;
};

}  // namespace

std::unique_ptr<ResultWriter> MakeXmlWriter(std::ostream& out, SweepRun run) {
  return std::make_unique<XmlWriter>(out, std::move(run));
}

}  // namespace hostsweep::controller
