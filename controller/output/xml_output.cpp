#include "controller/output/xml_output.h"

#include <algorithm>
#include <iomanip>
#include <sstream>
#include <string_view>
#include <utility>

#include "controller/base/address.h"
#include "controller/base/time_text.h"
#include "controller/output/markup.h"
#include "controller/output/row_fields.h"

namespace hostsweep::controller {
namespace {

struct Status {
  std::string_view state;   // up, down or unknown, as nmap's states
  std::string_view reason;  // how that was seen
  int reasonTtl = 0;
};

Status StatusOf(const HostView& result) {
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
    case State::kUnchecked:
      // Its echo requests may never have left: nothing was learnt of it.
      return {"unknown", "neighbour-table-full"};
    case State::kNoReport:
    case State::kPending:
      break;
  }
  return {"unknown", "no-report"};
}

// Both attributes nmap gives a time: seconds since the epoch, and as text.
std::string TimeAttributes(std::string_view seconds, std::string_view text,
                           std::chrono::system_clock::time_point when) {
  return MarkupAttribute(seconds, std::to_string(EpochSeconds(when))) +
         MarkupAttribute(text, LocalTimeText(when));
}

// One thing the host script tells: a line of its output, and its elements.
struct ScriptPart {
  std::string line{};  // empty: nothing to tell
  std::string elements{};
};

// The NetBIOS name and workgroup where importers look for them: the
// elements nmap's own NetBIOS query writes.
ScriptPart NetbiosPart(const HostView& result) {
  ScriptPart part;
  if (result.nameSource == NameSource::kNetbios) {
    part.line = "NetBIOS name: " + result.name;
    part.elements += KeyedElement("server_name", result.name);
  }
  if (!result.workgroup.empty()) {
    part.line += std::string(part.line.empty() ? "" : ", ") + "Workgroup: " + result.workgroup;
    part.elements += KeyedElement("workgroup", result.workgroup);
  }
  return part;
}

// What a comparison with an earlier sweep found.
ScriptPart ChangePart(const HostView& result) {
  if (!result.change || result.change->change == Change::kNone) {
    return {};
  }
  const std::string change(ChangeText(result.change->change));
  const std::string& previous = result.change->previous;
  return {.line = previous.empty() ? change : change + ", was " + previous,
          .elements = ScriptElements(script_table::kChange, result)};
}

// What the user's inventory (--known) says of a host found or a device it
// knows; a dead address is no device.
ScriptPart KnownPart(const HostView& result) {
  if (!result.known || (!result.known->known && !IsFound(result.state))) {
    return {};
  }
  const KnownFacts& known = *result.known;
  ScriptPart part{.line = known.known ? "known device" : "unknown device",
                  .elements = ScriptElements(script_table::kKnown, result)};
  for (const auto& [key, value] : {std::pair{"alias", &known.alias}, {"owner", &known.owner}}) {
    if (!value->empty()) {
      part.line += std::string(", ") + key + ": " + *value;
    }
  }
  return part;
}

// What the device said it is, where nmap's OS detection puts a device's
// type: the model as the match's name (the type when no model is known), the
// type and make as its class. Nothing said what system it runs: the family
// is left empty rather than guessed.
std::string OsElement(const DeviceFacts& device) {
  if (device.type.empty() && device.model.empty()) {
    return {};
  }
  std::string osclass = "<osclass";
  if (!device.type.empty()) {
    osclass += MarkupAttribute("type", device.type);
  }
  osclass += MarkupAttribute("vendor", device.make) + MarkupAttribute("osfamily", "") +
             MarkupAttribute("accuracy", "100") + "/>";
  return "<os><osmatch" +
         MarkupAttribute("name", device.model.empty() ? device.type : device.model) +
         MarkupAttribute("accuracy", "100") + MarkupAttribute("line", "0") + ">" + osclass +
         "</osmatch></os>\n";
}

// What the device said it is, whole, with the DNS-SD services it offers:
// nmap's stylesheet shows a script's output, and a comparison reads the type
// and model back from its elements.
ScriptPart DevicePart(const HostView& result) {
  const DeviceFacts& device = result.device;
  if (device == DeviceFacts{}) {
    return {};
  }
  ScriptPart part{.line = device.type.empty() ? "type unknown" : device.type,
                  .elements = ScriptElements(script_table::kDevice, result)};
  const std::string model = MakeAndModel(device);
  if (!model.empty()) {
    part.line += " (" + model + ")";
  }
  std::string services;
  for (const auto& service : device.services) {
    services += (services.empty() ? "" : " ") + service;
  }
  if (!services.empty()) {
    part.line += "; services: " + services;
  }
  return part;
}

// Debian's ndiff sorts a host's scripts and cannot compare two: each host
// has one host script. It is nmap's nbstat where the host gave a NetBIOS name
// or workgroup, their elements where importers look for them, else our own;
// each other part is a line of its output and a table of its elements, keyed
// by the host script it was before them.
std::string HostScript(const HostView& result) {
  const ScriptPart netbios = NetbiosPart(result);
  std::string output = MarkupText(netbios.line);
  std::string elements = netbios.elements;
  for (const auto& [key, part] : {std::pair{script_table::kDevice, DevicePart(result)},
                                  {script_table::kChange, ChangePart(result)},
                                  {script_table::kKnown, KnownPart(result)}}) {
    if (!part.line.empty()) {
      output += (output.empty() ? "" : "&#10;") + MarkupText(part.line);
      elements += "<table" + MarkupAttribute("key", key) + ">" + part.elements + "</table>";
    }
  }
  if (output.empty()) {
    return {};
  }
  return "<hostscript><script" +
         MarkupAttribute("id", netbios.line.empty() ? "hostsweep" : "nbstat") + R"( output=")" +
         output + R"(">)" + elements + "</script></hostscript>\n";
}

// One round trip is all there is: its variation and time-out follow RFC
// 6298's first measurement, the time-out no shorter than nmap's least.
std::string Times(long roundTripMs) {
  constexpr long kMicroseconds = 1000;
  constexpr long kLeastTimeout = 100000;
  const long smoothed = roundTripMs * kMicroseconds;
  const long variation = smoothed / 2;
  const long timeout = std::max(smoothed + 4 * variation, kLeastTimeout);
  return "<times" + MarkupAttribute("srtt", std::to_string(smoothed)) +
         MarkupAttribute("rttvar", std::to_string(variation)) +
         MarkupAttribute("to", std::to_string(timeout)) + "/>\n";
}

std::string AddressElement(const std::string& address, std::string_view type) {
  return "<address" + MarkupAttribute("addr", address) + MarkupAttribute("addrtype", type) + "/>\n";
}

std::string HostElement(const HostView& result) {
  const Status status = StatusOf(result);
  std::string host = "<host><status" + MarkupAttribute("state", status.state) +
                     MarkupAttribute("reason", status.reason) +
                     MarkupAttribute("reason_ttl", std::to_string(status.reasonTtl)) + "/>\n" +
                     AddressElement(AddressText(result), result.ipv6Only ? "ipv6" : "ipv4");
  if (result.mac) {
    // As nmap writes it: ndiff and importers compare it with nmap's own files.
    host += "<address" + MarkupAttribute("addr", FormatNmapMac(*result.mac)) +
            MarkupAttribute("addrtype", "mac");
    if (!result.vendor.empty()) {
      host += MarkupAttribute("vendor", result.vendor);
    }
    host += "/>\n";
  }
  // A device heard over IPv6 alone has its first address as the host's own.
  for (std::size_t i = result.ipv6Only ? 1 : 0; i < result.ipv6.size(); ++i) {
    host += AddressElement(result.ipv6[i], "ipv6");
  }
  host += "<hostnames>\n";
  if (!result.name.empty()) {
    host += "<hostname" + MarkupAttribute("name", result.name) +
            MarkupAttribute("type", result.nameSource == NameSource::kDns ? "PTR" : "user") +
            "/>\n";
  }
  // The user's own name for the device, after the one it answers to: a
  // reader that takes the first name takes the device's.
  if (result.known && !result.known->alias.empty()) {
    host += "<hostname" + MarkupAttribute("name", result.known->alias) +
            MarkupAttribute("type", "user") + "/>\n";
  }
  host += "</hostnames>\n" + OsElement(result.device) + HostScript(result);
  if (result.roundTripMs) {
    host += Times(*result.roundTripMs);
  }
  return host + "</host>\n";
}

class XmlWriter : public ResultWriter {
 public:
  XmlWriter(std::ostream& out, SweepRun run) : out_(out), run_(std::move(run)) {
    out_ << R"(<?xml version="1.0" encoding="UTF-8"?>)"
         << "\n<!DOCTYPE nmaprun>\n<nmaprun" << MarkupAttribute("scanner", "hostsweep")
         << MarkupAttribute("args", run_.commandLine)
         << TimeAttributes("start", "startstr", run_.start)
         << MarkupAttribute("version", HOSTSWEEP_VERSION)
         << MarkupAttribute("xmloutputversion", "1.05") << ">\n"
         << R"(<verbose level="0"/>)"
         << "\n"
         << R"(<debugging level="0"/>)"
         << "\n"
         << std::flush;
  }

  void Write(const HostView& result) override {
    Count(result);
    out_ << HostElement(result) << std::flush;
  }
  void Skip(const HostView& result) override { Count(result); }

  void Finish(SweepEnd end) override {
    const auto now = std::chrono::system_clock::now();
    std::ostringstream elapsed;
    elapsed << std::fixed << std::setprecision(2)
            << std::chrono::duration<double>(now - run_.start).count();
    const std::string summary = "hostsweep done: " + std::to_string(total_) + " IP addresses (" +
                                std::to_string(up_) + " hosts up) swept in " + elapsed.str() +
                                " seconds";
    out_ << "<runstats><finished" << TimeAttributes("time", "timestr", now)
         << MarkupAttribute("summary", summary) << MarkupAttribute("elapsed", elapsed.str());
    if (end == SweepEnd::kInterrupted) {
      out_ << MarkupAttribute("exit", "error")
           << MarkupAttribute("errormsg", "interrupted: " + std::to_string(total_) + " of " +
                                              std::to_string(run_.addressCount) +
                                              " addresses done");
    } else {
      out_ << MarkupAttribute("exit", "success");
    }
    out_ << "/><hosts" << MarkupAttribute("up", std::to_string(up_))
         << MarkupAttribute("down", std::to_string(down_))
         << MarkupAttribute("total", std::to_string(total_)) << "/>\n</runstats>\n</nmaprun>\n"
         << std::flush;
  }

 private:
  void Count(const HostView& result) {
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
