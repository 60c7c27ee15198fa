// What a device is, from what it says about itself: a table of rules, each
// naming the announcements it needs and the type, make or model they give.
// The table is data (device-rules.tsv, installed with the program), read
// once per run.
//
// A line: priority, conditions joined by " & ", type, make, model, tab
// separated; "-" for a field the rule does not give, "$" for the value that
// met its first condition. A condition is "source:key=pattern", the pattern
// matching the whole value, ASCII case aside, "*" standing for any run of
// characters. For each of type, make and model the firing rule of the highest
// priority gives it (the earlier line on a tie), so a rule that names the
// device outright outranks one that guesses from a service it happens to
// offer. Evidence the rules may read: mDNS service types and TXT keys, UPnP
// description fields, NetBIOS name suffixes, and a DHCP client's vendor
// class ("dhcp:vendorClass", heard by a watch between sweeps). Never the MAC's maker, nor the
// TTL: nothing that is not the device's own word.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "controller/base/results.h"

namespace hostsweep::controller {

// One thing the device announced: "mdns:service" = "_ipp._tcp",
// "mdns:_ipp._tcp:ty" = "HP LaserJet 400", "ssdp:deviceType" = "urn:...",
// "netbios:suffix" = "20".
struct Announcement {
  std::string key;
  std::string value;
  bool operator==(const Announcement&) const = default;
};

class DeviceRules {
 public:
  // Throws UsageError naming the first line that is not a rule.
  static DeviceRules Parse(std::string_view table);

  // Type, make and model (and the type's source); empty where no rule fires.
  [[nodiscard]] DeviceFacts Apply(const std::vector<Announcement>& said) const;
  [[nodiscard]] std::size_t Size() const { return rules_.size(); }

 private:
  struct Condition {
    std::string key;
    std::string pattern;
  };
  struct Rule {
    int priority;
    std::vector<Condition> conditions;
    std::string type;
    std::string make;
    std::string model;
  };

  std::vector<Rule> rules_;
};

// The rules in `path`; nothing, said on `diagnostics`, when the file is
// missing or not a table of rules: the sweep then asks no device anything.
std::optional<DeviceRules> ReadDeviceRules(const std::filesystem::path& path,
                                           std::ostream& diagnostics);

// Every "*" in `pattern` any run of characters, the rest ASCII case aside.
bool MatchesPattern(std::string_view value, std::string_view pattern);

}  // namespace hostsweep::controller
