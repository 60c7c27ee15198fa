// dnsmasq's lease file, one lease a line: "EXPIRY MAC ADDRESS NAME CLIENT-ID",
// the expiry in seconds since the epoch (0: never), '*' for no name. With
// DHCPv6 a "duid" line and the IPv6 leases follow, an IAID where the MAC is.
#include "controller/leases/lease_formats.h"

namespace hostsweep::controller::lease_formats {
namespace {

constexpr std::size_t kExpiry = 0;
constexpr std::size_t kMac = 1;
constexpr std::size_t kAddress = 2;
constexpr std::size_t kName = 3;
// Versions before the client ID was kept write four fields.
constexpr std::size_t kFewestFields = 4;
constexpr std::size_t kMostFields = 5;

// Another hardware type than Ethernet is written "TYPE-" before its bytes
// ("32-..." for InfiniBand), none as '*': the lease holds, without a MAC.
std::optional<MacAddress> MacOf(std::string_view text, std::size_t index) {
  constexpr std::size_t kTypeEnd = 2;
  const bool otherHardware =
      text.size() > kTypeEnd && text[kTypeEnd] == '-' && text.find(':') != std::string_view::npos;
  if (text == "*" || otherHardware) {
    return std::nullopt;
  }
  return LeaseMac(text, index);
}

}  // namespace

std::vector<Lease> ReadDnsmasq(const Lines& lines) {
  std::vector<Lease> leases;
  for (std::size_t index = 0; index < lines.size(); ++index) {
    const auto fields = Words(lines[index]);
    if (fields.empty() || fields.front() == "duid") {
      continue;
    }
    if (fields.size() < kFewestFields || fields.size() > kMostFields) {
      throw LeaseFileError(index + 1, std::to_string(fields.size()) + " fields, not 5");
    }
    const std::int64_t expiry = LeaseNumber(fields[kExpiry], "expiry time", index);
    if (IsIpv6Text(fields[kAddress])) {
      continue;
    }
    Lease lease{.address = LeaseAddress(fields[kAddress], index),
                .mac = MacOf(fields[kMac], index),
                .hostName = fields[kName] == "*" ? std::string{} : HostNameOf(fields[kName])};
    if (expiry != 0) {
      lease.ends = expiry;
    }
    leases.push_back(std::move(lease));
  }
  return leases;
}

}  // namespace hostsweep::controller::lease_formats
